// disksim: sets up and inspects the disk stand-in in a Wine prefix.
//   disksim init VARIANT [--no-payload]  new model, partition folders, letters, payload
//   disksim show                         the layout table
//   disksim files                        every file in the partitions' folders
//   disksim fail COMMAND [SKIP]          the (SKIP+1)-th run of a diskpart command fails
//   disksim numbering stable|disk-order  how partition numbers are given from now on
//   disksim install-tools                diskpart.exe, powercfg.exe and powrprof.dll where Windows
//                                        keeps them (the installer loads that powrprof.dll), the disk
//                                        driver obrindisk.sys started and handed the model
//   disksim occupy LETTERS               make drives the model does not know (e.g. "MNOPQ"),
//   disksim release LETTERS              so that few letters stay free, and take them back
#include "sim/disk/disk_driver.h"
#include "sim/disk/disk_files.h"
#include "sim/disk/tool_places.h"

#include "common/ownership.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace obrin::disksim;

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const wchar_t* kPowrprofUsers[] = {L"ObrinInstaller.exe"};

int Usage()
{
    std::fputs("usage: disksim init VARIANT [--no-payload] | show | files | fail COMMAND [SKIP]\n"
               "       | numbering stable|disk-order | install-tools | occupy LETTERS | release LETTERS\n"
               "variants:",
               stderr);
    for (std::string_view name : MachineVariantNames())
        std::fprintf(stderr, " %.*s", static_cast<int>(name.size()), name.data());
    std::fputs("\nfailing commands: select create format shrink extend delete assign remove gpt setid\n", stderr);
    return kUsage;
}

bool WriteTextFile(const std::wstring& path, std::string_view content)
{
    size_t slash = path.find_last_of(L'\\');
    std::wstring folder = path.substr(0, slash);
    // Create the parents one level at a time; existing ones are fine.
    for (size_t at = folder.find(L'\\', 3); ; at = folder.find(L'\\', at + 1)) {
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
        if (at == std::wstring::npos)
            break;
    }
    obrin::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size();
}

// What the factory leaves on the partitions besides Windows: the boot manager
// beside which the installer puts its own loader, and the recovery image.
std::vector<std::pair<std::string, std::string_view>> FactoryFiles(const Partition& p)
{
    if (p.type == kTypeEfi)
        return {{"EFI\\Microsoft\\Boot\\bootmgfw.efi", "stand-in Windows boot manager\r\n"}};
    if (p.active)
        return {{"bootmgr", "stand-in Windows boot manager\r\n"}, {"Boot\\BCD", "stand-in boot configuration\r\n"}};
    if (p.type == kTypeRecovery)
        return {{"Recovery\\WindowsRE\\Winre.wim", "stand-in recovery image\r\n"}};
    if (!p.label.empty())
        return {{"readme.txt", "stand-in data\r\n"}};
    return {};
}

bool LoadOrReport(Model& model)
{
    std::string error;
    if (LoadModelOrClearDriver(ModelFilePath(), model, error))
        return true;
    std::fprintf(stderr, "disksim: %s\n", error.c_str());
    return false;
}

bool SaveOrReport(const Model& model)
{
    if (SaveModelFile(ModelFilePath(), model))
        return true;
    std::fprintf(stderr, "disksim: cannot write the model (error %lu)\n", GetLastError());
    return false;
}

