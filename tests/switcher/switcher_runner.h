// Runs ObrinSwitcher.exe of the test's folder for the switcher's tests.
#pragma once

#include "common/ownership.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <optional>
#include <string>
#include <thread>

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

// Watches, on a thread of its own from construction on, for the switcher's
// box (window class DualOSMsgBox_Class) for up to timeoutMs, and keeps the
// caption of the first one seen.
class BoxCaptionWatch {
public:
    explicit BoxCaptionWatch(DWORD timeoutMs);
    ~BoxCaptionWatch();
    BoxCaptionWatch(const BoxCaptionWatch&) = delete;
    BoxCaptionWatch& operator=(const BoxCaptionWatch&) = delete;
    // Waits until the watch has ended; nothing when no box appeared.
    [[nodiscard]] std::optional<std::wstring> Caption();

private:
    std::optional<std::wstring> m_caption;
    std::thread m_watcher;
};

}  // namespace obrin::test
