// The disk classes of root\cimv2 through the real COM path, as the installer's
// discovery reaches them: locator, ConnectServer, proxy blanket, ExecQuery,
// Next, Get. firmsim installs the stand-in locator; disksim makes the machines.
#include <windows.h>
#include <wbemcli.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/ownership.h"
#include "sim/disk/disk_model.h"
#include "tests/support/com_environment.h"
#include "tests/support/firmware_fixture.h"

namespace {

using obrin::ComPtr;
using obrin::UniqueBstr;
using obrin::UniqueVariant;
using namespace obrin::test;
using Objects = std::vector<ComPtr<IWbemClassObject>>;

constexpr wchar_t kDrive0[] = L"\\\\.\\PHYSICALDRIVE0";
constexpr uint64_t kMb = obrin::disksim::kBytesPerMb;

[[maybe_unused]] testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new obrin::test::ComEnvironment);

std::string Text(const std::wstring& wide)
{
    return std::string(wide.begin(), wide.end());
}

// A property as text ("<null>" for VT_NULL), after checking that WMI types it
// as `type` and carries it as it carries that type: a uint32 in VT_I4 (shown
// in decimal), a boolean in VT_BOOL ("TRUE", "FALSE"), a uint64 and a string
// in VT_BSTR.
std::wstring Prop(const ComPtr<IWbemClassObject>& object, const wchar_t* name, CIMTYPE type = CIM_STRING)
{
    UniqueVariant value;
    CIMTYPE actual = 0;
    EXPECT_EQ(object->Get(name, 0, value.put(), &actual, nullptr), S_OK) << Text(name);
    EXPECT_EQ(actual, type) << Text(name);
    if (value->vt == VT_NULL)
        return L"<null>";
    EXPECT_EQ(value->vt, type == CIM_UINT32 ? VT_I4 : type == CIM_BOOLEAN ? VT_BOOL : VT_BSTR) << Text(name);
    if (value->vt == VT_I4)
        return std::to_wstring(value->lVal);
    if (value->vt == VT_BOOL)
        return value->boolVal != VARIANT_FALSE ? L"TRUE" : L"FALSE";
    return value->vt == VT_BSTR ? value->bstrVal : L"<vt " + std::to_wstring(value->vt) + L">";
}

class DiskWmi : public obrin::test::FirmwareStandInTest {
protected:
    void SetUpWithStandIn() override
    {
        if (!PathExists(ProgramDirectory() + L"disksim.exe"))
            GTEST_SKIP() << "the disk stand-in (disksim.exe) is not built";
        ComPtr<IWbemLocator> locator;
        ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                   locator.put_void()),
                  S_OK);
        UniqueBstr nameSpace(SysAllocString(L"root\\cimv2"));
        ASSERT_EQ(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, m_services.put()),
                  S_OK);
        ASSERT_EQ(CoSetProxyBlanket(m_services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE),
                  S_OK);
        Machine(L"standard");
    }

    // The object of a class by its key, as GetObject finds it.
    ComPtr<IWbemClassObject> Object(const std::wstring& path)
    {
        ComPtr<IWbemClassObject> object;
        UniqueBstr text(SysAllocString(path.c_str()));
        EXPECT_EQ(m_services->GetObject(text.get(), 0, nullptr, object.put(), nullptr), S_OK) << Text(path);
        return object;
    }

    void Machine(const std::wstring& variant)
    {
        ASSERT_THAT(Disksim(L"init " + variant + L" --no-payload"), ExitsWith(0));
    }

    // Every object of the query, fetched one at a time as discovery does.
    Objects Query(const std::wstring& wql, HRESULT expected = S_OK)
    {
        SCOPED_TRACE(Text(wql));
        Objects objects;
        UniqueBstr language(SysAllocString(L"WQL")), query(SysAllocString(wql.c_str()));
        ComPtr<IEnumWbemClassObject> enumerator;
        EXPECT_EQ(m_services->ExecQuery(language.get(), query.get(),
                                        WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                        enumerator.put()),
                  expected);
        for (ULONG returned = 0; enumerator;) {
            ComPtr<IWbemClassObject> object;
            const HRESULT hr = enumerator->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.put(), &returned);
            if (hr != S_OK) {
                EXPECT_EQ(hr, WBEM_S_FALSE);
                break;
            }
            objects.push_back(object);
        }
        return objects;
    }

    Objects Partitions(const std::wstring& diskId)
    {
        return Query(L"Associators of {Win32_DiskDrive.DeviceID='" + diskId +
                     L"'} where AssocClass=Win32_DiskDriveToDiskPartition");
    }

    Objects LogicalDisks(const std::wstring& partitionId)
    {
        return Query(L"Associators of {Win32_DiskPartition.DeviceID='" + partitionId +
                     L"'} where AssocClass=Win32_LogicalDiskToPartition");
    }

    // Discovery's walk: the DeviceID of the disk whose partition carries C:.
    std::wstring SystemDisk()
    {
        for (const auto& disk : Query(L"Select * from Win32_DiskDrive")) {
            for (const auto& partition : Partitions(Prop(disk, L"DeviceID"))) {
                for (const auto& logical : LogicalDisks(Prop(partition, L"DeviceID"))) {
                    if (Prop(logical, L"DeviceID") == L"C:")
                        return Prop(disk, L"DeviceID");
                }
            }
        }
        return L"<none>";
    }

    ComPtr<IWbemServices> m_services;
};

