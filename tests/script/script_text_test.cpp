#include "common/script/script_text.h"

#include <gtest/gtest.h>

#include <string>

namespace obrin::script {
namespace {

ScriptActions Parse(std::wstring_view text, std::ptrdiff_t* last = nullptr)
{
    ScriptActions actions;
    const std::ptrdiff_t position = ParseScript(text, actions);
    if (last)
        *last = position;
    return actions;
}

ScriptAction Action(int code, std::vector<std::wstring> arguments)
{
    return ScriptAction{code, std::move(arguments)};
}

TEST(ParseScript, ReadsActionsWithTheirFieldsAndReportsLastBracket)
{
    std::ptrdiff_t last = 0;
    const ScriptActions actions = Parse(L"[100=root\\wmi,0,][101=4,3,0,]", &last);
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0], Action(action::kConnect, {L"root\\wmi", L"0"}));
    EXPECT_EQ(actions[1], Action(action::kSetProxyBlanket, {L"4", L"3", L"0"}));
    EXPECT_EQ(last, 28);
}

TEST(ParseScript, SkipsTextBeforeBracketAndEmptyFields)
{
    const ScriptActions actions = Parse(L"junk\r\n[0=a,,b]tail");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0], Action(action::kSetVariable, {L"a", L"b"}));
}

TEST(ParseScript, LastFieldEndsAtBracketWithoutComma)
{
    EXPECT_EQ(Parse(L"[7=x,y]")[0], Action(7, {L"x", L"y"}));
}

TEST(ParseScript, EmptyCodeEndsParsing)
{
    std::ptrdiff_t last = 0;
    const ScriptActions actions = Parse(L"[0=a,1,][=a,][0=b,2,]", &last);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(last, 7);
    EXPECT_TRUE(Parse(L"[=a,]", &last).empty());
    EXPECT_EQ(last, -1);
}

TEST(ParseScript, EqualsBehindBracketOrMissingEndsParsing)
{
    EXPECT_TRUE(Parse(L"[abc][100=x,]").empty());
    EXPECT_TRUE(Parse(L"[abc]").empty());
    EXPECT_TRUE(Parse(L"[100=x,").empty());
}

TEST(ParseScript, CodesOutOfRangeOrNotNumbersAreUnset)
{
    const ScriptActions actions = Parse(L"[100000=a,][-1=a,][x=a,][ 42junk=a,][99999=,][99999999999=,]");
    ASSERT_EQ(actions.size(), 6u);
    EXPECT_EQ(actions[0].code, -1);
    EXPECT_EQ(actions[1].code, -1);
    EXPECT_EQ(actions[2].code, -1);
    EXPECT_EQ(actions[3].code, 42);
    EXPECT_EQ(actions[4].code, 99999);
    EXPECT_EQ(actions[5].code, -1);
}

TEST(ParseScript, ActionWithoutArgumentsHasNone)
{
    const ScriptActions actions = Parse(L"[0=,][199=]");
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0], Action(action::kSetVariable, {}));
    EXPECT_EQ(actions[1], Action(action::kReleaseConnection, {}));
}

TEST(ParseScriptChunk, PendingActionStartsAtItsBracket)
{
    ScriptActions actions;
    const ScriptChunkParse parse = ParseScriptChunk(L"[0=a,]xx[100=ro", actions);
    EXPECT_EQ(actions.size(), 1u);
    EXPECT_EQ(parse.lastBracket, 5);
    EXPECT_EQ(parse.pendingStart, 8u);
    EXPECT_FALSE(parse.ended);
}

TEST(ParseScriptChunk, TextWithoutBracketIsNotPending)
{
    ScriptActions actions;
    const ScriptChunkParse parse = ParseScriptChunk(L"[0=a,]trailing text", actions);
    EXPECT_EQ(parse.pendingStart, 19u);
    EXPECT_FALSE(parse.ended);
}

TEST(ParseScriptChunk, MalformedActionEndsTheMessage)
{
    ScriptActions actions;
    EXPECT_TRUE(ParseScriptChunk(L"[0=a,][=", actions).ended);
    EXPECT_TRUE(ParseScriptChunk(L"[0=a,][ab]cd", actions).ended);
    EXPECT_FALSE(ParseScriptChunk(L"[0=a,][ab", actions).ended);
}

