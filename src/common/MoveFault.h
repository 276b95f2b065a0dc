#pragma once
// Names the rule a refused move breaks, for records and reports.

#include "Game.h"
#include "Move.h"

#include <string>

/// Explains why a game would refuse a move. Reads the game and its board only.
class MoveFault {
public:
    /// The rule the move breaks in the game's current state: "not the player's turn", "wrong
    /// phase", "off the board", "a hole", "occupied", "no override stone left", "a choice that
    /// does not fit the square", "captures nothing", "a bomb without bombs" or "a bomb with a
    /// choice". Empty when the game would accept the move with its choice.
    static std::string explain(const Game& game, const Move& move);
};
