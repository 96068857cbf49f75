#include "disk_driver.h"

#include "common/ownership.h"
#include "sim/disk/disk_files.h"
#include "sim/disk/disk_image.h"
#include "sim/disk/tool_places.h"
#include "sim/diskdrv/obrindisk_image.h"

#include <windows.h>

#include <vector>

namespace obrin::disksim {

namespace {

constexpr DWORD kStartTimeoutMs = 30000;

bool ReadWholeFile(const std::wstring& path, std::vector<char>& bytes) noexcept
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.HighPart != 0)
        return false;
    bytes.resize(size.LowPart);
    DWORD read = 0;
    return bytes.empty() ||
           (ReadFile(file.get(), bytes.data(), size.LowPart, &read, nullptr) && read == size.LowPart);
}

// Copies the driver into place unless the same file is already there (the
// driver may be running from it).
bool PlaceDriverFile(const std::wstring& source, const std::wstring& target) noexcept
{
    std::vector<char> built, placed;
    if (!ReadWholeFile(source, built))
        return false;
    if (ReadWholeFile(target, placed) && placed == built)
        return true;
    // Files in a test prefix may be hard links shared with the template:
    // unlink first, never write through them.
    if (!DeleteFileW(target.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    return CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

bool WaitUntilRunning(SC_HANDLE service) noexcept
{
    const DWORD start = GetTickCount();
    SERVICE_STATUS status = {};
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING) {
        if (status.dwCurrentState == SERVICE_STOPPED || GetTickCount() - start > kStartTimeoutMs) {
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return false;
        }
        Sleep(50);
    }
    return status.dwCurrentState == SERVICE_RUNNING;
}

}  // namespace

std::wstring DeviceImagePath(const std::wstring& modelPath)
{
    constexpr std::wstring_view text = L".txt";
    if (modelPath.size() > text.size() &&
        EqualsNoCase(std::wstring_view(modelPath).substr(modelPath.size() - text.size()), text))
        return modelPath.substr(0, modelPath.size() - text.size()) + L".bin";
    return modelPath + L".bin";
}

bool HandModelToDriver(const std::wstring& modelPath, const Model* model) noexcept
{
    try {
        const std::vector<uint8_t> image = BuildDeviceImage(model != nullptr ? *model : Model{});
        if (!ReplaceFileWith(DeviceImagePath(modelPath), image.data(), image.size()))
            return false;
        UniqueFileHandle control(CreateFileW(OBRINDISK_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        // No driver runs: it reads the image file when it starts.
        if (!control)
            return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
        DWORD returned = 0;
        return DeviceIoControl(control.get(), OBRINDISK_IOCTL_SET_IMAGE, const_cast<uint8_t*>(image.data()),
                               static_cast<DWORD>(image.size()), nullptr, 0, &returned, nullptr) != FALSE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool SaveModelFile(const std::wstring& path, const Model& model) noexcept
{
    return WriteModelFile(path, model) && HandModelToDriver(path, &model);
}

bool LoadModelOrClearDriver(const std::wstring& path, Model& model, std::string& error) noexcept
{
    try {
        if (LoadModelFile(path, model, error))
            return true;
        if (!HandModelToDriver(path, nullptr))
            error += "; the disk driver could not be told (error " + std::to_string(GetLastError()) + ")";
        return false;
    } catch (...) {
        return false;
    }
}

bool InstallDiskDriver(const std::wstring& folder, std::string& failed) noexcept
{
    try {
        SystemFolders system;
        if (!FindSystemFolders(system)) {
            failed = "find the system folder";
            return false;
        }
        const DriverPlace place = DiskDriverPlace(system);
        if (!PlaceDriverFile(folder + place.built, place.copy)) {
            failed = "put " + Narrow(place.copy) + " in place";
            return false;
        }
        UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager) {
            failed = "open the service manager";
            return false;
        }
        UniqueServiceHandle service = RegisterDriverService(manager.get(), system, place.registered);
        if (!service) {
            failed = "register the disk driver";
            return false;
        }
        if ((!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) ||
            !WaitUntilRunning(service.get())) {
            failed = "start the disk driver";
            return false;
        }
        return true;
    } catch (...) {
        failed = "out of memory";
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

}  // namespace obrin::disksim
