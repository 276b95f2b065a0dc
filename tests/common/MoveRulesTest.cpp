#include "GameBoard.h"

#include "ModelTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using model_test::BoardState;
using model_test::validMap;

namespace {

constexpr Player P1 = Player::P1;
constexpr Player P2 = Player::P2;
constexpr Player P3 = Player::P3;

// A one-row map: "players overrides / bombs strength / 1 width / row" plus transitions.
std::string rowMap(unsigned players, unsigned overrides, const std::string& row,
                   const std::string& transitions = "") {
    const unsigned width = static_cast<unsigned>((row.size() + 1) / 2);
    return std::to_string(players) + " " + std::to_string(overrides) + "\n0 0\n1 " +
           std::to_string(width) + "\n" + row + "\n" + transitions;
}

// A map and its board.
struct Fixture {
    std::unique_ptr<Map> map;
    std::unique_ptr<GameBoard> gb;
    explicit Fixture(const std::string& text)
        : map(validMap(text)), gb(std::make_unique<GameBoard>(*map)) {}
    // The plain grid, rows joined without line ends.
    std::string cells() const {
        std::string text = gb->asSimpleString();
        text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
        return text;
    }
};

// Applies a move that must be refused and checks that nothing changed.
void expectRefused(GameBoard& gb, Player p, index_t i, MoveChoice choice) {
    const BoardState before(gb);
    EXPECT_FALSE(gb.makeMove(p, i, choice, true)) << "index " << i;
    EXPECT_TRUE(BoardState(gb) == before) << "index " << i;
}

} // namespace

TEST(MoveRules, LinesMustEndOnOwnStone) {
    struct Case {
        std::string row;
        index_t at;
        bool legal;
        std::string after; // the row after applying, when legal
    };
    const Case cases[] = {
        {"0 2 0", 0, false, ""},         {"0 2 1", 0, true, "111"}, {"0 2 2 2 1", 0, true, "11111"},
        {"1 2 2 0 0", 3, true, "11110"}, {"0 1 2", 0, false, ""}, // own stone right next to it
        {"0 2 - 1", 0, false, ""},                                // a hole breaks the line
        {"0 2 c 1", 0, false, ""},                                // so does a special square
        {"0 2 0 1", 0, false, ""},                                // and an empty cell
        {"0 x 2 1", 0, true, "1111"},                             // an expansion square is captured
        {"1 2 0 2 1", 2, true, "11111"}, {"- 2 1", 0, false, ""}, // a hole is no move
    };
    for (const Case& c : cases) {
        Fixture f(rowMap(2, 0, c.row));
        EXPECT_EQ(f.gb->makeMove(P1, c.at, MoveChoice::NONE, false), c.legal) << c.row;
        if (c.legal) {
            EXPECT_TRUE(f.gb->makeMove(P1, c.at, MoveChoice::NONE, true)) << c.row;
            EXPECT_EQ(f.cells(), c.after) << c.row;
        } else {
            expectRefused(*f.gb, P1, c.at, MoveChoice::NONE);
        }
    }
}

TEST(MoveRules, AllClosedLinesTurnAtOnce) {
    Fixture f("2 0\n0 0\n5 6\n"
              "1 0 1 0 1 0\n"
              "0 2 2 2 0 0\n"
              "1 2 0 2 1 0\n"
              "0 2 2 2 0 2\n"
              "1 0 2 0 1 0\n");
    EXPECT_TRUE(f.gb->makeMove(P1, f.gb->coords2index(2, 2), MoveChoice::NONE, true));
    // Seven lines close; the one to the south runs into the edge of the board.
    EXPECT_EQ(f.gb->asSimpleString(), "101010\n"
                                      "011100\n"
                                      "111110\n"
                                      "012102\n"
                                      "102010\n");
    EXPECT_EQ(f.gb->getStoneCount(P1), 15u);
    EXPECT_EQ(f.gb->getStoneCount(P2), 3u);
}

