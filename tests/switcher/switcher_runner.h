// Runs ObrinSwitcher.exe of the test's folder for the switcher's tests.
#pragma once

#include "common/ownership.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <string>

namespace obrin::test {

// A started switcher. It is not put in a job that is killed on close (as
// RunProgram does): the switcher starts the configuration tool without
// waiting, and the tool must outlive it. Wait() ends it at its time limit.
class SwitcherRun {
public:
    explicit SwitcherRun(const std::wstring& arguments);
    // Waits for the exit; terminates the switcher when timeoutMs passes.
    [[nodiscard]] ProcessResult Wait(DWORD timeoutMs = 60000);

private:
    UniqueHandle m_process;
    DWORD m_startError = 0;
};

[[nodiscard]] ProcessResult RunSwitcherProgram(const std::wstring& arguments);

// Lines in ObrinConfigTool.started beside the programs: one per start of the
// configuration tool stand-in.
[[nodiscard]] size_t ConfigToolStarts();
bool WaitForConfigToolStarts(size_t count, DWORD timeoutMs);
[[nodiscard]] std::string LastConfigToolStart();

}  // namespace obrin::test
