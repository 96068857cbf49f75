// The generated scripts and batch files byte for byte, the command line, the
// firmware decisions and the rules that tell the installer's own partitions.
#include "installer/disk_info.h"
#include "installer/options.h"
#include "installer/scripts.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

TEST(InstallScripts, ExtendAndShrinkSelectTheWindowsPartition)
{
    EXPECT_EQ(scripts::ExtendPartition(0, 3), L"select disk 0\r\nselect par 3\r\nextend\r\nexit\r\n");
    EXPECT_EQ(scripts::ExtendPartitionBy(0, 3, 12288),
              L"select disk 0\r\nselect par 3\r\nextend size=12288\r\nexit\r\n");
    EXPECT_EQ(scripts::ShrinkWindows(1, 4), L"select disk 1\r\nselect par 4\r\nshrink minimum=12288\r\nexit\r\n");
}

TEST(InstallScripts, NumbersAreSignedDecimal)
{
    EXPECT_EQ(scripts::ExtendPartition(0xFFFFFFFFu, 2147483648u),
              L"select disk -1\r\nselect par -2147483648\r\nextend\r\nexit\r\n");
}

TEST(InstallScripts, CreateMakesAndroidThenAsos)
{
    EXPECT_EQ(scripts::CreateAndroidPartitions(0, 2, L"M:", L"N:", L"O:"),
              L"select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\n"
              L"create partition primary\r\nformat quick fs=ntfs label=\"ANDROID\" override noerr\r\n"
              L"assign letter=\"N:\"\r\n"
              L"shrink minimum=2048\r\n"
              L"create partition primary\r\nformat quick fs=ntfs label=\"ASOS\" override noerr\r\n"
              L"assign letter=\"O:\"\r\n"
              L"exit\r\n");
}

TEST(InstallScripts, BootFilesGoByNameAndOnlyTheFoldersLeftEmpty)
{
    EXPECT_EQ(scripts::RemoveBootFiles(L"M:", {L"efi\\Android\\boot.efi", L"loader\\loader.conf"}),
              L"del /f /q \"M:\\efi\\Android\\boot.efi\"\r\ndel /f /q \"M:\\loader\\loader.conf\"\r\n"
              L"rmdir \"M:\\loader\\entries\"\r\nrmdir \"M:\\loader\"\r\nrmdir \"M:\\efi\\Android\"\r\n");
}

