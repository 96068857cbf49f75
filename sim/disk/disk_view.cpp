#include "sim/disk/disk_view.h"

#include <algorithm>
#include <iterator>

#include "sim/wql/wql.h"

namespace obrin::disksim::wmi {
namespace {

constexpr std::string_view kCimNamespace = "root\\cimv2";

// A class with the chain of its superclasses, nearest first: a query's
// ResultClass or AssocClass names the class or one of them.
struct ClassChain {
    std::string_view name;
    std::string_view ancestors[5];
};

constexpr ClassChain kDiskClasses[] = {
    {"Win32_DiskDrive",
     {"CIM_DiskDrive", "CIM_MediaAccessDevice", "CIM_LogicalDevice", "CIM_LogicalElement", "CIM_ManagedSystemElement"}},
    {"Win32_DiskPartition",
     {"CIM_DiskPartition", "CIM_StorageExtent", "CIM_LogicalDevice", "CIM_LogicalElement", "CIM_ManagedSystemElement"}},
    {"Win32_LogicalDisk",
     {"CIM_LogicalDisk", "CIM_StorageExtent", "CIM_LogicalDevice", "CIM_LogicalElement", "CIM_ManagedSystemElement"}},
    {"Win32_Volume",
     {"CIM_StorageVolume", "CIM_StorageExtent", "CIM_LogicalDevice", "CIM_LogicalElement", "CIM_ManagedSystemElement"}},
};
constexpr ClassChain kDriveToPartition = {"Win32_DiskDriveToDiskPartition", {"CIM_MediaPresent", "CIM_Dependency"}};
constexpr ClassChain kLogicalDiskToPartition = {
    "Win32_LogicalDiskToPartition", {"CIM_LogicalDiskBasedOnPartition", "CIM_BasedOn", "CIM_Dependency"}};

const ClassChain& Chain(DiskClass diskClass) noexcept
{
    return kDiskClasses[static_cast<size_t>(diskClass)];
}

// An empty filter admits every class.
bool IsOrDerivesFrom(const ClassChain& chain, std::string_view filter) noexcept
{
    if (filter.empty() || EqualsNoCase(chain.name, filter))
        return true;
    return std::any_of(std::begin(chain.ancestors), std::end(chain.ancestors),
                       [&](std::string_view ancestor) { return !ancestor.empty() && EqualsNoCase(ancestor, filter); });
}

// The bytes a partition's files take, at most its size.
uint64_t UsedBytes(const Disk& disk, const Partition& partition) noexcept
{
    const uint64_t size = disk.Bytes(partition.sizeSectors);
    return partition.usedMb > size / kBytesPerMb ? size : partition.usedMb * kBytesPerMb;
}

void AddString(DiskObject& object, std::string_view name, std::string value)
{
    object.properties.push_back({std::string(name), CimKind::String, false, std::move(value), 0});
}

void AddNumber(DiskObject& object, std::string_view name, CimKind kind, uint64_t value)
{
    object.properties.push_back({std::string(name), kind, false, {}, value});
}

void AddNull(DiskObject& object, std::string_view name, CimKind kind)
{
    object.properties.push_back({std::string(name), kind, true, {}, 0});
}

void AddSystemNames(DiskObject& object, std::string_view systemName)
{
    AddString(object, "CreationClassName", std::string(ClassName(object.diskClass)));
    AddString(object, "SystemCreationClassName", "Win32_ComputerSystem");
    AddString(object, "SystemName", std::string(systemName));
}

// Without a file system (RAW) a volume reports no size, free space or name.
void AddFileSystem(DiskObject& object, const Disk& disk, const Partition& partition, std::string_view sizeName,
                   std::string_view labelName, bool emptyLabelIsNull)
{
    if (partition.fileSystem.empty()) {
        AddNull(object, "FileSystem", CimKind::String);
        AddNull(object, sizeName, CimKind::UInt64);
        AddNull(object, "FreeSpace", CimKind::UInt64);
        AddNull(object, labelName, CimKind::String);
        return;
    }
    AddString(object, "FileSystem", partition.fileSystem);
    AddNumber(object, sizeName, CimKind::UInt64, disk.Bytes(partition.sizeSectors));
    AddNumber(object, "FreeSpace", CimKind::UInt64, disk.Bytes(partition.sizeSectors) - UsedBytes(disk, partition));
    if (partition.label.empty() && emptyLabelIsNull)
        AddNull(object, labelName, CimKind::String);
    else
        AddString(object, labelName, partition.label);
}

DiskObject MakeDrive(const Disk& disk, uint32_t listedPartitions, std::string_view systemName)
{
    DiskObject object{DiskClass::DiskDrive, {}};
    AddString(object, kKeyProperty, disk.devicePath);
    AddNumber(object, "Index", CimKind::UInt32, disk.index);
    AddString(object, "Name", disk.devicePath);
    const char* model = disk.removable ? "Stand-in USB Device" : "Stand-in Disk Device";
    AddString(object, "Caption", model);
    AddString(object, "Model", model);
    AddString(object, "InterfaceType", disk.removable ? "USB" : "SCSI");
    AddString(object, "MediaType", disk.removable ? "Removable Media" : "Fixed hard disk media");
    AddNumber(object, "Partitions", CimKind::UInt32, listedPartitions);
    AddNumber(object, "BytesPerSector", CimKind::UInt32, disk.bytesPerSector);
    AddNumber(object, "Size", CimKind::UInt64, disk.Bytes(disk.sizeSectors));
    if (disk.style == PartitionStyle::Mbr)
        AddNumber(object, "Signature", CimKind::UInt32, disk.signature);
    else
        AddNull(object, "Signature", CimKind::UInt32);
    AddString(object, "Status", "OK");
    AddSystemNames(object, systemName);
    return object;
}

DiskObject MakePartition(const Disk& disk, const Partition& partition, uint32_t index, std::string_view systemName)
{
    DiskObject object{DiskClass::DiskPartition, {}};
    const std::string id = "Disk #" + std::to_string(disk.index) + ", Partition #" + std::to_string(index);
    AddString(object, kKeyProperty, id);
    AddString(object, "Name", id);
    AddString(object, "Caption", id);
    const std::string type(DescribeType(partition.type).wmiType);
    AddString(object, "Type", type);
    AddString(object, "Description", type);
    AddNumber(object, "Index", CimKind::UInt32, index);
    AddNumber(object, "DiskIndex", CimKind::UInt32, disk.index);
    AddNumber(object, "Size", CimKind::UInt64, disk.Bytes(partition.sizeSectors));
    AddNumber(object, "StartingOffset", CimKind::UInt64, disk.Bytes(partition.offsetSectors));
    AddNumber(object, "BlockSize", CimKind::UInt64, disk.bytesPerSector);
    AddNumber(object, "NumberOfBlocks", CimKind::UInt64, partition.sizeSectors);
    AddSystemNames(object, systemName);
    return object;
}

std::string Drive(char letter)
{
    return {letter, ':'};
}

DiskObject MakeLogicalDisk(const Disk& disk, const Partition& partition, std::string_view systemName)
{
    DiskObject object{DiskClass::LogicalDisk, {}};
    AddString(object, kKeyProperty, Drive(partition.letter));
    AddString(object, "Name", Drive(partition.letter));
    AddString(object, "Caption", Drive(partition.letter));
    AddString(object, "Description", disk.removable ? "Removable Disk" : "Local Fixed Disk");
    AddNumber(object, "DriveType", CimKind::UInt32, disk.removable ? 2 : 3);
    AddFileSystem(object, disk, partition, "Size", "VolumeName", false);
    AddSystemNames(object, systemName);
    return object;
}

DiskObject MakeVolume(const Disk& disk, const Partition& partition, std::string_view systemName)
{
    DiskObject object{DiskClass::Volume, {}};
    const std::string id = VolumeGuidPath(partition.volumeId);
    // A volume is named by its first mount point, else by its GUID path.
    const std::string name = partition.letter ? Drive(partition.letter) + "\\" : id;
    AddString(object, kKeyProperty, id);
    AddString(object, "Name", name);
    AddString(object, "Caption", name);
    if (partition.letter)
        AddString(object, "DriveLetter", Drive(partition.letter));
    else
        AddNull(object, "DriveLetter", CimKind::String);
    AddNumber(object, "DriveType", CimKind::UInt32, disk.removable ? 2 : 3);
    AddFileSystem(object, disk, partition, "Capacity", "Label", true);
    AddNumber(object, "BootVolume", CimKind::Boolean, partition.folder == kSystemFolder);
    // The volume the firmware boots from: the EFI system partition, or the
    // active partition of an MBR disk.
    AddNumber(object, "SystemVolume", CimKind::Boolean, partition.type == kTypeEfi || partition.active);
    AddSystemNames(object, systemName);
    return object;
}

// One instance of the class built from empty records: what properties it has.
const DiskObject& Prototype(DiskClass diskClass)
{
    static const DiskObject prototypes[] = {
        MakeDrive(Disk{}, 0, {}),
        MakePartition(Disk{}, Partition{}, 0, {}),
        MakeLogicalDisk(Disk{}, Partition{}, {}),
        MakeVolume(Disk{}, Partition{}, {}),
    };
    return prototypes[static_cast<size_t>(diskClass)];
}

using Verdict = ParsedQuery::Verdict;

ParsedQuery Judged(Verdict verdict)
{
    ParsedQuery parsed;
    parsed.verdict = verdict;
    return parsed;
}

Verdict VerdictOf(wql::Problem problem) noexcept
{
    switch (problem) {
    case wql::Problem::Invalid:
        return Verdict::Invalid;
    case wql::Problem::Unsupported:
        return Verdict::Unsupported;
    case wql::Problem::None:
        break;
    }
    return Verdict::Disk;
}

bool HasProperty(DiskClass diskClass, std::string_view name)
{
    return Prototype(diskClass).Find(name) != nullptr;
}

// A SELECT about a disk class: its property names are checked before what
// follows them, and the conditions read before any unsupported one.
ParsedQuery JudgeSelect(wql::Statement& statement)
{
    const auto diskClass = FindDiskClass(statement.className);
    if (!diskClass)
        return Judged(Verdict::NotDisk);
    const auto known = [&](const std::string& name) { return HasProperty(*diskClass, name); };
    const auto knownCondition = [&](const wql::Condition& condition) { return known(condition.property); };
    if (!std::all_of(statement.properties.begin(), statement.properties.end(), known) ||
        !std::all_of(statement.conditions.begin(), statement.conditions.end(), knownCondition))
        return Judged(Verdict::Invalid);
    ParsedQuery parsed = Judged(VerdictOf(statement.problem));
    if (parsed.verdict != Verdict::Disk)
        return parsed;
    parsed.query.kind = DiskQuery::Kind::Select;
    parsed.query.diskClass = *diskClass;
    parsed.query.selected = std::move(statement.properties);
    parsed.query.conditions = std::move(statement.conditions);
    return parsed;
}

// ASSOCIATORS OF or REFERENCES OF a disk object: the source path is judged first.
ParsedQuery JudgeAssociators(wql::Statement& statement)
{
    const ParsedPath source = ParseDiskObjectPath(statement.sourcePath);
    if (source.verdict != Verdict::Disk)
        return Judged(source.verdict);
    // REFERENCES OF yields association instances, which this view does not make.
    if (statement.kind == wql::Statement::Kind::References)
        return Judged(Verdict::Unsupported);
    ParsedQuery parsed = Judged(VerdictOf(statement.problem));
    if (parsed.verdict != Verdict::Disk)
        return parsed;
    parsed.query.kind = DiskQuery::Kind::Associators;
    parsed.query.diskClass = source.path.diskClass;
    parsed.query.sourceKey = source.path.key;
    parsed.query.sourceKeyAsWritten = source.path.keyAsWritten;
    parsed.query.assocClass = std::move(statement.assocClass);
    parsed.query.resultClass = std::move(statement.resultClass);
    parsed.query.role = std::move(statement.role);
    parsed.query.resultRole = std::move(statement.resultRole);
    return parsed;
}

std::string_view Trimmed(std::string_view text) noexcept
{
    constexpr std::string_view blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) + 1 - first);
}

