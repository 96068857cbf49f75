// The disk stand-in's programs in a Wine prefix: diskpart run the way the
// installer runs it ("cmd /C diskpart.exe /s file"), drive letters that cmd
// and xcopy use at once, powercfg's record, disksim's machines and failures.
#include "sim/disk/disk_files.h"

#include "tests/support/disk_support.h"
#include "tests/support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace obrin::disksim {
namespace {

using ::testing::HasSubstr;
using namespace obrin::test;

// Where the installer runs cmd: away from the programs' folder.
const RunOptions kInTempFolder{.directory = TempDirectory(), .hidden = true};

const Partition* Part(const Model& model, uint32_t number, uint32_t disk = 0)
{
    const Disk* d = model.FindDisk(disk);
    if (!d)
        return nullptr;
    for (const Partition& p : d->partitions)
        if (p.number == number)
            return &p;
    return nullptr;
}

class DiskStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* program : {L"disksim.exe", L"diskpart.exe", L"powercfg.exe"})
            if (!PathExists(ProgramDirectory() + program))
                GTEST_SKIP() << Narrow(program) << " was not built into the bin folder";
        ASSERT_THAT(Disksim(L"init standard"), ExitsWith(0));
        ASSERT_THAT(Disksim(L"install-tools"), ExitsWith(0));
    }
};

TEST_F(DiskStandIn, ToolsAreInstalledWhereCmdFindsThem)
{
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (const wchar_t* tool : {L"diskpart.exe", L"powercfg.exe"}) {
        WIN32_FILE_ATTRIBUTE_DATA installed = {}, built = {};
        ASSERT_TRUE(GetFileAttributesExW((std::wstring(system) + L"\\" + tool).c_str(), GetFileExInfoStandard, &installed));
        ASSERT_TRUE(GetFileAttributesExW((ProgramDirectory() + tool).c_str(), GetFileExInfoStandard, &built));
        EXPECT_EQ(installed.nFileSizeLow, built.nFileSizeLow) << Narrow(tool);
    }
    // The payload the installer copies from.
    for (const PayloadFile& file : PayloadFiles())
        EXPECT_TRUE(PathExists(L"C:\\" + Widen(std::string(kPayloadFolder)) + Widen(std::string(file.name))));
}

TEST_F(DiskStandIn, AnAssignedLetterIsADriveAtOnceAndGoesWithItsRemoval)
{
    ASSERT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), ExitsWith(0));
    EXPECT_EQ(Part(LoadModel(), 2)->letter, 'M');

    EXPECT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_FIXED));
    ULARGE_INTEGER freeBytes = {};
    EXPECT_TRUE(GetDiskFreeSpaceExW(L"M:", &freeBytes, nullptr, nullptr)) << GetLastError();
    EXPECT_TRUE(PathExists(L"M:\\EFI\\Microsoft\\Boot\\bootmgfw.efi"));
    // cmd switches to the drive and writes into the partition's folder.
    ASSERT_THAT(Batch("M:\r\ncd\\\r\nmkdir loader\r\necho made> loader\\made.txt\r\n"), ExitsWith(0));
    EXPECT_TRUE(PathExists(L"C:\\disksim\\vol2\\loader\\made.txt"));

    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), ExitsWith(0));
    EXPECT_EQ(Part(LoadModel(), 2)->letter, 0);
    EXPECT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetDiskFreeSpaceExW(L"M:", &freeBytes, nullptr, nullptr));
    EXPECT_TRUE(PathExists(L"C:\\disksim\\vol2\\loader\\made.txt")) << "removing a letter keeps the files";
}

TEST_F(DiskStandIn, ExitCodesReachTheCallerThroughCmd)
{
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n"), ExitsWith(4)) << "no free space behind Windows";
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 9\r\nexit\r\n"), ExitsWith(5));
    EXPECT_THAT(Diskpart("select disk 0\r\nfrobnicate noerr\r\nexit\r\n"), ExitsWith(5));
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nextend noerr\r\nexit\r\n"), ExitsWith(0));
    EXPECT_THAT(RunProcess(L"cmd /C diskpart.exe /s \"" + TempDirectory() + L"no-such-script.txt\"", kInTempFolder),
                ExitsWith(3));
    EXPECT_THAT(RunProcess(L"cmd /C diskpart.exe", kInTempFolder), ExitsWith(2));
}

