#include "sim/firmware/disk_view.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace firmsim::disks {
namespace {

using obrin::disksim::Disk;
using obrin::disksim::EqualsNoCase;
using obrin::disksim::kBytesPerMb;
using obrin::disksim::PartitionStyle;
using obrin::disksim::Model;
using obrin::disksim::Partition;

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

// Windows' words for an MBR partition's type byte.
std::string MbrTypeText(uint8_t type)
{
    switch (type) {
    case 0x01:
        return "12-bit FAT";
    case 0x02:
        return "Xenix Type 1";
    case 0x03:
        return "Xenix Type 2";
    case 0x04:
        return "16-bit FAT";
    case 0x05:
        return "Extended Partition";
    case 0x06:
        return "MS-DOS V4 Huge";
    case 0x07:
        return "Installable File System";
    case 0x0b:
    case 0x0c:
    case 0x0e:
        return "Win95 w/Extended Int 13";
    case 0x0f:
        return "Extended w/Extended Int 13";
    case 0x41:
        return "PowerPC Reference Platform";
    case 0x42:
        return "Logical Disk Manager";
    case 0x63:
        return "UNIX";
    default:
        return "Unknown";
    }
}

std::string PartitionTypeText(const Partition& partition)
{
    if (const std::optional<uint8_t> mbrType = obrin::disksim::MbrTypeByte(partition.type))
        return MbrTypeText(*mbrType);
    if (partition.type == obrin::disksim::kTypeEfi)
        return "GPT: System";
    if (partition.type == obrin::disksim::kTypeBasicData)
        return "GPT: Basic Data";
    return "GPT: Unknown";
}

DiskObject MakePartition(const Disk& disk, const Partition& partition, uint32_t index, std::string_view systemName)
{
    DiskObject object{DiskClass::DiskPartition, {}};
    const std::string id = "Disk #" + std::to_string(disk.index) + ", Partition #" + std::to_string(index);
    AddString(object, kKeyProperty, id);
    AddString(object, "Name", id);
    AddString(object, "Caption", id);
    AddString(object, "Type", PartitionTypeText(partition));
    AddString(object, "Description", PartitionTypeText(partition));
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
    const std::string id = obrin::disksim::VolumeGuidPath(partition.volumeId);
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
    AddNumber(object, "BootVolume", CimKind::Boolean, partition.folder == obrin::disksim::kSystemFolder);
    // The volume the firmware boots from: the EFI system partition, or the
    // active partition of an MBR disk.
    AddNumber(object, "SystemVolume", CimKind::Boolean, partition.type == obrin::disksim::kTypeEfi || partition.active);
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

bool IsBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsWordChar(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// A literal in single or double quotes starting at text[pos]. A backslash
// escapes a backslash or a quote; before anything else it stands for itself.
// `asWritten` is what stood between the quotes.
bool ReadQuoted(std::string_view text, size_t& pos, std::string& value, std::string& asWritten)
{
    const char quote = text[pos++];
    const size_t start = pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == quote) {
            asWritten = std::string(text.substr(start, pos - 1 - start));
            return true;
        }
        if (c == '\\' && pos < text.size() && (text[pos] == '\\' || text[pos] == '\'' || text[pos] == '"')) {
            value.push_back(text[pos++]);
            continue;
        }
        value.push_back(c);
    }
    return false;
}

struct Token {
    enum class Kind { Word, String, Number, Symbol };
    Kind kind = Kind::Word;
    std::string text;  // a string unescaped, a number in decimal

