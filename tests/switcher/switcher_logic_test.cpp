#include "switcher/switch_flow.h"
#include "switcher/switcher_options.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

SwitcherOptions Parse(std::vector<const wchar_t*> words)
{
    return ParseSwitcherOptions(words.data(), static_cast<int>(words.size()));
}

TEST(SwitcherOptions, NoArgumentsIsTheSwitchRequest)
{
    const SwitcherOptions options = Parse({});
    EXPECT_EQ(options.Action, ACTION_SWITCH);
    EXPECT_FALSE(options.NoMsg);
}

TEST(SwitcherOptions, EachWordNamesItsActionWithoutRegardToCase)
{
    const std::pair<const wchar_t*, SwitcherAction> cases[] = {
        {L"-s3", ACTION_S3},           {L"-s4", ACTION_S4},
        {L"-s5", ACTION_S5},           {L"-hybrid", ACTION_HYBRID},
        {L"-shutdown", ACTION_SHUTDOWN}, {L"-reboot", ACTION_REBOOT},
        {L"-REBOOT", ACTION_REBOOT},   {L"-ReBoot", ACTION_REBOOT},
        {L"-taskbarpin", ACTION_TASKBAR_PIN}, {L"-TaskbarUnpin", ACTION_TASKBAR_UNPIN},
        {L"-config", ACTION_CONFIG},   {L"-NOW", ACTION_SWITCH_NOW},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Parse({cases[i].first}).Action, cases[i].second) << "case " << i;
}

TEST(SwitcherOptions, LastWordDecidesAndAnUnknownOneCancels)
{
    EXPECT_EQ(Parse({L"-s3", L"-reboot"}).Action, ACTION_REBOOT);
    EXPECT_EQ(Parse({L"-reboot", L"-x"}).Action, ACTION_INVALID);
    EXPECT_EQ(Parse({L"-x", L"-reboot"}).Action, ACTION_REBOOT);
    EXPECT_EQ(Parse({L"-reboot", L""}).Action, ACTION_INVALID);
    EXPECT_EQ(Parse({L"-reboot", nullptr}).Action, ACTION_INVALID);
    // Near misses are unknown words.
    EXPECT_EQ(Parse({L"-s"}).Action, ACTION_INVALID);
    EXPECT_EQ(Parse({L"-rebootx"}).Action, ACTION_INVALID);
    EXPECT_EQ(Parse({L"reboot"}).Action, ACTION_INVALID);
    EXPECT_EQ(Parse({L"/reboot"}).Action, ACTION_INVALID);
    // Only A-Z fold, as _wcsicmp does in the "C" locale: a fullwidth S is no s.
    EXPECT_EQ(Parse({L"-\xFF33" L"3"}).Action, ACTION_INVALID);
    // Nor is the Kelvin sign a k, although its Unicode lower case is.
    EXPECT_EQ(Parse({L"-tas\x212A" L"barpin"}).Action, ACTION_INVALID);
}

TEST(SwitcherOptions, NoMsgKeepsTheActionInEitherOrder)
{
    for (const auto& words : {std::vector<const wchar_t*>{L"-reboot", L"-nomsg"},
                              std::vector<const wchar_t*>{L"-NOMSG", L"-reboot"}}) {
        const SwitcherOptions options = Parse(words);
        EXPECT_EQ(options.Action, ACTION_REBOOT);
        EXPECT_TRUE(options.NoMsg);
    }
    const SwitcherOptions alone = Parse({L"-nomsg"});
    EXPECT_EQ(alone.Action, ACTION_SWITCH);
    EXPECT_TRUE(alone.NoMsg);
    const SwitcherOptions unknown = Parse({L"-nomsg", L"-bogus"});
    EXPECT_EQ(unknown.Action, ACTION_INVALID);
    EXPECT_TRUE(unknown.NoMsg);
}