TEST(MoveRules, LinesAcrossTransitions) {
    // The right edge of (3, 0) joined to the left edge of (0, 0): the row is a ring.
    const std::string ring = "3 0 2 <-> 0 0 6\n";
    Fixture across(rowMap(2, 0, "1 0 0 2", ring));
    EXPECT_TRUE(across.gb->makeMove(P1, 2, MoveChoice::NONE, true));
    EXPECT_EQ(across.cells(), "1011");

    // Around the ring and back to the start: no capture either way.
    Fixture loop(rowMap(2, 0, "0 2 2", "2 0 2 <-> 0 0 6\n"));
    EXPECT_FALSE(loop.gb->makeMove(P1, 0, MoveChoice::NONE, false));
    expectRefused(*loop.gb, P1, 0, MoveChoice::NONE);

    // A line that leaves the left column at the bottom and comes in at the top of the right
    // column, where it ends on the mover's stone.
    Fixture turn("2 0\n0 0\n3 2\n"
                 "0 1\n"
                 "2 0\n"
                 "2 0\n"
                 "0 2 4 <-> 1 0 0\n");
    EXPECT_TRUE(turn.gb->makeMove(P1, 0, MoveChoice::NONE, true));
    EXPECT_EQ(turn.cells(), "111010");
}

TEST(MoveRules, OverrideStones) {
    // Player 1 moves at cell 0 of a two-player row, every player holding `overrides` stones.
    struct Case {
        int overrides;
        std::string row;
        std::string after; // the row after the move; "" when it is refused
        int left;          // player 1's override stones after the move
    };
    const Case cases[] = {
        {1, "2 2 1", "111", 0},
        {0, "2 2 1", "", 0},
        // A foreign stone without a line is refused even with override stones.
        {3, "2 0 1", "", 3},
        // The mover's own stone, with a line.
        {2, "1 2 1", "111", 1},
        // An expansion square needs an override stone and no line.
        {1, "x 0 0", "100", 0},
        {0, "x 2 1", "", 0},
        // With a line, an expansion square turns it too.
        {1, "x 2 1", "111", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row + " with " + std::to_string(c.overrides));
        Fixture f(rowMap(2, static_cast<unsigned>(c.overrides), c.row));
        const bool legal = !c.after.empty();
        EXPECT_EQ(f.gb->makeMove(P1, 0, MoveChoice::NONE, false), legal);
        if (!legal) {
            expectRefused(*f.gb, P1, 0, MoveChoice::NONE);
            continue;
        }
        EXPECT_TRUE(f.gb->makeMove(P1, 0, MoveChoice::NONE, true));
        EXPECT_EQ(f.cells(), c.after);
        EXPECT_EQ(f.gb->getOverrides(P1), c.left);
        EXPECT_EQ(f.gb->getOverrides(P2), c.overrides);
        for (const auto& [player, stone] : {std::pair{P1, '1'}, std::pair{P2, '2'}}) {
            EXPECT_EQ(f.gb->getStoneCount(player),
                      static_cast<uint32_t>(std::count(c.after.begin(), c.after.end(), stone)));
        }
    }
}

