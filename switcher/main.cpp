#include "common/log.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    GetLog().Print(LOG_ERROR, "wWinMain", __LINE__, L"The switcher is not built yet.\n");
    return 1;
}
