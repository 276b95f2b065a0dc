#include "GameBoard.h"

#include "ModelTestUtil.h"
#include "colors.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using model_test::validMap;

namespace {

// Two rows of three columns; player 1 holds no override stone, so only (0, 0) is playable.
const char* const SMALL = "2 0\n0 0\n2 3\n0 2 1\n- 0 c\n";

class BoardRender : public ::testing::Test {
protected:
    void TearDown() override { ansi::enableColor = false; }
};

std::string square(const GameBoard& gb, Square s, bool reset) {
    std::ostringstream os;
    gb.printSquare(os, s, reset);
    return os.str();
}

} // namespace

TEST_F(BoardRender, GridHasAxesAndMarksTheLegalCellsOfThePlayer) {
    auto map = validMap(SMALL);
    const GameBoard gb(*map);
    EXPECT_EQ(gb.asString(Player::P1, true, true), "     0  1  2  \n"
                                                   "   /----------\n"
                                                   "0  | 0' 2  1  \n"
                                                   "1  | -  0  c  \n");
    EXPECT_EQ(gb.asString(Player::P1, false, false), "0 2 1 \n- 0 c \n");
    EXPECT_EQ(gb.asString(Player::P2, true, false), "0 2 1 \n- 0 c \n");
    EXPECT_EQ(gb.asSimpleString(), "021\n-0c\n");
}

TEST_F(BoardRender, TwoDigitAxisNumbersKeepTheColumnsAligned) {
    std::string text = "2 0\n0 0\n11 12\n";
    for (int y = 0; y < 11; ++y) {
        text += "0 0 0 0 0 0 0 0 0 0 0 0\n";
    }
    auto map = validMap(text);
    const GameBoard gb(*map);
    std::istringstream lines(gb.asString(Player::P1, false, true));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "     0  1  2  3  4  5  6  7  8  9  10 11 ");
    std::getline(lines, line);
    EXPECT_EQ(line, "   /-------------------------------------");
    for (int y = 0; y <= 10; ++y) {
        std::getline(lines, line);
    }
    EXPECT_EQ(line, "10 | 0  0  0  0  0  0  0  0  0  0  0  0  ");
}

TEST_F(BoardRender, StonesShowTheirPresentOwner) {
    auto map = validMap("2 0\n0 0\n1 4\n1 2 0 0\n");
    GameBoard gb(*map);
    EXPECT_EQ(gb.asSimpleString(), "1200\n");
    gb.inversion();
    EXPECT_EQ(gb.asSimpleString(), "2100\n");
    EXPECT_EQ(gb.get_square(0), Square::PLAYER1);
}

TEST_F(BoardRender, EachSquareGetsItsColourEscapeWhenColoursAreOn) {
    auto map = validMap("8 0\n0 0\n1 4\n1 2 3 4\n");
    GameBoard gb(*map);
    ansi::enableColor = true;
    struct Case {
        Square s;
        bool reset;
        const char* text;
    };
    const Case cases[] = {
        {Square::EMPTY, false, "0"},
        {Square::NONE, true, "-\x1b[m"},
        {Square::EXPANSION, false, "x"},
        {Square::INVERSION, false, "\x1b[;44;35mi"},
        {Square::CHOICE, false, "\x1b[;44;33mc"},
        {Square::BONUS, true, "\x1b[;44;32mb\x1b[m"},
        {static_cast<Square>(1), false, "\x1b[;31m1"},
        {static_cast<Square>(2), false, "\x1b[;34m2"},
        {static_cast<Square>(3), false, "\x1b[;32m3"},
        {static_cast<Square>(4), false, "\x1b[;33m4"},
        {static_cast<Square>(5), false, "\x1b[;36m5"},
        {static_cast<Square>(6), false, "\x1b[;35m6"},
        {static_cast<Square>(7), false, "\x1b[;37m7"},
        {static_cast<Square>(8), true, "\x1b[;37m8\x1b[m"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(square(gb, c.s, c.reset), c.text) << static_cast<unsigned>(c.s);
    }

    gb.disqualify(Player::P1);
    EXPECT_EQ(square(gb, Square::PLAYER1, false), "\x1b[;7;31m1");
    // Colour 1 passes to player 2 and colour 8 to player 1: the inverse video follows player 1.
    gb.inversion();
    EXPECT_EQ(square(gb, Square::PLAYER1, false), "\x1b[;34m2");
    EXPECT_EQ(square(gb, Square::PLAYER_MAX, true), "\x1b[;7;31m1\x1b[m");

    EXPECT_EQ(gb.asString(Player::P1, false, true),
              "\x1b[;1;30m     0  1  2  3  \n"
              "   /-------------\x1b[m\n"
              "\x1b[;1;30m0  | \x1b[m\x1b[;34m2\x1b[m  \x1b[;32m3\x1b[m  \x1b[;33m4\x1b[m  "
              "\x1b[;36m5\x1b[m  \n");
    // The plain grid never carries escapes and leaves the switch as it found it.
    EXPECT_EQ(gb.asSimpleString(), "2345\n");
    EXPECT_TRUE(ansi::enableColor);
}

TEST_F(BoardRender, StatusHasOneLineOfStocksAndScorePerPlayer) {
    auto map = validMap("3 7\n200 1\n1 4\n1 2 2 0\n");
    GameBoard gb(*map);
    gb.bombs(Player::P3) = 0;
    EXPECT_EQ(gb.playerStatus(), "Player 1: 200 bombs, 7 overrides. Score is 1\n"
                                 "Player 2: 200 bombs, 7 overrides. Score is 2\n"
                                 "Player 3: 0 bombs, 7 overrides. Score is 0\n");
}
