// The disk stand-in's programs in a Wine prefix: diskpart run the way the
// installer runs it ("cmd /C diskpart.exe /s file"), drive letters that cmd
// and xcopy use at once, powercfg's record, disksim's machines and failures.
#include "sim/disk/disk_files.h"

#include "common/ownership.h"
#include "tests/support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace obrin::disksim {
namespace {

using ::testing::HasSubstr;

constexpr DWORD kChildTimeoutMs = 60000;

std::wstring ProgramDir()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring TempDir()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length);
}

// Runs a command line hidden and waits for it, at most a minute; the exit
// code, or ~0u when it could not start or had to be ended.
DWORD RunHidden(const std::wstring& commandLine, const std::wstring& directory = TempDir())
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        directory.c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start " << Narrow(commandLine) << " (error " << GetLastError() << ")";
        return ~0u;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), kChildTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), ~0u);
        ADD_FAILURE() << Narrow(commandLine) << " did not end";
        return ~0u;
    }
    DWORD exitCode = ~0u;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    return exitCode;
}

DWORD Disksim(const std::wstring& arguments)
{
    return RunHidden(L"\"" + ProgramDir() + L"disksim.exe\" " + arguments);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class DiskStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* program : {L"disksim.exe", L"diskpart.exe", L"powercfg.exe"})
            if (!Exists(ProgramDir() + program))
                GTEST_SKIP() << Narrow(program) << " was not built into the bin folder";
        ASSERT_EQ(Disksim(L"init standard"), 0u);
        ASSERT_EQ(Disksim(L"install-tools"), 0u);
    }

    // As the installer does it: a script in the temporary folder, then
    // "cmd /C diskpart.exe /s "file"" hidden.
    DWORD Diskpart(const std::string& script)
    {
        std::wstring path = TempDir() + L"disksim-test.txt";
        EXPECT_TRUE(WriteBytes(path, script));
        DWORD exitCode = RunHidden(L"cmd /C diskpart.exe /s \"" + path + L"\"");
        DeleteFileW(path.c_str());
        return exitCode;
    }

    DWORD Batch(const std::string& text)
    {
        std::wstring path = TempDir() + L"disksim-test.bat";
        EXPECT_TRUE(WriteBytes(path, text));
        DWORD exitCode = RunHidden(L"cmd /C \"disksim-test.bat\"");
        DeleteFileW(path.c_str());
        return exitCode;
    }

    Model Load()
    {
        Model model;
        std::string error;
        EXPECT_TRUE(LoadModelFile(ModelFilePath(), model, error)) << error;
        return model;
    }

    static const Partition* Part(const Model& model, uint32_t number, uint32_t disk = 0)
    {
        const Disk* d = model.FindDisk(disk);
        if (!d)
            return nullptr;
        for (const Partition& p : d->partitions)
            if (p.number == number)
                return &p;
        return nullptr;
    }
};

TEST_F(DiskStandIn, ToolsAreInstalledWhereCmdFindsThem)
{
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (const wchar_t* tool : {L"diskpart.exe", L"powercfg.exe"}) {
        WIN32_FILE_ATTRIBUTE_DATA installed = {}, built = {};
        ASSERT_TRUE(GetFileAttributesExW((std::wstring(system) + L"\\" + tool).c_str(), GetFileExInfoStandard, &installed));
        ASSERT_TRUE(GetFileAttributesExW((ProgramDir() + tool).c_str(), GetFileExInfoStandard, &built));
        EXPECT_EQ(installed.nFileSizeLow, built.nFileSizeLow) << Narrow(tool);
    }
    // The payload the installer copies from.
    for (const PayloadFile& file : PayloadFiles())
        EXPECT_TRUE(Exists(L"C:\\" + Widen(std::string(kPayloadFolder)) + Widen(std::string(file.name))));
}

