// The interpreter of WMI scripts sent over the pipe. It runs with the
// service's rights for any local user, so it allows only what talking to the
// firmware's DualOsMethod needs; everything else is refused with
// WBEM_E_ACCESS_DENIED and has no effect.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "common/script/script_text.h"

namespace obrin::script {

// A backward jump may repeat actions; a run stops with WBEM_E_CALL_CANCELLED
// after this many.
inline constexpr std::size_t kMaxActionsRun = 65536;

// Runs actions on this thread (with its own COM initialisation and WMI
// connection) and leaves the variables, WMIS_HRESULT and WMIS_ActionIndex in
// variables, which is cleared first. Always returns 1.
int RunScript(const ScriptActions& actions, ScriptVariables& variables) noexcept;

// The pipe server's runner: RunScript, then the result text.
[[nodiscard]] std::wstring RunScriptToResults(const ScriptActions& actions);

}  // namespace obrin::script
