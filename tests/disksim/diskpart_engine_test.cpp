#include "sim/disk/diskpart_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

namespace obrin::disksim {
namespace {

using ::testing::HasSubstr;

constexpr uint64_t kMb = 2048;  // sectors of 512 bytes in a megabyte

// Records what the interpreter does to the prefix; can refuse on demand.
class RecordingEffects final : public DiskEffects {
public:
    bool LetterTakenOutside(char letter) override { return outside.count(letter) != 0; }
    bool DefineDrive(char letter, const std::string& folder) override
    {
        if (refuseDefine)
            return false;
        drives[letter] = folder;
        return true;
    }
    bool RemoveDrive(char letter) override { return drives.erase(letter) == 1; }
    bool EmptyFolder(const std::string& folder) override
    {
        emptied.push_back(folder);
        return true;
    }
    bool RemoveFolder(const std::string& folder) override
    {
        removed.push_back(folder);
        return true;
    }

    std::set<char> outside = {'C', 'Z'};
    bool refuseDefine = false;
    std::map<char, std::string> drives;
    std::vector<std::string> emptied;
    std::vector<std::string> removed;
};

class DiskpartScripts : public ::testing::Test {
protected:
    DiskpartResult Run(const std::string& script) { return RunDiskpartScript(model, script, effects); }

    const Partition& Part(uint32_t number, uint32_t disk = 0)
    {
        const Disk* d = model.FindDisk(disk);
        EXPECT_NE(d, nullptr);
        for (const Partition& p : d->partitions)
            if (p.number == number)
                return p;
        ADD_FAILURE() << "no partition " << number;
        static const Partition none;
        return none;
    }

    // The installer's own scripts, as it writes them for disk 0, the Windows
    // and EFI partitions (4 and 2 on the standard machine) and the letters
    // M, N, O.
    void Install(uint32_t windows = 4, uint32_t efi = 2)
    {
        const std::string selectWindows = "select disk 0\r\nselect par " + std::to_string(windows) + "\r\n";
        const std::string selectEfi = "select disk 0\r\nselect par " + std::to_string(efi) + "\r\n";
        ASSERT_EQ(Run(selectWindows + "shrink minimum=12288\r\nexit\r\n").exitCode, kDiskpartOk);
        DiskpartResult created = Run(
            selectEfi + "assign letter=\"M:\"\r\n"
            "create partition primary\r\nformat quick fs=ntfs label=\"ANDROID\" override noerr\r\nassign letter=\"N:\"\r\n"
            "shrink minimum=2048\r\n"
            "create partition primary\r\nformat quick fs=ntfs label=\"ASOS\" override noerr\r\nassign letter=\"O:\"\r\n"
            "exit\r\n");
        ASSERT_EQ(created.exitCode, kDiskpartOk) << created.output;
        ASSERT_EQ(Run(selectEfi + "remove letter=\"M:\"\r\nexit\r\n").exitCode, kDiskpartOk);
        ASSERT_EQ(Run("select disk 0\r\nselect vol=\"O:\"\r\ngpt attributes=0x4000000000000001\r\nexit\r\n").exitCode,
                  kDiskpartOk);
        ASSERT_EQ(Run("select disk 0\r\nselect vol=\"N:\"\r\ngpt attributes=0x4000000000000001\r\n"
                      "set id=\"fe92a6a7-d642-4561-9f66-56cd28b8a049\"\r\nexit\r\n")
                      .exitCode,
                  kDiskpartOk);
    }

    // "label:number" of every partition of disk 0, in disk order.
    std::vector<std::string> Numbers() const
    {
        std::vector<std::string> numbers;
        for (const Partition& p : model.disks[0].partitions)
            numbers.push_back((p.label.empty() ? TypeName(p.type) : p.label) + ":" + std::to_string(p.number));
        return numbers;
    }

