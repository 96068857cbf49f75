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

namespace {

// A job whose processes die when its handle closes, so that a child the time
// limit gave up on goes with the test. Empty where no job could be made.
UniqueHandle KillOnCloseJob()
{
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job)
        SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    return job;
}

// Starts the command line in ProgramDirectory(), suspended until it is in the
// job so that nothing it starts escapes it. Sets result.started, or
// result.startError.
UniqueHandle StartInJob(const std::wstring& commandLine, BOOL inheritHandles, STARTUPINFOW& startup, HANDLE job,
                        ProcessResult& result)
{
    std::wstring mutableLine = commandLine;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, inheritHandles, CREATE_SUSPENDED, nullptr,
                        ProgramDirectory().c_str(), &startup, &info)) {
        result.startError = GetLastError();
        return UniqueHandle();
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    if (job)
        AssignProcessToJobObject(job, process.get());
    ResumeThread(thread.get());
    result.started = true;
    return process;
}

}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs)
{
    ProcessResult result;
    const UniqueHandle job = KillOnCloseJob();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    const UniqueHandle process = StartInJob(commandLine, FALSE, startup, job.get(), result);
    if (!process)
        return result;
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 0xDEAD);
        WaitForSingleObject(process.get(), 5000);
        return result;
    }
    result.finished = true;
    GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

ProcessResult RunProcessCapturingOutput(const std::wstring& commandLine, DWORD timeoutMs, std::string& output)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) {
        result.startError = GetLastError();
        return result;
    }
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    const UniqueHandle job = KillOnCloseJob();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    const UniqueHandle process = StartInJob(commandLine, TRUE, startup, job.get(), result);
    if (!process)
        return result;
    writeEnd.reset();

    // The output is small; read it to the end (the child's exit closes the pipe).
    const DWORD start = GetTickCount();
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr))
            break;
        if (available > 0) {
            DWORD read = 0;
            if (!ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) || read == 0)
                break;
            output.append(buffer, read);
            continue;
        }
        if (GetTickCount() - start > timeoutMs)
            break;
        Sleep(10);
    }
    if (WaitForSingleObject(process.get(), 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 0xDEAD);
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

bool StopRawService(DWORD timeoutMs)
{
    {
        UniqueServiceHandle manager = OpenManager();
        UniqueServiceHandle service(OpenServiceW(manager.get(), OBRIN_SERVICE_NAME, SERVICE_STOP));
        if (!service)
            return false;
        SERVICE_STATUS status = {};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    }
    return WaitForRawState(SERVICE_STOPPED, timeoutMs);
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

namespace {

constexpr wchar_t RECORDER_SETTINGS_KEY[] = L"SOFTWARE\\ObrinTest\\SwitcherRecorder";

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

std::string ReadWholeFile(const std::wstring& path)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    if (!file)
        return text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    return text;
}

}  // namespace

bool FirmwareStandInPresent()
{
    return GetFileAttributesW((ProgramDirectory() + L"firmsim.exe").c_str()) != INVALID_FILE_ATTRIBUTES &&
           GetFileAttributesW((ProgramDirectory() + L"firmwmi.dll").c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Firmsim(const std::wstring& arguments)
{
    const ProcessResult result = RunProgram(L"firmsim.exe", arguments, 30000);
    return result.finished && result.exitCode == 0;
}

std::vector<std::string> FirmsimCalls()
{
    std::string output;
    const ProcessResult result =
        RunProcessCapturingOutput(L"\"" + ProgramDirectory() + L"firmsim.exe\" calls", 30000, output);
    if (!result.finished || result.exitCode != 0)
        return {};
    return SplitLines(output);
}

namespace {

// Deletes a file, waiting while a running program still holds it.
bool DeleteWhenFree(const std::wstring& path, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!DeleteFileW(path.c_str())) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}

}  // namespace

bool PlaceSwitcherRecorder()
{
    const std::wstring switcher = ProgramDirectory() + L"ObrinSwitcher.exe";
    // The file may be a hard link shared with the prefix template: replace,
    // never overwrite. A recorder still running from an earlier case holds it.
    if (!DeleteWhenFree(switcher, 15000) || !DeleteWhenFree(ProgramDirectory() + L"switcher_calls.log", 15000))
        return false;
    SetSwitcherStayAlive(0);
    return CopyFileW((ProgramDirectory() + L"switcher_recorder.exe").c_str(), switcher.c_str(), FALSE) != FALSE;
}

void RemoveSwitcher()
{
    DeleteWhenFree(ProgramDirectory() + L"ObrinSwitcher.exe", 15000);
}

void SetSwitcherStayAlive(DWORD milliseconds)
{
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, RECORDER_SETTINGS_KEY, L"StayAliveMs", REG_DWORD, &milliseconds,
                    sizeof(milliseconds));
}

std::vector<std::string> SwitcherRecord()
{
    return SplitLines(ReadWholeFile(ProgramDirectory() + L"switcher_calls.log"));
}

std::vector<std::string> SwitcherStarts()
{
    std::vector<std::string> starts;
    for (const std::string& line : SwitcherRecord()) {
        if (line.rfind("start ", 0) != 0)
            continue;
        const size_t commandLine = line.find(' ', 6);
        starts.push_back(commandLine == std::string::npos ? std::string() : line.substr(commandLine + 1));
    }
    return starts;
}

bool WaitForSwitcherStarts(size_t count, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (SwitcherStarts().size() < count) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

bool SwitcherRunEnded(const std::string& commandLine)
{
    const std::vector<std::string> record = SwitcherRecord();
    for (const std::string& line : record) {
        if (line.rfind("start ", 0) != 0)
            continue;
        const size_t space = line.find(' ', 6);
        if (space == std::string::npos || line.substr(space + 1) != commandLine)
            continue;
        const std::string exitLine = "exit " + line.substr(6, space - 6);
        for (const std::string& other : record) {
            if (other == exitLine)
                return true;
        }
    }
    return false;
}

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace obrin::test