// Splitting a script at every position gives the same actions as one parse.
TEST(ParseScriptChunk, CarryOverAtEveryPositionMatchesWholeParse)
{
    const std::wstring script = L"x[100=root\\wmi,0,][101=4,3,0,][0=k,v,][99=1,]y";
    const ScriptActions whole = Parse(script);
    for (std::size_t split = 0; split <= script.size(); ++split) {
        SCOPED_TRACE(split);
        ScriptActions actions;
        const ScriptChunkParse first = ParseScriptChunk(std::wstring_view(script).substr(0, split), actions);
        ASSERT_FALSE(first.ended);
        const std::wstring rest = script.substr(first.pendingStart);
        ParseScriptChunk(rest, actions);
        EXPECT_EQ(actions, whole);
    }
}

TEST(Numbers, ReadLikeDecimalStreamExtraction)
{
    EXPECT_EQ(ArgumentToLong(L"  -17xyz"), -17);
    EXPECT_EQ(ArgumentToLong(L"\t\n\v\f\r 8"), 8);
    EXPECT_EQ(ArgumentToLong(L"+5"), 5);
    EXPECT_EQ(ArgumentToLong(L"0x10"), 0);
    EXPECT_EQ(ArgumentToLong(L"-2147483648"), INT32_MIN);
    EXPECT_EQ(ArgumentToLong(L"2147483647"), INT32_MAX);
    EXPECT_EQ(ArgumentToUnsignedLong(L"4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(ArgumentToUnsignedLong(L"-1"), 0xFFFFFFFFu);
}

TEST(Numbers, TextThatIsNotANumberReadsAsZero)
{
    for (const wchar_t* text : {L"", L" ", L"-", L"+", L"abc", L"2147483648", L"-2147483649"}) {
        SCOPED_TRACE(testing::Message() << text);
        EXPECT_EQ(ArgumentToLong(text), 0);
    }
    EXPECT_EQ(ArgumentToUnsignedLong(L"4294967296"), 0u);
    EXPECT_EQ(ArgumentToUnsignedLong(L"x1"), 0u);
}

TEST(Variables, KeysDifferingInCaseAreOneKeepingFirstSpelling)
{
    ScriptVariables variables;
    variables[L"Foo"] = L"1";
    variables[L"FOO"] = L"2";
    ASSERT_EQ(variables.size(), 1u);
    EXPECT_EQ(variables.begin()->first, L"Foo");
    EXPECT_EQ(variables.begin()->second, L"2");
}

TEST(Variables, OrderFoldsToLowerCase)
{
    ScriptVariables variables;
    variables[L"WMIS_HRESULT"] = L"0";
    variables[L"NotifycationReturnValue"] = L"0";
    variables[L"__PATH"] = L"p";
    variables[L"wmis_actionindex"] = L"9";
    EXPECT_EQ(FormatResults(variables),
              L"__PATH=p;NotifycationReturnValue=0;wmis_actionindex=9;WMIS_HRESULT=0;");
}

TEST(Substitution, WholeArgumentOnly)
{
    ScriptVariables variables;
    variables[L"__PATH"] = L"DualOsMethod.InstanceName=\"x\"";
    const ScriptAction action = Action(obrin::script::action::kExecMethod, {L"$(__path)", L"x$(__PATH)", L"$()", L"$(unset)", L"$(__PATH"});
    EXPECT_EQ(SubstitutedArgument(action, 0, variables), L"DualOsMethod.InstanceName=\"x\"");
    EXPECT_EQ(SubstitutedArgument(action, 1, variables), L"x$(__PATH)");
    EXPECT_EQ(SubstitutedArgument(action, 2, variables), L"$()");
    EXPECT_EQ(SubstitutedArgument(action, 3, variables), L"");
    EXPECT_EQ(SubstitutedArgument(action, 4, variables), L"$(__PATH");
    EXPECT_EQ(SubstitutedArgument(action, 9, variables), L"");
    EXPECT_EQ(ArgumentText(action, 0), L"$(__path)");
}

TEST(FormatResults, EmptyMapGivesEmptyText)
{
    EXPECT_EQ(FormatResults({}), L"");
}

TEST(Builder, WritesTheSwitchersActions)
{
    EXPECT_EQ(WriteAction(BuildAction(action::kConnect, L"root\\wmi,0")), L"[100=root\\wmi,0,]");
    EXPECT_EQ(WriteAction(BuildAction(action::kSetProxyBlanket, L"4,3,0")), L"[101=4,3,0,]");
    EXPECT_EQ(WriteAction(BuildAction(action::kExecQuery, L"Select * from DualOsMethod,16")),
              L"[102=Select * from DualOsMethod,16,]");
    EXPECT_EQ(WriteAction(BuildAction(action::kNextObject, L"-1")), L"[200=-1,]");
    EXPECT_EQ(WriteAction(BuildAction(action::kReadOutParameters, L"NotifycationReturnValue")), L"[301=NotifycationReturnValue,]");
    EXPECT_EQ(WriteAction(BuildAction(action::kReleaseConnection, L"")), L"[199=,]");
}

TEST(Builder, ReadBackDropsEmptyFieldsAndCutsAtBracket)
{
    EXPECT_EQ(BuildAction(action::kSetVariable, L"a,,b,"), Action(action::kSetVariable, {L"a", L"b"}));
    EXPECT_EQ(BuildAction(action::kSetVariable, L"a]b,c"), Action(action::kSetVariable, {L"a"}));
    EXPECT_EQ(BuildAction(100000, L"a"), Action(-1, {L"a"}));
}

TEST(Builder, ScriptIsConcatenationOfActions)
{
    const ScriptActions actions{BuildAction(action::kSetVariable, L"Foo,1"), BuildAction(action::kSetVariable, L"FOO,2")};
    EXPECT_EQ(WriteScript(actions), L"[0=Foo,1,][0=FOO,2,]");
    EXPECT_EQ(Parse(WriteScript(actions)), actions);
}

TEST(ParseResults, ReadsPairsIntoCaseInsensitiveMap)
{
    ScriptVariables results;
    ParseResults(L"Foo=2;WMIS_ActionIndex=1;wmis_hresult=-2147217407;x=a=b;last=z", results);
    EXPECT_EQ(results.size(), 5u);
    EXPECT_EQ(results[L"FOO"], L"2");
    EXPECT_EQ(results[L"WMIS_HRESULT"], L"-2147217407");
    EXPECT_EQ(results[L"x"], L"a=b");
    EXPECT_EQ(results[L"last"], L"z");
}

TEST(ParseResults, StopsAtEmptyKeyOrPairWithoutEquals)
{
    ScriptVariables results;
    ParseResults(L"a=1;=2;b=3;", results);
    EXPECT_EQ(results.size(), 1u);
    results.clear();
    ParseResults(L"a=1;junk;b=3;", results);
    EXPECT_EQ(results.size(), 1u);
    results.clear();
    ParseResults(L"a=1;junk", results);
    EXPECT_EQ(results.size(), 1u);
    results.clear();
    ParseResults(L"", results);
    EXPECT_TRUE(results.empty());
}

TEST(ParseResultChunk, OnlyFinishedPairsUntilTheLastChunk)
{
    ScriptVariables results;
    ResultChunkParse parse = ParseResultChunk(L"a=1;b=2", results, false);
    EXPECT_EQ(parse.consumed, 4u);
    EXPECT_FALSE(parse.ended);
    EXPECT_EQ(results.count(L"b"), 0u);
    parse = ParseResultChunk(L"b=2", results, true);
    EXPECT_EQ(parse.consumed, 3u);
    EXPECT_EQ(results[L"b"], L"2");
}

TEST(ParseResultChunk, SplitAtEveryPositionMatchesWholeParse)
{
    const std::wstring text = L"__PATH=a;NotifycationReturnValue=0;WMIS_ActionIndex=9;WMIS_HRESULT=0;";
    ScriptVariables whole;
    ParseResults(text, whole);
    for (std::size_t split = 0; split <= text.size(); ++split) {
        SCOPED_TRACE(split);
        ScriptVariables results;
        const ResultChunkParse first = ParseResultChunk(std::wstring_view(text).substr(0, split), results, false);
        ParseResultChunk(std::wstring_view(text).substr(first.consumed), results, true);
        EXPECT_EQ(results, whole);
    }
}

}  // namespace
}  // namespace obrin::script
