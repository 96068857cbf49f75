#include "diskpart_engine.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

namespace obrin::disksim {

namespace {

// diskpart accepts an object name shortened to its first three letters.
bool IsObjectWord(std::string_view word, std::string_view full) noexcept
{
    return word.size() >= 3 && word.size() <= full.size() && full.substr(0, word.size()) == word;
}

template <typename T>
bool ParseUnsigned(std::string_view text, T& value, int base = 10) noexcept
{
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// One parsed line: the words before any "key=value", the parameters and
// the bare flags (noerr, override, quick, ...), all lower case but values.
struct Command {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> params;
    bool syntaxOk = true;

    [[nodiscard]] bool Flag(std::string_view name) const
    {
        return std::find(words.begin(), words.end(), name) != words.end();
    }
    [[nodiscard]] const std::string* Param(std::string_view name) const
    {
        for (const auto& [key, value] : params)
            if (key == name)
                return &value;
        return nullptr;
    }
};

Command ParseLine(std::string_view line)
{
    Command command;
    std::vector<std::string> words;
    if (!SplitWords(line, words)) {
        command.syntaxOk = false;
        return command;
    }
    for (const std::string& word : words) {
        size_t eq = word.find('=');
        if (eq == std::string::npos)
            command.words.push_back(FoldedText(word));
        else
            command.params.emplace_back(FoldedText(word.substr(0, eq)), word.substr(eq + 1));
    }
    return command;
}

// "M", "M:" or "m:" -> 'M'; anything else is not a drive letter.
std::optional<char> ParseLetter(std::string_view text) noexcept
{
    if (text.size() == 2 && text[1] == ':')
        text.remove_suffix(1);
    if (text.size() != 1)
        return std::nullopt;
    char letter = UpperCase(text[0]);
    if (letter < 'A' || letter > 'Z')
        return std::nullopt;
    return letter;
}

std::optional<std::string> ParseGuid(std::string_view text)
{
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36)
        return std::nullopt;
    std::string guid = FoldedText(text);
    for (size_t i = 0; i < guid.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        bool hex = (guid[i] >= '0' && guid[i] <= '9') || (guid[i] >= 'a' && guid[i] <= 'f');
        if (dash ? guid[i] != '-' : !hex)
            return std::nullopt;
    }
    return guid;
}

enum class Outcome {
    Done,
    Exit,
    Failed,       // service failure: exit 4 unless noerr
    BadObject,    // nothing or the wrong thing selected: exit 5 unless noerr
    SyntaxError,  // exit 5, noerr or not
};

class Session {
public:
    Session(Model& model, DiskEffects& effects) : m_model(model), m_effects(effects) {}

    DiskpartResult Run(std::string_view script)
    {
        DiskpartResult result;
        while (!script.empty()) {
            size_t eol = script.find('\n');
            std::string_view line = script.substr(0, eol);
            script.remove_prefix(eol == std::string_view::npos ? script.size() : eol + 1);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            Command command = ParseLine(line);
            if (command.syntaxOk && command.words.empty() && command.params.empty())
                continue;
            Outcome outcome = command.syntaxOk ? Execute(command) : Syntax("unterminated quote");
            if (outcome == Outcome::Done)
                continue;
            if (outcome == Outcome::Exit)
                break;
            if (outcome != Outcome::SyntaxError && command.Flag("noerr")) {
                Say("The error was ignored (noerr).");
                continue;
            }
            result.exitCode = outcome == Outcome::Failed ? kDiskpartServiceFailure : kDiskpartSyntaxError;
            break;
        }
        result.output = std::move(m_output);
        return result;
    }

private:
    void Say(const std::string& text) { m_output += text + "\n"; }

    Outcome Syntax(const std::string& why)
    {
        Say("The arguments specified for this command are not valid: " + why + ".");
        return Outcome::SyntaxError;
    }
    Outcome Fail(const std::string& why)
    {
        Say("Virtual Disk Service error: " + why + ".");
        return Outcome::Failed;
    }
    Outcome BadObject(const std::string& why)
    {
        Say(why);
        return Outcome::BadObject;
    }

