// Whatever a damaged state file or call record holds, parsing never
// misbehaves, and a state it accepts formats back to text that parses to the
// same state.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sim/firmware/state_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto state = firmsim::ParseState(text);
    if (state) {
        const auto again = firmsim::ParseState(firmsim::FormatState(*state));
        if (!again || !(*again == *state))
            std::abort();
    }
    firmsim::FirmwareState calls;
    static_cast<void>(firmsim::ParseCalls(text, calls));
    return 0;
}
