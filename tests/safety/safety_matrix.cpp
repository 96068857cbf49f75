// The installer's safety matrix: every machine of `disksim init` x both
// numbering rules x every scenario of kScenarios, each cell end to end under
// Wine in a prefix of its own, with the shipped ObrinInstaller.exe, the
// service and the firmware stand-in. The oracle reads the disk model (with the
// stand-in's own Windows-free model library) and the partitions' folders from
// outside Wine, before and after every run, and checks what the README
// promises, never what the installer's code computes.
//
//   safety_matrix ROOT [--subset] [--machine NAME]... [--numbering RULE] [--scenario TEXT]
//
// ROOT is the checkout (build/win32/bin, build/wine-template, tests/wine/).
// --subset runs the cells marked for ./dev test; the other options run only
// the cells they name. OBRIN_SAFETY_JOBS cells run side by side (default 4:
// the installer mostly waits). Prints one table and the total time, keeps
// the transcript of each failed cell in build/safety-logs/ and exits 1 when
// a cell failed.
#include "sim/disk/disk_model.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace disksim = obrin::disksim;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The table: what the README promises, per machine and per scenario.

// The steps of an install in the README's order: the system disk and its
// free space are looked at, the EFI partition's boot folders are looked
// into, Windows grows into free space directly behind it, Windows is shrunk,
// the create script makes and formats ANDROID and ASOS and their placement
// is checked, letters are removed, both are hidden and ANDROID is typed.
enum Stage { kStageDisk, kStageBootFolders, kStageExtend, kStageShrink, kStageCreate, kStageHide, kStageEnd };

// Machines where an install does not simply succeed, the README's codes
// there and the step at which the install stops. Every other machine
// `disksim init` knows installs and uninstalls with 0.
struct MachineExpectation {
    std::string_view machine;
    int install;
    int uninstall;
    Stage stops;
};
constexpr MachineExpectation kMachineExceptions[] = {
    // Not a GPT disk with an EFI system partition: 3 before anything changes.
    {"mbr", 3, 3, kStageDisk},
    // create partition primary would take the largest free extent, the 20 GB
    // at the disk's end: 9 before anything changes.
    {"larger-free-elsewhere", 9, 0, kStageDisk},
};
constexpr MachineExpectation kInstallsEverywhere = {"", 0, 0, kStageEnd};

enum class Flow { Install, Uninstall };
enum class Event { None, Inject, Kill, ForeignLoader };

// The machine as the oracle expects it after a run.
enum class State {
    Installed,            // ANDROID and ASOS as the README describes them
    InstalledRawAndroid,  // the same with ANDROID left unformatted
    Original,             // as before the first install
    WithUser,             // as before, but the freed space a USER partition behind Windows
    Partial,              // only: nothing that is not the installer's changed
};

struct Scenario {
    const char* name;
    Flow flow;            // the flow the event hits
    Event event;
    const char* failure;  // Inject: `disksim fail` arguments
    int code;             // the README's exit code of that flow on a machine that installs
    Stage stage;          // Install: where the event strikes
    State after;          // the machine after that flow ended with `code`
    bool grows;           // Install: Windows still grows first
    const char* subset;   // in ./dev test: nullptr no, "*" every machine once, else that machine
    int codeWhereFreeBehind = -1;  // Install: the code instead where Windows had free space to grow into
};

// One row for every run of a command of `disksim fail` an install or an
// uninstall meets ("assign 1": the second assign), in the order the install
// runs them: the look into the EFI partition's boot folders (assign, remove),
// the extend, the shrink, the create script (assign EFI, create, format,
// assign ANDROID, shrink ANDROID, create, format, assign ASOS), the EFI
// letter's removal, hiding ASOS (gpt) and ANDROID (gpt, set id); the
// uninstall's two deletes, its extend, the EFI letter for the removal batch
// and its removal. A kill row stands for every kill point of its flow: the
// installer cut after each of its child runs, a power cycle, then an install
// and an uninstall.
constexpr Scenario kScenarios[] = {
    {"install, uninstall", Flow::Install, Event::None, nullptr, 0, kStageEnd, State::Installed, true, "*"},
    {"install beside another boot manager's \\loader", Flow::Install, Event::ForeignLoader, nullptr, 14,
     kStageBootFolders, State::Original, false, "recovery-last"},
    {"install, fail assign", Flow::Install, Event::Inject, "assign", 14, kStageBootFolders, State::Original, false,
     nullptr},
    // The letter the look gave the EFI partition goes with the one the copy
    // gives it, so the install ends as a clean one.
    {"install, fail remove", Flow::Install, Event::Inject, "remove", 0, kStageBootFolders, State::Installed, true,
     nullptr},
    // A failed extend is not the install's failure where nothing is free
    // behind Windows; where something is, ANDROID would take it: 9.
    {"install, fail extend", Flow::Install, Event::Inject, "extend", 0, kStageExtend, State::Installed, false,
     nullptr, 9},
    {"install, fail shrink", Flow::Install, Event::Inject, "shrink", 12, kStageShrink, State::Original, true,
     nullptr},
    {"install, fail assign 1", Flow::Install, Event::Inject, "assign 1", 9, kStageCreate, State::Original, true,
     nullptr},
    {"install, fail create", Flow::Install, Event::Inject, "create", 9, kStageCreate, State::Original, true, nullptr},
    // ASOS must be formatted, ANDROID need not be.
    {"install, fail format", Flow::Install, Event::Inject, "format", 0, kStageCreate, State::InstalledRawAndroid,
     true, nullptr},
    {"install, fail assign 2", Flow::Install, Event::Inject, "assign 2", 9, kStageCreate, State::Original, true,
     nullptr},
    {"install, fail shrink 1", Flow::Install, Event::Inject, "shrink 1", 9, kStageCreate, State::Original, true,
     nullptr},
    {"install, fail create 1", Flow::Install, Event::Inject, "create 1", 9, kStageCreate, State::Original, true,
     "recovery-last"},
    {"install, fail format 1", Flow::Install, Event::Inject, "format 1", 9, kStageCreate, State::Original, true,
     nullptr},
    {"install, fail assign 3", Flow::Install, Event::Inject, "assign 3", 9, kStageCreate, State::Original, true,
     nullptr},
    {"install, fail remove 1", Flow::Install, Event::Inject, "remove 1", 11, kStageHide, State::Original, true,
     nullptr},
    {"install, fail gpt", Flow::Install, Event::Inject, "gpt", 11, kStageHide, State::Original, true, nullptr},
    {"install, fail gpt 1", Flow::Install, Event::Inject, "gpt 1", 11, kStageHide, State::Original, true, nullptr},
    {"install, fail setid", Flow::Install, Event::Inject, "setid", 11, kStageHide, State::Original, true, nullptr},
    // A delete that fails leaves what is left for the next uninstall.
    {"uninstall, fail delete", Flow::Uninstall, Event::Inject, "delete", 10, kStageEnd, State::Installed, true,
     nullptr},
    {"uninstall, fail delete 1", Flow::Uninstall, Event::Inject, "delete 1", 10, kStageEnd, State::Partial, true,
     "recovery-last"},
    // A failed extend leaves the freed space to a USER partition.
    {"uninstall, fail extend", Flow::Uninstall, Event::Inject, "extend", 0, kStageEnd, State::WithUser, true,
     nullptr},
    {"uninstall, fail assign", Flow::Uninstall, Event::Inject, "assign", 15, kStageEnd, State::Partial, true,
     nullptr},
    {"uninstall, fail remove", Flow::Uninstall, Event::Inject, "remove", 11, kStageEnd, State::Partial, true,
     nullptr},
    {"install cut", Flow::Install, Event::Kill, nullptr, 0, kStageEnd, State::Partial, true, "recovery-last"},
    {"uninstall cut", Flow::Uninstall, Event::Kill, nullptr, 0, kStageEnd, State::Partial, true, nullptr},
};

