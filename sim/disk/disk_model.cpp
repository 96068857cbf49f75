#include "disk_model.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

namespace obrin::disksim {

bool SplitWords(std::string_view line, std::vector<std::string>& words)
{
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        std::string word;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            if (line[i] == '"') {
                size_t close = line.find('"', i + 1);
                if (close == std::string_view::npos)
                    return false;
                word.append(line.substr(i + 1, close - i - 1));
                i = close + 1;
            } else {
                word.push_back(line[i++]);
            }
        }
        words.push_back(std::move(word));
    }
    return true;
}

namespace {

// GPT keeps its header in one sector and 128 entries of 128 bytes behind it;
// the backup of both lies at the end of the disk.
constexpr uint64_t kGptEntryBytes = 128 * 128;
constexpr uint32_t kMaxGptPartitions = 128;
constexpr uint32_t kMaxMbrPartitions = 4;
constexpr uint64_t kMbrSectorLimit = 1ull << 32;
constexpr uint64_t kLargeDiskBytes = 4096 * kBytesPerMb;
constexpr uint64_t kSmallDiskAlignmentBytes = 64 * kBytesPerKb;
// Windows reports offsets and lengths as signed 64-bit byte counts.
constexpr uint64_t kMaxDiskBytes = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// The stand-in's identities: "0b5d<kind>-0000-4000-8000-<number>", in the
// family of its volume GUIDs (VolumeGuidPath).
constexpr uint32_t kDiskGuidKind = 1;
constexpr uint32_t kPartitionGuidKind = 2;
constexpr uint32_t kSignatureBase = 0x0b5d0001;

template <typename T>
bool ParseNumber(std::string_view text, T& value) noexcept
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// "617" is megabytes, "2015s" sectors; decimal only. False when the text is
// no such number or the sectors do not fit 64 bits.
bool ParseQuantity(std::string_view text, uint64_t sectorsPerMb, uint64_t& sectors) noexcept
{
    const bool inSectors = !text.empty() && text.back() == 's';
    if (inSectors)
        text.remove_suffix(1);
    uint64_t value = 0;
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    if (inSectors) {
        sectors = value;
        return true;
    }
    if (value > std::numeric_limits<uint64_t>::max() / sectorsPerMb)
        return false;
    sectors = value * sectorsPerMb;
    return true;
}

std::string QuantityText(uint64_t sectors, uint64_t sectorsPerMb)
{
    return sectors % sectorsPerMb == 0 ? std::to_string(sectors / sectorsPerMb) : std::to_string(sectors) + "s";
}

std::string Hex64(uint64_t value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%016llx", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Hex32(uint32_t value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08x", value);
    return buffer;
}

std::string StandInGuid(uint32_t kind, uint32_t number)
{
    char text[40];
    std::snprintf(text, sizeof text, "0b5d%04x-0000-4000-8000-%012x", kind, number);
    return text;
}

using Fields = std::map<std::string, std::string>;

bool SplitFields(const std::vector<std::string>& words, size_t first, Fields& fields, std::string& bad)
{
    for (size_t i = first; i < words.size(); ++i) {
        size_t eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0 || !fields.emplace(words[i].substr(0, eq), words[i].substr(eq + 1)).second) {
            bad = words[i];
            return false;
        }
    }
    return true;
}