    // Consumes a failure the test injected for this command, if one is due.
    bool InjectedFailureDue(std::string_view name)
    {
        for (auto it = m_model.failures.begin(); it != m_model.failures.end(); ++it) {
            if (it->command != name)
                continue;
            if (it->skip > 0) {
                --it->skip;
                return false;
            }
            m_model.failures.erase(it);
            return true;
        }
        return false;
    }

    // Accepts only the listed flags and parameters (noerr is always allowed).
    static bool OnlyKnown(const Command& c, size_t leadingWords, std::initializer_list<std::string_view> flags,
                          std::initializer_list<std::string_view> params)
    {
        for (size_t i = leadingWords; i < c.words.size(); ++i)
            if (c.words[i] != "noerr" && std::find(flags.begin(), flags.end(), c.words[i]) == flags.end())
                return false;
        for (const auto& [key, value] : c.params)
            if (std::find(params.begin(), params.end(), key) == params.end())
                return false;
        return true;
    }

    Disk* FocusDisk() { return m_disk ? m_model.FindDisk(*m_disk) : nullptr; }

    Partition* FocusPartition()
    {
        Disk* disk = FocusDisk();
        if (!disk || !m_volume)
            return nullptr;
        for (Partition& p : disk->partitions)
            if (p.volumeId == m_volume)
                return &p;
        return nullptr;
    }

    // The partition in focus where it has a volume, else nullptr.
    Partition* FocusVolume()
    {
        Partition* p = FocusPartition();
        return p && HasVolume(*p) ? p : nullptr;
    }

    // The optional "letter=X" of assign and remove, and the volume they act
    // on. Anything but Done is the command's outcome.
    Outcome LetterAndVolume(const Command& c, std::optional<char>& letter, Partition*& volume)
    {
        if (const std::string* text = c.Param("letter")) {
            letter = ParseLetter(*text);
            if (!letter)
                return Syntax("drive letter \"" + *text + "\"");
        }
        volume = FocusVolume();
        if (!volume)
            return BadObject("There is no volume selected.");
        return Outcome::Done;
    }

    Outcome Execute(const Command& c)
    {
        if (c.words.empty())
            return Syntax("no command");
        const std::string& verb = c.words[0];
        if (verb == "rem")
            return Outcome::Done;
        if (verb == "exit")
            return Outcome::Exit;
        if (verb == "select")
            return Select(c);
        if (verb == "create")
            return Create(c);
        if (verb == "format")
            return Format(c);
        if (verb == "shrink")
            return Shrink(c);
        if (verb == "extend")
            return Extend(c);
        if (verb == "delete")
            return Delete(c);
        if (verb == "assign")
            return Assign(c);
        if (verb == "remove")
            return Remove(c);
        if (verb == "gpt")
            return Gpt(c);
        if (verb == "set")
            return SetId(c);
        return Syntax("unknown command " + verb);
    }

    Outcome Select(const Command& c)
    {
        // "select disk 0" and "select disk=0" both occur.
        std::vector<std::string> positional;
        for (size_t i = 1; i < c.words.size(); ++i)
            if (c.words[i] != "noerr")
                positional.push_back(c.words[i]);
        std::string object;
        std::string value;
        if (positional.size() == 2 && c.params.empty()) {
            object = positional[0];
            value = positional[1];
        } else if (positional.empty() && c.params.size() == 1) {
            object = c.params[0].first;
            value = c.params[0].second;
        } else {
            return Syntax("select takes one object and its number or letter");
        }
        if (InjectedFailureDue("select"))
            return Fail("the object could not be selected (injected)");

        if (IsObjectWord(object, "disk")) {
            uint32_t index = 0;
            if (!ParseUnsigned(value, index))
                return Syntax("disk number " + value);
            m_volume = 0;
            if (!m_model.FindDisk(index)) {
                m_disk.reset();
                return BadObject("The disk you specified is not valid. There is no disk selected.");
            }
            m_disk = index;
            Say("Disk " + std::to_string(index) + " is now the selected disk.");
            return Outcome::Done;
        }
        if (IsObjectWord(object, "partition")) {
            uint32_t number = 0;
            if (!ParseUnsigned(value, number))
                return Syntax("partition number " + value);
            Disk* disk = FocusDisk();
            if (!disk)
                return BadObject("There is no disk selected to set the partition.");
            m_volume = 0;
            for (const Partition& p : disk->partitions) {
                if (p.number == number) {
                    m_volume = p.volumeId;
                    Say("Partition " + std::to_string(number) + " is now the selected partition.");
                    return Outcome::Done;
                }
            }
            return BadObject("The partition you specified is not valid. There is no partition selected.");
        }
        if (IsObjectWord(object, "volume")) {
            m_volume = 0;
            std::optional<char> letter = ParseLetter(value);
            uint32_t number = 0;
            if (!letter && !ParseUnsigned(value, number))
                return Syntax("volume " + value);
            // Volumes are numbered in list order, across all disks.
            uint32_t listed = 0;
            for (const Disk& disk : m_model.disks) {
                for (const Partition& p : disk.partitions) {
                    if (!HasVolume(p))
                        continue;
                    if (letter ? p.letter == *letter : listed == number) {
                        m_disk = disk.index;
                        m_volume = p.volumeId;
                        Say("Volume " + value + " is the selected volume.");
                        return Outcome::Done;
                    }
                    ++listed;
                }
            }
            return BadObject("The volume you selected is not valid or does not exist.");
        }
        return Syntax("select " + object);
    }