constexpr uint64_t kShrinkMb = 12288;
constexpr uint64_t kAndroidMb = 10240;
constexpr uint64_t kAsosMb = 2048;
constexpr uint64_t kInstalledAttributes = disksim::kAttrHidden | disksim::kAttrPlatformRequired;
// Another boot manager's entry, in a folder the install's copy table uses.
constexpr const char* kForeignLoaderEntry = "loader/entries/linux.conf";
// A file of the machine's maker on the EFI partition, in every cell.
constexpr const char* kForeignEfiFile = "EFI/Vendor/fwupdate.efi";
// Where the copy table puts the payload's files on the EFI partition.
std::string EfiPlaceOf(const std::string& payloadFile)
{
    static const std::set<std::string> entries = {"androidboot.conf", "recovery.conf", "fastboot.conf", "tinyi.conf"};
    if (payloadFile.size() > 4 && payloadFile.ends_with(".efi"))
        return "efi/android/" + payloadFile;
    if (payloadFile == "loader.conf")
        return "loader/loader.conf";
    if (entries.count(payloadFile) != 0)
        return "loader/entries/" + payloadFile;
    return "";
}

// ---------------------------------------------------------------------------
// Child processes.

struct Settings {
    fs::path root;
    fs::path bin;
    fs::path templatePrefix;
    fs::path work;
    fs::path logs;
    std::vector<std::string> environment;
};
Settings g_settings;

std::mutex g_liveMutex;
std::set<std::string> g_livePrefixes;

struct Ran {
    int code = -1;
    std::string output;
};

// Runs argv with its output into `outputFile` (never a pipe: a wineserver or
// service started on the way may keep it open for minutes), in `directory`,
// with WINEPREFIX=prefix when given.
Ran Spawn(const std::vector<std::string>& argv, const std::string& prefix, const std::string& directory,
          const fs::path& outputFile)
{
    std::vector<std::string> environment = g_settings.environment;
    if (!prefix.empty())
        environment.push_back("WINEPREFIX=" + prefix);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& e : environment)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.empty() ? "/dev/null" : outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    Ran ran;
    if (started != 0)
        return ran;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!outputFile.empty()) {
        std::ifstream in(outputFile, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        ran.output = text.str();
        ran.output.erase(std::remove(ran.output.begin(), ran.output.end(), '\r'), ran.output.end());
    }
    return ran;
}

void StopPrefix(const fs::path& prefix)
{
    Spawn({"wineserver", "-k"}, prefix, "", "");
    Spawn({"wineserver", "-w"}, prefix, "", "");
}

bool StartPrefix(const fs::path& prefix)
{
    return Spawn({"wineserver", "-p600"}, prefix, "", "").code == 0;
}

// A stopped prefix copied as tests/wine/prefix.sh copies one.
bool CopyPrefix(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to);
    const std::string script = ". \"$1\" && obrin_copy_prefix \"$2\" \"$3\"";
    return Spawn({"bash", "-c", script, "bash", (g_settings.root / "tests/wine/prefix.sh").string(), from.string(),
                  to.string()},
                 "", "", "")
               .code == 0;
}

// ---------------------------------------------------------------------------
// What the oracle reads: the model and every partition's files but Windows'.

// Relative path (lower case, '/'; folders end with '/') -> content.
using Files = std::map<std::string, std::string>;

Files ReadFolder(const fs::path& folder)
{
    Files files;
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return files;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const std::string relative = obrin::FoldedText(fs::relative(it->path(), folder).generic_string());
        if (it->is_directory()) {
            files[relative + "/"] = "";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            std::ostringstream content;
            content << in.rdbuf();
            files[relative] = content.str();
        }
    }
    return files;
}

// A model folder (C:\disksim\vol5) in the prefix's drive_c.
fs::path HostFolder(const fs::path& prefix, const std::string& folder)
{
    std::string relative = folder.substr(3);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return prefix / "drive_c" / relative;
}

std::string KeyOf(const disksim::Disk& disk, const disksim::Partition& p)
{
    return std::to_string(disk.index) + "/" + (p.id.empty() ? "volume " + std::to_string(p.volumeId) : p.id);
}

struct Snapshot {
    disksim::Model model;
    std::map<std::string, Files> files;  // by KeyOf
    std::string error;
};

Snapshot ReadMachine(const fs::path& prefix)
{
    Snapshot snapshot;
    std::ifstream in(prefix / "drive_c/disksim/model.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in || !disksim::ParseModel(text.str(), snapshot.model, snapshot.error)) {
        snapshot.error = "the model cannot be read: " + snapshot.error;
        return snapshot;
    }
    for (const disksim::Disk& disk : snapshot.model.disks) {
        for (const disksim::Partition& p : disk.partitions) {
            if (p.folder != disksim::kSystemFolder)
                snapshot.files[KeyOf(disk, p)] = ReadFolder(HostFolder(prefix, p.folder));
        }
    }
    return snapshot;
}

Files ReadPayload(const fs::path& prefix)
{
    std::string folder(disksim::kPayloadFolder);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return ReadFolder(prefix / "drive_c" / folder);
}

// ---------------------------------------------------------------------------
// The oracle.

struct Located {
    const disksim::Disk* disk = nullptr;
    const disksim::Partition* partition = nullptr;
};

Located FindKey(const disksim::Model& model, const std::string& key)
{
    for (const disksim::Disk& disk : model.disks) {
        for (const disksim::Partition& p : disk.partitions) {
            if (KeyOf(disk, p) == key)
                return {&disk, &p};
        }
    }
    return {};
}