    [[nodiscard]] bool IsWord(std::string_view word) const noexcept
    {
        return kind == Kind::Word && EqualsNoCase(text, word);
    }
    [[nodiscard]] bool IsSymbol(char symbol) const noexcept
    {
        return kind == Kind::Symbol && text.size() == 1 && text[0] == symbol;
    }
};

// Decimal or 0x hexadecimal, unsigned 64 bits.
std::optional<uint64_t> ParseUnsigned(std::string_view text) noexcept
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::vector<Token>> Tokenize(std::string_view text)
{
    std::vector<Token> tokens;
    size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (IsBlank(c)) {
            ++pos;
            continue;
        }
        Token token;
        if (c == '\'' || c == '"') {
            std::string ignored;
            if (!ReadQuoted(text, pos, token.text, ignored))
                return std::nullopt;
            token.kind = Token::Kind::String;
        } else if (IsWordChar(c)) {
            const size_t start = pos;
            while (pos < text.size() && IsWordChar(text[pos]))
                ++pos;
            const std::string_view word = text.substr(start, pos - start);
            if (IsDigit(c)) {
                const auto number = ParseUnsigned(word);
                if (!number)
                    return std::nullopt;
                token.kind = Token::Kind::Number;
                token.text = std::to_string(*number);
            } else {
                token.text = std::string(word);
            }
        } else {
            token.kind = Token::Kind::Symbol;
            token.text = std::string(1, c);
            ++pos;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

using Verdict = ParsedQuery::Verdict;

ParsedQuery Judged(Verdict verdict)
{
    ParsedQuery parsed;
    parsed.verdict = verdict;
    return parsed;
}

bool HasProperty(DiskClass diskClass, std::string_view name)
{
    return Prototype(diskClass).Find(name) != nullptr;
}

// The text a literal compares by.
std::optional<std::string> LiteralText(const Token& token)
{
    if (token.kind == Token::Kind::String || token.kind == Token::Kind::Number)
        return token.text;
    if (token.IsWord("TRUE") || token.IsWord("FALSE"))
        return token.IsWord("TRUE") ? "TRUE" : "FALSE";
    return std::nullopt;
}

ParsedQuery ParseSelect(const std::vector<Token>& tokens)
{
    size_t from = 1;
    while (from < tokens.size() && !tokens[from].IsWord("FROM"))
        ++from;
    if (from + 1 >= tokens.size() || tokens[from + 1].kind != Token::Kind::Word)
        return Judged(Verdict::NotDisk);
    const auto diskClass = FindDiskClass(tokens[from + 1].text);
    if (!diskClass)
        return Judged(Verdict::NotDisk);

    ParsedQuery parsed = Judged(Verdict::Disk);
    parsed.query.kind = DiskQuery::Kind::Select;
    parsed.query.diskClass = *diskClass;
    if (from == 2 && tokens[1].IsSymbol('*')) {
        // every property
    } else {
        // p1, p2, ...: names at odd positions, commas between them.
        if (from < 2 || from % 2 != 0)
            return Judged(Verdict::Invalid);
        for (size_t i = 1; i < from; ++i) {
            const bool nameSlot = i % 2 == 1;
            if (nameSlot ? tokens[i].kind != Token::Kind::Word : !tokens[i].IsSymbol(','))
                return Judged(Verdict::Invalid);
            if (nameSlot && !HasProperty(*diskClass, tokens[i].text))
                return Judged(Verdict::Invalid);
            if (nameSlot)
                parsed.query.selected.push_back(tokens[i].text);
        }
    }

    size_t pos = from + 2;
    if (pos == tokens.size())
        return parsed;
    if (!tokens[pos].IsWord("WHERE") || pos + 1 == tokens.size())
        return Judged(Verdict::Invalid);
    ++pos;
    for (;;) {
        // Only "property = literal" joined by AND; OR, NOT, LIKE, ISA,
        // comparisons and parentheses are WQL too, but not served here.
        if (pos + 3 > tokens.size() || tokens[pos].kind != Token::Kind::Word || !tokens[pos + 1].IsSymbol('='))
            return Judged(Verdict::Unsupported);
        const auto literal = LiteralText(tokens[pos + 2]);
        if (!literal)
            return Judged(Verdict::Unsupported);
        if (!HasProperty(*diskClass, tokens[pos].text))
            return Judged(Verdict::Invalid);
        parsed.query.conditions.push_back({tokens[pos].text, *literal});
        pos += 3;
        if (pos == tokens.size())
            return parsed;
        if (!tokens[pos].IsWord("AND") || pos + 1 == tokens.size())
            return Judged(Verdict::Unsupported);
        ++pos;
    }
}

size_t SkipBlanks(std::string_view text, size_t pos) noexcept
{
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    return pos;
}

// Whether the word at pos (whole, any case) is `word`; moves past it.
bool TakeWord(std::string_view text, size_t& pos, std::string_view word) noexcept
{
    if (text.size() - pos < word.size() || !EqualsNoCase(text.substr(pos, word.size()), word))
        return false;
    if (pos + word.size() < text.size() && IsWordChar(text[pos + word.size()]))
        return false;
    pos += word.size();
    return true;
}

// The object path between "{" at pos and its "}", quotes respected; pos ends
// past the "}".
std::optional<std::string_view> BracedPath(std::string_view text, size_t& pos)
{
    if (pos >= text.size() || text[pos] != '{')
        return std::nullopt;
    const size_t start = ++pos;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '}') {
            ++pos;
            return text.substr(start, pos - 1 - start);
        }
        if (c == '\'' || c == '"') {
            std::string value, asWritten;
            if (!ReadQuoted(text, pos, value, asWritten))
                return std::nullopt;
            continue;
        }
        ++pos;
    }
    return std::nullopt;
}

ParsedQuery ParseAssociators(std::string_view wql, size_t pos, bool references)
{
    pos = SkipBlanks(wql, pos);
    if (!TakeWord(wql, pos, "OF"))
        return Judged(Verdict::NotDisk);
    pos = SkipBlanks(wql, pos);
    const auto path = BracedPath(wql, pos);
    if (!path)
        return Judged(Verdict::NotDisk);
    const ParsedPath source = ParseDiskObjectPath(*path);
    if (source.verdict != Verdict::Disk)
        return Judged(source.verdict);
    // REFERENCES OF yields association instances, which this view does not make.
    if (references)
        return Judged(Verdict::Unsupported);

    ParsedQuery parsed = Judged(Verdict::Disk);
    parsed.query.kind = DiskQuery::Kind::Associators;
    parsed.query.diskClass = source.path.diskClass;
    parsed.query.sourceKey = source.path.key;
    parsed.query.sourceKeyAsWritten = source.path.keyAsWritten;

    const auto tokens = Tokenize(wql.substr(pos));
    if (!tokens)
        return Judged(Verdict::Invalid);
    if (tokens->empty())
        return parsed;
    if (!(*tokens)[0].IsWord("WHERE") || tokens->size() == 1)
        return Judged(Verdict::Invalid);
    for (size_t i = 1; i < tokens->size(); i += 3) {
        const Token& keyword = (*tokens)[i];
        std::string* target = keyword.IsWord("AssocClass")    ? &parsed.query.assocClass
                              : keyword.IsWord("ResultClass") ? &parsed.query.resultClass
                              : keyword.IsWord("Role")        ? &parsed.query.role
                              : keyword.IsWord("ResultRole")  ? &parsed.query.resultRole
                                                              : nullptr;
        if (!target) {
            const bool known = keyword.IsWord("ClassDefsOnly") || keyword.IsWord("KeysOnly") ||
                               keyword.IsWord("SchemaOnly") || keyword.IsWord("RequiredQualifier") ||
                               keyword.IsWord("RequiredAssocQualifier");
            return Judged(known ? Verdict::Unsupported : Verdict::Invalid);
        }
        if (i + 2 >= tokens->size() || !(*tokens)[i + 1].IsSymbol('=') ||
            (*tokens)[i + 2].kind != Token::Kind::Word)
            return Judged(Verdict::Invalid);
        *target = (*tokens)[i + 2].text;
    }
    return parsed;
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
                     [](const Partition* p) { return p->type != obrin::disksim::kTypeMsr; });

