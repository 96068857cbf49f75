// Helper of the interruption test, run inside the test's prefix.
//
//   installer_probe kill N PROGRAM [ARGS...]
//       runs PROGRAM (from this folder) with ARGS and ends it right after the
//       N-th of its own child processes has ended, as a power loss between
//       two steps would; exit 0 when it was ended there, 3 when PROGRAM ended
//       first (its exit code printed), 1 when it could not be watched.
//   installer_probe kill-when created|identified|finished PROGRAM [ARGS...]
//       the same, ended right after the first child run after which the disk
//       holds partitions it did not hold at the start (created), the
//       installer's record notes the partitions its run made (identified), or
//       the record is marked finished (finished).
//   installer_probe state
//       prints what the installer's runs leave on the machine, one fact a
//       line, so that two machines compare with diff: partitions, the EFI
//       partition's and ASOS's files, the service, NoDriveTypeAutoRun,
//       hibernation and the installer's record.
#include "common/ownership.h"
#include "common/registry_names.h"
#include "sim/disk/disk_files.h"
#include "tests/support/test_support.h"

#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using obrin::UniqueHandle;
namespace disksim = obrin::disksim;

constexpr int kEndedThere = 0;
constexpr int kCannotWatch = 1;
constexpr int kUsage = 2;
constexpr int kEndedFirst = 3;
constexpr DWORD kWatchLimitMs = 600000;

DWORD ParentOf(HANDLE process)
{
    PROCESS_BASIC_INFORMATION basic = {};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
        return 0;
    return static_cast<DWORD>(basic.InheritedFromUniqueProcessId);
}

// Whether to end the program now, after its `ended`-th child run.
using KillPoint = std::function<bool(unsigned ended)>;

int Kill(const KillPoint& killNow, const std::wstring& commandLine)
{
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    UniqueHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (!job || !port)
        return kCannotWatch;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
    association.CompletionKey = job.get();
    association.CompletionPort = port.get();
    if (!SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &association,
                                 sizeof(association)))
        return kCannotWatch;

    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        obrin::test::ProgramDirectory().c_str(), &startup, &started))
        return kCannotWatch;
    UniqueHandle program(started.hProcess);
    UniqueHandle thread(started.hThread);
    if (!AssignProcessToJobObject(job.get(), program.get())) {
        TerminateProcess(program.get(), 1);
        return kCannotWatch;
    }
    ResumeThread(thread.get());

    std::set<DWORD> children;
    std::vector<UniqueHandle> held;  // keeps each child's id from being reused
    unsigned ended = 0;
    for (;;) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* data = nullptr;
        if (!GetQueuedCompletionStatus(port.get(), &message, &key, &data, kWatchLimitMs)) {
            TerminateProcess(program.get(), 1);
            std::fprintf(stderr, "installer_probe: no end in sight\n");
            return kCannotWatch;
        }
        const DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS) {
            UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
            if (process && ParentOf(process.get()) == started.dwProcessId) {
                children.insert(pid);
                held.push_back(std::move(process));
            }
        } else if (message == JOB_OBJECT_MSG_EXIT_PROCESS || message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) {
            if (pid == started.dwProcessId) {
                DWORD exitCode = 0;
                GetExitCodeProcess(program.get(), &exitCode);
                std::printf("ended by itself after %u child runs, exit code %lu\n", ended,
                            static_cast<unsigned long>(exitCode));
                return kEndedFirst;
            }
            if (children.count(pid) != 0 && killNow(++ended)) {
                TerminateProcess(program.get(), 1);
                WaitForSingleObject(program.get(), INFINITE);
                std::printf("ended after child run %u\n", ended);
                return kEndedThere;
            }
        }
    }
}

size_t PartitionCount()
{
    disksim::Model model;
    std::string error;
    size_t count = 0;
    if (disksim::LoadModelFile(disksim::ModelFilePath(), model, error)) {
        for (const disksim::Disk& disk : model.disks)
            count += disk.partitions.size();
    }
    return count;
}

