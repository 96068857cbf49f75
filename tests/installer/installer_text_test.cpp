// The generated scripts and batch files byte for byte, the command line and
// the firmware decisions.
#include "installer/disk_info.h"
#include "installer/options.h"
#include "installer/scripts.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallScripts, ExtendAndShrinkSelectTheWindowsPartition)
{
    EXPECT_EQ(scripts::ExtendPartition(0, 3), L"select disk 0\r\nselect par 3\r\nextend\r\nexit\r\n");
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

TEST(InstallScripts, RemoveDirRunsAreTwoSeparateTexts)
{
    EXPECT_EQ(scripts::RemoveEfiAndroidFolder(L"M:"), L"M:\r\ncd\\efi\r\nrmdir /s /q Android\r\n");
    EXPECT_EQ(scripts::RemoveLoaderFolder(L"M:"), L"M:\r\ncd\\\r\nrmdir /s /q loader\r\n");
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

TEST(UninstallScripts, DeleteNamesOnlyThePartitionsFound)
{
    EXPECT_EQ(scripts::DeleteAndroidPartitions(0, {5, 6}),
              L"select disk 0\r\nselect par 5\r\ndelete par override\r\nselect par 6\r\ndelete par override\r\nexit\r\n");
    EXPECT_EQ(scripts::DeleteAndroidPartitions(1, {6}),
              L"select disk 1\r\nselect par 6\r\ndelete par override\r\nexit\r\n");
    EXPECT_EQ(scripts::DeleteAndroidPartitions(2, {}), L"select disk 2\r\nexit\r\n");
}

TEST(UninstallScripts, UserPartitionAssignAndBatch)
{
    EXPECT_EQ(scripts::CreateUserPartition(0, 47626240),
              L"select disk 0\r\ncreate partition primary offset=47626240\r\n"
              L"format quick fs=ntfs label=\"USER\" override noerr\r\nexit\r\n");
    EXPECT_EQ(scripts::AssignLetter(0, 2, L"M:"), L"select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n");
    EXPECT_EQ(scripts::RemoveBootFolders(L"M:"),
              L"M:\r\ncd\\efi\r\nrmdir /s /q Android\r\nM:\r\ncd\\\r\nrmdir /s /q loader\r\n");
}

TEST(DiscoveryScripts, UnhideSetsBit63AndHideRestoresBit62)
{
    EXPECT_EQ(scripts::UnhidePartition(0, 6),
              L"select disk 0\r\nselect par 6\r\ngpt attributes=0x8000000000000001\r\nexit\r\n");
    EXPECT_EQ(scripts::HidePartition(0, 6),
              L"select disk 0\r\nselect par 6\r\ngpt attributes=0x4000000000000001\r\nexit\r\n");
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
    EXPECT_STREQ(scripts::kTestAndroidFile, L"test-android.txt");
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

TEST(AndroidFinalCheck, AsosMustFollowAndroidDirectly)
{
    CDiskInfo info = {};
    info.androidPresent = 1;
    info.androidPartition = 4;
    info.asosPresent = 1;
    info.asosPartition = 5;
    ApplyAndroidFinalCheck(info);
    EXPECT_TRUE(HasAndroidInstallation(info));

    info.asosPartition = 6;
    ApplyAndroidFinalCheck(info);
    EXPECT_EQ(info.androidPresent, 0u);
    EXPECT_EQ(info.androidFound, 1u) << "still deleted by uninstall and rollback";
    EXPECT_FALSE(HasAndroidInstallation(info));

    info = {};
    ApplyAndroidFinalCheck(info);
    EXPECT_EQ(info.androidFound, 0u);
}

TEST(AndroidFinalCheck, StaleAsosNumberStillCountsInTheCheck)
{
    CDiskInfo info = {};
    info.androidPresent = 1;
    info.androidPartition = 4;
    info.asosPresent = 0;  // gone in this run, number kept from the last
    info.asosPartition = 5;
    ApplyAndroidFinalCheck(info);
    EXPECT_EQ(info.androidPresent, 1u);
    EXPECT_FALSE(HasAndroidInstallation(info));
}

}  // namespace