TEST_F(DiskStandIn, InstallerScriptsAndBatchesInstallAndUninstallForReal)
{
    const std::string original = FormatModel(LoadModel());
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=12288\r\nexit\r\n"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\n"
                       "create partition primary\r\nformat quick fs=ntfs label=\"ANDROID\" override noerr\r\nassign letter=\"N:\"\r\n"
                       "shrink minimum=2048\r\n"
                       "create partition primary\r\nformat quick fs=ntfs label=\"ASOS\" override noerr\r\nassign letter=\"O:\"\r\n"
                       "exit\r\n"), ExitsWith(0));
    const std::string payload = "C:\\OEMSetup\\Vantrel\\Android\\";
    ASSERT_THAT(Batch("M:\r\ncd\\efi\r\nmkdir Android\r\ncd Android\r\nxcopy.exe /y " + payload + "*.efi\r\n"
                    "M:\r\ncd\\\r\nmkdir loader\r\ncd loader\r\nxcopy.exe /y " + payload + "loader.conf\r\n"
                    "M:\r\ncd\\loader\r\nmkdir entries\r\ncd entries\r\nxcopy.exe /y " + payload + "AndroidBoot.conf\r\n"
                    "O:\r\nxcopy.exe /y " + payload + "*.img\r\nxcopy.exe /y " + payload + "*.efi\r\n"
                    "O:\r\nxcopy.exe /y " + payload + "system_md5sum.txt\r\n"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect vol=\"O:\"\r\ngpt attributes=0x4000000000000001\r\nexit\r\n"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect vol=\"N:\"\r\ngpt attributes=0x4000000000000001\r\n"
                       "set id=\"fe92a6a7-d642-4561-9f66-56cd28b8a049\"\r\nexit\r\n"), ExitsWith(0));

    Model installed = LoadModel();
    const Partition* android = Part(installed, 5);
    const Partition* asos = Part(installed, 6);
    ASSERT_TRUE(android && asos);
    EXPECT_EQ(android->type, kTypeAndroid);
    EXPECT_EQ(android->attributes, 0x4000000000000001ull);
    EXPECT_EQ(asos->label, "ASOS");
    EXPECT_EQ(asos->offsetSectors, android->EndSector());
    const std::wstring efi = Widen(Part(installed, 2)->folder);
    const std::wstring asosFolder = Widen(asos->folder);
    EXPECT_TRUE(PathExists(efi + L"\\efi\\Android\\bootloader.efi"));
    EXPECT_TRUE(PathExists(efi + L"\\loader\\loader.conf"));
    EXPECT_TRUE(PathExists(efi + L"\\loader\\entries\\AndroidBoot.conf"));
    EXPECT_TRUE(PathExists(asosFolder + L"\\system.img"));
    EXPECT_TRUE(PathExists(asosFolder + L"\\installer.efi"));
    EXPECT_TRUE(PathExists(asosFolder + L"\\system_md5sum.txt"));
    for (const wchar_t* drive : {L"M:\\", L"N:\\", L"O:\\"})
        EXPECT_EQ(GetDriveTypeW(drive), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << Narrow(drive);

    // ASOS first: under the disk-order numbering deleting ANDROID first would
    // move ASOS to number 5.
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 6\r\ndelete par override\r\nselect par 5\r\ndelete par override\r\nexit\r\n"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), ExitsWith(0));
    ASSERT_THAT(Batch("M:\r\ncd\\efi\r\nrmdir /s /q Android\r\nM:\r\ncd\\\r\nrmdir /s /q loader\r\n"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), ExitsWith(0));

    Model uninstalled = LoadModel();
    EXPECT_FALSE(PathExists(asosFolder)) << "a deleted partition's files go with it";
    EXPECT_FALSE(PathExists(efi + L"\\efi\\Android"));
    EXPECT_FALSE(PathExists(efi + L"\\loader"));
    EXPECT_TRUE(PathExists(efi + L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi"));
    uninstalled.nextVolumeId = MachineVariant("standard")->nextVolumeId;
    EXPECT_EQ(FormatModel(uninstalled), original);
}

TEST_F(DiskStandIn, DisksimInjectsAFailureForTheChosenRun)
{
    ASSERT_THAT(Disksim(L"fail shrink 1"), ExitsWith(0));
    ASSERT_THAT(Disksim(L"fail bogus"), ExitsWith(2));
    const uint64_t size = Part(LoadModel(), 4)->sizeSectors;
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\nexit\r\n"), ExitsWith(0));
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\nexit\r\n"), ExitsWith(4));
    EXPECT_EQ(Part(LoadModel(), 4)->sizeSectors, size - 100 * 2048);
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\nexit\r\n"), ExitsWith(0));
    EXPECT_TRUE(LoadModel().failures.empty());
}

TEST_F(DiskStandIn, PowercfgRecordsEveryHibernationSwitch)
{
    EXPECT_THAT(Batch("powercfg -h off\r\n"), ExitsWith(0));
    Model off = LoadModel();
    EXPECT_FALSE(off.hibernation);
    EXPECT_THAT(Batch("powercfg -h on\r\n"), ExitsWith(0));
    Model on = LoadModel();
    EXPECT_TRUE(on.hibernation);
    EXPECT_EQ(on.powerLog, (std::vector<std::string>{"off", "on"}));
    EXPECT_THAT(RunProcess(L"cmd /C powercfg -h maybe", kInTempFolder), ExitsWith(1));
    EXPECT_EQ(LoadModel().powerLog.size(), 2u);
}

TEST_F(DiskStandIn, MachinesBringTheirLettersAndANewMachineTakesThemAway)
{
    ASSERT_THAT(Disksim(L"init system-disk-1"), ExitsWith(0));
    Model model = LoadModel();
    ASSERT_EQ(model.disks.size(), 2u);
    for (const wchar_t* drive : {L"J:\\", L"K:\\", L"L:\\"})
        EXPECT_EQ(GetDriveTypeW(drive), static_cast<UINT>(DRIVE_FIXED)) << Narrow(drive);
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), ExitsWith(4));
    EXPECT_EQ(GetDriveTypeW(L"L:\\"), static_cast<UINT>(DRIVE_FIXED));

    ASSERT_THAT(Disksim(L"init removable-asos"), ExitsWith(0));
    for (const wchar_t* drive : {L"J:\\", L"K:\\", L"L:\\"})
        EXPECT_EQ(GetDriveTypeW(drive), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << Narrow(drive);
    EXPECT_EQ(GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_FIXED));
    const Partition* stick = LoadModel().FindByLetter('R');
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->label, "ASOS");
}

