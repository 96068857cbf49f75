// The 32-bit programs on 64-bit Windows, in a 64-bit prefix: where the
// stand-ins are put and which copy each program finds, the registry view that
// holds each value the programs share, and the installer's flows with the
// service under "Program Files (x86)".
#include "tests/installer/installer_wine_support.h"

#include "common/ownership.h"
#include "common/registry_names.h"
#include "installer/run_record.h"
#include "sim/disk/disk_files.h"
#include "switcher/shutdown_notice.h"
#include "tests/switcher/switcher_runner.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

using namespace installer_test;
using obrin::UniqueFileHandle;
using obrin::UniqueHandle;
using obrin::UniqueRegKey;
using obrin::UniqueServiceHandle;
namespace disksim = obrin::disksim;

namespace {

// The machines the installer's flows run on in this leg.
const char* const kMachines[] = {"standard", "recovery-last"};

const std::string kCapabilityCall = "0x00000010 0x00000000";

bool IsWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring Folder(UINT(WINAPI* get)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = get(buffer, MAX_PATH);
    return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

// Where 32-bit programs find the system's tools, and the native system32 as
// this (32-bit) program reaches it.
std::wstring ThirtyTwoBitSystem() { return Folder(GetSystemWow64DirectoryW) + L"\\"; }
std::wstring NativeSystem() { return Folder(GetSystemWindowsDirectoryW) + L"\\Sysnative\\"; }
// The native system32 as Windows names it.
std::wstring NativeSystemName() { return Folder(GetSystemDirectoryW) + L"\\"; }

std::wstring ProgramFilesFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : L"";
}

std::string Narrow(const std::wstring& text) { return disksim::Narrow(text); }

bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::vector<char> FileBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// IMAGE_FILE_HEADER.Machine of a PE file; 0 when it is none.
WORD ImageMachine(const std::vector<char>& image)
{
    if (image.size() < sizeof(IMAGE_DOS_HEADER))
        return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const size_t header = static_cast<size_t>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || header + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) > image.size())
        return 0;
    return reinterpret_cast<const IMAGE_FILE_HEADER*>(image.data() + header + sizeof(DWORD))->Machine;
}

// A registry value's presence in one view of the registry.
bool ValueIn(REGSAM view, const wchar_t* key, const wchar_t* name)
{
    UniqueRegKey opened;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, opened.put()) == ERROR_SUCCESS &&
           RegQueryValueExW(opened.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::wstring TextIn(REGSAM view, const wchar_t* key, const wchar_t* name)
{
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof(text);
    UniqueRegKey opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS ||
        RegGetValueW(opened.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return {};
    return text;
}

void DeleteValueInBothViews(const wchar_t* key, const wchar_t* name)
{
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        UniqueRegKey opened;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE | view, opened.put()) == ERROR_SUCCESS)
            RegDeleteValueW(opened.get(), name);
    }
}

class Wow64 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(IsWow64()) << "this program checks a 64-bit prefix (tests/wine/run --win64)"; }
};

struct Placement {
    std::wstring path;     // as this 32-bit program reaches it
    const wchar_t* built;  // the file of the bin folder it must be; nullptr: Wine's own, left alone
    WORD machine;
};