TEST(MoveRules, ChoiceSquares) {
    Fixture f(rowMap(3, 0, "c 2 1 3"));
    // The test form ignores the choice byte; the applying form insists on a valid one.
    EXPECT_TRUE(f.gb->makeMove(P1, 0, MoveChoice::NONE, false));
    EXPECT_TRUE(f.gb->makeMove(P1, 0, MoveChoice::BOMB, false));
    for (MoveChoice bad : {MoveChoice::NONE, static_cast<MoveChoice>(4), MoveChoice::PLAYER_MAX,
                           MoveChoice::BOMB, MoveChoice::OVERRIDE}) {
        expectRefused(*f.gb, P1, 0, bad);
    }

    // The stones are placed in colour 1, then players 1 and 3 swap colours.
    EXPECT_TRUE(f.gb->makeMove(P1, 0, static_cast<MoveChoice>(3), true));
    EXPECT_EQ(f.gb->get_square(0), Square::PLAYER1);
    EXPECT_EQ(f.gb->get_square(1), Square::PLAYER1);
    EXPECT_EQ(f.gb->ptob(P1), static_cast<Square>(3));
    EXPECT_EQ(f.gb->ptob(P3), Square::PLAYER1);
    EXPECT_EQ(f.gb->btop(Square::PLAYER1), P3);
    EXPECT_EQ(f.gb->getStoneCount(P1), 1u);
    EXPECT_EQ(f.gb->getStoneCount(P2), 0u);
    EXPECT_EQ(f.gb->getStoneCount(P3), 3u);
    EXPECT_EQ(f.cells(), "3331");

    // Choosing oneself changes no colour.
    Fixture self(rowMap(3, 0, "c 2 1"));
    EXPECT_TRUE(self.gb->makeMove(P1, 0, MoveChoice::PLAYER1, true));
    EXPECT_EQ(self.gb->ptob(P1), Square::PLAYER1);
    EXPECT_EQ(self.gb->getStoneCount(P1), 3u);
}

TEST(MoveRules, BonusSquares) {
    {
        Fixture f(rowMap(2, 0, "b 2 1"));
        expectRefused(*f.gb, P1, 0, MoveChoice::NONE);
        expectRefused(*f.gb, P1, 0, MoveChoice::PLAYER1);
        EXPECT_TRUE(f.gb->makeMove(P1, 0, MoveChoice::BOMB, true));
        EXPECT_EQ(f.gb->getBombs(P1), 1);
        EXPECT_EQ(f.gb->getOverrides(P1), 0);
        EXPECT_EQ(f.gb->getBombs(P2), 0);
        EXPECT_EQ(f.cells(), "111");
    }
    {
        Fixture f(rowMap(2, 0, "b 2 1"));
        EXPECT_TRUE(f.gb->makeMove(P1, 0, MoveChoice::OVERRIDE, true));
        EXPECT_EQ(f.gb->getOverrides(P1), 1);
        EXPECT_EQ(f.gb->getBombs(P1), 0);
    }
}

TEST(MoveRules, InversionPassesColoursOn) {
    Fixture f(rowMap(3, 0, "i 2 1 3 3"));
    EXPECT_TRUE(f.gb->makeMove(P1, 0, MoveChoice::NONE, true));
    // Colour 1 now holds three stones, colour 3 two, colour 2 none.
    EXPECT_EQ(f.gb->getStoneCount(P2), 3u);
    EXPECT_EQ(f.gb->getStoneCount(P3), 0u);
    EXPECT_EQ(f.gb->getStoneCount(P1), 2u);
    EXPECT_EQ(f.gb->btop(Square::PLAYER1), P2);
    EXPECT_EQ(f.gb->ptob(P1), static_cast<Square>(3));
    EXPECT_EQ(f.cells(), "22211");
    // An inversion square takes no choice.
    Fixture g(rowMap(3, 0, "i 2 1"));
    expectRefused(*g.gb, P1, 0, MoveChoice::PLAYER1);

    // Three inversions bring every colour home.
    f.gb->inversion();
    f.gb->inversion();
    EXPECT_EQ(f.gb->ptob(P1), Square::PLAYER1);
    EXPECT_EQ(f.gb->getStoneCount(P1), 3u);
}

