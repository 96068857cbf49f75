// Whatever a damaged state file holds, parsing never misbehaves, and what it
// accepts formats back to text that parses to the same state.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sim/firmware/firmsim_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto state = firmsim::ParseState(text);
    if (state) {
        const auto again = firmsim::ParseState(firmsim::FormatState(*state));
        if (!again || !(*again == *state))
            std::abort();
    }
    std::wstring wide(text.begin(), text.end());
    static_cast<void>(firmsim::ParseObjectPath(wide));
    static_cast<void>(firmsim::ParseSelectAllQuery(wide));
    return 0;
}
