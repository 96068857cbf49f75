// The kernel-mode disk stand-in as a plain program meets it: the names
// opened as discovery opens them, the three disk I/O controls read at the
// byte offsets Windows documents and compared with the model file, through
// the install's and uninstall's diskpart steps; the prefix's drives with
// those names taken over; a damaged model. The suite DiskDriverAfterRestart
// runs from diskdrv_restart_test.sh after the prefix was restarted.
#include "common/ownership.h"
#include "installer/scripts.h"
#include "sim/disk/disk_files.h"
#include "sim/diskdrv/obrindisk_image.h"
#include "tests/support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace obrin::disksim {
namespace {

using ::testing::HasSubstr;
using test::ProgramDirectory;

// The structures as documented (the same on 32- and 64-bit Windows). The
// answers are read at these offsets, not through this build's headers.
constexpr size_t kLayoutStyle = 0, kLayoutCount = 4, kLayoutDiskId = 8, kLayoutUsableOffset = 24,
                 kLayoutUsableLength = 32, kLayoutMaxCount = 40, kLayoutEntries = 48;
constexpr size_t kEntrySize = 144, kEntryStyle = 0, kEntryOffset = 8, kEntryLength = 16, kEntryNumber = 24,
                 kEntryType = 32, kEntryId = 48, kEntryAttributes = 64, kEntryName = 72;
constexpr size_t kDeviceNumberSize = 12, kExtentsSize = 32;
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == kLayoutEntries);
static_assert(sizeof(PARTITION_INFORMATION_EX) == kEntrySize);
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == kDeviceNumberSize);
static_assert(sizeof(VOLUME_DISK_EXTENTS) == kExtentsSize);

// PARTITION_INFORMATION_MBR within an entry.
constexpr size_t kEntryMbrType = 32, kEntryMbrBoot = 33, kEntryMbrRecognized = 34, kEntryMbrHiddenSectors = 36;
constexpr size_t kLayoutMbrSignature = 8;
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == kEntryMbrType);
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) + offsetof(PARTITION_INFORMATION_MBR, HiddenSectors) ==
              kEntryMbrHiddenSectors);

constexpr uint32_t kPartitionStyleMbr = 0;
constexpr uint32_t kPartitionStyleGpt = 1;
constexpr uint32_t kFileDeviceDisk = 7;
// What discovery passes: the header and room for 129 entries.
constexpr DWORD kDiscoveryLayoutBytes = 18624;

