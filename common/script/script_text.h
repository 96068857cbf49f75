// The text side of the WMI script language: actions, the variable map, the
// script parser, the result text and the client's builder and result parser.
// Shared by the service's interpreter and the switcher's client; free of
// Windows headers so it also builds (and is fuzzed) natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace obrin::script {

// The action codes, named once for the interpreter, the switcher's script and
// the tests. Each action's arguments and effect are in the README ("Sending a
// script by hand").
namespace action {
inline constexpr int kSetVariable = 0;
inline constexpr int kJump = 99;
inline constexpr int kConnect = 100;
inline constexpr int kSetProxyBlanket = 101;
inline constexpr int kExecQuery = 102;
inline constexpr int kGetObject = 103;
inline constexpr int kGetMethod = 104;
inline constexpr int kExecMethod = 105;
inline constexpr int kReleaseConnection = 199;
inline constexpr int kNextObject = 200;
inline constexpr int kReleaseEnumerator = 299;
inline constexpr int kPutInParameters = 300;
inline constexpr int kReadOutParameters = 301;
inline constexpr int kClearMethod = 399;
inline constexpr int kPutProperties = 400;
inline constexpr int kReadProperties = 401;
inline constexpr int kReleaseObject = 499;
}  // namespace action

// One action: "[" code "=" field "," field ... "]".
struct ScriptAction {
    int code = -1;  // -1: unset (out of range or not a number); does nothing when run
    std::vector<std::wstring> arguments;

    bool operator==(const ScriptAction&) const = default;
};
using ScriptActions = std::vector<ScriptAction>;

// Highest code an action may carry.
inline constexpr int kMaxActionCode = 99999;

// Orders keys without regard to case: obrin::FoldCase (common/case_fold.h),
// only A-Z to lower case, so "_" sorts before letters in every locale and on
// every platform. Equal keys are those obrin::EqualsNoCase finds equal.
struct CaseInsensitiveLess {
    using is_transparent = void;
    [[nodiscard]] bool operator()(std::wstring_view left, std::wstring_view right) const noexcept;
};

// Variables of one run and the results carried back. Assigning through
// operator[] keeps the spelling of the key that was stored first.
using ScriptVariables = std::map<std::wstring, std::wstring, CaseInsensitiveLess>;

// Decimal stream-style number reading: leading white space skipped, an
// optional sign, at least one digit, anything after the digits ignored.
// False (value untouched) when the text does not read as a number in range.
[[nodiscard]] bool ReadLong(std::wstring_view text, std::int32_t& value) noexcept;
// As an unsigned 32-bit stream read: a leading "-" negates modulo 2^32.
[[nodiscard]] bool ReadUnsignedLong(std::wstring_view text, std::uint32_t& value) noexcept;
// Argument forms: a text that does not read as a number is 0.
[[nodiscard]] std::int32_t ArgumentToLong(std::wstring_view text) noexcept;
[[nodiscard]] std::uint32_t ArgumentToUnsignedLong(std::wstring_view text) noexcept;
// An action code: 0..99999, else -1.
[[nodiscard]] int ReadActionCode(std::wstring_view text) noexcept;

// Appends every complete action of text to actions and returns the position
// of the "]" of the last one, or -1 when none was found. Parsing ends at the
// first action that is not complete.
std::ptrdiff_t ParseScript(std::wstring_view text, ScriptActions& actions);

// What the pipe server needs to carry an unfinished action into the next chunk.
struct ScriptChunkParse {
    std::ptrdiff_t lastBracket = -1;  // as ParseScript returns
    // Where unparsed text that may still become an action starts; text.size()
    // when nothing is pending (text before a "[" is never needed again).
    std::size_t pendingStart = 0;
    // A malformed action was met: no later text of this message is parsed.
    bool ended = false;
};
ScriptChunkParse ParseScriptChunk(std::wstring_view text, ScriptActions& actions);

// What one parsed action holds in memory: its record, and each argument's
// record and text (with its terminator). The server bounds a message's
// parsed form by the sum of these.
[[nodiscard]] std::size_t ParsedSize(const ScriptAction& action) noexcept;

// The i-th field of action, or "" when there is none. With substitution a
// whole argument of the form "$(name)" is replaced by that variable ("" when
// unset); nothing inside longer text is replaced.
[[nodiscard]] std::wstring ArgumentText(const ScriptAction& action, std::size_t index);
[[nodiscard]] std::wstring SubstitutedArgument(const ScriptAction& action, std::size_t index,
                                               const ScriptVariables& variables);

// key "=" value ";" for every entry, in the map's order.
[[nodiscard]] std::wstring FormatResults(const ScriptVariables& variables);

// Client side. The argument text is split at every ","; a last field after the
// final "," counts when not empty. The action is written and read back with
// the parser, so the action kept is exactly what the server will see.
[[nodiscard]] ScriptAction BuildAction(int code, std::wstring_view argumentText);
// "[code=arg,arg,]"; an action without arguments is written "[code=,]".
[[nodiscard]] std::wstring WriteAction(const ScriptAction& action);
[[nodiscard]] std::wstring WriteScript(const ScriptActions& actions);

// Result text parsing. A chunk that is not the last of its message takes only
// pairs whose ";" has arrived; the last one also takes a final pair without
// ";". Parsing ends for good at a pair without "=", with an empty key, or whose
// first "=" lies beyond its ";".
struct ResultChunkParse {
    std::size_t consumed = 0;  // characters taken, up to just after the last ";" used
    bool ended = false;
};
ResultChunkParse ParseResultChunk(std::wstring_view text, ScriptVariables& results, bool lastChunk);
// A whole result text (the map is not emptied first).
void ParseResults(std::wstring_view text, ScriptVariables& results);

}  // namespace obrin::script
