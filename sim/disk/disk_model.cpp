#include "disk_model.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>

namespace obrin::disksim {

char ToLowerAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char ToUpperAscii(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

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

std::string Hex64(uint64_t value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%016llx", static_cast<unsigned long long>(value));
    return buffer;
}

using Fields = std::map<std::string, std::string>;

bool SplitFields(const std::vector<std::string>& words, size_t first, Fields& fields, std::string& bad)
{
    for (size_t i = first; i < words.size(); ++i) {
        size_t eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0) {
            bad = words[i];
            return false;
        }
        fields[words[i].substr(0, eq)] = words[i].substr(eq + 1);
    }
    return true;
}

bool IsGuid(std::string_view text) noexcept
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

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool ParsePartition(const Fields& fields, Partition& p, std::string& error)
{
    auto need = [&](const char* key) -> const std::string* {
        auto it = fields.find(key);
        if (it == fields.end()) {
            error = std::string("missing ") + key;
            return nullptr;
        }
        return &it->second;
    };
    const std::string *number = need("number"), *offset = need("offset"), *size = need("size"), *type = need("type"),
                      *attributes = need("attributes"), *fs = need("fs"), *label = need("label"),
                      *letter = need("letter"), *used = need("used"), *volume = need("volume"),
                      *folder = need("folder");
    if (!number || !offset || !size || !type || !attributes || !fs || !label || !letter || !used || !volume || !folder)
        return false;
    if (fields.size() != 11) {
        error = "unknown partition field";
        return false;
    }
    if (!ParseNumber(*number, p.number) || p.number == 0 || !ParseNumber(*offset, p.offsetMb) || !ParseNumber(*size, p.sizeMb) || p.sizeMb == 0 ||
        !ParseNumber(*attributes, p.attributes) || !ParseNumber(*used, p.usedMb) || !ParseNumber(*volume, p.volumeId) ||
        p.volumeId == 0) {
        error = "bad number";
        return false;
    }
    p.type = *type;
    std::transform(p.type.begin(), p.type.end(), p.type.begin(), ToLowerAscii);
    if (!IsGuid(p.type)) {
        error = "bad type " + *type;
        return false;
    }
    p.fileSystem = *fs == "-" ? std::string() : *fs;
    p.label = *label;
    if (*letter == "-") {
        p.letter = 0;
    } else if (letter->size() == 1 && ToUpperAscii((*letter)[0]) >= 'C' && ToUpperAscii((*letter)[0]) <= 'Z') {
        p.letter = ToUpperAscii((*letter)[0]);
    } else {
        error = "bad letter " + *letter;
        return false;
    }
    p.folder = *folder;
    if (!IsPartitionFolder(p.folder)) {
        error = "folder " + p.folder + " is neither C:\\ nor a folder under " + std::string(kPartitionFolderRoot);
        return false;
    }
    return true;
}

std::string FormatPartition(const Partition& p)
{
    std::string line = "part number=" + std::to_string(p.number) + " offset=" + std::to_string(p.offsetMb) + " size=" + std::to_string(p.sizeMb) +
                       " type=" + p.type + " attributes=" + Hex64(p.attributes) +
                       " fs=" + (p.fileSystem.empty() ? std::string("-") : p.fileSystem) + " label=" + Quoted(p.label) +
                       " letter=" + (p.letter ? std::string(1, p.letter) : std::string("-")) +
                       " used=" + std::to_string(p.usedMb) + " volume=" + std::to_string(p.volumeId) +
                       " folder=" + Quoted(p.folder) + "\n";
    return line;
}

bool CheckLayout(const Model& model, std::string& error)
{
    std::vector<uint32_t> volumes;
    std::vector<char> letters;
    for (const Disk& disk : model.disks) {
        if (std::count_if(model.disks.begin(), model.disks.end(),
                          [&](const Disk& d) { return d.index == disk.index; }) != 1) {
            error = "disk " + std::to_string(disk.index) + " twice";
            return false;
        }
        uint64_t end = 0;
        std::vector<uint32_t> numbers;
        for (const Partition& p : disk.partitions) {
            numbers.push_back(p.number);
            if (p.offsetMb < end || p.EndMb() > disk.sizeMb) {
                error = "partition " + std::to_string(p.number) + " of disk " + std::to_string(disk.index) +
                        " overlaps or lies beyond the disk";
                return false;
            }
            end = p.EndMb();
            if (p.volumeId >= model.nextVolumeId) {
                error = "volume id not below next-volume";
                return false;
            }
            volumes.push_back(p.volumeId);
            if (p.letter)
                letters.push_back(p.letter);
        }
        std::sort(numbers.begin(), numbers.end());
        if (std::adjacent_find(numbers.begin(), numbers.end()) != numbers.end()) {
            error = "partition number twice on disk " + std::to_string(disk.index);
            return false;
        }
    }
    std::sort(volumes.begin(), volumes.end());
    std::sort(letters.begin(), letters.end());
    if (std::adjacent_find(volumes.begin(), volumes.end()) != volumes.end()) {
        error = "volume id twice";
        return false;
    }
    if (std::adjacent_find(letters.begin(), letters.end()) != letters.end()) {
        error = "drive letter twice";
        return false;
    }
    return true;
}

}  // namespace

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

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ToLowerAscii(x) == ToLowerAscii(y); });
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
    letter = ToUpperAscii(letter);
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