bool RecordHolds(const wchar_t* value)
{
    return RegGetValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, value, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

// The kill-when conditions, read while the installer waits out its second
// after the child run.
std::optional<KillPoint> KillWhen(const std::wstring& condition)
{
    if (condition == L"created") {
        const size_t before = PartitionCount();
        return KillPoint([before](unsigned) { return PartitionCount() > before; });
    }
    if (condition == L"identified")
        return KillPoint([](unsigned) { return RecordHolds(L"InstallerPartitions"); });
    if (condition == L"finished")
        return KillPoint([](unsigned) { return RecordHolds(L"InstallerFinished"); });
    return std::nullopt;
}

void PrintFiles(const char* name, const std::string& folder)
{
    std::vector<std::wstring> pending = {disksim::Widen(folder)};
    std::set<std::string> lines;
    while (!pending.empty()) {
        const std::wstring current = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW found = {};
        obrin::UniqueFindHandle search(FindFirstFileW((current + L"\\*").c_str(), &found));
        if (!search)
            continue;
        do {
            const std::wstring entry = found.cFileName;
            if (entry == L"." || entry == L"..")
                continue;
            const std::wstring path = current + L"\\" + entry;
            const std::string relative = disksim::Narrow(path.substr(folder.size()));
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                lines.insert(relative + "\\");
                pending.push_back(path);
            } else {
                lines.insert(relative + " " + std::to_string(found.nFileSizeLow));
            }
        } while (FindNextFileW(search.get(), &found));
    }
    for (const std::string& line : lines)
        std::printf("%s %s\n", name, line.c_str());
}

void PrintService()
{
    obrin::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    obrin::UniqueServiceHandle service(
        OpenServiceW(manager.get(), L"OBRINSERVICE", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service) {
        std::printf("service none\n");
        return;
    }
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                         &needed);
    std::vector<BYTE> config(8192);
    auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data());
    const bool configured = QueryServiceConfigW(service.get(), query, static_cast<DWORD>(config.size()), &needed);
    std::printf("service state %lu image %s\n", static_cast<unsigned long>(status.dwCurrentState),
                configured ? disksim::Narrow(query->lpBinaryPathName).c_str() : "?");
}

void PrintRegistryValue(const char* name, HKEY root, const wchar_t* key, const wchar_t* value)
{
    BYTE data[512] = {};
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegGetValueW(root, key, value, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS) {
        std::printf("%s absent\n", name);
        return;
    }
    std::printf("%s type %lu bytes", name, static_cast<unsigned long>(type));
    for (DWORD i = 0; i < size; ++i)
        std::printf(" %02x", data[i]);
    std::printf("\n");
}

int State()
{
    disksim::Model model;
    std::string error;
    if (!disksim::LoadModelFile(disksim::ModelFilePath(), model, error)) {
        std::printf("model unreadable: %s\n", error.c_str());
    } else {
        for (const disksim::Disk& disk : model.disks) {
            std::printf("disk %u size %llu\n", disk.index, static_cast<unsigned long long>(disk.sizeSectors));
            for (const disksim::Partition& p : disk.partitions) {
                std::printf("disk %u par %u at %llu size %llu %s attributes 0x%016llx fs %s label %s letter %c\n",
                            disk.index, p.number, static_cast<unsigned long long>(p.offsetSectors),
                            static_cast<unsigned long long>(p.sizeSectors), disksim::TypeName(p.type).c_str(),
                            static_cast<unsigned long long>(p.attributes), p.fileSystem.c_str(), p.label.c_str(),
                            p.letter != 0 ? p.letter : '-');
                if (p.type == disksim::kTypeEfi || disksim::EqualsNoCase(p.label, "ASOS"))
                    PrintFiles(p.type == disksim::kTypeEfi ? "efi" : "asos", p.folder);
            }
        }
        std::printf("hibernation %s\n", model.hibernation ? "on" : "off");
    }
    PrintService();
    PrintRegistryValue("autorun", HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                       L"NoDriveTypeAutoRun");
    PrintRegistryValue("record", HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, L"InstallerRun");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        if (argc == 2 && std::wstring(argv[1]) == L"state")
            return State();
        const std::wstring command = argc >= 4 ? argv[1] : L"";
        if (command == L"kill" || command == L"kill-when") {
            std::wstring commandLine = L"\"" + obrin::test::ProgramDirectory() + argv[3] + L"\"";
            for (int i = 4; i < argc; ++i)
                commandLine += std::wstring(L" ") + argv[i];
            const unsigned point = static_cast<unsigned>(_wtoi(argv[2]));
            const std::optional<KillPoint> killNow =
                command == L"kill" ? std::optional<KillPoint>(
                                         [point](unsigned ended) { return point != 0 && ended == point; })
                                   : KillWhen(argv[2]);
            if (!killNow || (command == L"kill" && point == 0))
                return kUsage;
            return Kill(*killNow, commandLine);
        }
    } catch (...) {
        return kCannotWatch;
    }
    std::fputs("usage: installer_probe kill N PROGRAM [ARGS...] | kill-when created|identified|finished PROGRAM "
               "[ARGS...] | state\n",
               stderr);
    return kUsage;
}