// What the copy batch puts on the EFI partition, and nothing else, counts as
// the installer's: another boot manager's entries beside them do not.
TEST(InstallScripts, CopiedBootFilesAreTheCopyTablesOnly)
{
    const struct {
        const wchar_t* file;
        bool copied;
    } cases[] = {
        {L"efi\\Android\\bootloader.efi", true},  {L"EFI\\ANDROID\\Installer.EFI", true},
        {L"loader\\loader.conf", true},             {L"loader\\entries\\AndroidBoot.conf", true},
        {L"loader\\entries\\tinyi.conf", true},    {L"loader\\entries\\linux.conf", false},
        {L"loader\\entries\\loader.conf", false},  {L"loader\\AndroidBoot.conf", false},
        {L"efi\\Android\\boot.efi2", false},       {L"efi\\Android\\.efi", false},
        {L"efi\\Android\\sub\\x.efi", false},     {L"loader\\random-seed", false},
        {L"efi\\Microsoft\\Boot\\bootmgfw.efi", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scripts::IsCopiedBootFile(c.file), c.copied) << std::string(c.file, c.file + wcslen(c.file));
}

TEST(InstallScripts, CopyBatchSwitchesDriveBeforeEachBlock)
{
    const std::wstring p = L"C:\\OEMSetup\\Vantrel\\Android\\";
    EXPECT_EQ(scripts::CopyBootFiles(L"M:", L"O:", p),
              L"M:\r\ncd\\efi\r\nmkdir Android\r\ncd Android\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\*.efi\r\n"
              L"M:\r\ncd\\\r\nmkdir loader\r\ncd loader\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\loader.conf\r\n"
              L"M:\r\ncd\\loader\r\nmkdir entries\r\ncd entries\r\n"
              L"xcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\AndroidBoot.conf\r\n"
              L"M:\r\ncd\\loader\\entries\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\recovery.conf\r\n"
              L"M:\r\ncd\\loader\\entries\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\fastboot.conf\r\n"
              L"M:\r\ncd\\loader\\entries\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\tinyi.conf\r\n"
              L"O:\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\*.img\r\n"
              L"xcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\*.efi\r\n"
              L"O:\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\*.ini\r\n"
              L"xcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\*.conf\r\n"
              L"O:\r\nxcopy.exe /y C:\\OEMSetup\\Vantrel\\Android\\system_md5sum.txt\r\n");
}

// The copy table the installer checks the payload and the copies against
// names exactly the batch's copies, in the batch's order.
TEST(InstallScripts, CopyTableMatchesTheBatch)
{
    const std::wstring p = L"C:\\P\\";
    const std::wstring batch = scripts::CopyBootFiles(L"M:", L"O:", p);
    size_t copies = 0;
    for (size_t at = batch.find(L"xcopy.exe"); at != std::wstring::npos; at = batch.find(L"xcopy.exe", at + 1))
        ++copies;
    EXPECT_EQ(copies, std::size(scripts::kPayloadCopies));
    size_t at = 0;
    for (const scripts::PayloadCopy& copy : scripts::kPayloadCopies) {
        const std::wstring line = L"xcopy.exe /y " + p + copy.pattern + L"\r\n";
        at = batch.find(line, at);
        ASSERT_NE(at, std::wstring::npos) << std::string(line.begin(), line.end());
        // The block of this copy switched to the copy's drive last.
        const size_t efi = batch.rfind(L"M:\r\n", at);
        const size_t asos = batch.rfind(L"O:\r\n", at);
        const bool onEfi = efi != std::wstring::npos && (asos == std::wstring::npos || efi > asos);
        EXPECT_EQ(onEfi, copy.target == scripts::CopyTarget::Efi) << std::string(line.begin(), line.end());
    }
}

TEST(InstallScripts, LetterRemovalAndHiding)
{
    EXPECT_EQ(scripts::RemoveLetter(0, 2, L"M:"), L"select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n");
    EXPECT_EQ(scripts::HideAsos(0, L"O:"),
              L"select disk 0\r\nselect vol=\"O:\"\r\ngpt attributes=0x4000000000000001\r\nexit\r\n");
    EXPECT_EQ(scripts::HideAndroidWithType(0, L"N:"),
              L"select disk 0\r\nselect vol=\"N:\"\r\ngpt attributes=0x4000000000000001\r\n"
              L"set id=\"fe92a6a7-d642-4561-9f66-56cd28b8a049\"\r\nexit\r\n");
}

TEST(UninstallScripts, OnePartitionPerDelete)
{
    EXPECT_EQ(scripts::DeletePartition(1, 6), L"select disk 1\r\nselect par 6\r\ndelete par override\r\nexit\r\n");
}

TEST(UninstallScripts, UserPartitionAssignAndBatch)
{
    EXPECT_EQ(scripts::CreateUserPartition(0, 47626240, std::nullopt),
              L"select disk 0\r\ncreate partition primary offset=47626240\r\n"
              L"format quick fs=ntfs label=\"USER\" override noerr\r\nexit\r\n");
    EXPECT_EQ(scripts::CreateUserPartition(0, 47626240, 12288),
              L"select disk 0\r\ncreate partition primary offset=47626240 size=12288\r\n"
              L"format quick fs=ntfs label=\"USER\" override noerr\r\nexit\r\n");
    EXPECT_EQ(scripts::AssignLetter(0, 2, L"M:"), L"select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n");
    // Rounded up: a Windows partition that does not end on a KB boundary
    // must not get the USER partition's start inside it.
    EXPECT_EQ(OffsetKbBehind(47626240ull * 1024), 47626240u);
    EXPECT_EQ(OffsetKbBehind(47626240ull * 1024 - 7 * 512), 47626237u);
    EXPECT_EQ(OffsetKbBehind(47626240ull * 1024 + 1), 47626241u);
}

TEST(ScriptFiles, NamesAndPowercfgTexts)
{
    EXPECT_STREQ(scripts::kExtendPartitionFile, L"extend-partition.txt");
    EXPECT_STREQ(scripts::kShrinkPartitionFile, L"shrink-partition.txt");
    EXPECT_STREQ(scripts::kInstallAndroidFile, L"install-android.txt");
    EXPECT_STREQ(scripts::kRemoveDirBatch, L"remove-dir.bat");
    EXPECT_STREQ(scripts::kInstallAndroidBatch, L"install-android.bat");
    EXPECT_STREQ(scripts::kUninstallAndroidFile, L"uninstall-android.txt");
    EXPECT_STREQ(scripts::kUninstallAndroidBatch, L"uninstall-android.bat");
    EXPECT_STREQ(scripts::kHibernateOffBatch, L"remove_file.bat");
    EXPECT_STREQ(scripts::kHibernateOnBatch, L"recover_file.bat");
    EXPECT_STREQ(scripts::kHibernateOffText, L"powercfg -h off");
    EXPECT_STREQ(scripts::kHibernateOnText, L"powercfg -h on");
}

InstallerOptions Parse(std::vector<std::wstring> arguments, InstallerOptions start = {})
{
    ParseInstallerArguments(arguments, start);
    return start;
}

TEST(InstallerOptions, NoOrUnknownArgumentsGiveNoMode)
{
    EXPECT_EQ(Parse({}).mode, InstallerMode::None);
    EXPECT_EQ(Parse({L"install-dualos", L"-install", L"/check-dualos", L"-check-dualos2"}).mode, InstallerMode::None);
}

TEST(InstallerOptions, ModesIgnoreCaseAndTheLastWins)
{
    EXPECT_EQ(Parse({L"-INSTALL-DualOS"}).mode, InstallerMode::Install);
    EXPECT_EQ(Parse({L"-uninstall-dualos"}).mode, InstallerMode::Uninstall);
    EXPECT_EQ(Parse({L"-StartService"}).mode, InstallerMode::ServiceStart);
    EXPECT_EQ(Parse({L"-removeservice"}).mode, InstallerMode::ServiceRemove);
    EXPECT_EQ(Parse({L"-install-dualos", L"-check-dualos"}).mode, InstallerMode::Check);
    EXPECT_EQ(Parse({L"-check-dualos", L"-win:0x10", L"-install-dualos"}).mode, InstallerMode::Install);
}

TEST(InstallerOptions, WindowOptionInAnyCase)
{
    EXPECT_EQ(Parse({L"-win:0x1a2B"}).callerWindow, 0x1a2bu);
    EXPECT_EQ(Parse({L"-WIN:0X00C0FFEE"}).callerWindow, 0xc0ffeeu);
}

TEST(InstallerOptions, UnparsableWindowKeepsThePreviousValue)
{
    InstallerOptions start;
    start.callerWindow = 0x44;
    EXPECT_EQ(Parse({L"-win:0x"}, start).callerWindow, 0x44u);
    EXPECT_EQ(Parse({L"-win:0xzz"}, start).callerWindow, 0x44u);
    // Contains the option but does not start with it: the scan fails.
    EXPECT_EQ(Parse({L"x-win:0x12"}, start).callerWindow, 0x44u);
    EXPECT_EQ(Parse({L"-win:0x12", L"-win:0x"}, start).callerWindow, 0x12u);
}

TEST(InstallerOptions, NonModeArgumentsAreLowerCasedInPlace)
{
    std::vector<std::wstring> arguments = {L"-WIN:0XAB", L"Other", L"-Check-DualOS"};
    InstallerOptions options;
    ParseInstallerArguments(arguments, options);
    EXPECT_EQ(arguments[0], L"-win:0xab");
    EXPECT_EQ(arguments[1], L"other");
    EXPECT_EQ(arguments[2], L"-Check-DualOS");
}

TEST(FirmwareDecisions, InstallGoesOnForTopBitsOrLowBitsTwo)
{
    EXPECT_TRUE(FirmwareAllowsInstall(0x40000000));  // the preset: a failed call goes on
    EXPECT_TRUE(FirmwareAllowsInstall(0x80000000));
    EXPECT_TRUE(FirmwareAllowsInstall(0x00000002));
    EXPECT_TRUE(FirmwareAllowsInstall(0x00000006));
    EXPECT_FALSE(FirmwareAllowsInstall(0x00000001));
    EXPECT_FALSE(FirmwareAllowsInstall(0x00000000));
    EXPECT_FALSE(FirmwareAllowsInstall(0x00000003));
    EXPECT_FALSE(FirmwareAllowsInstall(0x3FFFFFFD));
}

TEST(FirmwareDecisions, UninstallFailsOnlyForZeroAndTwo)
{
    EXPECT_TRUE(FirmwareRejectsUninstall(0));
    EXPECT_TRUE(FirmwareRejectsUninstall(2));
    EXPECT_FALSE(FirmwareRejectsUninstall(1));  // the preset: a failed call leaves success
    EXPECT_FALSE(FirmwareRejectsUninstall(3));
    EXPECT_FALSE(FirmwareRejectsUninstall(0x40000002));
}

constexpr uint64_t kMb = kMiB;
constexpr uint64_t kSector = 512;

// A partition of the test layouts: offset and length in bytes, id by a number.
LayoutEntry Part(uint32_t number, uint64_t offset, uint64_t length, const Guid& type, uint8_t id,
                 uint64_t attributes = 0, const wchar_t* label = L"", bool raw = false, bool seen = true)
{
    LayoutEntry entry;
    entry.number = number;
    entry.offset = offset;
    entry.length = length;
    entry.type = type;
    entry.id[0] = id;
    entry.attributes = attributes;
    entry.volumeSeen = seen;
    entry.raw = raw;
    entry.label = label;
    return entry;
}

// EFI at 1 MiB, Windows from 117 MiB to `windowsEnd`, then the given
// partitions, on a GPT disk of 60 GB.
DiskLayout Layout(uint64_t windowsEnd, std::vector<LayoutEntry> behind)
{
    DiskLayout layout;
    layout.disk.style = PartitionStyle::Gpt;
    layout.usableEnd = 60 * 1024 * kMb;
    layout.entries.push_back(Part(1, kMb, 100 * kMb, kEfiSystemType, 1));
    layout.entries.push_back(Part(3, 117 * kMb, windowsEnd - 117 * kMb, kBasicDataType, 3, 0, L"Windows"));
    for (LayoutEntry& entry : behind)
        layout.entries.push_back(std::move(entry));
    return layout;
}

constexpr uint64_t kWindowsEnd = 40000 * kMb;
const LayoutEntry kAndroid = Part(5, kWindowsEnd, 10240 * kMb, kAndroidType, 5, kHiddenPlatformRequired, L"", false, false);
const LayoutEntry kAsos =
    Part(6, kWindowsEnd + 10240 * kMb, 2048 * kMb, kBasicDataType, 6, kHiddenPlatformRequired, L"", false, false);

LayoutEntry Moved(LayoutEntry entry, int64_t by)
{
    entry.offset += by;
    return entry;
}

LayoutEntry WithVolume(LayoutEntry entry, const wchar_t* label, bool raw = false, uint64_t attributes = 0)
{
    entry.volumeSeen = true;
    entry.label = label;
    entry.raw = raw;
    entry.attributes = attributes;
    return entry;
}

// The installation is the pair by its place behind Windows; a label alone,
// elsewhere on the disk, is the user's.
TEST(InstallationPlace, OnlyThePairDirectlyBehindWindows)
{
    LayoutEntry userAndroid = Part(7, 55000 * kMb, 4096 * kMb, kBasicDataType, 7, 0, L"Android");
    LayoutEntry between = Part(4, kWindowsEnd, 512 * kMb, kBasicDataType, 4, 0, L"DATA");
    LayoutEntry labelledAndroid = Part(5, kWindowsEnd, 10240 * kMb, kBasicDataType, 5, 0, L"android");
    const struct {
        const char* name;
        DiskLayout layout;
        bool android;
        bool asos;
    } cases[] = {
        {"installed", Layout(kWindowsEnd, {kAndroid, kAsos}), true, true},
        {"gap of 7 sectors", Layout(kWindowsEnd - 7 * kSector, {kAndroid, kAsos}), true, true},
        {"gap of a MiB", Layout(kWindowsEnd - kMb, {kAndroid, kAsos}), false, false},
        {"ASOS a MiB off", Layout(kWindowsEnd, {kAndroid, Moved(kAsos, kMb)}), true, false},
        {"partition between", Layout(kWindowsEnd, {between, Moved(kAndroid, 512 * kMb), Moved(kAsos, 512 * kMb)}),
         false, false},
        {"ANDROID by its label", Layout(kWindowsEnd, {labelledAndroid, WithVolume(kAsos, L"ASOS")}), true, true},
        {"ASOS unformatted", Layout(kWindowsEnd, {kAndroid, WithVolume(kAsos, L"", true, kHiddenPlatformRequired)}),
         true, true},
        {"ASOS relabelled", Layout(kWindowsEnd, {kAndroid, WithVolume(kAsos, L"DATA", false, kHiddenPlatformRequired)}),
         true, true},
        {"a data partition behind ANDROID", Layout(kWindowsEnd, {kAndroid, WithVolume(kAsos, L"DATA")}), true, false},
        {"ANDROID alone", Layout(kWindowsEnd, {kAndroid}), true, false},
        {"a user's Android far from Windows", Layout(kWindowsEnd, {userAndroid}), false, false},
        {"a user's Android behind the pair", Layout(kWindowsEnd, {kAndroid, kAsos, userAndroid}), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDiskInfo info = {};
        info.layout = c.layout;
        info.windowsPartition = 3;
        ApplyInstallationPlace(info);
        EXPECT_EQ(info.androidFound, c.android ? 1u : 0u);
        EXPECT_EQ(info.asosPresent, c.asos ? 1u : 0u);
        EXPECT_EQ(HasAndroidInstallation(info), c.android && c.asos);
        if (c.android && c.asos) {
            EXPECT_EQ(info.asosPartition, 6u);
        }
    }
    DiskLayout mbr = Layout(kWindowsEnd, {kAndroid, kAsos});
    mbr.disk.style = PartitionStyle::Mbr;
    EXPECT_EQ(FindInstallation(mbr, 3).android, nullptr);
    EXPECT_EQ(FindEfiPartition(mbr), nullptr);
}

// A recorded partition counts only exactly in place; gone is fine while
// its place is free (a cut right after its delete), anything there is not.
TEST(RecordedPartitions, ExactlyInPlaceOrGoneWithItsPlaceFree)
{
    const std::vector<PartitionIdentity> recorded = {kAndroid.Identity(), kAsos.Identity()};
    LayoutEntry userData = Part(8, kWindowsEnd, 12288 * kMb, kBasicDataType, 8, 0, L"DATA");
    LayoutEntry sameIdMoved = Moved(kAsos, kMb);
    LayoutEntry otherId = kAsos;
    otherId.id[0] = 9;
    const struct {
        const char* name;
        DiskLayout layout;
        size_t present;
        bool mismatch;
    } cases[] = {
        {"both in place", Layout(kWindowsEnd, {kAndroid, kAsos}), 2, false},
        {"ANDROID deleted, its place free", Layout(kWindowsEnd, {kAsos}), 1, false},
        {"both deleted, the space free", Layout(kWindowsEnd, {}), 0, false},
        {"both replaced by the user's partition", Layout(kWindowsEnd, {userData}), 0, true},
        {"ASOS moved", Layout(kWindowsEnd, {kAndroid, sameIdMoved}), 0, true},
        {"another id in ASOS's place", Layout(kWindowsEnd, {kAndroid, otherId}), 0, true},
        {"Windows grown into the space", Layout(kWindowsEnd + 100 * kMb, {}), 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IdentityFinding finding = FindRecordedPartitions(c.layout, recorded);
        EXPECT_EQ(!finding.mismatch.empty(), c.mismatch) << std::string(finding.mismatch.begin(), finding.mismatch.end());
        if (!c.mismatch) {
            EXPECT_EQ(finding.present.size(), c.present);
        }
    }
}

// A cut inside the create script: what is new on the disk is the run's only
// in the shapes the script leaves it in, in the space the shrink freed.
TEST(PartitionsMadeByCreate, OnlyTheShapesTheScriptLeaves)
{
    const FreedSpace freed{kWindowsEnd, 12288 * kMb};
    const DiskLayout shrunk = Layout(kWindowsEnd, {});
    std::vector<uint64_t> before;
    for (const LayoutEntry& entry : shrunk.entries)
        before.push_back(entry.offset);
    const LayoutEntry whole = Part(5, kWindowsEnd, 12288 * kMb, kBasicDataType, 5, 0, L"ANDROID");
    const LayoutEntry android = Part(5, kWindowsEnd, 10240 * kMb, kBasicDataType, 5, 0, L"ANDROID");
    const LayoutEntry asos = Part(6, kWindowsEnd + 10240 * kMb, 2048 * kMb, kBasicDataType, 6, 0, L"ASOS");
    const struct {
        const char* name;
        std::vector<LayoutEntry> made;
        bool mine;
    } cases[] = {
        {"nothing made yet", {}, true},
        {"ANDROID created, not formatted", {WithVolume(whole, L"", true)}, true},
        {"ANDROID formatted", {whole}, true},
        {"ANDROID shrunk", {android}, true},
        {"ASOS created, not formatted", {android, WithVolume(asos, L"", true)}, true},
        {"both formatted", {android, asos}, true},
        {"both hidden and typed by the later steps",
         {Part(5, kWindowsEnd, 10240 * kMb, kAndroidType, 5, kHiddenPlatformRequired, L"", false, false),
          Part(6, kWindowsEnd + 10240 * kMb, 2048 * kMb, kBasicDataType, 6, kHiddenPlatformRequired, L"", false,
               false)},
         true},
        {"the user's data partition in the space", {Part(8, kWindowsEnd, 12288 * kMb, kBasicDataType, 8, 0, L"DATA")},
         false},
        {"the user's two partitions labelled alike but smaller",
         {Part(8, kWindowsEnd, 4096 * kMb, kBasicDataType, 8, 0, L"ANDROID")}, false},
        {"ANDROID a MiB late", {Moved(android, kMb), Moved(asos, 0)}, false},
        {"ASOS before ANDROID is shrunk", {whole, asos}, false},
        {"a third partition", {android, asos, Part(9, 50000 * kMb, kMb, kBasicDataType, 9)}, false},
        {"a new partition elsewhere", {Part(9, 50000 * kMb, 4096 * kMb, kBasicDataType, 9, 0, L"ANDROID")}, false},
        {"ANDROID with attributes of its own", {WithVolume(android, L"ANDROID", false, 1)}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DiskLayout layout = Layout(kWindowsEnd, c.made);
        const IdentityFinding finding = FindPartitionsMadeByCreate(layout, before, freed);
        EXPECT_EQ(finding.mismatch.empty(), c.mine) << std::string(finding.mismatch.begin(), finding.mismatch.end());
        EXPECT_EQ(finding.present.size(), c.mine ? c.made.size() : 0u);
    }

    // Windows ending 7 sectors short of a MiB: diskpart starts ANDROID at the
    // next MiB, and ASOS takes the rest.
    const uint64_t offGrid = kWindowsEnd - 7 * kSector;
    const FreedSpace freedOffGrid{offGrid, kWindowsEnd + 12288 * kMb - offGrid};
    const DiskLayout aligned = Layout(offGrid, {android, asos});
    EXPECT_EQ(FindPartitionsMadeByCreate(aligned, before, freedOffGrid).present.size(), 2u);
}

TEST(PartitionsMadeByCreate, FreedSpaceOfAnOlderRecordRunsToTheNextPartitionBefore)
{
    const DiskLayout layout = Layout(kWindowsEnd, {Part(4, 52288 * kMb, 500 * kMb, kBasicDataType, 4)});
    std::vector<uint64_t> before;
    for (const LayoutEntry& entry : layout.entries)
        before.push_back(entry.offset);
    EXPECT_EQ(FreedSpaceBehind(layout, layout.entries[1], before), (FreedSpace{kWindowsEnd, 12288 * kMb}));
    before.pop_back();
    EXPECT_EQ(FreedSpaceBehind(layout, layout.entries[1], before),
              (FreedSpace{kWindowsEnd, layout.usableEnd - kWindowsEnd}));
}

// Windows gets back the whole MB the installation's partitions span behind
// it, which is what the shrink took: a gap of less than a MiB that lay
// behind it before, or free space behind the pair, stays free.
TEST(SpaceGivenBack, ExactlyWhatTheShrinkTook)
{
    const uint64_t offGrid = kWindowsEnd - 7 * kSector;
    const LayoutEntry recovery = Part(4, kWindowsEnd + 12288 * kMb, 500 * kMb, kBasicDataType, 4);
    const LayoutEntry userAndroid = Part(5, kWindowsEnd, 2048 * kMb, kBasicDataType, 5, 0, L"ANDROID");
    const struct {
        const char* name;
        uint64_t windowsEnd;
        std::vector<LayoutEntry> behind;
        uint64_t owedMb;
        UserPartitionPlace user;
    } cases[] = {
        {"Recovery behind the pair", kWindowsEnd, {kAndroid, kAsos, recovery}, 12288, {kWindowsEnd / 1024, {}}},
        {"Windows 7 sectors short of a MiB, Recovery behind the pair", offGrid, {kAndroid, kAsos, recovery}, 12288,
         {kWindowsEnd / 1024 - 3, {}}},
        {"free space behind the pair", kWindowsEnd, {kAndroid, kAsos, Moved(recovery, 4096 * kMb)}, 12288,
         {kWindowsEnd / 1024, 12288}},
        {"an ANDROID alone", kWindowsEnd, {userAndroid, recovery}, 2048, {kWindowsEnd / 1024, 2048}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DiskLayout installed = Layout(c.windowsEnd, c.behind);
        const LayoutEntry& windows = installed.entries[1];
        std::vector<PartitionIdentity> own;
        for (const LayoutEntry& entry : c.behind) {
            if (entry.id[0] == 5 || entry.id[0] == 6)
                own.push_back(entry.Identity());
        }
        const PartitionIdentity whole = WindowsWithSpaceOf(windows, own);
        EXPECT_EQ(MegabytesOwed(windows, whole), c.owedMb);

        DiskLayout removed = installed;
        std::erase_if(removed.entries, [](const LayoutEntry& entry) { return entry.id[0] == 5 || entry.id[0] == 6; });
        const UserPartitionPlace user = PlaceUserPartition(removed, removed.entries[1], c.owedMb);
        EXPECT_EQ(user.offsetKb, c.user.offsetKb);
        EXPECT_EQ(user.sizeMb, c.user.sizeMb);
    }

    const DiskLayout removed = Layout(kWindowsEnd, {});
    const LayoutEntry& windows = removed.entries[1];
    PartitionIdentity other = WindowsWithSpaceOf(windows, {kAndroid.Identity()});
    EXPECT_EQ(MegabytesOwed(windows, windows.Identity()), 0u) << "given back already";
    other.id[0] = 9;
    EXPECT_EQ(MegabytesOwed(windows, other), 0u) << "another partition's note";
    EXPECT_TRUE(HasAlignedSize(10240 * kMb - 7 * kSector, kAndroidBytes));
    EXPECT_FALSE(HasAlignedSize(10241 * kMb, kAndroidBytes));
}

// Free space the create script would take instead of the space behind
// Windows: counted anywhere but there, in front of the first partition and
// in the MSR's place (free in these layouts) too.
TEST(SpaceGivenBack, LargestFreeExtentAwayFromWindows)
{
    const LayoutEntry recovery = Part(4, kWindowsEnd + 12288 * kMb, 500 * kMb, kBasicDataType, 4);
    const LayoutEntry fillsTheDisk = Part(4, kWindowsEnd, 60 * 1024 * kMb - kWindowsEnd, kBasicDataType, 4);
    const struct {
        const char* name;
        DiskLayout layout;
        uint64_t largest;
    } cases[] = {
        {"the disk full behind Windows", Layout(kWindowsEnd, {fillsTheDisk}), 16 * kMb},
        {"free only behind Windows", Layout(kWindowsEnd, {}), 16 * kMb},
        {"free behind Recovery too", Layout(kWindowsEnd, {recovery}), (60 * 1024 - 40000 - 12288 - 500) * kMb},
        {"Windows 7 sectors short of a MiB", Layout(kWindowsEnd - 7 * kSector, {recovery}),
         (60 * 1024 - 40000 - 12288 - 500) * kMb},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LargestFreeExtentAwayFrom(c.layout, c.layout.entries[1]), c.largest);
    }
}

TEST(InstallationPlace, GuidsReadAsWindowsWritesThem)
{
    EXPECT_EQ(GuidText(kAndroidType), L"{FE92A6A7-D642-4561-9F66-56CD28B8A049}");
    EXPECT_EQ(kEfiSystemType[0], 0x28);
    EXPECT_EQ(kEfiSystemType[3], 0xc1);
    EXPECT_EQ(kEfiSystemType[8], 0xba);
}

}  // namespace