    Outcome Create(const Command& c)
    {
        if (c.words.size() < 3 || !IsObjectWord(c.words[1], "partition") || c.words[2] != "primary")
            return Syntax("only create partition primary is known");
        if (!OnlyKnown(c, 3, {}, {"size", "offset"}))
            return Syntax("create partition primary [size=N] [offset=N]");
        uint64_t sizeMb = 0;
        uint64_t offsetKb = 0;
        const std::string* sizeText = c.Param("size");
        const std::string* offsetText = c.Param("offset");
        if ((sizeText && (!ParseUnsigned(*sizeText, sizeMb) || sizeMb == 0)) ||
            (offsetText && !ParseUnsigned(*offsetText, offsetKb)))
            return Syntax("size is megabytes, offset kilobytes");
        Disk* disk = FocusDisk();
        if (!disk)
            return BadObject("There is no disk selected.");
        if (InjectedFailureDue("create"))
            return Fail("the partition could not be created (injected)");
        if (disk->partitions.size() >= (disk->style == PartitionStyle::Gpt ? 128u : 4u))
            return Fail("no more partitions can be created on this disk");

        // A partition starts on the disk's alignment: an offset is rounded up
        // to it and must then lie in free space; without an offset the
        // partition starts at the aligned beginning of the largest free extent
        // that is large enough. Without a size it runs to the end of that
        // extent, else it takes whole megabytes.
        const uint64_t perMb = disk->SectorsPerMb();
        const uint64_t alignment = disk->AlignmentSectors();
        const uint64_t alignmentBytes = alignment * disk->bytesPerSector;
        const uint64_t limit = std::numeric_limits<uint64_t>::max();
        if (sizeMb > limit / perMb || offsetKb > (limit - alignmentBytes) / kBytesPerKb)
            return Fail("there is not enough usable space for this operation");
        const uint64_t needed = sizeText ? sizeMb * perMb : perMb;
        const uint64_t offset = (offsetKb * kBytesPerKb + alignmentBytes - 1) / alignmentBytes * alignment;
        std::optional<FreeExtent> chosen;
        for (const FreeExtent& e : FreeExtents(*disk)) {
            const uint64_t end = e.offsetSectors + e.sizeSectors;
            if (offsetText) {
                if (offset < e.offsetSectors || offset >= end)
                    continue;
                if (end - offset >= needed)
                    chosen = FreeExtent{offset, end - offset};
                break;
            }
            const uint64_t start = (e.offsetSectors + alignment - 1) / alignment * alignment;
            if (start < end && end - start >= needed && (!chosen || end - start > chosen->sizeSectors))
                chosen = FreeExtent{start, end - start};
        }
        if (!chosen)
            return Fail("there is not enough usable space for this operation");

        Partition p;
        p.offsetSectors = chosen->offsetSectors;
        p.sizeSectors = sizeText ? needed : chosen->sizeSectors;
        p.volumeId = m_model.nextVolumeId;
        if (disk->style == PartitionStyle::Gpt) {
            p.type = std::string(kTypeBasicData);
            p.id = PartitionGuid(p.volumeId);
        } else {
            p.type = std::string(kMbrTypeIfs);
        }
        p.folder = std::string(kPartitionFolderRoot) + "vol" + std::to_string(p.volumeId);
        if (!m_effects.EmptyFolder(p.folder))
            return Fail("the partition's folder could not be prepared");
        p.number = LowestFreeNumber(*disk);
        ++m_model.nextVolumeId;
        disk->partitions.push_back(p);
        SortByOffset(*disk);
        ApplyNumbering(*disk, m_model.numbering);
        m_volume = p.volumeId;
        Say("DiskPart succeeded in creating the specified partition.");
        return Outcome::Done;
    }

