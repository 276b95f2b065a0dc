#pragma once

#include "Types.h"

#include <ostream>

/// One move of a game: a stone placed (building phase) or a bomb thrown (bombing phase).
class Move {
public:
    /// An invalid move (player P_INVALID); starts a move enumeration.
    Move() = default;
    /// Requires a player other than P_INVALID (asserted).
    Move(uint16_t x, uint16_t y, MoveChoice choice, Player player, bool terminal);
    virtual ~Move() = default;

    bool isValid() const { return player != Player::P_INVALID; }

    uint16_t x = 0;
    uint16_t y = 0;
    MoveChoice choice = MoveChoice::NONE;
    Player player = Player::P_INVALID;
    bool terminal = false;
};

/// "Player 2 (x,y)=(3,4)", then " choice: 20" when the choice is not NONE.
std::ostream& operator<<(std::ostream& os, const Move& move);