bool Matches(const Property& property, const std::string& literal)
{
    if (property.null)
        return false;
    switch (property.kind) {
    case CimKind::String:
        return EqualsNoCase(property.text, literal);
    case CimKind::Boolean:
        return EqualsNoCase(property.number ? "TRUE" : "FALSE", literal);
    default:
        return std::to_string(property.number) == literal;
    }
}

DiskObject Project(const DiskObject& object, const std::vector<std::string>& selected)
{
    if (selected.empty())
        return object;
    DiskObject projected{object.diskClass, {object.properties.front()}};
    for (size_t i = 1; i < object.properties.size(); ++i) {
        const Property& property = object.properties[i];
        if (std::any_of(selected.begin(), selected.end(),
                        [&](const std::string& name) { return EqualsNoCase(name, property.name); }))
            projected.properties.push_back(property);
    }
    return projected;
}

std::optional<size_t> FindIndex(const std::vector<DiskObject>& objects, std::string_view key,
                                std::string_view keyAsWritten) noexcept
{
    for (size_t i = 0; i < objects.size(); ++i) {
        if (EqualsNoCase(objects[i].DeviceId(), key) || EqualsNoCase(objects[i].DeviceId(), keyAsWritten))
            return i;
    }
    return std::nullopt;
}

}  // namespace

