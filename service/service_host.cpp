#include "service/service_host.h"

#include "common/log.h"
#include "common/ownership.h"
#include "common/registry_names.h"
#include "common/winservice.h"
#include "service/service_init.h"

namespace {

constexpr DWORD PENDING_WAIT_HINT_MS = 30000;
constexpr DWORD FIRST_USER_CONTROL = 128;
constexpr DWORD LAST_USER_CONTROL = 130;

SERVICE_STATUS g_status = {};
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
ServiceControlApi g_api = {};
ServiceWork g_work = {};
HANDLE g_stopEvent = nullptr;
DWORD g_checkpoint = 1;
// The handler's final STOPPED and the service main thread's can overlap; the
// lock keeps each report whole.
SRWLOCK g_reportLock = SRWLOCK_INIT;

bool IsPendingState(DWORD state) noexcept
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_CONTINUE_PENDING ||
           state == SERVICE_PAUSE_PENDING;
}

// The one place that reports status: pending states take the next checkpoint,
// all others report checkpoint 0. Exit codes are always 0.
void ReportStatus(DWORD state, DWORD controlsAccepted, DWORD waitHint) noexcept
{
    AcquireSRWLockExclusive(&g_reportLock);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = controlsAccepted;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwServiceSpecificExitCode = 0;
    g_status.dwCheckPoint = IsPendingState(state) ? g_checkpoint++ : 0;
    g_status.dwWaitHint = waitHint;
    SERVICE_STATUS report = g_status;
    ReleaseSRWLockExclusive(&g_reportLock);
    g_api.setStatus(g_statusHandle, &report);
}

void StoreShowMsg(DWORD value) noexcept
{
    // The switcher reads the value at its next start; a failed write leaves
    // the old setting, which is all the service could offer anyway.
    static_cast<void>(RegSetKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE, REG_DWORD,
                                      &value, sizeof(value)));
}

}  // namespace

ServiceControlApi SystemServiceControlApi() noexcept
{
    return {RegisterServiceCtrlHandlerExW, SetServiceStatus};
}

bool RunServiceDispatcher() noexcept
{
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(OBRIN_SERVICE_NAME), ServiceMain},
        {nullptr, nullptr},
    };
    if (StartServiceCtrlDispatcherW(table))
        return true;
    GetLog().Print(LOG_ERROR, "wmain", __LINE__, L"Failed to call StartServiceCtrlDispatcher [Err=%u].\n",
                   GetLastError());
    return false;
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    RunServiceMain(SystemServiceControlApi(), ServiceWork{ServiceInit, ServiceUninit});
}

void RunServiceMain(const ServiceControlApi& api, const ServiceWork& work) noexcept
{
    g_api = api;
    g_work = work;
    g_checkpoint = 1;
    g_statusHandle = api.registerHandler(OBRIN_SERVICE_NAME, HandlerEx, nullptr);
    if (!g_statusHandle) {
        GetLog().Print(LOG_ERROR, "ServiceMain", __LINE__, L"Failed to call RegisterServiceCtrlHandlerEx [Err=%u].\n",
                       GetLastError());
        return;
    }
    obrin::UniqueHandle stopEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!stopEvent) {
        GetLog().Print(LOG_ERROR, "ServiceMain", __LINE__, L"Failed to call CreateEvent [Err=%u].\n",
                       GetLastError());
        // Without the event nothing could ever stop the service: say it has
        // stopped rather than leave it starting for good.
        ReportStatus(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0);
        return;
    }
    g_stopEvent = stopEvent.get();

    ReportStatus(SERVICE_START_PENDING, 0, PENDING_WAIT_HINT_MS);
    if (work.init()) {
        ReportStatus(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0);
        WaitForSingleObject(g_stopEvent, INFINITE);
    } else {
        work.uninit(g_stopEvent);
    }
    g_stopEvent = nullptr;
    stopEvent.reset();
    ReportStatus(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0);
}

DWORD WINAPI HandlerEx(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        ReportStatus(SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, PENDING_WAIT_HINT_MS);
        g_work.uninit(g_stopEvent);
        ReportStatus(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0);
        return NO_ERROR;
    }
    if (control >= FIRST_USER_CONTROL && control <= LAST_USER_CONTROL) {
        StoreShowMsg(control - FIRST_USER_CONTROL);
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

SERVICE_STATUS& ServiceStatusRecord() noexcept
{
    return g_status;
}
