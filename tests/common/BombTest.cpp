#include "GameBoard.h"

#include "ModelTestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using model_test::BoardState;
using model_test::validMap;

namespace {

constexpr Player P1 = Player::P1;
constexpr Player P2 = Player::P2;

// A map of `rows` x `columns` empty cells with the given stocks.
std::string openMap(unsigned bombs, unsigned strength, unsigned rows, unsigned columns) {
    std::string text = "2 0\n" + std::to_string(bombs) + " " + std::to_string(strength) + "\n" +
                       std::to_string(rows) + " " + std::to_string(columns) + "\n";
    for (unsigned y = 0; y < rows; ++y) {
        for (unsigned x = 0; x < columns; ++x) {
            text += x + 1 < columns ? "0 " : "0\n";
        }
    }
    return text;
}

struct Fixture {
    std::unique_ptr<Map> map;
    std::unique_ptr<GameBoard> gb;
    explicit Fixture(const std::string& text)
        : map(validMap(text)), gb(std::make_unique<GameBoard>(*map)) {}
};

} // namespace

TEST(Bombs, IllegalThrowsChangeNothing) {
    Fixture f("2 0\n1 1\n1 3\n0 - 1\n");
    const index_t targets[] = {1, 3, 500, INVALID_INDEX};
    for (index_t target : targets) {
        const BoardState before(*f.gb);
        EXPECT_FALSE(f.gb->throwBomb(P1, target, false)) << target;
        EXPECT_FALSE(f.gb->throwBomb(P1, target, true)) << target;
        EXPECT_TRUE(BoardState(*f.gb) == before) << target;
    }
    for (Player p : {Player::P_INVALID, Player::P3}) {
        const BoardState before(*f.gb);
        EXPECT_FALSE(f.gb->throwBomb(p, 0, true));
        EXPECT_TRUE(BoardState(*f.gb) == before);
    }
    f.gb->bombs(P2) = 0;
    const BoardState before(*f.gb);
    EXPECT_FALSE(f.gb->throwBomb(P2, 0, false));
    EXPECT_FALSE(f.gb->throwBomb(P2, 0, true));
    EXPECT_TRUE(BoardState(*f.gb) == before);
    EXPECT_FALSE(f.gb->bomb_possible(P2));

    // Any cell that is not a hole is a target, the thrower's own stones too; the test form
    // changes nothing.
    EXPECT_TRUE(f.gb->throwBomb(P1, 2, false));
    EXPECT_TRUE(f.gb->throwBomb(P1, 0, false));
    EXPECT_TRUE(BoardState(*f.gb) == before);
}

TEST(Bombs, BlastRadius) {
    struct Case {
        unsigned strength, rows, columns;
        uint16_t x, y;
        std::string after;
    };
    const Case cases[] = {
        {0, 3, 3, 1, 1, "000\n0-0\n000\n"},
        {1, 3, 4, 1, 1, "---0\n---0\n---0\n"},
        {1, 3, 3, 0, 0, "--0\n--0\n000\n"},
        {1, 3, 3, 2, 2, "000\n0--\n0--\n"},
        {2, 5, 6, 0, 2, "---000\n---000\n---000\n---000\n---000\n"},
        {3, 9, 9, 4, 4,
         "000000000\n0-------0\n0-------0\n0-------0\n0-------0\n0-------0\n0-------0\n"
         "0-------0\n000000000\n"},
        {255, 2, 3, 0, 0, "---\n---\n"},
    };
    for (const Case& c : cases) {
        Fixture f(openMap(2, c.strength, c.rows, c.columns));
        EXPECT_TRUE(f.gb->throwBomb(P1, f.gb->coords2index(c.x, c.y), true));
        EXPECT_EQ(f.gb->asSimpleString(), c.after) << "strength " << c.strength;
        EXPECT_EQ(f.gb->getBombs(P1), 1);
        EXPECT_EQ(f.gb->getBombs(P2), 2);
    }
}

TEST(Bombs, BlastCrossesTransitionsButNotHoles) {
    {
        // The right side of (3, 0) joined to the left side of (0, 2).
        Fixture f(openMap(1, 1, 3, 4) + "3 0 2 <-> 0 2 6\n");
        EXPECT_TRUE(f.gb->throwBomb(P1, f.gb->coords2index(3, 0), true));
        EXPECT_EQ(f.gb->asSimpleString(), "00--\n00--\n-000\n");
    }
    {
        // Two steps: from (1, 3) to (0, 3), then through the transition to (3, 0).
        Fixture f(openMap(1, 2, 4, 4) + "3 0 2 <-> 0 3 6\n");
        EXPECT_TRUE(f.gb->throwBomb(P1, f.gb->coords2index(1, 3), true));
        EXPECT_EQ(f.gb->asSimpleString(), "000-\n----\n----\n----\n");
    }
    {
        // A column of holes stops the blast, however strong.
        Fixture f("2 0\n1 9\n2 5\n0 0 - 0 0\n0 0 - 0 0\n");
        EXPECT_TRUE(f.gb->throwBomb(P1, 0, true));
        EXPECT_EQ(f.gb->asSimpleString(), "---00\n---00\n");
    }
    {
        // A hole made earlier in the game blocks as well.
        Fixture f(openMap(1, 4, 1, 5));
        f.gb->set_square(2, Square::NONE);
        EXPECT_TRUE(f.gb->throwBomb(P1, 0, true));
        EXPECT_EQ(f.gb->asSimpleString(), "---00\n");
    }
}

TEST(Bombs, CountsFollowTheBlast) {
    Fixture f("2 0\n3 1\n2 4\n1 1 2 0\n2 i 1 1\n");
    EXPECT_EQ(f.gb->getReducedBoardSize(), 8u);
    EXPECT_TRUE(f.gb->throwBomb(P2, 0, true));
    // (0, 0), (1, 0), (0, 1) and (1, 1) are gone.
    EXPECT_EQ(f.gb->getStoneCount(P1), 2u);
    EXPECT_EQ(f.gb->getStoneCount(P2), 1u);
    EXPECT_EQ(f.gb->getReducedBoardSize(), 4u);
    EXPECT_EQ(f.gb->getBombs(P2), 2);

    // After a colour swap the destroyed stones leave their new owner's count.
    f.gb->swap_players(P1, P2);
    EXPECT_TRUE(f.gb->throwBomb(P1, 7, true));
    EXPECT_EQ(f.gb->getStoneCount(P2), 0u);
    EXPECT_EQ(f.gb->getStoneCount(P1), 0u);
    EXPECT_EQ(f.gb->getReducedBoardSize(), 0u);
    EXPECT_FALSE(f.gb->bomb_possible(P1));
    EXPECT_FALSE(f.gb->bomb_possible(P2));
    EXPECT_EQ(f.gb->getBombs(P2), 2);
}
