#include "tests/switcher/switcher_runner.h"

#include <filesystem>
#include <fstream>

namespace obrin::test {

namespace {

std::filesystem::path ConfigToolRecord()
{
    return std::filesystem::path(ProgramDirectory() + L"ObrinConfigTool.started");
}

}  // namespace

SwitcherRun::SwitcherRun(const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + ProgramDirectory() + L"ObrinSwitcher.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        ProgramDirectory().c_str(), &startup, &info)) {
        m_startError = GetLastError();
        return;
    }
    m_process.reset(info.hProcess);
    const UniqueHandle thread(info.hThread);
}

ProcessResult SwitcherRun::Wait(DWORD timeoutMs)
{
    ProcessResult result;
    result.startError = m_startError;
    if (!m_process)
        return result;
    result.started = true;
    if (WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(m_process.get(), 0xDEAD);
        WaitForSingleObject(m_process.get(), 5000);
        return result;
    }
    result.finished = true;
    GetExitCodeProcess(m_process.get(), &result.exitCode);
    return result;
}

ProcessResult RunSwitcherProgram(const std::wstring& arguments)
{
    return SwitcherRun(arguments).Wait();
}

size_t ConfigToolStarts()
{
    std::ifstream in{ConfigToolRecord()};
    size_t count = 0;
    for (std::string line; std::getline(in, line);)
        ++count;
    return count;
}

bool WaitForConfigToolStarts(size_t count, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (ConfigToolStarts() < count) {
        if (GetTickCount64() > end)
            return false;
        Sleep(50);
    }
    return true;
}

std::string LastConfigToolStart()
{
    std::ifstream in{ConfigToolRecord()};
    std::string line, last;
    while (std::getline(in, line))
        last = line;
    return last;
}

BoxCaptionWatch::BoxCaptionWatch(DWORD timeoutMs)
    : m_watcher([this, timeoutMs] {
          const ULONGLONG end = GetTickCount64() + timeoutMs;
          while (GetTickCount64() < end) {
              if (HWND box = FindWindowW(L"DualOSMsgBox_Class", nullptr)) {
                  wchar_t text[512] = {};
                  GetWindowTextW(box, text, 512);
                  m_caption = text;
                  return;
              }
              Sleep(20);
          }
      })
{
}

BoxCaptionWatch::~BoxCaptionWatch()
{
    if (m_watcher.joinable())
        m_watcher.join();
}

std::optional<std::wstring> BoxCaptionWatch::Caption()
{
    if (m_watcher.joinable())
        m_watcher.join();
    return m_caption;
}

}  // namespace obrin::test