// Exactly these keys, each once.
bool HasExactly(const Fields& fields, std::initializer_list<const char*> keys, std::string& error)
{
    for (const char* key : keys) {
        if (!fields.count(key)) {
            error = std::string("missing ") + key;
            return false;
        }
    }
    if (fields.size() != keys.size()) {
        for (const auto& field : fields) {
            if (std::none_of(keys.begin(), keys.end(), [&](const char* known) { return field.first == known; })) {
                error = "unknown field " + field.first;
                return false;
            }
        }
    }
    return true;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool ParseYesNo(const std::string& text, bool& value)
{
    if (text != "yes" && text != "no")
        return false;
    value = text == "yes";
    return true;
}

bool ParseDisk(const std::vector<std::string>& words, Disk& disk, std::string& error)
{
    Fields fields;
    std::string bad;
    if (words.size() < 2 || !ParseNumber(words[1], disk.index)) {
        error = "disk takes its index";
        return false;
    }
    if (!SplitFields(words, 2, fields, bad)) {
        error = "bad field " + bad;
        return false;
    }
    const std::string style = fields["style"];
    fields.erase("style");
    if (style != "gpt" && style != "mbr") {
        error = "style takes gpt or mbr";
        return false;
    }
    disk.style = style == "gpt" ? PartitionStyle::Gpt : PartitionStyle::Mbr;
    const char* identity = disk.style == PartitionStyle::Gpt ? "id" : "signature";
    if (!HasExactly(fields, {"sector", "size", identity, "removable", "path"}, error))
        return false;
    if (!ParseNumber(fields["sector"], disk.bytesPerSector) ||
        (disk.bytesPerSector != kSectorBytes && disk.bytesPerSector != kLargeSectorBytes)) {
        error = "a sector holds " + std::to_string(kSectorBytes) + " or " + std::to_string(kLargeSectorBytes) + " bytes";
        return false;
    }
    if (!ParseQuantity(fields["size"], disk.SectorsPerMb(), disk.sizeSectors) ||
        disk.sizeSectors > kMaxDiskBytes / disk.bytesPerSector) {
        error = "bad disk size " + fields["size"];
        return false;
    }
    if (disk.UsableEndSector() <= disk.FirstUsableSector()) {
        error = "disk too small for its partition table";
        return false;
    }
    if (disk.style == PartitionStyle::Gpt) {
        disk.id = FoldedText(fields["id"]);
        if (!IsModelGuid(disk.id)) {
            error = "bad disk id " + fields["id"];
            return false;
        }
    } else if (!ParseNumber(fields["signature"], disk.signature) || disk.signature == 0) {
        error = "bad signature " + fields["signature"];
        return false;
    }
    if (!ParseYesNo(fields["removable"], disk.removable)) {
        error = "removable takes yes or no";
        return false;
    }
    disk.devicePath = fields["path"];
    return true;
}

bool ParsePartition(const Fields& given, const Disk& disk, Partition& p, std::string& error)
{
    Fields fields = given;
    if (!HasExactly(fields, {"number", "offset", "size", "type", "id", "attributes", "active", "fs", "label", "letter",
                             "used", "volume", "folder"},
                    error))
        return false;
    if (!ParseNumber(fields["number"], p.number) || p.number == 0 || !ParseNumber(fields["attributes"], p.attributes) ||
        !ParseNumber(fields["used"], p.usedMb) || !ParseNumber(fields["volume"], p.volumeId) || p.volumeId == 0) {
        error = "bad number";
        return false;
    }
    if (!ParseQuantity(fields["offset"], disk.SectorsPerMb(), p.offsetSectors) ||
        !ParseQuantity(fields["size"], disk.SectorsPerMb(), p.sizeSectors) || p.sizeSectors == 0 ||
        p.offsetSectors > std::numeric_limits<uint64_t>::max() - p.sizeSectors) {
        error = "bad offset or size (megabytes, or sectors ending in s)";
        return false;
    }
    if (!ParseYesNo(fields["active"], p.active)) {
        error = "active takes yes or no";
        return false;
    }
    p.type = FoldedText(fields["type"]);
    if (disk.style == PartitionStyle::Gpt) {
        p.id = FoldedText(fields["id"]);
        if (!IsModelGuid(p.type)) {
            error = "bad type " + fields["type"];
            return false;
        }
        if (!IsModelGuid(p.id)) {
            error = "bad partition id " + fields["id"];
            return false;
        }
        if (p.active) {
            error = "only MBR partitions are active";
            return false;
        }
    } else {
        const std::optional<uint8_t> type = MbrTypeByte(p.type);
        if (!type || !DescribeMbrType(*type).primary) {
            error = "bad MBR type " + fields["type"] + " (a primary partition's type byte)";
            return false;
        }
        if (fields["id"] != "-" || p.attributes != 0) {
            error = "an MBR partition has no GPT id or attributes";
            return false;
        }
    }
    p.fileSystem = fields["fs"] == "-" ? std::string() : fields["fs"];
    p.label = fields["label"];
    const std::string& letter = fields["letter"];
    if (letter == "-") {
        p.letter = 0;
    } else if (letter.size() == 1 && UpperCase(letter[0]) >= 'C' && UpperCase(letter[0]) <= 'Z') {
        p.letter = UpperCase(letter[0]);
    } else {
        error = "bad letter " + letter;
        return false;
    }
    p.folder = fields["folder"];
    if (!IsPartitionFolder(p.folder)) {
        error = "folder " + p.folder + " is neither C:\\ nor a folder under " + std::string(kPartitionFolderRoot);
        return false;
    }
    return true;
}

// Where a new partition may lie on `disk` next to those it holds already.
bool CheckPlace(const Disk& disk, const Partition& p, std::string& error)
{
    const std::string name = "partition " + std::to_string(p.number);
    if (p.offsetSectors < disk.FirstUsableSector()) {
        error = name + " starts before the first usable sector " + std::to_string(disk.FirstUsableSector());
        return false;
    }
    if (p.EndSector() > disk.UsableEndSector()) {
        error = name + " ends beyond the usable end of disk " + std::to_string(disk.index) + " (sector " +
                std::to_string(disk.UsableEndSector()) + ")";
        return false;
    }
    for (const Partition& other : disk.partitions) {
        if (other.number == p.number) {
            error = "partition number " + std::to_string(p.number) + " twice on disk " + std::to_string(disk.index);
            return false;
        }
        if (p.offsetSectors < other.EndSector() && other.offsetSectors < p.EndSector()) {
            error = name + (other.offsetSectors <= p.offsetSectors ? " starts inside partition " : " overlaps partition ") +
                    std::to_string(other.number);
            return false;
        }
    }
    const uint32_t limit = disk.style == PartitionStyle::Gpt ? kMaxGptPartitions : kMaxMbrPartitions;
    if (disk.partitions.size() >= limit) {
        error = "more than " + std::to_string(limit) + " partitions on disk " + std::to_string(disk.index);
        return false;
    }
    return true;
}

std::string FormatPartition(const Disk& disk, const Partition& p)
{
    const uint64_t perMb = disk.SectorsPerMb();
    return "part number=" + std::to_string(p.number) + " offset=" + QuantityText(p.offsetSectors, perMb) +
           " size=" + QuantityText(p.sizeSectors, perMb) + " type=" + p.type +
           " id=" + (p.id.empty() ? std::string("-") : p.id) + " attributes=" + Hex64(p.attributes) +
           " active=" + (p.active ? "yes" : "no") +
           " fs=" + (p.fileSystem.empty() ? std::string("-") : p.fileSystem) + " label=" + Quoted(p.label) +
           " letter=" + (p.letter ? std::string(1, p.letter) : std::string("-")) +
           " used=" + std::to_string(p.usedMb) + " volume=" + std::to_string(p.volumeId) +
           " folder=" + Quoted(p.folder) + "\n";
}

// The number a stand-in partition id carries, when `id` is one.
std::optional<uint32_t> StandInPartitionNumber(std::string_view id) noexcept
{
    const std::string head = StandInGuid(kPartitionGuidKind, 0).substr(0, 24);
    if (id.size() != 36 || id.substr(0, 24) != head)
        return std::nullopt;
    uint64_t number = 0;
    const std::string_view digits = id.substr(24);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
    if (ec != std::errc() || end != digits.data() + digits.size() || number > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(number);
}

}  // namespace

bool IsModelGuid(std::string_view text) noexcept
{
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        char c = text[i];
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (dash ? c != '-' : !hex)
            return false;
    }
    return true;
}

