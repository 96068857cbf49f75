// Whatever WQL or object path a client sends to firmwmi.dll, the one reader,
// the firmware's reading of it and the disk classes' answer over a machine
// with every kind of partition never misbehave.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/disk/disk_view.h"
#include "sim/wql/wql.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    namespace view = obrin::disksim::wmi;
    static const view::DiskView disks = view::BuildDiskView(*obrin::disksim::MachineVariant("system-disk-1"), "HOST");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = view::ParseDiskQuery(text);
    if (parsed.verdict == view::ParsedQuery::Verdict::Disk)
        static_cast<void>(view::RunDiskQuery(disks, parsed.query));
    const auto path = view::ParseDiskObjectPath(text);
    if (path.verdict == view::ParsedQuery::Verdict::Disk)
        static_cast<void>(view::FindDiskObject(disks, path.path));
    static_cast<void>(obrin::wql::SelectAllClass(text));
    static_cast<void>(obrin::wql::IsWrittenAsWmiWritesIt(obrin::wql::ReadObjectPath(text)));
    return 0;
}
