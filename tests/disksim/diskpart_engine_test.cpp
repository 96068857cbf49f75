#include "sim/disk/diskpart_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

namespace obrin::disksim {
namespace {

using ::testing::HasSubstr;

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

    // The installer's own scripts, as it writes them for disk 0, Windows
    // partition 4, EFI partition 2 and the letters M, N, O.
    void Install()
    {
        ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink minimum=12288\r\nexit\r\n").exitCode, kDiskpartOk);
        DiskpartResult created = Run(
            "select disk 0\r\nselect par 2\r\nassign letter=\"M:\"\r\n"
            "create partition primary\r\nformat quick fs=ntfs label=\"ANDROID\" override noerr\r\nassign letter=\"N:\"\r\n"
            "shrink minimum=2048\r\n"
            "create partition primary\r\nformat quick fs=ntfs label=\"ASOS\" override noerr\r\nassign letter=\"O:\"\r\n"
            "exit\r\n");
        ASSERT_EQ(created.exitCode, kDiskpartOk) << created.output;
        ASSERT_EQ(Run("select disk 0\r\nselect par 2\r\nremove letter=\"M:\"\r\nexit\r\n").exitCode, kDiskpartOk);
        ASSERT_EQ(Run("select disk 0\r\nselect vol=\"O:\"\r\ngpt attributes=0x4000000000000001\r\nexit\r\n").exitCode,
                  kDiskpartOk);
        ASSERT_EQ(Run("select disk 0\r\nselect vol=\"N:\"\r\ngpt attributes=0x4000000000000001\r\n"
                      "set id=\"fe92a6a7-d642-4561-9f66-56cd28b8a049\"\r\nexit\r\n")
                      .exitCode,
                  kDiskpartOk);
    }

    Model model = *MachineVariant("standard");
    RecordingEffects effects;
};

TEST_F(DiskpartScripts, InstallScriptsLayAndroidAndAsosBehindTheShrunkWindows)
{
    const uint64_t windowsSize = Part(4).sizeMb;
    // Nothing free behind Windows: extend fails as a service failure.
    DiskpartResult extend = Run("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n");
    EXPECT_EQ(extend.exitCode, kDiskpartServiceFailure);
    EXPECT_THAT(extend.output, HasSubstr("not enough usable free space"));

    Install();

    ASSERT_EQ(model.disks[0].partitions.size(), 6u);
    const Partition& windows = Part(4);
    const Partition& android = Part(5);
    const Partition& asos = Part(6);
    EXPECT_EQ(windows.sizeMb, windowsSize - 12288);
    EXPECT_EQ(android.offsetMb, windows.EndMb());
    EXPECT_EQ(android.sizeMb, 12288u - 2048u);
    EXPECT_EQ(android.type, kTypeAndroid);
    EXPECT_EQ(android.attributes, 0x4000000000000001ull);
    EXPECT_EQ(android.label, "ANDROID");
    EXPECT_EQ(android.fileSystem, "NTFS");
    EXPECT_EQ(asos.offsetMb, android.EndMb());
    EXPECT_EQ(asos.sizeMb, 2048u);
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
    const uint64_t grown = Part(4).sizeMb + FreeExtents(model.disks[0])[0].sizeMb;
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nextend\r\nexit\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeMb, grown);
    Install();
    EXPECT_EQ(Part(4).sizeMb, grown - 12288);
    EXPECT_EQ(Part(6).EndMb(), model.disks[0].sizeMb);
}

TEST_F(DiskpartScripts, UninstallScriptsGiveTheDiskBackAsItWas)
{
    const std::string original = FormatModel(model);
    Install();
    // ANDROID first, then ASOS by the number it had before: deleting a
    // partition does not renumber the others.
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
    const Partition windows = Part(3);
    ASSERT_EQ(Run("select disk 0\r\nselect par 3\r\nshrink minimum=12288\r\n").exitCode, kDiskpartOk);
    ASSERT_EQ(FreeExtents(model.disks[0]).size(), 2u);

    ASSERT_EQ(Run("select disk 0\r\ncreate partition primary\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(5).offsetMb, model.disks[0].sizeMb - 20480) << LayoutTable(model);
    ASSERT_EQ(Run("select disk 0\r\nselect par 5\r\ndelete par\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary size=20481\r\n").exitCode, kDiskpartServiceFailure);

    const uint64_t behindWindowsKb = (windows.EndMb() - 12288) * 1024;
    EXPECT_EQ(Run("select disk 0\r\ncreate partition primary offset=" + std::to_string(behindWindowsKb - 1024) +
                  "\r\n")
                  .exitCode,
              kDiskpartServiceFailure)
        << "inside Windows";
    ASSERT_EQ(Run("select disk 0\r\ncreate partition primary offset=" + std::to_string(behindWindowsKb - 100) +
                  "\r\n")
                  .exitCode,
              kDiskpartOk);
    EXPECT_EQ(Part(5).offsetMb, windows.EndMb() - 12288);
    EXPECT_EQ(Part(5).sizeMb, 12288u) << "the rest of that extent, not the larger one";
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
    const uint64_t size = Part(4).sizeMb;
    const uint64_t reclaimable = size - Part(4).usedMb;
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink minimum=100\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeMb, size - 100);
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink desired=300 minimum=200\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeMb, size - 400);
    EXPECT_EQ(Run("select disk 0\r\nselect par 4\r\nshrink minimum=" + std::to_string(reclaimable) + "\r\n").exitCode,
              kDiskpartServiceFailure);
    EXPECT_EQ(Part(4).sizeMb, size - 400);
    EXPECT_EQ(Run("select disk 0\r\nselect par 2\r\nshrink minimum=10\r\n").exitCode, kDiskpartServiceFailure)
        << "the EFI system partition cannot be shrunk";
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nextend size=150\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeMb, size - 250);
    EXPECT_EQ(Run("select disk 0\r\nselect par 4\r\nextend size=251\r\n").exitCode, kDiskpartServiceFailure);
    ASSERT_EQ(Run("select disk 0\r\nselect par 4\r\nextend\r\n").exitCode, kDiskpartOk);
    EXPECT_EQ(Part(4).sizeMb, size);
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

}  // namespace
}  // namespace obrin::disksim
