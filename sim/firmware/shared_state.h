// The state store of the stand-in DLL: the state file beside the DLL itself,
// which is where firmsim.exe (installed from the same folder) keeps it too.
#pragma once

#include "sim/firmware/state_store.h"

namespace firmsim {

[[nodiscard]] const StateStore& SharedState();

}  // namespace firmsim
