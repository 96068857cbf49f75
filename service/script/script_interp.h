// The interpreter of WMI scripts sent over the pipe. It runs with the
// service's rights for any local user, so it allows only what talking to the
// firmware's DualOsMethod needs; everything else is refused with
// WBEM_E_ACCESS_DENIED and has no effect.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "common/script/script_text.h"

namespace obrin::script {

// Runs actions on this thread (with its own COM initialisation and WMI
// connection) and leaves the variables, WMIS_HRESULT and WMIS_ActionIndex in
// variables, which is cleared first. A run stops with WBEM_E_CALL_CANCELLED,
// naming the action it did not run, after kMaxActionsRun actions, at a
// firmware call beyond kMaxFirmwareCalls (script_limits.h), and before its
// next action once stopRequested (when given) is set. Always returns 1.
int RunScript(const ScriptActions& actions, ScriptVariables& variables,
              const std::atomic<bool>* stopRequested = nullptr) noexcept;

// The pipe server's runner: RunScript, then the result text.
[[nodiscard]] std::wstring RunScriptToResults(const ScriptActions& actions, const std::atomic<bool>& stopRequested);

}  // namespace obrin::script