Located FindWindows(const disksim::Model& model)
{
    for (const disksim::Disk& disk : model.disks) {
        for (const disksim::Partition& p : disk.partitions) {
            if (p.folder == disksim::kSystemFolder)
                return {&disk, &p};
        }
    }
    return {};
}

// The install's first step extends Windows over free space of 1 MB or more
// directly behind it, up to the next partition: the one growth it may make.
uint64_t FreeBehindWindows(const disksim::Model& model)
{
    const Located windows = FindWindows(model);
    if (!windows.partition)
        return 0;
    for (const disksim::FreeExtent& free : disksim::UnpartitionedSpace(*windows.disk)) {
        if (free.offsetSectors == windows.partition->EndSector() && free.sizeSectors >= windows.disk->SectorsPerMb())
            return free.sizeSectors;
    }
    return 0;
}

std::string NameOf(const disksim::Disk& disk, const disksim::Partition& p, uint32_t systemDisk)
{
    std::string name = p.label.empty() ? disksim::TypeName(p.type) : p.label;
    return disk.index == systemDisk ? name : "disk " + std::to_string(disk.index) + " " + name;
}

// "7 sectors", "12288 MB" or "12288 MB + 7 sectors".
std::string Amount(const disksim::Disk& disk, uint64_t sectors)
{
    const uint64_t mb = sectors / disk.SectorsPerMb();
    const uint64_t rest = sectors % disk.SectorsPerMb();
    const std::string restText = std::to_string(rest) + (rest == 1 ? " sector" : " sectors");
    if (mb == 0)
        return restText;
    return std::to_string(mb) + " MB" + (rest ? " + " + restText : "");
}

