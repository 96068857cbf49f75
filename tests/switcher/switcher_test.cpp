// ObrinSwitcher.exe run as a child for the actions that leave the prefix
// alive, and the entry's pieces in-process, under Wine with Xvfb.
#include "switcher/msgbox/msgbox.h"
#include "switcher/power_transitions.h"
#include "switcher/shutdown_notice.h"
#include "switcher/switcher_entry.h"
#include "tests/support/test_support.h"
#include "tests/switcher/switcher_runner.h"

#include "common/ownership.h"
#include "common/registry_names.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

using namespace obrin::test;

namespace {

void ExpectExit(const ProcessResult& result, DWORD exitCode)
{
    ASSERT_TRUE(result.started) << result.startError;
    ASSERT_TRUE(result.finished) << "killed at the time limit";
    EXPECT_EQ(result.exitCode, exitCode);
}

std::wstring TempShortcut()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"ObrinSwitcher.lnk";
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetShowMsg(DWORD value)
{
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE, REG_DWORD, &value,
                              sizeof(value)),
              ERROR_SUCCESS);
}

TEST(SwitcherPower, S3WithoutSupportLogsTheLineAndExitsOne)
{
    // Wine differs: GetPwrCapabilities reports no S3 and no FastSystemS4.
    const LogTail log;
    ExpectExit(RunSwitcherProgram(L"-s3"), 1);
    const auto lines = log.NewLines();
    EXPECT_EQ(CountLinesWith(lines, "] [ERROR][DoS3():"), 1u) << log.NewText();
    EXPECT_EQ(CountLinesWith(lines, "Sleep state S3 is not supported [Err="), 1u) << log.NewText();
    EXPECT_EQ(CountLinesWith(lines, "priviledge"), 0u) << log.NewText();
}

TEST(SwitcherPower, HybridWithoutFastS4LogsTheLineAndExitsOne)
{
    const LogTail log;
    ExpectExit(RunSwitcherProgram(L"-hybrid"), 1);
    const auto lines = log.NewLines();
    EXPECT_EQ(CountLinesWith(lines, "] [ERROR][DoHybridShutdown():"), 1u) << log.NewText();
    EXPECT_EQ(CountLinesWith(lines, "Sleep state Hybrid is not supported [Err="), 1u) << log.NewText();
}

TEST(SwitcherPower, S4ReachesTheSuspendCallAndExitsZero)
{
    // Wine differs: SetSuspendState returns TRUE at once and does nothing.
    const LogTail log;
    ExpectExit(RunSwitcherProgram(L"-S4"), 0);
    EXPECT_EQ(CountLinesWith(log.NewLines(), "[DoS4():"), 0u) << log.NewText();
}

TEST(SwitcherPower, ShutdownPrivilegeCanBeEnabled)
{
    SetLastError(0xDEADBEEF);
    EXPECT_NE(EnableShutdownPrivilege(), FALSE) << GetLastError();
}

TEST(SwitcherOptionsProgram, UnknownWordAfterRebootDoesNothingAndExitsOne)
{
    const LogTail log;
    // A restart here would end this test program too.
    ExpectExit(RunSwitcherProgram(L"-reboot -bogus"), 1);
    ExpectExit(RunSwitcherProgram(L"-REBOOT /x"), 1);
    ExpectExit(RunSwitcherProgram(L"-s3 -nomsg -unknown"), 1);
    EXPECT_EQ(CountLinesWith(log.NewLines(), "] [ERROR]["), 0u) << log.NewText();
}

TEST(SwitcherShell, TaskbarOptionsLeaveNoShortcutAndExitOne)
{
    for (const wchar_t* option : {L"-taskbarpin", L"-taskbarunpin"}) {
        SCOPED_TRACE(testing::Message() << (option[8] == L'p' ? "-taskbarpin" : "-taskbarunpin"));
        // A shortcut left by an earlier run goes as well.
        std::ofstream(std::filesystem::path(TempShortcut()), std::ios::binary) << "stale";
        ASSERT_TRUE(FileExists(TempShortcut()));
        ExpectExit(RunSwitcherProgram(option), 1);
        EXPECT_FALSE(FileExists(TempShortcut()));
    }
}

