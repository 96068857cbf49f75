#include "installer/disk_layout.h"

#include "common/case_fold.h"

#include <algorithm>
#include <cwchar>

namespace {

std::wstring Describe(const LayoutEntry& entry)
{
    return L"partition " + std::to_wstring(entry.number) + L" (id " + GuidText(entry.id) + L", offset " +
           std::to_wstring(entry.offset) + L", " + std::to_wstring(entry.length) + L" bytes)";
}

std::wstring Describe(const PartitionIdentity& identity)
{
    return L"id " + GuidText(identity.id) + L", offset " + std::to_wstring(identity.offset) + L", " +
           std::to_wstring(identity.length) + L" bytes";
}

bool Overlaps(const LayoutEntry& entry, const PartitionIdentity& place) noexcept
{
    return entry.offset < place.offset + place.length && place.offset < entry.End();
}

// Within the MiB that diskpart's alignment may leave free before `at`.
bool StartsAtAligned(uint64_t offset, uint64_t at) noexcept
{
    return offset >= at && offset - at < kMiB;
}

// Ends at `end` within less than a MiB either way: diskpart ends a new
// partition on its alignment, and the end of the usable space is no MiB.
bool EndsAt(uint64_t partitionEnd, uint64_t end) noexcept
{
    return partitionEnd < end + kMiB && end < partitionEnd + kMiB;
}

bool Labelled(const LayoutEntry& entry, const wchar_t* label) noexcept
{
    return entry.volumeSeen && !entry.raw && obrin::EqualsNoCase(entry.label, label);
}

// As the create script leaves a partition: basic data, no attributes, its
// label or no file system (a cut between create and format).
bool AsCreated(const LayoutEntry& entry, const wchar_t* label) noexcept
{
    return entry.type == kBasicDataType && entry.attributes == 0 && entry.volumeSeen &&
           (entry.raw || Labelled(entry, label));
}

}  // namespace

const LayoutEntry* DiskLayout::FindNumber(uint32_t number) const noexcept
{
    for (const LayoutEntry& entry : entries) {
        if (entry.number == number)
            return &entry;
    }
    return nullptr;
}

LayoutEntry* DiskLayout::FindNumber(uint32_t number) noexcept
{
    for (LayoutEntry& entry : entries) {
        if (entry.number == number)
            return &entry;
    }
    return nullptr;
}