std::string_view ClassName(DiskClass diskClass) noexcept
{
    return Chain(diskClass).name;
}

std::string_view SuperclassName(DiskClass diskClass) noexcept
{
    return Chain(diskClass).ancestors[0];
}

std::optional<DiskClass> FindDiskClass(std::string_view name) noexcept
{
    for (size_t i = 0; i < std::size(kDiskClasses); ++i) {
        if (EqualsNoCase(kDiskClasses[i].name, name))
            return static_cast<DiskClass>(i);
    }
    return std::nullopt;
}

const Property* DiskObject::Find(std::string_view name) const noexcept
{
    for (const Property& property : properties) {
        if (EqualsNoCase(property.name, name))
            return &property;
    }
    return nullptr;
}

const std::vector<DiskObject>& DiskView::Objects(DiskClass diskClass) const noexcept
{
    switch (diskClass) {
    case DiskClass::DiskDrive:
        return drives;
    case DiskClass::DiskPartition:
        return partitions;
    case DiskClass::LogicalDisk:
        return logicalDisks;
    default:
        return volumes;
    }
}

DiskView BuildDiskView(const Model& model, std::string_view systemName)
{
    DiskView view;
    std::vector<const Disk*> disks;
    for (const Disk& disk : model.disks)
        disks.push_back(&disk);
    std::sort(disks.begin(), disks.end(), [](const Disk* a, const Disk* b) { return a->index < b->index; });

    struct Lettered {
        char letter;
        size_t partition;
        const Disk* disk;
        const Partition* source;
    };
    std::vector<Lettered> lettered;
    for (const Disk* disk : disks) {
        // The layout lists the partition entries in number order.
        std::vector<const Partition*> layout;
        for (const Partition& partition : disk->partitions)
            layout.push_back(&partition);
        std::sort(layout.begin(), layout.end(), [](const Partition* a, const Partition* b) { return a->number < b->number; });
        std::vector<const Partition*> listed;
        std::copy_if(layout.begin(), layout.end(), std::back_inserter(listed),
                     [](const Partition* p) { return p->type != kTypeMsr; });

        const size_t drive = view.drives.size();
        view.drives.push_back(MakeDrive(*disk, static_cast<uint32_t>(listed.size()), systemName));
        for (size_t i = 0; i < listed.size(); ++i) {
            view.driveToPartition.push_back({drive, view.partitions.size()});
            if (listed[i]->letter && HasVolume(*listed[i]))
                lettered.push_back({listed[i]->letter, view.partitions.size(), disk, listed[i]});
            view.partitions.push_back(MakePartition(*disk, *listed[i], static_cast<uint32_t>(i), systemName));
        }
        for (const Partition* partition : layout) {
            if (HasVolume(*partition))
                view.volumes.push_back(MakeVolume(*disk, *partition, systemName));
        }
    }
    std::sort(lettered.begin(), lettered.end(), [](const Lettered& a, const Lettered& b) { return a.letter < b.letter; });
    for (const Lettered& entry : lettered) {
        view.partitionToLogicalDisk.push_back({entry.partition, view.logicalDisks.size()});
        view.logicalDisks.push_back(MakeLogicalDisk(*entry.disk, *entry.source, systemName));
    }
    return view;
}

