// Strategies of the reference client on hand-made positions.

#include "GreedyStrategy.h"
#include "Position.h"
#include "PositionKey.h"
#include "RandomStrategy.h"
#include "SearchStrategy.h"
#include "TranspositionTable.h"

#include "Game.h"
#include "Map.h"

#include "server/TestMaps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

/// A map and a passive game on it, as the client keeps them.
class Table {
public:
    explicit Table(const std::string& text) {
        EXPECT_TRUE(m_map.loadFromString(text)) << text;
        m_game = std::make_unique<Game>(m_map, true);
    }
    Game& game() { return *m_game; }
    Position position() const { return Position(*m_game, m_game->getCurrentPlayer()); }

private:
    Map m_map;
    std::unique_ptr<Game> m_game;
};

MoveLimits noLimits() {
    return MoveLimits{};
}

std::pair<unsigned, unsigned> at(const Move& move) {
    return {move.x, move.y};
}

} // namespace

TEST(Position, ListsEveryLegalMoveWithEachAcceptableChoice) {
    struct Case {
        const char* map;
        std::vector<std::pair<index_t, MoveChoice>> expected;
    };
    const Case cases[] = {
        // The usual opening: four cells for player 1.
        {CLASSIC_MAP.c_str(),
         {{19, MoveChoice::NONE},
          {26, MoveChoice::NONE},
          {37, MoveChoice::NONE},
          {44, MoveChoice::NONE}}},
        // A choice square of a three-player map: one move per player to swap with.
        {"3 0 0 0 1 4\nc 2 1 3\n",
         {{0, MoveChoice::PLAYER1},
          {0, static_cast<MoveChoice>(2)},
          {0, static_cast<MoveChoice>(3)}}},
        // A bonus square: a bomb or an override stone.
        {"2 0 0 0 1 3\nb 2 1\n", {{0, MoveChoice::BOMB}, {0, MoveChoice::OVERRIDE}}},
        // Nobody can place a stone, so the game starts with bombs: every cell that is no hole.
        {"2 0 1 0 1 4\n1 - 0 2\n",
         {{0, MoveChoice::NONE}, {2, MoveChoice::NONE}, {3, MoveChoice::NONE}}},
    };
    for (const Case& c : cases) {
        Table table(c.map);
        std::vector<Candidate> moves;
        table.position().legalMoves(moves);
        std::vector<std::pair<index_t, MoveChoice>> found;
        for (const Candidate& m : moves) {
            found.emplace_back(m.index, m.choice);
        }
        EXPECT_EQ(found, c.expected) << c.map;
    }
}

TEST(Position, PassesTheTurnAndEndsLikeTheGame) {
    // Player 1 plays (3,2); player 2 is next.
    Table classic(CLASSIC_MAP);
    Position opening = classic.position();
    ASSERT_TRUE(opening.play({19, MoveChoice::NONE}));
    EXPECT_EQ(opening.toMove(), Player::P2);
    EXPECT_EQ(opening.board().getStoneCount(Player::P1), 4u);
    EXPECT_EQ(opening.board().getStoneCount(Player::P2), 1u);
    // An illegal move changes nothing.
    EXPECT_FALSE(opening.play({0, MoveChoice::NONE}));
    EXPECT_EQ(opening.toMove(), Player::P2);

    // After player 1 takes the only foreign stone nobody can place or bomb: the end.
    Table row("2 0 0 0 1 4\n0 2 1 0\n");
    Position position = row.position();
    ASSERT_TRUE(position.play({0, MoveChoice::NONE}));
    EXPECT_TRUE(position.isFinal());

    // With bombs left the bombing phase follows, and player 2 throws first.
    Table bombs("2 0 1 0 1 4\n0 2 1 0\n");
    Position withBombs = bombs.position();
    ASSERT_TRUE(withBombs.play({0, MoveChoice::NONE}));
    EXPECT_EQ(withBombs.phase(), GamePhase::TERMINAL);
    EXPECT_EQ(withBombs.toMove(), Player::P2);
}