    Outcome Format(const Command& c)
    {
        if (!OnlyKnown(c, 1, {"quick", "override", "nowait"}, {"fs", "label", "unit"}))
            return Syntax("format [fs=FS] [label=LABEL] [quick] [override]");
        std::string fs = "NTFS";
        if (const std::string* fsText = c.Param("fs")) {
            std::string wanted = FoldedText(*fsText);
            if (wanted == "ntfs")
                fs = "NTFS";
            else if (wanted == "fat32")
                fs = "FAT32";
            else if (wanted == "fat")
                fs = "FAT";
            else if (wanted == "exfat")
                fs = "exFAT";
            else
                return Syntax("file system " + *fsText);
        }
        Partition* p = FocusVolume();
        if (!p)
            return BadObject("There is no volume selected.");
        if (InjectedFailureDue("format"))
            return Fail("the volume could not be formatted (injected)");
        if (p->folder == kSystemFolder)
            return Fail("the system volume cannot be formatted");
        if (!m_effects.EmptyFolder(p->folder))
            return Fail("the volume's files could not be erased");
        p->fileSystem = fs;
        const std::string* label = c.Param("label");
        p->label = label ? *label : std::string();
        p->usedMb = 0;
        Say("DiskPart successfully formatted the volume.");
        return Outcome::Done;
    }

    // A volume that shrink and extend can resize: NTFS or RAW, and not one of
    // the partitions the documentation excludes.
    static bool Resizable(const Partition& p)
    {
        return (p.fileSystem.empty() || p.fileSystem == "NTFS") && DescribeType(p.type).resizable;
    }

    Outcome Shrink(const Command& c)
    {
        if (!OnlyKnown(c, 1, {"nowait"}, {"desired", "minimum"}))
            return Syntax("shrink [desired=N] [minimum=N]");
        uint64_t desired = 0;
        uint64_t minimum = 0;
        const std::string* desiredText = c.Param("desired");
        const std::string* minimumText = c.Param("minimum");
        if ((desiredText && !ParseUnsigned(*desiredText, desired)) || (minimumText && !ParseUnsigned(*minimumText, minimum)))
            return Syntax("desired and minimum are megabytes");
        Partition* p = FocusVolume();
        if (!p)
            return BadObject("There is no volume selected.");
        if (InjectedFailureDue("shrink"))
            return Fail("the volume could not be shrunk (injected)");
        if (!Resizable(*p))
            return Fail("the volume cannot be shrunk");
        // Whole megabytes come off the end of the volume, wherever it ends.
        const uint64_t perMb = FocusDisk()->SectorsPerMb();
        const uint64_t kept = std::max<uint64_t>(p->usedMb, 1) * perMb;
        const uint64_t reclaimable = p->sizeSectors > kept ? (p->sizeSectors - kept) / perMb : 0;
        // Without desired the volume shrinks by the minimum; without either,
        // by as much as possible. Less than the minimum available fails.
        uint64_t amount = desiredText ? std::min(desired, reclaimable) : (minimumText ? minimum : reclaimable);
        if (amount == 0 || amount > reclaimable || (minimumText && amount < minimum))
            return Fail("the specified shrink size is too big and will cause the volume to be smaller than the minimum volume size");
        p->sizeSectors -= amount * perMb;
        Say("DiskPart successfully shrunk the volume by: " + std::to_string(amount) + " MB");
        return Outcome::Done;
    }

