// The disks of the stand-in model as Windows' WMI shows them in root\cimv2:
// the instances of Win32_DiskDrive, Win32_DiskPartition, Win32_LogicalDisk and
// Win32_Volume with the keys, properties and CIM types Windows gives them,
// the two associations between them, and what the WQL and object paths that
// reach them mean (read by sim/wql). Free of <windows.h>, so it also builds
// natively; text is UTF-8 as in the model. firmwmi.dll serves it through COM
// (sim/firmware/disk_classes.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/disk/disk_model.h"
#include "sim/wql/wql.h"

namespace obrin::disksim::wmi {

enum class DiskClass { DiskDrive, DiskPartition, LogicalDisk, Volume };

[[nodiscard]] std::string_view ClassName(DiskClass diskClass) noexcept;
// The direct superclass, as __SUPERCLASS reads.
[[nodiscard]] std::string_view SuperclassName(DiskClass diskClass) noexcept;
// Any case; nullopt for every other class.
[[nodiscard]] std::optional<DiskClass> FindDiskClass(std::string_view name) noexcept;

// Every instance of these classes has one key, DeviceID.
inline constexpr std::string_view kKeyProperty = "DeviceID";

enum class CimKind { String, UInt32, UInt64, Boolean };

struct Property {
    std::string name;
    CimKind kind = CimKind::String;
    bool null = false;
    std::string text;  // String
    uint64_t number = 0;  // UInt32, UInt64; Boolean as 0 or 1
};

struct DiskObject {
    DiskClass diskClass = DiskClass::DiskDrive;
    std::vector<Property> properties;  // the key first

    [[nodiscard]] const Property* Find(std::string_view name) const noexcept;
    [[nodiscard]] const std::string& DeviceId() const noexcept { return properties.front().text; }
};

// Which two objects an association instance links, by their positions in the
// class lists of the view.
struct Link {
    size_t antecedent = 0;
    size_t dependent = 0;
};

struct DiskView {
    std::vector<DiskObject> drives;
    std::vector<DiskObject> partitions;
    std::vector<DiskObject> logicalDisks;
    std::vector<DiskObject> volumes;
    std::vector<Link> driveToPartition;  // Win32_DiskDriveToDiskPartition: drives -> partitions
    std::vector<Link> partitionToLogicalDisk;  // Win32_LogicalDiskToPartition: partitions -> logical disks

    [[nodiscard]] const std::vector<DiskObject>& Objects(DiskClass diskClass) const noexcept;
};

// `systemName` is the computer's name (SystemName). Throws std::bad_alloc.
//  - disks in index order, sizes in bytes of their sectors; Win32_DiskPartition
//    lists every partition of the layout but the Microsoft reserved one, in
//    partition-number order (disk order under the disk-order numbering), Index
//    counting from 0 ("Disk #0, Partition #2"), with GPT or MBR types as
//    Windows words them;
//  - a logical disk for every volume with a drive letter, in letter order;
//  - a volume for every partition that has one (HasVolume): hidden partitions
//    and the MSR have none; a RAW volume has no file system, capacity or free
//    space (NULL).
[[nodiscard]] DiskView BuildDiskView(const Model& model, std::string_view systemName);

struct DiskQuery {
    enum class Kind { Select, Associators };
    Kind kind = Kind::Select;
    DiskClass diskClass = DiskClass::DiskDrive;  // Select: the class; Associators: the source's class
    std::vector<std::string> selected;  // Select: empty for *
    std::vector<wql::Condition> conditions;  // Select: all must hold
    // Associators: the source's DeviceID unescaped, and as it was written
    // between the quotes.
    std::string sourceKey;
    std::string sourceKeyAsWritten;
    std::string assocClass;  // empty: any
    std::string resultClass;
    std::string role;
    std::string resultRole;
};

struct ParsedQuery {
    enum class Verdict {
        NotDisk,  // about no class of this view: Wine answers it
        Disk,  // answered by RunDiskQuery
        Invalid,  // about a class of this view, but not valid WQL for it
        Unsupported,  // about a class of this view, in WQL this view does not answer
    };
    Verdict verdict = Verdict::NotDisk;
    DiskQuery query;
};

// What a query (wql::ReadStatement) means for the view: SELECT over one of
// its classes, with properties and conditions it has, or ASSOCIATORS OF one
// of its objects. Throws std::bad_alloc.
[[nodiscard]] ParsedQuery ParseDiskQuery(std::string_view wql);

// The objects that answer a query the parser found to be about the view;
// objects of a SELECT with a property list keep the key and those properties.
[[nodiscard]] std::vector<DiskObject> RunDiskQuery(const DiskView& view, const DiskQuery& query);

// An instance path (wql::ReadObjectPath, blanks around it ignored) of the
// view's classes in root\cimv2: "[\\server\root\cimv2:]Class.DeviceID="value"",
// also with single quotes or without the key's name ("Class='value'").
// Windows accepts a DeviceID pasted between the quotes as it reads (so
// "\\.\PHYSICALDRIVE0" with single backslashes) as well as escaped, so both
// find the object.
struct ObjectPathKey {
    DiskClass diskClass = DiskClass::DiskDrive;
    std::string key;
    std::string keyAsWritten;
};
struct ParsedPath {
    ParsedQuery::Verdict verdict = ParsedQuery::Verdict::NotDisk;  // NotDisk, Disk or Invalid
    ObjectPathKey path;
};
[[nodiscard]] ParsedPath ParseDiskObjectPath(std::string_view path);
[[nodiscard]] const DiskObject* FindDiskObject(const DiskView& view, const ObjectPathKey& path) noexcept;

}  // namespace obrin::disksim::wmi
