// Install, check and uninstall end to end on the stand-in disk, with the real
// service, progress to a window of this (another) process, AutoRun and
// hibernation around the flow.
#include "tests/installer/installer_wine_support.h"

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
        g_progressMessage = RegisterWindowMessageW(L"DUAL_OS_WPM_SETPOS");
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = ProgressWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"InstallerProgressProbe";
        RegisterClassW(&windowClass);
        if (FirmwareStandInPresent()) {
            ASSERT_EQ(Firmsim(L"install"), std::optional<DWORD>(0));
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
            ASSERT_EQ(Firmsim(L"reset"), std::optional<DWORD>(0));
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
    EXPECT_EQ(RunInstaller(WindowOption(L"-win:0x%x") + L" -unknown"), std::optional<DWORD>(2));
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
    const uint64_t windowsSizeBefore = FindByLabel(original.disks[0], "Windows")->sizeMb;

    // The window option in capitals is accepted too.
    ASSERT_EQ(RunInstaller(L"-install-dualos " + WindowOption(L"-WIN:0X%X")), std::optional<DWORD>(0));
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
    EXPECT_LT(windows->sizeMb, windowsSizeBefore);
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

    EXPECT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(0));
    // The last mode option wins: this runs the check, not a second install.
    g_positions.clear();
    EXPECT_EQ(RunInstaller(L"-install-dualos -check-dualos " + WindowOption(L"-win:0x%x")), std::optional<DWORD>(0));
    EXPECT_TRUE(g_positions.empty());

    // A handle that is no window: the flow runs, without progress.
    g_positions.clear();
    ASSERT_EQ(RunInstaller(L"-uninstall-dualos -win:0x0badf00d"), std::optional<DWORD>(0));
    EXPECT_TRUE(g_positions.empty());
    const disksim::Model removed = LoadModel();
    EXPECT_EQ(ShapeOf(removed.disks[0]), ShapeOf(original.disks[0]));
    const std::wstring efiRoot = Wide(efi->folder) + L"\\";
    EXPECT_EQ(GetFileAttributesW((efiRoot + L"efi\\Android").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((efiRoot + L"loader").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ServiceState(), 0u);
    EXPECT_EQ(RunInstaller(L"-check-dualos"), std::optional<DWORD>(19));
}

TEST_F(InstallerFlow, FirmwareRefusalLeavesDiskAndServiceAlone)
{
    if (!FirmwareStandInPresent())
        GTEST_SKIP() << "firmsim.exe (firmware stand-in) is not in the bin folder";
    ResetMachine("standard");
    ASSERT_EQ(RunInstaller(L"-startservice"), std::optional<DWORD>(0));
    const std::wstring serviceBefore = RawServiceBinaryPath();
    const disksim::Model before = LoadModel();
    ASSERT_EQ(Firmsim(L"answer 0x18 1"), std::optional<DWORD>(0));

    EXPECT_EQ(RunInstaller(L"-install-dualos " + WindowOption(L"-win:0x%x")), std::optional<DWORD>(4));
    EXPECT_EQ(g_positions, (std::vector<unsigned>{5}));
    EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(before.disks[0]));
    EXPECT_EQ(RawServiceBinaryPath(), serviceBefore);
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(RunInstaller(L"-removeservice"), std::optional<DWORD>(0));
    EXPECT_EQ(ServiceState(), 0u);
}

}  // namespace
