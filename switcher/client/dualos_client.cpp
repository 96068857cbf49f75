#include "switcher/client/dualos_client.h"

#include "common/log.h"
#include "common/winservice.h"
#include "common/script/script_client.h"
#include "switcher/client/notify_script.h"

#include <new>
#include <string>

namespace {

// A failure that left no error code must not read as success.
HRESULT HresultFromError(DWORD error) noexcept
{
    return error == 0 ? E_FAIL : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

DWORD ServiceProcess() noexcept
{
    return obrin::script::RunningServiceProcessId(OBRIN_SERVICE_NAME);
}

HRESULT SendNotify(const ScriptServerEndpoint& endpoint, uint32_t code, uint32_t& returnValue)
{
    obrin::script::CScriptClient client;
    if (!client.Connect(endpoint.pipeName)) {
        const DWORD error = GetLastError();
        GetLog().Print(LOG_ERROR, "DualOS_SendCommand", __LINE__, L"Fail to open WMI Script Server [Err=%u].\n",
                       error);
        return HresultFromError(error);
    }
    // Any local program may add instances to the pipe; a script sent to one
    // of them would reach that program instead of the service.
    const DWORD server = client.ServerProcessId();
    const DWORD expected = endpoint.expectedServer();
    if (server == 0 || server != expected) {
        client.Close();
        GetLog().Print(LOG_ERROR, "DualOS_SendCommand", __LINE__,
                       L"WMI Script Server is process %u, not OBRINSERVICE (process %u); script not sent.\n", server,
                       expected);
        return HresultFromError(ERROR_ACCESS_DENIED);
    }
    if (!client.Send(NotifyScriptText(code))) {
        const DWORD error = GetLastError();
        GetLog().Print(LOG_ERROR, "DualOS_SendCommand", __LINE__, L"Fail to send WMI script [Err=%u].\n", error);
        return HresultFromError(error);
    }
    obrin::script::ScriptVariables reply;
    if (!client.Receive(reply)) {
        const DWORD error = GetLastError();
        GetLog().Print(LOG_ERROR, "DualOS_SendCommand", __LINE__, L"Fail to receive WMI script results [Err=%u].\n",
                       error);
        return HresultFromError(error);
    }
    client.Close();

    const NotifyReply outcome = ReadNotifyReply(reply);
    if (outcome.returnValue)
        returnValue = *outcome.returnValue;
    if (outcome.result != 0) {
        GetLog().Print(LOG_ERROR, "DualOS_SendCommand", __LINE__,
                       L"[HRESULT=0x%08x] [ActionIndex=%s] DualOSNotify(0x%08x, 0x%08x).\n",
                       static_cast<unsigned>(outcome.result), outcome.actionIndex.c_str(), code, 0u);
    } else {
        GetLog().Print(LOG_INFO, "DualOS_SendCommand", __LINE__, L"0x%08x = DualOSNotify(0x%08x, 0x%08x).\n",
                       returnValue, code, 0u);
    }
    return outcome.result;
}

}  // namespace

HRESULT DualOS_SendCommand(uint32_t code, uint32_t& returnValue) noexcept
{
    return SendCommandTo({obrin::script::kScriptPipeName, ServiceProcess}, code, returnValue);
}

HRESULT SendCommandTo(const ScriptServerEndpoint& endpoint, uint32_t code, uint32_t& returnValue) noexcept
{
    try {
        return SendNotify(endpoint, code, returnValue);
    } catch (const std::bad_alloc&) {
        GetLog().Print(LOG_ERROR, "DualOS_SendCommand", __LINE__, L"Fail to send WMI script [Err=%u].\n",
                       static_cast<unsigned>(ERROR_NOT_ENOUGH_MEMORY));
        return E_OUTOFMEMORY;
    }
}
