#include <gtest/gtest.h>

#include "sim/firmware/command_line.h"

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

}  // namespace
}  // namespace firmsim