bool IsPartitionFolder(std::string_view folder) noexcept
{
    if (folder == kSystemFolder)
        return true;
    if (folder.size() <= kPartitionFolderRoot.size() ||
        !EqualsNoCase(folder.substr(0, kPartitionFolderRoot.size()), kPartitionFolderRoot))
        return false;
    // One plain name below the root: nothing that leads back out of it.
    std::string_view name = folder.substr(kPartitionFolderRoot.size());
    if (!name.empty() && name.back() == '\\')
        name.remove_suffix(1);
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("\\/:*?\"<>|") == std::string_view::npos;
}

uint64_t Disk::FirstUsableSector() const noexcept
{
    return style == PartitionStyle::Gpt ? 2 + kGptEntryBytes / bytesPerSector : 1;
}

uint64_t Disk::UsableEndSector() const noexcept
{
    // An MBR's entries hold 32-bit sector numbers: the rest of a larger disk
    // is out of its reach.
    if (style == PartitionStyle::Mbr)
        return std::min<uint64_t>(sizeSectors, kMbrSectorLimit);
    const uint64_t backup = 1 + kGptEntryBytes / bytesPerSector;
    return sizeSectors > backup ? sizeSectors - backup : 0;
}

uint64_t Disk::AlignmentSectors() const noexcept
{
    return (sizeSectors >= kLargeDiskBytes / bytesPerSector ? kBytesPerMb : kSmallDiskAlignmentBytes) / bytesPerSector;
}

Disk* Model::FindDisk(uint32_t index) noexcept
{
    for (Disk& disk : disks)
        if (disk.index == index)
            return &disk;
    return nullptr;
}

const Disk* Model::FindDisk(uint32_t index) const noexcept { return const_cast<Model*>(this)->FindDisk(index); }

const Partition* Model::FindByLetter(char letter) const noexcept
{
    letter = UpperCase(letter);
    if (!letter)
        return nullptr;
    for (const Disk& disk : disks)
        for (const Partition& p : disk.partitions)
            if (p.letter == letter)
                return &p;
    return nullptr;
}

