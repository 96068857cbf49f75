// The log facility in a real process: DUALOSLOG.log next to this test program
// and the debugger output, read back through a DBWIN listener.
#include "common/log.h"
#include "common/ownership.h"
#include "tests/support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace obrin;
using namespace obrin::test;
using testing::HasSubstr;

namespace {

constexpr char HOLD_OPTION[] = "--hold-exclusively";

// The prefix of one line: build date and time, level, tag, source line.
const std::string PREFIX_PATTERN =
    R"(\[(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\] )";

std::string Prefix(const std::string& level, const std::string& tag, int line)
{
    return PREFIX_PATTERN + R"(\[)" + level + R"(\]\[)" + tag + R"(\(\):)" + std::to_string(line) + R"(\] )";
}

// Receives what OutputDebugString sends while no debugger is attached.
class DebugOutputListener {
public:
    DebugOutputListener()
    {
        m_bufferReady.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
        m_dataReady.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
        m_mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER"));
        if (m_bufferReady && m_dataReady && m_mapping)
            m_view = static_cast<const char*>(MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 4096));
        if (m_view) {
            // Ready before the first message: a writer does not wait long for the buffer.
            SetEvent(m_bufferReady.get());
            m_thread = std::thread([this] { Listen(); });
        }
    }
    ~DebugOutputListener()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_view)
            UnmapViewOfFile(m_view);
    }
    [[nodiscard]] bool Ready() const { return m_view != nullptr; }
    // All text received once it holds fragment, or after two seconds.
    [[nodiscard]] std::string Received(const std::string& fragment)
    {
        for (int waited = 0; waited < 2000; waited += 10) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_text.find(fragment) != std::string::npos)
                    return m_text;
            }
            Sleep(10);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }

private:
    void Listen()
    {
        while (!m_stop) {
            if (WaitForSingleObject(m_dataReady.get(), 50) != WAIT_OBJECT_0)
                continue;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_text.append(m_view + sizeof(DWORD), strnlen(m_view + sizeof(DWORD), 4096 - sizeof(DWORD)));
            }
            SetEvent(m_bufferReady.get());
        }
    }

    UniqueHandle m_bufferReady;
    UniqueHandle m_dataReady;
    UniqueHandle m_mapping;
    const char* m_view = nullptr;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_text;
    std::thread m_thread;
};

// First in this program: the failing call's error is read after GetLog() has
// set the log up, as at every call site.
TEST(Log, LastErrorSurvivesSetUpAndPrint)
{
    const LogTail log;
    SetLastError(4321);
    GetLog().Print(LOG_ERROR, "Test", 1, L"Failed [Err=%u].\n", GetLastError());
    EXPECT_EQ(GetLastError(), 4321u);
    EXPECT_THAT(log.NewText(), testing::EndsWith("] Failed [Err=4321].\r\n"));
}

// A line's stamp as a local time, as the build's __DATE__ and __TIME__ are;
// 0 when the line has none.
time_t StampTime(const std::string& line)
{
    char month[4] = {};
    std::tm parts = {};
    if (std::sscanf(line.c_str(), "[%3s %d %d %d:%d:%d] ", month, &parts.tm_mday, &parts.tm_year, &parts.tm_hour,
                    &parts.tm_min, &parts.tm_sec) != 6)
        return 0;
    parts.tm_mon = static_cast<int>(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(month) / 3);
    parts.tm_year -= 1900;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

// When a program file was linked: the time stamp of its PE header; 0 if unread.
time_t LinkTime(const std::wstring& program)
{
    UniqueFileHandle file(CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    std::string head(4096, '\0');
    DWORD got = 0;
    if (!file || !ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr) ||
        got < sizeof(IMAGE_DOS_HEADER))
        return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    if (dos->e_lfanew < 0 || static_cast<DWORD>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > got)
        return 0;
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(head.data() + dos->e_lfanew)->FileHeader.TimeDateStamp;
}

// A program's stamp is compiled right before that program is linked, so it
// lies within moments before the link time, whenever the log library was built.
void ExpectOwnBuildTime(const std::string& line, const std::wstring& program)
{
    SCOPED_TRACE(line);
    const time_t stamp = StampTime(line);
    const time_t linked = LinkTime(program);
    ASSERT_NE(stamp, 0);
    ASSERT_NE(linked, 0);
    EXPECT_LE(stamp, linked);
    EXPECT_GE(stamp, linked - 120);
}

TEST(Log, EachProgramStampsItsLinesWithItsOwnBuild)
{
    const LogTail log;
    GetLog().Print(LOG_INFO, "Test", 31, L"stamp\n");
    ASSERT_THAT(Service(L"-showmsg"), ExitsWith(1));
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 2u) << log.NewText();
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ExpectOwnBuildTime(lines[0], self);
    EXPECT_THAT(lines[1], HasSubstr("Failed to parse parameter [-showmsg]."));
    ExpectOwnBuildTime(lines[1], ProgramDirectory() + L"ObrinService.exe");
}