template <typename T>
T At(const std::vector<uint8_t>& bytes, size_t offset)
{
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

GUID Guid(const std::string& text)
{
    GUID guid = {};
    EXPECT_EQ(CLSIDFromString(Wide("{" + text + "}").c_str(), &guid), S_OK) << text;
    return guid;
}

// The volume GUID path as discovery opens it: without the trailing backslash.
std::wstring VolumePath(uint32_t volumeId)
{
    std::wstring path = Wide(VolumeGuidPath(volumeId));
    path.pop_back();
    return path;
}

std::wstring LetterPath(char letter) { return L"\\\\.\\" + std::wstring(1, static_cast<wchar_t>(letter)) + L":"; }

struct Answer {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD returned = 0;
    std::vector<uint8_t> bytes;
};

// Opens `path` as discovery does (READ_CONTROL, sharing read and write) and
// issues `code` into `size` bytes; `openError` receives the open's error.
Answer Ask(const std::wstring& path, DWORD code, DWORD size, DWORD* openError = nullptr)
{
    Answer answer;
    UniqueFileHandle device(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    if (openError != nullptr)
        *openError = device ? 0 : GetLastError();
    if (!device) {
        answer.error = GetLastError();
        return answer;
    }
    answer.bytes.assign(size, 0xcc);
    answer.returned = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    answer.ok = DeviceIoControl(device.get(), code, nullptr, 0, answer.bytes.data(), size, &answer.returned, nullptr);
    answer.error = answer.ok ? 0 : GetLastError();
    return answer;
}

DWORD OpenError(const std::wstring& path)
{
    DWORD error = 0;
    Ask(path, IOCTL_STORAGE_GET_DEVICE_NUMBER, kDeviceNumberSize, &error);
    return error;
}

void ExpectDeviceNumber(const std::wstring& path, uint32_t disk, uint32_t partition)
{
    SCOPED_TRACE(Narrow(path));
    const Answer answer = Ask(path, IOCTL_STORAGE_GET_DEVICE_NUMBER, kDeviceNumberSize);
    ASSERT_TRUE(answer.ok) << answer.error;
    EXPECT_EQ(answer.returned, kDeviceNumberSize);
    EXPECT_EQ(At<uint32_t>(answer.bytes, 0), kFileDeviceDisk);
    EXPECT_EQ(At<uint32_t>(answer.bytes, 4), disk);
    EXPECT_EQ(At<uint32_t>(answer.bytes, 8), partition);
}

// The layout as the model says it, to the byte: entries in disk order with
// their numbers, the disk's and partitions' identities, a GPT disk's usable
// area between the partition table and its backup, an MBR's four entries.
void ExpectLayout(const Disk& disk)
{
    const Answer answer = Ask(Wide(disk.devicePath), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, kDiscoveryLayoutBytes);
    ASSERT_TRUE(answer.ok) << answer.error;
    const bool gpt = disk.style == PartitionStyle::Gpt;
    const size_t count = gpt ? disk.partitions.size() : 4;
    EXPECT_EQ(answer.returned, kLayoutEntries + count * kEntrySize);
    EXPECT_EQ(At<uint32_t>(answer.bytes, kLayoutStyle), gpt ? kPartitionStyleGpt : kPartitionStyleMbr);
    ASSERT_EQ(At<uint32_t>(answer.bytes, kLayoutCount), count);
    if (gpt) {
        EXPECT_EQ(At<GUID>(answer.bytes, kLayoutDiskId), Guid(disk.id));
        EXPECT_EQ(At<uint64_t>(answer.bytes, kLayoutUsableOffset), disk.Bytes(disk.FirstUsableSector()));
        EXPECT_EQ(At<uint64_t>(answer.bytes, kLayoutUsableOffset) + At<uint64_t>(answer.bytes, kLayoutUsableLength),
                  disk.Bytes(disk.UsableEndSector()));
        // The header and 128 entries of 128 bytes before, their backup after.
        EXPECT_EQ(disk.Bytes(disk.sizeSectors - disk.UsableEndSector()), disk.bytesPerSector + 16384u);
        EXPECT_EQ(At<uint32_t>(answer.bytes, kLayoutMaxCount), 128u);
    } else {
        EXPECT_EQ(At<uint32_t>(answer.bytes, kLayoutMbrSignature), disk.signature);
    }
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = kLayoutEntries + i * kEntrySize;
        EXPECT_EQ(At<uint32_t>(answer.bytes, entry + kEntryStyle), gpt ? kPartitionStyleGpt : kPartitionStyleMbr);
        if (i >= disk.partitions.size()) {
            SCOPED_TRACE("unused MBR entry " + std::to_string(i));
            EXPECT_EQ(At<uint64_t>(answer.bytes, entry + kEntryLength), 0u);
            EXPECT_EQ(At<uint32_t>(answer.bytes, entry + kEntryNumber), 0u);
            EXPECT_EQ(answer.bytes[entry + kEntryMbrType], 0u);
            continue;
        }
        const Partition& p = disk.partitions[i];
        SCOPED_TRACE("partition " + std::to_string(p.number));
        EXPECT_EQ(At<uint64_t>(answer.bytes, entry + kEntryOffset), disk.Bytes(p.offsetSectors));
        EXPECT_EQ(At<uint64_t>(answer.bytes, entry + kEntryLength), disk.Bytes(p.sizeSectors));
        EXPECT_EQ(At<uint32_t>(answer.bytes, entry + kEntryNumber), p.number);
        if (gpt) {
            EXPECT_EQ(At<GUID>(answer.bytes, entry + kEntryType), Guid(p.type));
            EXPECT_EQ(At<GUID>(answer.bytes, entry + kEntryId), Guid(p.id));
            EXPECT_EQ(At<uint64_t>(answer.bytes, entry + kEntryAttributes), p.attributes);
            EXPECT_NE(At<wchar_t>(answer.bytes, entry + kEntryName), L'\0') << "every GPT entry has a name";
        } else {
            EXPECT_EQ(answer.bytes[entry + kEntryMbrType], MbrTypeByte(p.type).value_or(0));
            EXPECT_EQ(answer.bytes[entry + kEntryMbrBoot], p.active ? 1u : 0u);
            EXPECT_EQ(answer.bytes[entry + kEntryMbrRecognized], 1u);
            EXPECT_EQ(At<uint32_t>(answer.bytes, entry + kEntryMbrHiddenSectors), p.offsetSectors);
        }
    }
}

void ExpectVolume(const Disk& disk, const Partition& p)
{
    SCOPED_TRACE("volume of partition " + std::to_string(p.number));
    const Answer extents = Ask(VolumePath(p.volumeId), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, kExtentsSize);
    ASSERT_TRUE(extents.ok) << extents.error;
    EXPECT_EQ(extents.returned, kExtentsSize);
    EXPECT_EQ(At<uint32_t>(extents.bytes, 0), 1u);
    EXPECT_EQ(At<uint32_t>(extents.bytes, 8), disk.index);
    EXPECT_EQ(At<uint64_t>(extents.bytes, 16), disk.Bytes(p.offsetSectors));
    EXPECT_EQ(At<uint64_t>(extents.bytes, 24), disk.Bytes(p.sizeSectors));
    ExpectDeviceNumber(VolumePath(p.volumeId), disk.index, p.number);
    if (p.letter != 0) {
        ExpectDeviceNumber(LetterPath(p.letter), disk.index, p.number);
        // Volume information still comes from the drive Wine has for the letter.
        const std::wstring root = std::wstring(1, static_cast<wchar_t>(p.letter)) + L":\\";
        wchar_t fileSystem[MAX_PATH] = {};
        EXPECT_TRUE(GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH))
            << p.letter << ": " << GetLastError();
    }
}