const Partition* Model::FindByVolumeId(uint32_t volumeId) const noexcept
{
    for (const Disk& disk : disks)
        for (const Partition& p : disk.partitions)
            if (p.volumeId == volumeId)
                return &p;
    return nullptr;
}

const Disk* Model::DiskOfVolume(uint32_t volumeId) const noexcept
{
    for (const Disk& disk : disks)
        for (const Partition& p : disk.partitions)
            if (p.volumeId == volumeId)
                return &disk;
    return nullptr;
}

std::string_view NumberingName(NumberingRule rule) noexcept
{
    return rule == NumberingRule::Stable ? "stable" : "disk-order";
}

std::optional<NumberingRule> ParseNumbering(std::string_view name) noexcept
{
    if (name == "stable")
        return NumberingRule::Stable;
    if (name == "disk-order")
        return NumberingRule::DiskOrder;
    return std::nullopt;
}

void SortByOffset(Disk& disk)
{
    std::stable_sort(disk.partitions.begin(), disk.partitions.end(),
                     [](const Partition& a, const Partition& b) { return a.offsetSectors < b.offsetSectors; });
}

void ApplyNumbering(Disk& disk, NumberingRule rule) noexcept
{
    if (rule != NumberingRule::DiskOrder)
        return;
    uint32_t number = 1;
    for (Partition& p : disk.partitions)
        p.number = number++;
}

uint32_t LowestFreeNumber(const Disk& disk) noexcept
{
    for (uint32_t number = 1;; ++number)
        if (std::none_of(disk.partitions.begin(), disk.partitions.end(),
                         [&](const Partition& p) { return p.number == number; }))
            return number;
}

std::vector<FreeExtent> UnpartitionedSpace(const Disk& disk)
{
    std::vector<FreeExtent> extents;
    uint64_t cursor = disk.FirstUsableSector();
    for (const Partition& p : disk.partitions) {
        if (p.offsetSectors > cursor)
            extents.push_back({cursor, p.offsetSectors - cursor});
        cursor = std::max(cursor, p.EndSector());
    }
    if (disk.UsableEndSector() > cursor)
        extents.push_back({cursor, disk.UsableEndSector() - cursor});
    return extents;
}

std::vector<FreeExtent> FreeExtents(const Disk& disk)
{
    std::vector<FreeExtent> extents = UnpartitionedSpace(disk);
    extents.erase(std::remove_if(extents.begin(), extents.end(),
                                 [&](const FreeExtent& e) { return e.sizeSectors < disk.SectorsPerMb(); }),
                  extents.end());
    return extents;
}

bool HasVolume(const Partition& partition) noexcept
{
    return DescribeType(partition.type).hasVolume && !(partition.attributes & kAttrHidden);
}

bool IsDataPartition(const Partition& partition) noexcept
{
    return DescribeType(partition.type).data;
}

std::string DiskGuid(uint32_t diskIndex) { return StandInGuid(kDiskGuidKind, diskIndex); }

std::string PartitionGuid(uint32_t volumeId) { return StandInGuid(kPartitionGuidKind, volumeId); }

uint32_t MbrSignature(uint32_t diskIndex) noexcept { return kSignatureBase + diskIndex; }

std::string VolumeGuidPath(uint32_t volumeId)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "\\\\?\\Volume{0b5d0000-0000-4000-8000-%012x}\\", volumeId);
    return buffer;
}

std::optional<uint32_t> VolumeIdFromPath(std::string_view path) noexcept
{
    constexpr std::string_view head = "Volume{0b5d0000-0000-4000-8000-";
    if (path.size() < 4 || path[0] != '\\' || path[1] != '\\' || (path[2] != '?' && path[2] != '.') || path[3] != '\\')
        return std::nullopt;
    path.remove_prefix(4);
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.size() != head.size() + 13 || !EqualsNoCase(path.substr(0, head.size()), head) || path.back() != '}')
        return std::nullopt;
    std::string_view digits = path.substr(head.size(), 12);
    uint64_t id = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id, 16);
    if (ec != std::errc() || end != digits.data() + digits.size() || id == 0 || id > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(id);
}