    Outcome Extend(const Command& c)
    {
        if (!OnlyKnown(c, 1, {}, {"size"}))
            return Syntax("extend [size=N]");
        uint64_t sizeMb = 0;
        const std::string* sizeText = c.Param("size");
        if (sizeText && (!ParseUnsigned(*sizeText, sizeMb) || sizeMb == 0))
            return Syntax("size is megabytes");
        Partition* p = FocusVolume();
        if (!p)
            return BadObject("There is no volume selected.");
        if (InjectedFailureDue("extend"))
            return Fail("the volume could not be extended (injected)");
        if (!Resizable(*p))
            return Fail("the volume cannot be extended");
        // The free space directly behind the volume, up to the next partition
        // or the end of the usable area.
        const Disk& disk = *FocusDisk();
        uint64_t contiguous = 0;
        for (const FreeExtent& e : UnpartitionedSpace(disk))
            if (e.offsetSectors == p->EndSector())
                contiguous = e.sizeSectors;
        const uint64_t perMb = disk.SectorsPerMb();
        if (contiguous == 0 || (sizeText && sizeMb > contiguous / perMb))
            return Fail("there is not enough usable free space on specified disk(s) to extend the volume");
        if (contiguous < perMb)
            return Fail("the size of the extent is less than the minimum of 1 MB");
        p->sizeSectors += sizeText ? sizeMb * perMb : contiguous;
        Say("DiskPart successfully extended the volume.");
        return Outcome::Done;
    }

    Outcome Delete(const Command& c)
    {
        if (c.words.size() < 2 || !IsObjectWord(c.words[1], "partition") || !OnlyKnown(c, 2, {"override"}, {}))
            return Syntax("delete partition [override]");
        Disk* disk = FocusDisk();
        Partition* p = FocusPartition();
        if (!p)
            return BadObject("There is no partition selected.");
        if (InjectedFailureDue("delete"))
            return Fail("the partition could not be deleted (injected)");
        if (p->folder == kSystemFolder)
            return Fail("the system or boot partition cannot be deleted");
        // Only data partitions go without override.
        if (!IsDataPartition(*p) && !c.Flag("override"))
            return Fail("cannot delete a protected partition without the force protected parameter set");
        if (p->letter && !m_effects.RemoveDrive(p->letter))
            return Fail("the drive letter could not be removed");
        if (!m_effects.RemoveFolder(p->folder))
            return Fail("the partition's files could not be removed");
        uint32_t volumeId = p->volumeId;
        disk->partitions.erase(std::remove_if(disk->partitions.begin(), disk->partitions.end(),
                                              [&](const Partition& q) { return q.volumeId == volumeId; }),
                               disk->partitions.end());
        ApplyNumbering(*disk, m_model.numbering);
        // As diskpart: after a delete no partition is in focus.
        m_volume = 0;
        Say("DiskPart successfully deleted the selected partition.");
        return Outcome::Done;
    }

    Outcome Assign(const Command& c)
    {
        if (!OnlyKnown(c, 1, {}, {"letter"}))
            return Syntax("assign [letter=X]");
        std::optional<char> letter;
        Partition* p = nullptr;
        if (Outcome outcome = LetterAndVolume(c, letter, p); outcome != Outcome::Done)
            return outcome;
        if (InjectedFailureDue("assign"))
            return Fail("the drive letter could not be assigned (injected)");
        if (!letter) {
            for (char candidate = 'D'; candidate <= 'Z' && !letter; ++candidate)
                if (!m_model.FindByLetter(candidate) && !m_effects.LetterTakenOutside(candidate))
                    letter = candidate;
            if (!letter)
                return Fail("no drive letter is free");
        }
        if (p->letter == *letter) {
            Say("DiskPart successfully assigned the drive letter or mount point.");
            return Outcome::Done;
        }
        if (m_model.FindByLetter(*letter) || m_effects.LetterTakenOutside(*letter))
            return Fail(std::string("the drive letter ") + *letter + ": is already in use");
        if (p->folder == kSystemFolder)
            return Fail("the letter of the system volume cannot be changed");
        if (p->letter && !m_effects.RemoveDrive(p->letter))
            return Fail("the old drive letter could not be removed");
        p->letter = 0;
        if (!m_effects.DefineDrive(*letter, p->folder))
            return Fail("the drive letter could not be defined");
        p->letter = *letter;
        Say("DiskPart successfully assigned the drive letter or mount point.");
        return Outcome::Done;
    }