TEST_F(DiskWmi, TheDiskItsPartitionsAndTheWindowsDriveAsDiscoveryReadsThem)
{
    const Objects disks = Query(L"Select * from Win32_DiskDrive");
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(Prop(disks[0], L"DeviceID"), kDrive0);
    EXPECT_EQ(Prop(disks[0], L"Index", CIM_UINT32), L"0");
    // The usable area ends at 61440 MB; the backup GPT's 33 sectors lie behind it.
    EXPECT_EQ(Prop(disks[0], L"Size", CIM_UINT64), std::to_wstring(61440 * kMb + 33 * 512));
    EXPECT_EQ(Prop(disks[0], L"MediaType"), L"Fixed hard disk media");
    EXPECT_EQ(Prop(disks[0], L"__RELPATH"), L"Win32_DiskDrive.DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE0\"");

    // The DeviceID pasted into the path as read, as discovery does; the MSR
    // has no Win32_DiskPartition.
    const Objects partitions = Partitions(kDrive0);
    ASSERT_EQ(partitions.size(), 3u);
    for (size_t i = 0; i < partitions.size(); ++i) {
        EXPECT_EQ(Prop(partitions[i], L"__CLASS"), L"Win32_DiskPartition");
        EXPECT_EQ(Prop(partitions[i], L"DeviceID"), L"Disk #0, Partition #" + std::to_wstring(i));
        EXPECT_EQ(Prop(partitions[i], L"Index", CIM_UINT32), std::to_wstring(i));
    }
    EXPECT_EQ(Prop(partitions[1], L"Type"), L"GPT: System");
    EXPECT_TRUE(LogicalDisks(L"Disk #0, Partition #1").empty());
    const Objects drives = LogicalDisks(L"Disk #0, Partition #2");
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(Prop(drives[0], L"DeviceID"), L"C:");
    EXPECT_EQ(Prop(drives[0], L"DriveType", CIM_UINT32), L"3");  // DRIVE_FIXED
    EXPECT_EQ(Prop(drives[0], L"FreeSpace", CIM_UINT64), std::to_wstring((60823 - 24576) * kMb));
    // The escaped form of the path finds the disk as well.
    EXPECT_EQ(Query(L"ASSOCIATORS OF {Win32_DiskDrive.DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE0\"}").size(), 3u);
}

