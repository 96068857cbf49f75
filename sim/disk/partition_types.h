// The partition types the disk stand-in knows, in one table: GPT type GUIDs
// and MBR type bytes, the names each view of the model gives them (disksim's
// layout table, the GPT entry of the device image, Win32_DiskPartition.Type)
// and what diskpart and Windows do with a partition of the type. Free of
// <windows.h>.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace obrin::disksim {

// GPT partition types, lower case without braces (the form the model stores).
inline constexpr std::string_view kTypeEfi = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";
inline constexpr std::string_view kTypeMsr = "e3c9e316-0b5c-4db8-817d-f92df00215ae";
inline constexpr std::string_view kTypeBasicData = "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7";
inline constexpr std::string_view kTypeRecovery = "de94bba4-06d1-4d40-a16a-bfd50179d6ac";
inline constexpr std::string_view kTypeAndroid = "fe92a6a7-d642-4561-9f66-56cd28b8a049";

// The MBR partition type byte of an installable file system (NTFS, exFAT),
// what diskpart's "create partition primary" makes on an MBR disk, as the
// model stores type bytes: two lower-case hexadecimal digits.
inline constexpr std::string_view kMbrTypeIfs = "07";

struct PartitionType {
    std::string_view shortName;  // disksim's layout table; empty: the type as it stands
    std::string_view gptEntryName;  // the name Windows setup and diskpart give a GPT entry
    std::string_view wmiType;  // Win32_DiskPartition.Type, in Windows' words
    bool data = false;  // holds files: diskpart deletes it without override
    bool resizable = false;  // diskpart's shrink and extend may resize it
    bool hasVolume = true;  // Windows surfaces a volume for it (unless GPT bit 62 hides it)
    bool primary = true;  // MBR: a primary partition may carry it (not unused, not extended)
    bool assignable = true;  // MBR: diskpart's "set id" may give it
};

// The MBR type byte of a partition of an MBR disk, from the model's two
// lower-case hexadecimal digits.
[[nodiscard]] std::optional<uint8_t> MbrTypeByte(std::string_view type) noexcept;

// What the table says of the model's type text (a GPT type GUID or an MBR
// type byte); types it does not list get what Windows does with unknown ones.
[[nodiscard]] const PartitionType& DescribeType(std::string_view type) noexcept;
[[nodiscard]] const PartitionType& DescribeMbrType(uint8_t type) noexcept;

// disksim's name of a type: "EFI", "MSR", "Basic", "Recovery", "Android",
// "MBR 07", else the GUID itself.
[[nodiscard]] std::string TypeName(std::string_view type);

}  // namespace obrin::disksim
