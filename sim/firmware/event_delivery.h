// Event subscriptions of one process. Each has a delivery thread that looks at
// the shared state every 100 ms and hands every event raised since the
// subscription began (by any process of the prefix) to its sink.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include "sim/firmware/state_format.h"

namespace firmsim {

[[nodiscard]] HRESULT Subscribe(EventKind kind, IWbemObjectSink* sink) noexcept;
// Stops every subscription of `sink` and tells the sink with SetStatus
// (WBEM_STATUS_COMPLETE, WBEM_E_CALL_CANCELLED), as WMI does. WBEM_E_NOT_FOUND
// when the sink has none.
[[nodiscard]] HRESULT CancelSubscription(IWbemObjectSink* sink) noexcept;

}  // namespace firmsim
