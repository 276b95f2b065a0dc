#pragma once
// Numbers and texts of the server that other programs rely on: the arena reads the server's
// log and starts it with ports, so both take these from here and never restate them.

#include <cstdint>

namespace ServerFacts {

/// Largest offset above the base port tried when opening the listening port.
constexpr uint32_t MAX_PORTS = 100;
/// Ports one server may take: its base port and the MAX_PORTS above it.
constexpr uint32_t PORT_SEARCH_WIDTH = MAX_PORTS + 1;
/// Group id that marks a human client: no time limit applies to it.
constexpr uint8_t UNTIMED_GROUP_ID = 255;
/// Smallest time limit per move, in seconds, and the refusal of a smaller one.
constexpr double MIN_TIME_SECONDS = 0.2;
constexpr const char* TIME_TOO_SHORT = "Please choose a timeout value >= 0.2 seconds.";

/// Disqualification reasons as the server logs them ("Player N disqualified (REASON)").
namespace Reason {
constexpr const char* NO_GROUP_ID = "Failed to receive group id";
constexpr const char* BOARD_NOT_SENT = "Failed to send board";
constexpr const char* REQUEST_NOT_SENT = "Failed to send moverequest to player";
constexpr const char* RECEIVE_FAILED = "receive failed";
constexpr const char* TIMEOUT = "timeout during move";
constexpr const char* WRONG_MESSAGE = "wrong message";
/// Followed by the move and the time left: "Invalid move: ... time left: N msecs".
constexpr const char* INVALID_MOVE = "Invalid move";
constexpr const char* MOVE_NOT_PROPAGATED = "Failed to propagate move";
constexpr const char* TERM_NOT_SENT = "Failed to send TERM to player";
constexpr const char* FIN_NOT_SENT = "Failed to send FIN to player";
constexpr const char* DISQUALIFICATION_NOT_PROPAGATED =
    "Failed to propagate disqualification to player";
} // namespace Reason

} // namespace ServerFacts
