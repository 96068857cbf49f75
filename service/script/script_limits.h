// Every bound the script server holds its clients to, in one place. Hitting
// one ends only what hit it (a connection, or a run with its result keys
// saying where it stopped); the service and its other clients go on. The
// README lists them with what a client sees.
#pragma once

#include <cstddef>

namespace obrin::script {

// Connections served at once. When all are taken, the one that has waited
// longest for its client is closed to make room for the next client.
inline constexpr std::size_t kMaxConnections = 64;
// A connection that has no complete message this long after it connected or
// sent its last reply is closed.
inline constexpr unsigned long kIdleTimeoutMs = 30000;
// A reply its client has not taken within this long is dropped with its
// connection.
inline constexpr unsigned long kReplyReadTimeoutMs = 30000;
// One message: a longer one is refused before it is parsed, and its parsed
// form (ParsedSize of every action) may not exceed this either.
inline constexpr std::size_t kMaxMessageBytes = 1024 * 1024;
// Actions of one message; a script with more ends its connection unanswered.
inline constexpr std::size_t kMaxScriptActions = 4096;
// Actions run per script (a backward jump repeats actions): the run stops
// with WBEM_E_CALL_CANCELLED after this many.
inline constexpr std::size_t kMaxActionsRun = 65536;
// Firmware calls per script: the next one is not made, and the run stops with
// WBEM_E_CALL_CANCELLED.
inline constexpr std::size_t kMaxFirmwareCalls = 1024;
// How long a stop waits for running scripts, which it ends at their next
// action, before it returns without them.
inline constexpr unsigned long kStopWaitMs = 5000;

// The server's bounds: the service runs with these defaults; tests pass
// shorter ones.
struct ScriptServerLimits {
    std::size_t maxConnections = kMaxConnections;
    unsigned long idleTimeoutMs = kIdleTimeoutMs;
    unsigned long replyReadTimeoutMs = kReplyReadTimeoutMs;
    std::size_t maxMessageBytes = kMaxMessageBytes;
    unsigned long stopWaitMs = kStopWaitMs;
};

}  // namespace obrin::script
