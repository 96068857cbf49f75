#include "tests/support/test_support.h"

#include "common/ownership.h"
#include "common/registry_names.h"
#include "common/winservice.h"

#include <fstream>
#include <iterator>

namespace obrin::test {

std::wstring ProgramDirectory()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\') + 1);
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs)
{
    ProcessResult result;
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job)
        SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));

    std::wstring mutableLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        ProgramDirectory().c_str(), &startup, &info)) {
        result.startError = GetLastError();
        return result;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    if (job)
        AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    result.started = true;
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 0xDEAD);
        WaitForSingleObject(process.get(), 5000);
        return result;
    }
    result.finished = true;
    GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs)
{
    std::wstring commandLine = L"\"" + ProgramDirectory() + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    return RunProcess(commandLine, timeoutMs);
}

std::wstring LogPath()
{
    return ProgramDirectory() + L"DUALOSLOG.log";
}

std::string ReadLog()
{
    // A writer holds the file without sharing for the moment of one message.
    for (int attempt = 0; attempt < 50; ++attempt) {
        UniqueFileHandle file(CreateFileW(LogPath().c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            std::string text;
            char buffer[4096];
            DWORD read = 0;
            while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
                text.append(buffer, read);
            return text;
        }
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return {};
        Sleep(20);
    }
    return {};
}

LogTail::LogTail() : m_start(ReadLog().size()) {}

std::string LogTail::NewText() const
{
    const std::string all = ReadLog();
    return all.size() > m_start ? all.substr(m_start) : std::string();
}

std::vector<std::string> LogTail::NewLines() const
{
    std::vector<std::string> lines;
    const std::string text = NewText();
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) {
            lines.push_back(text.substr(begin));
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

size_t CountLinesWith(const std::vector<std::string>& lines, const std::string& fragment)
{
    size_t count = 0;
    for (const std::string& line : lines)
        count += line.find(fragment) != std::string::npos ? 1 : 0;
    return count;
}

namespace {

UniqueServiceHandle OpenManager()
{
    return UniqueServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

}  // namespace

std::optional<DWORD> RawServiceState()
{
    UniqueServiceHandle manager = OpenManager();
    UniqueServiceHandle service(OpenServiceW(manager.get(), OBRIN_SERVICE_NAME, SERVICE_QUERY_STATUS));
    if (!service)
        return std::nullopt;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed))
        return std::nullopt;
    return status.dwCurrentState;
}

std::wstring RawServiceBinaryPath()
{
    UniqueServiceHandle manager = OpenManager();
    UniqueServiceHandle service(OpenServiceW(manager.get(), OBRIN_SERVICE_NAME, SERVICE_QUERY_CONFIG));
    if (!service)
        return {};
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, needed, &needed) || !config->lpBinaryPathName)
        return {};
    return config->lpBinaryPathName;
}

bool WaitForRawState(DWORD state, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (RawServiceState() == state)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
}

bool RemoveServiceIfPresent(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    {
        UniqueServiceHandle manager = OpenManager();
        UniqueServiceHandle service(OpenServiceW(manager.get(), OBRIN_SERVICE_NAME, SERVICE_ALL_ACCESS));
        if (!service)
            return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        // A starting service takes no stop control yet: retry until it does.
        while (RawServiceState() != SERVICE_STOPPED && GetTickCount() - start <= timeoutMs) {
            SERVICE_STATUS status = {};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            Sleep(100);
        }
        DeleteService(service.get());
    }
    while (RawServiceState().has_value() || !RawServiceBinaryPath().empty()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}

std::optional<DWORD> ReadShowMsg()
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

void DeleteShowMsg()
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE);
}

}  // namespace obrin::test