std::string Difference(const disksim::Disk& disk, uint64_t actual, uint64_t expected, const char* more,
                       const char* less)
{
    return actual > expected ? Amount(disk, actual - expected) + " " + more : Amount(disk, expected - actual) + " " + less;
}

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Path(const std::string& relative)
{
    std::string path = "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Files that differ from `expected`; with `keepOnly`, only files of
// `expected` that are gone or changed count.
void CompareFiles(const std::string& name, const Files& expected, const Files& actual, bool keepOnly,
                  std::vector<std::string>& problems)
{
    std::vector<std::string> found;
    for (const auto& [path, content] : expected) {
        auto it = actual.find(path);
        if (it == actual.end())
            found.push_back(Path(path) + " deleted");
        else if (it->second != content)
            found.push_back(Path(path) + " changed");
    }
    if (!keepOnly) {
        for (const auto& [path, content] : actual) {
            if (expected.count(path) == 0)
                found.push_back(Path(path) + " left behind");
        }
    }
    if (found.empty())
        return;
    std::string text = name + ": " + found.front();
    if (found.size() > 1)
        text += " (and " + std::to_string(found.size() - 1) + " more)";
    problems.push_back(text);
}

struct Expectation {
    State state;
    bool grown;  // Windows has taken the free space that lay directly behind it
};

class Oracle {
public:
    Oracle(const Snapshot& before, const Files& payload) : m_before(before), m_payload(payload)
    {
        const Located windows = FindWindows(before.model);
        m_disk = windows.disk;
        m_windows = windows.partition;
        if (!m_windows)
            return;
        m_windowsKey = KeyOf(*m_disk, *m_windows);
        m_growth = FreeBehindWindows(before.model);
    }

    // Everything that breaks the expectation in `after`.
    std::vector<std::string> Check(const Snapshot& after, const Expectation& expected) const
    {
        std::vector<std::string> problems;
        if (!m_windows)
            return {"the machine has no Windows partition"};
        if (!after.error.empty())
            return {after.error};
        CheckDisks(after, problems);
        CheckForeignPartitions(after, expected, problems);
        CheckNewPartitions(after, expected, problems);
        CheckFiles(after, expected, problems);
        return problems;
    }

private:
    uint64_t ExpectedWindowsSize(bool grown, bool shrunk) const
    {
        return m_windows->sizeSectors + (grown ? m_growth : 0) - (shrunk ? kShrinkMb * m_disk->SectorsPerMb() : 0);
    }

    void CheckDisks(const Snapshot& after, std::vector<std::string>& problems) const
    {
        for (const disksim::Disk& disk : m_before.model.disks) {
            const disksim::Disk* now = after.model.FindDisk(disk.index);
            if (!now) {
                problems.push_back("disk " + std::to_string(disk.index) + " gone");
            } else if (now->style != disk.style || now->id != disk.id || now->signature != disk.signature ||
                       now->sizeSectors != disk.sizeSectors || now->bytesPerSector != disk.bytesPerSector ||
                       now->removable != disk.removable) {
                problems.push_back("disk " + std::to_string(disk.index) + " changed its style, identity or size");
            }
        }
        if (after.model.disks.size() != m_before.model.disks.size())
            problems.push_back("the machine has " + std::to_string(after.model.disks.size()) + " disks");
    }

    void CheckForeignPartitions(const Snapshot& after, const Expectation& expected,
                                std::vector<std::string>& problems) const
    {
        std::vector<std::string> changes;
        for (const disksim::Disk& disk : m_before.model.disks) {
            for (const disksim::Partition& was : disk.partitions) {
                const std::string name = NameOf(disk, was, m_disk->index);
                const Located now = FindKey(after.model, KeyOf(disk, was));
                if (now.partition)
                    ComparePartition(disk, name, was, *now.partition, expected, changes);
                else
                    problems.push_back(name + " deleted");
            }
        }
        problems.insert(problems.end(), changes.begin(), changes.end());
    }

    // Every partition's files but Windows': as before, the EFI partition's
    // with the copy table's when installed.
    void CheckFiles(const Snapshot& after, const Expectation& expected, std::vector<std::string>& problems) const
    {
        for (const disksim::Disk& disk : m_before.model.disks) {
            for (const disksim::Partition& was : disk.partitions) {
                const std::string key = KeyOf(disk, was);
                const auto now = after.files.find(key);
                if (key == m_windowsKey || now == after.files.end())
                    continue;
                const std::string name = NameOf(disk, was, m_disk->index);
                const Files& before = m_before.files.at(key);
                if (was.type == disksim::kTypeEfi && disk.index == m_disk->index)
                    CompareFiles(name, ExpectedEfiFiles(before, expected.state), now->second,
                                 expected.state == State::Partial, problems);
                else
                    CompareFiles(name, before, now->second, false, problems);
            }
        }
    }

    void ComparePartition(const disksim::Disk& disk, const std::string& name, const disksim::Partition& was,
                          const disksim::Partition& now, const Expectation& expected,
                          std::vector<std::string>& problems) const
    {
        if (now.offsetSectors != was.offsetSectors)
            problems.push_back(name + " moved " + Difference(disk, now.offsetSectors, was.offsetSectors, "on", "back"));
        if (&was == m_windows)
            CheckWindowsSize(disk, now, expected, problems);
        else if (now.sizeSectors != was.sizeSectors)
            problems.push_back(name + " " + Difference(disk, now.sizeSectors, was.sizeSectors, "larger", "smaller"));
        if (now.type != was.type)
            problems.push_back(name + " retyped to " + disksim::TypeName(now.type));
        if (now.label != was.label)
            problems.push_back(name + " relabelled \"" + now.label + "\"");
        if ((now.attributes ^ was.attributes) & disksim::kAttrHidden)
            problems.push_back(name + ((now.attributes & disksim::kAttrHidden) ? " hidden" : " unhidden"));
        else if (now.attributes != was.attributes)
            problems.push_back(name + " attributes " + Hex(now.attributes));
        if (now.active != was.active)
            problems.push_back(name + (now.active ? " made active" : " made inactive"));
        if (now.fileSystem != was.fileSystem || now.volumeId != was.volumeId || now.folder != was.folder)
            problems.push_back(name + " formatted");
        // A cut may leave the letter the installer gave the EFI partition for
        // a while: the next run takes it away.
        const bool lettered = expected.state == State::Partial && was.type == disksim::kTypeEfi;
        if (now.letter != was.letter && !lettered)
            problems.push_back(name + (now.letter ? std::string(" has letter ") + now.letter + ":" : " lost its letter"));
    }

    void CheckWindowsSize(const disksim::Disk& disk, const disksim::Partition& now, const Expectation& expected,
                          std::vector<std::string>& problems) const
    {
        if (expected.state == State::Partial) {
            for (bool grown : {false, true}) {
                for (bool shrunk : {false, true}) {
                    if (now.sizeSectors == ExpectedWindowsSize(grown, shrunk))
                        return;
                }
            }
            problems.push_back("Windows " + Amount(disk, now.sizeSectors) + ", neither its size nor shrunk by " +
                               std::to_string(kShrinkMb) + " MB");
            return;
        }
        const bool shrunk = expected.state != State::Original;
        const uint64_t size = ExpectedWindowsSize(expected.grown, shrunk);
        if (now.sizeSectors != size)
            problems.push_back("Windows " + Difference(disk, now.sizeSectors, size, "larger", "smaller"));
    }

    // The EFI partition's files: those of before, and the copy table's when
    // installed (Partial: those of before must stay).
    Files ExpectedEfiFiles(const Files& before, State state) const
    {
        Files expected = before;
        if (state != State::Installed && state != State::InstalledRawAndroid)
            return expected;
        for (const auto& [file, content] : m_payload) {
            const std::string place = EfiPlaceOf(file);
            if (place.empty())
                continue;
            expected[place] = content;
            for (size_t slash = place.find('/'); slash != std::string::npos; slash = place.find('/', slash + 1))
                expected[place.substr(0, slash + 1)] = "";
        }
        return expected;
    }

    void CheckNewPartitions(const Snapshot& after, const Expectation& expected,
                            std::vector<std::string>& problems) const
    {
        for (const disksim::Disk& disk : after.model.disks) {
            std::vector<size_t> fresh;
            for (size_t i = 0; i < disk.partitions.size(); ++i) {
                if (!FindKey(m_before.model, KeyOf(disk, disk.partitions[i])).partition)
                    fresh.push_back(i);
            }
            if (disk.index != m_disk->index) {
                if (!fresh.empty())
                    problems.push_back("a new partition on disk " + std::to_string(disk.index));
                continue;
            }
            switch (expected.state) {
            case State::Installed:
            case State::InstalledRawAndroid:
                CheckInstallation(after, disk, fresh, expected.state == State::InstalledRawAndroid, problems);
                break;
            case State::WithUser:
                CheckUserPartition(disk, fresh, problems);
                break;
            case State::Original:
                for (size_t i : fresh) {
                    const disksim::Partition& p = disk.partitions[i];
                    problems.push_back("a new partition " + (p.label.empty() ? disksim::TypeName(p.type) : p.label) +
                                       " (" + Amount(disk, p.sizeSectors) + ") left behind");
                }
                break;
            case State::Partial:
                break;
            }
        }
    }

    size_t WindowsIndex(const disksim::Disk& disk) const
    {
        for (size_t i = 0; i < disk.partitions.size(); ++i) {
            if (KeyOf(disk, disk.partitions[i]) == m_windowsKey)
                return i;
        }
        return disk.partitions.size();
    }

    // Directly behind: the next partition on the disk, less than 1 MiB after.
    static void CheckDirectlyBehind(const disksim::Disk& disk, size_t front, size_t behind, const std::string& name,
                                    const std::string& frontName, std::vector<std::string>& problems)
    {
        const uint64_t gap = disk.partitions[behind].offsetSectors - disk.partitions[front].EndSector();
        if (behind != front + 1)
            problems.push_back(name + " not directly behind " + frontName);
        else if (disk.Bytes(gap) >= disksim::kBytesPerMb)
            problems.push_back(name + " " + Amount(disk, gap) + " behind " + frontName);
    }

    void CheckMadePartition(const disksim::Disk& disk, const disksim::Partition& p, const std::string& name,
                            std::string_view type, uint64_t sizeMb, bool formatted,
                            std::vector<std::string>& problems) const
    {
        if (p.type != type)
            problems.push_back(name + " of type " + disksim::TypeName(p.type));
        if (p.sizeSectors != sizeMb * disk.SectorsPerMb())
            problems.push_back(name + " " + Amount(disk, p.sizeSectors) + ", not " + std::to_string(sizeMb) + " MB");
        if (p.attributes != kInstalledAttributes)
            problems.push_back(name + " attributes " + Hex(p.attributes));
        if (formatted && (p.label != name || p.fileSystem != "NTFS"))
            problems.push_back(name + " formatted as " + (p.fileSystem.empty() ? "nothing" : p.fileSystem) +
                               " labelled \"" + p.label + "\"");
        if (p.letter)
            problems.push_back(name + " keeps letter " + std::string(1, p.letter) + ":");
    }

    void CheckInstallation(const Snapshot& after, const disksim::Disk& disk, const std::vector<size_t>& fresh,
                           bool rawAndroid, std::vector<std::string>& problems) const
    {
        const size_t windows = WindowsIndex(disk);
        if (fresh.size() != 2 || windows == disk.partitions.size()) {
            problems.push_back(std::to_string(fresh.size()) + " new partitions, not ANDROID and ASOS");
            return;
        }
        const disksim::Partition& android = disk.partitions[fresh[0]];
        const disksim::Partition& asos = disk.partitions[fresh[1]];
        CheckDirectlyBehind(disk, windows, fresh[0], "ANDROID", "Windows", problems);
        CheckDirectlyBehind(disk, fresh[0], fresh[1], "ASOS", "ANDROID", problems);
        CheckMadePartition(disk, android, "ANDROID", disksim::kTypeAndroid, kAndroidMb, !rawAndroid, problems);
        CheckMadePartition(disk, asos, "ASOS", disksim::kTypeBasicData, kAsosMb, true, problems);
        const auto files = after.files.find(KeyOf(disk, asos));
        CompareFiles("ASOS", m_payload, files == after.files.end() ? Files() : files->second, false, problems);
    }

    void CheckUserPartition(const disksim::Disk& disk, const std::vector<size_t>& fresh,
                            std::vector<std::string>& problems) const
    {
        const size_t windows = WindowsIndex(disk);
        if (fresh.size() != 1 || windows == disk.partitions.size() || disk.partitions[fresh[0]].label != "USER") {
            problems.push_back(std::to_string(fresh.size()) + " new partitions, not one USER partition");
            return;
        }
        CheckDirectlyBehind(disk, windows, fresh[0], "USER", "Windows", problems);
        // It takes the freed space: what lies behind it is not a megabyte.
        const disksim::Partition& user = disk.partitions[fresh[0]];
        const uint64_t end = fresh[0] + 1 < disk.partitions.size() ? disk.partitions[fresh[0] + 1].offsetSectors
                                                                   : disk.UsableEndSector();
        if (disk.Bytes(end - user.EndSector()) >= disksim::kBytesPerMb)
            problems.push_back("USER leaves " + Amount(disk, end - user.EndSector()) + " free behind it");
        if (user.type != disksim::kTypeBasicData)
            problems.push_back("USER of type " + disksim::TypeName(user.type));
    }

    const Snapshot& m_before;
    const Files& m_payload;
    const disksim::Disk* m_disk = nullptr;
    const disksim::Partition* m_windows = nullptr;
    std::string m_windowsKey;
    uint64_t m_growth = 0;
};

// ---------------------------------------------------------------------------
// Cells.

struct Combo {
    size_t order = 0;
    std::string machine;
    std::string numbering;
    MachineExpectation expect;
    fs::path original;   // stopped prefix of the prepared machine
    fs::path installed;  // stopped prefix after a clean install (empty when the install fails there)
    Snapshot before;
    Files payload;
    unsigned installRuns = 0;  // child runs of a whole install and uninstall
    unsigned uninstallRuns = 0;
};

struct Result {
    size_t comboOrder;
    size_t scenario;
    unsigned point;
    std::string machine, numbering, name;
    std::vector<std::string> problems;
};

std::mutex g_resultsMutex;
std::vector<Result> g_results;

const char* FlowOption(Flow flow)
{
    return flow == Flow::Install ? "-install-dualos" : "-uninstall-dualos";
}
const char* FlowName(Flow flow)
{
    return flow == Flow::Install ? "install" : "uninstall";
}

// One cell's prefix and transcript.
class CellRun {
public:
    CellRun(const Combo& combo, std::string name) : m_combo(combo), m_name(std::move(name)) {}
    ~CellRun()
    {
        if (m_prefix.empty())
            return;
        StopPrefix(m_prefix);
        {
            std::lock_guard<std::mutex> lock(g_liveMutex);
            g_livePrefixes.erase(m_prefix.string());
        }
        std::error_code ignored;
        fs::remove_all(m_prefix, ignored);
    }

    // A copy of the stopped prefix `from`, started; from the template, with
    // the bin folder's programs in C:\obrin\ and the service program where
    // a setup tool puts it.
    bool Start(const fs::path& from)
    {
        m_prefix = g_settings.work / Slug(m_combo.machine + "-" + m_combo.numbering + "-" + m_name);
        {
            std::lock_guard<std::mutex> lock(g_liveMutex);
            g_livePrefixes.insert(m_prefix.string());
        }
        if (!CopyPrefix(from, m_prefix))
            return Problem("the prefix could not be copied");
        if (from == g_settings.templatePrefix) {
            const fs::path programs = m_prefix / "drive_c/obrin";
            const fs::path service = m_prefix / "drive_c/Program Files/Vantrel/VantrelObrin";
            fs::create_directories(programs);
            fs::create_directories(service);
            for (const fs::directory_entry& file : fs::directory_iterator(g_settings.bin)) {
                if (file.is_regular_file())
                    fs::copy_file(file.path(), programs / file.path().filename());
            }
            fs::copy_file(g_settings.bin / "ObrinService.exe", service / "ObrinService.exe");
        }
        if (!StartPrefix(m_prefix))
            return Problem("the prefix could not be started");
        return true;
    }

    // Keeps the prefix as it is now as the stopped prefix `copy`.
    bool KeepAs(const fs::path& copy)
    {
        StopPrefix(m_prefix);
        if (CopyPrefix(m_prefix, copy) && StartPrefix(m_prefix))
            return true;
        return Problem("the machine could not be kept as " + copy.filename().string());
    }

    const fs::path& Prefix() const { return m_prefix; }

    // Runs a program of C:\obrin\ there, bounded.
    Ran Wine(const std::vector<std::string>& arguments, int seconds = 300)
    {
        std::vector<std::string> argv = {"timeout", "-k", "5", std::to_string(seconds), "wine",
                                         "C:\\obrin\\" + arguments.front()};
        argv.insert(argv.end(), arguments.begin() + 1, arguments.end());
        Ran ran = Spawn(argv, m_prefix.string(), (m_prefix / "drive_c/obrin").string(), m_prefix / "output.txt");
        m_transcript += "$ ";
        for (const std::string& a : arguments)
            m_transcript += a + " ";
        m_transcript += "-> " + std::to_string(ran.code) + "\n";
        return ran;
    }

    bool Must(const std::vector<std::string>& arguments)
    {
        const Ran ran = Wine(arguments);
        if (ran.code == 0)
            return true;
        std::string command;
        for (const std::string& a : arguments)
            command += (command.empty() ? "" : " ") + a;
        return Problem(command + " exited " + std::to_string(ran.code));
    }

    void PowerCycle()
    {
        StopPrefix(m_prefix);
        if (!StartPrefix(m_prefix))
            Problem("the prefix did not start again");
        m_transcript += "(power cycle)\n";
    }

    // Runs the installer (through installer_probe kill 999 when the child
    // runs are to be counted) and checks its exit code and the machine.
    void Installer(const char* option, int expectedCode, const std::string& step, unsigned* childRuns = nullptr)
    {
        const size_t logged = LogSize();
        int code = -1;
        if (childRuns) {
            const Ran ran = Wine({"installer_probe.exe", "kill", "999", "ObrinInstaller.exe", option});
            unsigned runs = 0;
            if (std::sscanf(ran.output.c_str(), "ended by itself after %u child runs, exit code %d", &runs, &code) == 2)
                *childRuns = runs;
        } else {
            code = Wine({"ObrinInstaller.exe", option}).code;
        }
        m_transcript += InstallerLog(logged);
        if (code != expectedCode)
            Problem(step + " exited " + std::to_string(code) + ", README: " + std::to_string(expectedCode));
    }

    void Expect(const Oracle& oracle, const Expectation& expected, const std::string& step)
    {
        const Snapshot now = ReadMachine(m_prefix);
        m_transcript += "layout after " + step + ":\n" + (now.error.empty() ? disksim::LayoutTable(now.model) : now.error);
        for (const std::string& problem : oracle.Check(now, expected))
            Problem("after " + step + ": " + problem);
    }

    bool Problem(const std::string& text)
    {
        m_problems.push_back(text);
        m_transcript += "PROBLEM " + text + "\n";
        return false;
    }

    bool Failed() const { return !m_problems.empty(); }
    const std::vector<std::string>& Problems() const { return m_problems; }
    const std::string& Transcript() const { return m_transcript; }
    std::string LogName() const { return Slug(m_combo.machine + "-" + m_combo.numbering + "-" + m_name) + ".log"; }

private:
    static std::string Slug(const std::string& text)
    {
        std::string slug;
        for (char c : text) {
            if (std::isalnum(static_cast<unsigned char>(c)))
                slug += c;
            else if (!slug.empty() && slug.back() != '-')
                slug += '-';
        }
        return slug;
    }

    fs::path LogPath() const { return m_prefix / "drive_c/obrin/DUALOSLOG.log"; }

    size_t LogSize() const
    {
        std::error_code error;
        const auto size = fs::file_size(LogPath(), error);
        return error ? 0 : size;
    }

    std::string InstallerLog(size_t from) const
    {
        std::ifstream in(LogPath(), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(from));
        std::string text, line;
        while (std::getline(in, line)) {
            line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
            text += "    " + line + "\n";
        }
        return text;
    }

    const Combo& m_combo;
    std::string m_name;
    fs::path m_prefix;
    std::vector<std::string> m_problems;
    std::string m_transcript;
};

void Record(const Combo& combo, size_t scenario, unsigned point, const std::string& name, const CellRun& run)
{
    if (run.Failed()) {
        std::ofstream log(g_settings.logs / run.LogName(), std::ios::binary);
        log << run.Transcript();
    }
    std::lock_guard<std::mutex> lock(g_resultsMutex);
    g_results.push_back({combo.order, scenario, point, combo.machine, combo.numbering, name, run.Problems()});
    std::fprintf(stderr, "%s %s %s: %s\n", combo.machine.c_str(), combo.numbering.c_str(), name.c_str(),
                 run.Failed() ? "FAIL" : "pass");
}

// What the install of a scenario ends with on the combo's machine: a machine
// that stops the install earlier than the event answers for it.
struct InstallOutcome {
    int code;
    State after;
    bool grown;
};

// The machine stops the install before the scenario's event could strike.
bool MachineStopsFirst(const Scenario& s, const Combo& combo)
{
    return combo.expect.install != 0 && (s.code == 0 || s.stage > combo.expect.stops);
}

InstallOutcome InstallOutcomeOf(const Scenario& s, const Combo& combo)
{
    const MachineExpectation& machine = combo.expect;
    const bool machineFirst = MachineStopsFirst(s, combo);
    const bool grown = s.grows && (machine.install == 0 || machine.stops > kStageExtend);
    if (machineFirst)
        return {machine.install, State::Original, grown};
    if (s.codeWhereFreeBehind >= 0 && FreeBehindWindows(combo.before.model) != 0)
        return {s.codeWhereFreeBehind, State::Original, false};
    return {s.code, s.after, grown};
}

bool Installs(State state)
{
    return state == State::Installed || state == State::InstalledRawAndroid;
}

// An install and an uninstall on the combo's machine after a cut: the
// machine installed, then as it was.
void InstallAndUninstall(CellRun& run, const Oracle& oracle, const Combo& combo)
{
    const InstallOutcome outcome = InstallOutcomeOf(kScenarios[0], combo);
    run.Installer("-install-dualos", outcome.code, "install");
    run.Expect(oracle, {outcome.after, outcome.grown}, "install");
    run.Installer("-uninstall-dualos", combo.expect.uninstall, "uninstall");
    run.Expect(oracle, {State::Original, outcome.grown || Installs(outcome.after)}, "uninstall");
}

// An injected failure, or another boot manager's entry, then the flow, then
// an uninstall that must leave the machine as it was.
void RunEventCell(const Combo& combo, size_t index)
{
    const Scenario& s = kScenarios[index];
    CellRun run(combo, s.name);
    const bool fromInstalled = s.flow == Flow::Uninstall;
    if (run.Start(fromInstalled ? combo.installed : combo.original)) {
        Snapshot before = combo.before;
        if (s.event == Event::ForeignLoader) {
            const Located windows = FindWindows(before.model);
            const auto efi = std::find_if(windows.disk->partitions.begin(), windows.disk->partitions.end(),
                                          [](const disksim::Partition& p) { return p.type == disksim::kTypeEfi; });
            if (efi != windows.disk->partitions.end()) {
                const fs::path entry = HostFolder(run.Prefix(), efi->folder) / kForeignLoaderEntry;
                fs::create_directories(entry.parent_path());
                std::ofstream(entry, std::ios::binary) << "title Another system\r\nlinux /vmlinuz\r\n";
            }
            before = ReadMachine(run.Prefix());
        }
        const Oracle oracle(before, combo.payload);
        std::vector<std::string> inject = {"disksim.exe", "fail"};
        std::istringstream words(s.failure ? s.failure : "");
        for (std::string word; words >> word;)
            inject.push_back(word);
        if (s.event != Event::Inject || run.Must(inject)) {
            if (s.flow == Flow::Install) {
                const InstallOutcome outcome = InstallOutcomeOf(s, combo);
                run.Installer("-install-dualos", outcome.code, "install");
                run.Expect(oracle, {outcome.after, outcome.grown}, "install");
                // An uninstall extends Windows over what it removed.
                run.Installer("-uninstall-dualos", combo.expect.uninstall, "uninstall");
                run.Expect(oracle, {State::Original, outcome.grown || Installs(outcome.after)}, "uninstall");
            } else {
                run.Installer("-uninstall-dualos", s.code, "uninstall");
                run.Expect(oracle, {s.after, true}, "uninstall");
                // The next uninstall finishes what was left, and keeps a USER partition.
                const State left = s.after == State::WithUser ? State::WithUser : State::Original;
                run.Installer("-uninstall-dualos", 0, "next uninstall");
                run.Expect(oracle, {left, true}, "next uninstall");
            }
        }
    }
    Record(combo, index, 0, s.name, run);
}

// The flow cut after child run `point`, a power cycle, then an install and
// an uninstall.
void RunKillCell(const Combo& combo, size_t index, unsigned point)
{
    const Scenario& s = kScenarios[index];
    const std::string name = std::string(FlowName(s.flow)) + " cut after child run " + std::to_string(point);
    CellRun run(combo, name);
    const bool fromInstalled = s.flow == Flow::Uninstall && !combo.installed.empty();
    if (run.Start(fromInstalled ? combo.installed : combo.original)) {
        const Oracle oracle(combo.before, combo.payload);
        const Ran cut = run.Wine({"installer_probe.exe", "kill", std::to_string(point), "ObrinInstaller.exe",
                                  FlowOption(s.flow)});
        if (cut.output.rfind("ended after child run", 0) != 0) {
            run.Problem("not cut: " + cut.output.substr(0, cut.output.find('\n')));
        } else {
            run.PowerCycle();
            run.Expect(oracle, {State::Partial, true}, "the cut");
            InstallAndUninstall(run, oracle, combo);
        }
    }
    Record(combo, index, point, name, run);
}

struct Selection {
    bool subset = false;
    std::set<std::string> machines;
    std::string numbering;
    std::string scenario;
};

class Pool {
public:
    void Add(std::function<void()> task)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(task));
        ++m_pending;
        m_ready.notify_one();
    }

    void Run(unsigned workers)
    {
        std::vector<std::thread> threads;
        for (unsigned i = 0; i < workers; ++i)
            threads.emplace_back([this] { Work(); });
        for (std::thread& t : threads)
            t.join();
    }