TEST(Log, FirstLineCreatesFileWithExactPrefixAndCrLf)
{
    DeleteFileW(LogPath().c_str());
    DebugOutputListener debugger;
    ASSERT_TRUE(debugger.Ready());
    GetLog().Print(LOG_INFO, "SetPowerState", 439, L"Launch(%s)\n", L"\"C:\\obrin\\ObrinSwitcher.exe\" -s3");

    EXPECT_EQ(GetLog().Path(), LogPath());
    const std::string text = ReadLog();
    EXPECT_TRUE(std::regex_match(
        text, std::regex("^" + Prefix("INFO", "SetPowerState", 439) + R"(Launch\("C:\\obrin\\ObrinSwitcher\.exe" -s3\)\r\n$)")))
        << text;
    const std::string shown = "] [INFO][SetPowerState():439] Launch(\"C:\\obrin\\ObrinSwitcher.exe\" -s3)\n";
    EXPECT_THAT(debugger.Received(shown), HasSubstr(shown));
}

TEST(Log, EveryLevelIsWrittenUnderItsName)
{
    const LogTail log;
    GetLog().Print(LOG_ERROR, "CWinService::Start", 1, L"e\n");
    GetLog().Print(LOG_WARN, "CWinService::Start", 2, L"w\n");
    GetLog().Print(LOG_INFO, "CWinService::Start", 3, L"i\n");
    GetLog().Print(LOG_DEBUG, "CWinService::Start", 4, L"d\n");
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 4u) << log.NewText();
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(Prefix("ERROR", "CWinService::Start", 1) + "e"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(Prefix("WARN", "CWinService::Start", 2) + "w"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(Prefix("INFO", "CWinService::Start", 3) + "i"))) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(Prefix("DEBUG", "CWinService::Start", 4) + "d"))) << lines[3];
}

TEST(Log, ArgumentsFollowMicrosoftWideFormat)
{
    const LogTail log;
    const std::wstring longText(3000, L'x');
    GetLog().Print(LOG_INFO, "Test", 7, L"%s|%S|%u|%x|0x%08x|%d\n", longText.c_str(), "narrow", 4294967295u,
                   0xD1u, 0x80041001u, -5);
    const std::vector<std::string> lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], testing::EndsWith("] " + std::string(3000, 'x') + "|narrow|4294967295|d1|0x80041001|-5"));
}

TEST(Log, CharactersUpToU00FFBecomeSingleBytes)
{
    const LogTail log;
    GetLog().Print(LOG_INFO, "Test", 1, L"caf\u00e9 \u00ff \u0080\n");
    EXPECT_THAT(log.NewText(), testing::EndsWith("] caf\xe9 \xff \x80\r\n"));
}

TEST(Log, CharacterFromU0100CutsMessageAndNextContinuesOnSameLine)
{
    DebugOutputListener debugger;
    ASSERT_TRUE(debugger.Ready());
    const LogTail log;
    GetLog().Print(LOG_ERROR, "Test", 11, L"before\u0100after\n");
    GetLog().Print(LOG_INFO, "Test", 12, L"next\n");

    const std::string text = log.NewText();
    EXPECT_TRUE(std::regex_match(text, std::regex("^" + Prefix("ERROR", "Test", 11) + "before" +
                                                  Prefix("INFO", "Test", 12) + R"(next\r\n$)")))
        << text;
    // The debugger gets both messages whole (the wide text turned to ANSI).
    const std::string shown = debugger.Received("] [INFO][Test():12] next\n");
    EXPECT_THAT(shown, testing::ContainsRegex(R"(\] \[ERROR\]\[Test\(\):11\] before.after\n)"));
    EXPECT_THAT(shown, HasSubstr("] [INFO][Test():12] next\n"));
}

TEST(Log, FileHeldExclusivelyByAnotherProcessLosesOnlyThatMessage)
{
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId());
    UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, (L"ObrinLogHeld" + suffix).c_str()));
    UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, (L"ObrinLogRelease" + suffix).c_str()));
    ASSERT_TRUE(held && release);

    GetLog().Print(LOG_INFO, "Test", 1, L"ensure the file exists\n");
    const LogTail log;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ChildProcess holder(L"\"" + std::wstring(self) + L"\" --hold-exclusively " + suffix, {.timeoutMs = 20000});
    ASSERT_EQ(WaitForSingleObject(held.get(), 20000), WAIT_OBJECT_0) << "holder did not open the file";

    DebugOutputListener debugger;
    ASSERT_TRUE(debugger.Ready());
    GetLog().Print(LOG_ERROR, "Test", 21, L"while held\n");
    const std::string shown = "] [ERROR][Test():21] while held\n";
    EXPECT_THAT(debugger.Received(shown), HasSubstr(shown));

    SetEvent(release.get());
    ASSERT_THAT(holder.Wait(), ExitsWith(0));

    GetLog().Print(LOG_INFO, "Test", 22, L"after release\n");
    const std::string text = log.NewText();
    EXPECT_THAT(text, testing::Not(HasSubstr("while held")));
    EXPECT_TRUE(std::regex_match(text, std::regex("^" + Prefix("INFO", "Test", 22) + R"(after release\r\n$)"))) << text;
}

// Child mode: hold the log without sharing until the parent releases it.
int HoldLogExclusively(const std::wstring& suffix)
{
    UniqueFileHandle file(CreateFileW(LogPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    UniqueHandle held(OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"ObrinLogHeld" + suffix).c_str()));
    UniqueHandle release(OpenEventW(SYNCHRONIZE, FALSE, (L"ObrinLogRelease" + suffix).c_str()));
    if (!file || !held || !release)
        return 2;
    SetEvent(held.get());
    return WaitForSingleObject(release.get(), 30000) == WAIT_OBJECT_0 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == HOLD_OPTION) {
        const std::string suffix = argv[2];
        return HoldLogExclusively(std::wstring(suffix.begin(), suffix.end()));
    }
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
