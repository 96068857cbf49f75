// The harness every Wine test program shares: one way to run a child program
// with a time limit, one way to report a failed run, typed drivers for the
// programs the tests talk to, the log file next to the programs, the service
// entry, the ShowMsg value and the switcher recorder.
#pragma once

#include "common/ownership.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <ostream>
#include <source_location>
#include <string>
#include <vector>

namespace obrin::test {

// The folder of the running test program, with a trailing backslash
// (C:\obrin\ under tests/wine/run, where the programs lie too).
[[nodiscard]] std::wstring ProgramDirectory();
// The temporary folder, with a trailing backslash.
[[nodiscard]] std::wstring TempDirectory();

struct RunOptions {
    DWORD timeoutMs = 60000;
    // Standard output into ProcessResult::output, standard error into errors.
    bool captureOutput = false;
    // The working folder; empty: ProgramDirectory().
    std::wstring directory = {};
    // Without a console window, as the installer starts its tools.
    bool hidden = false;
    // In a job that is killed with the run, so that nothing the child starts
    // outlives the test; false where a child's child must outlive the child
    // (the switcher's configuration tool).
    bool killWithJob = true;
    // Dispatches this thread's messages while waiting (progress windows).
    bool pumpMessages = false;
};

struct ProcessResult {
    std::wstring commandLine;
    bool started = false;
    bool finished = false;  // false: ended at the time limit
    DWORD exitCode = 0;
    DWORD startError = 0;
    std::string output;
    std::string errors;
};

// How a failed check shows a run, the same in every test: the command line,
// the start error, the time limit or the exit code, and what it wrote.
void PrintTo(const ProcessResult& run, std::ostream* out);

// The one check of a run, at the caller's line with EXPECT_THAT/ASSERT_THAT:
// it started, ended within its time limit and exited with exitCode.
MATCHER_P(ExitsWith, exitCode, "started and exited with " + testing::PrintToString(exitCode))
{
    return arg.started && arg.finished && arg.exitCode == static_cast<DWORD>(exitCode);
}
// As ExitsWith(0), and nothing was written to standard error: how the
// stand-ins' control programs succeed.
MATCHER(Succeeds, "started, exited with 0 and wrote nothing to standard error")
{
    return arg.started && arg.finished && arg.exitCode == 0 && arg.errors.empty();
}

// A started child. The destructor ends one that is still running.
class ChildProcess {
public:
    explicit ChildProcess(const std::wstring& commandLine, RunOptions options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads the output and waits for the exit; ends the child at the time limit.
    [[nodiscard]] ProcessResult Wait();
    void End();
    [[nodiscard]] HANDLE Process() const { return m_process.get(); }
    [[nodiscard]] DWORD Id() const { return m_id; }

private:
    void Drain();

    RunOptions m_options;
    ProcessResult m_result;
    UniqueHandle m_job;
    UniqueHandle m_process;
    UniqueHandle m_outputPipe;
    UniqueHandle m_errorPipe;
    DWORD m_id = 0;
};

[[nodiscard]] ProcessResult RunProcess(const std::wstring& commandLine, const RunOptions& options = {});
// The command line of a program of ProgramDirectory(), quoted.
[[nodiscard]] std::wstring ProgramCommand(const std::wstring& program, const std::wstring& arguments);
[[nodiscard]] ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                                       const RunOptions& options = {});

// The programs the tests drive, from ProgramDirectory(), output captured.
[[nodiscard]] ProcessResult Firmsim(const std::wstring& arguments);
[[nodiscard]] ProcessResult Disksim(const std::wstring& arguments);
[[nodiscard]] ProcessResult Service(const std::wstring& arguments);
// Pumps this thread's messages while it runs, for the progress window.
[[nodiscard]] ProcessResult Installer(const std::wstring& arguments);
// As the installer runs its scripts: a file in the temporary folder, then
// "cmd /C diskpart.exe /s "file"" or "cmd /C "file.bat"", hidden, from the
// temporary folder (cmd finds the programs of its working folder first).
[[nodiscard]] ProcessResult Diskpart(const std::string& script);
[[nodiscard]] ProcessResult Batch(const std::string& commands);

// Writes the file anew with exactly these bytes.
[[nodiscard]] bool WriteBytes(const std::wstring& path, const std::string& bytes);
// The whole file; nothing when it cannot be opened (the last error says why).
[[nodiscard]] std::optional<std::string> ReadBytes(const std::wstring& path);
// A file or a folder.
[[nodiscard]] bool PathExists(const std::wstring& path);

// The DUALOSLOG.log of ProgramDirectory(), as written: 8-bit text.
[[nodiscard]] std::wstring LogPath();
[[nodiscard]] std::string ReadLog();

// What was appended to the log since construction.
class LogTail {
public:
    LogTail();
    [[nodiscard]] std::string NewText() const;
    // The new text cut into lines at CR LF (a last line without CR LF included).
    [[nodiscard]] std::vector<std::string> NewLines() const;

private:
    size_t m_start;
};

// Polls the condition every pollMs until it holds; false when timeoutMs passed first.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 50);

// Counts lines of text holding all of the given fragment.
[[nodiscard]] size_t CountLinesWith(const std::vector<std::string>& lines, const std::string& fragment);

// The state of OBRINSERVICE read straight from the Service Control Manager,
// nullopt when the service does not exist.
[[nodiscard]] std::optional<DWORD> RawServiceState();
// The registered command line of OBRINSERVICE, empty when missing.
[[nodiscard]] std::wstring RawServiceBinaryPath();
// Stops (without waiting for the service's own stop) and deletes OBRINSERVICE,
// then waits until the entry is gone. True when it is gone.
bool RemoveServiceIfPresent(DWORD timeoutMs = 15000);
// Polls until OBRINSERVICE is in state, up to timeoutMs.
bool WaitForRawState(DWORD state, DWORD timeoutMs);
// "ObrinService.exe -install" succeeded and the service runs.
[[nodiscard]] bool InstallService();
// Sends OBRINSERVICE the stop control and polls until it has stopped. The
// control's own answer is not asked: under Wine the process can end before
// its answer reaches the manager (ERROR_BROKEN_PIPE) although the stop went
// through. True when the service stopped within timeoutMs.
bool StopRawService(DWORD timeoutMs);

// HKLM\SOFTWARE\Vantrel\VantrelObrin values.
[[nodiscard]] std::optional<DWORD> ReadShowMsg();
void SetShowMsg(DWORD value, std::source_location caller = std::source_location::current());
void DeleteShowMsg();

// The firmware stand-in (sim/firmware): firmsim.exe beside the test program.
[[nodiscard]] bool FirmwareStandInPresent();
// Every DualOSNotify call so far ("0x%08x 0x%08x" each), oldest first; a
// failed "firmsim calls" fails the caller.
[[nodiscard]] std::vector<std::string> FirmsimCalls(std::source_location caller = std::source_location::current());

// The switcher recorder (sim/switcher-recorder) put in place as
// ObrinSwitcher.exe beside the test program, with an empty record.
[[nodiscard]] bool PlaceSwitcherRecorder();
// Makes ObrinSwitcher.exe missing.
void RemoveSwitcher();
// How long each recorded switcher run stays alive.
void SetSwitcherStayAlive(DWORD milliseconds);
// The record: "start <pid> <command line>" and "exit <pid>" lines.
[[nodiscard]] std::vector<std::string> SwitcherRecord();
// The command lines of the recorded starts, in order.
[[nodiscard]] std::vector<std::string> SwitcherStarts();
// Polls until the record has `count` starts, up to timeoutMs.
bool WaitForSwitcherStarts(size_t count, DWORD timeoutMs);
// True when the recorded run with this command line ended.
[[nodiscard]] bool SwitcherRunEnded(const std::string& commandLine);
// The command line the service launches the switcher with for an action
// ("reboot"): from its own folder, without a user token, so " -nomsg".
[[nodiscard]] std::string SwitcherCommand(const std::string& action);

// True when the test runs under Wine rather than Windows.
[[nodiscard]] bool RunningUnderWine();

}  // namespace obrin::test