const LayoutEntry* DiskLayout::FindId(const Guid& id) const noexcept
{
    for (const LayoutEntry& entry : entries) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

const LayoutEntry* DirectlyBehind(const DiskLayout& layout, const LayoutEntry& partition) noexcept
{
    const LayoutEntry* next = nullptr;
    for (const LayoutEntry& entry : layout.entries) {
        if (&entry != &partition && entry.offset >= partition.offset && (next == nullptr || entry.offset < next->offset))
            next = &entry;
    }
    if (next == nullptr || next->offset < partition.End() || next->offset - partition.End() >= kMiB)
        return nullptr;
    return next;
}

InstallationPlace FindInstallation(const DiskLayout& layout, uint32_t windowsNumber) noexcept
{
    InstallationPlace place;
    const LayoutEntry* windows = layout.FindNumber(windowsNumber);
    if (layout.disk.style != PartitionStyle::Gpt || windows == nullptr)
        return place;
    const LayoutEntry* android = DirectlyBehind(layout, *windows);
    if (android == nullptr || (android->type != kAndroidType && !Labelled(*android, L"ANDROID")))
        return place;
    place.android = android;
    const LayoutEntry* asos = DirectlyBehind(layout, *android);
    if (asos != nullptr && asos->type == kBasicDataType &&
        (asos->attributes == kHiddenPlatformRequired || Labelled(*asos, L"ASOS")))
        place.asos = asos;
    return place;
}

const LayoutEntry* FindEfiPartition(const DiskLayout& layout) noexcept
{
    const LayoutEntry* efi = nullptr;
    if (layout.disk.style != PartitionStyle::Gpt)
        return efi;
    for (const LayoutEntry& entry : layout.entries) {
        if (entry.type == kEfiSystemType)
            efi = &entry;
    }
    return efi;
}

IdentityFinding FindRecordedPartitions(const DiskLayout& layout, const std::vector<PartitionIdentity>& recorded)
{
    IdentityFinding finding;
    for (const PartitionIdentity& identity : recorded) {
        if (const LayoutEntry* entry = layout.FindId(identity.id)) {
            if (entry->Identity() == identity) {
                finding.present.push_back(identity);
                continue;
            }
            finding.mismatch = Describe(*entry) + L" was recorded at offset " + std::to_wstring(identity.offset) +
                               L", " + std::to_wstring(identity.length) + L" bytes";
            return finding;
        }
        // Gone, and nothing in its place: deleted already (a cut right after
        // its delete). Something in its place is not this run's.
        for (const LayoutEntry& entry : layout.entries) {
            if (Overlaps(entry, identity)) {
                finding.mismatch = Describe(entry) + L" lies where the recorded partition (" + Describe(identity) +
                                   L") was";
                return finding;
            }
        }
    }
    return finding;
}

IdentityFinding FindPartitionsMadeByCreate(const DiskLayout& layout, const std::vector<uint64_t>& offsetsBefore,
                                           const FreedSpace& freed)
{
    IdentityFinding finding;
    std::vector<const LayoutEntry*> made;
    for (const LayoutEntry& entry : layout.entries) {
        if (std::find(offsetsBefore.begin(), offsetsBefore.end(), entry.offset) == offsetsBefore.end())
            made.push_back(&entry);
    }
    // ANDROID as the create script makes it (the whole freed space, then
    // 2048 MB less) or as the later steps type and hide it; ASOS behind the
    // shrunk ANDROID; nothing else.
    enum class Expect { Android, Asos, Nothing };
    Expect expect = Expect::Android;
    uint64_t androidEnd = 0;
    for (const LayoutEntry* entry : made) {
        bool fits = false;
        if (expect == Expect::Android) {
            const bool whole = EndsAt(entry->End(), freed.End());
            const bool shrunk = freed.End() >= kAsosBytes && EndsAt(entry->End(), freed.End() - kAsosBytes);
            fits = StartsAtAligned(entry->offset, freed.offset) && (whole || shrunk) &&
                   (AsCreated(*entry, L"ANDROID") ||
                    (entry->attributes == kHiddenPlatformRequired &&
                     (entry->type == kAndroidType || entry->type == kBasicDataType)));
            expect = shrunk ? Expect::Asos : Expect::Nothing;
            androidEnd = entry->End();
        } else if (expect == Expect::Asos) {
            fits = StartsAtAligned(entry->offset, androidEnd) && EndsAt(entry->End(), freed.End()) &&
                   (AsCreated(*entry, L"ASOS") ||
                    (entry->attributes == kHiddenPlatformRequired && entry->type == kBasicDataType));
            expect = Expect::Nothing;
        }
        if (!fits) {
            finding.present.clear();
            finding.mismatch = Describe(*entry) + L" was not there before and is not what the install makes in " +
                               L"the space freed behind Windows (offset " + std::to_wstring(freed.offset) + L", " +
                               std::to_wstring(freed.length) + L" bytes)";
            return finding;
        }
        finding.present.push_back(entry->Identity());
    }
    return finding;
}

bool HasAlignedSize(uint64_t length, uint64_t expected) noexcept
{
    return EndsAt(length, expected);
}

uint64_t FreeBytesBehind(const DiskLayout& layout, const LayoutEntry& partition) noexcept
{
    uint64_t end = layout.usableEnd;
    for (const LayoutEntry& entry : layout.entries) {
        if (entry.offset >= partition.End() && entry.offset < end)
            end = entry.offset;
    }
    return end > partition.End() ? end - partition.End() : 0;
}

uint64_t LargestFreeExtentAwayFrom(const DiskLayout& layout, const LayoutEntry& windows) noexcept
{
    uint64_t largest = 0;
    uint64_t start = 0;
    const auto consider = [&](uint64_t end) {
        if (end > start && start != windows.End())
            largest = std::max(largest, end - start);
    };
    for (const LayoutEntry& entry : layout.entries) {
        consider(entry.offset);
        start = std::max(start, entry.End());
    }
    consider(layout.usableEnd);
    return largest;
}

PartitionIdentity WindowsWithSpaceOf(const LayoutEntry& windows, const std::vector<PartitionIdentity>& own) noexcept
{
    uint64_t end = windows.End();
    for (const PartitionIdentity& partition : own)
        end = std::max(end, partition.offset + partition.length);
    PartitionIdentity whole = windows.Identity();
    whole.length += (end - windows.End()) / kMiB * kMiB;
    return whole;
}

uint64_t MegabytesOwed(const LayoutEntry& windows, const PartitionIdentity& whole) noexcept
{
    if (windows.id != whole.id || windows.offset != whole.offset || whole.length <= windows.length)
        return 0;
    return (whole.length - windows.length) / kMiB;
}

UserPartitionPlace PlaceUserPartition(const DiskLayout& layout, const LayoutEntry& windows, uint64_t owedMb) noexcept
{
    UserPartitionPlace place;
    place.offsetKb = OffsetKbBehind(windows.End());
    if (FreeBytesBehind(layout, windows) >= (owedMb + 1) * kMiB)
        place.sizeMb = owedMb;
    return place;
}

FreedSpace FreedSpaceBehind(const DiskLayout& layout, const LayoutEntry& windows,
                            const std::vector<uint64_t>& offsetsBefore) noexcept
{
    uint64_t end = layout.usableEnd;
    for (const uint64_t offset : offsetsBefore) {
        if (offset >= windows.End() && offset < end)
            end = offset;
    }
    return {windows.End(), end > windows.End() ? end - windows.End() : 0};
}

std::wstring GuidText(const Guid& guid)
{
    wchar_t text[39];
    swprintf(text, 39, L"{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid[3], guid[2],
             guid[1], guid[0], guid[5], guid[4], guid[7], guid[6], guid[8], guid[9], guid[10], guid[11], guid[12],
             guid[13], guid[14], guid[15]);
    return text;
}