void SortByOffset(Disk& disk)
{
    std::stable_sort(disk.partitions.begin(), disk.partitions.end(),
                     [](const Partition& a, const Partition& b) { return a.offsetMb < b.offsetMb; });
}

uint32_t LowestFreeNumber(const Disk& disk) noexcept
{
    for (uint32_t number = 1;; ++number)
        if (std::none_of(disk.partitions.begin(), disk.partitions.end(),
                         [&](const Partition& p) { return p.number == number; }))
            return number;
}

std::vector<FreeExtent> FreeExtents(const Disk& disk)
{
    std::vector<FreeExtent> extents;
    // GPT keeps its header and entries in the first megabyte.
    uint64_t cursor = 1;
    for (const Partition& p : disk.partitions) {
        if (p.offsetMb > cursor)
            extents.push_back({cursor, p.offsetMb - cursor});
        cursor = std::max(cursor, p.EndMb());
    }
    if (disk.sizeMb > cursor)
        extents.push_back({cursor, disk.sizeMb - cursor});
    return extents;
}

bool HasVolume(const Partition& partition) noexcept
{
    return partition.type != kTypeMsr && !(partition.attributes & kAttrHidden);
}

std::string TypeName(std::string_view type)
{
    if (type == kTypeEfi)
        return "EFI";
    if (type == kTypeMsr)
        return "MSR";
    if (type == kTypeBasicData)
        return "Basic";
    if (type == kTypeRecovery)
        return "Recovery";
    if (type == kTypeAndroid)
        return "Android";
    return std::string(type);
}

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
        while (!text.empty()) {
            size_t eol = text.find('\n');
            std::string_view line = text.substr(0, eol);
            text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
            ++lineNumber;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            auto fail = [&](const std::string& what) {
                error = "line " + std::to_string(lineNumber) + ": " + what;
                return false;
            };
            if (!SplitWords(line, words))
                return fail("unterminated quote");
            if (words.empty() || words[0][0] == '#')
                continue;
            const std::string& keyword = words[0];
            if (keyword == "hibernation") {
                if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
                    return fail("hibernation takes on or off");
                parsed.hibernation = words[1] == "on";
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
                Fields fields;
                std::string bad;
                if (words.size() < 2 || !ParseNumber(words[1], disk.index))
                    return fail("disk takes its index");
                if (!SplitFields(words, 2, fields, bad))
                    return fail("bad field " + bad);
                if (fields.size() != 3 || !fields.count("size") || !fields.count("removable") || !fields.count("path"))
                    return fail("disk needs size, removable and path");
                if (!ParseNumber(fields["size"], disk.sizeMb) || disk.sizeMb == 0)
                    return fail("bad disk size");
                if (fields["removable"] != "yes" && fields["removable"] != "no")
                    return fail("removable takes yes or no");
                disk.removable = fields["removable"] == "yes";
                disk.devicePath = fields["path"];
                parsed.disks.push_back(std::move(disk));
            } else if (keyword == "part") {
                if (parsed.disks.empty())
                    return fail("partition before any disk");
                Fields fields;
                std::string bad;
                if (!SplitFields(words, 1, fields, bad))
                    return fail("bad field " + bad);
                Partition p;
                std::string what;
                if (!ParsePartition(fields, p, what))
                    return fail(what);
                parsed.disks.back().partitions.push_back(std::move(p));
            } else {
                return fail("unknown keyword " + keyword);
            }
        }
        if (!sawVolumeCounter) {
            error = "missing next-volume";
            return false;
        }
        for (Disk& disk : parsed.disks)
            SortByOffset(disk);
        if (!CheckLayout(parsed, error))
            return false;
        model = std::move(parsed);
        return true;
    } catch (...) {
        error = "out of memory";
        return false;
    }
}

