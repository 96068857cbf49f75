#include "disk_files.h"


#include "common/ownership.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

namespace obrin::disksim {

namespace {

// Wine's mount manager extension (include/ddk/mountmgr.h in Wine's tree):
// define or remove a drive letter that maps to a Unix path.
constexpr wchar_t kMountManager[] = L"\\\\.\\MountPointManager";
constexpr DWORD kIoctlDefineUnixDrive = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct MountmgrUnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDev;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

using WineGetUnixFileName = char*(CDECL*)(const WCHAR*);

bool SendToMountManager(const std::vector<char>& request) noexcept
{
    UniqueFileHandle manager(CreateFileW(kMountManager, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (!manager)
        return false;
    DWORD returned = 0;
    return DeviceIoControl(manager.get(), kIoctlDefineUnixDrive, const_cast<char*>(request.data()),
                           static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr) != FALSE;
}

bool IsUnderPartitionRoot(const std::wstring& folder)
{
    std::string narrow = Narrow(folder);
    return narrow != kSystemFolder && IsPartitionFolder(narrow);
}

std::wstring WithoutTrailingBackslash(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

// Deletes what `folder` holds; links inside are removed, never followed.
bool DeleteContents(const std::wstring& folder) noexcept
{
    WIN32_FIND_DATAW found;
    std::wstring pattern = folder + L"\\*";
    UniqueFindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (!search)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES;
    bool ok = true;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ok = DeleteContents(path) && RemoveDirectoryW(path.c_str()) && ok;
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = RemoveDirectoryW(path.c_str()) && ok;
        else
            ok = DeleteFileW(path.c_str()) && ok;
    } while (FindNextFileW(search.get(), &found));
    return ok;
}

bool CreateFolderWithParents(const std::wstring& folder) noexcept
{
    if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return false;
    size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < 3)
        return false;
    return CreateFolderWithParents(folder.substr(0, slash)) &&
           (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
}

}  // namespace

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), count);
    return wide;
}

std::string Narrow(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), count, nullptr, nullptr);
    return utf8;
}

std::wstring ModelFilePath()
{
    wchar_t buffer[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"OBRIN_DISKSIM_MODEL", buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return buffer;
    return Widen(std::string(kPartitionFolderRoot)) + L"model.txt";
}

bool LoadModelFile(const std::wstring& path, Model& model, std::string& error) noexcept
{
    try {
        UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = "cannot open " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        std::string text;
        char chunk[4096];
        DWORD read = 0;
        while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
            text.append(chunk, read);
        return ParseModel(text, model, error);
    } catch (...) {
        error = "out of memory";
        return false;
    }
}

bool ReplaceFileWith(const std::wstring& path, const void* data, size_t size) noexcept
{
    try {
        std::wstring fresh = path + L".new";
        {
            UniqueFileHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file)
                return false;
            DWORD written = 0;
            if (!WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size ||
                !FlushFileBuffers(file.get()))
                return false;
        }
        return MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    } catch (...) {
        return false;
    }
}

bool WriteModelFile(const std::wstring& path, const Model& model) noexcept
{
    try {
        std::string text = FormatModel(model);
        size_t slash = path.find_last_of(L'\\');
        if (slash != std::wstring::npos && !CreateFolderWithParents(path.substr(0, slash)))
            return false;
        return ReplaceFileWith(path, text.data(), text.size());
    } catch (...) {
        return false;
    }
}

bool DefineDriveLetter(char letter, const std::wstring& folder) noexcept
{
    try {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        auto toUnix = kernel ? reinterpret_cast<WineGetUnixFileName>(
                                   reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                             : nullptr;
        if (!toUnix) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return false;
        }
        char* unixPath = toUnix(WithoutTrailingBackslash(folder).c_str());
        if (!unixPath)
            return false;
        std::string mountPoint = unixPath;
        HeapFree(GetProcessHeap(), 0, unixPath);

        std::vector<char> request(sizeof(MountmgrUnixDrive) + mountPoint.size() + 1, '\0');
        auto* drive = reinterpret_cast<MountmgrUnixDrive*>(request.data());
        drive->size = static_cast<ULONG>(request.size());
        drive->type = DRIVE_FIXED;
        drive->letter = static_cast<WCHAR>(letter);
        drive->mountPointOffset = static_cast<USHORT>(sizeof(MountmgrUnixDrive));
        mountPoint.copy(request.data() + sizeof(MountmgrUnixDrive), mountPoint.size());
        return SendToMountManager(request);
    } catch (...) {
        return false;
    }
}

bool RemoveDriveLetter(char letter) noexcept
{
    try {
        std::vector<char> request(sizeof(MountmgrUnixDrive), '\0');
        auto* drive = reinterpret_cast<MountmgrUnixDrive*>(request.data());
        drive->size = static_cast<ULONG>(request.size());
        drive->type = DRIVE_NO_ROOT_DIR;
        drive->letter = static_cast<WCHAR>(letter);
        return SendToMountManager(request);
    } catch (...) {
        return false;
    }
}

bool EmptyPartitionFolder(const std::wstring& folder) noexcept
{
    try {
        if (!IsUnderPartitionRoot(folder))
            return false;
        std::wstring path = WithoutTrailingBackslash(folder);
        return CreateFolderWithParents(path) && DeleteContents(path);
    } catch (...) {
        return false;
    }
}

bool RemovePartitionFolder(const std::wstring& folder) noexcept
{
    try {
        if (!IsUnderPartitionRoot(folder))
            return false;
        std::wstring path = WithoutTrailingBackslash(folder);
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return true;
        return DeleteContents(path) && RemoveDirectoryW(path.c_str());
    } catch (...) {
        return false;
    }
}

bool PrefixEffects::LetterTakenOutside(char letter)
{
    wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
    return GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR;
}

bool PrefixEffects::DefineDrive(char letter, const std::string& folder)
{
    return DefineDriveLetter(letter, Widen(folder));
}

bool PrefixEffects::RemoveDrive(char letter) { return RemoveDriveLetter(letter); }

bool PrefixEffects::EmptyFolder(const std::string& folder) { return EmptyPartitionFolder(Widen(folder)); }

bool PrefixEffects::RemoveFolder(const std::string& folder) { return RemovePartitionFolder(Widen(folder)); }

}  // namespace obrin::disksim