TEST_F(DiskStandIn, OccupiedLettersAreDrivesThatDiskpartWillNotTake)
{
    ASSERT_THAT(Disksim(L"occupy MNOPQRSTUVWXY"), ExitsWith(0));
    for (wchar_t letter = L'M'; letter <= L'Y'; ++letter) {
        wchar_t root[] = {letter, L':', L'\\', L'\0'};
        EXPECT_EQ(GetDriveTypeW(root), static_cast<UINT>(DRIVE_FIXED)) << static_cast<char>(letter);
    }
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), ExitsWith(4));
    EXPECT_EQ(Part(LoadModel(), 2)->letter, 0);
    EXPECT_THAT(Disksim(L"occupy M"), ExitsWith(1)) << "already a drive";
    EXPECT_THAT(Disksim(L"occupy C"), ExitsWith(1)) << "the model's own letter";
    EXPECT_THAT(Disksim(L"occupy M1"), ExitsWith(2));

    ASSERT_THAT(Disksim(L"release MNOPQRSTUVWXY"), ExitsWith(0));
    EXPECT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeW(L"Y:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), ExitsWith(0));
}

TEST_F(DiskStandIn, ANewMachineClearsThePartitionsOfTheOldOne)
{
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=1024\r\ncreate partition primary\r\n"
                       "format quick fs=ntfs label=\"ASOS\"\r\nassign letter=O\r\nexit\r\n"), ExitsWith(0));
    const std::wstring folder = Widen(LoadModel().FindByLetter('O')->folder);
    ASSERT_TRUE(WriteBytes(L"O:\\system.img", "image"));
    ASSERT_THAT(Disksim(L"init standard"), ExitsWith(0));
    EXPECT_FALSE(PathExists(folder));
    EXPECT_EQ(GetDriveTypeW(L"O:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(LoadModel().disks[0].partitions.size(), 4u);
}

TEST_F(DiskStandIn, FormatErasesWhatAPartitionHeld)
{
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=1024\r\ncreate partition primary\r\n"
                       "assign letter=P\r\nexit\r\n"), ExitsWith(0));
    ASSERT_TRUE(WriteBytes(L"P:\\old.txt", "old"));
    ASSERT_THAT(Diskpart("select vol=P\r\nformat quick fs=ntfs label=\"USER\" override noerr\r\nexit\r\n"), ExitsWith(0));
    EXPECT_FALSE(PathExists(L"P:\\old.txt"));
    EXPECT_EQ(LoadModel().FindByLetter('P')->label, "USER");
}