TEST_F(DiskStandIn, AnAssignedLetterIsADriveAtOnceAndGoesWithItsRemoval)
{
    ASSERT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), 0u);
    EXPECT_EQ(Part(Load(), 2)->letter, 'M');

    EXPECT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_FIXED));
    ULARGE_INTEGER freeBytes = {};
    EXPECT_TRUE(GetDiskFreeSpaceExW(L"M:", &freeBytes, nullptr, nullptr)) << GetLastError();
    EXPECT_TRUE(Exists(L"M:\\EFI\\Microsoft\\Boot\\bootmgfw.efi"));
    // cmd switches to the drive and writes into the partition's folder.
    ASSERT_EQ(Batch("M:\r\ncd\\\r\nmkdir loader\r\necho made> loader\\made.txt\r\n"), 0u);
    EXPECT_TRUE(Exists(L"C:\\disksim\\vol2\\loader\\made.txt"));

    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), 0u);
    EXPECT_EQ(Part(Load(), 2)->letter, 0);
    EXPECT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetDiskFreeSpaceExW(L"M:", &freeBytes, nullptr, nullptr));
    EXPECT_TRUE(Exists(L"C:\\disksim\\vol2\\loader\\made.txt")) << "removing a letter keeps the files";
}

TEST_F(DiskStandIn, ExitCodesReachTheCallerThroughCmd)
{
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n"), 4u) << "no free space behind Windows";
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 9\r\nexit\r\n"), 5u);
    EXPECT_EQ(Diskpart("select disk 0\r\nfrobnicate noerr\r\nexit\r\n"), 5u);
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nextend noerr\r\nexit\r\n"), 0u);
    EXPECT_EQ(RunHidden(L"cmd /C diskpart.exe /s \"" + TempDir() + L"no-such-script.txt\""), 3u);
    EXPECT_EQ(RunHidden(L"cmd /C diskpart.exe"), 2u);
}