TEST_F(DiskWmi, VolumesFollowTheModelBetweenQueries)
{
    Objects volumes = Query(L"SELECT * FROM Win32_Volume");
    ASSERT_EQ(volumes.size(), 3u);  // recovery, EFI, Windows: no MSR
    const wchar_t* labels[] = {L"Recovery", L"SYSTEM", L"Windows"};
    const wchar_t* letters[] = {L"<null>", L"<null>", L"C:"};
    const unsigned long long free[] = {500 - 320, 100 - 30, 60823 - 24576};
    for (size_t i = 0; i < volumes.size(); ++i) {
        EXPECT_EQ(Prop(volumes[i], L"Label"), labels[i]);
        EXPECT_EQ(Prop(volumes[i], L"DriveLetter"), letters[i]);
        EXPECT_EQ(Prop(volumes[i], L"FreeSpace", CIM_UINT64), std::to_wstring(free[i] * kMb));
        EXPECT_EQ(Prop(volumes[i], L"DeviceID").substr(0, 11), L"\\\\?\\Volume{");
        EXPECT_EQ(Prop(volumes[i], L"DeviceID").back(), L'\\');
    }

    // The stand-in diskpart hides the recovery partition and makes a RAW one.
    Machine(L"free-behind-windows");
    ASSERT_THAT(Disksim(L"install-tools"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 1\r\ngpt attributes=0x4000000000000001\r\n"
                         "create partition primary size=1024\r\nassign letter=M\r\nexit\r\n"),
                ExitsWith(0));
    volumes = Query(L"SELECT * FROM Win32_Volume");
    ASSERT_EQ(volumes.size(), 3u);  // EFI, Windows, the new RAW volume
    EXPECT_EQ(Prop(volumes[0], L"Label"), L"SYSTEM");
    EXPECT_EQ(Prop(volumes[2], L"DriveLetter"), L"M:");
    EXPECT_EQ(Prop(volumes[2], L"FreeSpace", CIM_UINT64), L"<null>");
    EXPECT_EQ(Prop(volumes[2], L"Capacity", CIM_UINT64), L"<null>");
    EXPECT_EQ(Prop(volumes[2], L"FileSystem"), L"<null>");
    EXPECT_EQ(Prop(volumes[2], L"Label"), L"<null>");
    // The hidden partition is still a partition of the disk; M: has no space to tell.
    EXPECT_EQ(Partitions(kDrive0).size(), 4u);
    const Objects raw = LogicalDisks(L"Disk #0, Partition #3");
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(Prop(raw[0], L"FreeSpace", CIM_UINT64), L"<null>");
}

TEST_F(DiskWmi, EveryMachineOfTheDiskStandInHasItsSystemDisk)
{
    EXPECT_EQ(SystemDisk(), kDrive0);
    Machine(L"system-disk-1");
    EXPECT_EQ(SystemDisk(), L"\\\\.\\PHYSICALDRIVE1");
    const Objects second = Query(L"SELECT * FROM Win32_DiskDrive WHERE Index = 1");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(Prop(second[0], L"DeviceID"), L"\\\\.\\PHYSICALDRIVE1");

    for (const auto& [variant, label] : {std::pair{L"removable-asos", L"ASOS"}, {L"removable-android", L"ANDROID"}}) {
        Machine(variant);
        EXPECT_EQ(SystemDisk(), kDrive0);
        const Objects disks = Query(L"Select * from Win32_DiskDrive");
        ASSERT_EQ(disks.size(), 2u);
        EXPECT_EQ(Prop(disks[1], L"MediaType"), L"Removable Media");
        const Objects partitions = Partitions(Prop(disks[1], L"DeviceID"));
        ASSERT_EQ(partitions.size(), 1u);
        EXPECT_EQ(Prop(partitions[0], L"DeviceID"), L"Disk #1, Partition #0");
        const Objects stick = LogicalDisks(L"Disk #1, Partition #0");
        ASSERT_EQ(stick.size(), 1u);
        EXPECT_EQ(Prop(stick[0], L"DriveType", CIM_UINT32), L"2");  // DRIVE_REMOVABLE
        const Objects volumes = Query(std::wstring(L"SELECT * FROM Win32_Volume WHERE Label = '") + label + L"'");
        ASSERT_EQ(volumes.size(), 1u);
        EXPECT_EQ(Prop(volumes[0], L"DriveLetter"), L"R:");
        EXPECT_EQ(Prop(volumes[0], L"DriveType", CIM_UINT32), L"2");
    }
}

