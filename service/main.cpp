#include "common/log.h"

#include <windows.h>

int wmain()
{
    GetLog().Print(LOG_ERROR, "wmain", __LINE__, L"The service is not built yet.\n");
    return 1;
}
