#include "switcher/client/notify_script.h"

#include <gtest/gtest.h>

namespace {

using obrin::script::ParseResults;
using obrin::script::ScriptVariables;

NotifyReply Read(const wchar_t* resultText)
{
    ScriptVariables reply;
    ParseResults(resultText, reply);
    return ReadNotifyReply(reply);
}

TEST(NotifyScript, TenActionsWithTheCodeAsUnsignedDecimal)
{
    EXPECT_EQ(L"[100=root\\wmi,0,][101=4,3,0,][102=Select * from DualOsMethod,16,][200=-1,][401=__PATH,]"
              L"[104=DualOsMethod,DualOSNotify,][300=NotificationCode,17,][300=NotifycationParmeter,0,]"
              L"[105=$(__PATH),0,][301=NotifycationReturnValue,]",
              NotifyScriptText(17));
    const std::wstring high = NotifyScriptText(0x80000001u);
    EXPECT_NE(std::wstring::npos, high.find(L"[300=NotificationCode,2147483649,]")) << high;
}

TEST(NotifyReply, SuccessCarriesTheReturnValue)
{
    const NotifyReply reply = Read(L"__PATH=x;NotifycationReturnValue=0;WMIS_ActionIndex=9;WMIS_HRESULT=0;");
    EXPECT_EQ(0, reply.result);
    ASSERT_TRUE(reply.returnValue.has_value());
    EXPECT_EQ(0u, *reply.returnValue);
    EXPECT_EQ(L"9", reply.actionIndex);
}

TEST(NotifyReply, KeysAreFoundWhateverTheirCase)
{
    const NotifyReply reply = Read(L"notifycationreturnvalue=4294967295;wmis_hresult=0;");
    EXPECT_EQ(0, reply.result);
    EXPECT_EQ(0xFFFFFFFFu, reply.returnValue.value_or(0));
}

TEST(NotifyReply, FailureNamesTheActionAndCarriesNoValue)
{
    const NotifyReply reply = Read(L"WMIS_ActionIndex=8;WMIS_HRESULT=-2147217407;");
    EXPECT_EQ(static_cast<int32_t>(0x80041001), reply.result);
    EXPECT_EQ(L"8", reply.actionIndex);
    EXPECT_FALSE(reply.returnValue.has_value());
}

TEST(NotifyReply, ValueBesideAFailureIsNotTaken)
{
    const NotifyReply reply = Read(L"NotifycationReturnValue=0;WMIS_ActionIndex=8;WMIS_HRESULT=-1;");
    EXPECT_EQ(-1, reply.result);
    EXPECT_FALSE(reply.returnValue.has_value());
}

TEST(NotifyReply, ReplyWithoutNumericResultIsAFailure)
{
    for (const wchar_t* text : {L"", L"NotifycationReturnValue=0;", L"WMIS_HRESULT=;NotifycationReturnValue=0;",
                                L"WMIS_HRESULT=ok;NotifycationReturnValue=0;"}) {
        const NotifyReply reply = Read(text);
        EXPECT_EQ(kMalformedReply, reply.result) << text;
        EXPECT_FALSE(reply.returnValue.has_value()) << text;
    }
}

TEST(NotifyReply, UnreadableValueIsNotTakenAsZero)
{
    const NotifyReply reply = Read(L"NotifycationReturnValue=ready;WMIS_ActionIndex=9;WMIS_HRESULT=0;");
    EXPECT_EQ(kMalformedReply, reply.result);
    EXPECT_FALSE(reply.returnValue.has_value());
}

TEST(NotifyReply, SuccessWithoutValueLeavesItUnset)
{
    const NotifyReply reply = Read(L"NotifycationReturnValue=;WMIS_ActionIndex=9;WMIS_HRESULT=0;");
    EXPECT_EQ(0, reply.result);
    EXPECT_FALSE(reply.returnValue.has_value());
}

}  // namespace