// Sizes and offsets are the bytes of the disk's sectors, to the sector: a
// Windows partition off the MiB grid, a disk of 4096-byte sectors, an MBR
// disk with Windows' words for its types.
TEST_F(DiskWmi, DisksAndPartitionsReportExactBytesAndTheirStyle)
{
    const std::wstring offGridWindows = std::to_wstring((61440 - 1 - 500 - 117) * kMb - 7 * 512);
    struct Case {
        const wchar_t* machine;
        std::wstring path;
        const wchar_t* property;
        CIMTYPE type;
        std::wstring expected;
    } cases[] = {
        {L"windows-off-grid", L"Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'", L"Size", CIM_UINT64,
         std::to_wstring(61440 * kMb)},
        {L"windows-off-grid", L"Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'", L"BytesPerSector", CIM_UINT32, L"512"},
        {L"windows-off-grid", L"Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'", L"Signature", CIM_UINT32, L"<null>"},
        {L"windows-off-grid", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #1'", L"StartingOffset", CIM_UINT64,
         std::to_wstring(117 * kMb)},
        {L"windows-off-grid", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #1'", L"Size", CIM_UINT64, offGridWindows},
        {L"windows-off-grid", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #1'", L"NumberOfBlocks", CIM_UINT64,
         std::to_wstring((61440 - 1 - 500 - 117) * 2048 - 7)},
        {L"windows-off-grid", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #2'", L"StartingOffset", CIM_UINT64,
         std::to_wstring((61440 - 1 - 500) * kMb)},
        {L"windows-off-grid", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #2'", L"Type", CIM_STRING, L"GPT: Unknown"},
        {L"windows-off-grid", L"Win32_LogicalDisk.DeviceID='C:'", L"Size", CIM_UINT64, offGridWindows},
        {L"system-disk-1", L"Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'", L"BytesPerSector", CIM_UINT32, L"4096"},
        {L"system-disk-1", L"Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'", L"Size", CIM_UINT64,
         std::to_wstring(32768 * kMb + 5 * 4096)},
        {L"system-disk-1", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #2'", L"StartingOffset", CIM_UINT64,
         std::to_wstring(301 * kMb)},
        {L"system-disk-1", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #2'", L"BlockSize", CIM_UINT64, L"4096"},
        {L"system-disk-1", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #2'", L"NumberOfBlocks", CIM_UINT64,
         std::to_wstring(32467 * 256)},
        {L"mbr", L"Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'", L"Signature", CIM_UINT32,
         std::to_wstring(0x0b5d0001)},
        {L"mbr", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #0'", L"Type", CIM_STRING, L"Installable File System"},
        {L"mbr", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #0'", L"Size", CIM_UINT64, std::to_wstring(500 * kMb)},
        {L"mbr", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #1'", L"Type", CIM_STRING, L"Installable File System"},
        {L"mbr", L"Win32_DiskPartition.DeviceID='Disk #0, Partition #1'", L"StartingOffset", CIM_UINT64,
         std::to_wstring(501 * kMb)},
        {L"mbr", L"Win32_Volume.DeviceID=\"\\\\\\\\?\\\\Volume{0b5d0000-0000-4000-8000-000000000001}\\\\\"",
         L"SystemVolume", CIM_BOOLEAN, L"TRUE"},
    };
    std::wstring machine;
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(std::wstring(c.machine) + L" " + c.path + L" " + c.property));
        if (machine != c.machine)
            Machine(machine = c.machine);
        const ComPtr<IWbemClassObject> object = Object(c.path);
        ASSERT_TRUE(object);
        EXPECT_EQ(Prop(object, c.property, c.type), c.expected);
    }
}

// Win32_DiskPartition follows the partition numbers: under disk-order a
// delete moves the partitions behind it up at once; under stable the new
// partitions stay listed behind Recovery.
TEST_F(DiskWmi, PartitionIndexesFollowTheNumberingRule)
{
    struct Case {
        const wchar_t* rule;
        std::vector<unsigned long long> offsetsMb;  // StartingOffset of #0, #1, ... after the delete
    } cases[] = {
        {L"disk-order", {1, 117, 60939 - 1024, 60939}},
        {L"stable", {1, 117, 60939, 60939 - 1024}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.rule));
        Machine(L"recovery-last");
        ASSERT_THAT(Disksim(L"install-tools"), ExitsWith(0));
        ASSERT_THAT(Disksim(std::wstring(L"numbering ") + c.rule), ExitsWith(0));
        ASSERT_THAT(Diskpart("select disk 0\r\nselect par 3\r\nshrink minimum=2048\r\n"
                             "create partition primary size=1024\r\ncreate partition primary\r\nexit\r\n"),
                    ExitsWith(0));
        ASSERT_EQ(Partitions(kDrive0).size(), 5u);
        // The first of the two new partitions, by the number it has now.
        ASSERT_THAT(Diskpart(std::string("select disk 0\r\nselect par ") + (c.rule[0] == L'd' ? "4" : "5") +
                             "\r\ndelete partition\r\nexit\r\n"),
                    ExitsWith(0));
        const Objects partitions = Partitions(kDrive0);
        ASSERT_EQ(partitions.size(), c.offsetsMb.size());
        for (size_t i = 0; i < partitions.size(); ++i) {
            EXPECT_EQ(Prop(partitions[i], L"DeviceID"), L"Disk #0, Partition #" + std::to_wstring(i));
            EXPECT_EQ(Prop(partitions[i], L"StartingOffset", CIM_UINT64), std::to_wstring(c.offsetsMb[i] * kMb)) << i;
        }
    }
}

TEST_F(DiskWmi, ADamagedOrMissingModelIsAMachineWithoutDisksReportedOnce)
{
    const std::wstring report = ProgramDirectory() + L"firmwmi.log";
    const std::wstring damaged = ProgramDirectory() + L"damaged-model.txt";
    ASSERT_TRUE(WriteBytes(damaged, "disk index=zero\r\n\x01\x02"));
    const auto reportText = [&] { return ReadBytes(report).value_or(""); };
    const size_t before = reportText().size();

    for (const std::wstring& model : {damaged, ProgramDirectory() + L"no-such-model.txt"}) {
        ASSERT_TRUE(SetEnvironmentVariableW(L"OBRIN_DISKSIM_MODEL", model.c_str()));
        EXPECT_TRUE(Query(L"Select * from Win32_DiskDrive").empty());
        EXPECT_TRUE(Partitions(kDrive0).empty());
        EXPECT_TRUE(Query(L"SELECT * FROM Win32_Volume").empty());
    }
    SetEnvironmentVariableW(L"OBRIN_DISKSIM_MODEL", nullptr);
    const std::string reported = reportText().substr(before);
    EXPECT_EQ(std::count(reported.begin(), reported.end(), '\n'), 2) << "one line per problem, not per query:\n"
                                                                      << reported;
    EXPECT_NE(reported.find("damaged-model.txt: line 1"), std::string::npos) << reported;
    EXPECT_NE(reported.find("no-such-model.txt (error 2)"), std::string::npos) << reported;
    EXPECT_EQ(Query(L"Select * from Win32_DiskDrive").size(), 1u);

    // Queries this stand-in does not answer are refused, not left to Wine's disks.
    Query(L"SELECT * FROM Win32_DiskDrive WHERE Index = 0 OR Index = 1", WBEM_E_NOT_SUPPORTED);
    Query(L"SELECT Bogus FROM Win32_Volume", WBEM_E_INVALID_QUERY);
}

TEST_F(DiskWmi, OtherClassesAnswerFromWineAndDiskObjectPathsFromTheModel)
{
    const Objects systems = Query(L"SELECT * FROM Win32_OperatingSystem");
    ASSERT_EQ(systems.size(), 1u);
    EXPECT_NE(Prop(systems[0], L"Caption").find(L"Windows"), std::wstring::npos);
    ComPtr<IWbemClassObject> disk;
    UniqueBstr path(SysAllocString(L"Win32_LogicalDisk.DeviceID=\"C:\""));
    ASSERT_EQ(m_services->GetObject(path.get(), 0, nullptr, disk.put(), nullptr), S_OK);
    EXPECT_EQ(Prop(disk, L"VolumeName"), L"Windows");
}

}  // namespace
