#include "common/script/script_client.h"

#include <cstring>
#include <new>

namespace obrin::script {

bool CScriptClient::Connect(const wchar_t* pipeName) noexcept
{
    Close();
    for (;;) {
        HANDLE pipe = CreateFileW(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            m_pipe.reset(pipe);
            return true;
        }
        if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(pipeName, kBusyPipeWaitMs))
            return false;
    }
}

bool CScriptClient::Send(std::wstring_view script) noexcept
{
    if (!m_pipe) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(m_pipe.get(), &mode, nullptr, nullptr))
        return false;
    DWORD written = 0;
    return WriteFile(m_pipe.get(), script.data(), static_cast<DWORD>(WireBytes(script)), &written, nullptr) != FALSE;
}

bool CScriptClient::Receive(ScriptVariables& results) noexcept
{
    if (!m_pipe) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    try {
        results.clear();
        wchar_t buffer[kPipeChunkChars] = {};
        std::size_t heldChars = 0;
        for (;;) {
            DWORD got = 0;
            const BOOL read = ReadFile(m_pipe.get(), buffer + heldChars,
                                       static_cast<DWORD>(kPipeChunkBytes - heldChars * sizeof(wchar_t)), &got, nullptr);
            const bool more = !read && GetLastError() == ERROR_MORE_DATA;
            if ((!read && !more) || got == 0)
                return true;
            const std::size_t chars = heldChars + got / sizeof(wchar_t);
            const ResultChunkParse parse = ParseResultChunk(std::wstring_view(buffer, chars), results, !more);
            if (!more || parse.ended)
                return true;
            heldChars = chars - parse.consumed;
            // One pair filling the whole buffer could never be completed.
            if (heldChars == kPipeChunkChars)
                return true;
            std::memmove(buffer, buffer + parse.consumed, heldChars * sizeof(wchar_t));
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return true;
    }
}

DWORD CScriptClient::ServerProcessId() const noexcept
{
    ULONG process = 0;
    if (!m_pipe) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return GetNamedPipeServerProcessId(m_pipe.get(), &process) ? process : 0;
}

DWORD RunningServiceProcessId(const wchar_t* serviceName) noexcept
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return 0;
    UniqueServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS));
    if (!service)
        return 0;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed))
        return 0;
    if (status.dwProcessId == 0)
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return status.dwProcessId;
}

}  // namespace obrin::script
