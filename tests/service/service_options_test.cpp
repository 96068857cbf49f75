#include "service/service_options.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

ServiceOptions Parse(std::vector<const wchar_t*> arguments)
{
    arguments.insert(arguments.begin(), L"ObrinService.exe");
    return ParseServiceOptions(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ServiceOptions, NoArgumentRunsTheService)
{
    EXPECT_EQ(Parse({}).command, ServiceCommand::RunService);
}

TEST(ServiceOptions, OptionWordsIgnoreCaseAndFurtherArguments)
{
    EXPECT_EQ(Parse({L"-install"}).command, ServiceCommand::Install);
    EXPECT_EQ(Parse({L"-INSTALL"}).command, ServiceCommand::Install);
    EXPECT_EQ(Parse({L"-Install", L"-uninstall"}).command, ServiceCommand::Install);
    EXPECT_EQ(Parse({L"-uninstall"}).command, ServiceCommand::Uninstall);
    EXPECT_EQ(Parse({L"-UnInstall", L"x"}).command, ServiceCommand::Uninstall);

    const ServiceOptions upper = Parse({L"-SHOWMSG", L"0"});
    EXPECT_EQ(upper.command, ServiceCommand::ShowMsg);
    EXPECT_EQ(upper.showMsgValue, 0);
    const ServiceOptions extra = Parse({L"-showmsg", L"1", L"2"});
    EXPECT_EQ(extra.command, ServiceCommand::ShowMsg);
    EXPECT_EQ(extra.showMsgValue, 1);
}

TEST(ServiceOptions, ShowMsgWithoutValueIsItsOwnCase)
{
    EXPECT_EQ(Parse({L"-showmsg"}).command, ServiceCommand::ShowMsgWithoutValue);
    EXPECT_EQ(Parse({L"-ShowMsg"}).command, ServiceCommand::ShowMsgWithoutValue);
}

TEST(ServiceOptions, OtherFirstArgumentsAreUnknown)
{
    EXPECT_EQ(Parse({L"install"}).command, ServiceCommand::Unknown);
    EXPECT_EQ(Parse({L"-installx"}).command, ServiceCommand::Unknown);
    EXPECT_EQ(Parse({L"-instal"}).command, ServiceCommand::Unknown);
    EXPECT_EQ(Parse({L""}).command, ServiceCommand::Unknown);
    EXPECT_EQ(Parse({L"/install"}).command, ServiceCommand::Unknown);
    EXPECT_EQ(Parse({L"1", L"-install"}).command, ServiceCommand::Unknown);
    // Only A-Z fold, as _wcsicmp does in the "C" locale: a dotted capital I,
    // whose Unicode lower case is i, is no i.
    EXPECT_EQ(Parse({L"-\x0130nstall"}).command, ServiceCommand::Unknown);
}

TEST(ServiceOptions, ReadDecimalFollowsTheCRules)
{
    EXPECT_EQ(ReadDecimal(L"1"), 1);
    EXPECT_EQ(ReadDecimal(L"7"), 7);
    EXPECT_EQ(ReadDecimal(L"-1"), -1);
    EXPECT_EQ(ReadDecimal(L"+2"), 2);
    EXPECT_EQ(ReadDecimal(L"  \t12abc"), 12);
    EXPECT_EQ(ReadDecimal(L"x"), 0);
    EXPECT_EQ(ReadDecimal(L""), 0);
    EXPECT_EQ(ReadDecimal(L"-"), 0);
    EXPECT_EQ(ReadDecimal(L"--1"), 0);
    EXPECT_EQ(ReadDecimal(L"1 2"), 1);
    EXPECT_EQ(ReadDecimal(nullptr), 0);
    EXPECT_EQ(ReadDecimal(L"2147483647"), INT_MAX);
    EXPECT_EQ(ReadDecimal(L"99999999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadDecimal(L"-2147483648"), INT_MIN);
    EXPECT_EQ(ReadDecimal(L"-99999999999999999999999"), INT_MIN);
}

TEST(ServiceOptions, ShowMsgControlCodeMapsOutOfRangeToTwo)
{
    EXPECT_EQ(ShowMsgControlCode(0), 128u);
    EXPECT_EQ(ShowMsgControlCode(1), 129u);
    EXPECT_EQ(ShowMsgControlCode(2), 130u);
    EXPECT_EQ(ShowMsgControlCode(3), 130u);
    EXPECT_EQ(ShowMsgControlCode(7), 130u);
    EXPECT_EQ(ShowMsgControlCode(-1), 130u);
    EXPECT_EQ(ShowMsgControlCode(INT_MIN), 130u);
    EXPECT_EQ(ShowMsgControlCode(INT_MAX), 130u);
}

}  // namespace
