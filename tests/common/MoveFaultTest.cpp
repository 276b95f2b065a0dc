// The rule a refused move breaks, as records and reports name it.

#include "MoveFault.h"
#include "Game.h"
#include "GameBoard.h"
#include "Map.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

/// Player 1 moves first; (3, 2) is a choice square it captures from, (0, 0) a hole.
std::string buildMap(unsigned overrides) {
    return "2\n" + std::to_string(overrides) +
           "\n1 1\n5 5\n"
           "- 0 0 0 0\n"
           "0 0 0 0 0\n"
           "0 1 2 c 0\n"
           "0 2 1 b 0\n"
           "0 0 0 0 0\n";
}

Move stone(uint16_t x, uint16_t y, MoveChoice choice = MoveChoice::NONE, Player p = Player::P1) {
    return Move(x, y, choice, p, false);
}

} // namespace

TEST(MoveFault, NamesTheBrokenRule) {
    Map withOverrides;
    ASSERT_TRUE(withOverrides.loadFromString(buildMap(1)));
    // Player 1 has used its override stone.
    auto board = std::make_unique<GameBoard>(withOverrides);
    board->overrides(Player::P1) = 0;
    Game spent(withOverrides, board.release(), false);
    Map noOverrides;
    ASSERT_TRUE(noOverrides.loadFromString(buildMap(0)));
    Game plain(noOverrides, false);

    struct Case {
        const Game* game;
        Move move;
        const char* fault;
    };
    const Case cases[] = {
        {&plain, stone(9, 9), "off the board"},
        {&plain, stone(5, 0), "off the board"},
        {&plain, stone(0, 0), "a hole"},
        {&plain, stone(1, 2), "occupied"},
        {&spent, stone(1, 2), "no override stone left"},
        {&plain, stone(4, 4), "captures nothing"},
        {&plain, stone(3, 2), "a choice that does not fit the square"},
        {&plain, stone(3, 2, static_cast<MoveChoice>(2)), ""},
        {&plain, stone(3, 1, MoveChoice::NONE, Player::P2), "not the player's turn"},
        {&plain, Move(3, 1, MoveChoice::NONE, Player::P1, true), "wrong phase"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MoveFault::explain(*c.game, c.move), c.fault)
            << c.move << " expected \"" << c.fault << "\"";
        // The query agrees with the rules it explains.
        EXPECT_EQ(const_cast<Game*>(c.game)->checkMove(c.move, true), std::string(c.fault).empty())
            << c.move;
    }

    // A board without empty cells starts in the bombing phase.
    Map bombsOnly;
    ASSERT_TRUE(bombsOnly.loadFromString("2\n0\n1 1\n1 2\n1 2\n"));
    Game bombing(bombsOnly, false);
    ASSERT_TRUE(bombing.is_terminal());
    EXPECT_EQ(MoveFault::explain(bombing, Move(0, 0, MoveChoice::NONE, Player::P1, true)), "");
    EXPECT_EQ(MoveFault::explain(bombing, Move(0, 0, MoveChoice::PLAYER1, Player::P1, true)),
              "a bomb with a choice");
    EXPECT_EQ(MoveFault::explain(bombing, Move(0, 0, MoveChoice::NONE, Player::P1, false)),
              "wrong phase");
}