TEST(SwitcherShell, ConfigStartsTheToolBesideTheSwitcherInItsFolder)
{
    const size_t before = ConfigToolStarts();
    ExpectExit(RunSwitcherProgram(L"-config"), 0);
    ASSERT_TRUE(WaitForConfigToolStarts(before + 1, 15000));
    const std::string last = LastConfigToolStart();
    EXPECT_EQ(last.rfind("started ", 0), 0u) << last;
    // The tool's working folder is its own folder (C:\obrin\ here).
    const std::wstring directory = ProgramDirectory();
    std::string folder(directory.begin(), directory.end());
    folder.pop_back();
    EXPECT_NE(last.find(folder), std::string::npos) << last;
}

TEST(SwitcherShell, ConfigWithoutTheToolExitsOne)
{
    const std::wstring tool = ProgramDirectory() + L"ObrinConfigTool.exe";
    const std::wstring away = ProgramDirectory() + L"ObrinConfigTool.away";
    ASSERT_TRUE(MoveFileW(tool.c_str(), away.c_str())) << GetLastError();
    const ProcessResult result = RunSwitcherProgram(L"-config");
    MoveFileW(away.c_str(), tool.c_str());
    ExpectExit(result, 1);
}

// The switcher's image in a folder whose path is longer than MAX_PATH, loaded
// as a module so that its own path cannot be read whole. Wine differs:
// CreateProcessW cannot start a program at such a path (docs/wine.md), so the
// run's steps are taken in this process.
class LongPathImage {
public:
    LongPathImage()
    {
        const std::wstring prefix = L"\\\\?\\";
        std::wstring folder = prefix + ProgramDirectory() + L"long";
        for (;;) {
            if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return;
            m_folders.push_back(folder);
            if (folder.size() - prefix.size() > MAX_PATH)
                break;
            folder += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + m_folders.size()));
        }
        m_image = m_folders.back() + L"\\ObrinSwitcher.exe";
        if (CopyFileW((ProgramDirectory() + L"ObrinSwitcher.exe").c_str(), m_image.c_str(), FALSE))
            m_module.reset(LoadLibraryExW(m_image.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
    }
    ~LongPathImage()
    {
        m_module.reset();
        DeleteFileW(m_image.c_str());
        for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder)
            RemoveDirectoryW(folder->c_str());
    }
    LongPathImage(const LongPathImage&) = delete;
    LongPathImage& operator=(const LongPathImage&) = delete;

    [[nodiscard]] HMODULE Module() const { return m_module.get(); }

private:
    std::vector<std::wstring> m_folders;
    std::wstring m_image;
    obrin::UniqueModule m_module;
};

TEST(SwitcherShell, ProgramPathLongerThanItsBufferFailsConfigAndTaskbar)
{
    const LongPathImage image;
    ASSERT_NE(image.Module(), nullptr) << GetLastError();
    SwitcherContext context = {};
    GetProgramDirectory(image.Module(), context.Folder);
    EXPECT_STREQ(context.Folder.Path, L"");
    EXPECT_EQ(context.Folder.Error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    // The tool lies in this process's working folder, where the shell would
    // find a bare "ObrinConfigTool.exe".
    ASSERT_TRUE(SetCurrentDirectoryW(ProgramDirectory().c_str())) << GetLastError();
    const LogTail log;
    const size_t before = ConfigToolStarts();
    EXPECT_EQ(Dispatch(ACTION_CONFIG, context), 1);
    EXPECT_EQ(Dispatch(ACTION_TASKBAR_PIN, context), 1);
    EXPECT_EQ(Dispatch(ACTION_TASKBAR_UNPIN, context), 1);
    EXPECT_FALSE(WaitForConfigToolStarts(before + 1, 2000)) << LastConfigToolStart();
    const auto lines = log.NewLines();
    for (const char* tag : {"] [ERROR][DoConfig():", "] [ERROR][DoTaskbarPin():", "] [ERROR][DoTaskbarUnpin():"}) {
        EXPECT_EQ(CountLinesWith(lines, tag), 1u) << tag << "\n" << log.NewText();
    }
    EXPECT_EQ(CountLinesWith(lines, "Failed to call GetModuleFileName [Err=122]."), 3u) << log.NewText();
}

TEST(SwitcherFlowProgram, WithoutServiceSwitchStartsTheToolAndNowExitsOne)
{
    const LogTail log;
    const size_t before = ConfigToolStarts();
    SetShowMsg(2);  // no confirmation is reached: the ready check fails first
    ExpectExit(RunSwitcherProgram(L""), 0);
    EXPECT_TRUE(WaitForConfigToolStarts(before + 1, 15000));
    EXPECT_EQ(CountLinesWith(log.NewLines(), "Fail to open WMI Script Server"), 1u) << log.NewText();

    ExpectExit(RunSwitcherProgram(L"-now"), 1);
    Sleep(1000);
    EXPECT_EQ(ConfigToolStarts(), before + 1);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE);
}

