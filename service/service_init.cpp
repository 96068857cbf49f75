#include "service/service_init.h"

bool ServiceInit() noexcept
{
    return true;
}

void ServiceUninit(HANDLE stopEvent) noexcept
{
    SetEvent(stopEvent);
}