// Every name of the model answers as the model says; names it lacks are not
// there.
void ExpectDevicesMatch(const Model& model)
{
    uint32_t disks = 0;
    for (const Disk& disk : model.disks) {
        SCOPED_TRACE(disk.devicePath);
        ExpectLayout(disk);
        ExpectDeviceNumber(Wide(disk.devicePath), disk.index, 0);
        for (const Partition& p : disk.partitions) {
            if (HasVolume(p))
                ExpectVolume(disk, p);
            else
                EXPECT_EQ(OpenError(VolumePath(p.volumeId)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
                    << "partition " << p.number << " has no volume";
        }
        disks = std::max(disks, disk.index + 1);
    }
    EXPECT_EQ(OpenError(L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(disks)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenError(VolumePath(model.nextVolumeId)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

Model LoadModel()
{
    Model model;
    std::string error;
    EXPECT_TRUE(LoadModelFile(ModelFilePath(), model, error)) << error;
    return model;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::wstring TempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder, length) + name;
}

DWORD Run(const std::wstring& commandLine, std::string* output = nullptr)
{
    std::string ignored;
    const test::ProcessResult result =
        test::RunProcessCapturingOutput(commandLine, 120000, output != nullptr ? *output : ignored);
    EXPECT_TRUE(result.started && result.finished) << Narrow(commandLine);
    return result.exitCode;
}

DWORD Disksim(const std::wstring& arguments, std::string* output = nullptr)
{
    return Run(L"\"" + ProgramDirectory() + L"disksim.exe\" " + arguments, output);
}

// As the installer runs its scripts: a file in the temporary folder, then
// "cmd /C diskpart.exe /s" or "cmd /C" for a batch.
DWORD Diskpart(const std::wstring& script, std::string* output = nullptr)
{
    const std::wstring path = TempPath(L"diskdrv-test.txt");
    EXPECT_TRUE(WriteBytes(path, Narrow(script)));
    return Run(L"cmd /C diskpart.exe /s \"" + path + L"\"", output);
}

DWORD Batch(const std::wstring& text)
{
    const std::wstring path = TempPath(L"diskdrv-test.bat");
    EXPECT_TRUE(WriteBytes(path, Narrow(text)));
    return Run(L"cmd /C \"" + path + L"\"");
}

// Polls the service manager until OBRINDISK runs.
bool DriverRuns(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    do {
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), L"OBRINDISK", SERVICE_QUERY_STATUS) : nullptr);
        SERVICE_STATUS status = {};
        if (service && QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING)
            return true;
        Sleep(250);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

// The prefix's drive C with \\.\C: taken over: files, volume information,
// drive type and free space still come from Wine's own drive.
void ExpectDriveCWorks()
{
    const std::wstring file = L"C:\\diskdrv-test-file.txt";
    ASSERT_TRUE(WriteBytes(file, "contents"));
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileW(file.c_str()));
    wchar_t fileSystem[MAX_PATH] = {};
    DWORD serial = 0;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, fileSystem, MAX_PATH))
        << GetLastError();
    EXPECT_STRNE(fileSystem, L"");
    EXPECT_EQ(GetDriveTypeW(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
    ULARGE_INTEGER available = {};
    EXPECT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
}

class DiskDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* file : {L"disksim.exe", L"diskpart.exe", L"obrindisk.sys"}) {
            if (GetFileAttributesW((ProgramDirectory() + file).c_str()) == INVALID_FILE_ATTRIBUTES)
                GTEST_SKIP() << Narrow(file) << " was not built into the bin folder";
        }
        ASSERT_EQ(Disksim(L"init standard"), 0u);
        ASSERT_EQ(Disksim(L"install-tools"), 0u);
    }
};

