// Install, check and uninstall end to end on the stand-in disk, with the real
// service, progress to a window of this (another) process, AutoRun and
// hibernation around the flow.
#include "tests/installer/installer_wine_support.h"

#include "common/ownership.h"
#include "common/winservice.h"
#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

using namespace installer_test;
namespace disksim = obrin::disksim;

namespace {

constexpr wchar_t kPolicyKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

std::vector<unsigned> g_positions;
std::vector<DWORD> g_autoRunDuringFlow;
UINT g_progressMessage = 0;

DWORD ReadAutoRun()
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"NoDriveTypeAutoRun", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_progressMessage && message != 0) {
        EXPECT_EQ(lParam, 0);
        g_positions.push_back(static_cast<unsigned>(wParam));
        g_autoRunDuringFlow.push_back(ReadAutoRun());
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class InstallerFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_progressMessage = RegisterProgressWindowClass(L"InstallerProgressProbe", ProgressWindowProc);
        if (FirmwareStandInPresent()) {
            ASSERT_THAT(Firmsim(L"install"), Succeeds());
        }
    }

    void SetUp() override
    {
        g_positions.clear();
        g_autoRunDuringFlow.clear();
        m_window = CreateWindowW(L"InstallerProgressProbe", L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_window, nullptr);
        if (FirmwareStandInPresent()) {
            ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        }
    }
    void TearDown() override { DestroyWindow(m_window); }

    std::wstring WindowOption(const wchar_t* format) const
    {
        wchar_t text[64];
        swprintf(text, 64, format, static_cast<unsigned>(reinterpret_cast<uintptr_t>(m_window)));
        return text;
    }

    HWND m_window = nullptr;
};

std::wstring Wide(const std::string& text)
{
    return disksim::Widen(text);
}

bool EndsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && disksim::EqualsNoCase(text.substr(text.size() - end.size()), end);
}

void ExpectPayloadCopied(const disksim::Partition& efi, const disksim::Partition& asos)
{
    const std::wstring efiRoot = Wide(efi.folder) + L"\\";
    const std::wstring asosRoot = Wide(asos.folder) + L"\\";
    int efiImages = 0;
    for (const disksim::PayloadFile& file : disksim::PayloadFiles()) {
        const std::string name(file.name);
        const std::wstring wideName = Wide(name);
        SCOPED_TRACE(name);
        if (EndsWith(name, ".efi")) {
            EXPECT_TRUE(FileExists(efiRoot + L"efi\\Android\\" + wideName));
            ++efiImages;
        }
        if (EndsWith(name, ".img") || EndsWith(name, ".efi") || EndsWith(name, ".ini") || EndsWith(name, ".conf") ||
            disksim::EqualsNoCase(name, "system_md5sum.txt")) {
            EXPECT_TRUE(FileExists(asosRoot + wideName));
        }
    }
    EXPECT_GT(efiImages, 0);
    EXPECT_TRUE(FileExists(efiRoot + L"loader\\loader.conf"));
    for (const wchar_t* entry : {L"AndroidBoot.conf", L"recovery.conf", L"fastboot.conf", L"tinyi.conf"})
        EXPECT_TRUE(FileExists(efiRoot + L"loader\\entries\\" + entry)) << Wide(disksim::Narrow(entry));
}

TEST_F(InstallerFlow, NoModeOptionExitsTwoAndChangesNothing)
{
    ResetMachine("standard");
    const std::string before = disksim::FormatModel(LoadModel());
    EXPECT_THAT(Installer(WindowOption(L"-win:0x%x") + L" -unknown"), ExitsWith(2));
    EXPECT_EQ(disksim::FormatModel(LoadModel()), before);
    EXPECT_TRUE(g_positions.empty());
}