bool ParseModel(std::string_view text, Model& model, std::string& error) noexcept
{
    try {
        Model parsed;
        std::vector<std::string> words;
        size_t lineNumber = 0;
        bool sawVolumeCounter = false;
        bool sawNumbering = false;
        // Checks that need the whole file name the line they are about.
        std::map<uint32_t, size_t> lineOfVolume;
        std::set<std::string> ids;
        std::set<uint32_t> signatures;
        std::set<char> letters;
        auto failAt = [&](size_t line, const std::string& what) {
            error = "line " + std::to_string(line) + ": " + what;
            return false;
        };
        while (!text.empty()) {
            size_t eol = text.find('\n');
            std::string_view line = text.substr(0, eol);
            text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
            ++lineNumber;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            auto fail = [&](const std::string& what) { return failAt(lineNumber, what); };
            if (!SplitWords(line, words))
                return fail("unterminated quote");
            if (words.empty() || words[0][0] == '#')
                continue;
            const std::string& keyword = words[0];
            if (keyword == "hibernation") {
                if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
                    return fail("hibernation takes on or off");
                parsed.hibernation = words[1] == "on";
            } else if (keyword == "numbering") {
                std::optional<NumberingRule> rule = words.size() == 2 ? ParseNumbering(words[1]) : std::nullopt;
                if (!rule || sawNumbering)
                    return fail("numbering takes stable or disk-order, once");
                parsed.numbering = *rule;
                sawNumbering = true;
            } else if (keyword == "power-log") {
                for (size_t i = 1; i < words.size(); ++i) {
                    if (words[i] != "on" && words[i] != "off")
                        return fail("power-log holds on and off");
                    parsed.powerLog.push_back(words[i]);
                }
            } else if (keyword == "next-volume") {
                if (words.size() != 2 || !ParseNumber(words[1], parsed.nextVolumeId) || parsed.nextVolumeId == 0)
                    return fail("next-volume takes a number");
                sawVolumeCounter = true;
            } else if (keyword == "fail") {
                InjectedFailure failure;
                if (words.size() < 2 || words.size() > 3 || (words.size() == 3 && !ParseNumber(words[2], failure.skip)))
                    return fail("fail takes a command and a skip count");
                failure.command = words[1];
                parsed.failures.push_back(failure);
            } else if (keyword == "disk") {
                Disk disk;
                std::string what;
                if (!ParseDisk(words, disk, what))
                    return fail(what);
                if (parsed.FindDisk(disk.index))
                    return fail("disk " + std::to_string(disk.index) + " twice");
                if (disk.style == PartitionStyle::Gpt ? !ids.insert(disk.id).second
                                                      : !signatures.insert(disk.signature).second)
                    return fail("disk id or signature twice on the machine");
                parsed.disks.push_back(std::move(disk));
            } else if (keyword == "part") {
                if (parsed.disks.empty())
                    return fail("partition before any disk");
                Disk& disk = parsed.disks.back();
                Fields fields;
                std::string bad;
                if (!SplitFields(words, 1, fields, bad))
                    return fail("bad field " + bad);
                Partition p;
                std::string what;
                if (!ParsePartition(fields, disk, p, what) || !CheckPlace(disk, p, what))
                    return fail(what);
                if (!lineOfVolume.emplace(p.volumeId, lineNumber).second)
                    return fail("volume id twice");
                if (!p.id.empty() && !ids.insert(p.id).second)
                    return fail("partition id twice on the machine");
                if (p.letter && !letters.insert(p.letter).second)
                    return fail("drive letter twice");
                disk.partitions.push_back(std::move(p));
            } else {
                return fail("unknown keyword " + keyword);
            }
        }
        if (!sawVolumeCounter) {
            error = "missing next-volume";
            return false;
        }
        for (Disk& disk : parsed.disks) {
            SortByOffset(disk);
            uint32_t position = 1;
            for (const Partition& p : disk.partitions) {
                const size_t line = lineOfVolume[p.volumeId];
                // Ids of the stand-in's own family are made from volume ids,
                // so they must stay below the counter too.
                const std::optional<uint32_t> idNumber = StandInPartitionNumber(p.id);
                if (p.volumeId >= parsed.nextVolumeId || (idNumber && *idNumber >= parsed.nextVolumeId))
                    return failAt(line, "volume id or partition id not below next-volume");
                if (parsed.numbering == NumberingRule::DiskOrder && p.number != position)
                    return failAt(line, "partition " + std::to_string(p.number) +
                                            " is not numbered in disk order (numbering disk-order)");
                ++position;
            }
        }
        model = std::move(parsed);
        return true;
    } catch (...) {
        error = "out of memory";
        return false;
    }
}

