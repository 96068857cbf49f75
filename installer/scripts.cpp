#include "installer/scripts.h"

#include "common/case_fold.h"

namespace scripts {
namespace {

std::wstring Number(uint32_t value)
{
    return std::to_wstring(static_cast<int32_t>(value));
}

std::wstring SelectDiskAndPartition(uint32_t disk, uint32_t partition)
{
    return L"select disk " + Number(disk) + L"\r\nselect par " + Number(partition) + L"\r\n";
}

// A file name against a copy table pattern: a name, or "*" and a suffix
// ("*.efi"), without regard to case. Long names only, so "*.efi" never
// takes "x.efi2" as a short-name match would.
bool MatchesPattern(std::wstring_view name, std::wstring_view pattern) noexcept
{
    if (!pattern.empty() && pattern.front() == L'*') {
        const std::wstring_view suffix = pattern.substr(1);
        return name.size() > suffix.size() && obrin::EqualsNoCase(name.substr(name.size() - suffix.size()), suffix);
    }
    return obrin::EqualsNoCase(name, pattern);
}

}  // namespace

std::wstring ExtendPartition(uint32_t disk, uint32_t partition)
{
    return SelectDiskAndPartition(disk, partition) + L"extend\r\nexit\r\n";
}

std::wstring ExtendPartitionBy(uint32_t disk, uint32_t partition, uint64_t sizeMb)
{
    return SelectDiskAndPartition(disk, partition) + L"extend size=" + std::to_wstring(sizeMb) + L"\r\nexit\r\n";
}

std::wstring ShrinkWindows(uint32_t disk, uint32_t partition)
{
    return SelectDiskAndPartition(disk, partition) + L"shrink minimum=12288\r\nexit\r\n";
}

std::wstring CreateAndroidPartitions(uint32_t disk, uint32_t efiPartition, const std::wstring& efiLetter,
                                     const std::wstring& androidLetter, const std::wstring& asosLetter)
{
    std::wstring text = SelectDiskAndPartition(disk, efiPartition) + L"assign letter=\"" + efiLetter + L"\"\r\n";
    text += L"create partition primary\r\nformat quick fs=ntfs label=\"ANDROID\" override noerr\r\nassign letter=\"" +
            androidLetter + L"\"\r\n";
    text += L"shrink minimum=2048\r\n";
    text += L"create partition primary\r\nformat quick fs=ntfs label=\"ASOS\" override noerr\r\nassign letter=\"" +
            asosLetter + L"\"\r\n";
    text += L"exit\r\n";
    return text;
}

std::wstring CopyBootFiles(const std::wstring& efiLetter, const std::wstring& asosLetter, const std::wstring& payload)
{
    const std::wstring& e = efiLetter;
    const std::wstring& a = asosLetter;
    const std::wstring& p = payload;
    std::wstring text;
    text += e + L"\r\ncd\\efi\r\nmkdir Android\r\ncd Android\r\nxcopy.exe /y " + p + L"*.efi\r\n";
    text += e + L"\r\ncd\\\r\nmkdir loader\r\ncd loader\r\nxcopy.exe /y " + p + L"loader.conf\r\n";
    text += e + L"\r\ncd\\loader\r\nmkdir entries\r\ncd entries\r\nxcopy.exe /y " + p + L"AndroidBoot.conf\r\n";
    text += e + L"\r\ncd\\loader\\entries\r\nxcopy.exe /y " + p + L"recovery.conf\r\n";
    text += e + L"\r\ncd\\loader\\entries\r\nxcopy.exe /y " + p + L"fastboot.conf\r\n";
    text += e + L"\r\ncd\\loader\\entries\r\nxcopy.exe /y " + p + L"tinyi.conf\r\n";
    text += a + L"\r\nxcopy.exe /y " + p + L"*.img\r\nxcopy.exe /y " + p + L"*.efi\r\n";
    text += a + L"\r\nxcopy.exe /y " + p + L"*.ini\r\nxcopy.exe /y " + p + L"*.conf\r\n";
    text += a + L"\r\nxcopy.exe /y " + p + L"system_md5sum.txt\r\n";
    return text;
}

std::wstring RemoveLetter(uint32_t disk, uint32_t partition, const std::wstring& letter)
{
    return SelectDiskAndPartition(disk, partition) + L"remove letter=\"" + letter + L"\"\r\nexit\r\n";
}

std::wstring HideAsos(uint32_t disk, const std::wstring& asosLetter)
{
    return L"select disk " + Number(disk) + L"\r\nselect vol=\"" + asosLetter +
           L"\"\r\ngpt attributes=0x4000000000000001\r\nexit\r\n";
}

std::wstring HideAndroidWithType(uint32_t disk, const std::wstring& androidLetter)
{
    return L"select disk " + Number(disk) + L"\r\nselect vol=\"" + androidLetter +
           L"\"\r\ngpt attributes=0x4000000000000001\r\nset id=\"fe92a6a7-d642-4561-9f66-56cd28b8a049\"\r\nexit\r\n";
}

std::wstring DeletePartition(uint32_t disk, uint32_t partition)
{
    return SelectDiskAndPartition(disk, partition) + L"delete par override\r\nexit\r\n";
}

std::wstring CreateUserPartition(uint32_t disk, uint64_t offsetKb, std::optional<uint64_t> sizeMb)
{
    const std::wstring size = sizeMb ? L" size=" + std::to_wstring(*sizeMb) : L"";
    return L"select disk " + Number(disk) + L"\r\ncreate partition primary offset=" + std::to_wstring(offsetKb) +
           size + L"\r\nformat quick fs=ntfs label=\"USER\" override noerr\r\nexit\r\n";
}

std::wstring AssignLetter(uint32_t disk, uint32_t partition, const std::wstring& letter)
{
    return SelectDiskAndPartition(disk, partition) + L"assign letter=\"" + letter + L"\"\r\nexit\r\n";
}

bool IsCopiedBootFile(const std::wstring& relativePath) noexcept
{
    const size_t slash = relativePath.rfind(L'\\');
    const std::wstring_view folder(relativePath.data(), slash == std::wstring::npos ? 0 : slash + 1);
    const std::wstring_view name = std::wstring_view(relativePath).substr(folder.size());
    for (const PayloadCopy& copy : kPayloadCopies) {
        if (copy.target == CopyTarget::Efi && obrin::EqualsNoCase(folder, copy.folder) &&
            MatchesPattern(name, copy.pattern))
            return true;
    }
    return false;
}

std::wstring RemoveBootFiles(const std::wstring& efiLetter, const std::vector<std::wstring>& files)
{
    // Whole paths on the EFI drive: with that drive missing nothing matches,
    // and nothing on the drive the batch starts in is touched.
    std::wstring text;
    for (const std::wstring& file : files)
        text += L"del /f /q \"" + efiLetter + L"\\" + file + L"\"\r\n";
    for (const wchar_t* folder : {L"loader\\entries", L"loader", L"efi\\Android"})
        text += L"rmdir \"" + efiLetter + L"\\" + folder + L"\"\r\n";
    return text;
}

}  // namespace scripts