std::string FormatModel(const Model& model)
{
    std::string text = "# Obrin disk stand-in: the machine's disks (sizes in MB)\n";
    text += std::string("hibernation ") + (model.hibernation ? "on" : "off") + "\n";
    text += "power-log";
    for (const std::string& entry : model.powerLog)
        text += " " + entry;
    text += "\nnext-volume " + std::to_string(model.nextVolumeId) + "\n";
    for (const InjectedFailure& failure : model.failures)
        text += "fail " + failure.command + " " + std::to_string(failure.skip) + "\n";
    for (const Disk& disk : model.disks) {
        text += "disk " + std::to_string(disk.index) + " size=" + std::to_string(disk.sizeMb) +
                " removable=" + (disk.removable ? "yes" : "no") + " path=" + Quoted(disk.devicePath) + "\n";
        for (const Partition& p : disk.partitions)
            text += FormatPartition(p);
    }
    return text;
}

std::string LayoutTable(const Model& model)
{
    std::string out;
    char line[512];
    for (const Disk& disk : model.disks) {
        std::snprintf(line, sizeof line, "Disk %u  %s  %s  %llu MB\n", disk.index, disk.devicePath.c_str(),
                      disk.removable ? "removable" : "fixed", static_cast<unsigned long long>(disk.sizeMb));
        out += line;
        std::snprintf(line, sizeof line, "  %-4s %9s %9s  %-9s %-18s %-6s %-10s %-3s %s\n", "Par", "Offset", "Size",
                      "Type", "Attributes", "FS", "Label", "Ltr", "Folder");
        out += line;
        std::vector<FreeExtent> free = FreeExtents(disk);
        auto nextFree = free.begin();
        auto printFree = [&](uint64_t before) {
            for (; nextFree != free.end() && nextFree->offsetMb < before; ++nextFree) {
                std::snprintf(line, sizeof line, "  %-4s %9llu %9llu  (free)\n", "-",
                              static_cast<unsigned long long>(nextFree->offsetMb),
                              static_cast<unsigned long long>(nextFree->sizeMb));
                out += line;
            }
        };
        for (const Partition& p : disk.partitions) {
            printFree(p.offsetMb);
            std::string letter = p.letter ? std::string(1, p.letter) + ":" : "-";
            std::snprintf(line, sizeof line, "  %-4u %9llu %9llu  %-9s %-18s %-6s %-10s %-3s %s\n", p.number,
                          static_cast<unsigned long long>(p.offsetMb), static_cast<unsigned long long>(p.sizeMb),
                          TypeName(p.type).c_str(), Hex64(p.attributes).c_str(),
                          p.fileSystem.empty() ? "-" : p.fileSystem.c_str(), p.label.empty() ? "-" : p.label.c_str(),
                          letter.c_str(), p.folder.c_str());
            out += line;
        }
        printFree(UINT64_MAX);
    }
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

Partition MakePartition(uint64_t offset, uint64_t size, std::string_view type, uint64_t attributes,
                        std::string_view fs, std::string_view label, char letter, uint64_t used, uint32_t volumeId,
                        std::string folder = {})
{
    Partition p;
    p.offsetMb = offset;
    p.sizeMb = size;
    p.type = std::string(type);
    p.attributes = attributes;
    p.fileSystem = std::string(fs);
    p.label = std::string(label);
    p.letter = letter;
    p.usedMb = used;
    p.volumeId = volumeId;
    p.folder = folder.empty() ? std::string(kPartitionFolderRoot) + "vol" + std::to_string(volumeId) : folder;
    return p;
}

// A factory layout: partitions numbered in offset order.
void NumberInOrder(Disk& disk)
{
    SortByOffset(disk);
    uint32_t number = 1;
    for (Partition& p : disk.partitions)
        p.number = number++;
}

// Recovery, EFI, MSR and Windows (C:) filling the disk: the layout a
// tablet leaves the factory with.
Disk StandardDisk(uint32_t index, uint32_t& nextVolume)
{
    Disk disk;
    disk.index = index;
    disk.devicePath = "\\\\.\\PHYSICALDRIVE" + std::to_string(index);
    disk.sizeMb = 61440;
    disk.partitions.push_back(MakePartition(1, 500, kTypeRecovery, kAttrPlatformRequired | kAttrNoDriveLetter, "NTFS",
                                            "Recovery", 0, 320, nextVolume++));
    disk.partitions.push_back(
        MakePartition(501, 100, kTypeEfi, kAttrNoDriveLetter, "FAT32", "SYSTEM", 0, 30, nextVolume++));
    disk.partitions.push_back(MakePartition(601, 16, kTypeMsr, 0, "", "", 0, 0, nextVolume++));
    disk.partitions.push_back(MakePartition(617, disk.sizeMb - 617, kTypeBasicData, 0, "NTFS", "Windows", 'C', 24576,
                                            nextVolume++, std::string(kSystemFolder)));
    NumberInOrder(disk);
    return disk;
}

}  // namespace

