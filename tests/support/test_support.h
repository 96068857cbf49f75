// Helpers shared by the Wine test programs: child processes with a time limit,
// the log file next to the programs, the service entry and the ShowMsg value.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace obrin::test {

// The folder of the running test program, with a trailing backslash
// (C:\obrin\ under tests/wine/run, where the programs lie too).
[[nodiscard]] std::wstring ProgramDirectory();

struct ProcessResult {
    bool started = false;
    bool finished = false;  // false: killed at the time limit
    DWORD exitCode = 0;
    DWORD startError = 0;
};

// Runs a command line (the program quoted by the caller as needed) in a job
// that is killed when the time limit passes.
[[nodiscard]] ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs);

// As RunProcess, and collects what the process writes to its standard output.
[[nodiscard]] ProcessResult RunProcessCapturingOutput(const std::wstring& commandLine, DWORD timeoutMs,
                                                      std::string& output);

// Runs a program of ProgramDirectory() with the given arguments.
[[nodiscard]] ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                                       DWORD timeoutMs = 60000);

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
// Sends OBRINSERVICE the stop control and polls until it has stopped. The
// control's own answer is not asked: under Wine the process can end before
// its answer reaches the manager (ERROR_BROKEN_PIPE) although the stop went
// through. True when the service stopped within timeoutMs.
bool StopRawService(DWORD timeoutMs);

// HKLM\SOFTWARE\Vantrel\VantrelObrin values.
[[nodiscard]] std::optional<DWORD> ReadShowMsg();
void DeleteShowMsg();

// The firmware stand-in (sim/firmware): firmsim.exe beside the test program.
[[nodiscard]] bool FirmwareStandInPresent();
// Runs "firmsim.exe <arguments>"; true when it exited with 0.
bool Firmsim(const std::wstring& arguments);
// Every DualOSNotify call so far ("0x%08x 0x%08x" each), oldest first.
[[nodiscard]] std::vector<std::string> FirmsimCalls();

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

// True when the test runs under Wine rather than Windows.
[[nodiscard]] bool RunningUnderWine();

}  // namespace obrin::test
