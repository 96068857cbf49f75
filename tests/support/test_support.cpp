#include "tests/support/test_support.h"

#include "common/registry_names.h"
#include "common/winservice.h"

#include <algorithm>

namespace obrin::test {

std::wstring ProgramDirectory()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\') + 1);
}

std::wstring TempDirectory()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

namespace {

std::string Narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string narrow(size > 0 ? size : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

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

// A pipe whose write end the child inherits; false with the last error set.
bool ChildPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    return CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0) &&
           SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
}

void ReadAvailable(HANDLE pipe, std::string& text)
{
    DWORD available = 0;
    while (pipe && PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof(buffer)), &read, nullptr) || read == 0)
            return;
        text.append(buffer, read);
    }
}

void DispatchMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

void PrintTo(const ProcessResult& run, std::ostream* out)
{
    *out << "run of " << Narrow(run.commandLine) << ": ";
    if (!run.started)
        *out << "did not start (error " << run.startError << ")";
    else if (!run.finished)
        *out << "ended at its time limit";
    else
        *out << "exit code " << run.exitCode;
    if (!run.output.empty())
        *out << "\n--- standard output:\n" << run.output;
    if (!run.errors.empty())
        *out << "\n--- standard error:\n" << run.errors;
}

ChildProcess::ChildProcess(const std::wstring& commandLine, RunOptions options) : m_options(std::move(options))
{
    m_result.commandLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    UniqueHandle outputEnd;
    UniqueHandle errorEnd;
    if (m_options.captureOutput) {
        if (!ChildPipe(m_outputPipe, outputEnd) || !ChildPipe(m_errorPipe, errorEnd)) {
            m_result.startError = GetLastError();
            return;
        }
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outputEnd.get();
        startup.hStdError = errorEnd.get();
    }
    if (m_options.hidden) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    if (m_options.killWithJob)
        m_job = KillOnCloseJob();
    const std::wstring directory = m_options.directory.empty() ? ProgramDirectory() : m_options.directory;
    std::wstring mutableLine = commandLine;
    PROCESS_INFORMATION info = {};
    // Suspended until it is in the job, so that nothing it starts escapes it.
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, m_options.captureOutput,
                        CREATE_SUSPENDED | (m_options.hidden ? CREATE_NO_WINDOW : 0), nullptr, directory.c_str(),
                        &startup, &info)) {
        m_result.startError = GetLastError();
        return;
    }
    m_process.reset(info.hProcess);
    const UniqueHandle thread(info.hThread);
    m_id = info.dwProcessId;
    if (m_job)
        AssignProcessToJobObject(m_job.get(), m_process.get());
    ResumeThread(thread.get());
    m_result.started = true;
}

ChildProcess::~ChildProcess()
{
    if (m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT)
        End();
}

void ChildProcess::Drain()
{
    ReadAvailable(m_outputPipe.get(), m_result.output);
    ReadAvailable(m_errorPipe.get(), m_result.errors);
}

ProcessResult ChildProcess::Wait()
{
    if (!m_process)
        return m_result;
    const DWORD start = GetTickCount();
    for (;;) {
        Drain();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= m_options.timeoutMs) {
            End();
            Drain();
            return m_result;
        }
        // The output is read as it comes, so that a full pipe never stalls the child.
        const DWORD slice = m_options.captureOutput ? std::min<DWORD>(10, m_options.timeoutMs - elapsed)
                                                    : m_options.timeoutMs - elapsed;
        HANDLE process = m_process.get();
        const DWORD wait = m_options.pumpMessages ? MsgWaitForMultipleObjects(1, &process, FALSE, slice, QS_ALLINPUT)
                                                  : WaitForSingleObject(process, slice);
        if (m_options.pumpMessages)
            DispatchMessages();  // also what was sent just before the end
        if (wait == WAIT_OBJECT_0)
            break;
    }
    Drain();
    m_result.finished = true;
    GetExitCodeProcess(m_process.get(), &m_result.exitCode);
    return m_result;
}

void ChildProcess::End()
{
    if (!m_process)
        return;
    if (m_job)
        TerminateJobObject(m_job.get(), 0xDEAD);
    else
        TerminateProcess(m_process.get(), 0xDEAD);
    WaitForSingleObject(m_process.get(), 5000);
}