TEST(Position, BlastAreaFollowsStrengthTransitionsAndHoles) {
    struct Case {
        const char* map;
        index_t target;
        std::set<index_t> expected;
    };
    const Case cases[] = {
        {"2 0 1 1 1 5\n1 0 0 0 2\n", 0, {0, 1}},
        {"2 0 1 2 1 5\n1 0 0 0 2\n", 2, {0, 1, 2, 3, 4}},
        {"2 0 1 0 1 5\n1 0 0 0 2\n", 2, {2}},
        // A hole stops the blast.
        {"2 0 1 3 1 5\n1 0 - 0 2\n", 1, {0, 1}},
        // A transition joining the two ends carries it round.
        {"2 0 1 1 1 5\n1 0 0 0 2\n0 0 6 <-> 4 0 2\n", 0, {0, 1, 4}},
        {"2 0 1 1 1 5\n1 0 - 0 2\n", 2, {}},
    };
    for (const Case& c : cases) {
        Table table(c.map);
        const std::vector<index_t> area = table.position().blastArea(c.target);
        EXPECT_EQ(std::set<index_t>(area.begin(), area.end()), c.expected) << c.map;
        EXPECT_EQ(area.size(), c.expected.size()) << c.map;
    }
}

TEST(GreedyStrategy, TakesTheBestImmediateCountAndTheBestThrow) {
    struct Case {
        const char* map;
        unsigned x;
        MoveChoice choice;
    };
    const Case cases[] = {
        // Three stones at (0,0) against one at (6,0).
        {"2 0 0 0 1 8\n0 2 2 2 1 2 0 0\n", 0, MoveChoice::NONE},
        // The choice square: swapping with player 3 gives four stones.
        {"3 0 0 0 1 7\nc 2 1 3 3 3 3\n", 0, static_cast<MoveChoice>(3)},
        // With bombs of strength 1 a bonus square gives a bomb.
        {"2 0 0 1 1 3\nb 2 1\n", 0, MoveChoice::BOMB},
        // Bombing: (1,0) destroys three opponent stones and none of its own.
        {"2 0 1 1 1 7\n2 2 2 1 1 2 1\n", 1, MoveChoice::NONE},
    };
    for (const Case& c : cases) {
        Table table(c.map);
        GreedyStrategy greedy(7);
        Move move;
        ASSERT_TRUE(greedy.chooseMove(table.game(), Player::P1, noLimits(), move)) << c.map;
        EXPECT_EQ(at(move), std::make_pair(c.x, 0u)) << c.map;
        EXPECT_EQ(move.choice, c.choice) << c.map;
        EXPECT_EQ(move.player, Player::P1);
        EXPECT_EQ(move.terminal, table.game().is_terminal());
    }
}

TEST(GreedyStrategy, SpendsAnOverrideStoneOnlyForAClearGain) {
    // Player 1 holds an override stone. Every move leaves it four stones, but the override
    // moves at (2,0) to (5,0) leave player 2 fewer; the plain move at (0,0) is still taken.
    Table table("2 1 0 0 1 6\n0 2 1 2 2 1\n");
    GreedyStrategy greedy(3);
    Move move;
    ASSERT_TRUE(greedy.chooseMove(table.game(), Player::P1, noLimits(), move));
    EXPECT_EQ(at(move), std::make_pair(0u, 0u));
}

TEST(SearchStrategy, SeesPastTheBiggerCaptureThatLoses) {
    // Taking two stones at (1,0) lets player 2 take the whole row from (0,0); turning one stone
    // at (6,0) leaves player 2 without a move and wins the row.
    const char* const map = "2 0 0 0 1 7\n0 0 2 2 1 2 0\n";
    Table table(map);
    Move move;
    GreedyStrategy greedy(1);
    ASSERT_TRUE(greedy.chooseMove(table.game(), Player::P1, noLimits(), move));
    EXPECT_EQ(at(move), std::make_pair(1u, 0u));

    // 255 is the deepest limit a request can carry.
    for (unsigned depth : {2u, 3u, 0u, 255u}) {
        SearchStrategy search(5000);
        MoveLimits limits;
        limits.depth = depth;
        ASSERT_TRUE(search.chooseMove(table.game(), Player::P1, limits, move));
        EXPECT_EQ(at(move), std::make_pair(6u, 0u)) << "depth limit " << depth;
    }
}

