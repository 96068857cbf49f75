// Whatever WQL or object path a client sends, the disk classes' parser and
// the answer over a machine with every kind of partition never misbehave.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/firmware/disk_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const firmsim::disks::DiskView view =
        firmsim::disks::BuildDiskView(*obrin::disksim::MachineVariant("system-disk-1"), "HOST");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = firmsim::disks::ParseDiskQuery(text);
    if (parsed.verdict == firmsim::disks::ParsedQuery::Verdict::Disk)
        static_cast<void>(firmsim::disks::RunDiskQuery(view, parsed.query));
    const auto path = firmsim::disks::ParseDiskObjectPath(text);
    if (path.verdict == firmsim::disks::ParsedQuery::Verdict::Disk)
        static_cast<void>(firmsim::disks::FindDiskObject(view, path.path));
    return 0;
}
