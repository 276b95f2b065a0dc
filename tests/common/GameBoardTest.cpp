#include "GameBoard.h"

#include "ModelTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using model_test::EXAMPLE;
using model_test::validMap;

namespace {

constexpr index_t X = INVALID_INDEX;

const char* const OPEN_3X4 = "2 0 0 0 3 4\n0 0 0 0\n0 0 0 0\n0 0 0 0\n";

// The step entries of one cell in N, NE, E, SE, S, SW, W, NW order.
std::vector<index_t> steps(const GameBoard& gb, index_t i) {
    std::vector<index_t> result;
    for (Direction d : AllDirections) {
        result.push_back(gb.get_transition(i, d));
    }
    return result;
}

struct Walker {
    index_t cell;
    Direction dir;
    void step(const GameBoard& gb) {
        const index_t next = gb.get_transition(cell, dir);
        dir = gb.get_nextdirection(cell, dir);
        cell = next;
    }
};

} // namespace

TEST(GameBoardBuild, CountsAndStocksFromTheMap) {
    auto map = validMap(EXAMPLE);
    const GameBoard gb(*map);
    EXPECT_EQ(gb.getWidth(), 4);
    EXPECT_EQ(gb.getHeight(), 3);
    EXPECT_EQ(gb.getBoardSize(), 12u);
    EXPECT_EQ(gb.getReducedBoardSize(), 9u);
    EXPECT_EQ(gb.get_nplayers(), 2u);
    EXPECT_EQ(gb.getLastPlayer(), Player::P3);
    EXPECT_EQ(gb.getBombPower(), 2);
    EXPECT_EQ(gb.getStoneCount(Player::P1), 2u);
    EXPECT_EQ(gb.getStoneCount(Player::P2), 1u);
    for (unsigned p = 1; p <= 8; ++p) {
        const Player player = static_cast<Player>(p);
        EXPECT_EQ(gb.getBombs(player), 1);
        EXPECT_EQ(gb.getOverrides(player), 1);
        EXPECT_FALSE(gb.getDisqualified(player));
        EXPECT_EQ(gb.ptob(player), static_cast<Square>(p));
        EXPECT_EQ(gb.btop(static_cast<Square>(p)), player);
    }
    EXPECT_EQ(gb.getBombs(Player::P_INVALID), 0);
    EXPECT_EQ(gb.get_square(0), Square::NONE);
    EXPECT_EQ(gb.get_square(7), Square::BONUS);
    EXPECT_EQ(gb.get_square(10), Square::CHOICE);
}

TEST(GameBoardGeometry, StepTableAtEdgesAndHoles) {
    auto single = validMap("2 0 0 0 1 1 0\n");
    const GameBoard one(*single);
    EXPECT_EQ(steps(one, 0), std::vector<index_t>(8, X));

    auto open = validMap(OPEN_3X4);
    const GameBoard gb(*open);
    EXPECT_EQ(steps(gb, 0), (std::vector<index_t>{X, X, 1, 5, 4, X, X, X}));
    EXPECT_EQ(steps(gb, 11), (std::vector<index_t>{7, X, X, X, X, X, 10, 6}));
    EXPECT_EQ(steps(gb, 5), (std::vector<index_t>{1, 2, 6, 10, 9, 8, 4, 0}));
    EXPECT_EQ(steps(gb, 3), (std::vector<index_t>{X, X, X, X, 7, 6, 2, X}));
    EXPECT_EQ(steps(gb, 8), (std::vector<index_t>{4, 5, 9, X, X, X, X, X}));
    // A plain step keeps its direction.
    for (Direction d : AllDirections) {
        EXPECT_EQ(gb.get_nextdirection(5, d), d);
    }

    // (1, 1) of the example has the hole (0, 0) to its north-west; (1, 0) has the transition
    // attached to its top and the hole (0, 0) to its west.
    auto example = validMap(EXAMPLE);
    const GameBoard ex(*example);
    EXPECT_EQ(steps(ex, 5), (std::vector<index_t>{1, 2, 6, 10, 9, X, 4, X}));
    EXPECT_EQ(steps(ex, 1), (std::vector<index_t>{9, X, 2, 6, 5, 4, X, X}));
}