TEST(SearchStrategy, KeepsToTheDepthLimit) {
    Table table(CLASSIC_MAP);
    for (unsigned depth : {1u, 2u, 4u}) {
        SearchStrategy search(60000);
        MoveLimits limits;
        limits.depth = depth;
        Move move;
        ASSERT_TRUE(search.chooseMove(table.game(), Player::P1, limits, move));
        EXPECT_EQ(search.lastDepth(), depth);
        EXPECT_TRUE(table.game().checkMove(move, true)) << move;
    }
}

TEST(SearchStrategy, StopsWhenItsShareOfTheTimeRunsOut) {
    // An open 12 x 12 board has no end of search in sight: only the time stops it.
    std::string map = "2 0 0 0 12 12\n";
    for (unsigned y = 0; y < 12; ++y) {
        for (unsigned x = 0; x < 12; ++x) {
            const bool centre = (x == 5 || x == 6) && (y == 5 || y == 6);
            map += centre ? ((x == y) ? "2 " : "1 ") : "0 ";
        }
        map += "\n";
    }
    Table table(map);
    SearchStrategy search(30);
    MoveLimits limits;
    limits.timeLeft = 100000;
    const auto start = std::chrono::steady_clock::now();
    limits.received = start;
    Move move;
    ASSERT_TRUE(search.chooseMove(table.game(), Player::P1, limits, move));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(search.lastAllotment(), 30u);
    EXPECT_LT(spent, std::chrono::seconds(5));
    EXPECT_TRUE(table.game().checkMove(move, true)) << move;
}

TEST(PositionKey, SameForATranspositionAndApartForWhatPlaysDifferently) {
    // Player 1 may capture in the first and third regions, player 2 in the second and fourth.
    const char* const regions = "2 0 0 0 1 15\n0 2 1 - 0 1 2 - 0 2 1 - 0 1 2\n";
    Table table(regions);
    const PositionKey keys(15);
    auto after = [&](std::vector<index_t> cells) {
        Position position = table.position();
        for (index_t cell : cells) {
            EXPECT_TRUE(position.play({cell, MoveChoice::NONE})) << cell;
        }
        return keys.of(position);
    };
    EXPECT_EQ(after({0, 4, 8}), after({8, 4, 0}));
    EXPECT_NE(after({0, 4, 8}), after({0, 12, 8}));

    // The same cells with another player to move, other stocks, a player disqualified, or in
    // another phase.
    const uint64_t start = keys.of(table.position());
    EXPECT_NE(keys.of(Position(table.game(), Player::P2)), start);
    const char* const stocks[] = {"2 1 0 0 1 15\n0 2 1 - 0 1 2 - 0 2 1 - 0 1 2\n",
                                  "2 0 1 0 1 15\n0 2 1 - 0 1 2 - 0 2 1 - 0 1 2\n"};
    for (const char* map : stocks) {
        Table other(map);
        EXPECT_NE(keys.of(other.position()), start) << map;
    }
    Table disqualified(regions);
    disqualified.game().disqualify(Player::P2);
    EXPECT_NE(keys.of(disqualified.position()), start);
    table.game().force_terminal();
    EXPECT_NE(keys.of(table.position()), start);
}

TEST(TranspositionTable, FindsOnlyItsOwnKeyAndKeepsTheDeeperEntryOfASearch) {
    TranspositionTable table(4);
    const uint64_t key = 0x1234;
    const uint64_t sameSlot = key + 16;
    table.store(key, 5, 42, TranspositionTable::Bound::LOWER, {7, MoveChoice::NONE}, false);
    ASSERT_NE(table.probe(key), nullptr);
    EXPECT_EQ(table.probe(key)->value, 42);
    EXPECT_EQ(table.probe(key)->best.index, 7);
    EXPECT_EQ(table.probe(sameSlot), nullptr);

    // A shallower result of another position does not push out a deeper one of this search,
    // but does in the next.
    table.store(sameSlot, 2, 1, TranspositionTable::Bound::EXACT, {}, false);
    EXPECT_NE(table.probe(key), nullptr);
    table.nextGeneration();
    table.store(sameSlot, 2, 1, TranspositionTable::Bound::EXACT, {}, false);
    EXPECT_EQ(table.probe(key), nullptr);
    EXPECT_NE(table.probe(sameSlot), nullptr);
}