    Outcome Remove(const Command& c)
    {
        if (!OnlyKnown(c, 1, {}, {"letter"}))
            return Syntax("remove [letter=X]");
        std::optional<char> letter;
        Partition* p = nullptr;
        if (Outcome outcome = LetterAndVolume(c, letter, p); outcome != Outcome::Done)
            return outcome;
        if (InjectedFailureDue("remove"))
            return Fail("the drive letter could not be removed (injected)");
        if (!p->letter || (letter && *letter != p->letter))
            return Fail("the specified drive letter is not assigned to the selected volume");
        if (p->folder == kSystemFolder)
            return Fail("the drive letter of the system volume cannot be removed");
        if (!m_effects.RemoveDrive(p->letter))
            return Fail("the drive letter could not be removed");
        p->letter = 0;
        Say("DiskPart successfully removed the drive letter or mount point.");
        return Outcome::Done;
    }

    Outcome Gpt(const Command& c)
    {
        const std::string* text = c.Param("attributes");
        uint64_t attributes = 0;
        if (!text || !OnlyKnown(c, 1, {}, {"attributes"}) || !ParseUnsigned(*text, attributes, 16))
            return Syntax("gpt attributes=0xN");
        Partition* p = FocusPartition();
        if (!p)
            return BadObject("There is no partition selected.");
        if (FocusDisk()->style != PartitionStyle::Gpt)
            return BadObject("The selected disk is not a GPT disk: its partitions have no GPT attributes.");
        if (InjectedFailureDue("gpt"))
            return Fail("the attributes could not be set (injected)");
        // A hidden partition has no volume, so its drive letter goes with it.
        if ((attributes & kAttrHidden) && p->letter) {
            if (p->folder == kSystemFolder)
                return Fail("the system volume cannot be hidden");
            if (!m_effects.RemoveDrive(p->letter))
                return Fail("the drive letter of the hidden volume could not be removed");
            p->letter = 0;
        }
        p->attributes = attributes;
        Say("DiskPart successfully assigned the attributes to the selected GPT partition.");
        return Outcome::Done;
    }

    // "07" or "0x7" as an MBR type byte, as diskpart takes it: hexadecimal,
    // and a type "set id" may give (DescribeMbrType).
    static std::optional<std::string> ParseMbrType(std::string_view text)
    {
        uint8_t value = 0;
        if (text.empty() || text.size() > 4 || !ParseUnsigned(text, value, 16) || !DescribeMbrType(value).assignable)
            return std::nullopt;
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", value);
        return std::string(digits);
    }

    Outcome SetId(const Command& c)
    {
        const std::string* text = c.Param("id");
        if (!text || !OnlyKnown(c, 1, {"override"}, {"id"}))
            return Syntax("set id={GUID|byte} [override]");
        Partition* p = FocusPartition();
        if (!p)
            return BadObject("There is no partition selected.");
        // A GPT disk takes a type GUID, an MBR disk a type byte.
        const bool gpt = FocusDisk()->style == PartitionStyle::Gpt;
        std::optional<std::string> type = gpt ? ParseGuid(*text) : ParseMbrType(*text);
        if (!type)
            return Fail(gpt ? "the specified type is not valid for a GPT disk"
                            : "the specified type is not valid for an MBR disk");
        if (InjectedFailureDue("setid"))
            return Fail("the partition type could not be set (injected)");
        p->type = *type;
        Say("DiskPart successfully set the partition ID.");
        return Outcome::Done;
    }

    Model& m_model;
    DiskEffects& m_effects;
    std::optional<uint32_t> m_disk;
    uint32_t m_volume = 0;  // the partition in focus, by its stable id; 0 = none
    std::string m_output;
};

}  // namespace

DiskpartResult RunDiskpartScript(Model& model, std::string_view script, DiskEffects& effects) noexcept
{
    try {
        Session session(model, effects);
        return session.Run(script);
    } catch (...) {
        DiskpartResult result;
        result.exitCode = kDiskpartFatal;
        return result;
    }
}

}  // namespace obrin::disksim