TEST(SwitchChecks, PassRules)
{
    EXPECT_TRUE(ReadyCheckPasses(0));
    EXPECT_FALSE(ReadyCheckPasses(1));
    EXPECT_FALSE(ReadyCheckPasses(0x80000000));

    EXPECT_TRUE(ModeCheckPasses(0x40000000));
    EXPECT_TRUE(ModeCheckPasses(0x80000000));
    EXPECT_TRUE(ModeCheckPasses(0x00000002));
    EXPECT_TRUE(ModeCheckPasses(0x00000006));
    EXPECT_FALSE(ModeCheckPasses(0x00000001));
    EXPECT_FALSE(ModeCheckPasses(0x00000003));
    EXPECT_FALSE(ModeCheckPasses(0x00000000));

    EXPECT_TRUE(EnableCheckPasses(0x40000021));
    EXPECT_TRUE(EnableCheckPasses(0xFFFFFFFF));
    EXPECT_FALSE(EnableCheckPasses(0x40000020));
    EXPECT_FALSE(EnableCheckPasses(0x40000001));
    EXPECT_FALSE(EnableCheckPasses(0x00000021));
    EXPECT_FALSE(EnableCheckPasses(0));

    EXPECT_TRUE(ReadinessCheckPasses(0x00000008));
    EXPECT_TRUE(ReadinessCheckPasses(0x40000000));
    EXPECT_TRUE(ReadinessCheckPasses(0x80000000));
    EXPECT_FALSE(ReadinessCheckPasses(0x00000000));
    EXPECT_FALSE(ReadinessCheckPasses(0x00000007));
    EXPECT_FALSE(ReadinessCheckPasses(0x3FFFFFF7));
}

struct ShownBox {
    std::wstring Text;
    std::wstring Caption;
    uint32_t Type;
};

// Answers from a list per code, in order; a code without (further) answers
// keeps the caller's preset, as when the service does not answer.
class FakeEnvironment final : public SwitchEnvironment {
public:
    uint32_t Query(uint32_t code, uint32_t preset) noexcept override
    {
        Calls.push_back(code);
        auto& answers = Answers[code];
        if (answers.empty())
            return preset;
        const uint32_t value = answers.front();
        answers.erase(answers.begin());
        return value;
    }
    int ShowMessage(const wchar_t* text, const wchar_t* caption, uint32_t type) noexcept override
    {
        Boxes.push_back({text ? text : L"(null)", caption ? caption : L"(null)", type});
        return BoxResult;
    }
    int RunConfig() noexcept override
    {
        ++ConfigRuns;
        return ConfigResult;
    }

    std::map<uint32_t, std::vector<uint32_t>> Answers;
    std::vector<uint32_t> Calls;
    std::vector<ShownBox> Boxes;
    int BoxResult = 1;
    int ConfigRuns = 0;
    int ConfigResult = 0;
};

// The firmware stand-in's defaults: ready, UEFI mode, enabled, ready to switch.
FakeEnvironment ReadyFirmware()
{
    FakeEnvironment environment;
    environment.Answers = {{CODE_READY, {0}}, {CODE_MODE, {0x40000000, 0x40000000}}, {CODE_ENABLE, {0x40000021}},
                           {CODE_SWITCH, {0}}};
    return environment;
}

class SwitchFlow : public testing::Test {
protected:
    SwitchFlow()
    {
        m_strings.Found = 1;
        m_strings.Strings[OSSWITCHER_IDS_SWITCH_WITH_LEGACY] = m_legacy;
        m_strings.Strings[OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY] = m_notReady;
        m_strings.Strings[OSSWITCHER_IDS_SWITCH_CONTINUE] = m_continue;
    }

    LangStrings m_strings = {};
    wchar_t m_legacy[16] = L"legacy text";
    wchar_t m_notReady[16] = L"not ready text";
    wchar_t m_continue[16] = L"continue text";
};

using Codes = std::vector<uint32_t>;

TEST_F(SwitchFlow, ChecksPassInOrderAndTheRequestIsSent)
{
    FakeEnvironment environment = ReadyFirmware();
    EXPECT_EQ(DoSwitch(environment, 0, m_strings), 0);
    EXPECT_EQ(environment.Calls, (Codes{0x11, 0x18, 0x10, 0x18, 0x14}));
    EXPECT_TRUE(environment.Boxes.empty());
    EXPECT_EQ(environment.ConfigRuns, 0);
}

TEST_F(SwitchFlow, RequestAnsweredNonZeroExitsOne)
{
    FakeEnvironment environment = ReadyFirmware();
    environment.Answers[CODE_SWITCH] = {1};
    EXPECT_EQ(DoSwitch(environment, 0, m_strings), 1);
    FakeEnvironment silent = ReadyFirmware();
    silent.Answers[CODE_SWITCH] = {};  // the request itself gets no answer: preset 1
    EXPECT_EQ(DoSwitch(silent, 0, m_strings), 1);
}

TEST_F(SwitchFlow, WithoutAnyAnswerSwitchStartsTheToolAndNowExitsOne)
{
    FakeEnvironment environment;
    environment.ConfigResult = 0;
    EXPECT_EQ(DoSwitch(environment, 2, m_strings), 0);
    EXPECT_EQ(environment.Calls, (Codes{0x11}));
    EXPECT_EQ(environment.ConfigRuns, 1);

    FakeEnvironment failingTool;
    failingTool.ConfigResult = 1;
    EXPECT_EQ(DoSwitch(failingTool, 0, m_strings), 1);

    FakeEnvironment now;
    EXPECT_EQ(DoSwitchNow(now, 2, m_strings), 1);
    EXPECT_EQ(now.Calls, (Codes{0x11}));
    EXPECT_EQ(now.ConfigRuns, 0);
    EXPECT_TRUE(now.Boxes.empty());
}

