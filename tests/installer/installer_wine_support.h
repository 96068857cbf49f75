// Running the installer and the stand-ins in the test's prefix, bounded, and
// reading back what they did.
#pragma once

#include "sim/disk/disk_model.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace installer_test {

// C:\obrin\ (the folder of the test program), with the backslash.
using obrin::test::ProgramDirectory;
// Whether firmsim.exe and its WMI provider are in the bin folder.
using obrin::test::FirmwareStandInPresent;
// The service's registered image path, "" when it is not registered.
using obrin::test::RawServiceBinaryPath;

// Runs a command line in a job that is killed at the time limit, pumping this
// thread's messages meanwhile. The exit code, or nothing when it did not
// start or was killed.
std::optional<DWORD> RunBounded(const std::wstring& commandLine, DWORD timeoutMs = 300000);

std::optional<DWORD> RunInstaller(const std::wstring& arguments);
std::optional<DWORD> Disksim(const std::wstring& arguments);
std::optional<DWORD> Firmsim(const std::wstring& arguments);
// installer_probe.exe (tests/installer/installer_probe.cpp) with its arguments.
std::optional<DWORD> Probe(const std::wstring& arguments);
// Runs a diskpart script through the stand-in, as a user's partition tool would.
std::optional<DWORD> Diskpart(const std::string& script);
// Writes text as a file (replacing one there).
void WriteTextFile(const std::wstring& path, const std::string& text);
// The installer's record under HKLM\SOFTWARE\Vantrel\VantrelObrin: whether a
// value of it is there, and all of it removed (a fresh machine has none).
bool RecordHolds(const wchar_t* value);
void ClearInstallerRecord();

// A fresh machine of the named variant with the stand-in tools in place,
// under the numbering rule "disk-order" (every new machine's) or "stable".
void ResetMachine(const char* variant, const char* numbering = "disk-order");
obrin::disksim::Model LoadModel();
// What "disksim files" prints: every partition's files, by disk and number.
std::string DiskFiles();
const obrin::disksim::Partition* FindByLabel(const obrin::disksim::Disk& disk, const char* label);
bool FileExists(const std::wstring& path);

// What a partition table looks like from outside: numbers, places, types,
// attributes, labels and letters.
struct PartitionShape {
    uint32_t number;
    uint64_t offsetSectors;
    uint64_t sizeSectors;
    std::string type;
    uint64_t attributes;
    std::string label;
    char letter;
    bool operator==(const PartitionShape&) const = default;
};
// The disks of a model as text, without powercfg's record (which changes with
// every install) and pending failures.
std::string DisksText(const obrin::disksim::Model& model);

std::vector<PartitionShape> ShapeOf(const obrin::disksim::Disk& disk);
void PrintTo(const PartitionShape& shape, std::ostream* out);

// HKLM's NoDriveTypeAutoRun policy value: nothing when absent.
struct RegistryValue {
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const RegistryValue&) const = default;
};
RegistryValue DwordValue(DWORD value);
// `view`: 0, or KEY_WOW64_64KEY / KEY_WOW64_32KEY for one view of the registry
// (the key is shared by both views on 64-bit Windows).
std::optional<RegistryValue> ReadAutoRunValue(REGSAM view = 0);
// Creates the policy key (a new prefix lacks it) and sets or deletes the value.
void WriteAutoRunValue(const std::optional<RegistryValue>& value, REGSAM view = 0);
void PrintTo(const RegistryValue& value, std::ostream* out);

// Registers a window class of this process whose windows receive the
// installer's progress (the "-win:0x..." option) in `proc`, and returns the
// progress message ("DUAL_OS_WPM_SETPOS") that `proc` is to look for.
UINT RegisterProgressWindowClass(const wchar_t* className, WNDPROC proc);

// Firmware calls so far that carry this code.
size_t FirmwareCallsWithCode(DWORD code);

// Where the installer registers the service from; the image is put there
// first, as a setup tool does.
std::wstring InstallDirectoryImage();
void PlaceServiceImage();
DWORD ServiceState();

}  // namespace installer_test
