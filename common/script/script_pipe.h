// What both ends of the script pipe agree on: its name, its chunk size and
// the text encoding (UTF-16LE without terminator; wchar_t is UTF-16 here).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace obrin::script {

inline constexpr wchar_t kScriptPipeName[] = L"\\\\.\\pipe\\DualOSScriptServer";

// Both sides read at most this many bytes at once; the server's pipe buffers
// have this size too.
inline constexpr std::size_t kPipeChunkBytes = 4096;
inline constexpr std::size_t kPipeChunkChars = kPipeChunkBytes / sizeof(wchar_t);

static_assert(sizeof(wchar_t) == 2, "the wire text is UTF-16: build for Windows");

[[nodiscard]] inline std::size_t WireBytes(std::wstring_view text) noexcept
{
    return text.size() * sizeof(wchar_t);
}

}  // namespace obrin::script