std::string FormatModel(const Model& model)
{
    std::string text = "# Obrin disk stand-in: the machine's disks (offsets and sizes in MB, or in sectors ending in s)\n";
    text += "numbering " + std::string(NumberingName(model.numbering)) + "\n";
    text += std::string("hibernation ") + (model.hibernation ? "on" : "off") + "\n";
    text += "power-log";
    for (const std::string& entry : model.powerLog)
        text += " " + entry;
    text += "\nnext-volume " + std::to_string(model.nextVolumeId) + "\n";
    for (const InjectedFailure& failure : model.failures)
        text += "fail " + failure.command + " " + std::to_string(failure.skip) + "\n";
    for (const Disk& disk : model.disks) {
        const bool gpt = disk.style == PartitionStyle::Gpt;
        text += "disk " + std::to_string(disk.index) + " style=" + (gpt ? "gpt" : "mbr") +
                " sector=" + std::to_string(disk.bytesPerSector) +
                " size=" + QuantityText(disk.sizeSectors, disk.SectorsPerMb()) +
                (gpt ? " id=" + disk.id : " signature=" + Hex32(disk.signature)) +
                " removable=" + (disk.removable ? "yes" : "no") + " path=" + Quoted(disk.devicePath) + "\n";
        for (const Partition& p : disk.partitions)
            text += FormatPartition(disk, p);
    }
    return text;
}

std::string LayoutTable(const Model& model)
{
    std::string out;
    char line[640];
    for (const Disk& disk : model.disks) {
        const uint64_t perMb = disk.SectorsPerMb();
        const std::string identity =
            disk.style == PartitionStyle::Gpt ? "GPT disk id " + disk.id : "MBR signature " + Hex32(disk.signature);
        std::string size = std::to_string(disk.sizeSectors / perMb) + " MB";
        if (disk.sizeSectors % perMb != 0)
            size += " + " + std::to_string(disk.sizeSectors % perMb) + " sectors";
        std::snprintf(line, sizeof line, "Disk %u  %s  %s  %s  %u-byte sectors  %s\n", disk.index,
                      disk.devicePath.c_str(), disk.removable ? "removable" : "fixed", size.c_str(),
                      disk.bytesPerSector, identity.c_str());
        out += line;
        std::snprintf(line, sizeof line, "  %-4s %11s %11s  %-9s %-18s %-6s %-10s %-3s %-36s %s\n", "Par", "Offset",
                      "Size", "Type", "Attributes", "FS", "Label", "Ltr", "Id", "Folder");
        out += line;
        std::vector<FreeExtent> free = UnpartitionedSpace(disk);
        auto nextFree = free.begin();
        auto printFree = [&](uint64_t before) {
            for (; nextFree != free.end() && nextFree->offsetSectors < before; ++nextFree) {
                std::snprintf(line, sizeof line, "  %-4s %11s %11s  (free)\n", "-",
                              QuantityText(nextFree->offsetSectors, perMb).c_str(),
                              QuantityText(nextFree->sizeSectors, perMb).c_str());
                out += line;
            }
        };
        for (const Partition& p : disk.partitions) {
            printFree(p.offsetSectors);
            const std::string letter = p.letter ? std::string(1, p.letter) + ":" : "-";
            const std::string flags = disk.style == PartitionStyle::Gpt ? Hex64(p.attributes) : (p.active ? "active" : "-");
            std::snprintf(line, sizeof line, "  %-4u %11s %11s  %-9s %-18s %-6s %-10s %-3s %-36s %s\n", p.number,
                          QuantityText(p.offsetSectors, perMb).c_str(), QuantityText(p.sizeSectors, perMb).c_str(),
                          TypeName(p.type).c_str(), flags.c_str(), p.fileSystem.empty() ? "-" : p.fileSystem.c_str(),
                          p.label.empty() ? "-" : p.label.c_str(), letter.c_str(), p.id.empty() ? "-" : p.id.c_str(),
                          p.folder.c_str());
            out += line;
        }
        printFree(UINT64_MAX);
    }
    out += "Numbering: " + std::string(NumberingName(model.numbering)) + "\n";
    out += std::string("Hibernation: ") + (model.hibernation ? "on" : "off") + "; powercfg -h calls:";
    if (model.powerLog.empty())
        out += " none";
    for (const std::string& entry : model.powerLog)
        out += " " + entry;
    out += "\n";
    for (const InjectedFailure& failure : model.failures)
        out += "Pending failure: " + failure.command + " after " + std::to_string(failure.skip) + " more\n";
    return out;
}

namespace {

// A machine's disk and partitions, laid out in megabytes.
class DiskBuilder {
public:
    DiskBuilder(Model& model, uint32_t index, PartitionStyle style, uint32_t bytesPerSector = kSectorBytes)
        : m_model(model)
    {
        m_disk.index = index;
        m_disk.devicePath = "\\\\.\\PHYSICALDRIVE" + std::to_string(index);
        m_disk.style = style;
        m_disk.bytesPerSector = bytesPerSector;
        if (style == PartitionStyle::Gpt)
            m_disk.id = DiskGuid(index);
        else
            m_disk.signature = MbrSignature(index);
    }

