#include "common/winservice.h"

#include "common/log.h"

#include <string>

using obrin::UniqueServiceHandle;

namespace {

constexpr DWORD MANAGER_ACCESS_CREATE = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
constexpr DWORD SERVICE_ACCESS_DELETE = DELETE | SERVICE_QUERY_STATUS;
constexpr DWORD SERVICE_ACCESS_START = SERVICE_QUERY_STATUS | SERVICE_START;
constexpr DWORD SERVICE_ACCESS_STOP = SERVICE_QUERY_STATUS | SERVICE_STOP;

const wchar_t* ControlFailureFormat(DWORD code) noexcept
{
    switch (code) {
    case SERVICE_CONTROL_STOP: return L"Failed to call ControlService:Stop [Err=%u]\n";
    case SERVICE_CONTROL_PAUSE: return L"Failed to call ControlService:Pause [Err=%u]\n";
    case SERVICE_CONTROL_CONTINUE: return L"Failed to call ControlService:Continue [Err=%u]\n";
    case SERVICE_CONTROL_INTERROGATE: return L"Failed to call ControlService:Interrogate [Err=%u]\n";
    case SERVICE_CONTROL_SHUTDOWN: return L"Failed to call ControlService:Shutdown [Err=%u]\n";
    case SERVICE_CONTROL_PARAMCHANGE: return L"Failed to call ControlService:ParamChange [Err=%u]\n";
    case SERVICE_CONTROL_NETBINDADD: return L"Failed to call ControlService:NetBindAdd [Err=%u]\n";
    case SERVICE_CONTROL_NETBINDREMOVE: return L"Failed to call ControlService:NetBindRemove [Err=%u]\n";
    case SERVICE_CONTROL_NETBINDENABLE: return L"Failed to call ControlService:NetBindEnable [Err=%u]\n";
    case SERVICE_CONTROL_NETBINDDISABLE: return L"Failed to call ControlService:NetBindDisable [Err=%u]\n";
    case SERVICE_CONTROL_DEVICEEVENT: return L"Failed to call ControlService:DeviceEvent [Err=%u]\n";
    case SERVICE_CONTROL_HARDWAREPROFILECHANGE:
        return L"Failed to call ControlService:HardwareProfileChange [Err=%u]\n";
    case SERVICE_CONTROL_POWEREVENT: return L"Failed to call ControlService:PowerEvent [Err=%u]\n";
    case SERVICE_CONTROL_SESSIONCHANGE: return L"Failed to call ControlService:SessionChange [Err=%u]\n";
    case SERVICE_CONTROL_PRESHUTDOWN: return L"Failed to call ControlService:PreShutdown [Err=%u]\n";
    case SERVICE_CONTROL_TIMECHANGE: return L"Failed to call ControlService:TimeChange [Err=%u]\n";
    case SERVICE_CONTROL_TRIGGEREVENT: return L"Failed to call ControlService:TriggerEvent [Err=%u]\n";
    default: return nullptr;
    }
}

void CopyStatus(const SERVICE_STATUS_PROCESS& from, SERVICE_STATUS& to) noexcept
{
    to.dwServiceType = from.dwServiceType;
    to.dwCurrentState = from.dwCurrentState;
    to.dwControlsAccepted = from.dwControlsAccepted;
    to.dwWin32ExitCode = from.dwWin32ExitCode;
    to.dwServiceSpecificExitCode = from.dwServiceSpecificExitCode;
    to.dwCheckPoint = from.dwCheckPoint;
    to.dwWaitHint = from.dwWaitHint;
}

}  // namespace