TEST(MoveRules, CheckChoiceBySquare) {
    Fixture f(rowMap(3, 0, "c b i x 0 1"));
    struct Case {
        index_t at;
        MoveChoice choice;
        bool valid;
    };
    const Case cases[] = {
        {0, MoveChoice::NONE, false},
        {0, MoveChoice::PLAYER1, true},
        {0, static_cast<MoveChoice>(3), true},
        {0, static_cast<MoveChoice>(4), false},
        {0, MoveChoice::BOMB, false},
        {1, MoveChoice::BOMB, true},
        {1, MoveChoice::OVERRIDE, true},
        {1, MoveChoice::NONE, false},
        {1, MoveChoice::PLAYER1, false},
        {2, MoveChoice::NONE, true},
        {2, MoveChoice::PLAYER1, false},
        {3, MoveChoice::NONE, true},
        {4, MoveChoice::NONE, true},
        {4, MoveChoice::OVERRIDE, false},
        {5, MoveChoice::NONE, true},
        {6, MoveChoice::NONE, false},
        {INVALID_INDEX, MoveChoice::NONE, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(f.gb->checkChoice(c.at, c.choice), c.valid)
            << "index " << c.at << " choice " << c.choice;
    }
}

TEST(MoveRules, CapturePathKeepsTheListTidy) {
    Fixture f(rowMap(2, 0, "0 2 2 1 2 0"));
    std::vector<index_t> list = {42};
    EXPECT_TRUE(f.gb->capturePath(0, Direction::E, Square::PLAYER1, true, list));
    EXPECT_EQ(list, (std::vector<index_t>{42, 1, 2}));
    EXPECT_FALSE(f.gb->capturePath(3, Direction::E, Square::PLAYER1, true, list));
    EXPECT_EQ(list, (std::vector<index_t>{42, 1, 2}));
    EXPECT_TRUE(f.gb->capturePath(0, Direction::E, Square::PLAYER1, false, list));
    EXPECT_EQ(list.size(), 3u);
    EXPECT_FALSE(f.gb->capturePath(0, Direction::W, Square::PLAYER1, true, list));
}

TEST(MoveRules, RefusedOutsideTheBoardAndForUnknownPlayers) {
    Fixture f(rowMap(2, 5, "0 2 1 -"));
    for (index_t i : {index_t{3}, index_t{4}, index_t{1000}, INVALID_INDEX}) {
        EXPECT_FALSE(f.gb->makeMove(P1, i, MoveChoice::NONE, false));
        expectRefused(*f.gb, P1, i, MoveChoice::NONE);
    }
    for (Player p : {Player::P_INVALID, P3, Player::P_MAX}) {
        EXPECT_FALSE(f.gb->makeMove(p, 0, MoveChoice::NONE, false));
        expectRefused(*f.gb, p, 0, MoveChoice::NONE);
        EXPECT_FALSE(f.gb->move_possible(p));
    }
}

TEST(MoveRules, MovePossible) {
    // Player 1 holds override stones, but no cell has a line and there is no expansion square.
    Fixture f(rowMap(2, 3, "2 1 2"));
    EXPECT_FALSE(f.gb->move_possible(P1));
    EXPECT_TRUE(f.gb->move_possible(P2));

    // Only a choice square is playable: found without a choice.
    Fixture c(rowMap(2, 0, "c 2 1"));
    EXPECT_TRUE(c.gb->move_possible(P1));
    EXPECT_FALSE(c.gb->move_possible(P2));

    // An expansion square counts while override stones last.
    Fixture x(rowMap(2, 1, "x 0 0"));
    EXPECT_TRUE(x.gb->move_possible(P2));
    x.gb->overrides(P2) = 0;
    EXPECT_FALSE(x.gb->move_possible(P2));
}

namespace {

// A dense 10 x 10 map for three players whose top edge leads into the left one and whose bottom
// edge leads into the right one, so that a walk can cross its own path.
// Sparse maps leave three cells in four empty.
std::string tangledMap(uint32_t seed, unsigned overrides, bool sparse = false) {
    const char tokens[] = "0001111222333xcib";
    std::string text = "3 " + std::to_string(overrides) + "\n0 0\n10 10\n";
    for (unsigned y = 0; y < 10; ++y) {
        for (unsigned x = 0; x < 10; ++x) {
            seed = seed * 1103515245u + 12345u;
            const unsigned r = (seed >> 16) % (sparse ? 80 : 20);
            const bool inner = x > 0 && x < 9 && y > 0 && y < 9;
            text += r < sizeof tokens - 1 ? tokens[r] : (inner && r < 20 ? '-' : '0');
            text += x < 9 ? ' ' : '\n';
        }
    }
    for (unsigned k = 1; k < 10; ++k) {
        const std::string n = std::to_string(k);
        const std::string m = std::to_string(k - 1);
        text.append(n).append(" 0 0 <-> 0 ").append(n).append(" 6\n");
        text.append(m).append(" 9 4 <-> 9 ").append(m).append(" 2\n");
    }
    return text;
}

} // namespace

TEST(MoveRules, LegalCellsAgreeWithTheTestOfEachCell) {
    for (uint32_t seed = 1; seed <= 16; ++seed) {
        Fixture f(tangledMap(seed, seed % 3, seed > 8));
        // A few moves change the colours' owners and the stocks.
        for (unsigned ply = 0; ply < 6; ++ply) {
            for (Player p : {P1, P2, P3}) {
                std::vector<uint8_t> marks;
                f.gb->legalCells(p, marks);
                ASSERT_EQ(marks.size(), f.gb->getBoardSize());
                for (uint32_t i = 0; i < marks.size(); ++i) {
                    EXPECT_EQ(marks[i] != 0, f.gb->canPlace(p, static_cast<index_t>(i)))
                        << "seed " << seed << " ply " << ply << " player " << p << " cell " << i;
                }
            }
            const Player mover = static_cast<Player>(ply % 3 + 1);
            for (uint32_t i = (seed * 7 + ply * 13) % 100; i < 100; ++i) {
                const MoveChoice choice =
                    f.gb->get_square(static_cast<index_t>(i)) == Square::BONUS ? MoveChoice::BOMB
                    : f.gb->get_square(static_cast<index_t>(i)) == Square::CHOICE
                        ? MoveChoice::PLAYER1
                        : MoveChoice::NONE;
                if (f.gb->makeMove(mover, static_cast<index_t>(i), choice, true)) {
                    break;
                }
            }
        }
    }
}

TEST(MoveRules, UndoRestoresEveryCellAndCounter) {
    // Special squares, override stones and bombs on crossing walks; strength-1 bombs.
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::string text = tangledMap(seed, 2);
        text.replace(text.find("\n0 0\n"), 5, "\n2 1\n");
        Fixture f(text);
        GameBoard::MoveUndo undo;
        std::vector<uint8_t> legal;
        for (unsigned ply = 0; ply < 12; ++ply) {
            const Player mover = static_cast<Player>(ply % 3 + 1);
            const BoardState before(*f.gb);
            f.gb->legalCells(mover, legal);
            for (uint32_t i = 0; i < legal.size(); ++i) {
                const index_t cell = static_cast<index_t>(i);
                const Square s = f.gb->get_square(cell);
                const MoveChoice choice = s == Square::CHOICE ? static_cast<MoveChoice>(ply % 3 + 1)
                                          : s == Square::BONUS ? MoveChoice::OVERRIDE
                                                               : MoveChoice::NONE;
                EXPECT_EQ(f.gb->playMove(mover, cell, choice, undo), legal[i] != 0) << i;
                f.gb->undoMove(undo);
                EXPECT_TRUE(BoardState(*f.gb) == before) << "seed " << seed << " cell " << i;
                if (f.gb->playBomb(mover, cell, undo)) {
                    f.gb->undoMove(undo);
                }
                EXPECT_TRUE(BoardState(*f.gb) == before) << "seed " << seed << " bomb " << i;
            }
            // Play on: a recorded move leaves the board as the plain applying form does.
            for (uint32_t i = 0; i < legal.size(); ++i) {
                if (legal[i] != 0 && f.gb->get_square(static_cast<index_t>(i)) != Square::CHOICE &&
                    f.gb->get_square(static_cast<index_t>(i)) != Square::BONUS) {
                    GameBoard copy(*f.gb);
                    copy.makeMove(mover, static_cast<index_t>(i), MoveChoice::NONE, true);
                    f.gb->playMove(mover, static_cast<index_t>(i), MoveChoice::NONE, undo);
                    EXPECT_TRUE(BoardState(copy) == BoardState(*f.gb)) << "seed " << seed;
                    break;
                }
            }
        }
    }
}
