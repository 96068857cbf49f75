// The one WQL and object-path reader serves two kinds of callers: the
// firmware's classes, which take paths only as WMI writes them and only
// "SELECT * FROM class", and the disk classes, which also take the forms
// Windows accepts from people (single quotes, an unnamed key, a device path
// pasted between the quotes). The tables hold the cases of both.
#include <gtest/gtest.h>

#include "sim/wql/wql.h"

namespace obrin::wql {
namespace {

TEST(WqlSelectAll, NamesTheClassOfSelectAllWithoutWhere)
{
    EXPECT_EQ(SelectAllClass("Select * from DualOsMethod"), "DualOsMethod");
    EXPECT_EQ(SelectAllClass("  SELECT\t*\nFROM   Win32_PowerManagementEvent "), "Win32_PowerManagementEvent");
    EXPECT_EQ(SelectAllClass("select*from DualOsEvent"), "DualOsEvent");
    for (const char* query : {"", "SELECT * FROM", "SELECT EventCode FROM DualOsEvent",
                              "SELECT * FROM DualOsEvent WHERE EventCode = 1", "SELECT * DualOsEvent",
                              "SELECT * FROM *", "DELETE * FROM DualOsEvent", "SELECT * FROM 'DualOsEvent'",
                              "ASSOCIATORS OF {DualOsEvent}"})
        EXPECT_FALSE(SelectAllClass(query).has_value()) << query;
}

TEST(WqlNamespace, LocalServerPrefixesAndSlashesAreDropped)
{
    EXPECT_EQ(LocalNamespace("root\\wmi", "BOX"), "root\\wmi");
    EXPECT_EQ(LocalNamespace("\\\\.\\ROOT\\WMI", "BOX"), "ROOT\\WMI");
    EXPECT_EQ(LocalNamespace("//./root/cimv2", "BOX"), "root\\cimv2");
    EXPECT_EQ(LocalNamespace("\\\\box\\root\\wmi", "BOX"), "root\\wmi");
    EXPECT_EQ(LocalNamespace("\\\\localhost\\root\\wmi", "BOX"), "root\\wmi");
    EXPECT_EQ(LocalNamespace("\\\\other\\root\\wmi", "BOX"), "\\\\other\\root\\wmi");
}

struct PathCase {
    std::string_view text;
    bool complete;
    bool asWmiWritesIt;  // what the firmware's classes take
    std::string_view server;
    std::string_view nameSpace;
    std::string_view className;
    bool instance;
    std::string_view keyName;
    std::string_view value;
    std::string_view asWritten;
};

TEST(WqlObjectPath, ReadsThePathFormsOfBothCallers)
{
    const PathCase cases[] = {
        // As WMI writes them: the firmware's paths.
        {"DualOsMethod", true, true, "", "", "DualOsMethod", false, "", "", ""},
        {R"(\\BOX\ROOT\wmi:DualOsMethod.InstanceName="ACPI\\PNP0C14\\0_0")", true, true, "BOX", "ROOT\\wmi",
         "DualOsMethod", true, "InstanceName", R"(ACPI\PNP0C14\0_0)", R"(ACPI\\PNP0C14\\0_0)"},
        {R"(root\wmi:DualOsMethod.InstanceName="a\"b")", true, true, "", "root\\wmi", "DualOsMethod", true,
         "InstanceName", "a\"b", R"(a\"b)"},
        {"Win32_DiskDrive.Index=0x1", true, true, "", "", "Win32_DiskDrive", true, "Index", "0x1", "0x1"},
        {R"(\\HOST\root\cimv2:Win32_DiskDrive.DeviceID="\\\\.\\physicaldrive0")", true, true, "HOST", "root\\cimv2",
         "Win32_DiskDrive", true, "DeviceID", R"(\\.\physicaldrive0)", R"(\\\\.\\physicaldrive0)"},
        {R"(\\.\root\cimv2:Win32_DiskDrive.DeviceID="x")", true, true, ".", "root\\cimv2", "Win32_DiskDrive", true,
         "DeviceID", "x", "x"},
        {R"(Win32_LogicalDisk.DeviceID="C:")", true, true, "", "", "Win32_LogicalDisk", true, "DeviceID", "C:", "C:"},
        // As people write them: the disk classes take these too.
        {R"(Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0')", true, false, "", "", "Win32_DiskDrive", true,
         "DeviceID", R"(\\.\PHYSICALDRIVE0)", R"(\\\\.\\PHYSICALDRIVE0)"},
        {R"(Win32_DiskDrive='\\.\PHYSICALDRIVE0')", true, false, "", "", "Win32_DiskDrive", true, "",
         R"(\.\PHYSICALDRIVE0)", R"(\\.\PHYSICALDRIVE0)"},
        {R"(Win32_LogicalDisk="C:")", true, false, "", "", "Win32_LogicalDisk", true, "", "C:", "C:"},
        {R"(Class.Key="bad\escape")", true, false, "", "", "Class", true, "Key", R"(bad\escape)", R"(bad\escape)"},
        {R"(Class.Key="it\'s")", true, false, "", "", "Class", true, "Key", "it's", R"(it\'s)"},
        // Not paths; the class, when it was read, tells the disk classes
        // whether a malformed path was meant for them.
        {"", false, false, "", "", "", false, "", "", ""},
        {".Key=\"x\"", false, false, "", "", "", false, "", "", ""},
        {"Class.", false, false, "", "", "Class", false, "", "", ""},
        {"Class.Key", false, false, "", "", "Class", false, "Key", "", ""},
        {"Class.Key=", false, false, "", "", "Class", true, "Key", "", ""},
        {"Class.Key=\"open", false, false, "", "", "Class", true, "Key", "open", ""},
        {"Class.Key=\"x\"tail", false, false, "", "", "Class", true, "Key", "x", "x"},
        {"Class Name", false, false, "", "", "Class", false, "", "", ""},
        {"\\\\server", false, false, "", "", "", false, "", "", ""},
        {"\\\\server\\ns", false, false, "", "", "", false, "", "", ""},
        {"\\\\\\root\\cimv2:Class", false, false, "", "", "", false, "", "", ""},
        {":Class", false, false, "", "", "", false, "", "", ""},
        {"Class.Key=12x", false, false, "", "", "Class", true, "Key", "", ""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        const ObjectPath path = ReadObjectPath(c.text);
        EXPECT_EQ(path.complete, c.complete);
        EXPECT_EQ(IsWrittenAsWmiWritesIt(path), c.asWmiWritesIt);
        EXPECT_EQ(path.server, c.server);
        EXPECT_EQ(path.nameSpace, c.nameSpace);
        EXPECT_EQ(path.className, c.className);
        EXPECT_EQ(path.instance, c.instance);
        EXPECT_EQ(path.keyName, c.keyName);
        EXPECT_EQ(path.key.value, c.value);
        EXPECT_EQ(path.key.asWritten, c.asWritten);
    }
}

TEST(WqlObjectPath, EscapedKeyValuesReadBackUnchanged)
{
    const std::wstring value = L"ACPI\\PNP0C14\\\"0_0\"";
    const std::wstring escaped = EscapeKeyValue(value);
    const ObjectPath path =
        ReadObjectPath("DualOsMethod.InstanceName=\"" + std::string(escaped.begin(), escaped.end()) + "\"");
    ASSERT_TRUE(IsWrittenAsWmiWritesIt(path));
    EXPECT_EQ(path.key.value, std::string(value.begin(), value.end()));
}

TEST(WqlStatement, SelectKeepsItsListAndConditionsAndNamesWhatItDoesNotTake)
{
    struct Case {
        std::string_view wql;
        Statement::Kind kind;
        Problem problem;
        std::string_view className;
        std::vector<std::string> properties;
        std::vector<std::pair<std::string, std::string>> conditions;
    };
    using Kind = Statement::Kind;
    const Case cases[] = {
        {"SELECT Label FROM Win32_Volume WHERE Label = 'windows' AND BootVolume = TRUE", Kind::Select, Problem::None,
         "Win32_Volume", {"Label"}, {{"Label", "windows"}, {"BootVolume", "TRUE"}}},
        {R"(select Index, Size from win32_diskdrive where DeviceID = "\\\\.\\PHYSICALDRIVE0" and Index = 0x0)",
         Kind::Select, Problem::None, "win32_diskdrive", {"Index", "Size"},
         {{"DeviceID", R"(\\.\PHYSICALDRIVE0)"}, {"Index", "0"}}},
        {"SELECT * FROM Win32_DiskDrive WHERE", Kind::Select, Problem::Invalid, "Win32_DiskDrive", {}, {}},
        {"SELECT FROM Win32_DiskDrive", Kind::Select, Problem::Invalid, "Win32_DiskDrive", {}, {}},
        {"SELECT Index,, FROM Win32_DiskDrive", Kind::Select, Problem::Invalid, "Win32_DiskDrive", {"Index"}, {}},
        {"SELECT * FROM Win32_Volume WHERE Label LIKE 'A%'", Kind::Select, Problem::Unsupported, "Win32_Volume", {}, {}},
        {"SELECT * FROM Win32_Volume WHERE Index = 1 OR Index = 2", Kind::Select, Problem::Unsupported,
         "Win32_Volume", {}, {{"Index", "1"}}},
        {"SELECT * FROM Win32_Volume WHERE Label = Other", Kind::Select, Problem::Unsupported, "Win32_Volume", {}, {}},
        {"SELECT * FROM Win32_Volume WHERE Index = 12abc", Kind::Other, Problem::None, "", {}, {}},
        {"SELECT * FROM 'Win32_Volume'", Kind::Other, Problem::None, "", {}, {}},
        {"SELECT * FROM Win32_Volume WHERE Label = 'open", Kind::Other, Problem::None, "", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.wql));
        const Statement statement = ReadStatement(c.wql);
        EXPECT_EQ(statement.kind, c.kind);
        EXPECT_EQ(statement.problem, c.problem);
        EXPECT_EQ(statement.className, c.className);
        EXPECT_EQ(statement.properties, c.properties);
        std::vector<std::pair<std::string, std::string>> conditions;
        for (const Condition& condition : statement.conditions)
            conditions.emplace_back(condition.property, condition.literal);
        EXPECT_EQ(conditions, c.conditions);
    }
}

TEST(WqlStatement, AssociatorsKeepTheirSourcePathAndFilters)
{
    const Statement full = ReadStatement(
        R"(associators of { Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE0' } where assocclass = CIM_MediaPresent )"
        R"(ResultClass=CIM_StorageExtent Role=Antecedent ResultRole=Dependent)");
    EXPECT_EQ(full.kind, Statement::Kind::Associators);
    EXPECT_EQ(full.problem, Problem::None);
    EXPECT_EQ(full.sourcePath, R"( Win32_DiskDrive.DeviceID='\\.\PHYSICALDRIVE0' )");
    EXPECT_EQ(full.assocClass, "CIM_MediaPresent");
    EXPECT_EQ(full.resultClass, "CIM_StorageExtent");
    EXPECT_EQ(full.role, "Antecedent");
    EXPECT_EQ(full.resultRole, "Dependent");
    EXPECT_EQ(ReadStatement("ASSOCIATORS OF {X='a}b'}").sourcePath, "X='a}b'");

    const std::tuple<std::string_view, Statement::Kind, Problem> cases[] = {
        {"REFERENCES OF {X='x'}", Statement::Kind::References, Problem::None},
        {"ASSOCIATORS OF {X='x'} WHERE ClassDefsOnly", Statement::Kind::Associators, Problem::Unsupported},
        {"ASSOCIATORS OF {X='x'} WHERE Bogus = Y", Statement::Kind::Associators, Problem::Invalid},
        {"ASSOCIATORS OF {X='x'} WHERE AssocClass", Statement::Kind::Associators, Problem::Invalid},
        {"ASSOCIATORS OF {X='x'} AssocClass = Y", Statement::Kind::Associators, Problem::Invalid},
        {"ASSOCIATORS {X='x'}", Statement::Kind::Other, Problem::None},
        {"ASSOCIATORS OF {X='x'", Statement::Kind::Other, Problem::None},
        {"ASSOCIATORSOF {X='x'}", Statement::Kind::Other, Problem::None},
    };
    for (const auto& [wql, kind, problem] : cases) {
        SCOPED_TRACE(std::string(wql));
        const Statement statement = ReadStatement(wql);
        EXPECT_EQ(statement.kind, kind);
        EXPECT_EQ(statement.problem, problem);
    }
}

}  // namespace
}  // namespace obrin::wql