UniqueServiceHandle CWinService::OpenWinService(DWORD access) noexcept
{
    m_manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!m_manager) {
        RecordLastError();
        GetLog().Print(LOG_ERROR, "CWinService::OpenWinService", __LINE__,
                       L"Fail to call OpenSCManager [Err=%u]\n", m_lastError);
        return {};
    }
    UniqueServiceHandle service(OpenServiceW(m_manager.get(), OBRIN_SERVICE_NAME, access));
    RecordLastError();
    if (service)
        return service;
    if (m_lastError != ERROR_SERVICE_DOES_NOT_EXIST)
        GetLog().Print(LOG_ERROR, "CWinService::OpenWinService", __LINE__,
                       L"Fail to call OpenService [Err=%u]\n", m_lastError);
    m_manager.reset();
    return {};
}

void CWinService::CloseWinService(UniqueServiceHandle& service) noexcept
{
    service.reset();
    m_manager.reset();
}

DWORD CWinService::WaitForState(SC_HANDLE service, DWORD pendingState, SERVICE_STATUS* status) noexcept
{
    const DWORD startTick = GetTickCount();
    // The latest status read; before any successful query only the caller's
    // wait hint is known, and no state.
    SERVICE_STATUS_PROCESS last = {};
    last.dwWaitHint = status ? status->dwWaitHint : DEFAULT_WAIT_LIMIT_MS;
    for (;;) {
        SERVICE_STATUS_PROCESS current = {};
        DWORD needed = 0;
        const BOOL queried = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&current),
                                                  sizeof(current), &needed);
        RecordLastError();
        if (queried) {
            last = current;
            if (last.dwCurrentState != pendingState)
                break;
        } else {
            GetLog().Print(LOG_ERROR, "CWinService::WaitForState", __LINE__,
                           L"Fail to call QueryServiceStatusEx [Err=%u]\n", m_lastError);
        }
        const DWORD limit = last.dwCurrentState == SERVICE_START_PENDING && last.dwWaitHint == 0
                                ? UNREPORTED_START_LIMIT_MS
                                : last.dwWaitHint;
        if (GetTickCount() - startTick > limit)
            break;
        Sleep(POLL_INTERVAL_MS);
    }
    if (status)
        CopyStatus(last, *status);
    return last.dwCurrentState;
}

bool CWinService::Create(const wchar_t* programPath) noexcept
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, MANAGER_ACCESS_CREATE));
    if (!manager) {
        RecordLastError();
        GetLog().Print(LOG_ERROR, "CWinService::Create", __LINE__, L"Fail to call OpenSCManager [Err=%u]\n",
                       m_lastError);
        return false;
    }
    std::wstring commandLine;
    try {
        commandLine = programPath ? programPath : L"";
        if (commandLine.find(L' ') != std::wstring::npos && commandLine.front() != L'"')
            commandLine = L'"' + commandLine + L'"';
    } catch (...) {
        m_lastError = ERROR_NOT_ENOUGH_MEMORY;
        GetLog().Print(LOG_ERROR, "CWinService::Create", __LINE__, L"Fail to call CreateService [Err=%u]\n",
                       m_lastError);
        return false;
    }
    UniqueServiceHandle service(CreateServiceW(manager.get(), OBRIN_SERVICE_NAME, OBRIN_SERVICE_DISPLAY_NAME,
                                               SERVICE_START, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                               SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                                               nullptr, nullptr, nullptr));
    RecordLastError();
    if (service)
        return true;
    if (m_lastError == ERROR_SERVICE_EXISTS) {
        m_lastError = 0;
        return true;
    }
    GetLog().Print(LOG_ERROR, "CWinService::Create", __LINE__, L"Fail to call CreateService [Err=%u]\n",
                   m_lastError);
    return false;
}

bool CWinService::Delete() noexcept
{
    UniqueServiceHandle service = OpenWinService(SERVICE_ACCESS_DELETE);
    if (!service)
        return false;
    const bool deleted = DeleteService(service.get()) != FALSE;
    RecordLastError();
    if (!deleted)
        GetLog().Print(LOG_ERROR, "CWinService::Delete", __LINE__, L"Fail to call DeleteService [Err=%u]\n",
                       m_lastError);
    CloseWinService(service);
    // The entry goes only when its last handle closes; give the manager a moment.
    Sleep(PAUSE_AFTER_DELETE_MS);
    return deleted;
}

