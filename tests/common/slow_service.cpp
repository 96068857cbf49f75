// A service for testing the service controller: it registers as OBRINSERVICE
// and lingers in START_PENDING and STOP_PENDING for as long as the test asks
// in HKLM\SOFTWARE\ObrinTest\SlowService (StartDelayMs, StartWaitHintMs,
// StopDelayMs; HandlerDelayMs: how long the stop control's handler blocks
// before it lets the service stop; AnswerDelayMs: when set, the handler
// reports STOPPED itself, as OBRINSERVICE's does, and answers that much
// later; read at each start).
#include "common/ownership.h"
#include "common/winservice.h"

#include <windows.h>

namespace {

constexpr wchar_t SETTINGS_KEY[] = L"SOFTWARE\\ObrinTest\\SlowService";

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopRequested = nullptr;
DWORD g_checkpoint = 1;
bool g_refuseStop = false;
DWORD g_handlerDelayMs = 0;
DWORD g_answerDelayMs = 0;

DWORD ReadSetting(const wchar_t* name, DWORD fallback)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

void Report(DWORD state, DWORD waitHint)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING && !g_refuseStop ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = waitHint;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? g_checkpoint++ : 0;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control != SERVICE_CONTROL_STOP || g_refuseStop)
        return ERROR_CALL_NOT_IMPLEMENTED;
    Report(SERVICE_STOP_PENDING, 30000);
    Sleep(g_handlerDelayMs);
    SetEvent(g_stopRequested);
    if (g_answerDelayMs != 0) {
        Report(SERVICE_STOPPED, 0);
        Sleep(g_answerDelayMs);
    }
    return NO_ERROR;
}

void WINAPI SlowServiceMain(DWORD, LPWSTR*)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(OBRIN_SERVICE_NAME, Handler, nullptr);
    if (!g_statusHandle)
        return;
    obrin::UniqueHandle stopRequested(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stopRequested = stopRequested.get();
    g_refuseStop = ReadSetting(L"RefuseStop", 0) != 0;
    g_handlerDelayMs = ReadSetting(L"HandlerDelayMs", 0);
    g_answerDelayMs = ReadSetting(L"AnswerDelayMs", 0);
    Report(SERVICE_START_PENDING, ReadSetting(L"StartWaitHintMs", 30000));
    Sleep(ReadSetting(L"StartDelayMs", 0));
    Report(SERVICE_RUNNING, 0);
    WaitForSingleObject(g_stopRequested, INFINITE);
    Sleep(ReadSetting(L"StopDelayMs", 0));
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain()
{
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(OBRIN_SERVICE_NAME), SlowServiceMain},
        {nullptr, nullptr},
    };
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