TEST_F(DiskStandIn, InstallerScriptsAndBatchesInstallAndUninstallForReal)
{
    const std::string original = FormatModel(Load());
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=12288\r\nexit\r\n"), 0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\n"
                       "create partition primary\r\nformat quick fs=ntfs label=\"ANDROID\" override noerr\r\nassign letter=\"N:\"\r\n"
                       "shrink minimum=2048\r\n"
                       "create partition primary\r\nformat quick fs=ntfs label=\"ASOS\" override noerr\r\nassign letter=\"O:\"\r\n"
                       "exit\r\n"),
              0u);
    const std::string payload = "C:\\OEMSetup\\Vantrel\\Android\\";
    ASSERT_EQ(Batch("M:\r\ncd\\efi\r\nmkdir Android\r\ncd Android\r\nxcopy.exe /y " + payload + "*.efi\r\n"
                    "M:\r\ncd\\\r\nmkdir loader\r\ncd loader\r\nxcopy.exe /y " + payload + "loader.conf\r\n"
                    "M:\r\ncd\\loader\r\nmkdir entries\r\ncd entries\r\nxcopy.exe /y " + payload + "AndroidBoot.conf\r\n"
                    "O:\r\nxcopy.exe /y " + payload + "*.img\r\nxcopy.exe /y " + payload + "*.efi\r\n"
                    "O:\r\nxcopy.exe /y " + payload + "system_md5sum.txt\r\n"),
              0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), 0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect vol=\"O:\"\r\ngpt attributes=0x4000000000000001\r\nexit\r\n"), 0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect vol=\"N:\"\r\ngpt attributes=0x4000000000000001\r\n"
                       "set id=\"fe92a6a7-d642-4561-9f66-56cd28b8a049\"\r\nexit\r\n"),
              0u);

    Model installed = Load();
    const Partition* android = Part(installed, 5);
    const Partition* asos = Part(installed, 6);
    ASSERT_TRUE(android && asos);
    EXPECT_EQ(android->type, kTypeAndroid);
    EXPECT_EQ(android->attributes, 0x4000000000000001ull);
    EXPECT_EQ(asos->label, "ASOS");
    EXPECT_EQ(asos->offsetSectors, android->EndSector());
    const std::wstring efi = Widen(Part(installed, 2)->folder);
    const std::wstring asosFolder = Widen(asos->folder);
    EXPECT_TRUE(Exists(efi + L"\\efi\\Android\\bootloader.efi"));
    EXPECT_TRUE(Exists(efi + L"\\loader\\loader.conf"));
    EXPECT_TRUE(Exists(efi + L"\\loader\\entries\\AndroidBoot.conf"));
    EXPECT_TRUE(Exists(asosFolder + L"\\system.img"));
    EXPECT_TRUE(Exists(asosFolder + L"\\installer.efi"));
    EXPECT_TRUE(Exists(asosFolder + L"\\system_md5sum.txt"));
    for (const wchar_t* drive : {L"M:\\", L"N:\\", L"O:\\"})
        EXPECT_EQ(GetDriveTypeW(drive), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << Narrow(drive);

    // ASOS first: under the disk-order numbering deleting ANDROID first would
    // move ASOS to number 5.
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 6\r\ndelete par override\r\nselect par 5\r\ndelete par override\r\nexit\r\n"),
              0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n"), 0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), 0u);
    ASSERT_EQ(Batch("M:\r\ncd\\efi\r\nrmdir /s /q Android\r\nM:\r\ncd\\\r\nrmdir /s /q loader\r\n"), 0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), 0u);

    Model uninstalled = Load();
    EXPECT_FALSE(Exists(asosFolder)) << "a deleted partition's files go with it";
    EXPECT_FALSE(Exists(efi + L"\\efi\\Android"));
    EXPECT_FALSE(Exists(efi + L"\\loader"));
    EXPECT_TRUE(Exists(efi + L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi"));
    uninstalled.nextVolumeId = MachineVariant("standard")->nextVolumeId;
    EXPECT_EQ(FormatModel(uninstalled), original);
}

TEST_F(DiskStandIn, DisksimInjectsAFailureForTheChosenRun)
{
    ASSERT_EQ(Disksim(L"fail shrink 1"), 0u);
    ASSERT_EQ(Disksim(L"fail bogus"), 2u);
    const uint64_t size = Part(Load(), 4)->sizeSectors;
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\nexit\r\n"), 0u);
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\nexit\r\n"), 4u);
    EXPECT_EQ(Part(Load(), 4)->sizeSectors, size - 100 * 2048);
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\nexit\r\n"), 0u);
    EXPECT_TRUE(Load().failures.empty());
}

TEST_F(DiskStandIn, PowercfgRecordsEveryHibernationSwitch)
{
    EXPECT_EQ(Batch("powercfg -h off\r\n"), 0u);
    Model off = Load();
    EXPECT_FALSE(off.hibernation);
    EXPECT_EQ(Batch("powercfg -h on\r\n"), 0u);
    Model on = Load();
    EXPECT_TRUE(on.hibernation);
    EXPECT_EQ(on.powerLog, (std::vector<std::string>{"off", "on"}));
    EXPECT_EQ(RunHidden(L"cmd /C powercfg -h maybe"), 1u);
    EXPECT_EQ(Load().powerLog.size(), 2u);
}

TEST_F(DiskStandIn, MachinesBringTheirLettersAndANewMachineTakesThemAway)
{
    ASSERT_EQ(Disksim(L"init system-disk-1"), 0u);
    Model model = Load();
    ASSERT_EQ(model.disks.size(), 2u);
    for (const wchar_t* drive : {L"J:\\", L"K:\\", L"L:\\"})
        EXPECT_EQ(GetDriveTypeW(drive), static_cast<UINT>(DRIVE_FIXED)) << Narrow(drive);
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n"), 4u);
    EXPECT_EQ(GetDriveTypeW(L"L:\\"), static_cast<UINT>(DRIVE_FIXED));

    ASSERT_EQ(Disksim(L"init removable-asos"), 0u);
    for (const wchar_t* drive : {L"J:\\", L"K:\\", L"L:\\"})
        EXPECT_EQ(GetDriveTypeW(drive), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << Narrow(drive);
    EXPECT_EQ(GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_FIXED));
    const Partition* stick = Load().FindByLetter('R');
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->label, "ASOS");
}