bool CWinService::Start(SERVICE_STATUS* status) noexcept
{
    UniqueServiceHandle service = OpenWinService(SERVICE_ACCESS_START);
    if (!service)
        return false;
    DWORD state = WaitForState(service.get(), SERVICE_STOP_PENDING, status);
    if (state != SERVICE_RUNNING) {
        const bool requested = StartServiceW(service.get(), 0, nullptr) != FALSE;
        RecordLastError();
        // A start already under way (an auto-start service at boot) is waited
        // through as one of ours would be.
        if (requested || m_lastError == ERROR_SERVICE_ALREADY_RUNNING)
            state = WaitForState(service.get(), SERVICE_START_PENDING, status);
    }
    const bool running = state == SERVICE_RUNNING;
    if (!running)
        GetLog().Print(LOG_ERROR, "CWinService::Start", __LINE__, L"Fail to call StartService [Err=%u]\n",
                       GetLastError());
    CloseWinService(service);
    return running;
}

bool CWinService::Stop(SERVICE_STATUS* status) noexcept
{
    UniqueServiceHandle service = OpenWinService(SERVICE_ACCESS_STOP);
    if (!service)
        return false;
    DWORD state = WaitForState(service.get(), SERVICE_START_PENDING, status);
    if (state != SERVICE_STOPPED) {
        SERVICE_STATUS local = {};
        local.dwWaitHint = DEFAULT_WAIT_LIMIT_MS;
        SERVICE_STATUS* record = status ? status : &local;
        const bool requested = ControlService(service.get(), SERVICE_CONTROL_STOP, record) != FALSE;
        RecordLastError();
        const DWORD controlError = m_lastError;
        // A refused control leaves the service as it was, but a stop handler
        // that outlasts the manager's wait for its answer
        // (ERROR_SERVICE_REQUEST_TIMEOUT), or a process that ends before it
        // answers, is a stop under way all the same: the state decides.
        state = WaitForState(service.get(), SERVICE_STOP_PENDING, record);
        if (!requested && state != SERVICE_STOPPED)
            m_lastError = controlError;
    }
    const bool stopped = state == SERVICE_STOPPED;
    if (!stopped)
        GetLog().Print(LOG_ERROR, "CWinService::Stop", __LINE__, L"Fail to call ControlService:Stop [Err=%u]\n",
                       m_lastError);
    CloseWinService(service);
    return stopped;
}

bool CWinService::Control(DWORD code) noexcept
{
    UniqueServiceHandle service = OpenWinService(SERVICE_USER_DEFINED_CONTROL);
    if (!service)
        return false;
    SERVICE_STATUS record = {};
    const bool delivered = ControlService(service.get(), code, &record) != FALSE;
    RecordLastError();
    if (!delivered) {
        if (const wchar_t* format = ControlFailureFormat(code))
            GetLog().Print(LOG_ERROR, "CWinService::Control", __LINE__, format, m_lastError);
        else
            GetLog().Print(LOG_ERROR, "CWinService::Control", __LINE__,
                           L"Failed to call ControlService:Unknown(%u) [Err=%u]\n", code, m_lastError);
    }
    CloseWinService(service);
    return delivered;
}

DWORD CWinService::QueryState() noexcept
{
    UniqueServiceHandle service = OpenWinService(SERVICE_QUERY_STATUS);
    if (!service)
        return 0;
    SERVICE_STATUS_PROCESS current = {};
    DWORD needed = 0;
    const bool queried = QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                              reinterpret_cast<BYTE*>(&current), sizeof(current), &needed) != FALSE;
    RecordLastError();
    CloseWinService(service);
    return queried ? current.dwCurrentState : 0;
}

CWinService& GetWinService() noexcept
{
    static CWinService instance;
    return instance;
}
