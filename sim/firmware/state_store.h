// The firmware stand-in's state, shared by every process of the Wine prefix:
// two small files beside the stand-in's binaries, used only while holding one
// named mutex. firmsim.state (answers, failures, presence, return type,
// pending events) is replaced whole; firmsim.calls, the call record, one line
// per call, is appended to, so that a DualOSNotify call costs the same however
// many calls came before it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/ownership.h"
#include "sim/firmware/state_format.h"

namespace firmsim {

class StateStore {
public:
    // The state file that belongs to the binaries in the folder of `module`
    // (nullptr: the running program).
    [[nodiscard]] static std::wstring PathBeside(HMODULE module);

    // path: the state file; the call record lies beside it.
    explicit StateStore(std::wstring path);

    // Everything, the last kMaxRecordedCalls calls included. Missing files
    // read as the default state; a damaged one as
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
    [[nodiscard]] HRESULT Read(FirmwareState& state) const noexcept;
    // As Read, without the call record (state.calls stays empty).
    [[nodiscard]] HRESULT ReadWithoutCalls(FirmwareState& state) const noexcept;
    // Reads the state without calls and, when it says the firmware is present,
    // appends `call` to the record; both under the lock.
    [[nodiscard]] HRESULT RecordCall(FirmwareCall call, FirmwareState& state) const noexcept;
    // Reads everything, lets `change` edit, writes back what changed, all
    // under the lock. With `repairDamaged` a damaged file is replaced by the
    // edited default.
    [[nodiscard]] HRESULT Update(const std::function<void(FirmwareState&)>& change, bool repairDamaged = false) const noexcept;

    [[nodiscard]] const std::wstring& Path() const noexcept { return m_path; }

private:
    [[nodiscard]] HRESULT ReadSettingsUnlocked(FirmwareState& state) const noexcept;
    // Replaces state.calls with the record.
    [[nodiscard]] HRESULT ReadCallsUnlocked(FirmwareState& state) const noexcept;
    [[nodiscard]] HRESULT WriteSettingsUnlocked(const FirmwareState& state) const noexcept;
    [[nodiscard]] HRESULT WriteCallsUnlocked(const std::vector<FirmwareCall>& calls) const noexcept;
    [[nodiscard]] HRESULT AppendCallUnlocked(FirmwareCall call) const noexcept;

    std::wstring m_path;
    std::wstring m_callsPath;
    // Opened once per store, not per use: every use would otherwise cost two
    // more trips to the system.
    obrin::UniqueHandle m_mutex;
    DWORD m_mutexError;
};

}  // namespace firmsim
