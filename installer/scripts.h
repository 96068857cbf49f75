// The texts of every diskpart script and batch file the installer runs. Each
// template is formatted on its own and appended in order; numbers are written
// in signed decimal as diskpart's "select" expects them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scripts {

inline constexpr wchar_t kExtendPartitionFile[] = L"extend-partition.txt";
inline constexpr wchar_t kShrinkPartitionFile[] = L"shrink-partition.txt";
inline constexpr wchar_t kInstallAndroidFile[] = L"install-android.txt";
inline constexpr wchar_t kRemoveDirBatch[] = L"remove-dir.bat";
inline constexpr wchar_t kInstallAndroidBatch[] = L"install-android.bat";
inline constexpr wchar_t kUninstallAndroidFile[] = L"uninstall-android.txt";
inline constexpr wchar_t kUninstallAndroidBatch[] = L"uninstall-android.bat";
inline constexpr wchar_t kHibernateOffBatch[] = L"remove_file.bat";
inline constexpr wchar_t kHibernateOnBatch[] = L"recover_file.bat";

inline constexpr wchar_t kHibernateOffText[] = L"powercfg -h off";
inline constexpr wchar_t kHibernateOnText[] = L"powercfg -h on";

std::wstring ExtendPartition(uint32_t disk, uint32_t partition);
// Gives exactly sizeMb back: a plain extend would also take free space that
// lay behind Windows before the install.
std::wstring ExtendPartitionBy(uint32_t disk, uint32_t partition, uint64_t sizeMb);
std::wstring ShrinkWindows(uint32_t disk, uint32_t partition);
std::wstring CreateAndroidPartitions(uint32_t disk, uint32_t efiPartition, const std::wstring& efiLetter,
                                     const std::wstring& androidLetter, const std::wstring& asosLetter);
std::wstring CopyBootFiles(const std::wstring& efiLetter, const std::wstring& asosLetter,
                           const std::wstring& payload);
// What the copy batch takes from the payload folder and where it puts it:
// the EFI partition's or ASOS's root, then folder. The installer checks the
// payload against this before it changes anything, and the copies after the
// batch ran.
enum class CopyTarget { Efi, Asos };
struct PayloadCopy {
    const wchar_t* pattern;
    CopyTarget target;
    const wchar_t* folder;
};
inline constexpr PayloadCopy kPayloadCopies[] = {
    {L"*.efi", CopyTarget::Efi, L"efi\\Android\\"},
    {L"loader.conf", CopyTarget::Efi, L"loader\\"},
    {L"AndroidBoot.conf", CopyTarget::Efi, L"loader\\entries\\"},
    {L"recovery.conf", CopyTarget::Efi, L"loader\\entries\\"},
    {L"fastboot.conf", CopyTarget::Efi, L"loader\\entries\\"},
    {L"tinyi.conf", CopyTarget::Efi, L"loader\\entries\\"},
    {L"*.img", CopyTarget::Asos, L""},
    {L"*.efi", CopyTarget::Asos, L""},
    {L"*.ini", CopyTarget::Asos, L""},
    {L"*.conf", CopyTarget::Asos, L""},
    {L"system_md5sum.txt", CopyTarget::Asos, L""},
};

std::wstring RemoveLetter(uint32_t disk, uint32_t partition, const std::wstring& letter);
std::wstring HideAsos(uint32_t disk, const std::wstring& asosLetter);
std::wstring HideAndroidWithType(uint32_t disk, const std::wstring& androidLetter);

// Deletes one partition: the caller checks before each run that the number
// still names the partition it means.
std::wstring DeletePartition(uint32_t disk, uint32_t partition);
// The USER partition starts where the Windows partition ends (offsetKb), so it
// can only ever take the space behind Windows, and of sizeMb when given.
std::wstring CreateUserPartition(uint32_t disk, uint64_t offsetKb, std::optional<uint64_t> sizeMb);
std::wstring AssignLetter(uint32_t disk, uint32_t partition, const std::wstring& letter);

// The EFI partition's folders the boot files are copied into, relative to its
// root. The installer keeps to the files of the copy table in them.
inline constexpr const wchar_t* kBootFolders[] = {L"efi\\Android", L"loader"};
// Whether a file (relative to the EFI partition's root, such as
// "loader\\entries\\recovery.conf") is one the copy batch puts there.
[[nodiscard]] bool IsCopiedBootFile(const std::wstring& relativePath) noexcept;
// Deletes the given boot files (relative to the EFI partition's root, on the
// drive efiLetter), then the boot folders they leave empty; a folder that
// still holds anything stays.
std::wstring RemoveBootFiles(const std::wstring& efiLetter, const std::vector<std::wstring>& files);

}  // namespace scripts
