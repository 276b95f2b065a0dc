// The example maps in maps/: each loads valid, has the shape its guide describes and gives
// every player a first move.

#include "Game.h"
#include "GameBoard.h"
#include "Map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string mapPath(const std::string& name) {
    return std::string(REVERSI_SOURCE_DIR) + "/maps/" + name;
}

} // namespace

namespace {

// The cells of an 8 x 8 board where player 1 may place a stone, row by row.
std::vector<std::pair<unsigned, unsigned>> openingMoves(GameBoard& board) {
    std::vector<std::pair<unsigned, unsigned>> legal;
    for (uint16_t y = 0; y < 8; ++y) {
        for (uint16_t x = 0; x < 8; ++x) {
            if (board.makeMove(Player::P1, board.coords2index(x, y), MoveChoice::NONE, false)) {
                legal.emplace_back(x, y);
            }
        }
    }
    return legal;
}

} // namespace

TEST(ExampleMaps, LoadValidWithTheDescribedShape) {
    struct Case {
        const char* name;
        unsigned players;
        unsigned height;
        unsigned width;
        unsigned playable;
        size_t transitions;
    };
    const Case cases[] = {
        {"classic8.map", 2, 8, 8, 64, 0}, {"quad10.map", 4, 10, 10, 88, 0},
        {"torus8.map", 2, 8, 8, 60, 46},  {"bombs10.map", 3, 10, 10, 92, 0},
        {"big50.map", 8, 50, 50, 168, 0},
    };
    for (const Case& c : cases) {
        Map map;
        ASSERT_TRUE(map.loadFromFile(mapPath(c.name))) << c.name;
        EXPECT_EQ(map.getPlayers(), c.players) << c.name;
        EXPECT_EQ(map.getHeight(), c.height) << c.name;
        EXPECT_EQ(map.getWidth(), c.width) << c.name;
        EXPECT_EQ(map.getPlayableTiles(), c.playable) << c.name;
        EXPECT_EQ(map.getTransitions().size(), c.transitions) << c.name;

        // Every player can place a stone at the start, and player 1 moves first.
        const Game game(map, false);
        EXPECT_EQ(game.getCurrentPlayer(), Player::P1) << c.name;
        for (Player p : game.getPlayers()) {
            EXPECT_TRUE(game.getBoard().move_possible(p)) << c.name << " player " << p;
        }
    }
}

TEST(ExampleMaps, OpeningsHaveTheMovesTheGuideShows) {
    struct Case {
        const char* file;
        std::vector<std::pair<unsigned, unsigned>> moves;
        int bombs; // each player's, as the header gives them (no override stones on either)
    };
    const Case cases[] = {
        // The four usual moves.
        {"classic8.map", {{3, 2}, {2, 3}, {5, 4}, {4, 5}}, 0},
        // The four starting stones sit in the corners; player 1's opening moves lie next to
        // them, each line running over an edge.
        {"torus8.map", {{1, 0}, {0, 1}, {7, 6}, {6, 7}}, 1},
    };
    for (const Case& c : cases) {
        Map map;
        ASSERT_TRUE(map.loadFromFile(mapPath(c.file))) << c.file;
        GameBoard board(map);
        EXPECT_EQ(openingMoves(board), c.moves) << c.file;
        EXPECT_EQ(board.getOverrides(Player::P1), 0) << c.file;
        EXPECT_EQ(board.getBombs(Player::P1), c.bombs) << c.file;
    }
}
