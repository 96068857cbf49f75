#include "tests/installer/installer_wine_support.h"

#include "common/ownership.h"
#include "common/registry_names.h"
#include "common/winservice.h"
#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <vector>

namespace installer_test {

ProcessResult Probe(const std::wstring& arguments)
{
    return obrin::test::RunProgram(L"installer_probe.exe", arguments, {.timeoutMs = 300000});
}

bool RecordHolds(const wchar_t* value)
{
    return RegGetValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, value, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

void ClearInstallerRecord()
{
    for (const wchar_t* value : {L"InstallerRun", L"InstallerAutoRunType", L"InstallerAutoRunData",
                                 L"InstallerHibernation", L"InstallerFinished", L"InstallerDisk", L"InstallerWindows",
                                 L"InstallerPartitionsBefore", L"InstallerFreedSpace", L"InstallerPartitions"})
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, value);
}

void ResetMachine(const char* variant, const char* numbering, std::source_location caller)
{
    const testing::ScopedTrace trace(caller.file_name(), static_cast<int>(caller.line()), "ResetMachine");
    // The locator in place serves the disk classes; the driver the I/O controls.
    ASSERT_THAT(Firmsim(L"install"), Succeeds());
    ASSERT_THAT(Disksim(L"init " + obrin::disksim::Widen(variant)), ExitsWith(0));
    if (std::string(numbering) != "disk-order") {
        ASSERT_THAT(Disksim(L"numbering " + obrin::disksim::Widen(numbering)), ExitsWith(0));
    }
    ASSERT_THAT(Disksim(L"install-tools"), ExitsWith(0));
}

std::string DiskFiles()
{
    const ProcessResult run = Disksim(L"files");
    EXPECT_THAT(run, ExitsWith(0));
    return run.output;
}

const obrin::disksim::Partition* FindByLabel(const obrin::disksim::Disk& disk, const char* label)
{
    for (const obrin::disksim::Partition& partition : disk.partitions) {
        if (obrin::disksim::EqualsNoCase(partition.label, label))
            return &partition;
    }
    return nullptr;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string DisksText(const obrin::disksim::Model& model)
{
    obrin::disksim::Model disks;
    disks.disks = model.disks;
    return obrin::disksim::FormatModel(disks);
}

std::vector<PartitionShape> ShapeOf(const obrin::disksim::Disk& disk)
{
    std::vector<PartitionShape> shape;
    for (const obrin::disksim::Partition& p : disk.partitions)
        shape.push_back({p.number, p.offsetSectors, p.sizeSectors, p.type, p.attributes, p.label, p.letter});
    return shape;
}

void PrintTo(const PartitionShape& shape, std::ostream* out)
{
    *out << "{par " << shape.number << " at sector " << shape.offsetSectors << ", " << shape.sizeSectors << " sectors, "
         << obrin::disksim::TypeName(shape.type) << ", attributes 0x" << std::hex << shape.attributes << std::dec
         << ", \"" << shape.label << "\", letter " << (shape.letter ? shape.letter : '-') << "}";
}

namespace {
constexpr wchar_t kPolicyKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";
}  // namespace

RegistryValue DwordValue(DWORD value)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return {REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))};
}

std::optional<RegistryValue> ReadAutoRunValue(REGSAM view)
{
    obrin::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value{REG_NONE, std::vector<BYTE>(256)};
    DWORD size = static_cast<DWORD>(value.data.size());
    if (RegGetValueW(key.get(), nullptr, kAutoRunValue, RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data.data(),
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

void WriteAutoRunValue(const std::optional<RegistryValue>& value, REGSAM view)
{
    obrin::UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    if (value)
        EXPECT_EQ(RegSetValueExW(key.get(), kAutoRunValue, 0, value->type, value->data.data(),
                                 static_cast<DWORD>(value->data.size())),
                  ERROR_SUCCESS);
    else
        RegDeleteValueW(key.get(), kAutoRunValue);
}

void PrintTo(const RegistryValue& value, std::ostream* out)
{
    *out << "{type " << value.type << ", bytes";
    for (BYTE b : value.data)
        *out << ' ' << std::hex << static_cast<unsigned>(b) << std::dec;
    *out << '}';
}

UINT RegisterProgressWindowClass(const wchar_t* className, WNDPROC proc)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return RegisterWindowMessageW(L"DUAL_OS_WPM_SETPOS");
}

size_t FirmwareCallsWithCode(DWORD code)
{
    char prefix[16];
    snprintf(prefix, sizeof(prefix), "0x%08lx ", static_cast<unsigned long>(code));
    size_t count = 0;
    for (const std::string& call : obrin::test::FirmsimCalls())
        count += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

std::wstring InstallDirectoryImage()
{
    wchar_t programFiles[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_DEFAULT, programFiles);
    return std::wstring(programFiles) + L"\\Vantrel\\VantrelObrin\\ObrinService.exe";
}

void PlaceServiceImage()
{
    const std::wstring image = InstallDirectoryImage();
    const std::wstring folder = image.substr(0, image.rfind(L'\\'));
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"ObrinService.exe").c_str(), image.c_str(), FALSE)) << GetLastError();
}

DWORD ServiceState()
{
    return GetWinService().QueryState();
}

}  // namespace installer_test
