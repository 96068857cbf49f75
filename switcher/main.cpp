#include "switcher/switcher_entry.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    return RunSwitcher(instance);
}