private:
    void Work()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [this] { return !m_queue.empty() || m_pending == 0; });
                if (m_queue.empty())
                    return;
                task = std::move(m_queue.front());
                m_queue.pop_front();
            }
            task();
            std::lock_guard<std::mutex> lock(m_mutex);
            if (--m_pending == 0)
                m_ready.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_queue;
    size_t m_pending = 0;
};

bool InSubset(const Scenario& s, const Combo& combo, const Selection& selection, size_t machineIndex)
{
    if (!selection.subset)
        return true;
    // Each machine once, the numbering rules taking turns.
    const std::string rule = machineIndex % 2 == 1 ? "disk-order" : "stable";
    if (!s.subset || combo.numbering != rule)
        return false;
    return std::string_view(s.subset) == "*" || combo.machine == s.subset;
}

bool Chosen(const Scenario& s, const Selection& selection)
{
    return selection.scenario.empty() || std::string(s.name).find(selection.scenario) != std::string::npos;
}

// Prepares the combo's machine, runs its install and uninstall, keeps the
// prepared and the installed machine as stopped prefixes and queues the
// combo's other cells.
void RunCombo(Combo& combo, size_t machineIndex, const Selection& selection, Pool& pool)
{
    const Scenario& s = kScenarios[0];
    CellRun run(combo, s.name);
    bool ready = run.Start(g_settings.templatePrefix);
    for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
             {"firmsim.exe", "install"},
             {"disksim.exe", "init", combo.machine},
             {"disksim.exe", "numbering", combo.numbering},
             {"disksim.exe", "install-tools"}}) {
        ready = ready && run.Must(step);
    }
    if (ready) {
        const Snapshot prepared = ReadMachine(run.Prefix());
        for (const disksim::Disk& disk : prepared.model.disks) {
            for (const disksim::Partition& p : disk.partitions) {
                if (p.type != disksim::kTypeEfi)
                    continue;
                const fs::path file = HostFolder(run.Prefix(), p.folder) / kForeignEfiFile;
                fs::create_directories(file.parent_path());
                std::ofstream(file, std::ios::binary) << "the maker's firmware update\r\n";
            }
        }
        combo.before = ReadMachine(run.Prefix());
        combo.payload = ReadPayload(run.Prefix());
        combo.original = g_settings.work / ("original-" + combo.machine + "-" + combo.numbering);
        ready = combo.before.error.empty() && run.KeepAs(combo.original);
    }
    if (ready) {
        const Oracle oracle(combo.before, combo.payload);
        const InstallOutcome outcome = InstallOutcomeOf(s, combo);
        run.Installer("-install-dualos", outcome.code, "install", &combo.installRuns);
        run.Expect(oracle, {outcome.after, outcome.grown}, "install");
        run.Installer("-check-dualos", Installs(outcome.after) ? 0 : 19, "check");
        if (Installs(outcome.after)) {
            // The installed machine, kept through a power cycle.
            const fs::path installed = g_settings.work / ("installed-" + combo.machine + "-" + combo.numbering);
            if (run.KeepAs(installed))
                combo.installed = installed;
        }
        run.Installer("-uninstall-dualos", combo.expect.uninstall, "uninstall", &combo.uninstallRuns);
        run.Expect(oracle, {State::Original, outcome.grown || Installs(outcome.after)}, "uninstall");
        run.Installer("-check-dualos", 19, "check after uninstall");
    }
    Record(combo, 0, 0, s.name, run);
    if (combo.original.empty())
        return;
    for (size_t i = 1; i < std::size(kScenarios); ++i) {
        const Scenario& row = kScenarios[i];
        if (!InSubset(row, combo, selection, machineIndex) || !Chosen(row, selection))
            continue;
        // Uninstall injections need an installation to remove.
        if (row.flow == Flow::Uninstall && row.event == Event::Inject && combo.installed.empty())
            continue;
        // A failure of a step the install never reaches would stay armed
        // and strike the uninstall instead.
        if (row.flow == Flow::Install && row.event == Event::Inject && MachineStopsFirst(row, combo))
            continue;
        if (row.event != Event::Kill) {
            pool.Add([&combo, i] { RunEventCell(combo, i); });
            continue;
        }
        const unsigned runs = row.flow == Flow::Install ? combo.installRuns : combo.uninstallRuns;
        for (unsigned point = 1; point <= runs; ++point) {
            if (selection.subset && point != (runs + 1) / 2)
                continue;
            pool.Add([&combo, i, point] { RunKillCell(combo, i, point); });
        }
    }
}

