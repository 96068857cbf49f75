#include "tests/installer/installer_wine_support.h"

#include "common/ownership.h"
#include "common/winservice.h"
#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>
#include <shlobj.h>

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
    return RunBounded(L"\"" + ProgramDirectory() + L"ObrinInstallerSimDisk.exe\" " + arguments);
}

std::optional<DWORD> Disksim(const std::wstring& arguments)
{
    return RunBounded(L"\"" + ProgramDirectory() + L"disksim.exe\" " + arguments, 60000);
}

std::optional<DWORD> Firmsim(const std::wstring& arguments)
{
    return RunBounded(L"\"" + ProgramDirectory() + L"firmsim.exe\" " + arguments, 60000);
}

void ResetMachine(const char* variant)
{
    const std::wstring name(variant, variant + strlen(variant));
    ASSERT_EQ(Disksim(L"init " + name), std::optional<DWORD>(0));
    ASSERT_EQ(Disksim(L"install-tools"), std::optional<DWORD>(0));
}

obrin::disksim::Model LoadModel()
{
    obrin::disksim::Model model;
    std::string error;
    EXPECT_TRUE(obrin::disksim::LoadModelFile(obrin::disksim::ModelFilePath(), model, error)) << error;
    return model;
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

std::vector<PartitionShape> ShapeOf(const obrin::disksim::Disk& disk)
{
    std::vector<PartitionShape> shape;
    for (const obrin::disksim::Partition& p : disk.partitions)
        shape.push_back({p.number, p.offsetMb, p.sizeMb, p.type, p.attributes, p.label, p.letter});
    return shape;
}

void PrintTo(const PartitionShape& shape, std::ostream* out)
{
    *out << "{par " << shape.number << " at " << shape.offsetMb << " MB, " << shape.sizeMb << " MB, "
         << obrin::disksim::TypeName(shape.type) << ", attributes 0x" << std::hex << shape.attributes << std::dec
         << ", \"" << shape.label << "\", letter " << (shape.letter ? shape.letter : '-') << "}";
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
