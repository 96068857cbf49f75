#include "service/script/script_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace obrin::script {
namespace {

using namespace std::literals;

const std::vector<std::wstring> kLocalNames{L"localhost", L"TABLET-7"};

TEST(ScriptPolicy, OnlyTheFirmwareNamespace)
{
    EXPECT_TRUE(IsFirmwareNamespace(L"root\\wmi"));
    EXPECT_TRUE(IsFirmwareNamespace(L"ROOT\\WMI"));
    EXPECT_FALSE(IsFirmwareNamespace(L"root\\cimv2"));
    EXPECT_FALSE(IsFirmwareNamespace(L"\\\\.\\root\\wmi"));
    EXPECT_FALSE(IsFirmwareNamespace(L"root\\wmi\\sub"));
    EXPECT_FALSE(IsFirmwareNamespace(L""));
}

TEST(ScriptPolicy, OnlySelectsFromTheFirmwareClass)
{
    EXPECT_TRUE(IsFirmwareQuery(L"Select * from DualOsMethod"));
    EXPECT_TRUE(IsFirmwareQuery(L"  SELECT InstanceName FROM dualosmethod WHERE Active = TRUE"));
    EXPECT_TRUE(IsFirmwareQuery(L"select\t*\r\nfrom DualOsMethod"));
    // A vertical tab or form feed does not part WQL words.
    EXPECT_FALSE(IsFirmwareQuery(L"select\v*\ffrom DualOsMethod"));
    EXPECT_FALSE(IsFirmwareQuery(L"Select * from Win32_Process"));
    EXPECT_FALSE(IsFirmwareQuery(L"Select * from DualOsMethod2"));
    EXPECT_FALSE(IsFirmwareQuery(L"Select * from DualOsMethod,Win32_Process"));
    EXPECT_FALSE(IsFirmwareQuery(L"Select from DualOsMethod"));
    EXPECT_FALSE(IsFirmwareQuery(L"ASSOCIATORS OF {DualOsMethod}"));
    EXPECT_FALSE(IsFirmwareQuery(L"Select * from __InstanceCreationEvent within 1 where TargetInstance isa 'DualOsMethod'"));
    EXPECT_FALSE(IsFirmwareQuery(L"Select * from"));
    EXPECT_FALSE(IsFirmwareQuery(L""));
}

// WQL ends a word at a mark as well as at a blank, and a string in quotes is
// one word: a "from DualOsMethod" glued to a mark or inside a string does not
// name the class queried.
TEST(ScriptPolicy, QueryIsReadAsWqlReadsIt)
{
    for (const wchar_t* query : {L"select *from DualOsMethod", L"select*from DualOsMethod",
                                 L"select InstanceName,Active from DualOsMethod",
                                 L"select * from DualOsMethod where InstanceName='ACPI\\PNP0C14\\0_0'",
                                 L"select * from DualOsMethod where(Active=TRUE)",
                                 L"select * from DualOsMethod where InstanceName=\"a from Win32_Process\""}) {
        SCOPED_TRACE(testing::Message() << query);
        EXPECT_TRUE(IsFirmwareQuery(query));
    }
    for (const wchar_t* query : {L"select *from Win32_Process where Name=' from DualOsMethod '",
                                 L"select\t*from\tWin32_Process\twhere\tName='\tfrom\tDualOsMethod'",
                                 L"select*from Win32_Process where Name=\" from DualOsMethod \"",
                                 L"SeLeCt Name,Handle FROM win32_process WHERE Name=' FROM dualosmethod'",
                                 L"select * from(Win32_Process) where Name=' from DualOsMethod'",
                                 L"select 'x' from DualOsMethod", L"select a.b from DualOsMethod",
                                 L"select 1from Win32_Process, from DualOsMethod",
                                 L"select a-from Win32_Process, from DualOsMethod",
                                 // WQL has no comments: their marks are refused wherever they stand.
                                 L"select * --\nfrom DualOsMethod", L"select * from /* */ DualOsMethod",
                                 L"select * from DualOsMethod -- x",
                                 // Unreadable: unclosed, a quote a reader may take as escaped, a NUL, a character beyond ASCII.
                                 L"select * from DualOsMethod where Name='x", L"select * from DualOsMethod where Name='a\\' or Name='b'",
                                 L"select * from DualOsMethod\u00e9", L"select * from\u00a0DualOsMethod",
                                 L"select * from DualOsMethod where x={Win32_Process}", L"select * from DualOsMethod within 5",
                                 L"select * from DualOsMethod.Win32_Process"}) {
        SCOPED_TRACE(testing::Message() << query);
        EXPECT_FALSE(IsFirmwareQuery(query));
    }
    EXPECT_FALSE(IsFirmwareQuery(L"select * from DualOsMethod where Name='a\0'"sv));
}

TEST(ScriptPolicy, OnlyFirmwareObjectPathsOnThisMachine)
{
    for (const wchar_t* path : {L"DualOsMethod", L"DualOsMethod.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"",
                                L"dualosmethod=@", L"root\\wmi:DualOsMethod", L"\\\\.\\root\\wmi:DualOsMethod.InstanceName=\"x\"",
                                L"\\\\tablet-7\\ROOT\\WMI:DualOsMethod.InstanceName=\"x\"", L"//localhost/root/wmi:DualOsMethod",
                                L"DualOsMethod.InstanceName=\"a\\\\\",Index=0", L"DualOsMethod=\"x\"", L"DualOsMethod=7"}) {
        SCOPED_TRACE(testing::Message() << path);
        EXPECT_TRUE(IsFirmwareObjectPath(path, kLocalNames));
    }
    for (const wchar_t* path : {L"Win32_Process", L"Win32_Process.Handle=\"4\"", L"DualOsMethodX", L"DualOsMetho",
                                L"root\\cimv2:DualOsMethod", L"\\\\otherhost\\root\\wmi:DualOsMethod",
                                L"\\\\.\\root\\cimv2:DualOsMethod", L"\\\\.\\root\\wmi", L"\\\\.", L"", L":DualOsMethod",
                                // A ":" behind the keys would make DualOsMethod the scope of another class's path.
                                L"DualOsMethod.InstanceName=\"x\":Win32_Process.Handle=\"4\"",
                                L"DualOsMethod.InstanceName=\"x\\\":Win32_Process.Handle=\\\"4\"",
                                L"DualOsMethod=@:Win32_Process", L"DualOsMethod.InstanceName='x'",
                                L"DualOsMethod. InstanceName=\"x\"", L"DualOsMethod.InstanceName=\"x", L"DualOsMethod.=\"x\"",
                                L"DualOsMethod.InstanceName=\"x\",", L"DualOsMethod=",
                                // URL escapes are refused, whether WMI decodes them or not.
                                L"Dual%4FsMethod", L"DualOsMethod.InstanceName=\"ACPI%5C%5CPNP0C14\"",
                                L"\\\\.\\root%5Cwmi:DualOsMethod", L"DualOsMethod%20"}) {
        SCOPED_TRACE(testing::Message() << path);
        EXPECT_FALSE(IsFirmwareObjectPath(path, kLocalNames));
    }
}

TEST(ScriptPolicy, OnlyTheNotifyMethodOfTheFirmwareClass)
{
    EXPECT_TRUE(IsFirmwareMethod(L"DualOsMethod", L"DualOSNotify"));
    EXPECT_TRUE(IsFirmwareMethod(L"DUALOSMETHOD", L"dualosnotify"));
    EXPECT_FALSE(IsFirmwareMethod(L"Win32_Process", L"Create"));
    EXPECT_FALSE(IsFirmwareMethod(L"DualOsMethod", L"Create"));
    EXPECT_FALSE(IsFirmwareMethod(L"Win32_Process", L"DualOSNotify"));
}

}  // namespace
}  // namespace obrin::script
