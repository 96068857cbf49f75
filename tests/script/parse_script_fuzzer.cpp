// ParseScript must never misbehave on any text, and the carry-over of the
// pipe server must give exactly the actions of one whole parse.
#include "common/script/script_text.h"
#include "tests/script/fuzz_input.h"

#include <cstdlib>

using namespace obrin::script;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::wstring text = WireText(data + 1, size - 1);
    ScriptActions whole;
    const std::ptrdiff_t last = ParseScript(text, whole);
    if (last >= static_cast<std::ptrdiff_t>(text.size()) || (last < 0) != whole.empty())
        std::abort();

    const std::size_t split = text.empty() ? 0 : data[0] % (text.size() + 1);
    ScriptActions chunked;
    const ScriptChunkParse first = ParseScriptChunk(std::wstring_view(text).substr(0, split), chunked);
    if (first.pendingStart > split)
        std::abort();
    if (!first.ended)
        ParseScriptChunk(std::wstring_view(text).substr(first.pendingStart), chunked);
    if (chunked != whole)
        std::abort();

    ScriptActions reread;
    ParseScript(WriteScript(whole), reread);
    if (reread != whole)
        std::abort();
    return 0;
}
