// The whole OS switch under Wine: ObrinSwitcher.exe asks the real
// ObrinService (installed in this prefix) over its pipe, and the service asks
// the firmware stand-in, which records every call and answers as told.
#include "tests/support/firmware_fixture.h"
#include "tests/switcher/switcher_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <vector>

using namespace obrin::test;

namespace {

using Codes = std::vector<uint32_t>;

constexpr COLORREF BAND = RGB(31, 0, 104);

Codes CallCodes()
{
    Codes codes;
    for (const std::string& line : FirmsimCalls()) {
        unsigned code = 0, parameter = 0;
        if (std::sscanf(line.c_str(), "0x%x 0x%x", &code, &parameter) == 2)
            codes.push_back(code);
    }
    return codes;
}

struct SeenBox {
    bool Shown = false;
    bool BandOnScreen = false;
    std::wstring Caption;
};

// Waits for the switcher's box (in the child process), looks at it, then
// presses `key` on it. A box that never shows leaves Shown false.
SeenBox AnswerBox(WORD key)
{
    SeenBox seen;
    HWND box = nullptr;
    const ULONGLONG end = GetTickCount64() + 20000;
    while (GetTickCount64() < end) {
        box = FindWindowW(L"DualOSMsgBox_Class", nullptr);
        if (box && IsWindowVisible(box))
            break;
        box = nullptr;
        Sleep(50);
    }
    if (!box)
        return seen;
    seen.Shown = true;
    wchar_t caption[256] = {};
    GetWindowTextW(box, caption, 256);
    seen.Caption = caption;
    HDC screen = GetDC(nullptr);
    const ULONGLONG paintEnd = GetTickCount64() + 5000;
    while (!seen.BandOnScreen && GetTickCount64() < paintEnd) {
        seen.BandOnScreen = GetPixel(screen, 2, GetSystemMetrics(SM_CYSCREEN) / 2) == BAND;
        Sleep(50);
    }
    ReleaseDC(nullptr, screen);
    PostMessageW(box, WM_KEYDOWN, key, 0);
    PostMessageW(box, WM_KEYUP, key, 0);
    return seen;
}

using OsSwitch = RunningServiceTest;

TEST_F(OsSwitch, ChecksPassAndTheRequestIsSent)
{
    EXPECT_THAT(RunSwitcherProgram(L""), ExitsWith(0));
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18, 0x10, 0x18, 0x14}));
}

TEST_F(OsSwitch, RequestAnsweredOneExitsOne)
{
    ASSERT_THAT(Firmsim(L"answer 20 1"), Succeeds());
    EXPECT_THAT(RunSwitcherProgram(L""), ExitsWith(1));
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18, 0x10, 0x18, 0x14}));
}

TEST_F(OsSwitch, LegacyModeShowsItsMessageAndSendsNothingElse)
{
    ASSERT_THAT(Firmsim(L"answer 24 1"), Succeeds());
    SwitcherRun run(L"");
    const SeenBox box = AnswerBox(VK_RETURN);
    EXPECT_THAT(run.Wait(), ExitsWith(1));
    EXPECT_TRUE(box.Shown);
    EXPECT_TRUE(box.BandOnScreen);
    EXPECT_EQ(box.Caption, L"");
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18}));
}

TEST_F(OsSwitch, NotReadyShowsTheWarning)
{
    // 2 passes the mode check (low bits 2) and fails the readiness check
    // (neither of the top two bits nor bit 3).
    ASSERT_THAT(Firmsim(L"answer 24 2"), Succeeds());
    SwitcherRun run(L"");
    const SeenBox box = AnswerBox(VK_RETURN);
    EXPECT_THAT(run.Wait(), ExitsWith(1));
    EXPECT_TRUE(box.Shown);
    EXPECT_EQ(box.Caption, L"Warning");
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18, 0x10, 0x18}));
}

TEST_F(OsSwitch, DisabledFeatureStartsTheConfigurationTool)
{
    ASSERT_THAT(Firmsim(L"answer 16 0"), Succeeds());
    const size_t before = ConfigToolStarts();
    EXPECT_THAT(RunSwitcherProgram(L""), ExitsWith(0));
    EXPECT_TRUE(WaitForConfigToolStarts(before + 1, 15000));
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18, 0x10}));
}

TEST_F(OsSwitch, NotReadyFirmwareMakesNowExitOneAndStartNothing)
{
    ASSERT_THAT(Firmsim(L"answer 17 1"), Succeeds());
    const size_t before = ConfigToolStarts();
    EXPECT_THAT(RunSwitcherProgram(L"-now"), ExitsWith(1));
    Sleep(1000);
    EXPECT_EQ(ConfigToolStarts(), before);
    EXPECT_EQ(CallCodes(), (Codes{0x11}));
}

TEST_F(OsSwitch, ShowMsgTwoAsksAndCancelSendsNoRequest)
{
    SetShowMsg(2);
    SwitcherRun run(L"");
    const SeenBox box = AnswerBox(VK_ESCAPE);
    EXPECT_THAT(run.Wait(), ExitsWith(1));
    EXPECT_TRUE(box.Shown);
    EXPECT_TRUE(box.BandOnScreen);
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18, 0x10, 0x18}));
}

TEST_F(OsSwitch, ShowMsgTwoAndOkSendsTheRequest)
{
    SetShowMsg(2);
    SwitcherRun run(L"");
    const SeenBox box = AnswerBox(VK_RETURN);
    EXPECT_THAT(run.Wait(), ExitsWith(0));
    EXPECT_TRUE(box.Shown);
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18, 0x10, 0x18, 0x14}));
}

TEST_F(OsSwitch, NoMsgAsksNothingEvenWithShowMsgTwo)
{
    SetShowMsg(2);
    EXPECT_THAT(RunSwitcherProgram(L"-nomsg"), ExitsWith(0));
    EXPECT_EQ(CallCodes(), (Codes{0x11, 0x18, 0x10, 0x18, 0x14}));
}

// Last: it takes the service away.
TEST_F(OsSwitch, WithTheServiceStoppedSwitchStartsTheToolAndNowExitsOne)
{
    ASSERT_TRUE(RemoveServiceIfPresent());
    ASSERT_THAT(Firmsim(L"reset"), Succeeds());
    const size_t before = ConfigToolStarts();
    EXPECT_THAT(RunSwitcherProgram(L""), ExitsWith(0));
    EXPECT_TRUE(WaitForConfigToolStarts(before + 1, 15000));
    EXPECT_THAT(RunSwitcherProgram(L"-now"), ExitsWith(1));
    Sleep(1000);
    EXPECT_EQ(ConfigToolStarts(), before + 1);
    EXPECT_TRUE(CallCodes().empty());
}

}  // namespace
