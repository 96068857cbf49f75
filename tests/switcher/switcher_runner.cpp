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
    return WaitUntil([count] { return ConfigToolStarts() >= count; }, timeoutMs);
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