        const size_t drive = view.drives.size();
        view.drives.push_back(MakeDrive(*disk, static_cast<uint32_t>(listed.size()), systemName));
        for (size_t i = 0; i < listed.size(); ++i) {
            view.driveToPartition.push_back({drive, view.partitions.size()});
            if (listed[i]->letter && obrin::disksim::HasVolume(*listed[i]))
                lettered.push_back({listed[i]->letter, view.partitions.size(), disk, listed[i]});
            view.partitions.push_back(MakePartition(*disk, *listed[i], static_cast<uint32_t>(i), systemName));
        }
        for (const Partition* partition : layout) {
            if (obrin::disksim::HasVolume(*partition))
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
    size_t pos = SkipBlanks(wql, 0);
    if (TakeWord(wql, pos, "ASSOCIATORS"))
        return ParseAssociators(wql, pos, false);
    if (TakeWord(wql, pos, "REFERENCES"))
        return ParseAssociators(wql, pos, true);
    const auto tokens = Tokenize(wql);
    if (!tokens || tokens->empty() || !(*tokens)[0].IsWord("SELECT"))
        return Judged(Verdict::NotDisk);
    return ParseSelect(*tokens);
}

std::vector<DiskObject> RunDiskQuery(const DiskView& view, const DiskQuery& query)
{
    std::vector<DiskObject> results;
    const std::vector<DiskObject>& objects = view.Objects(query.diskClass);
    if (query.kind == DiskQuery::Kind::Select) {
        for (const DiskObject& object : objects) {
            const bool all = std::all_of(query.conditions.begin(), query.conditions.end(), [&](const Condition& c) {
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
    while (!path.empty() && IsBlank(path.front()))
        path.remove_prefix(1);
    while (!path.empty() && IsBlank(path.back()))
        path.remove_suffix(1);
    // A namespace prefix ends at the first colon before the key ("C:" has one too).
    const size_t colon = path.find(':');
    if (colon != std::string_view::npos && colon < path.find_first_of(".=")) {
        std::string_view nameSpace = path.substr(0, colon);
        if (nameSpace.size() > 2 && nameSpace[0] == '\\' && nameSpace[1] == '\\') {
            const size_t serverEnd = nameSpace.find('\\', 2);
            nameSpace = serverEnd == std::string_view::npos ? std::string_view() : nameSpace.substr(serverEnd + 1);
        }
        if (!EqualsNoCase(nameSpace, kCimNamespace))
            return parsed;
        path.remove_prefix(colon + 1);
    }
    size_t pos = 0;
    while (pos < path.size() && IsWordChar(path[pos]))
        ++pos;
    const auto diskClass = FindDiskClass(path.substr(0, pos));
    // A class path names the class definition, which stays Wine's.
    if (!diskClass || pos == path.size())
        return parsed;
    parsed.verdict = Verdict::Invalid;
    parsed.path.diskClass = *diskClass;
    if (path[pos] == '.') {
        ++pos;
        if (!TakeWord(path, pos, kKeyProperty))
            return parsed;
    }
    if (pos >= path.size() || path[pos++] != '=')
        return parsed;
    if (pos >= path.size() || (path[pos] != '\'' && path[pos] != '"'))
        return parsed;
    if (!ReadQuoted(path, pos, parsed.path.key, parsed.path.keyAsWritten) || pos != path.size())
        return parsed;
    parsed.verdict = Verdict::Disk;
    return parsed;
}

const DiskObject* FindDiskObject(const DiskView& view, const ObjectPathKey& path) noexcept
{
    const std::vector<DiskObject>& objects = view.Objects(path.diskClass);
    const auto index = FindIndex(objects, path.key, path.keyAsWritten);
    return index ? &objects[*index] : nullptr;
}

}  // namespace firmsim::disks
