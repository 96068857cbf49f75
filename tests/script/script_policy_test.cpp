#include "service/script/script_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace obrin::script {
namespace {

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

TEST(ScriptPolicy, OnlyFirmwareObjectPathsOnThisMachine)
{
    for (const wchar_t* path : {L"DualOsMethod", L"DualOsMethod.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"",
                                L"dualosmethod=@", L"root\\wmi:DualOsMethod", L"\\\\.\\root\\wmi:DualOsMethod.InstanceName=\"x\"",
                                L"\\\\tablet-7\\ROOT\\WMI:DualOsMethod.InstanceName=\"x\"", L"//localhost/root/wmi:DualOsMethod"}) {
        SCOPED_TRACE(testing::Message() << path);
        EXPECT_TRUE(IsFirmwareObjectPath(path, kLocalNames));
    }
    for (const wchar_t* path : {L"Win32_Process", L"Win32_Process.Handle=\"4\"", L"DualOsMethodX", L"DualOsMetho",
                                L"root\\cimv2:DualOsMethod", L"\\\\otherhost\\root\\wmi:DualOsMethod",
                                L"\\\\.\\root\\cimv2:DualOsMethod", L"\\\\.\\root\\wmi", L"\\\\.", L"", L":DualOsMethod"}) {
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