TEST_F(SwitchFlow, LegacyModeShowsItsMessageAndSendsNothingMore)
{
    for (bool now : {false, true}) {
        FakeEnvironment environment = ReadyFirmware();
        environment.Answers[CODE_MODE] = {1};
        EXPECT_EQ(now ? DoSwitchNow(environment, 0, m_strings) : DoSwitch(environment, 0, m_strings), 1);
        EXPECT_EQ(environment.Calls, (Codes{0x11, 0x18}));
        ASSERT_EQ(environment.Boxes.size(), 1u);
        EXPECT_EQ(environment.Boxes[0].Text, L"legacy text");
        EXPECT_EQ(environment.Boxes[0].Caption, L"");
        EXPECT_EQ(environment.Boxes[0].Type, 0x10u);
    }
    FakeEnvironment lowBitsTwo = ReadyFirmware();
    lowBitsTwo.Answers[CODE_MODE] = {2, 0x40000000};
    EXPECT_EQ(DoSwitch(lowBitsTwo, 0, m_strings), 0);
}

TEST_F(SwitchFlow, DisabledFeatureStartsTheToolInBothFlows)
{
    for (bool now : {false, true}) {
        FakeEnvironment environment = ReadyFirmware();
        environment.Answers[CODE_ENABLE] = {0};
        environment.ConfigResult = 1;
        EXPECT_EQ(now ? DoSwitchNow(environment, 0, m_strings) : DoSwitch(environment, 0, m_strings), 1);
        EXPECT_EQ(environment.Calls, (Codes{0x11, 0x18, 0x10}));
        EXPECT_EQ(environment.ConfigRuns, 1);
    }
}

TEST_F(SwitchFlow, NotReadyWarnsOnlyWithoutNow)
{
    FakeEnvironment environment = ReadyFirmware();
    environment.Answers[CODE_MODE] = {0x40000000, 0};
    EXPECT_EQ(DoSwitch(environment, 0, m_strings), 1);
    EXPECT_EQ(environment.Calls, (Codes{0x11, 0x18, 0x10, 0x18}));
    ASSERT_EQ(environment.Boxes.size(), 1u);
    EXPECT_EQ(environment.Boxes[0].Text, L"not ready text");
    EXPECT_EQ(environment.Boxes[0].Caption, L"Warning");
    EXPECT_EQ(environment.Boxes[0].Type, 0u);

    FakeEnvironment eight = ReadyFirmware();
    eight.Answers[CODE_MODE] = {0x40000000, 8};
    EXPECT_EQ(DoSwitch(eight, 0, m_strings), 0);

    FakeEnvironment now = ReadyFirmware();
    EXPECT_EQ(DoSwitchNow(now, 0, m_strings), 0);
    EXPECT_EQ(now.Calls, (Codes{0x11, 0x18, 0x10, 0x14}));
}

TEST_F(SwitchFlow, ConfirmationOnlyFromShowMsgTwoAndCancelStopsTheRequest)
{
    FakeEnvironment one = ReadyFirmware();
    EXPECT_EQ(DoSwitch(one, 1, m_strings), 0);
    EXPECT_TRUE(one.Boxes.empty());

    FakeEnvironment cancel = ReadyFirmware();
    cancel.BoxResult = 2;
    EXPECT_EQ(DoSwitch(cancel, 2, m_strings), 1);
    ASSERT_EQ(cancel.Boxes.size(), 1u);
    EXPECT_EQ(cancel.Boxes[0].Text, L"continue text");
    EXPECT_EQ(cancel.Boxes[0].Type, 0x41u);
    EXPECT_EQ(cancel.Calls, (Codes{0x11, 0x18, 0x10, 0x18}));

    for (int answer : {1, -1}) {
        FakeEnvironment goesOn = ReadyFirmware();
        goesOn.BoxResult = answer;
        EXPECT_EQ(DoSwitch(goesOn, 7, m_strings), 0) << answer;
        EXPECT_EQ(goesOn.Calls.back(), 0x14u) << answer;
    }

    FakeEnvironment nowCancel = ReadyFirmware();
    nowCancel.BoxResult = 2;
    EXPECT_EQ(DoSwitchNow(nowCancel, 2, m_strings), 1);
    EXPECT_EQ(nowCancel.Calls, (Codes{0x11, 0x18, 0x10}));
}

}  // namespace
