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
#include "tests/support/firmware_fixture.h"

namespace {

using obrin::ComPtr;
using obrin::UniqueBstr;
using obrin::UniqueVariant;
using obrin::test::ProgramDirectory;
using Objects = std::vector<ComPtr<IWbemClassObject>>;

constexpr wchar_t kDrive0[] = L"\\\\.\\PHYSICALDRIVE0";
constexpr unsigned long long kMb = 1024ull * 1024ull;

class ComEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(m_com.result(), S_OK);
        ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr),
                  S_OK);
    }

private:
    obrin::ComInit m_com{COINIT_MULTITHREADED};
};
[[maybe_unused]] testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new ComEnvironment);

std::string Text(const std::wstring& wide)
{
    return std::string(wide.begin(), wide.end());
}

struct Value {
    HRESULT hr = E_FAIL;
    CIMTYPE type = 0;
    UniqueVariant variant;
};

Value Get(const ComPtr<IWbemClassObject>& object, const wchar_t* name)
{
    Value value;
    value.hr = object->Get(name, 0, value.variant.put(), &value.type, nullptr);
    return value;
}

// A string property, or "<null>" / "<vt N>" when it is no string.
std::wstring String(const ComPtr<IWbemClassObject>& object, const wchar_t* name)
{
    const Value value = Get(object, name);
    if (FAILED(value.hr))
        return L"<missing>";
    if (value.variant->vt == VT_NULL)
        return L"<null>";
    if (value.variant->vt != VT_BSTR)
        return L"<vt " + std::to_wstring(value.variant->vt) + L">";
    return value.variant->bstrVal;
}

// A uint32 as WMI hands it out: VT_I4 with the CIM type uint32.
long UInt32(const ComPtr<IWbemClassObject>& object, const wchar_t* name)
{
    const Value value = Get(object, name);
    EXPECT_EQ(value.hr, S_OK) << Text(name);
    EXPECT_EQ(value.type, CIM_UINT32) << Text(name);
    EXPECT_EQ(value.variant->vt, VT_I4) << Text(name);
    return value.variant->vt == VT_I4 ? value.variant->lVal : -1;
}

// A uint64 as WMI hands it out: a decimal VT_BSTR with the CIM type uint64.
std::wstring UInt64(const ComPtr<IWbemClassObject>& object, const wchar_t* name)
{
    EXPECT_EQ(Get(object, name).type, CIM_UINT64) << Text(name);
    return String(object, name);
}