    // A disk of `megabytes`, less than a megabyte of it behind the usable area.
    DiskBuilder& WholeMegabytes(uint64_t megabytes)
    {
        m_disk.sizeSectors = megabytes * m_disk.SectorsPerMb();
        return *this;
    }
    // A disk whose usable area ends at `megabytes`: only the partition
    // table's backup lies behind it.
    DiskBuilder& UsableTo(uint64_t megabytes)
    {
        m_disk.sizeSectors = megabytes * m_disk.SectorsPerMb();
        m_disk.sizeSectors += m_disk.sizeSectors - m_disk.UsableEndSector();
        return *this;
    }
    DiskBuilder& Removable()
    {
        m_disk.removable = true;
        return *this;
    }
    // Volume ids and partition ids follow the order of these calls.
    Partition& Add(uint64_t offsetMb, uint64_t sizeMb, std::string_view type, uint64_t attributes,
                   std::string_view fs, std::string_view label, char letter, uint64_t usedMb,
                   std::string folder = {})
    {
        Partition p;
        p.offsetSectors = offsetMb * m_disk.SectorsPerMb();
        p.sizeSectors = sizeMb * m_disk.SectorsPerMb();
        p.type = std::string(type);
        p.attributes = attributes;
        p.fileSystem = std::string(fs);
        p.label = std::string(label);
        p.letter = letter;
        p.usedMb = usedMb;
        p.volumeId = m_model.nextVolumeId++;
        if (m_disk.style == PartitionStyle::Gpt)
            p.id = PartitionGuid(p.volumeId);
        p.folder = folder.empty() ? std::string(kPartitionFolderRoot) + "vol" + std::to_string(p.volumeId) : folder;
        m_disk.partitions.push_back(std::move(p));
        return m_disk.partitions.back();
    }
    [[nodiscard]] uint64_t UsableEndMb() const { return m_disk.UsableEndSector() / m_disk.SectorsPerMb(); }

    // A factory layout: partitions numbered in offset order.
    void Done()
    {
        SortByOffset(m_disk);
        ApplyNumbering(m_disk, NumberingRule::DiskOrder);
        m_model.disks.push_back(std::move(m_disk));
    }

private:
    Model& m_model;
    Disk m_disk;
};

constexpr uint64_t kTabletDiskMb = 61440;
constexpr uint64_t kWindowsUsedMb = 24576;
const std::string kWindowsFolder(kSystemFolder);

// Recovery, EFI, MSR and Windows (C:) filling the disk: the layout a
// tablet leaves the factory with.
void StandardDisk(Model& model, uint32_t index, uint64_t freeBehindWindowsMb = 0, uint64_t gapBeforeWindowsMb = 0)
{
    DiskBuilder disk(model, index, PartitionStyle::Gpt);
    disk.UsableTo(kTabletDiskMb);
    disk.Add(1, 500, kTypeRecovery, kAttrPlatformRequired | kAttrNoDriveLetter, "NTFS", "Recovery", 0, 320);
    disk.Add(501, 100, kTypeEfi, kAttrNoDriveLetter, "FAT32", "SYSTEM", 0, 30);
    disk.Add(601, 16, kTypeMsr, 0, "", "", 0, 0);
    const uint64_t windowsStart = 617 + gapBeforeWindowsMb;
    disk.Add(windowsStart, kTabletDiskMb - windowsStart - freeBehindWindowsMb, kTypeBasicData, 0, "NTFS", "Windows",
             'C', kWindowsUsedMb, kWindowsFolder);
    disk.Done();
}

// EFI, MSR, Windows and a 500 MB Recovery at the end of a disk of whole
// megabytes, as Windows setup lays out a UEFI machine's disk.
void SetupDisk(Model& model, uint64_t windowsShortBySectors)
{
    DiskBuilder disk(model, 0, PartitionStyle::Gpt);
    disk.WholeMegabytes(kTabletDiskMb);
    disk.Add(1, 100, kTypeEfi, kAttrNoDriveLetter, "FAT32", "SYSTEM", 0, 30);
    disk.Add(101, 16, kTypeMsr, 0, "", "", 0, 0);
    const uint64_t recoveryStart = disk.UsableEndMb() - 500;
    Partition& windows = disk.Add(117, recoveryStart - 117, kTypeBasicData, 0, "NTFS", "Windows", 'C', kWindowsUsedMb,
                                  kWindowsFolder);
    windows.sizeSectors -= windowsShortBySectors;
    disk.Add(recoveryStart, 500, kTypeRecovery, kAttrPlatformRequired | kAttrNoDriveLetter, "NTFS", "Recovery", 0,
             320);
    disk.Done();
}

}  // namespace