TEST(SearchStrategy, ForgetsWhatItLearntForAnotherPlayerOrMap) {
    // A classic game some moves in. One strategy searches it first for player 2 after a move of
    // player 1 (positions that come up again, valued from the other side), then on a board of
    // the same size that differs by transitions, and then for player 1: it must choose as a
    // fresh one does.
    Table table(CLASSIC_MAP);
    GreedyStrategy greedy(5);
    std::vector<Move> opening;
    for (unsigned ply = 0; ply < 10; ++ply) {
        const Player p = table.game().getCurrentPlayer();
        Move move;
        ASSERT_TRUE(greedy.chooseMove(table.game(), p, noLimits(), move));
        ASSERT_TRUE(table.game().makeMove(move));
        opening.push_back(move);
    }
    ASSERT_EQ(table.game().getCurrentPlayer(), Player::P1);
    MoveLimits limits;
    limits.depth = 4;
    Move fresh;
    SearchStrategy reference(60000);
    ASSERT_TRUE(reference.chooseMove(table.game(), Player::P1, limits, fresh));
    const int freshValue = reference.lastValue();

    SearchStrategy search(60000);
    Move move;
    Table after(CLASSIC_MAP);
    opening.push_back(fresh);
    for (const Move& m : opening) {
        ASSERT_TRUE(after.game().makeMove(m));
    }
    ASSERT_TRUE(search.chooseMove(after.game(), Player::P2, limits, move));
    std::string torus = CLASSIC_MAP;
    torus += "0 0 0 <-> 0 7 4\n";
    Table wrapped(torus);
    ASSERT_TRUE(search.chooseMove(wrapped.game(), Player::P1, limits, move));
    ASSERT_TRUE(search.chooseMove(table.game(), Player::P1, limits, move));
    EXPECT_EQ(at(move), at(fresh));
    EXPECT_EQ(search.lastValue(), freshValue);
}

TEST(SearchStrategy, AnswersWithALegalMoveWhenTheTimeIsGone) {
    Table table(CLASSIC_MAP);
    SearchStrategy search(100);
    MoveLimits limits;
    limits.timeLeft = 1;
    Move move;
    ASSERT_TRUE(search.chooseMove(table.game(), Player::P1, limits, move));
    EXPECT_EQ(search.lastAllotment(), 0u);
    EXPECT_TRUE(table.game().checkMove(move, true)) << move;
}

TEST(SearchStrategy, AllotsAShareOfTheTimeWithAMargin) {
    struct Case {
        uint32_t timeLeft;
        unsigned movesToCome;
        uint32_t cap;
        uint32_t expected;
    };
    const Case cases[] = {
        {1000, 30, 250, 33},  // a share of the budget
        {10000, 5, 250, 250}, // the cap
        {100, 1, 250, 50},    // at most half
        {40, 1, 250, 0},      // too close to the end of the budget: answer at once
        {0, 30, 250, 250},    // no time limit: the cap
        {1000, 0, 2000, 500}, // no moves expected: still at most half
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SearchStrategy::allotTime(c.timeLeft, c.movesToCome, c.cap), c.expected)
            << c.timeLeft << " ms for " << c.movesToCome << " moves, cap " << c.cap;
    }
}

TEST(RandomStrategy, PlaysLegalMovesReproduciblyForASeed) {
    auto playOut = [](uint32_t seed) {
        Table table(CLASSIC_MAP);
        RandomStrategy first(seed);
        RandomStrategy second(seed);
        std::vector<std::pair<unsigned, unsigned>> moves;
        while (!table.game().is_final()) {
            const Player p = table.game().getCurrentPlayer();
            Move move;
            EXPECT_TRUE(
                (p == Player::P1 ? first : second).chooseMove(table.game(), p, noLimits(), move));
            EXPECT_TRUE(table.game().checkMove(move, true)) << move;
            EXPECT_TRUE(table.game().makeMove(move));
            moves.push_back(at(move));
        }
        return moves;
    };
    const auto once = playOut(11);
    EXPECT_GE(once.size(), 9u);
    EXPECT_EQ(playOut(11), once);
}
