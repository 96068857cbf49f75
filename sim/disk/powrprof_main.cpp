// Stand-in powrprof.dll: the hibernation answers follow the hibernation state
// kept in the disk model, which the stand-in powercfg.exe switches, as
// "powercfg -h off|on" switches them on Windows. disksim install-tools puts it
// in system32 and lets the installer load it in place of Wine's, whose
// answers are fixed. Everything else is asked of the system as Wine does.
#include "sim/disk/disk_files.h"

#include <windows.h>
#include <powrprof.h>
#include <winternl.h>

extern "C" NTSTATUS NTAPI NtPowerInformation(POWER_INFORMATION_LEVEL level, void* input, ULONG inputSize,
                                             void* output, ULONG outputSize);

namespace {

// The machine's hibernation state, or nothing when the model cannot be read
// (then the system's own answer stands).
bool ReadHibernation(bool& hibernation) noexcept
{
    try {
        obrin::disksim::Model model;
        std::string error;
        if (!obrin::disksim::LoadModelFile(obrin::disksim::ModelFilePath(), model, error))
            return false;
        hibernation = model.hibernation;
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

extern "C" {

NTSTATUS WINAPI CallNtPowerInformation(POWER_INFORMATION_LEVEL level, void* input, ULONG inputSize, void* output,
                                       ULONG outputSize)
{
    return NtPowerInformation(level, input, inputSize, output, outputSize);
}

BOOLEAN WINAPI GetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES capabilities)
{
    if (capabilities == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const NTSTATUS status =
        NtPowerInformation(SystemPowerCapabilities, nullptr, 0, capabilities, sizeof(*capabilities));
    if (status != 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return FALSE;
    }
    // With hibernation off there is no hibernation file, and so no S4.
    bool hibernation = true;
    if (ReadHibernation(hibernation) && !hibernation) {
        capabilities->HiberFilePresent = FALSE;
        capabilities->SystemS4 = FALSE;
    }
    return TRUE;
}

BOOLEAN WINAPI IsPwrHibernateAllowed()
{
    SYSTEM_POWER_CAPABILITIES capabilities = {};
    if (!GetPwrCapabilities(&capabilities))
        return FALSE;
    return capabilities.SystemS4 && capabilities.HiberFilePresent;
}

BOOLEAN WINAPI IsPwrSuspendAllowed()
{
    SYSTEM_POWER_CAPABILITIES capabilities = {};
    if (!GetPwrCapabilities(&capabilities))
        return FALSE;
    return capabilities.SystemS1 || capabilities.SystemS2 || capabilities.SystemS3;
}

BOOLEAN WINAPI IsPwrShutdownAllowed()
{
    SYSTEM_POWER_CAPABILITIES capabilities = {};
    if (!GetPwrCapabilities(&capabilities))
        return FALSE;
    return capabilities.SystemS5;
}

// As Wine's: the prefix has no sleep to enter.
BOOLEAN WINAPI SetSuspendState(BOOLEAN, BOOLEAN, BOOLEAN)
{
    return TRUE;
}

}  // extern "C"