TEST_F(DiskStandIn, OccupiedLettersAreDrivesThatDiskpartWillNotTake)
{
    ASSERT_EQ(Disksim(L"occupy MNOPQRSTUVWXY"), 0u);
    for (wchar_t letter = L'M'; letter <= L'Y'; ++letter) {
        wchar_t root[] = {letter, L':', L'\\', L'\0'};
        EXPECT_EQ(GetDriveTypeW(root), static_cast<UINT>(DRIVE_FIXED)) << static_cast<char>(letter);
    }
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), 4u);
    EXPECT_EQ(Part(Load(), 2)->letter, 0);
    EXPECT_EQ(Disksim(L"occupy M"), 1u) << "already a drive";
    EXPECT_EQ(Disksim(L"occupy C"), 1u) << "the model's own letter";
    EXPECT_EQ(Disksim(L"occupy M1"), 2u);

    ASSERT_EQ(Disksim(L"release MNOPQRSTUVWXY"), 0u);
    EXPECT_EQ(GetDriveTypeW(L"M:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeW(L"Y:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n"), 0u);
}

TEST_F(DiskStandIn, ANewMachineClearsThePartitionsOfTheOldOne)
{
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=1024\r\ncreate partition primary\r\n"
                       "format quick fs=ntfs label=\"ASOS\"\r\nassign letter=O\r\nexit\r\n"),
              0u);
    const std::wstring folder = Widen(Load().FindByLetter('O')->folder);
    ASSERT_TRUE(WriteBytes(L"O:\\system.img", "image"));
    ASSERT_EQ(Disksim(L"init standard"), 0u);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(GetDriveTypeW(L"O:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(Load().disks[0].partitions.size(), 4u);
}

TEST_F(DiskStandIn, FormatErasesWhatAPartitionHeld)
{
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=1024\r\ncreate partition primary\r\n"
                       "assign letter=P\r\nexit\r\n"),
              0u);
    ASSERT_TRUE(WriteBytes(L"P:\\old.txt", "old"));
    ASSERT_EQ(Diskpart("select vol=P\r\nformat quick fs=ntfs label=\"USER\" override noerr\r\nexit\r\n"), 0u);
    EXPECT_FALSE(Exists(L"P:\\old.txt"));
    EXPECT_EQ(Load().FindByLetter('P')->label, "USER");
}

// The numbering rule is the machine's: disksim sets it, diskpart follows it
// from the next run on, and switching to disk-order closes the numbers up.
TEST_F(DiskStandIn, TheNumberingRuleIsKeptPerMachineAndShown)
{
    ASSERT_EQ(Disksim(L"numbering sometimes"), 2u);
    ASSERT_EQ(Disksim(L"numbering stable"), 0u);
    ASSERT_EQ(Diskpart("select disk 0\r\nselect par 4\r\nshrink minimum=2048\r\ncreate partition primary size=1024\r\n"
                       "create partition primary\r\nselect par 5\r\ndelete partition\r\nexit\r\n"),
              0u);
    ASSERT_NE(Part(Load(), 6), nullptr) << "under stable the second keeps number 6";
    EXPECT_EQ(Part(Load(), 5), nullptr);
    const std::string id = Part(Load(), 6)->id;

    ASSERT_EQ(Disksim(L"numbering disk-order"), 0u);
    const Model model = Load();
    EXPECT_EQ(model.numbering, NumberingRule::DiskOrder);
    ASSERT_NE(Part(model, 5), nullptr);
    EXPECT_EQ(Part(model, 5)->id, id) << "the same partition, numbered by its place";
    std::string shown;
    const test::ProcessResult show =
        test::RunProcessCapturingOutput(L"\"" + ProgramDir() + L"disksim.exe\" show", kChildTimeoutMs, shown);
    EXPECT_TRUE(show.started && show.finished && show.exitCode == 0);
    EXPECT_THAT(shown, HasSubstr("Numbering: disk-order"));
    EXPECT_THAT(shown, HasSubstr(id));
    EXPECT_THAT(shown, HasSubstr("GPT disk id " + model.disks[0].id));
}

TEST_F(DiskStandIn, AnMbrMachineBootsFromItsActivePartition)
{
    ASSERT_EQ(Disksim(L"init mbr"), 0u);
    const Model model = Load();
    ASSERT_EQ(model.disks.size(), 1u);
    EXPECT_EQ(model.disks[0].style, PartitionStyle::Mbr);
    const Partition* system = Part(model, 1);
    ASSERT_NE(system, nullptr);
    EXPECT_TRUE(system->active);
    EXPECT_TRUE(Exists(Widen(system->folder) + L"\\bootmgr"));
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 1\r\ngpt attributes=0x4000000000000001\r\nexit\r\n"), 5u);
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 1\r\nassign letter=M\r\nexit\r\n"), 0u);
    EXPECT_TRUE(Exists(L"M:\\Boot\\BCD"));
    EXPECT_EQ(Diskpart("select disk 0\r\nselect par 1\r\nremove letter=M\r\nexit\r\n"), 0u);
}

}  // namespace
}  // namespace obrin::disksim
