#include "sim/firmware/shared_state.h"

namespace firmsim {

const StateStore& SharedState()
{
    // Never destroyed: delivery threads may still read it while the process ends.
    static const StateStore* store = [] {
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&SharedState), &self);
        return new StateStore(StateStore::PathBeside(self));
    }();
    return *store;
}

}  // namespace firmsim