int Init(std::string_view variant, bool withPayload)
{
    std::optional<Model> model = MachineVariant(variant);
    if (!model)
        return Usage();
    // A model made before leaves its letters and folders in the prefix: take
    // them away.
    Model previous;
    std::string ignored;
    if (LoadModelFile(ModelFilePath(), previous, ignored)) {
        for (const Disk& disk : previous.disks) {
            for (const Partition& p : disk.partitions) {
                if (p.folder == kSystemFolder)
                    continue;
                if (p.letter && !RemoveDriveLetter(p.letter))
                    std::fprintf(stderr, "disksim: cannot remove drive %c: (error %lu)\n", p.letter, GetLastError());
                if (!RemovePartitionFolder(Widen(p.folder)))
                    std::fprintf(stderr, "disksim: cannot remove %s (error %lu)\n", p.folder.c_str(), GetLastError());
            }
        }
    }
    for (const Disk& disk : model->disks) {
        for (const Partition& p : disk.partitions) {
            if (p.folder == kSystemFolder)
                continue;
            std::wstring folder = Widen(p.folder);
            if (!EmptyPartitionFolder(folder)) {
                std::fprintf(stderr, "disksim: cannot prepare %s (error %lu)\n", p.folder.c_str(), GetLastError());
                return kFailed;
            }
            for (const auto& [name, content] : FactoryFiles(p)) {
                if (!WriteTextFile(folder + L"\\" + Widen(name), content)) {
                    std::fprintf(stderr, "disksim: cannot write %s\n", name.c_str());
                    return kFailed;
                }
            }
            if (p.letter && !DefineDriveLetter(p.letter, folder)) {
                std::fprintf(stderr, "disksim: cannot define drive %c: (error %lu)\n", p.letter, GetLastError());
                return kFailed;
            }
        }
    }
    if (withPayload) {
        std::wstring payload = Widen(std::string(kSystemFolder) + std::string(kPayloadFolder));
        for (const PayloadFile& file : PayloadFiles()) {
            if (!WriteTextFile(payload + Widen(std::string(file.name)), file.content)) {
                std::fprintf(stderr, "disksim: cannot write the payload file %.*s\n",
                             static_cast<int>(file.name.size()), file.name.data());
                return kFailed;
            }
        }
    }
    return SaveOrReport(*model) ? kDone : kFailed;
}

void ListFiles(const std::wstring& root, const std::wstring& relative)
{
    WIN32_FIND_DATAW found;
    obrin::UniqueFindHandle search(FindFirstFileW((root + relative + L"*").c_str(), &found));
    if (!search)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListFiles(root, relative + name + L"\\");
        } else {
            std::printf("    \\%s\n", Narrow(relative + name).c_str());
        }
    } while (FindNextFileW(search.get(), &found));
}

int Files()
{
    Model model;
    if (!LoadOrReport(model))
        return kFailed;
    for (const Disk& disk : model.disks) {
        for (const Partition& p : disk.partitions) {
            // The Windows partition's files are the whole prefix: not listed.
            if (p.folder == kSystemFolder || p.type == kTypeMsr)
                continue;
            std::printf("Disk %u partition %u (%s)  %s\n", disk.index, p.number,
                        p.label.empty() ? TypeName(p.type).c_str() : p.label.c_str(), p.folder.c_str());
            std::wstring root = Widen(p.folder);
            if (root.back() != L'\\')
                root += L'\\';
            ListFiles(root, L"");
        }
    }
    return kDone;
}

int Fail(std::string command, const wchar_t* skipText)
{
    static constexpr std::string_view kKnown[] = {"select", "create", "format", "shrink", "extend",
                                                  "delete", "assign", "remove", "gpt",    "setid"};
    if (std::find(std::begin(kKnown), std::end(kKnown), command) == std::end(kKnown))
        return Usage();
    InjectedFailure failure;
    failure.command = command;
    if (skipText) {
        wchar_t* end = nullptr;
        unsigned long skip = wcstoul(skipText, &end, 10);
        if (!*skipText || *end)
            return Usage();
        failure.skip = static_cast<uint32_t>(skip);
    }
    Model model;
    if (!LoadOrReport(model))
        return kFailed;
    model.failures.push_back(failure);
    return SaveOrReport(model) ? kDone : kFailed;
}

// Under disk-order the numbers close up at once; switching to stable keeps
// the numbers the partitions have now.
int Numbering(const std::string& name)
{
    const std::optional<NumberingRule> rule = ParseNumbering(name);
    if (!rule)
        return Usage();
    Model model;
    if (!LoadOrReport(model))
        return kFailed;
    model.numbering = *rule;
    for (Disk& disk : model.disks)
        ApplyNumbering(disk, *rule);
    return SaveOrReport(model) ? kDone : kFailed;
}

