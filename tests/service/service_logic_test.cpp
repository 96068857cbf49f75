#include "service/event_reactions.h"
#include "service/launch_decisions.h"
#include "service/taskbar_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FirmwareEvents, EachCodeGetsItsReaction)
{
    struct Case {
        std::uint32_t code;
        FirmwareEventAction action;
        const wchar_t* word;
    };
    const Case cases[] = {
        {0xD1, FirmwareEventAction::LaunchSwitcher, L"config"}, {0xD2, FirmwareEventAction::LaunchSwitcher, L"reboot"},
        {0xD3, FirmwareEventAction::LaunchSwitcher, L"s3"},     {0xD4, FirmwareEventAction::LaunchSwitcher, L"s4"},
        {0xD5, FirmwareEventAction::LaunchSwitcher, L"shutdown"}, {0xD6, FirmwareEventAction::LaunchSwitcher, L"hybrid"},
        {0xD7, FirmwareEventAction::LaunchSwitcher, L"config"}, {0xE1, FirmwareEventAction::BootTypeError, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const FirmwareEventReaction reaction = ReactionToFirmwareEvent(c.code);
        EXPECT_EQ(reaction.action, c.action);
        if (c.word) {
            EXPECT_EQ(std::wstring(reaction.actionWord), c.word);
        }
    }
}

TEST(FirmwareEvents, OtherCodesDoNothing)
{
    for (std::uint32_t code : {0x00u, 0x42u, 0xD0u, 0xD8u, 0xDCu, 0xE0u, 0xE2u, 0x1D1u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(ReactionToFirmwareEvent(code).action, FirmwareEventAction::None);
        EXPECT_EQ(ReactionToFirmwareEvent(code).actionWord, nullptr);
    }
}

TEST(PowerEvents, OnlyTheTwoResumeTypesCount)
{
    EXPECT_TRUE(IsResumeEvent(7));
    EXPECT_TRUE(IsResumeEvent(18));
    for (std::uint16_t type : {0, 4, 6, 8, 10, 11, 17, 19, 0xFFFF})
        EXPECT_FALSE(IsResumeEvent(type)) << type;
}

TEST(CodeName, OnlyExactTalvexMatches)
{
    EXPECT_TRUE(IsTalvexPlatform(L"Talvex", 1024));
    EXPECT_FALSE(IsTalvexPlatform(L"talvex", 1024));
    EXPECT_FALSE(IsTalvexPlatform(L"TALVEX", 1024));
    EXPECT_FALSE(IsTalvexPlatform(L"Talvex2", 1024));
    EXPECT_FALSE(IsTalvexPlatform(L"Talve", 1024));
    EXPECT_FALSE(IsTalvexPlatform(L" Talvex", 1024));
    EXPECT_FALSE(IsTalvexPlatform(L"", 1024));
    EXPECT_FALSE(IsTalvexPlatform(nullptr, 1024));
}

TEST(CodeName, ComparisonStaysWithinTheBuffer)
{
    // A value filling the buffer has no terminator; only the buffer is read
    // (the sanitizers catch any read beyond it).
    const wchar_t exact[6] = {L'T', L'a', L'l', L'v', L'e', L'x'};
    EXPECT_TRUE(IsTalvexPlatform(exact, 6));
    const wchar_t shorter[5] = {L'T', L'a', L'l', L'v', L'e'};
    EXPECT_FALSE(IsTalvexPlatform(shorter, 5));
    const wchar_t longer[8] = {L'T', L'a', L'l', L'v', L'e', L'x', L'y', L'z'};
    EXPECT_FALSE(IsTalvexPlatform(longer, 8));
}

TEST(Capabilities, FirstTestNeedsReadyAndEnabled)
{
    EXPECT_TRUE(FirstCapabilityTestPasses(0x40000001));
    EXPECT_TRUE(FirstCapabilityTestPasses(0x40000021));
    EXPECT_TRUE(FirstCapabilityTestPasses(0xFFFFFFFF));
    EXPECT_FALSE(FirstCapabilityTestPasses(0x40000000));
    EXPECT_FALSE(FirstCapabilityTestPasses(0x00000021));
    EXPECT_FALSE(FirstCapabilityTestPasses(0));
}

TEST(Capabilities, SecondTestAlsoNeedsThePinBit)
{
    EXPECT_TRUE(SecondCapabilityTestPasses(0x40000021));
    EXPECT_TRUE(SecondCapabilityTestPasses(0xC0000023));
    EXPECT_FALSE(SecondCapabilityTestPasses(0x40000001));
    EXPECT_FALSE(SecondCapabilityTestPasses(0x40000020));
    EXPECT_FALSE(SecondCapabilityTestPasses(0x00000021));
}

TEST(Sessions, FirstActiveSessionInEnumerationOrder)
{
    const SessionEntry none[] = {{0, 4}, {1, 1}};  // services session disconnected, console connected
    EXPECT_FALSE(FirstActiveSession(none, 2).has_value());
    const SessionEntry two[] = {{0, 4}, {3, 0}, {2, 0}};
    EXPECT_EQ(FirstActiveSession(two, 3), 3u);
    EXPECT_FALSE(FirstActiveSession(two, 0).has_value());
    EXPECT_FALSE(FirstActiveSession(nullptr, 3).has_value());
}

TEST(SwitcherCommandLine, QuotedProgramBesideTheServiceThenAction)
{
    EXPECT_EQ(DirectoryOf(L"C:\\Program Files\\Vantrel\\VantrelObrin\\ObrinService.exe"),
              L"C:\\Program Files\\Vantrel\\VantrelObrin\\");
    EXPECT_EQ(DirectoryOf(L"ObrinService.exe"), L"");
    EXPECT_EQ(SwitcherCommandLine(L"C:\\Program Files\\Vantrel\\VantrelObrin\\", L"config", false),
              L"\"C:\\Program Files\\Vantrel\\VantrelObrin\\ObrinSwitcher.exe\" -config");
    EXPECT_EQ(SwitcherCommandLine(L"C:\\obrin\\", L"taskbarunpin", true),
              L"\"C:\\obrin\\ObrinSwitcher.exe\" -taskbarunpin -nomsg");
}

}  // namespace
