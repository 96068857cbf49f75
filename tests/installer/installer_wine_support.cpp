#include "tests/installer/installer_wine_support.h"

#include "common/ownership.h"
#include "common/registry_names.h"
#include "common/winservice.h"
#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <vector>

using obrin::UniqueHandle;

namespace installer_test {

std::optional<DWORD> RunBounded(const std::wstring& commandLine, DWORD timeoutMs)
{
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job)
        return std::nullopt;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));

    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        ProgramDirectory().c_str(), &startup, &info))
        return std::nullopt;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());

    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            TerminateJobObject(job.get(), 1);
            ADD_FAILURE() << "killed after " << timeoutMs << " ms: " << std::string(commandLine.begin(), commandLine.end());
            return std::nullopt;
        }
        HANDLE waitHandle = process.get();
        const DWORD wait = MsgWaitForMultipleObjects(1, &waitHandle, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0)
            break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // Progress sent just before the end may still be queued.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

std::optional<DWORD> RunInstaller(const std::wstring& arguments)
{
    return RunBounded(L"\"" + ProgramDirectory() + L"ObrinInstaller.exe\" " + arguments);
}

std::optional<DWORD> Disksim(const std::wstring& arguments)
{
    return RunBounded(L"\"" + ProgramDirectory() + L"disksim.exe\" " + arguments, 60000);
}

std::optional<DWORD> Firmsim(const std::wstring& arguments)
{
    return RunBounded(L"\"" + ProgramDirectory() + L"firmsim.exe\" " + arguments, 60000);
}

std::optional<DWORD> Probe(const std::wstring& arguments)
{
    return RunBounded(L"\"" + ProgramDirectory() + L"installer_probe.exe\" " + arguments);
}

std::optional<DWORD> Diskpart(const std::string& script)
{
    const std::wstring path = ProgramDirectory() + L"user-diskpart.txt";
    WriteTextFile(path, script);
    return RunBounded(L"diskpart.exe /s \"" + path + L"\"", 60000);
}

void WriteTextFile(const std::wstring& path, const std::string& text)
{
    obrin::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        << GetLastError();
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

void ResetMachine(const char* variant, const char* numbering)
{
    // The locator in place serves the disk classes; the driver the I/O controls.
    ASSERT_EQ(Firmsim(L"install"), std::optional<DWORD>(0));
    ASSERT_EQ(Disksim(L"init " + obrin::disksim::Widen(variant)), std::optional<DWORD>(0));
    if (std::string(numbering) != "disk-order") {
        ASSERT_EQ(Disksim(L"numbering " + obrin::disksim::Widen(numbering)), std::optional<DWORD>(0));
    }
    ASSERT_EQ(Disksim(L"install-tools"), std::optional<DWORD>(0));
}

obrin::disksim::Model LoadModel()
{
    obrin::disksim::Model model;
    std::string error;
    EXPECT_TRUE(obrin::disksim::LoadModelFile(obrin::disksim::ModelFilePath(), model, error)) << error;
    return model;
}

std::string DiskFiles()
{
    std::string files;
    const obrin::test::ProcessResult run = obrin::test::RunProcessCapturingOutput(
        L"\"" + ProgramDirectory() + L"disksim.exe\" files", 60000, files);
    EXPECT_TRUE(run.finished && run.exitCode == 0) << files;
    return files;
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
