// Any text, including overlong lines and stray marks, parses without faults
// and every key found can be looked up again by its own name.
#include "switcher/lang/ini_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IniParser parser{};
    if (!IniParser_Initialize(&parser))
        return 0;
    const IniParserHandle handle = IniParser_Handle(&parser);
    const std::string text(reinterpret_cast<const char*>(data), size);
    parser.Ops.ParseText(handle, text.c_str());
    const int32_t sections = parser.Ops.SectionCount(handle);
    for (int32_t id = 0; id < sections; ++id) {
        const int32_t keys = parser.Ops.KeyCount(handle, id);
        for (int32_t index = 0; index < keys; ++index) {
            const IniKey* key = parser.Ops.FindKeyByIndex(handle, id, index);
            if (!key || !parser.Ops.FindKeyByName(handle, id, key->Name))
                abort();
        }
    }
    IniParser_Uninitialize(&parser);
    return 0;
}