TEST_F(Wow64, StandInsLieWhereWindowsKeepsEachTool)
{
    ResetMachine("standard");
    const std::wstring wow = ThirtyTwoBitSystem();
    const std::wstring native = NativeSystem();
    const Placement placements[] = {
        {wow + L"diskpart.exe", L"diskpart.exe", IMAGE_FILE_MACHINE_I386},
        {wow + L"powercfg.exe", L"powercfg.exe", IMAGE_FILE_MACHINE_I386},
        {wow + L"powrprof.dll", L"powrprof.dll", IMAGE_FILE_MACHINE_I386},
        // 64-bit programs find the 32-bit tools there too; a 32-bit DLL would
        // break them, so the native powrprof.dll stays Wine's.
        {native + L"diskpart.exe", L"diskpart.exe", IMAGE_FILE_MACHINE_I386},
        {native + L"powercfg.exe", L"powercfg.exe", IMAGE_FILE_MACHINE_I386},
        {native + L"powrprof.dll", nullptr, IMAGE_FILE_MACHINE_AMD64},
        // A 64-bit kernel loads only the 64-bit build of the driver.
        {native + L"drivers\\obrindisk.sys", L"obrindisk64.sys", IMAGE_FILE_MACHINE_AMD64},
    };
    for (const Placement& placement : placements) {
        SCOPED_TRACE(Narrow(placement.path));
        const std::vector<char> placed = FileBytes(placement.path);
        ASSERT_FALSE(placed.empty());
        EXPECT_EQ(ImageMachine(placed), placement.machine);
        if (placement.built)
            EXPECT_TRUE(placed == FileBytes(ProgramDirectory() + placement.built));
        else
            EXPECT_FALSE(placed == FileBytes(ProgramDirectory() + L"powrprof.dll"));
    }
}

// Runs `cmd /C diskpart.exe /s <pipe>` with the given cmd, away from the
// programs' folder, and reports the image of the diskpart that opened the
// pipe; then hands it a script that changes nothing.
std::wstring DiskpartFoundBy(const std::wstring& cmd, DWORD& exitCode)
{
    const std::wstring pipeName = L"\\\\.\\pipe\\obrin-wow64-diskpart-script";
    UniqueFileHandle pipe(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!pipe || !event)
        return L"(no pipe)";
    OVERLAPPED connect = {};
    connect.hEvent = event.get();
    ConnectNamedPipe(pipe.get(), &connect);

    obrin::test::ProcessResult run;
    std::string output;
    std::thread runner([&] {
        const std::wstring commandLine = L"\"" + cmd + L"\" /C cd /d \"" + Folder(GetSystemWindowsDirectoryW) +
                                         L"\\temp\" && diskpart.exe /s " + pipeName;
        run = obrin::test::RunProcessCapturingOutput(commandLine, 60000, output);
    });
    std::wstring image = L"(diskpart did not open the script)";
    DWORD transferred = 0;
    if (GetOverlappedResultEx(pipe.get(), &connect, &transferred, 30000, FALSE)) {
        ULONG client = 0;
        GetNamedPipeClientProcessId(pipe.get(), &client);
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, client));
        wchar_t path[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        if (process && QueryFullProcessImageNameW(process.get(), 0, path, &length))
            image.assign(path, length);
        const char script[] = "rem which copy\r\n";
        OVERLAPPED write = {};
        write.hEvent = event.get();
        ResetEvent(event.get());
        if (WriteFile(pipe.get(), script, sizeof(script) - 1, nullptr, &write) ||
            GetOverlappedResultEx(pipe.get(), &write, &transferred, 30000, FALSE))
            FlushFileBuffers(pipe.get());
    } else {
        CancelIo(pipe.get());
    }
    pipe.reset();
    runner.join();
    exitCode = run.finished ? run.exitCode : 0xDEAD;
    if (exitCode != 0)
        ADD_FAILURE() << output;
    return image;
}