TEST_F(InstallerFlow, InstallCheckUninstallOnTheStandardDisk)
{
    ResetMachine("standard");
    PlaceServiceImage();
    // A new prefix lacks the policy key; with the key, the value can be watched.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegDeleteValueW(key, L"NoDriveTypeAutoRun");
    RegCloseKey(key);
    const disksim::Model original = LoadModel();
    const uint64_t windowsSizeBefore = FindByLabel(original.disks[0], "Windows")->sizeSectors;

    // The window option in capitals is accepted too.
    ASSERT_THAT(Installer(L"-install-dualos " + WindowOption(L"-WIN:0X%X")), ExitsWith(0));
    EXPECT_EQ(g_positions, (std::vector<unsigned>{5, 10, 30, 35, 45, 85, 88, 90, 100}));
    for (DWORD value : g_autoRunDuringFlow)
        EXPECT_EQ(value, 0xFFu);
    EXPECT_EQ(ReadAutoRun(), 0xFFFFFFFFu) << "the value absent before must be absent after";

    const disksim::Model installed = LoadModel();
    const disksim::Disk& disk = installed.disks[0];
    const disksim::Partition* windows = FindByLabel(disk, "Windows");
    const disksim::Partition* android = FindByLabel(disk, "ANDROID");
    const disksim::Partition* asos = FindByLabel(disk, "ASOS");
    ASSERT_TRUE(windows && android && asos);
    EXPECT_LT(windows->sizeSectors, windowsSizeBefore);
    EXPECT_EQ(android->number, windows->number + 1);
    EXPECT_EQ(asos->number, android->number + 1);
    EXPECT_EQ(android->type, disksim::kTypeAndroid);
    EXPECT_EQ(android->attributes, 0x4000000000000001ull);
    EXPECT_EQ(asos->attributes, 0x4000000000000001ull);
    const disksim::Partition* efi = nullptr;
    for (const disksim::Partition& p : disk.partitions)
        efi = p.type == disksim::kTypeEfi ? &p : efi;
    ASSERT_NE(efi, nullptr);
    EXPECT_EQ(efi->letter, 0) << "no letter may stay on the EFI partition";
    ExpectPayloadCopied(*efi, *asos);
    EXPECT_EQ(installed.powerLog, (std::vector<std::string>{"off", "on"}));
    EXPECT_TRUE(installed.hibernation);

    const std::wstring registered = RawServiceBinaryPath();
    EXPECT_NE(registered.find(InstallDirectoryImage()), std::wstring::npos) << Wide(disksim::Narrow(registered));
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

    EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(0));
    // A second install keeps the installation and the data on it: it takes no
    // space and only starts the service when it is not running.
    ASSERT_TRUE(GetWinService().Stop(nullptr));
    g_positions.clear();
    EXPECT_THAT(Installer(L"-install-dualos " + WindowOption(L"-win:0x%x")), ExitsWith(0));
    EXPECT_EQ(DisksText(LoadModel()), DisksText(installed));
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(g_positions.empty());
    // The last mode option wins: this runs the check, not a second install.
    g_positions.clear();
    EXPECT_THAT(Installer(L"-install-dualos -check-dualos " + WindowOption(L"-win:0x%x")), ExitsWith(0));
    EXPECT_TRUE(g_positions.empty());

    // A handle that is no window: the flow runs, without progress.
    g_positions.clear();
    ASSERT_THAT(Installer(L"-uninstall-dualos -win:0x0badf00d"), ExitsWith(0));
    EXPECT_TRUE(g_positions.empty());
    const disksim::Model removed = LoadModel();
    EXPECT_EQ(ShapeOf(removed.disks[0]), ShapeOf(original.disks[0]));
    const std::wstring efiRoot = Wide(efi->folder) + L"\\";
    EXPECT_EQ(GetFileAttributesW((efiRoot + L"efi\\Android").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((efiRoot + L"loader").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ServiceState(), 0u);
    EXPECT_THAT(Installer(L"-check-dualos"), ExitsWith(19));
}

TEST_F(InstallerFlow, FirmwareRefusalLeavesDiskAndServiceAlone)
{
    if (!FirmwareStandInPresent())
        GTEST_SKIP() << "firmsim.exe (firmware stand-in) is not in the bin folder";
    ResetMachine("standard");
    ASSERT_THAT(Installer(L"-startservice"), ExitsWith(0));
    const std::wstring serviceBefore = RawServiceBinaryPath();
    const disksim::Model before = LoadModel();
    ASSERT_THAT(Firmsim(L"answer 0x18 1"), Succeeds());

    EXPECT_THAT(Installer(L"-install-dualos " + WindowOption(L"-win:0x%x")), ExitsWith(4));
    EXPECT_EQ(g_positions, (std::vector<unsigned>{5}));
    EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(before.disks[0]));
    EXPECT_EQ(RawServiceBinaryPath(), serviceBefore);
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_THAT(Installer(L"-removeservice"), ExitsWith(0));
    EXPECT_EQ(ServiceState(), 0u);
}

