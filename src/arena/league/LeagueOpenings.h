#pragma once
// Openings: start maps reached by random legal plies from a map, so that deterministic bots
// do not replay one game.

#include <cstdint>
#include <string>

class LeagueOpenings {
public:
    /// The map text of the position `plies` random legal plies (from `seed`) after `mapText`,
    /// with the players renumbered so that the one to move is player 1 (the server always
    /// starts with player 1). False when the map is not usable, or when the game ends, a
    /// player is out, or a move would leave the players with unequal stocks (overrides or
    /// bombs, which a map gives every player alike) before `plies` plies.
    static bool derive(const std::string& mapText, unsigned plies, std::uint64_t seed,
                       std::string& out);
};