ProcessResult RunProcess(const std::wstring& commandLine, const RunOptions& options)
{
    return ChildProcess(commandLine, options).Wait();
}

std::wstring ProgramCommand(const std::wstring& program, const std::wstring& arguments)
{
    return L"\"" + ProgramDirectory() + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
}

ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments, const RunOptions& options)
{
    return RunProcess(ProgramCommand(program, arguments), options);
}

ProcessResult Firmsim(const std::wstring& arguments)
{
    return RunProgram(L"firmsim.exe", arguments, {.timeoutMs = 60000, .captureOutput = true});
}

ProcessResult Disksim(const std::wstring& arguments)
{
    return RunProgram(L"disksim.exe", arguments, {.timeoutMs = 120000, .captureOutput = true, .hidden = true});
}

ProcessResult Service(const std::wstring& arguments)
{
    return RunProgram(L"ObrinService.exe", arguments, {.timeoutMs = 90000, .captureOutput = true});
}

ProcessResult Installer(const std::wstring& arguments)
{
    return RunProgram(L"ObrinInstaller.exe", arguments, {.timeoutMs = 300000, .pumpMessages = true});
}

namespace {

// Runs "cmd /C <prefix>"<file>"" over a file of the temporary folder holding `text`.
ProcessResult RunCmdOverFile(const wchar_t* name, const std::wstring& prefix, const std::string& text)
{
    const std::wstring path = TempDirectory() + name;
    ProcessResult result;
    result.commandLine = L"cmd /C " + prefix + L"\"" + path + L"\"";
    if (!WriteBytes(path, text)) {
        result.startError = GetLastError();
        return result;
    }
    result = RunProcess(result.commandLine,
                        {.timeoutMs = 120000, .captureOutput = true, .directory = TempDirectory(), .hidden = true});
    DeleteFileW(path.c_str());
    return result;
}

}  // namespace

ProcessResult Diskpart(const std::string& script)
{
    return RunCmdOverFile(L"obrin-test-script.txt", L"diskpart.exe /s ", script);
}

ProcessResult Batch(const std::string& commands)
{
    return RunCmdOverFile(L"obrin-test-batch.bat", L"", commands);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::optional<std::string> ReadBytes(const std::wstring& path)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    return text;
}

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring LogPath()
{
    return ProgramDirectory() + L"DUALOSLOG.log";
}

std::string ReadLog()
{
    // A writer holds the file without sharing for the moment of one message.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (std::optional<std::string> text = ReadBytes(LogPath()))
            return *text;
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

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(pollMs);
    }
    return true;
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
    return WaitUntil([state] { return RawServiceState() == state; }, timeoutMs);
}

bool InstallService()
{
    return testing::Value(Service(L"-install"), ExitsWith(0)) && WaitForRawState(SERVICE_RUNNING, 30000);
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

void SetShowMsg(DWORD value, std::source_location caller)
{
    const testing::ScopedTrace trace(caller.file_name(), static_cast<int>(caller.line()), "SetShowMsg");
    EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE, REG_DWORD, &value,
                              sizeof(value)),
              ERROR_SUCCESS);
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

}  // namespace

bool FirmwareStandInPresent()
{
    return PathExists(ProgramDirectory() + L"firmsim.exe") && PathExists(ProgramDirectory() + L"firmwmi.dll");
}

std::vector<std::string> FirmsimCalls(std::source_location caller)
{
    const ProcessResult run = Firmsim(L"calls");
    const testing::ScopedTrace trace(caller.file_name(), static_cast<int>(caller.line()), "FirmsimCalls");
    EXPECT_THAT(run, Succeeds());
    return SplitLines(run.output);
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
    return SplitLines(ReadBytes(ProgramDirectory() + L"switcher_calls.log").value_or(""));
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
    return WaitUntil([count] { return SwitcherStarts().size() >= count; }, timeoutMs);
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
        if (std::find(record.begin(), record.end(), exitLine) != record.end())
            return true;
    }
    return false;
}

std::string SwitcherCommand(const std::string& action)
{
    return "\"" + Narrow(ProgramDirectory()) + "ObrinSwitcher.exe\" -" + action + " -nomsg";
}

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace obrin::test
