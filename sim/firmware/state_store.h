// The firmware stand-in's state, shared by every process of the Wine prefix:
// a small text file beside the stand-in's binaries, read and replaced only
// while holding one named mutex.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "sim/firmware/firmsim_text.h"

namespace firmsim {

class StateStore {
public:
    // The state file that belongs to the binaries in the folder of `module`
    // (nullptr: the running program).
    [[nodiscard]] static std::wstring PathBeside(HMODULE module);

    explicit StateStore(std::wstring path) : m_path(std::move(path)) {}

    // A missing file reads as the default state; a damaged one as
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
    [[nodiscard]] HRESULT Read(FirmwareState& state) const noexcept;
    // Reads, lets `change` edit, writes back, all under the lock. With
    // `repairDamaged` a damaged file is replaced by the edited default state.
    [[nodiscard]] HRESULT Update(const std::function<void(FirmwareState&)>& change, bool repairDamaged = false) const noexcept;

    [[nodiscard]] const std::wstring& Path() const noexcept { return m_path; }

private:
    [[nodiscard]] HRESULT ReadUnlocked(FirmwareState& state) const noexcept;
    [[nodiscard]] HRESULT WriteUnlocked(const FirmwareState& state) const noexcept;

    std::wstring m_path;
};

}  // namespace firmsim