class DiskWmi : public obrin::test::FirmwareStandInTest {
protected:
    void SetUp() override
    {
        FirmwareStandInTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (GetFileAttributesW((ProgramDirectory() + L"disksim.exe").c_str()) == INVALID_FILE_ATTRIBUTES)
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

    void Machine(const std::wstring& variant)
    {
        const auto run = obrin::test::RunProgram(L"disksim.exe", L"init " + variant + L" --no-payload");
        ASSERT_TRUE(run.finished && run.exitCode == 0) << "disksim init " << Text(variant);
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
            for (const auto& partition : Partitions(String(disk, L"DeviceID"))) {
                for (const auto& logical : LogicalDisks(String(partition, L"DeviceID"))) {
                    if (String(logical, L"DeviceID") == L"C:")
                        return String(disk, L"DeviceID");
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
    EXPECT_EQ(String(disks[0], L"DeviceID"), kDrive0);
    EXPECT_EQ(UInt32(disks[0], L"Index"), 0);
    EXPECT_EQ(UInt64(disks[0], L"Size"), std::to_wstring(61440 * kMb));
    EXPECT_EQ(String(disks[0], L"MediaType"), L"Fixed hard disk media");
    EXPECT_EQ(String(disks[0], L"__RELPATH"), L"Win32_DiskDrive.DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE0\"");

    // The DeviceID pasted into the path as read, as discovery does; the MSR
    // has no Win32_DiskPartition.
    const Objects partitions = Partitions(kDrive0);
    ASSERT_EQ(partitions.size(), 3u);
    for (size_t i = 0; i < partitions.size(); ++i) {
        EXPECT_EQ(String(partitions[i], L"__CLASS"), L"Win32_DiskPartition");
        EXPECT_EQ(String(partitions[i], L"DeviceID"), L"Disk #0, Partition #" + std::to_wstring(i));
        EXPECT_EQ(UInt32(partitions[i], L"Index"), static_cast<long>(i));
    }
    EXPECT_EQ(String(partitions[1], L"Type"), L"GPT: System");
    EXPECT_TRUE(LogicalDisks(L"Disk #0, Partition #1").empty());
    const Objects drives = LogicalDisks(L"Disk #0, Partition #2");
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(String(drives[0], L"DeviceID"), L"C:");
    EXPECT_EQ(UInt32(drives[0], L"DriveType"), DRIVE_FIXED);
    EXPECT_EQ(UInt64(drives[0], L"FreeSpace"), std::to_wstring((60823 - 24576) * kMb));
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
        EXPECT_EQ(String(volumes[i], L"Label"), labels[i]);
        EXPECT_EQ(String(volumes[i], L"DriveLetter"), letters[i]);
        EXPECT_EQ(UInt64(volumes[i], L"FreeSpace"), std::to_wstring(free[i] * kMb));
        EXPECT_EQ(String(volumes[i], L"DeviceID").substr(0, 11), L"\\\\?\\Volume{");
        EXPECT_EQ(String(volumes[i], L"DeviceID").back(), L'\\');
    }

    // The stand-in diskpart hides the recovery partition and makes a RAW one.
    Machine(L"free-behind-windows");
    ASSERT_EQ(obrin::test::RunProgram(L"disksim.exe", L"install-tools").exitCode, 0u);
    const std::wstring script = obrin::test::ProgramDirectory() + L"disk-wmi-test.txt";
    const char text[] = "select disk 0\r\nselect par 1\r\ngpt attributes=0x4000000000000001\r\n"
                        "create partition primary size=1024\r\nexit\r\n";
    {
        obrin::UniqueFileHandle file(CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), text, sizeof text - 1, &written, nullptr));
    }
    ASSERT_EQ(obrin::test::RunProcess(L"cmd /C diskpart.exe /s \"" + script + L"\"", 60000).exitCode, 0u);
    volumes = Query(L"SELECT * FROM Win32_Volume");
    ASSERT_EQ(volumes.size(), 3u);  // EFI, Windows, the new RAW volume
    EXPECT_EQ(String(volumes[0], L"Label"), L"SYSTEM");
    for (const wchar_t* name : {L"FreeSpace", L"Capacity", L"FileSystem", L"Label", L"DriveLetter"})
        EXPECT_EQ(String(volumes[2], name), L"<null>") << Text(name);
    EXPECT_EQ(Get(volumes[2], L"FreeSpace").type, CIM_UINT64);
    // The hidden partition is still a partition of the disk.
    EXPECT_EQ(Partitions(kDrive0).size(), 4u);
}

TEST_F(DiskWmi, EveryMachineOfTheDiskStandInHasItsSystemDisk)
{
    EXPECT_EQ(SystemDisk(), kDrive0);
    Machine(L"system-disk-1");
    EXPECT_EQ(SystemDisk(), L"\\\\.\\PHYSICALDRIVE1");
    const Objects second = Query(L"SELECT * FROM Win32_DiskDrive WHERE Index = 1");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(String(second[0], L"DeviceID"), L"\\\\.\\PHYSICALDRIVE1");

    for (const auto& [variant, label] : {std::pair{L"removable-asos", L"ASOS"}, {L"removable-android", L"ANDROID"}}) {
        Machine(variant);
        EXPECT_EQ(SystemDisk(), kDrive0);
        const Objects disks = Query(L"Select * from Win32_DiskDrive");
        ASSERT_EQ(disks.size(), 2u);
        EXPECT_EQ(String(disks[1], L"MediaType"), L"Removable Media");
        const Objects partitions = Partitions(String(disks[1], L"DeviceID"));
        ASSERT_EQ(partitions.size(), 1u);
        EXPECT_EQ(String(partitions[0], L"DeviceID"), L"Disk #1, Partition #0");
        const Objects stick = LogicalDisks(L"Disk #1, Partition #0");
        ASSERT_EQ(stick.size(), 1u);
        EXPECT_EQ(UInt32(stick[0], L"DriveType"), DRIVE_REMOVABLE);
        const Objects volumes = Query(std::wstring(L"SELECT * FROM Win32_Volume WHERE Label = '") + label + L"'");
        ASSERT_EQ(volumes.size(), 1u);
        EXPECT_EQ(String(volumes[0], L"DriveLetter"), L"R:");
        EXPECT_EQ(UInt32(volumes[0], L"DriveType"), DRIVE_REMOVABLE);
    }
}

TEST_F(DiskWmi, ADamagedOrMissingModelIsAMachineWithoutDisksReportedOnce)
{
    const std::wstring report = ProgramDirectory() + L"firmwmi.log";
    const std::wstring damaged = ProgramDirectory() + L"damaged-model.txt";
    const char garbage[] = "disk index=zero\r\n\x01\x02";
    {
        obrin::UniqueFileHandle file(CreateFileW(damaged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), garbage, sizeof garbage - 1, &written, nullptr));
    }
    const auto reportText = [&] {
        std::string text;
        obrin::UniqueFileHandle file(CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
        char buffer[4096];
        for (DWORD read = 0; file && ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0;)
            text.append(buffer, read);
        return text;
    };
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
    EXPECT_NE(String(systems[0], L"Caption").find(L"Windows"), std::wstring::npos);
    ComPtr<IWbemClassObject> disk;
    UniqueBstr path(SysAllocString(L"Win32_LogicalDisk.DeviceID=\"C:\""));
    ASSERT_EQ(m_services->GetObject(path.get(), 0, nullptr, disk.put(), nullptr), S_OK);
    EXPECT_EQ(String(disk, L"VolumeName"), L"Windows");
}

}  // namespace
