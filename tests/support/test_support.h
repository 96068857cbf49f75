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

// HKLM\SOFTWARE\Vantrel\VantrelObrin values.
[[nodiscard]] std::optional<DWORD> ReadShowMsg();
void DeleteShowMsg();

}  // namespace obrin::test
