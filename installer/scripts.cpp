#include "installer/scripts.h"

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

}  // namespace

std::wstring ExtendPartition(uint32_t disk, uint32_t partition)
{
    return SelectDiskAndPartition(disk, partition) + L"extend\r\nexit\r\n";
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

std::wstring RemoveEfiAndroidFolder(const std::wstring& efiLetter)
{
    return efiLetter + L"\r\ncd\\efi\r\nrmdir /s /q Android\r\n";
}

std::wstring RemoveLoaderFolder(const std::wstring& efiLetter)
{
    return efiLetter + L"\r\ncd\\\r\nrmdir /s /q loader\r\n";
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

std::wstring DeleteAndroidPartitions(uint32_t disk, const std::vector<uint32_t>& partitions)
{
    std::wstring text = L"select disk " + Number(disk) + L"\r\n";
    for (uint32_t partition : partitions)
        text += L"select par " + Number(partition) + L"\r\ndelete par override\r\n";
    text += L"exit\r\n";
    return text;
}

std::wstring CreateUserPartition(uint32_t disk, uint64_t offsetKb)
{
    return L"select disk " + Number(disk) + L"\r\ncreate partition primary offset=" + std::to_wstring(offsetKb) +
           L"\r\nformat quick fs=ntfs label=\"USER\" override noerr\r\nexit\r\n";
}

std::wstring AssignLetter(uint32_t disk, uint32_t partition, const std::wstring& letter)
{
    return SelectDiskAndPartition(disk, partition) + L"assign letter=\"" + letter + L"\"\r\nexit\r\n";
}

std::wstring RemoveBootFolders(const std::wstring& efiLetter)
{
    return RemoveEfiAndroidFolder(efiLetter) + RemoveLoaderFolder(efiLetter);
}

std::wstring UnhidePartition(uint32_t disk, uint32_t partition)
{
    return SelectDiskAndPartition(disk, partition) + L"gpt attributes=0x8000000000000001\r\nexit\r\n";
}

std::wstring HidePartition(uint32_t disk, uint32_t partition)
{
    return SelectDiskAndPartition(disk, partition) + L"gpt attributes=0x4000000000000001\r\nexit\r\n";
}

}  // namespace scripts
