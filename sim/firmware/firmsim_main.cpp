// firmsim: installs the firmware stand-in into the current Wine prefix and
// steers it (answers, failures, presence, events). Exit codes: 0 done,
// 1 the operation failed, 2 bad input (nothing changed).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/firmware/command_line.h"
#include "sim/firmware/locator_registration.h"
#include "sim/firmware/state_store.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

int Fail(const std::wstring& message)
{
    fputws((L"firmsim: " + message + L"\n").c_str(), stderr);
    return kExitFailed;
}

std::wstring HresultText(HRESULT hr)
{
    wchar_t buffer[16];
    swprintf(buffer, 16, L"0x%08lx", static_cast<unsigned long>(hr));
    return buffer;
}

std::wstring ProgramFolder()
{
    const std::wstring statePath = firmsim::StateStore::PathBeside(nullptr);
    return statePath.substr(0, statePath.find_last_of(L'\\') + 1);
}

int Run(const firmsim::Command& command)
{
    using firmsim::CommandKind;
    if (command.kind == CommandKind::Install) {
        const std::wstring dll = ProgramFolder() + L"firmwmi.dll";
        if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES)
            return Fail(dll + L" is missing");
        const HRESULT hr = firmsim::InstallLocator(dll);
        return SUCCEEDED(hr) ? kExitDone : Fail(L"install failed " + HresultText(hr));
    }
    if (command.kind == CommandKind::Uninstall) {
        const HRESULT hr = firmsim::UninstallLocator();
        if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND))
            return Fail(L"not installed");
        return SUCCEEDED(hr) ? kExitDone : Fail(L"uninstall failed " + HresultText(hr));
    }

    const firmsim::StateStore store(firmsim::StateStore::PathBeside(nullptr));
    if (command.kind == CommandKind::Calls) {
        firmsim::FirmwareState state;
        const HRESULT hr = store.Read(state);
        if (FAILED(hr))
            return Fail(L"cannot read " + store.Path() + L" " + HresultText(hr));
        // Exactly the record lines, "\n"-ended, for scripts on either side of Wine.
        _setmode(_fileno(stdout), _O_BINARY);
        fputs(firmsim::FormatCalls(state).c_str(), stdout);
        return kExitDone;
    }
    // Only reset may replace a damaged state file; every other command keeps it for inspection.
    const HRESULT hr = store.Update([&](firmsim::FirmwareState& state) { firmsim::ApplyCommand(state, command); },
                                    command.kind == CommandKind::Reset);
    if (hr == HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
        return Fail(store.Path() + L" is damaged; firmsim reset starts afresh");
    return SUCCEEDED(hr) ? kExitDone : Fail(L"cannot update " + store.Path() + L" " + HresultText(hr));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        const std::vector<std::wstring> args(argv + 1, argv + argc);
        const firmsim::ParsedCommand parsed = firmsim::ParseCommand(args);
        if (!parsed.command) {
            fputws((L"firmsim: " + parsed.error + L"\n").c_str(), stderr);
            return kExitBadInput;
        }
        return Run(*parsed.command);
    } catch (...) {
        fputws(L"firmsim: out of memory\n", stderr);
        return kExitFailed;
    }
}
