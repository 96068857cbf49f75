#include "service/firmware_requests.h"

#include "wmi/dualos_notify.h"

namespace {

constexpr DWORD CODE_READY = 0x11;
constexpr DWORD CODE_CAPABILITIES = 0x10;

}  // namespace

DWORD NotifyReady() noexcept
{
    DWORD answer = 1;
    static_cast<void>(DualOS_SendCommand(CODE_READY, answer));
    return answer;
}

DWORD QueryCapabilities() noexcept
{
    DWORD flags = 0;
    static_cast<void>(DualOS_SendCommand(CODE_CAPABILITIES, flags));
    return flags;
}