void PrintTable(std::chrono::steady_clock::duration took)
{
    std::sort(g_results.begin(), g_results.end(), [](const Result& a, const Result& b) {
        return std::tie(a.comboOrder, a.scenario, a.point) < std::tie(b.comboOrder, b.scenario, b.point);
    });
    size_t widths[3] = {7, 9, 8};
    for (const Result& r : g_results) {
        widths[0] = std::max(widths[0], r.machine.size());
        widths[1] = std::max(widths[1], r.numbering.size());
        widths[2] = std::max(widths[2], r.name.size());
    }
    const auto row = [&](const std::string& machine, const std::string& numbering, const std::string& name,
                         const std::string& outcome, const std::string& why) {
        std::printf("%-*s  %-*s  %-*s  %-7s %s\n", static_cast<int>(widths[0]), machine.c_str(),
                    static_cast<int>(widths[1]), numbering.c_str(), static_cast<int>(widths[2]), name.c_str(),
                    outcome.c_str(), why.c_str());
    };
    row("Machine", "Numbering", "Scenario", "Outcome", "What broke");
    size_t failed = 0;
    for (const Result& r : g_results) {
        std::string why;
        for (size_t i = 0; i < r.problems.size() && i < 3; ++i)
            why += (i ? "; " : "") + r.problems[i];
        if (r.problems.size() > 3)
            why += " (and " + std::to_string(r.problems.size() - 3) + " more)";
        failed += r.problems.empty() ? 0 : 1;
        row(r.machine, r.numbering, r.name, r.problems.empty() ? "pass" : "FAIL", why);
    }
    const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(took).count());
    std::printf("%zu cells, %zu failed; total time %ldh %02ldm %02lds\n", g_results.size(), failed, seconds / 3600,
                seconds / 60 % 60, seconds % 60);
    if (failed)
        std::printf("transcripts of the failed cells: %s\n", g_settings.logs.c_str());
}

