#include <gtest/gtest.h>

#include "sim/firmware/firmsim_text.h"

namespace firmsim {
namespace {

TEST(FirmsimNumber, AcceptsDecimalAndHexOverTheWhole32BitRange)
{
    EXPECT_EQ(ParseNumber(L"0"), 0u);
    EXPECT_EQ(ParseNumber(L"210"), 210u);
    EXPECT_EQ(ParseNumber(L"0xD2"), 0xD2u);
    EXPECT_EQ(ParseNumber(L"0Xd2"), 0xD2u);
    EXPECT_EQ(ParseNumber(L"4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber(L"0xFFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber(L"0x0000000080041001"), 0x80041001u);
}

TEST(FirmsimNumber, RejectsEverythingElse)
{
    for (const wchar_t* text : {L"", L"0x", L"-1", L"+1", L" 1", L"1 ", L"4294967296", L"0x100000000", L"12a",
                                L"0xG", L"1e3", L"\x0661"})
        EXPECT_FALSE(ParseNumber(text).has_value()) << "accepted: " << testing::PrintToString(std::wstring(text));
}

ParsedCommand Parse(std::vector<std::wstring> args)
{
    return ParseCommand(args);
}

TEST(FirmsimCommand, ReadsEveryCommandWithItsOperands)
{
    auto answer = Parse({L"answer", L"0x10", L"7"});
    ASSERT_TRUE(answer.command);
    EXPECT_EQ(answer.command->kind, CommandKind::Answer);
    EXPECT_EQ(answer.command->first, 0x10u);
    EXPECT_EQ(answer.command->second, 7u);

    auto fail = Parse({L"fail", L"17", L"0x80041001"});
    ASSERT_TRUE(fail.command);
    EXPECT_EQ(fail.command->second, 0x80041001u);

    auto rettype = Parse({L"rettype", L"sint32"});
    ASSERT_TRUE(rettype.command);
    EXPECT_EQ(rettype.command->returnType, ReturnType::SInt32);

    auto resume = Parse({L"resume", L"65535"});
    ASSERT_TRUE(resume.command);
    EXPECT_EQ(resume.command->first, 65535u);

    for (const wchar_t* word : {L"install", L"uninstall", L"absent", L"present", L"calls", L"reset"})
        EXPECT_TRUE(Parse({word}).command) << testing::PrintToString(std::wstring(word));
}

TEST(FirmsimCommand, BadInputGivesOneLineError)
{
    const std::vector<std::vector<std::wstring>> bad = {
        {},
        {L"bogus"},
        {L"answer", L"17"},
        {L"answer", L"17", L"1", L"2"},
        {L"answer", L"x", L"1"},
        {L"fail", L"17", L"0"},
        {L"rettype", L"uint16"},
        {L"raise"},
        {L"raise", L"0x1FFFFFFFF"},
        {L"resume", L"65536"},
        {L"calls", L"now"},
        {L"RESET"},
    };
    for (const auto& args : bad) {
        const auto parsed = ParseCommand(args);
        EXPECT_FALSE(parsed.command.has_value());
        EXPECT_FALSE(parsed.error.empty());
        EXPECT_EQ(parsed.error.find(L'\n'), std::wstring::npos);
    }
}

TEST(FirmsimState, DefaultAnswersFollowTheFirmwareTable)
{
    FirmwareState state;
    EXPECT_EQ(AnswerFor(state, 17), 0u);
    EXPECT_EQ(AnswerFor(state, 16), 0x40000021u);
    EXPECT_EQ(AnswerFor(state, 24), 0x40000000u);
    EXPECT_EQ(AnswerFor(state, 20), 0u);
    EXPECT_EQ(AnswerFor(state, 19), 1u);
    EXPECT_EQ(AnswerFor(state, 99), 0u);
    ApplyCommand(state, Command{CommandKind::Answer, 16, 0x40000001});
    EXPECT_EQ(AnswerFor(state, 16), 0x40000001u);
}

TEST(FirmsimState, AnswerAfterFailClearsTheFailure)
{
    FirmwareState state;
    ApplyCommand(state, Command{CommandKind::Fail, 17, 0x80041001});
    EXPECT_EQ(state.failures.at(17), 0x80041001u);
    ApplyCommand(state, Command{CommandKind::Answer, 17, 3});
    EXPECT_EQ(state.failures.count(17), 0u);
}

TEST(FirmsimState, FormatAndParseRoundTrip)
{
    FirmwareState state;
    state.present = false;
    state.returnType = ReturnType::String;
    state.answers[0x10] = 0x40000021;
    state.failures[0x11] = 0x80041001;
    RecordCall(state, {0x11, 0});
    RecordCall(state, {0x13, 0x40000320});
    RaiseEvent(state, EventKind::DualOs, 0xD2);
    RaiseEvent(state, EventKind::Power, 7);

    const auto parsed = ParseState(FormatState(state));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, state);
    EXPECT_EQ(parsed->lastSequence, 2u);
}

TEST(FirmsimState, ParseRejectsDamagedText)
{
    const std::string good = FormatState(FirmwareState{});
    ASSERT_TRUE(ParseState(good).has_value());
    ASSERT_TRUE(ParseState("firmsim-state 1\r\nsequence 3\r\n").has_value());
    for (const char* text : {
             "",
             "firmsim-state 2\nsequence 0\n",
             "firmsim-state 1\n",
             "firmsim-state 1\nsequence 0\npresent 2\n",
             "firmsim-state 1\nsequence 0\nrettype uint16\n",
             "firmsim-state 1\nsequence 0\ncall 0x11\n",
             "firmsim-state 1\nsequence 0\ncall 0x11 0x0 0x0\n",
             "firmsim-state 1\nsequence 0\nanswer 0x11 -1\n",
             "firmsim-state 1\nsequence 5\nevent 3 dualos 0xd2\nevent 3 power 0x7\n",
             "firmsim-state 1\nsequence 1\nevent 2 dualos 0xd2\n",
             "firmsim-state 1\nsequence 1\nevent 1 other 0xd2\n",
             "firmsim-state 1\nsequence 0\n   \n",
             "firmsim-state 1\nsequence 0\nunknown 1\n",
         })
        EXPECT_FALSE(ParseState(text).has_value()) << text;
}

TEST(FirmsimState, CallsAreListedOldestFirstInTheRecordFormat)
{
    FirmwareState state;
    RecordCall(state, {0x11, 0});
    RecordCall(state, {0x13, 0x40000320});
    EXPECT_EQ(FormatCalls(state), "0x00000011 0x00000000\n0x00000013 0x40000320\n");
}

TEST(FirmsimState, CallRecordParsesBackAndKeepsTheLastCalls)
{
    FirmwareState state;
    RecordCall(state, {0x11, 0});
    RecordCall(state, {0x13, 0x40000320});
    FirmwareState parsed;
    ASSERT_TRUE(ParseCalls(FormatCalls(state), parsed));
    EXPECT_EQ(parsed.calls, state.calls);
    EXPECT_EQ(FormatCall({0x14, 1}).size(), 22u);

    std::string many;
    for (uint32_t i = 0; i < kMaxRecordedCalls + 3; ++i)
        many += FormatCall({i, 0});
    ASSERT_TRUE(ParseCalls(many, parsed));
    ASSERT_EQ(parsed.calls.size(), kMaxRecordedCalls);
    EXPECT_EQ(parsed.calls.front().code, 3u);
    EXPECT_EQ(parsed.calls.back().code, kMaxRecordedCalls + 2);

    for (const char* damaged : {"0x11 0x0", "0x11\n", "0x11 0x0 0x0\n", "0x11 x\n", "\n"}) {
        FirmwareState untouched;
        RecordCall(untouched, {1, 2});
        EXPECT_FALSE(ParseCalls(damaged, untouched)) << damaged;
        EXPECT_EQ(untouched.calls.size(), 1u) << damaged;
    }
}

TEST(FirmsimState, ResetKeepsTheEventSequenceCounting)
{
    FirmwareState state;
    RaiseEvent(state, EventKind::DualOs, 0xD2);
    RecordCall(state, {0x11, 0});
    state.present = false;
    ResetState(state);
    EXPECT_TRUE(state.present);
    EXPECT_TRUE(state.calls.empty());
    EXPECT_TRUE(state.events.empty());
    RaiseEvent(state, EventKind::DualOs, 0xD5);
    EXPECT_EQ(state.events.back().sequence, 2u);
}

TEST(FirmsimState, PendingEventsAndCallsStayBounded)
{
    FirmwareState state;
    for (uint32_t i = 0; i < kMaxPendingEvents + 5; ++i)
        RaiseEvent(state, EventKind::Power, i);
    ASSERT_EQ(state.events.size(), kMaxPendingEvents);
    EXPECT_EQ(state.events.front().value, 5u);
    EXPECT_EQ(state.events.back().sequence, kMaxPendingEvents + 5);

    for (uint32_t i = 0; i < kMaxRecordedCalls + 2; ++i)
        RecordCall(state, {i, 0});
    ASSERT_EQ(state.calls.size(), kMaxRecordedCalls);
    EXPECT_EQ(state.calls.front().code, 2u);
}

TEST(FirmsimWql, SelectAllQueriesNameTheirClass)
{
    EXPECT_EQ(ParseSelectAllQuery(L"Select * from DualOsMethod"), L"DualOsMethod");
    EXPECT_EQ(ParseSelectAllQuery(L"  SELECT\t*\nFROM   Win32_PowerManagementEvent "), L"Win32_PowerManagementEvent");
    EXPECT_EQ(ParseSelectAllQuery(L"select*from DualOsEvent"), L"DualOsEvent");
    for (const wchar_t* query : {L"", L"SELECT * FROM", L"SELECT EventCode FROM DualOsEvent",
                                 L"SELECT * FROM DualOsEvent WHERE EventCode = 1", L"SELECT * DualOsEvent",
                                 L"SELECT * FROM *", L"DELETE * FROM DualOsEvent"})
        EXPECT_FALSE(ParseSelectAllQuery(query).has_value()) << testing::PrintToString(std::wstring(query));
}

TEST(FirmsimNamespace, LocalServerPrefixesAndSlashesAreDropped)
{
    EXPECT_EQ(LocalNamespace(L"root\\wmi", L"BOX"), L"root\\wmi");
    EXPECT_EQ(LocalNamespace(L"\\\\.\\ROOT\\WMI", L"BOX"), L"ROOT\\WMI");
    EXPECT_EQ(LocalNamespace(L"//./root/cimv2", L"BOX"), L"root\\cimv2");
    EXPECT_EQ(LocalNamespace(L"\\\\box\\root\\wmi", L"BOX"), L"root\\wmi");
    EXPECT_EQ(LocalNamespace(L"\\\\localhost\\root\\wmi", L"BOX"), L"root\\wmi");
    EXPECT_EQ(LocalNamespace(L"\\\\other\\root\\wmi", L"BOX"), L"\\\\other\\root\\wmi");
}

TEST(FirmsimObjectPath, ReadsClassAndInstancePaths)
{
    auto classPath = ParseObjectPath(L"DualOsMethod");
    ASSERT_TRUE(classPath);
    EXPECT_EQ(classPath->className, L"DualOsMethod");
    EXPECT_TRUE(classPath->keyName.empty());

    auto full = ParseObjectPath(L"\\\\BOX\\ROOT\\wmi:DualOsMethod.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->server, L"BOX");
    EXPECT_EQ(full->nameSpace, L"ROOT\\wmi");
    EXPECT_EQ(full->className, L"DualOsMethod");
    EXPECT_EQ(full->keyName, L"InstanceName");
    EXPECT_EQ(full->keyValue, L"ACPI\\PNP0C14\\0_0");

    auto relative = ParseObjectPath(L"root\\wmi:DualOsMethod.InstanceName=\"a\\\"b\"");
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->nameSpace, L"root\\wmi");
    EXPECT_EQ(relative->keyValue, L"a\"b");

    auto numeric = ParseObjectPath(L"Win32_DiskDrive.Index=0x1");
    ASSERT_TRUE(numeric);
    EXPECT_EQ(numeric->keyValue, L"0x1");
}

TEST(FirmsimObjectPath, RejectsMalformedPaths)
{
    for (const wchar_t* path : {L"", L".Key=\"x\"", L"Class.", L"Class.Key", L"Class.Key=", L"Class.Key=\"open",
                                L"Class.Key=\"x\"tail", L"Class.Key=\"bad\\escape\"", L"Class Name",
                                L"\\\\server", L"\\\\server\\ns", L":Class", L"Class.Key=12x"})
        EXPECT_FALSE(ParseObjectPath(path).has_value()) << testing::PrintToString(std::wstring(path));
}

TEST(FirmsimObjectPath, EscapedKeyValuesReadBackUnchanged)
{
    const std::wstring value = L"ACPI\\PNP0C14\\\"0_0\"";
    auto parsed = ParseObjectPath(L"DualOsMethod.InstanceName=\"" + EscapeKeyValue(value) + L"\"");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->keyValue, value);
}

}  // namespace
}  // namespace firmsim
