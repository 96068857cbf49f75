// The firmware stand-in's shared state: what DualOSNotify answers, the calls
// it took and the events waiting for subscriptions, and the text of the two
// files all processes of a prefix share it through (firmsim.state and
// firmsim.calls). No <windows.h>, so it also builds natively.
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

// "uint32", "sint32", "string" (read in any case), as the state file and
// `firmsim rettype` name them.
[[nodiscard]] const char* ReturnTypeName(ReturnType type) noexcept;
[[nodiscard]] std::optional<ReturnType> ReturnTypeFromName(std::string_view name) noexcept;

// The numbers of the state file and of firmsim's command line: decimal, or
// hexadecimal after "0x"/"0X"; the whole text, no sign, 32 bits.
[[nodiscard]] std::optional<uint32_t> ParseNumber(std::string_view text) noexcept;

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

}  // namespace firmsim