TEST(SwitcherShell, ProgramCarriesTheIconItsShortcutPointsAt)
{
    const std::wstring program = ProgramDirectory() + L"ObrinSwitcher.exe";
    HICON large = nullptr;
    ASSERT_EQ(ExtractIconExW(program.c_str(), 0, &large, nullptr, 1), 1u);
    ICONINFO info = {};
    EXPECT_TRUE(GetIconInfo(large, &info));
    const obrin::UniqueBitmap colour(info.hbmColor);
    const obrin::UniqueBitmap mask(info.hbmMask);
    DestroyIcon(large);
}

TEST(SwitcherEntry, ShowMsgReadsTheDwordOrZero)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE);
    EXPECT_EQ(::ReadShowMsg(), 0u);
    SetShowMsg(2);
    EXPECT_EQ(::ReadShowMsg(), 2u);
    SetShowMsg(7);
    EXPECT_EQ(::ReadShowMsg(), 7u);
    const wchar_t text[] = L"1";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE, REG_SZ, text, sizeof(text)),
              ERROR_SUCCESS);
    EXPECT_EQ(::ReadShowMsg(), 0u);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE);
}

TEST(SwitcherEntry, ProgramDirectoryKeepsTheBackslash)
{
    ProgramFolder folder;
    GetProgramDirectory(nullptr, folder);
    EXPECT_EQ(std::wstring(folder.Path), ProgramDirectory());
}

TEST(SwitcherEntry, ButtonTableTakesTheNineTextsCutToTheirFields)
{
    LangStrings strings = {};
    wchar_t ok[] = L"Fine";
    wchar_t no[] = L"Nope";
    wchar_t longCancel[] = L"A cancel text much longer than thirty-one characters";
    strings.Found = 1;
    strings.Strings[BTN_TEXT_OK] = ok;
    strings.Strings[BTN_TEXT_NO] = no;
    strings.Strings[BTN_TEXT_CANCEL] = longCancel;
    ButtonTextTable table;
    std::memset(&table, 0x55, sizeof(table));
    FillButtonTextTable(strings, table);
    EXPECT_EQ(table.Available, 1);
    EXPECT_STREQ(table.Texts[BUTTON_TEXT_OK], L"Fine");
    EXPECT_STREQ(table.Texts[BUTTON_TEXT_NO], L"Nope");
    EXPECT_EQ(std::wstring(table.Texts[BUTTON_TEXT_CANCEL]), std::wstring(longCancel).substr(0, 31));
    EXPECT_STREQ(table.Texts[BUTTON_TEXT_YES], L"");

    strings.Found = 0;
    FillButtonTextTable(strings, table);
    EXPECT_EQ(table.Available, 0);
}

// The notice's caption: string 2017 of winlogon.exe, empty where there is none.
std::wstring ExpectedNoticeCaption()
{
    const obrin::UniqueModule winlogon(LoadLibraryExW(L"winlogon.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE));
    wchar_t text[512] = {};
    if (winlogon)
        LoadStringW(winlogon.get(), 2017, text, 512);
    return text;
}

TEST(SwitcherNotice, LevelOneShowsTheSystemTextForFiveSeconds)
{
    // Wine differs: there is no winlogon.exe, so the caption is empty there.
    const std::wstring expectedCaption = ExpectedNoticeCaption();
    BoxCaptionWatch watch(10000);
    const ULONGLONG start = GetTickCount64();
    ShowShutdownNotice(1);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(watch.Caption(), std::optional<std::wstring>(expectedCaption));
    EXPECT_GE(elapsed, 4900u);
    // Closing adds about 4 s under Xvfb without a window manager (docs/wine.md).
    EXPECT_LT(elapsed, 12000u);
}

TEST(SwitcherNotice, OtherLevelsShowNothing)
{
    for (uint32_t level : {0u, 2u, 3u}) {
        const ULONGLONG start = GetTickCount64();
        ShowShutdownNotice(level);
        EXPECT_LT(GetTickCount64() - start, 1000u) << level;
        EXPECT_EQ(FindWindowW(L"DualOSMsgBox_Class", nullptr), nullptr) << level;
    }
}

}  // namespace