// The numbering rule is the machine's: disksim sets it, diskpart follows it
// from the next run on, and switching to disk-order closes the numbers up.
TEST_F(DiskStandIn, TheNumberingRuleIsKeptPerMachineAndShown)
{
    ASSERT_THAT(Disksim(L"numbering sometimes"), ExitsWith(2));
    ASSERT_THAT(Disksim(L"numbering stable"), ExitsWith(0));
    ASSERT_THAT(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=2048\r\ncreate partition primary size=1024\r\n"
                       "create partition primary\r\nselect par 5\r\ndelete partition\r\nexit\r\n"), ExitsWith(0));
    ASSERT_NE(Part(LoadModel(), 6), nullptr) << "under stable the second keeps number 6";
    EXPECT_EQ(Part(LoadModel(), 5), nullptr);
    const std::string id = Part(LoadModel(), 6)->id;

    ASSERT_THAT(Disksim(L"numbering disk-order"), ExitsWith(0));
    const Model model = LoadModel();
    EXPECT_EQ(model.numbering, NumberingRule::DiskOrder);
    ASSERT_NE(Part(model, 5), nullptr);
    EXPECT_EQ(Part(model, 5)->id, id) << "the same partition, numbered by its place";
    const ProcessResult show = Disksim(L"show");
    EXPECT_THAT(show, ExitsWith(0));
    EXPECT_THAT(show.output, HasSubstr("Numbering: disk-order"));
    EXPECT_THAT(show.output, HasSubstr(id));
    EXPECT_THAT(show.output, HasSubstr("GPT disk id " + model.disks[0].id));
}

TEST_F(DiskStandIn, AnMbrMachineBootsFromItsActivePartition)
{
    ASSERT_THAT(Disksim(L"init mbr"), ExitsWith(0));
    const Model model = LoadModel();
    ASSERT_EQ(model.disks.size(), 1u);
    EXPECT_EQ(model.disks[0].style, PartitionStyle::Mbr);
    const Partition* system = Part(model, 1);
    ASSERT_NE(system, nullptr);
    EXPECT_TRUE(system->active);
    EXPECT_TRUE(PathExists(Widen(system->folder) + L"\\bootmgr"));
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 1\r\ngpt attributes=0x4000000000000001\r\nexit\r\n"), ExitsWith(5));
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 1\r\nassign letter=M\r\nexit\r\n"), ExitsWith(0));
    EXPECT_TRUE(PathExists(L"M:\\Boot\\BCD"));
    EXPECT_THAT(Diskpart("select disk 0\r\nselect par 1\r\nremove letter=M\r\nexit\r\n"), ExitsWith(0));
}

}  // namespace
}  // namespace obrin::disksim