std::vector<std::string_view> MachineVariantNames()
{
    return {"standard",      "free-behind-windows", "gap-before-windows", "larger-free-elsewhere",
            "system-disk-1", "removable-asos",      "removable-android"};
}

std::optional<Model> MachineVariant(std::string_view name)
{
    Model model;
    uint32_t next = 1;
    if (name == "standard") {
        model.disks.push_back(StandardDisk(0, next));
    } else if (name == "free-behind-windows") {
        model.disks.push_back(StandardDisk(0, next));
        model.disks[0].partitions.back().sizeMb -= 4096;
    } else if (name == "gap-before-windows") {
        model.disks.push_back(StandardDisk(0, next));
        Partition& windows = model.disks[0].partitions.back();
        windows.offsetMb += 200;
        windows.sizeMb -= 200;
    } else if (name == "larger-free-elsewhere") {
        // Recovery behind Windows and more free space at the end of the disk
        // than an install's shrink frees.
        Disk disk;
        disk.index = 0;
        disk.devicePath = "\\\\.\\PHYSICALDRIVE0";
        disk.sizeMb = 61440;
        disk.partitions.push_back(
            MakePartition(1, 100, kTypeEfi, kAttrNoDriveLetter, "FAT32", "SYSTEM", 0, 30, next++));
        disk.partitions.push_back(MakePartition(101, 16, kTypeMsr, 0, "", "", 0, 0, next++));
        const uint64_t windowsSize = disk.sizeMb - 117 - 500 - 20480;
        disk.partitions.push_back(MakePartition(117, windowsSize, kTypeBasicData, 0, "NTFS", "Windows", 'C', 24576,
                                                next++, std::string(kSystemFolder)));
        disk.partitions.push_back(MakePartition(117 + windowsSize, 500, kTypeRecovery,
                                                kAttrPlatformRequired | kAttrNoDriveLetter, "NTFS", "Recovery", 0, 320,
                                                next++));
        NumberInOrder(disk);
        model.disks.push_back(std::move(disk));
    } else if (name == "system-disk-1") {
        Disk data;
        data.index = 0;
        data.devicePath = "\\\\.\\PHYSICALDRIVE0";
        data.sizeMb = 32768;
        // Letters on every partition, so a script that addresses disk 0 by
        // mistake finds something to change.
        data.partitions.push_back(MakePartition(1, 100, kTypeEfi, 0, "FAT32", "DATAEFI", 'K', 1, next++));
        data.partitions.push_back(MakePartition(101, 200, kTypeBasicData, 0, "NTFS", "Spare", 'L', 10, next++));
        data.partitions.push_back(MakePartition(301, 32467, kTypeBasicData, 0, "NTFS", "Data", 'J', 100, next++));
        NumberInOrder(data);
        model.disks.push_back(std::move(data));
        model.disks.push_back(StandardDisk(1, next));
    } else if (name == "removable-asos" || name == "removable-android") {
        model.disks.push_back(StandardDisk(0, next));
        Disk stick;
        stick.index = 1;
        stick.devicePath = "\\\\.\\PHYSICALDRIVE1";
        stick.removable = true;
        stick.sizeMb = 15360;
        stick.partitions.push_back(MakePartition(1, 15359, kTypeBasicData, 0, "NTFS",
                                                 name == "removable-asos" ? "ASOS" : "ANDROID", 'R', 100, next++));
        NumberInOrder(stick);
        model.disks.push_back(std::move(stick));
    } else {
        return std::nullopt;
    }
    model.nextVolumeId = next;
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
