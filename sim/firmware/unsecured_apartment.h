// Wine 8 has no unsecured apartment (CLSID_UnsecuredApartment is not
// registered), yet WMI clients receive events through its stubs. The stand-in
// registers a class object for it in the process; its stub simply forwards
// IWbemObjectSink calls to the client's sink.
#pragma once

#include <windows.h>

namespace firmsim {

// Registers the class object once per process unless the system already has
// one. Safe to call from any thread, any number of times.
void EnsureUnsecuredApartment() noexcept;

}  // namespace firmsim