    Model model = *MachineVariant("standard");
    RecordingEffects effects;
};

TEST_F(DiskpartScripts, InstallScriptsLayAndroidAndAsosBehindTheShrunkWindows)
{
    const uint64_t windowsSize = Part(4).sizeSectors;
    // Nothing free behind Windows: extend fails as a service failure.
    DiskpartResult extend = Run("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n");
    EXPECT_EQ(extend.exitCode, kDiskpartServiceFailure);
    EXPECT_THAT(extend.output, HasSubstr("not enough usable free space"));

    Install();

    ASSERT_EQ(model.disks[0].partitions.size(), 6u);
    const Partition& windows = Part(4);
    const Partition& android = Part(5);
    const Partition& asos = Part(6);
    EXPECT_EQ(windows.sizeSectors, windowsSize - 12288 * kMb);
    EXPECT_EQ(android.offsetSectors, windows.EndSector());
    EXPECT_EQ(android.sizeSectors, (12288u - 2048u) * kMb);
    EXPECT_EQ(android.type, kTypeAndroid);
    EXPECT_EQ(android.attributes, 0x4000000000000001ull);
    EXPECT_EQ(android.label, "ANDROID");
    EXPECT_EQ(android.fileSystem, "NTFS");
    EXPECT_EQ(asos.offsetSectors, android.EndSector());
    EXPECT_EQ(asos.sizeSectors, 2048u * kMb);
    EXPECT_EQ(asos.type, kTypeBasicData);
    EXPECT_EQ(asos.attributes, 0x4000000000000001ull);
    EXPECT_EQ(asos.label, "ASOS");
    // EFI lost its letter; hiding took the other two away with their volumes.
    EXPECT_EQ(Part(2).letter, 0);
    EXPECT_EQ(android.letter, 0);
    EXPECT_EQ(asos.letter, 0);
    EXPECT_TRUE(effects.drives.empty());
    EXPECT_TRUE(FreeExtents(model.disks[0]).empty());
    EXPECT_THAT(effects.emptied, ::testing::Contains(asos.folder));
}

TEST_F(DiskpartScripts, InstallFirstGrowsWindowsIntoFreeSpaceBehindIt)
{
    model = *MachineVariant("free-behind-windows");
    ASSERT_EQ(FreeExtents(model.disks[0]).size(), 1u);
    const uint64_t grown = Part(4).sizeSectors + FreeExtents(model.disks[0])[0].sizeSectors;
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeSectors, grown);
    Install();
    EXPECT_EQ(Part(4).sizeSectors, grown - 12288 * kMb);
    EXPECT_EQ(Part(6).EndSector(), model.disks[0].UsableEndSector());
}

TEST_F(DiskpartScripts, UninstallScriptsGiveTheDiskBackAsItWasUnderStableNumbers)
{
    model.numbering = NumberingRule::Stable;
    const std::string original = FormatModel(model);
    Install();
    // ANDROID first, then ASOS by the number it had before: under the stable
    // rule deleting a partition does not renumber the others.
    ASSERT_EQ(Run("select disk 0\r\nselect par 5\r\ndelete par override\r\nselect par 6\r\ndelete par override\r\nexit\r\n")
                  .exitCode,
              kDiskpartOk);
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n").exitCode, kDiskpartOk);
    ASSERT_EQ(Run("select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\nexit\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(effects.drives['M'], Part(2).folder);
    ASSERT_EQ(Run("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(effects.removed.size(), 2u);

    model.nextVolumeId = MachineVariant("standard")->nextVolumeId;
    EXPECT_EQ(FormatModel(model), original);
}

TEST_F(DiskpartScripts, SelectionErrorsAndSyntaxErrorsEndTheScriptWithFive)
{
    struct Case {
        const char* script;
        int exitCode;
    } cases[] = {
        {"select disk 7\r\nexit\r\n", kDiskpartSyntaxError},
        {"select par 2\r\nexit\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\nselect par 9\r\nexit\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\nselect vol=\"Q:\"\r\nexit\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\nshrink minimum=10\r\n", kDiskpartSyntaxError},
        {"frobnicate\r\n", kDiskpartSyntaxError},
        {"frobnicate noerr\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\nselect par 2\r\nassign letter=\"\"\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\nselect par 2\r\nassign letter=\"M:\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\nselect par 4\r\nshrink minimum=lots\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\nselect par 2\r\ngpt attributes=0xZZ\r\n", kDiskpartSyntaxError},
        {"select disk 0\r\ncreate partition extended\r\n", kDiskpartSyntaxError},
        {"select disk\r\n", kDiskpartSyntaxError},
        {"select disk 0 1\r\n", kDiskpartSyntaxError},
        {"select disk=0 par=4\r\n", kDiskpartSyntaxError},
        {"rem nothing to do\r\n\r\nexit\r\nfrobnicate\r\n", kDiskpartOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Model before = model;
        EXPECT_EQ(Run(c.script).exitCode, c.exitCode);
        EXPECT_EQ(FormatModel(model), FormatModel(before));
    }
}

TEST_F(DiskpartScripts, AFailureStopsTheScriptUnlessNoerrIsGiven)
{
    DiskpartResult stopped = Run("select disk 0\r\nselect par 4\r\nextend\r\nselect par 2\r\nassign letter=M\r\n");
    EXPECT_EQ(stopped.exitCode, kDiskpartServiceFailure);
    EXPECT_TRUE(effects.drives.empty()) << "nothing after the failing command runs";

    DiskpartResult goesOn = Run("select disk 0\r\nselect par 4\r\nextend noerr\r\nselect par 2\r\nassign letter=M\r\n");
    EXPECT_EQ(goesOn.exitCode, kDiskpartOk);
    EXPECT_THAT(goesOn.output, HasSubstr("ignored"));
    EXPECT_EQ(effects.drives.count('M'), 1u);

    // Selection errors obey noerr too; syntax errors never do.
    EXPECT_EQ(Run("select disk 5 noerr\r\nselect disk 0\r\n").exitCode, kDiskpartOk);
}

// Without an offset a partition starts in the largest free extent that is
// large enough, not the first; an offset (kilobytes, rounded up to a
// megabyte) puts it exactly there or fails when that place is not free.
TEST_F(DiskpartScripts, CreateTakesTheLargestExtentOrTheGivenOffset)
{
    model = *MachineVariant("larger-free-elsewhere");
    model.numbering = NumberingRule::Stable;
    const Partition windows = Part(3);
    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nshrink minimum=12288\r\n").exitCode, kDiskpartOk);
    ASSERT_EQ(FreeExtents(model.disks[0]).size(), 2u);

    ASSERT_EQ(Run("select disk 0\r\ncreate partition primary\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(5).offsetSectors, model.disks[0].UsableEndSector() - 20480 * kMb) << LayoutTable(model);
    ASSERT_EQ(Run("select disk 0\r\nselect par 5\r\ndelete par\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary size=20481\r\n").exitCode, kDiskpartServiceFailure);

    const uint64_t behindWindowsKb = (windows.EndSector() / kMb - 12288) * 1024;
    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary offset=" + std::to_string(behindWindowsKb - 1024) +
                  "\r\n")
                  .exitCode,
              kDiskpartServiceFailure)
        << "inside Windows";
    ASSERT_EQ(Run("select disk 0\r\ncreate partition primary offset=" + std::to_string(behindWindowsKb - 100) +
                  "\r\n")
                  .exitCode,
              kDiskpartOk);
    EXPECT_EQ(Part(5).offsetSectors, windows.EndSector() - 12288 * kMb);
    EXPECT_EQ(Part(5).sizeSectors, 12288u * kMb) << "the rest of that extent, not the larger one";
    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary offset=99999999999999999999\r\n").exitCode,
              kDiskpartSyntaxError);
}

TEST_F(DiskpartScripts, InjectedFailuresHitTheChosenRunAndAreUsedUp)
{
    model.failures.push_back({"create", 1});
    model.failures.push_back({"gpt", 0});
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink minimum=4096\r\n").exitCode, kDiskpartOk);
    DiskpartResult run = Run("select disk 0\r\ncreate partition primary size=1024\r\ncreate partition primary\r\n");
    EXPECT_EQ(run.exitCode, kDiskpartServiceFailure);
    EXPECT_THAT(run.output, HasSubstr("injected"));
    EXPECT_EQ(model.disks[0].partitions.size(), 5u) << "the first create ran, the second failed";
    ASSERT_EQ(model.failures.size(), 1u);
    EXPECT_EQ(model.failures[0].command, "gpt");

    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Run("select disk 0\r\nselect par 6\r\ngpt attributes=0x1\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Part(6).attributes, 0u);
    EXPECT_EQ(Run("select disk 0\r\nselect par 6\r\ngpt attributes=0x1\r\n").exitCode, kDiskpartOk);
    EXPECT_TRUE(model.failures.empty());
}

TEST_F(DiskpartScripts, DeleteProtectsTheSystemAndNeedsOverrideForNonDataPartitions)
{
    EXPECT_EQ(Run("select disk 0\r\nselect par 4\r\ndelete par override\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Run("select disk 0\r\nselect par 3\r\ndelete partition\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(model.disks[0].partitions.size(), 4u);
    EXPECT_TRUE(effects.removed.empty());

    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink desired=1000\r\ncreate partition primary\r\n"
                  "set id=\"{FE92A6A7-D642-4561-9F66-56CD28B8A049}\"\r\n")
                  .exitCode,
              kDiskpartOk);
    EXPECT_EQ(Part(5).type, kTypeAndroid);
    EXPECT_EQ(Run("select disk 0\r\nselect par 5\r\ndelete par\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Run("select disk 0\r\nselect par 5\r\ndelete par override\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(model.disks[0].partitions.size(), 4u);
    EXPECT_EQ(effects.removed.size(), 1u);
    EXPECT_EQ(Run("select disk 0\r\nselect par 3\r\ndelete par override\r\n").exitCode, kDiskpartOk);
}

TEST_F(DiskpartScripts, LettersMustBeFreeAndBelongToTheVolumeThatLosesThem)
{
    EXPECT_EQ(Run("select disk 0\r\nselect par 2\r\nassign letter=Z\r\n").exitCode, kDiskpartServiceFailure)
        << "Z: is a drive of the prefix";
    EXPECT_EQ(Run("select disk 0\r\nselect par 3\r\nassign letter=M\r\n").exitCode, kDiskpartSyntaxError)
        << "the MSR has no volume";
    effects.refuseDefine = true;
    EXPECT_EQ(Run("select disk 0\r\nselect par 2\r\nassign letter=M\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Part(2).letter, 0);
    effects.refuseDefine = false;

    ASSERT_EQ(Run("select disk 0\r\nselect par 2\r\nassign letter=m:\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(2).letter, 'M');
    EXPECT_EQ(Run("select disk 0\r\nselect par 1\r\nassign letter=M\r\n").exitCode, kDiskpartServiceFailure);
    // Removing a letter the selected volume does not carry changes nothing.
    EXPECT_EQ(Run("select disk 0\r\nselect par 1\r\nremove letter=M\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Part(2).letter, 'M');
    EXPECT_EQ(Run("select disk 0\r\nselect par 4\r\nremove letter=C\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Part(4).letter, 'C');
    // Without a letter, assign picks the first free one from D on.
    ASSERT_EQ(Run("select disk 0\r\nselect volume 0\r\nassign\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(1).letter, 'D');
    EXPECT_EQ(effects.drives['D'], Part(1).folder);
}

TEST_F(DiskpartScripts, ShrinkTakesTheMinimumUnlessADesiredAmountIsGiven)
{
    const uint64_t size = Part(4).sizeSectors;
    const uint64_t reclaimable = size / kMb - Part(4).usedMb;
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeSectors, size - 100 * kMb);
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink desired=300 minimum=200\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeSectors, size - 400 * kMb);
    EXPECT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink minimum=" + std::to_string(reclaimable) + "\r\n").exitCode,
              kDiskpartServiceFailure);
    EXPECT_EQ(Part(4).sizeSectors, size - 400 * kMb);
    EXPECT_EQ(Run("select disk 0\r\nselect par 2\r\nshrink minimum=10\r\n").exitCode, kDiskpartServiceFailure)
        << "the EFI system partition cannot be shrunk";
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nextend size=150\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeSectors, size - 250 * kMb);
    EXPECT_EQ(Run("select disk 0\r\nselect par 4\r\nextend size=251\r\n").exitCode, kDiskpartServiceFailure);
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nextend\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeSectors, size);
}

TEST_F(DiskpartScripts, FormatErasesOnlyPartitionFoldersAndCreateNeedsSpace)
{
    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Run("select disk 0\r\nselect par 4\r\nformat quick fs=ntfs label=X override\r\n").exitCode,
              kDiskpartServiceFailure);
    EXPECT_EQ(Part(4).label, "Windows");
    EXPECT_TRUE(effects.emptied.empty());
    ASSERT_EQ(Run("select disk 0\r\nselect par 1\r\nformat fs=fat32 label=\"Two words\" quick\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(1).fileSystem, "FAT32");
    EXPECT_EQ(Part(1).label, "Two words");
    EXPECT_EQ(effects.emptied, std::vector<std::string>{Part(1).folder});
}

TEST_F(DiskpartScripts, SelectionFormsDiskpartAccepts)
{
    model = *MachineVariant("system-disk-1");
    for (const char* script : {"select disk=1\r\nselect partition=4\r\n", "select DISK 1\r\nselect PAR 4 noerr\r\n",
                               "select disk=1 noerr\r\nselect noerr par=4\r\n",
                               "select vol=C\r\n", "select volume \"c:\"\r\n"}) {
        SCOPED_TRACE(script);
        std::string full = std::string(script) + "assign letter=C\r\n";
        EXPECT_EQ(Run(full).exitCode, kDiskpartOk) << "C: is already this volume's letter";
    }
    // A wrong disk reaches a different partition with the same number.
    ASSERT_EQ(Run("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\n").exitCode, kDiskpartServiceFailure);
    EXPECT_EQ(Part(2, 0).letter, 'L');
}

// One script that creates three partitions between Windows and Recovery and
// deletes two by number: under disk-order the numbers close up at once, so
// the second "select par 5" finds the partition that moved up; under stable
// it finds none.
TEST_F(DiskpartScripts, NumbersFollowTheRuleWithinOneScript)
{
    const std::string script =
        "select disk 0\r\nselect par 3\r\nshrink minimum=3072\r\n"
        "create partition primary size=1024\r\nformat quick fs=ntfs label=A\r\n"
        "create partition primary size=1024\r\nformat quick fs=ntfs label=B\r\n"
        "create partition primary\r\nformat quick fs=ntfs label=C\r\n"
        "select par 5\r\ndelete partition\r\nselect par 5\r\ndelete partition\r\nexit\r\n";
    struct Case {
        NumberingRule rule;
        std::vector<std::string> afterCreates;
        int exitCode;
        std::vector<std::string> atEnd;
    } cases[] = {
        {NumberingRule::DiskOrder,
         {"SYSTEM:1", "MSR:2", "Windows:3", "A:4", "B:5", "C:6", "Recovery:7"},
         kDiskpartOk,
         {"SYSTEM:1", "MSR:2", "Windows:3", "A:4", "Recovery:5"}},
        {NumberingRule::Stable,
         {"SYSTEM:1", "MSR:2", "Windows:3", "A:5", "B:6", "C:7", "Recovery:4"},
         kDiskpartSyntaxError,
         {"SYSTEM:1", "MSR:2", "Windows:3", "B:6", "C:7", "Recovery:4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(NumberingName(c.rule)));
        model = *MachineVariant("recovery-last");
        model.numbering = c.rule;
        const size_t deletes = script.find("select par 5");
        ASSERT_EQ(Run(script.substr(0, deletes)).exitCode, kDiskpartOk);
        EXPECT_EQ(Numbers(), c.afterCreates);
        DiskpartResult run = Run("select disk 0\r\n" + script.substr(deletes));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_EQ(Numbers(), c.atEnd) << LayoutTable(model);
        // What is on disk reads back under the rule.
        Model reread;
        std::string error;
        EXPECT_TRUE(ParseModel(FormatModel(model), reread, error)) << error;
    }
}

// The uninstall's "select par N, delete override" twice with the numbers
// discovery read before the first delete, on the layout Windows setup makes:
// under disk-order the second delete takes the partition behind ASOS'
// old place, the Recovery partition.
TEST_F(DiskpartScripts, DeletingByOldNumbersUnderDiskOrderDeletesThePartitionBehind)
{
    struct Case {
        NumberingRule rule;
        uint32_t android, asos;  // as discovered after the install
        std::vector<std::string> left;
    } cases[] = {
        {NumberingRule::DiskOrder, 4, 5, {"SYSTEM:1", "MSR:2", "Windows:3", "ASOS:4"}},
        {NumberingRule::Stable, 5, 6, {"SYSTEM:1", "MSR:2", "Windows:3", "Recovery:4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(NumberingName(c.rule)));
        model = *MachineVariant("recovery-last");
        model.numbering = c.rule;
        Install(3, 1);
        ASSERT_EQ(Part(c.android).label, "ANDROID");
        ASSERT_EQ(Part(c.asos).label, "ASOS");
        ASSERT_EQ(Run("select disk 0\r\nselect par " + std::to_string(c.android) +
                      "\r\ndelete partition override\r\nselect par " + std::to_string(c.asos) +
                      "\r\ndelete partition override\r\nexit\r\n")
                      .exitCode,
                  kDiskpartOk);
        EXPECT_EQ(Numbers(), c.left);
    }
}

TEST_F(DiskpartScripts, NothingIsSelectedAfterADelete)
{
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\ncreate partition primary\r\n").exitCode,
              kDiskpartOk);
    struct Case {
        const char* command;
        const char* message;
    } cases[] = {
        {"delete partition", "There is no partition selected."},
        {"assign letter=M", "There is no volume selected."},
        {"gpt attributes=0x1", "There is no partition selected."},
        {"set id=07", "There is no partition selected."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        DiskpartResult run = Run(std::string("select disk 0\r\nselect par 5\r\ndelete partition\r\n") + c.command + "\r\n");
        EXPECT_EQ(run.exitCode, kDiskpartSyntaxError) << run.output;
        EXPECT_THAT(run.output, HasSubstr(c.message));
        EXPECT_EQ(model.disks[0].partitions.size(), 4u);
        ASSERT_EQ(Run("select disk 0\r\ncreate partition primary\r\n").exitCode, kDiskpartOk);
    }
}

// New partitions start on a MiB on disks of 4 GiB and up and take whole
// megabytes; shrink frees whole megabytes off wherever the volume ends;
// extend takes the free space up to the next partition.
TEST_F(DiskpartScripts, NewPartitionsStartOnTheGridWhereverWindowsEnds)
{
    model = *MachineVariant("windows-off-grid");
    const Partition windows = Part(3);
    const uint64_t recoveryStart = Part(4).offsetSectors;
    ASSERT_EQ(recoveryStart - windows.EndSector(), 7u);

    DiskpartResult tooLittle = Run("select disk 0\r\nselect par 3\r\nextend\r\n");
    EXPECT_EQ(tooLittle.exitCode, kDiskpartServiceFailure);
    EXPECT_THAT(tooLittle.output, HasSubstr("less than the minimum of 1 MB"));
    EXPECT_EQ(Part(3).sizeSectors, windows.sizeSectors);

    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nshrink minimum=12288\r\n").exitCode, kDiskpartOk);
    const uint64_t shrunkEnd = windows.EndSector() - 12288 * kMb;
    EXPECT_EQ(Part(3).EndSector(), shrunkEnd) << "still 7 sectors short of a MiB";
    ASSERT_EQ(Run("select disk 0\r\ncreate partition primary size=10240\r\ncreate partition primary\r\n").exitCode,
              kDiskpartOk);
    EXPECT_EQ(Part(4).offsetSectors, shrunkEnd + 7) << "aligned up to the next MiB";
    EXPECT_EQ(Part(4).sizeSectors, 10240 * kMb);
    EXPECT_EQ(Part(5).offsetSectors, Part(4).EndSector());
    EXPECT_EQ(Part(5).EndSector(), recoveryStart) << "the rest of the extent, up to Recovery";
    EXPECT_EQ(Part(5).sizeSectors, 2048 * kMb);

    // Deleting both gives extend 12288 MB and the 7 sectors: all up to Recovery.
    ASSERT_EQ(Run("select disk 0\r\nselect par 5\r\ndelete partition\r\nselect par 4\r\ndelete partition\r\n"
                  "select par 3\r\nextend size=12288\r\n")
                  .exitCode,
              kDiskpartOk);
    EXPECT_EQ(Part(3).sizeSectors, windows.sizeSectors) << "extend size= gives whole megabytes back";
    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nshrink minimum=100\r\nextend\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(3).EndSector(), recoveryStart);
}

// offset= is kilobytes, rounded up to the alignment, and must then lie in
// free space: a USER partition's offset taken from a Windows end that is
// not on the grid rounds up behind Windows, never into it.
TEST_F(DiskpartScripts, OffsetsRoundUpToTheAlignmentAndMustLieInFreeSpace)
{
    model = *MachineVariant("windows-off-grid");
    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nshrink minimum=12288\r\n").exitCode, kDiskpartOk);
    const uint64_t windowsEndBytes = Part(3).EndSector() * 512;
    const uint64_t grid = (Part(3).EndSector() + 7) * 512 / 1024;  // the next MiB, in KB
    struct Case {
        uint64_t offsetKb;
        int exitCode;
        uint64_t startKb;
    } cases[] = {
        {windowsEndBytes / 1024, kDiskpartOk, grid},          // truncated: 512 bytes inside Windows
        {windowsEndBytes / 1024 + 1, kDiskpartOk, grid},
        {grid, kDiskpartOk, grid},
        {grid + 1, kDiskpartOk, grid + 1024},
        {grid - 1024, kDiskpartServiceFailure, 0},            // a MiB inside Windows
        {grid + 12288 * 1024 - 1024, kDiskpartServiceFailure, 0},  // free, but only a MiB of it behind
        {64ull * 1024 * 1024 * 1024, kDiskpartServiceFailure, 0},  // beyond the disk
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsetKb);
        const Model before = model;
        DiskpartResult run = Run("select disk 0\r\ncreate partition primary size=1024 offset=" + std::to_string(c.offsetKb) +
                                 "\r\n");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        if (c.exitCode == kDiskpartOk) {
            EXPECT_EQ(Part(4).offsetSectors * 512, c.startKb * 1024);
            EXPECT_EQ(Part(4).sizeSectors, 1024 * kMb);
        }
        model = before;
    }
}

TEST_F(DiskpartScripts, ExtendReachesTheUsableEndInFrontOfTheBackupGpt)
{
    model = *MachineVariant("recovery-last");
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\ndelete partition override\r\nselect par 3\r\nextend\r\n").exitCode,
              kDiskpartOk);
    EXPECT_EQ(Part(3).EndSector(), model.disks[0].UsableEndSector());
    EXPECT_EQ(model.disks[0].sizeSectors - Part(3).EndSector(), 33u);
    EXPECT_EQ(Part(3).sizeSectors % kMb, kMb - 33) << "extend took the space to the sector";
}

// A disk of 4096-byte sectors: megabytes are 256 sectors, new partitions start
// on a MiB, the backup GPT takes 5 sectors.
TEST_F(DiskpartScripts, FourKilobyteSectorsCountTheSameMegabytes)
{
    model = *MachineVariant("system-disk-1");
    const Partition data = Part(3);
    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nshrink minimum=1000\r\n"
                  "create partition primary size=500 offset=" + std::to_string((32768 - 1000) * 1024) +
                  "\r\ncreate partition primary\r\n")
                  .exitCode,
              kDiskpartOk)
        << LayoutTable(model);
    EXPECT_EQ(Part(3).sizeSectors, data.sizeSectors - 1000 * 256);
    EXPECT_EQ(Part(4).offsetSectors, Part(3).EndSector());
    EXPECT_EQ(Part(4).sizeSectors, 500u * 256);
    EXPECT_EQ(Part(5).EndSector(), model.disks[0].UsableEndSector());
    EXPECT_EQ(model.disks[0].sizeSectors - Part(5).EndSector(), 5u);
    EXPECT_THAT(FormatModel(model), HasSubstr("sector=4096 size=" + std::to_string(32768 * 256 + 5) + "s"));
}

TEST_F(DiskpartScripts, SmallDisksAlignToSixtyFourKilobytes)
{
    std::string error;
    ASSERT_TRUE(ParseModel("next-volume 1\ndisk 0 style=gpt sector=512 size=1000 "
                           "id=0b5d0001-0000-4000-8000-000000000000 removable=yes path=x\n",
                           model, error))
        << error;
    ASSERT_EQ(Run("select disk 0\r\ncreate partition primary size=1 offset=1\r\ncreate partition primary size=1\r\n")
                  .exitCode,
              kDiskpartOk);
    EXPECT_EQ(Part(1).offsetSectors, 128u) << "64 KiB, the first aligned sector behind the GPT";
    EXPECT_EQ(Part(2).offsetSectors, Part(1).EndSector()) << "the largest extent's aligned start";
}

TEST_F(DiskpartScripts, APartitionMadeAgainInTheSamePlaceGetsANewId)
{
    model = *MachineVariant("recovery-last");
    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nshrink minimum=12288\r\ncreate partition primary\r\n").exitCode,
              kDiskpartOk);
    const Partition first = Part(4);
    EXPECT_TRUE(IsModelGuid(first.id));
    std::set<std::string> seen;
    for (const Partition& p : model.disks[0].partitions)
        seen.insert(p.id);
    seen.insert(model.disks[0].id);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\ndelete partition\r\ncreate partition primary\r\n").exitCode,
                  kDiskpartOk);
        EXPECT_EQ(Part(4).offsetSectors, first.offsetSectors);
        EXPECT_EQ(Part(4).sizeSectors, first.sizeSectors);
        EXPECT_TRUE(seen.insert(Part(4).id).second) << Part(4).id << " was given before";
    }
    Model reread;
    std::string error;
    EXPECT_TRUE(ParseModel(FormatModel(model), reread, error)) << error;
    EXPECT_EQ(reread.disks[0].partitions[3].id, Part(4).id);
}

// On an MBR disk diskpart takes type bytes, knows no GPT attributes and
// holds four primary partitions.
TEST_F(DiskpartScripts, MbrDisksTakeTypeBytesAndFourPartitions)
{
    model = *MachineVariant("mbr");
    ASSERT_EQ(Run("select disk 0\r\nselect par 2\r\nshrink minimum=3072\r\ncreate partition primary size=1024\r\n")
                  .exitCode,
              kDiskpartOk);
    const Partition& created = Part(3);
    EXPECT_EQ(created.type, kMbrTypeIfs);
    EXPECT_TRUE(created.id.empty());
    EXPECT_EQ(created.offsetSectors, Part(2).EndSector());
    struct Case {
        const char* command;
        int exitCode;
        const char* type;
    } cases[] = {
        {"gpt attributes=0x4000000000000001", kDiskpartSyntaxError, "07"},
        {"set id=fe92a6a7-d642-4561-9f66-56cd28b8a049", kDiskpartServiceFailure, "07"},
        {"set id=42", kDiskpartServiceFailure, "07"},
        {"set id=05", kDiskpartServiceFailure, "07"},
        {"set id=100", kDiskpartServiceFailure, "07"},
        {"set id=27 override", kDiskpartOk, "27"},
        {"set id=0x0C", kDiskpartOk, "0c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(Run(std::string("select disk 0\r\nselect par 3\r\n") + c.command + "\r\n").exitCode, c.exitCode);
        EXPECT_EQ(Part(3).type, c.type);
        EXPECT_EQ(Part(3).attributes, 0u);
    }
    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nset id=27\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Run("select disk 0\r\nselect par 3\r\ndelete partition\r\n").exitCode, kDiskpartServiceFailure)
        << "a recovery type is protected";
    ASSERT_EQ(Run("select disk 0\r\ncreate partition primary size=1024\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary size=10\r\n").exitCode, kDiskpartServiceFailure)
        << "an MBR holds four partitions";
    EXPECT_EQ(model.disks[0].partitions.size(), 4u);
}

}  // namespace
}  // namespace obrin::disksim
