#include "Move.h"

#include <cassert>

Move::Move(uint16_t x_, uint16_t y_, MoveChoice choice_, Player player_, bool terminal_)
    : x(x_), y(y_), choice(choice_), player(player_), terminal(terminal_) {
    assert(player != Player::P_INVALID);
}

std::ostream& operator<<(std::ostream& os, const Move& move) {
    os << "Player " << move.player << " (x,y)=(" << move.x << "," << move.y << ")";
    if (move.choice != MoveChoice::NONE) {
        os << " choice: " << move.choice;
    }
    return os;
}