// Ends the running prefixes' servers and removes the work folder on an
// interrupt, so that nothing of the run stays behind.
void WatchInterrupts(sigset_t signals)
{
    std::thread([signals] {
        int received = 0;
        sigwait(&signals, &received);
        std::set<std::string> live;
        {
            std::lock_guard<std::mutex> lock(g_liveMutex);
            live = g_livePrefixes;
        }
        for (const std::string& prefix : live)
            Spawn({"wineserver", "-k"}, prefix, "", "");
        std::error_code ignored;
        fs::remove_all(g_settings.work, ignored);
        std::_Exit(130);
    }).detach();
}

int Usage()
{
    std::fputs("usage: safety_matrix ROOT [--subset] [--machine NAME]... [--numbering stable|disk-order] "
               "[--scenario TEXT]\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    Selection selection;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--subset")
            selection.subset = true;
        else if (option == "--machine" && i + 1 < argc)
            selection.machines.insert(argv[++i]);
        else if (option == "--numbering" && i + 1 < argc)
            selection.numbering = argv[++i];
        else if (option == "--scenario" && i + 1 < argc)
            selection.scenario = argv[++i];
        else
            return Usage();
    }
    const auto started = std::chrono::steady_clock::now();
    g_settings.root = fs::absolute(argv[1]);
    const char* bin = std::getenv("OBRIN_BIN_DIR");
    g_settings.bin = bin ? fs::path(bin) : g_settings.root / "build/win32/bin";
    const char* templatePrefix = std::getenv("OBRIN_WINE_TEMPLATE");
    g_settings.templatePrefix = templatePrefix ? fs::path(templatePrefix) : g_settings.root / "build/wine-template";
    g_settings.logs = g_settings.root / "build/safety-logs";
    for (char** e = environ; *e; ++e)
        g_settings.environment.push_back(*e);
    for (const char* setting : {"WINEARCH=win32", "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"})
        g_settings.environment.push_back(setting);
    const char* jobsText = std::getenv("OBRIN_SAFETY_JOBS");
    const unsigned jobs = jobsText && std::atoi(jobsText) > 0 ? static_cast<unsigned>(std::atoi(jobsText)) : 4;

    for (const char* program : {"ObrinInstaller.exe", "ObrinService.exe", "installer_probe.exe", "disksim.exe",
                                "diskpart.exe", "firmsim.exe"}) {
        if (!fs::exists(g_settings.bin / program)) {
            std::fprintf(stderr, "missing %s\n", (g_settings.bin / program).c_str());
            return 1;
        }
    }
    if (Spawn({(g_settings.root / "tests/wine/template").string(), g_settings.templatePrefix.string()}, "", "", "")
            .code != 0) {
        std::fputs("the Wine prefix template could not be made\n", stderr);
        return 1;
    }
    std::error_code ignored;
    fs::remove_all(g_settings.logs, ignored);
    fs::create_directories(g_settings.logs);
    fs::create_directories(g_settings.root / "build/wine-prefixes");
    std::string work = (g_settings.root / "build/wine-prefixes/safety.XXXXXX").string();
    if (!mkdtemp(work.data()))
        return 1;
    g_settings.work = work;

    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    WatchInterrupts(signals);

    // Every machine disksim makes, under both numbering rules.
    std::vector<std::unique_ptr<Combo>> combos;
    Pool pool;
    const std::vector<std::string_view> machines = disksim::MachineVariantNames();
    for (size_t m = 0; m < machines.size(); ++m) {
        const std::string machine(machines[m]);
        if (!selection.machines.empty() && selection.machines.count(machine) == 0)
            continue;
        for (disksim::NumberingRule rule : {disksim::NumberingRule::DiskOrder, disksim::NumberingRule::Stable}) {
            auto combo = std::make_unique<Combo>();
            combo->order = combos.size();
            combo->machine = machine;
            combo->numbering = std::string(disksim::NumberingName(rule));
            combo->expect = kInstallsEverywhere;
            for (const MachineExpectation& exception : kMachineExceptions) {
                if (exception.machine == machine)
                    combo->expect = exception;
            }
            if ((!selection.numbering.empty() && combo->numbering != selection.numbering) ||
                !InSubset(kScenarios[0], *combo, selection, m))
                continue;
            Combo* raw = combo.get();
            pool.Add([raw, m, &selection, &pool] { RunCombo(*raw, m, selection, pool); });
            combos.push_back(std::move(combo));
        }
    }
    pool.Run(jobs);
    PrintTable(std::chrono::steady_clock::now() - started);
    fs::remove_all(g_settings.work, ignored);
    for (const Result& r : g_results) {
        if (!r.problems.empty())
            return 1;
    }
    return 0;
}
