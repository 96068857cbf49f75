// Where `disksim install-tools` puts the stand-ins: where Windows keeps the
// tools they stand in for, for programs of either bitness. disksim is a
// 32-bit program. On 64-bit Windows its "system32" is redirected to SysWOW64,
// where 32-bit programs find their tools; it reaches the native system32 (the
// 64-bit programs' tools, and every driver) through "Sysnative".
#pragma once

#include "common/ownership.h"

#include <string>
#include <vector>

namespace obrin::disksim {

inline constexpr wchar_t kDiskDriverService[] = L"OBRINDISK";
inline constexpr wchar_t kDiskDriverFile[] = L"obrindisk.sys";
// The x86-64 build beside it, installed as kDiskDriverFile in 64-bit prefixes.
inline constexpr wchar_t kDiskDriverFile64[] = L"obrindisk64.sys";

struct SystemFolders {
    bool wow64 = false;             // a 32-bit program on 64-bit Windows
    std::wstring native;            // the native system32, as this program reaches it
    std::wstring nativeName;        // the same folder as Windows names it (in a service's image path)
    std::wstring thirtyTwoBit;      // where 32-bit programs find system tools: SysWOW64 or system32
};

// False with the last error set when a folder cannot be found.
[[nodiscard]] bool FindSystemFolders(SystemFolders& folders) noexcept;

struct ToolCopy {
    const wchar_t* file;  // in disksim's own folder
    std::wstring target;
};

// diskpart.exe and powercfg.exe where Windows has them, in both system folders
// of a 64-bit Windows; powrprof.dll, a 32-bit DLL, only where 32-bit programs
// load it from (64-bit programs keep Wine's).
[[nodiscard]] std::vector<ToolCopy> ToolCopies(const SystemFolders& folders);

struct DriverPlace {
    const wchar_t* built;     // in disksim's own folder: the build for the native processor
    std::wstring copy;        // where it is copied to, as this program reaches it
    std::wstring registered;  // the service's image path, as Windows names it
};

// The disk driver in the native system32\drivers: obrindisk64.sys as
// obrindisk.sys on 64-bit Windows (a 64-bit kernel loads only 64-bit drivers).
[[nodiscard]] DriverPlace DiskDriverPlace(const SystemFolders& folders);

// OBRINDISK registered as a kernel driver that starts with the prefix, with
// `image` as its image path; an existing entry counts as registered. Under
// Wine the registering program's bitness decides the bitness of the
// winedevice.exe that loads the driver (it cannot tell a driver image's), so
// on 64-bit Windows the native sc.exe registers it. Empty on failure, with
// the last error set.
[[nodiscard]] UniqueServiceHandle RegisterDriverService(SC_HANDLE manager, const SystemFolders& folders,
                                                        const std::wstring& image) noexcept;

}  // namespace obrin::disksim