TEST_F(Wow64, EachCmdFindsTheDiskpartOfItsOwnBitness)
{
    ResetMachine("standard");
    const struct {
        std::wstring cmd;  // as this program starts it
        std::wstring found;
    } cases[] = {
        // A 32-bit program's system32 is SysWOW64: the 32-bit cmd, as the installer starts it.
        {NativeSystemName() + L"cmd.exe", Folder(GetSystemWow64DirectoryW) + L"\\diskpart.exe"},
        {NativeSystem() + L"cmd.exe", NativeSystemName() + L"diskpart.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.cmd));
        DWORD exitCode = 0;
        const std::wstring found = DiskpartFoundBy(c.cmd, exitCode);
        EXPECT_TRUE(SamePath(found, c.found)) << Narrow(found);
        EXPECT_EQ(exitCode, 0u);
    }
}

TEST_F(Wow64, NativeDiskDriverAnswersThirtyTwoBitPrograms)
{
    ResetMachine("standard");
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle driver(OpenServiceW(manager.get(), L"OBRINDISK", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(driver) << GetLastError();
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(driver.get(), config, static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_TRUE(SamePath(config->lpBinaryPathName, NativeSystemName() + L"drivers\\obrindisk.sys"))
        << Narrow(config->lpBinaryPathName);
    SERVICE_STATUS status = {};
    ASSERT_TRUE(QueryServiceStatus(driver.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    UniqueFileHandle disk(CreateFileW(L"\\\\.\\PHYSICALDRIVE0", READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(disk) << GetLastError();
    std::vector<BYTE> layout(sizeof(DRIVE_LAYOUT_INFORMATION_EX) + 128 * sizeof(PARTITION_INFORMATION_EX));
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(disk.get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout.data(),
                                static_cast<DWORD>(layout.size()), &returned, nullptr))
        << GetLastError();
    const auto* drive = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(layout.data());
    EXPECT_EQ(drive->PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_GPT));
    EXPECT_EQ(drive->PartitionCount, LoadModel().disks[0].partitions.size());
}

TEST_F(Wow64, ShutdownNoticeTakesItsTextFromTheNativeWinlogon)
{
    // winlogon.exe lies only in the native system32 (SysWOW64 has none); Wine
    // has none at all, so this program, which carries a string 2017 of its
    // own (winlogon_strings.rc), is put there in its place.
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    wchar_t expected[256] = {};
    ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), 2017, expected, 256), 0);
    const std::wstring winlogon = NativeSystem() + L"winlogon.exe";
    ASSERT_TRUE(CopyFileW(self, winlogon.c_str(), TRUE)) << GetLastError();

    obrin::test::BoxCaptionWatch watch(10000);
    ShowShutdownNotice(1);
    EXPECT_EQ(watch.Caption(), std::optional<std::wstring>(expected));
    EXPECT_TRUE(DeleteFileW(winlogon.c_str()));
}

TEST_F(Wow64, FirmwareLocatorIsReplacedForThirtyTwoBitClientsOnly)
{
    const wchar_t key[] = L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
    ASSERT_EQ(Firmsim(L"install"), std::optional<DWORD>(0));
    EXPECT_TRUE(SamePath(TextIn(KEY_WOW64_32KEY, key, nullptr), ProgramDirectory() + L"firmwmi.dll"));
    // 64-bit clients keep Wine's locator: they could not load a 32-bit DLL.
    const std::wstring native = TextIn(KEY_WOW64_64KEY, key, nullptr);
    EXPECT_FALSE(native.empty());
    EXPECT_FALSE(SamePath(native, ProgramDirectory() + L"firmwmi.dll")) << Narrow(native);
}

class Wow64Service : public Wow64 {
protected:
    void SetUp() override
    {
        Wow64::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(obrin::test::RemoveServiceIfPresent());
        ASSERT_EQ(Firmsim(L"install"), std::optional<DWORD>(0));
        ASSERT_EQ(Firmsim(L"reset"), std::optional<DWORD>(0));
        ASSERT_TRUE(obrin::test::PlaceSwitcherRecorder());
        DeleteValueInBothViews(OBRIN_REGISTRY_KEY, OBRIN_CODENAME_VALUE);
    }
    void TearDown() override
    {
        EXPECT_TRUE(obrin::test::RemoveServiceIfPresent());
        DeleteValueInBothViews(OBRIN_REGISTRY_KEY, OBRIN_CODENAME_VALUE);
    }
    static DWORD Service(const wchar_t* arguments)
    {
        const obrin::test::ProcessResult result = obrin::test::RunProgram(L"ObrinService.exe", arguments, 90000);
        return result.finished ? result.exitCode : 0xDEAD;
    }
};

TEST_F(Wow64Service, ShowMsgIsWrittenToTheThirtyTwoBitView)
{
    DeleteValueInBothViews(OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE);
    ASSERT_EQ(Service(L"-install"), 0u);
    ASSERT_EQ(Service(L"-showmsg 1"), 0u);
    EXPECT_TRUE(ValueIn(KEY_WOW64_32KEY, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE));
    EXPECT_FALSE(ValueIn(KEY_WOW64_64KEY, OBRIN_REGISTRY_KEY, OBRIN_SHOWMSG_VALUE));
    // The switcher reads it where the service wrote it.
    EXPECT_EQ(obrin::test::ReadShowMsg(), std::optional<DWORD>(1));
}

TEST_F(Wow64Service, CodeNameFromASixtyFourBitToolCountsOnlyInTheThirtyTwoBitView)
{
    const struct {
        const wchar_t* viewOption;  // of reg.exe
        bool capabilitiesAsked;     // false: the service read "Talvex"
    } cases[] = {{L" /reg:32", false}, {L"", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(std::wstring(L"reg add") + c.viewOption));
        DeleteValueInBothViews(OBRIN_REGISTRY_KEY, OBRIN_CODENAME_VALUE);
        const std::wstring reg = L"\"" + NativeSystem() + L"reg.exe\" add HKLM\\" + OBRIN_REGISTRY_KEY + L" /v " +
                                 OBRIN_CODENAME_VALUE + L" /t REG_SZ /d Talvex /f" + c.viewOption;
        ASSERT_EQ(RunBounded(reg, 60000), std::optional<DWORD>(0));
        ASSERT_EQ(Firmsim(L"reset"), std::optional<DWORD>(0));
        ASSERT_EQ(Service(L"-install"), 0u);
        const std::vector<std::string> calls = obrin::test::FirmsimCalls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), kCapabilityCall) > 0, c.capabilitiesAsked);
        ASSERT_TRUE(obrin::test::RemoveServiceIfPresent());
    }
}