std::vector<std::string_view> MachineVariantNames()
{
    return {"standard",       "free-behind-windows", "gap-before-windows", "larger-free-elsewhere",
            "system-disk-1",  "removable-asos",      "removable-android",  "recovery-last",
            "windows-off-grid", "mbr"};
}

std::optional<Model> MachineVariant(std::string_view name)
{
    Model model;
    if (name == "standard") {
        StandardDisk(model, 0);
    } else if (name == "free-behind-windows") {
        StandardDisk(model, 0, 4096);
    } else if (name == "gap-before-windows") {
        StandardDisk(model, 0, 0, 200);
    } else if (name == "larger-free-elsewhere") {
        // Recovery behind Windows and more free space at the end of the disk
        // than an install's shrink frees.
        DiskBuilder disk(model, 0, PartitionStyle::Gpt);
        disk.UsableTo(kTabletDiskMb);
        const uint64_t windowsSize = kTabletDiskMb - 117 - 500 - 20480;
        disk.Add(1, 100, kTypeEfi, kAttrNoDriveLetter, "FAT32", "SYSTEM", 0, 30);
        disk.Add(101, 16, kTypeMsr, 0, "", "", 0, 0);
        disk.Add(117, windowsSize, kTypeBasicData, 0, "NTFS", "Windows", 'C', kWindowsUsedMb, kWindowsFolder);
        disk.Add(117 + windowsSize, 500, kTypeRecovery, kAttrPlatformRequired | kAttrNoDriveLetter, "NTFS",
                 "Recovery", 0, 320);
        disk.Done();
    } else if (name == "system-disk-1") {
        // Letters on every partition, so a script that addresses disk 0 by
        // mistake finds something to change; 4096-byte sectors, so a byte
        // count taken for 512-byte sectors is wrong there.
        DiskBuilder data(model, 0, PartitionStyle::Gpt, kLargeSectorBytes);
        data.UsableTo(32768);
        data.Add(1, 100, kTypeEfi, 0, "FAT32", "DATAEFI", 'K', 1);
        data.Add(101, 200, kTypeBasicData, 0, "NTFS", "Spare", 'L', 10);
        data.Add(301, 32467, kTypeBasicData, 0, "NTFS", "Data", 'J', 100);
        data.Done();
        StandardDisk(model, 1);
    } else if (name == "removable-asos" || name == "removable-android") {
        StandardDisk(model, 0);
        DiskBuilder stick(model, 1, PartitionStyle::Gpt);
        stick.UsableTo(15360).Removable();
        stick.Add(1, 15359, kTypeBasicData, 0, "NTFS", name == "removable-asos" ? "ASOS" : "ANDROID", 'R', 100);
        stick.Done();
    } else if (name == "recovery-last") {
        SetupDisk(model, 0);
    } else if (name == "windows-off-grid") {
        SetupDisk(model, 7);
    } else if (name == "mbr") {
        // Windows setup on a BIOS machine: the active system partition holds
        // the boot manager, Windows the rest of the disk.
        DiskBuilder disk(model, 0, PartitionStyle::Mbr);
        disk.WholeMegabytes(kTabletDiskMb);
        disk.Add(1, 500, kMbrTypeIfs, 0, "NTFS", "System Reserved", 0, 40).active = true;
        disk.Add(501, kTabletDiskMb - 501, kMbrTypeIfs, 0, "NTFS", "Windows", 'C', kWindowsUsedMb, kWindowsFolder);
        disk.Done();
    } else {
        return std::nullopt;
    }
    return model;
}

const std::vector<PayloadFile>& PayloadFiles()
{
    static const std::vector<PayloadFile> files = {
        {"bootloader.efi", "stand-in EFI boot loader\r\n"},
        {"installer.efi", "stand-in EFI installer\r\n"},
        {"loader.conf", "timeout 5\r\ndefault AndroidBoot\r\n"},
        {"AndroidBoot.conf", "title Android\r\nefi /efi/Android/bootloader.efi\r\n"},
        {"recovery.conf", "title Recovery\r\nefi /efi/Android/bootloader.efi\r\noptions recovery\r\n"},
        {"fastboot.conf", "title Fastboot\r\nefi /efi/Android/bootloader.efi\r\noptions fastboot\r\n"},
        {"tinyi.conf", "title Tiny installer\r\nefi /efi/Android/installer.efi\r\n"},
        {"boot.img", "stand-in boot image\r\n"},
        {"system.img", "stand-in system image\r\n"},
        {"recovery.img", "stand-in recovery image\r\n"},
        {"android.ini", "[android]\r\nversion=1\r\n"},
        {"system_md5sum.txt", "00000000000000000000000000000000  system.img\r\n"},
    };
    return files;
}

}  // namespace obrin::disksim
