// The client's result parser must never misbehave on any reply, and reading
// a reply in two chunks must give the map of one whole parse.
#include "common/script/script_text.h"
#include "tests/script/fuzz_input.h"

#include <cstdlib>

using namespace obrin::script;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::wstring text = WireText(data + 1, size - 1);
    ScriptVariables whole;
    ParseResults(text, whole);

    const std::size_t split = text.empty() ? 0 : data[0] % (text.size() + 1);
    ScriptVariables chunked;
    const ResultChunkParse first = ParseResultChunk(std::wstring_view(text).substr(0, split), chunked, false);
    if (first.consumed > split)
        std::abort();
    if (!first.ended)
        ParseResultChunk(std::wstring_view(text).substr(first.consumed), chunked, true);
    if (chunked != whole)
        std::abort();

    ScriptVariables reread;
    ParseResults(FormatResults(whole), reread);
    if (reread != whole)
        std::abort();
    return 0;
}
