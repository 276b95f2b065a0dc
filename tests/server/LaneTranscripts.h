#pragma once
// What the clients of a match receive: the check of every client's transcript, and the
// transcripts of the three-lane map (THREE_PLAYER_MAP) that many tests play to the end.

#include "ServerProcess.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

/// The messages one client received, as "GAMEBOARD", "MOVEREQUEST 0 3" ... and "closed".
using Messages = std::vector<std::string>;

/// Expects a match that the server ended normally (exit status 0) in which each client (any
/// type with messages()) received exactly its transcript, in order: players 1, 2, ...
template <class... Clients>
void expectTranscripts(const ServerResult& result, const std::vector<Messages>& transcripts,
                       const Clients&... clients) {
    ASSERT_TRUE(result.exited) << result.out;
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(transcripts.size(), sizeof...(clients));
    size_t player = 0;
    const auto expect = [&](const auto& client) {
        EXPECT_EQ(client.messages(), transcripts[player]) << "player " << player + 1;
        ++player;
    };
    (expect(clients), ...);
}

/// Players 1, 2 and 3 of the three-lane map when each makes its one move, (0, 0), (0, 2) and
/// (0, 4), in turn; `request` is the text of every move request ("MOVEREQUEST 0 3" at depth 3).
inline std::vector<Messages> lanesPlayedOut(const std::string& request) {
    const std::string first = "MOVEANNOUNCE 0 0 0 1";
    const std::string second = "MOVEANNOUNCE 0 2 0 2";
    const std::string third = "MOVEANNOUNCE 0 4 0 3";
    return {{"GAMEBOARD", "PLAYERNUM 1", request, first, second, third, "FIN", "closed"},
            {"GAMEBOARD", "PLAYERNUM 2", first, request, second, third, "FIN", "closed"},
            {"GAMEBOARD", "PLAYERNUM 3", first, second, request, third, "FIN", "closed"}};
}

/// Players 1, 2 and 3 of the three-lane map when player 1, having received `first`, is put
/// out before its first move and the others make theirs, asked with `request`.
inline std::vector<Messages> lanesAfterFirstOut(Messages first, const std::string& request) {
    const std::string out = "DISQUALIFICATION 1";
    const std::string second = "MOVEANNOUNCE 0 2 0 2";
    const std::string third = "MOVEANNOUNCE 0 4 0 3";
    return {std::move(first),
            {"GAMEBOARD", "PLAYERNUM 2", out, request, second, third, "FIN", "closed"},
            {"GAMEBOARD", "PLAYERNUM 3", out, second, request, third, "FIN", "closed"}};
}