std::vector<bool> g_recordSeen32;
std::vector<bool> g_recordSeen64;
std::vector<std::optional<RegistryValue>> g_autoRunSeen;
UINT g_progressMessage = 0;

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_progressMessage && message != 0) {
        g_recordSeen32.push_back(ValueIn(KEY_WOW64_32KEY, OBRIN_REGISTRY_KEY, kRecordFlowValue));
        g_recordSeen64.push_back(ValueIn(KEY_WOW64_64KEY, OBRIN_REGISTRY_KEY, kRecordFlowValue));
        g_autoRunSeen.push_back(ReadAutoRunValue(KEY_WOW64_64KEY));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class Wow64Installer : public Wow64, public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite()
    {
        g_progressMessage = RegisterProgressWindowClass(L"Wow64ProgressProbe", ProgressWindowProc);
    }
    void SetUp() override
    {
        Wow64::SetUp();
        if (HasFatalFailure())
            return;
        m_window = CreateWindowW(L"Wow64ProgressProbe", L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_window, nullptr);
    }
    void TearDown() override { DestroyWindow(m_window); }

    // Runs the installer with a mode option, watching the registry at every
    // progress position it sends.
    std::optional<DWORD> Flow(const wchar_t* mode)
    {
        g_recordSeen32.clear();
        g_recordSeen64.clear();
        g_autoRunSeen.clear();
        wchar_t option[32];
        swprintf(option, 32, L" -win:0x%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(m_window)));
        return RunInstaller(mode + std::wstring(option));
    }

    HWND m_window = nullptr;
};

// Explorer (64-bit) reads the AutoRun policy through the 64-bit view; the key
// is one of those Windows shares between the views, so the installer's
// writes reach it. Seen there during the flow (progress arrives
// asynchronously, so the last positions may come after the restore) and
// restored after it.
void ExpectAutoRunAround(const RegistryValue& before)
{
    EXPECT_GT(std::count(g_autoRunSeen.begin(), g_autoRunSeen.end(), std::optional<RegistryValue>(DwordValue(0xFF))),
              0);
    EXPECT_EQ(ReadAutoRunValue(KEY_WOW64_64KEY), std::optional<RegistryValue>(before));
    EXPECT_EQ(ReadAutoRunValue(KEY_WOW64_32KEY), std::optional<RegistryValue>(before));
}

// The installer's record of the flow is in the 32-bit view, where the next
// run of the installer reads it: seen there during the flow, never in the
// 64-bit view, and in neither after the flow.
void ExpectRecordOnlyInTheThirtyTwoBitView()
{
    EXPECT_GT(std::count(g_recordSeen32.begin(), g_recordSeen32.end(), true), 0);
    EXPECT_EQ(std::count(g_recordSeen64.begin(), g_recordSeen64.end(), true), 0);
    EXPECT_FALSE(ValueIn(KEY_WOW64_32KEY, OBRIN_REGISTRY_KEY, kRecordFlowValue));
    EXPECT_FALSE(ValueIn(KEY_WOW64_64KEY, OBRIN_REGISTRY_KEY, kRecordFlowValue));
}

TEST_P(Wow64Installer, InstallUninstallAndRollbackWithTheServiceUnderProgramFilesX86)
{
    ResetMachine(GetParam());
    const disksim::Model original = LoadModel();
    const RegistryValue autoRunBefore = DwordValue(0x91);
    WriteAutoRunValue(autoRunBefore, KEY_WOW64_64KEY);

    // The 32-bit programs' folder, not the native one.
    const std::wstring x86 = ProgramFilesFolder(CSIDL_PROGRAM_FILESX86);
    const std::wstring folder = x86 + L"\\Vantrel\\VantrelObrin\\";
    ASSERT_NE(x86.find(L"(x86)"), std::wstring::npos) << Narrow(x86);
    ASSERT_TRUE(SamePath(InstallDirectoryImage(), folder + L"ObrinService.exe"));
    PlaceServiceImage();
    // The service starts the switcher from its own folder: the recorder there.
    DeleteFileW((folder + L"switcher_calls.log").c_str());
    DeleteFileW((folder + L"ObrinSwitcher.exe").c_str());
    ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"switcher_recorder.exe").c_str(),
                          (folder + L"ObrinSwitcher.exe").c_str(), FALSE));
    ASSERT_EQ(Firmsim(L"reset"), std::optional<DWORD>(0));

    {
        SCOPED_TRACE("install");
        ASSERT_EQ(Flow(L"-install-dualos"), std::optional<DWORD>(0));
        ExpectAutoRunAround(autoRunBefore);
        ExpectRecordOnlyInTheThirtyTwoBitView();
        EXPECT_TRUE(SamePath(RawServiceBinaryPath(), L"\"" + folder + L"ObrinService.exe\""))
            << Narrow(RawServiceBinaryPath());
        EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_TRUE(FileExists(folder + L"DUALOSLOG.log"));
        const std::vector<char> record = FileBytes(folder + L"switcher_calls.log");
        const std::string calls(record.begin(), record.end());
        const std::string pin = "\"" + Narrow(folder) + "ObrinSwitcher.exe\" -taskbarpin";
        EXPECT_NE(calls.find(pin), std::string::npos) << calls;
    }
    {
        SCOPED_TRACE("uninstall");
        ASSERT_EQ(Flow(L"-uninstall-dualos"), std::optional<DWORD>(0));
        ExpectAutoRunAround(autoRunBefore);
        ExpectRecordOnlyInTheThirtyTwoBitView();
        EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0]));
        EXPECT_EQ(ServiceState(), 0u);
    }
    {
        SCOPED_TRACE("rollback");
        ASSERT_EQ(Disksim(L"fail setid"), std::optional<DWORD>(0));
        EXPECT_EQ(Flow(L"-install-dualos"), std::optional<DWORD>(11));
        ExpectAutoRunAround(autoRunBefore);
        ExpectRecordOnlyInTheThirtyTwoBitView();
        EXPECT_EQ(ShapeOf(LoadModel().disks[0]), ShapeOf(original.disks[0]));
        EXPECT_EQ(ServiceState(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, Wow64Installer, ::testing::ValuesIn(kMachines),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* c = info.param; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

}  // namespace