TEST(GameBoardGeometry, WalkersFollowTransitions) {
    const std::string sideways = std::string(OPEN_3X4) + "3 0 2 <-> 0 2 6\n";
    // Top of (0, 0) joined to the right side of (3, 2): the walk turns.
    const std::string turning = std::string(OPEN_3X4) + "0 0 0 <-> 3 2 2\n";
    // A walk from a cell in a direction, and the cell and direction after each step.
    struct Walk {
        const std::string& map;
        Walker start;
        std::vector<Walker> steps;
    };
    const Walk walks[] = {
        {EXAMPLE, {1, Direction::N}, {{9, Direction::N}, {5, Direction::N}, {1, Direction::N}}},
        {EXAMPLE, {9, Direction::S}, {{1, Direction::S}, {5, Direction::S}}},
        {sideways, {3, Direction::E}, {{8, Direction::E}, {9, Direction::E}}},
        {sideways, {8, Direction::W}, {{3, Direction::W}, {2, Direction::W}}},
        {turning, {0, Direction::N}, {{11, Direction::W}, {10, Direction::W}}},
        {turning, {11, Direction::E}, {{0, Direction::S}, {4, Direction::S}}},
    };
    for (const Walk& walk : walks) {
        auto map = validMap(walk.map);
        const GameBoard gb(*map);
        Walker w = walk.start;
        for (const Walker& expected : walk.steps) {
            SCOPED_TRACE(testing::Message() << "from " << walk.start.cell << " heading "
                                            << static_cast<unsigned>(walk.start.dir)
                                            << ", expecting " << expected.cell);
            w.step(gb);
            EXPECT_EQ(w.cell, expected.cell);
            EXPECT_EQ(w.dir, expected.dir);
        }
    }
}

TEST(GameBoardGeometry, IndexConversions) {
    auto map = validMap(OPEN_3X4);
    const GameBoard gb(*map);
    EXPECT_EQ(gb.coords2index(0, 0), 0);
    EXPECT_EQ(gb.coords2index(3, 2), 11);
    EXPECT_EQ(gb.coords2index(2, 1), 6);
    EXPECT_EQ(gb.coords2index(4, 0), INVALID_INDEX);
    EXPECT_EQ(gb.coords2index(0, 3), INVALID_INDEX);
    EXPECT_EQ(gb.coords2index(65535, 65535), INVALID_INDEX);

    uint16_t x = 77, y = 88;
    EXPECT_FALSE(gb.index2coords(INVALID_INDEX, x, y));
    EXPECT_FALSE(gb.index2coords(12, x, y));
    EXPECT_EQ(x, 77);
    EXPECT_EQ(y, 88);
    EXPECT_TRUE(gb.index2coords(7, x, y));
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 1);
    EXPECT_TRUE(gb.valid_index(11));
    EXPECT_FALSE(gb.valid_index(12));
}

TEST(GameBoardCells, SetSquareKeepsCounts) {
    auto map = validMap(EXAMPLE);
    GameBoard gb(*map);
    gb.set_square(6, Square::NONE); // a stone of colour 1
    EXPECT_EQ(gb.getStoneCount(Player::P1), 1u);
    EXPECT_EQ(gb.getReducedBoardSize(), 8u);
    gb.set_square(0, Square::NONE); // already a hole
    EXPECT_EQ(gb.getReducedBoardSize(), 8u);
    gb.set_square(5, Square::PLAYER1); // colour 2 becomes colour 1
    EXPECT_EQ(gb.getStoneCount(Player::P1), 2u);
    EXPECT_EQ(gb.getStoneCount(Player::P2), 0u);
    gb.set_square(0, static_cast<Square>(2)); // a hole becomes a stone
    EXPECT_EQ(gb.getStoneCount(Player::P2), 1u);
    EXPECT_EQ(gb.getReducedBoardSize(), 9u);
    gb.set_square(7, Square::EMPTY);
    EXPECT_EQ(gb.getReducedBoardSize(), 9u);
    EXPECT_TRUE(gb.occupied(0));
    EXPECT_TRUE(gb.occupied(11));  // expansion
    EXPECT_FALSE(gb.occupied(10)); // choice
    EXPECT_FALSE(gb.occupied(7));
    EXPECT_FALSE(gb.occupied(3)); // hole
}

TEST(GameBoardCells, DisqualifyOnlySetsTheFlag) {
    auto map = validMap(EXAMPLE);
    GameBoard gb(*map);
    const model_test::BoardState before(gb);
    gb.disqualify(Player::P1);
    EXPECT_TRUE(gb.getDisqualified(Player::P1));
    EXPECT_FALSE(gb.getDisqualified(Player::P2));
    EXPECT_TRUE(model_test::BoardState(gb) == before);
}

TEST(GameBoardCopy, CopyIsIndependent) {
    auto map = validMap(std::string(OPEN_3X4) + "3 0 2 <-> 0 2 6\n");
    GameBoard original(*map);
    original.set_square(5, Square::PLAYER1);
    GameBoard copy(original);
    EXPECT_TRUE(model_test::BoardState(copy) == model_test::BoardState(original));
    EXPECT_EQ(copy.get_transition(3, Direction::E), 8);
    EXPECT_EQ(&copy.getMap(), map.get());

    copy.set_square(5, Square::NONE);
    copy.swap_players(Player::P1, Player::P2);
    copy.bombs(Player::P1) = 9;
    copy.disqualify(Player::P2);
    EXPECT_EQ(original.get_square(5), Square::PLAYER1);
    EXPECT_EQ(original.getStoneCount(Player::P1), 1u);
    EXPECT_EQ(original.ptob(Player::P1), Square::PLAYER1);
    EXPECT_EQ(original.getBombs(Player::P1), 0);
    EXPECT_FALSE(original.getDisqualified(Player::P2));
    EXPECT_EQ(original.getReducedBoardSize(), 12u);
}