TEST_F(DiskDriver, EveryMachineAnswersAsItsModel)
{
    for (std::string_view name : MachineVariantNames()) {
        SCOPED_TRACE(std::string(name));
        ASSERT_EQ(Disksim(L"init " + Wide(std::string(name))), 0u);
        ExpectDevicesMatch(LoadModel());
    }
}

TEST_F(DiskDriver, ShortBuffersAndTheWrongDeviceFailAsOnWindows)
{
    const std::wstring disk = L"\\\\.\\PHYSICALDRIVE0";
    // Four entries need 48 + 4 * 144 bytes; less is too small, with nothing returned.
    for (DWORD size : {0u, 191u, 623u}) {
        const Answer layout = Ask(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, size);
        EXPECT_FALSE(layout.ok) << size;
        EXPECT_EQ(layout.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << size;
        // Windows sets the count to 0; Wine's DeviceIoControl leaves it as it
        // was when the request fails.
        if (test::RunningUnderWine())
            EXPECT_EQ(layout.returned, 0xdeadbeefu) << size;
        else
            EXPECT_EQ(layout.returned, 0u) << size;
    }
    const Answer exact = Ask(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, 624);
    EXPECT_TRUE(exact.ok) << exact.error;
    EXPECT_EQ(exact.returned, 624u);
    EXPECT_EQ(Ask(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, kDeviceNumberSize - 1).error,
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Ask(L"\\\\.\\C:", IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, kExtentsSize - 1).error,
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // A volume is no disk and a disk no volume.
    EXPECT_EQ(Ask(L"\\\\.\\C:", IOCTL_DISK_GET_DRIVE_LAYOUT_EX, kDiscoveryLayoutBytes).error,
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(Ask(disk, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, kExtentsSize).error,
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    // Windows passes a disk request on a volume to its disk; the EFI volume's
    // name led nowhere before, so this stand-in has nothing to pass it to.
    EXPECT_EQ(Ask(VolumePath(2), IOCTL_DISK_GET_DRIVE_GEOMETRY, sizeof(DISK_GEOMETRY)).error,
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
}

TEST_F(DiskDriver, RequestsItDoesNotServeGoToTheDeviceThatHadTheNameBefore)
{
    // Wine's mount manager answers the geometry of its disk and of drive C.
    for (const wchar_t* path : {L"\\\\.\\PHYSICALDRIVE0", L"\\\\.\\C:"}) {
        const Answer geometry = Ask(path, IOCTL_DISK_GET_DRIVE_GEOMETRY, sizeof(DISK_GEOMETRY));
        EXPECT_TRUE(geometry.ok) << Narrow(path) << " " << geometry.error;
        EXPECT_EQ(geometry.returned, sizeof(DISK_GEOMETRY)) << Narrow(path);
    }
    ExpectDriveCWorks();
}

TEST_F(DiskDriver, AnswersFollowEveryStepOfAnInstallAndAnUninstall)
{
    struct Step {
        const char* what;
        std::wstring script;
        bool batch;
    };
    const std::wstring payload = L"C:\\OEMSetup\\Vantrel\\Android\\";
    // The installer's own texts, with the partitions and letters it finds
    // on the standard machine (EFI 2, Windows 4, ANDROID 5, ASOS 6); ASOS
    // deleted first, so that under the disk-order numbering ANDROID keeps 5.
    const std::vector<Step> steps = {
        {"shrink Windows", scripts::ShrinkWindows(0, 4), false},
        {"create ANDROID and ASOS", scripts::CreateAndroidPartitions(0, 2, L"M:", L"N:", L"O:"), false},
        {"copy the boot files", scripts::CopyBootFiles(L"M:", L"O:", payload), true},
        {"remove the EFI letter", scripts::RemoveLetter(0, 2, L"M:"), false},
        {"hide ASOS", scripts::HideAsos(0, L"O:"), false},
        {"hide ANDROID with its type", scripts::HideAndroidWithType(0, L"N:"), false},
        {"unhide ASOS", L"select disk 0\r\nselect par 6\r\ngpt attributes=0x8000000000000001\r\nexit\r\n", false},
        {"hide ASOS again", L"select disk 0\r\nselect par 6\r\ngpt attributes=0x4000000000000001\r\nexit\r\n", false},
        {"delete ASOS", scripts::DeletePartition(0, 6), false},
        {"delete ANDROID", scripts::DeletePartition(0, 5), false},
        {"extend Windows", scripts::ExtendPartition(0, 4), false},
        {"assign the EFI letter", scripts::AssignLetter(0, 2, L"M:"), false},
        {"remove the boot files",
         scripts::RemoveBootFiles(L"M:", {L"efi\\Android\\bootloader.efi", L"efi\\Android\\installer.efi",
                                          L"loader\\loader.conf", L"loader\\entries\\AndroidBoot.conf",
                                          L"loader\\entries\\recovery.conf", L"loader\\entries\\fastboot.conf",
                                          L"loader\\entries\\tinyi.conf"}),
         true},
        {"remove the EFI letter again", scripts::RemoveLetter(0, 2, L"M:"), false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_EQ(step.batch ? Batch(step.script) : Diskpart(step.script), 0u);
        ExpectDevicesMatch(LoadModel());
        if (::testing::Test::HasFailure())
            break;
    }
    const Model end = LoadModel();
    EXPECT_EQ(end.disks[0].partitions.size(), 4u);
    EXPECT_EQ(OpenError(L"\\\\.\\M:"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "the letter went back with its removal";
}

// A delete renumbers the partitions behind it at once under disk-order, and
// the device numbers of their volumes follow; under stable they keep theirs.
TEST_F(DiskDriver, DeviceNumbersFollowTheNumberingRule)
{
    struct Case {
        const wchar_t* rule;
        uint32_t before;   // the second new partition's number before the delete
        uint32_t after;    // and after it
        uint32_t recovery; // the Recovery partition's number after it
    } cases[] = {{L"disk-order", 5, 4, 5}, {L"stable", 6, 6, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.rule));
        ASSERT_EQ(Disksim(L"init recovery-last"), 0u);
        ASSERT_EQ(Disksim(std::wstring(L"numbering ") + c.rule), 0u);
        ASSERT_EQ(Diskpart(L"select disk 0\r\nselect par 3\r\nshrink minimum=2048\r\n"
                           L"create partition primary size=1024\r\ncreate partition primary\r\nexit\r\n"),
                  0u);
        const Model created = LoadModel();
        const Partition& second = created.disks[0].partitions[4];
        const Partition& recovery = created.disks[0].partitions[5];
        ASSERT_EQ(second.number, c.before);
        ExpectDeviceNumber(VolumePath(second.volumeId), 0, c.before);
        ASSERT_EQ(Diskpart(L"select disk 0\r\nselect par " + std::to_wstring(created.disks[0].partitions[3].number) +
                           L"\r\ndelete partition\r\nexit\r\n"),
                  0u);
        ExpectDeviceNumber(VolumePath(second.volumeId), 0, c.after);
        ExpectDeviceNumber(VolumePath(recovery.volumeId), 0, c.recovery);
        ExpectDevicesMatch(LoadModel());
    }
}

TEST_F(DiskDriver, ADamagedModelLeavesNoDiskAndTheStandInsSayWhy)
{
    ASSERT_EQ(Disksim(L"init system-disk-1"), 0u);
    ASSERT_TRUE(WriteBytes(ModelFilePath(), "disk zero\n"));
    std::string output;
    EXPECT_EQ(Disksim(L"show", &output), 1u);
    EXPECT_THAT(output, HasSubstr("line 1: disk takes its index"));
    EXPECT_EQ(OpenError(L"\\\\.\\PHYSICALDRIVE1"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenError(VolumePath(1)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Drive C and disk 0 are Wine's own again, which has no layout to give.
    EXPECT_EQ(Ask(L"\\\\.\\PHYSICALDRIVE0", IOCTL_DISK_GET_DRIVE_LAYOUT_EX, kDiscoveryLayoutBytes).error,
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    ExpectDriveCWorks();
    output.clear();
    EXPECT_EQ(Diskpart(scripts::AssignLetter(0, 2, L"M:"), &output), 1u);
    EXPECT_THAT(output, HasSubstr("The disk model could not be read: line 1"));

    ASSERT_EQ(Disksim(L"init standard"), 0u);
    ExpectDevicesMatch(LoadModel());
}

TEST_F(DiskDriver, ADamagedImageSentToTheDriverLeavesNoDiskAndTheDriverServing)
{
    UniqueFileHandle control(CreateFileW(OBRINDISK_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(control) << GetLastError();
    std::vector<uint8_t> garbage(4096, 0x5a);
    DWORD returned = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(control.get(), OBRINDISK_IOCTL_SET_IMAGE, garbage.data(),
                                 static_cast<DWORD>(garbage.size()), nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenError(VolumePath(4)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ExpectDriveCWorks();
    // The next model saved is served again.
    ASSERT_EQ(Disksim(L"init removable-asos"), 0u);
    ExpectDevicesMatch(LoadModel());
}

TEST_F(DiskDriver, AStoppedDriverGivesEveryNameBackAndAStartedOneReadsTheModelFile)
{
    ASSERT_EQ(Diskpart(scripts::AssignLetter(0, 2, L"M:")), 0u);
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(
        manager ? OpenServiceW(manager.get(), L"OBRINDISK", SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS) : nullptr);
    ASSERT_TRUE(service) << GetLastError();
    SERVICE_STATUS status = {};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
        Sleep(100);
    ASSERT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

    // Wine's own names again: its disk without a layout, its drives.
    EXPECT_EQ(Ask(L"\\\\.\\PHYSICALDRIVE0", IOCTL_DISK_GET_DRIVE_LAYOUT_EX, kDiscoveryLayoutBytes).error,
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(OpenError(VolumePath(4)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenError(LetterPath('M')), 0u) << "the mount manager's drive M";
    ExpectDriveCWorks();

    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(DriverRuns(30000));
    ExpectDevicesMatch(LoadModel());
}

// Run by diskdrv_restart_test.sh in a prefix whose wineserver it ended and
// started again; not part of the ordinary run.
TEST(DiskDriverAfterRestart, ServesTheModelOfThePrefix)
{
    ASSERT_TRUE(DriverRuns(60000)) << "OBRINDISK did not start with the prefix";
    ExpectDevicesMatch(LoadModel());
    ExpectDriveCWorks();
}

TEST(DiskDriverAfterRestart, ServesNoDiskFromADamagedImageFile)
{
    ASSERT_TRUE(DriverRuns(60000)) << "OBRINDISK did not start with the prefix";
    EXPECT_EQ(OpenError(VolumePath(1)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Ask(L"\\\\.\\PHYSICALDRIVE0", IOCTL_DISK_GET_DRIVE_LAYOUT_EX, kDiscoveryLayoutBytes).error,
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    ExpectDriveCWorks();
}

}  // namespace
}  // namespace obrin::disksim