int InstallTools()
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return kFailed;
    std::wstring here(self, length);
    here.resize(here.find_last_of(L'\\') + 1);
    SystemFolders system;
    if (!FindSystemFolders(system)) {
        std::fprintf(stderr, "disksim: cannot find the system folders (error %lu)\n", GetLastError());
        return kFailed;
    }
    for (const ToolCopy& copy : ToolCopies(system)) {
        const std::wstring& target = copy.target;
        // Files in a test prefix may be hard links shared with the template:
        // unlink first, never write through them.
        if (!DeleteFileW(target.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            std::fprintf(stderr, "disksim: cannot replace %s (error %lu)\n", Narrow(target).c_str(), GetLastError());
            return kFailed;
        }
        if (!CopyFileW((here + copy.file).c_str(), target.c_str(), FALSE)) {
            std::fprintf(stderr, "disksim: cannot copy %s (error %lu)\n", Narrow(here + copy.file).c_str(),
                         GetLastError());
            return kFailed;
        }
    }
    // Only the installer loads the stand-in powrprof.dll; every other program
    // keeps Wine's.
    for (const wchar_t* program : kPowrprofUsers) {
        const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides";
        const wchar_t order[] = L"native,builtin";
        const LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"powrprof", REG_SZ, order,
                                               sizeof(order));
        if (status != ERROR_SUCCESS) {
            std::fprintf(stderr, "disksim: cannot set the powrprof override for %s (error %ld)\n",
                         Narrow(program).c_str(), static_cast<long>(status));
            return kFailed;
        }
    }
    std::string failed;
    if (!InstallDiskDriver(here, failed)) {
        std::fprintf(stderr, "disksim: cannot %s (error %lu)\n", failed.c_str(), GetLastError());
        return kFailed;
    }
    Model model;
    return !LoadOrReport(model) || SaveOrReport(model) ? kDone : kFailed;
}

// Letters given as one word ("MNO"); each must be A..Z, without repeats.
std::optional<std::string> ParseLetters(const wchar_t* text)
{
    std::string letters;
    for (const wchar_t* c = text; *c; ++c) {
        const char upper = *c < 0x80 ? obrin::UpperCase(static_cast<char>(*c)) : '\0';
        if (upper < 'A' || upper > 'Z' || letters.find(upper) != std::string::npos)
            return std::nullopt;
        letters.push_back(upper);
    }
    if (letters.empty())
        return std::nullopt;
    return letters;
}

int Occupy(const wchar_t* text, bool occupy)
{
    std::optional<std::string> letters = ParseLetters(text);
    if (!letters)
        return Usage();
    Model model;
    if (!LoadOrReport(model))
        return kFailed;
    const std::wstring folder = Widen(std::string(kPartitionFolderRoot)) + L"occupied";
    if (occupy && !EmptyPartitionFolder(folder)) {
        std::fprintf(stderr, "disksim: cannot prepare %s (error %lu)\n", Narrow(folder).c_str(), GetLastError());
        return kFailed;
    }
    for (char letter : *letters) {
        // The model's own letters belong to diskpart.
        if (model.FindByLetter(letter)) {
            std::fprintf(stderr, "disksim: %c: is a partition of the model\n", letter);
            return kFailed;
        }
        wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
        bool present = GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR;
        if (occupy && present) {
            std::fprintf(stderr, "disksim: %c: is already a drive\n", letter);
            return kFailed;
        }
        if (occupy ? !DefineDriveLetter(letter, folder) : (present && !RemoveDriveLetter(letter))) {
            std::fprintf(stderr, "disksim: cannot change drive %c: (error %lu)\n", letter, GetLastError());
            return kFailed;
        }
    }
    return kDone;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    std::wstring command = argv[1];
    if (command == L"init" && (argc == 3 || (argc == 4 && std::wstring(argv[3]) == L"--no-payload")))
        return Init(Narrow(argv[2]), argc == 3);
    if (command == L"show" && argc == 2) {
        Model model;
        if (!LoadOrReport(model))
            return kFailed;
        std::fputs(LayoutTable(model).c_str(), stdout);
        return kDone;
    }
    if (command == L"files" && argc == 2)
        return Files();
    if (command == L"fail" && (argc == 3 || argc == 4))
        return Fail(Narrow(argv[2]), argc == 4 ? argv[3] : nullptr);
    if (command == L"numbering" && argc == 3)
        return Numbering(Narrow(argv[2]));
    if (command == L"install-tools" && argc == 2)
        return InstallTools();
    if ((command == L"occupy" || command == L"release") && argc == 3)
        return Occupy(argv[2], command == L"occupy");
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        return kFailed;
    }
}