// The policy value of any type is back as it was after either flow; with
// hibernation off no powercfg batch runs; a failed install query lets the
// install go on; an uninstall notice answered 0 or 2 turns a finished
// uninstall into 3.
TEST_F(InstallerFlow, SettingsAsTheyWereAndTheFirmwareAnswers)
{
    if (!FirmwareStandInPresent())
        GTEST_SKIP() << "firmsim.exe (firmware stand-in) is not in the bin folder";
    struct Case {
        const char* name;
        RegistryValue autoRun;
        bool hibernation;
        const wchar_t* uninstallAnswer;
    };
    const Case cases[] = {
        {"binary policy, hibernation off, answer 0", {REG_BINARY, {0x91, 0x00, 0x00, 0x00}}, false, L"0"},
        {"policy 0xFFFFFFFF, answer 2", DwordValue(0xFFFFFFFF), true, L"2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetMachine("standard");
        PlaceServiceImage();
        ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        WriteAutoRunValue(c.autoRun);
        if (!c.hibernation) {
            ASSERT_THAT(RunProcess(L"powercfg.exe -h off"), ExitsWith(0));
        }
        const disksim::Model original = LoadModel();
        g_autoRunDuringFlow.clear();

        ASSERT_THAT(Firmsim(L"fail 0x18 0x80041001"), Succeeds());
        ASSERT_THAT(Installer(L"-install-dualos " + WindowOption(L"-win:0x%x")), ExitsWith(0));
        EXPECT_EQ(FirmwareCallsWithCode(0x18), 1u);
        EXPECT_FALSE(g_autoRunDuringFlow.empty());
        for (DWORD value : g_autoRunDuringFlow)
            EXPECT_EQ(value, 0xFFu);
        EXPECT_EQ(ReadAutoRunValue(), std::optional<RegistryValue>(c.autoRun));
        const disksim::Model installed = LoadModel();
        EXPECT_EQ(installed.hibernation, c.hibernation);
        const std::vector<std::string> powercfgRuns =
            c.hibernation ? std::vector<std::string>{"off", "on"} : std::vector<std::string>{"off"};
        EXPECT_EQ(installed.powerLog, powercfgRuns);

        ASSERT_THAT(Firmsim(std::wstring(L"answer 0x13 ") + c.uninstallAnswer), Succeeds());
        EXPECT_THAT(Installer(L"-uninstall-dualos"), ExitsWith(3));
        EXPECT_EQ(FirmwareCallsWithCode(0x13), 1u);
        EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0])) << "the partitions went all the same";
        EXPECT_EQ(ServiceState(), 0u);
        EXPECT_EQ(ReadAutoRunValue(), std::optional<RegistryValue>(c.autoRun));
    }
}

// A payload without a file the batch copies is refused before anything
// changes; a copy that did not land fails the install after the batch, and
// the rollback reports its own progress.
TEST_F(InstallerFlow, PayloadCheckedBeforeTheInstallAndCopiesAfterTheBatch)
{
    ResetMachine("standard");
    PlaceServiceImage();
    ASSERT_THAT(Installer(L"-startservice"), ExitsWith(0));
    const std::wstring serviceBefore = RawServiceBinaryPath();
    WriteAutoRunValue(DwordValue(0x91));
    const disksim::Model original = LoadModel();
    const std::wstring payload = L"C:\\OEMSetup\\Vantrel\\Android";

    struct Move {
        std::wstring from;
        std::wstring to;
    };
    const Move missing[] = {{payload, payload + L".away"},
                            {payload + L"\\tinyi.conf", L"C:\\OEMSetup\\tinyi.conf.away"}};
    for (const Move& move : missing) {
        SCOPED_TRACE(disksim::Narrow(move.from));
        ASSERT_TRUE(MoveFileW(move.from.c_str(), move.to.c_str())) << GetLastError();
        g_positions.clear();
        EXPECT_THAT(Installer(L"-install-dualos " + WindowOption(L"-win:0x%x")), ExitsWith(14));
        EXPECT_EQ(g_positions, (std::vector<unsigned>{5}));
        const disksim::Model after = LoadModel();
        EXPECT_EQ(DisksText(after), DisksText(original));
        EXPECT_TRUE(after.hibernation);
        EXPECT_EQ(RawServiceBinaryPath(), serviceBefore);
        EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(ReadAutoRunValue(), std::optional<RegistryValue>(DwordValue(0x91)));
        ASSERT_TRUE(MoveFileW(move.to.c_str(), move.from.c_str())) << GetLastError();
    }

    // Held without sharing, the image cannot be read by the copy.
    obrin::UniqueFileHandle held(CreateFileW((payload + L"\\system.img").c_str(), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held) << GetLastError();
    g_positions.clear();
    EXPECT_THAT(Installer(L"-install-dualos " + WindowOption(L"-win:0x%x")), ExitsWith(14));
    EXPECT_EQ(g_positions, (std::vector<unsigned>{5, 10, 30, 35, 45, 10, 70, 90, 100}));
    const disksim::Model rolledBack = LoadModel();
    EXPECT_EQ(ShapeOf(rolledBack.disks[0]), ShapeOf(original.disks[0])) << disksim::LayoutTable(rolledBack);
    for (const disksim::Partition& p : rolledBack.disks[0].partitions) {
        if (p.type == disksim::kTypeEfi) {
            EXPECT_EQ(GetFileAttributesW(Wide(p.folder + "\\loader").c_str()), INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(GetFileAttributesW(Wide(p.folder + "\\efi\\Android").c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
    EXPECT_EQ(ServiceState(), 0u) << "the old registration is not restored";
    EXPECT_EQ(ReadAutoRunValue(), std::optional<RegistryValue>(DwordValue(0x91)));
}

}  // namespace