ParsedQuery ParseDiskQuery(std::string_view wql)
{
    wql::Statement statement = wql::ReadStatement(wql);
    switch (statement.kind) {
    case wql::Statement::Kind::Select:
        return JudgeSelect(statement);
    case wql::Statement::Kind::Associators:
    case wql::Statement::Kind::References:
        return JudgeAssociators(statement);
    case wql::Statement::Kind::Other:
        break;
    }
    return Judged(Verdict::NotDisk);
}

std::vector<DiskObject> RunDiskQuery(const DiskView& view, const DiskQuery& query)
{
    std::vector<DiskObject> results;
    const std::vector<DiskObject>& objects = view.Objects(query.diskClass);
    if (query.kind == DiskQuery::Kind::Select) {
        for (const DiskObject& object : objects) {
            const bool all = std::all_of(query.conditions.begin(), query.conditions.end(), [&](const wql::Condition& c) {
                const Property* property = object.Find(c.property);
                return property && Matches(*property, c.literal);
            });
            if (all)
                results.push_back(Project(object, query.selected));
        }
        return results;
    }

    const auto source = FindIndex(objects, query.sourceKey, query.sourceKeyAsWritten);
    if (!source)
        return results;
    const auto walk = [&](const std::vector<Link>& links, const ClassChain& association, DiskClass antecedentClass,
                          DiskClass dependentClass) {
        if (!IsOrDerivesFrom(association, query.assocClass))
            return;
        const bool fromAntecedent = query.diskClass == antecedentClass;
        if (!fromAntecedent && query.diskClass != dependentClass)
            return;
        const std::string_view role = fromAntecedent ? "Antecedent" : "Dependent";
        const std::string_view resultRole = fromAntecedent ? "Dependent" : "Antecedent";
        const DiskClass resultClass = fromAntecedent ? dependentClass : antecedentClass;
        if ((!query.role.empty() && !EqualsNoCase(query.role, role)) ||
            (!query.resultRole.empty() && !EqualsNoCase(query.resultRole, resultRole)) ||
            !IsOrDerivesFrom(Chain(resultClass), query.resultClass))
            return;
        for (const Link& link : links) {
            if ((fromAntecedent ? link.antecedent : link.dependent) == *source)
                results.push_back(view.Objects(resultClass)[fromAntecedent ? link.dependent : link.antecedent]);
        }
    };
    walk(view.driveToPartition, kDriveToPartition, DiskClass::DiskDrive, DiskClass::DiskPartition);
    walk(view.partitionToLogicalDisk, kLogicalDiskToPartition, DiskClass::DiskPartition, DiskClass::LogicalDisk);
    return results;
}

ParsedPath ParseDiskObjectPath(std::string_view path)
{
    ParsedPath parsed;
    const wql::ObjectPath read = wql::ReadObjectPath(Trimmed(path));
    const auto diskClass = FindDiskClass(read.className);
    if ((!read.nameSpace.empty() && !EqualsNoCase(read.nameSpace, kCimNamespace)) || !diskClass)
        return parsed;
    // A class path names the class definition, which stays Wine's.
    if (read.complete && !read.instance)
        return parsed;
    parsed.verdict = Verdict::Invalid;
    parsed.path.diskClass = *diskClass;
    if (!read.complete || !read.keyQuoted || (!read.keyName.empty() && !EqualsNoCase(read.keyName, kKeyProperty)))
        return parsed;
    parsed.path.key = read.key.value;
    parsed.path.keyAsWritten = read.key.asWritten;
    parsed.verdict = Verdict::Disk;
    return parsed;
}

const DiskObject* FindDiskObject(const DiskView& view, const ObjectPathKey& path) noexcept
{
    const std::vector<DiskObject>& objects = view.Objects(path.diskClass);
    const auto index = FindIndex(objects, path.key, path.keyAsWritten);
    return index ? &objects[*index] : nullptr;
}

}  // namespace obrin::disksim::wmi
