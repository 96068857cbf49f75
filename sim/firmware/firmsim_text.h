// Text side of the firmware stand-in: the control program's command line, the
// shared state file, and the small pieces of WQL and object-path syntax that the
// stand-in's WMI objects understand. No <windows.h>, so it also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace firmsim {

enum class ReturnType { UInt32, SInt32, String };

// DualOsEvent (root\wmi) or Win32_PowerManagementEvent (root\cimv2).
enum class EventKind { DualOs, Power };

struct FirmwareCall {
    uint32_t code = 0;
    uint32_t parameter = 0;
    bool operator==(const FirmwareCall&) const = default;
};

struct PendingEvent {
    uint64_t sequence = 0;
    EventKind kind = EventKind::DualOs;
    uint32_t value = 0;
    bool operator==(const PendingEvent&) const = default;
};

// Everything that all processes of one Wine prefix share. Events carry a
// sequence number that only grows (also across reset), so a subscription
// remembers the last number it has seen and takes every newer event.
struct FirmwareState {
    std::map<uint32_t, uint32_t> answers;  // codes answered otherwise than by default
    std::map<uint32_t, uint32_t> failures;  // code -> HRESULT of the failing method call
    bool present = true;
    ReturnType returnType = ReturnType::UInt32;
    std::vector<FirmwareCall> calls;  // oldest first
    std::vector<PendingEvent> events;  // oldest first, the most recent kMaxPendingEvents
    uint64_t lastSequence = 0;
    bool operator==(const FirmwareState&) const = default;
};

inline constexpr size_t kMaxRecordedCalls = 10000;
inline constexpr size_t kMaxPendingEvents = 64;

// What DualOSNotify returns for a code unless `firmsim answer` said otherwise.
[[nodiscard]] uint32_t DefaultAnswer(uint32_t code) noexcept;
[[nodiscard]] uint32_t AnswerFor(const FirmwareState& state, uint32_t code) noexcept;
void RecordCall(FirmwareState& state, FirmwareCall call);
void RaiseEvent(FirmwareState& state, EventKind kind, uint32_t value);
// Back to the defaults; the event sequence keeps counting so that live
// subscriptions neither miss nor repeat events raised after the reset.
void ResetState(FirmwareState& state) noexcept;

[[nodiscard]] std::string FormatState(const FirmwareState& state);
// nullopt for anything that FormatState would not have written.
[[nodiscard]] std::optional<FirmwareState> ParseState(std::string_view text);
// One line per call, "0x%08x 0x%08x" with code and parameter.
[[nodiscard]] std::string FormatCalls(const FirmwareState& state);
// The line of one call (the same for every call: 22 characters).
[[nodiscard]] std::string FormatCall(FirmwareCall call);
// Records the calls of the lines FormatCalls writes, oldest first, into
// state (as RecordCall does: the last kMaxRecordedCalls stay); false, with
// state.calls unchanged, for any other text.
[[nodiscard]] bool ParseCalls(std::string_view text, FirmwareState& state);

// Decimal, or hexadecimal after "0x"/"0X"; the whole text, no sign, 32 bits.
[[nodiscard]] std::optional<uint32_t> ParseNumber(std::wstring_view text) noexcept;

enum class CommandKind { Install, Uninstall, Answer, Fail, Absent, Present, RetType, Raise, Resume, Calls, Reset };

struct Command {
    CommandKind kind = CommandKind::Calls;
    uint32_t first = 0;
    uint32_t second = 0;
    ReturnType returnType = ReturnType::UInt32;
};

struct ParsedCommand {
    std::optional<Command> command;
    std::wstring error;  // one line, set when command is empty
};

// args: the words after the program name.
[[nodiscard]] ParsedCommand ParseCommand(const std::vector<std::wstring>& args);
// Applies a state-changing command (not install, uninstall or calls).
void ApplyCommand(FirmwareState& state, const Command& command);

[[nodiscard]] bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept;

// "SELECT * FROM Class": the class name, or nullopt for any other query.
[[nodiscard]] std::optional<std::wstring> ParseSelectAllQuery(std::wstring_view query);

// A namespace as given to IWbemLocator::ConnectServer, reduced to "root\..."
// form: slashes become backslashes and a local server prefix ("\\.\",
// "\\localhost\" or "\\<computer>\") is dropped. Case is kept.
[[nodiscard]] std::wstring LocalNamespace(std::wstring_view networkResource, std::wstring_view computerName);

// [\\server\namespace:]Class[.Key="value" | .Key=number]
struct ObjectPath {
    std::wstring server;
    std::wstring nameSpace;
    std::wstring className;
    std::wstring keyName;  // empty for a class path
    std::wstring keyValue;  // unescaped
};
[[nodiscard]] std::optional<ObjectPath> ParseObjectPath(std::wstring_view path);
// The value as it appears between the quotes of a path: \ and " escaped.
[[nodiscard]] std::wstring EscapeKeyValue(std::wstring_view value);

}  // namespace firmsim
