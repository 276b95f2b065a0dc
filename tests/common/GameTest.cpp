#include "Game.h"

#include "Logging.h"
#include "lumber/StreamSink.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A map and a game on it; the map outlives the game.
struct Match {
    explicit Match(const char* text, bool passive = false) {
        EXPECT_TRUE(map.loadFromString(text)) << text;
        game = std::make_unique<Game>(map, passive);
    }
    Game& operator*() { return *game; }
    Game* operator->() { return game.get(); }

    Square cell(uint16_t x, uint16_t y) const {
        const GameBoard& board = game->getBoard();
        return board.get_square(board.coords2index(x, y));
    }

    Map map;
    std::unique_ptr<Game> game;
};

// Collects the game logger's entries as "LEVEL - message" lines while it lives.
class GameLog {
public:
    explicit GameLog(lumber::LogLevel level) : m_sink(lumber::StreamSink::create(m_text)) {
        Logging::loggerGame->addSink(m_sink);
        Logging::setLogLevel(Logging::loggerGame, level);
    }
    ~GameLog() {
        Logging::loggerGame->removeSink(m_sink);
        Logging::setLogLevel(Logging::loggerGame, lumber::INHERIT);
    }
    std::string take() {
        std::string text = m_text.str();
        m_text.str("");
        return text;
    }

private:
    std::ostringstream m_text;
    lumber::SinkPtr m_sink;
};

Move stone(uint16_t x, uint16_t y, Player p, MoveChoice choice = MoveChoice::NONE) {
    return Move(x, y, choice, p, false);
}

Move bomb(uint16_t x, uint16_t y, Player p, MoveChoice choice = MoveChoice::NONE) {
    return Move(x, y, choice, p, true);
}

constexpr Player P1 = Player::P1;
constexpr Player P2 = Player::P2;
constexpr Player P3 = Player::P3;
constexpr Square kStone1 = Square::PLAYER1;
constexpr Square kStone2 = static_cast<Square>(2);
constexpr Square kStone3 = static_cast<Square>(3);
constexpr MoveChoice kChoose2 = static_cast<MoveChoice>(2);

// Three players; player 2 has no stone and so never a move.
const char* const kNoMoveForTwo = "3 0 0 0 2 4\n"
                                  "0 3 1 0\n"
                                  "0 1 3 0\n";

// Three players with exactly one move each, on rows kept apart by holes.
const char* const kOneMoveEach = "3 0 0 0 5 3\n"
                                 "0 2 1\n"
                                 "- - -\n"
                                 "0 3 2\n"
                                 "- - -\n"
                                 "0 1 3\n";

} // namespace

TEST(GameTurns, PassingSkipsPlayersWhoCannotPlace) {
    // Two players, player 2 without a move: player 1 keeps the turn.
    Match two("2 0 0 0 2 3\n"
              "0 2 1\n"
              "0 2 1\n");
    EXPECT_EQ(two->getCurrentPlayer(), P1);
    ASSERT_TRUE(two->makeMove(stone(0, 0, P1)));
    EXPECT_EQ(two->getCurrentPlayer(), P1);
    EXPECT_FALSE(two->is_terminal());
    ASSERT_TRUE(two->makeMove(stone(0, 1, P1)));
    EXPECT_TRUE(two->is_final()); // nobody can place, nobody holds a bomb

    Match three(kNoMoveForTwo);
    EXPECT_EQ(three->getCurrentPlayer(), P1);
    ASSERT_TRUE(three->makeMove(stone(0, 0, P1)));
    EXPECT_EQ(three->getCurrentPlayer(), P3);
    ASSERT_TRUE(three->makeMove(stone(0, 1, P3)));
    EXPECT_TRUE(three->is_final());
    EXPECT_EQ(three->getCurrentPlayer(), P1);
    EXPECT_EQ(three->get_movenumber(), 2u);
}

TEST(GameTurns, BombingPhaseStartsWithFirstPlayerHoldingABombThenEnds) {
    // Player 2 takes the bonus as a bomb; after that nobody can place a stone.
    Match m("3 0 0 1 1 6\n"
            "0 3 1 b 1 2\n");
    ASSERT_TRUE(m->makeMove(stone(0, 0, P1)));
    EXPECT_EQ(m->getCurrentPlayer(), P2);
    ASSERT_TRUE(m->makeMove(stone(3, 0, P2, MoveChoice::BOMB)));
    EXPECT_TRUE(m->is_terminal());
    EXPECT_FALSE(m->is_final());
    EXPECT_EQ(m->getCurrentPlayer(), P2); // players 3 and 1 hold no bomb
    EXPECT_EQ(m->getBoard().getBombs(P2), 1u);

    EXPECT_FALSE(m->checkMove(stone(0, 0, P2), false)); // flag does not match the phase
    EXPECT_TRUE(m->checkMove(bomb(0, 0, P2), true));
    ASSERT_TRUE(m->makeMove(bomb(2, 0, P2)));
    EXPECT_TRUE(m->is_final());
    EXPECT_FALSE(m->is_terminal());
    const Square expected[] = {kStone1, Square::NONE, Square::NONE, Square::NONE, kStone2, kStone2};
    for (uint16_t x = 0; x < 6; ++x) {
        EXPECT_EQ(m.cell(x, 0), expected[x]) << "x " << x;
    }
}

TEST(GameTurns, StartPhaseAndFinalTurnInc) {
    Match bombs("2 0 1 0 1 2\n1 2\n");
    EXPECT_TRUE(bombs->is_terminal());
    EXPECT_EQ(bombs->getCurrentPlayer(), P1);

    GameLog log(lumber::TRACE);
    Match none("2 0 0 0 1 2\n1 2\n");
    EXPECT_TRUE(none->is_final());
    EXPECT_EQ(none->getCurrentPlayer(), P1);
    EXPECT_EQ(log.take(), "TRACE - Game has ended, turn_inc no-op\n"
                          "TRACE - turn_inc: next valid player is 1\n");
    none->turn_inc(); // only advances the turn
    EXPECT_EQ(none->getCurrentPlayer(), P2);
    EXPECT_TRUE(none->is_final());
    log.take();

    none->disqualify(P1);
    none->disqualify(P2);
    EXPECT_EQ(none->get_valid_players(), 0u);
    log.take();
    none->turn_inc();
    EXPECT_EQ(log.take(), "WARN - No more valid players in the game!\n");
    EXPECT_EQ(none->getCurrentPlayer(), P2);
}

TEST(GameDisqualify, CurrentNonCurrentTwiceAndLastTwo) {
    GameLog log(lumber::DEBUG);
    Match m(kNoMoveForTwo);
    log.take();

    m->disqualify(P1);
    EXPECT_EQ(log.take(), "DEBUG - Current player disqualified, increment turn\n"
                          "INFO - Disqualified player 1\n");
    EXPECT_EQ(m->getCurrentPlayer(), P3); // player 2 cannot move
    EXPECT_EQ(m->get_valid_players(), 2u);
    EXPECT_EQ(m->getValidPlayers(), (std::vector<Player>{P2, P3}));
    EXPECT_EQ(m->getPlayers(), (std::vector<Player>{P1, P2, P3}));
    EXPECT_TRUE(m->is_disqualified(P1));
    EXPECT_TRUE(m->getBoard().getDisqualified(P1));
    EXPECT_EQ(m.cell(2, 0), kStone1); // stones stay
    EXPECT_FALSE(m->is_final());

    m->disqualify(P1);
    EXPECT_EQ(log.take(), "");
    EXPECT_EQ(m->get_valid_players(), 2u);

    m->disqualify(P2); // not the current player, and only one player is left
    EXPECT_EQ(log.take(), "INFO - Disqualified player 2\n");
    EXPECT_TRUE(m->is_final());
    EXPECT_EQ(m->getCurrentPlayer(), P3);
    EXPECT_EQ(m->getValidPlayers(), (std::vector<Player>{P3}));

    // One of two ends the game at once, current player or not.
    for (const Player p : {P1, P2}) {
        Match two("2 0 0 0 1 3\n0 2 1\n");
        log.take();
        two->disqualify(p);
        EXPECT_TRUE(two->is_final()) << p;
        EXPECT_EQ(two->getCurrentPlayer(), P1) << p;
        EXPECT_EQ(log.take(), "INFO - Disqualified player " + std::to_string(int(p)) + "\n");
    }
}

TEST(GameScores, LeaderTiesAndDisqualified) {
    struct Case {
        const char* map;
        std::vector<Player> disqualify;
        std::vector<int> scores;
        Player leader;
    };
    const Case cases[] = {
        {"3 0 0 0 1 6\n1 2 2 3 3 3\n", {}, {1, 2, 3}, P3},
        {"3 0 0 0 1 6\n1 2 2 3 3 3\n", {P3}, {1, 2, -1}, P2},
        {"3 0 0 0 1 5\n1 1 2 2 3\n", {}, {2, 2, 1}, P1},
        {"3 0 0 0 1 5\n1 1 2 2 3\n", {P1}, {-1, 2, 1}, P2},
        {"2 0 0 0 1 2\n1 0\n", {P1}, {-1, 0}, P2},
        {"2 0 0 0 1 2\n1 2\n", {P1, P2}, {-1, -1}, Player::P_INVALID},
    };
    for (const Case& c : cases) {
        Match m(c.map);
        for (const Player p : c.disqualify) {
            m->disqualify(p);
        }
        std::vector<int> scores(c.scores.size(), 99);
        EXPECT_EQ(m->get_scores(scores.data()), c.leader) << c.map;
        EXPECT_EQ(scores, c.scores) << c.map;
    }
}

TEST(GameTexts, PrintScoresAndStatus) {
    Match m("3 12 3 0 1 6\n1 2 2 2 3 3\n");
    m->disqualify(P2); // holds the most stones
    {
        GameLog log(lumber::INFO);
        m->print_scores();
        EXPECT_EQ(log.take(), "INFO - Scores:\n"
                              "INFO - Player 1: 1 points\n"
                              "INFO - Player 2: disqualified\n"
                              "INFO - Player 3: 2 points and is currently leading\n");
    }
    EXPECT_EQ(m->getStatus(), "1\n12 3 0\n12 3 1\n12 3 0\n");

    m->disqualify(P1);
    m->disqualify(P3);
    GameLog log(lumber::INFO);
    m->print_scores();
    EXPECT_EQ(log.take(), "INFO - Scores:\n"
                          "INFO - Player 1: disqualified\n"
                          "INFO - Player 2: disqualified\n"
                          "INFO - Player 3: disqualified\n");
    log.take();
    Logging::setLogLevel(Logging::loggerGame, lumber::WARN);
    m->print_scores();
    EXPECT_EQ(log.take(), "");

    Match fresh(kNoMoveForTwo);
    EXPECT_EQ(fresh->getStatus(), "1\n0 0 0\n0 0 0\n0 0 0\n");
}

TEST(GameCheckMove, TurnPhaseBoardAndChoice) {
    struct Case {
        Move move;
        bool withChoiceCheck;
        bool withoutChoiceCheck;
    };
    // Two players; (0,0) a choice square and (4,0) a bonus square, both legal for player 1.
    Match m("2 0 0 0 1 5\nc 2 1 2 b\n");
    const Case cases[] = {
        {stone(0, 0, P1, MoveChoice::PLAYER1), true, true},
        {stone(0, 0, P1, kChoose2), true, true},
        {stone(0, 0, P1, MoveChoice::NONE), false, true},
        {stone(0, 0, P1, static_cast<MoveChoice>(3)), false, true}, // only two players
        {stone(0, 0, P1, MoveChoice::BOMB), false, true},
        {stone(4, 0, P1, MoveChoice::BOMB), true, true},
        {stone(4, 0, P1, MoveChoice::OVERRIDE), true, true},
        {stone(4, 0, P1, MoveChoice::NONE), false, true},
        {stone(4, 0, P1, MoveChoice::PLAYER1), false, true},
        {stone(0, 0, P2, MoveChoice::PLAYER1), false, false}, // out of turn
        {bomb(0, 0, P1, MoveChoice::PLAYER1), false, false},  // wrong phase flag
        {stone(2, 0, P1), false, false},                      // occupied, no override
        {stone(5, 0, P1), false, false},                      // off the board
        {stone(0, 1, P1, MoveChoice::PLAYER1), false, false}, // off the board
    };
    for (const Case& c : cases) {
        std::ostringstream name;
        name << c.move;
        EXPECT_EQ(m->checkMove(c.move, true), c.withChoiceCheck) << name.str();
        EXPECT_EQ(m->checkMove(c.move, false), c.withoutChoiceCheck) << name.str();
    }
    EXPECT_EQ(m.cell(0, 0), Square::CHOICE);
    EXPECT_EQ(m.cell(1, 0), kStone2);
    EXPECT_EQ(m->get_movenumber(), 0u);
    EXPECT_EQ(m->getCurrentPlayer(), P1);

    // Bomb throws: a choice fails only with the check, and never in a passive game.
    for (const bool passive : {false, true}) {
        Match b("2 0 1 0 1 3\n1 2 -\n", passive);
        ASSERT_TRUE(b->is_terminal());
        EXPECT_TRUE(b->checkMove(bomb(0, 0, P1), true));
        EXPECT_EQ(b->checkMove(bomb(1, 0, P1, MoveChoice::OVERRIDE), true), passive);
        EXPECT_TRUE(b->checkMove(bomb(1, 0, P1, MoveChoice::OVERRIDE), false));
        EXPECT_FALSE(b->checkMove(bomb(2, 0, P1), false)); // a hole
        EXPECT_FALSE(b->checkMove(bomb(0, 0, P2), false));
        EXPECT_EQ(b.cell(0, 0), kStone1);
        EXPECT_EQ(b->getBoard().getBombs(P1), 1u);
    }
}

TEST(GameMakeMove, ActiveGameDisqualifiesOnRefusal) {
    GameLog log(lumber::DEBUG);
    {
        // Refused by the board: the mover goes, the turn passes once.
        Match m(kOneMoveEach);
        log.take();
        EXPECT_FALSE(m->makeMove(stone(1, 0, P1)));
        EXPECT_EQ(log.take(), "DEBUG - Making move, Player 1 (x,y)=(1,0)\n"
                              "DEBUG - Current player disqualified, increment turn\n"
                              "INFO - Disqualified player 1\n");
        EXPECT_EQ(m->getCurrentPlayer(), P2);
        EXPECT_TRUE(m->is_disqualified(P1));
        EXPECT_EQ(m.cell(0, 0), Square::EMPTY);
        EXPECT_EQ(m.cell(1, 0), kStone2);
        EXPECT_EQ(m->get_movenumber(), 1u);
    }
    {
        // Out of turn: the mover goes, the current player keeps the turn.
        Match m(kOneMoveEach);
        log.take();
        EXPECT_FALSE(m->makeMove(stone(0, 4, P3)));
        EXPECT_EQ(log.take(), "DEBUG - Making move, Player 3 (x,y)=(0,4)\n"
                              "INFO - Disqualifying player: out of turn\n"
                              "INFO - Disqualified player 3\n");
        EXPECT_EQ(m->getCurrentPlayer(), P1);
        EXPECT_EQ(m.cell(1, 4), kStone1);
        EXPECT_FALSE(m->makeMove(stone(0, 0, Player::P4))); // nobody to disqualify
        EXPECT_EQ(m->get_valid_players(), 2u);
        EXPECT_EQ(m->getCurrentPlayer(), P1);
        log.take();
        ASSERT_TRUE(m->makeMove(stone(0, 0, P1)));
        EXPECT_EQ(m->getCurrentPlayer(), P2);
        EXPECT_EQ(m->get_movenumber(), 3u);
    }
    {
        // A bomb carrying a choice is not thrown.
        Match m("3 0 1 0 1 3\n1 2 3\n");
        ASSERT_TRUE(m->is_terminal());
        log.take();
        EXPECT_FALSE(m->makeMove(bomb(0, 0, P1, MoveChoice::OVERRIDE)));
        EXPECT_EQ(log.take(), "DEBUG - Making move, Player 1 (x,y)=(0,0) choice: 21\n"
                              "INFO - Disqualifying player: choice not 0 on bomb throw\n"
                              "DEBUG - Current player disqualified, increment turn\n"
                              "INFO - Disqualified player 1\n");
        EXPECT_EQ(m.cell(0, 0), kStone1);
        EXPECT_EQ(m->getBoard().getBombs(P1), 1u);
        EXPECT_EQ(m->getCurrentPlayer(), P2);
    }
    {
        // Two players: a refusal ends the game.
        Match m("2 0 0 0 1 3\n0 2 1\n");
        EXPECT_FALSE(m->makeMove(stone(2, 0, P1)));
        EXPECT_TRUE(m->is_final());
        EXPECT_EQ(m->getCurrentPlayer(), P1);
    }
}

TEST(GameMakeMove, PassiveGameAppliesAndDisqualifiesNobody) {
    GameLog log(lumber::TRACE);
    {
        Match m(kOneMoveEach, true);
        log.take();
        EXPECT_FALSE(m->makeMove(stone(1, 0, P1)));
        EXPECT_EQ(log.take(), "DEBUG - Making move, Player 1 (x,y)=(1,0)\n"
                              "TRACE - Current move is 1\n"
                              "TRACE - turn_inc: next valid player is 2\n");
        EXPECT_EQ(m->getCurrentPlayer(), P2);
        EXPECT_EQ(m->get_valid_players(), 3u);
        EXPECT_EQ(m.cell(1, 0), kStone2);

        // Player 3 out of turn: applied, and the turn passes on from player 3.
        EXPECT_TRUE(m->makeMove(stone(0, 4, P3)));
        EXPECT_EQ(log.take(), "DEBUG - Making move, Player 3 (x,y)=(0,4)\n"
                              "TRACE - Current move is 2\n"
                              "WARN - Out of turn move detected, but applying anyway (passive)\n"
                              "TRACE - turn_inc: next valid player is 1\n");
        EXPECT_EQ(m.cell(0, 4), kStone3);
        EXPECT_EQ(m.cell(1, 4), kStone3);
        EXPECT_EQ(m->getCurrentPlayer(), P1);
        EXPECT_EQ(m->get_movenumber(), 2u);

        // A player the map does not have is refused without touching turn or board.
        EXPECT_FALSE(m->makeMove(stone(0, 0, Player::P4)));
        EXPECT_EQ(log.take(), "DEBUG - Making move, Player 4 (x,y)=(0,0)\n"
                              "TRACE - Current move is 3\n"
                              "WARN - Move by unknown player 4 ignored (passive)\n");
        EXPECT_EQ(m->getCurrentPlayer(), P1);
        EXPECT_EQ(m.cell(0, 0), Square::EMPTY);
    }
    {
        Match m("3 0 1 0 1 3\n1 2 3\n", true);
        ASSERT_TRUE(m->is_terminal());
        log.take();
        EXPECT_TRUE(m->makeMove(bomb(0, 0, P1, MoveChoice::OVERRIDE)));
        EXPECT_EQ(log.take(), "DEBUG - Making move, Player 1 (x,y)=(0,0) choice: 21\n"
                              "TRACE - Current move is 1\n"
                              "INFO - Invalid choice detected, but ignoring (passive)\n"
                              "TRACE - turn_inc: next valid player is 2\n");
        EXPECT_EQ(m.cell(0, 0), Square::NONE);
        EXPECT_EQ(m->getCurrentPlayer(), P2);
    }
}

TEST(GamePassive, ForceTerminalAndNextPlayer) {
    Match active(kOneMoveEach);
    active->force_terminal();
    EXPECT_FALSE(active->is_terminal());

    Match m(kOneMoveEach, true);
    m->disqualify(P2);
    m->nextPlayer();
    EXPECT_EQ(m->getCurrentPlayer(), P3);
    m->nextPlayer();
    EXPECT_EQ(m->getCurrentPlayer(), P1);
    m->force_terminal();
    EXPECT_TRUE(m->is_terminal());
    m->nextPlayer(); // no bombs, but the turn passes all the same
    EXPECT_EQ(m->getCurrentPlayer(), P3);
    EXPECT_TRUE(m->is_terminal());

    EXPECT_DEATH(active->nextPlayer(), "Assertion .false. failed");
}

TEST(GameEnumeration, CellOrderThenChoiceOrder) {
    struct Step {
        uint16_t x;
        uint16_t y;
        MoveChoice choice;
    };
    struct Case {
        const char* map;
        bool terminal;
        std::vector<Step> steps;
    };
    const MoveChoice c1 = MoveChoice::PLAYER1;
    const MoveChoice c2 = kChoose2;
    const MoveChoice c3 = static_cast<MoveChoice>(3);
    const MoveChoice none = MoveChoice::NONE;
    const Case cases[] = {
        {"3 0 0 0 1 3\nc 2 1\n", false, {{0, 0, c1}, {0, 0, c2}, {0, 0, c3}}},
        {"2 0 0 0 1 5\nc 2 1 2 c\n", false, {{0, 0, c1}, {0, 0, c2}, {4, 0, c1}, {4, 0, c2}}},
        {"2 0 0 0 1 5\n0 2 1 2 b\n",
         false,
         {{0, 0, none}, {4, 0, MoveChoice::BOMB}, {4, 0, MoveChoice::OVERRIDE}}},
        {"2 0 0 0 1 6\n- 0 2 1 2 0\n", false, {{1, 0, none}, {5, 0, none}}},
        {"2 0 1 0 2 2\n1 2\n- 1\n", true, {{0, 0, none}, {1, 0, none}, {1, 1, none}}},
    };
    for (const Case& c : cases) {
        Match m(c.map);
        Move move;
        for (const Step& s : c.steps) {
            ASSERT_TRUE(m->calcNextMove(move, false)) << c.map;
            EXPECT_EQ(move.x, s.x) << c.map;
            EXPECT_EQ(move.y, s.y) << c.map;
            EXPECT_EQ(move.choice, s.choice) << c.map;
            EXPECT_EQ(move.player, P1) << c.map;
            EXPECT_EQ(move.terminal, c.terminal) << c.map;
        }
        EXPECT_FALSE(m->calcNextMove(move, false)) << c.map;
        EXPECT_FALSE(move.isValid()) << c.map;
        EXPECT_EQ(m->get_movenumber(), 0u);
    }
}

TEST(GameEnumeration, ApplyingTheFirstMovePassesTheTurn) {
    Match m(kOneMoveEach);
    Move move;
    ASSERT_TRUE(m->nextMove(move, true));
    EXPECT_EQ(move.x, 0u);
    EXPECT_EQ(move.y, 0u);
    EXPECT_EQ(m.cell(1, 0), kStone1);
    EXPECT_EQ(m->getCurrentPlayer(), P2);

    Match passive(kOneMoveEach, true);
    passive->disqualify(P2);
    Move first;
    ASSERT_TRUE(passive->nextMove(first, true));
    EXPECT_EQ(passive->getCurrentPlayer(), P3);

    Move probe; // without apply nothing changes
    ASSERT_TRUE(m->nextMove(probe, false));
    EXPECT_EQ(m->getCurrentPlayer(), P2);
    EXPECT_EQ(m.cell(1, 2), kStone3);
}

TEST(GameEnumeration, ContinuingFromAForeignMoveStops) {
    Match m("2 0 0 0 1 5\nc 2 1 2 b\n");
    struct Case {
        Move move;
        const char* assertion;
    };
    const Case cases[] = {
        {bomb(0, 0, P1), "move.terminal == is_terminal\\(\\)"},
        {stone(0, 0, P1), "move.choice >= MoveChoice::PLAYER1 && move.choice <= "
                          "MoveChoice::PLAYER_MAX"},
        {stone(4, 0, P1, MoveChoice::PLAYER1),
         "move.choice == MoveChoice::BOMB \\|\\| move.choice == MoveChoice::OVERRIDE"},
        {stone(2, 0, P1, MoveChoice::BOMB), "move.choice == MoveChoice::NONE"},
    };
    for (const Case& c : cases) {
        Move move = c.move;
        EXPECT_DEATH(m->calcNextMove(move, false), c.assertion);
    }
}

TEST(GameStates, PushAndPopRestoreTurnMoveNumberAndPhase) {
    EXPECT_EQ(Match(kOneMoveEach)->getStateSize(), 8u);

    Match m(kOneMoveEach);
    EXPECT_EQ(m->popState(true), false);
    EXPECT_EQ(m->pushState(), 0);                 // player 1, move 0, build
    EXPECT_NE(m->getCurrentPointer(49), nullptr); // room for 50
    EXPECT_EQ(m->getCurrentPointer(50), nullptr);
    ASSERT_TRUE(m->makeMove(stone(0, 0, P1)));
    EXPECT_EQ(m->pushState(), 1); // player 2, move 1, build
    ASSERT_TRUE(m->makeMove(stone(0, 2, P2)));
    EXPECT_EQ(m->pushState(), 2); // player 3, move 2, build
    ASSERT_TRUE(m->makeMove(stone(0, 4, P3)));
    ASSERT_TRUE(m->is_final());
    EXPECT_EQ(m->get_movenumber(), 3u);

    EXPECT_FALSE(m->popN(0, true));
    EXPECT_FALSE(m->popN(4, true));
    EXPECT_TRUE(m->popN(2, true));
    EXPECT_EQ(m->getCurrentPlayer(), P2);
    EXPECT_EQ(m->get_movenumber(), 1u);
    EXPECT_FALSE(m->is_final());
    EXPECT_FALSE(m->is_terminal());
    EXPECT_EQ(m->getCurrentIndex(), 1);
    EXPECT_EQ(m.cell(0, 4), kStone3); // the board is not part of the snapshot

    m->turn_inc(); // nobody can place or bomb any more
    ASSERT_TRUE(m->is_final());
    EXPECT_EQ(m->getCurrentPlayer(), P3);
    EXPECT_EQ(m->pushState(), 1);
    EXPECT_TRUE(m->popState(false)); // drops without restoring
    EXPECT_EQ(m->getCurrentPlayer(), P3);
    EXPECT_TRUE(m->is_final());
    EXPECT_TRUE(m->popState(true));
    EXPECT_EQ(m->getCurrentIndex(), 0);
    EXPECT_EQ(m->getCurrentPlayer(), P1);
    EXPECT_EQ(m->get_movenumber(), 0u);
    EXPECT_FALSE(m->is_final());
    EXPECT_FALSE(m->is_terminal());
}

TEST(GameTexts, ValueTexts) {
    const auto text = [](const auto& value) {
        std::ostringstream os;
        os << value;
        return os.str();
    };
    EXPECT_EQ(text(Move(3, 4, MoveChoice::BOMB, P2, false)), "Player 2 (x,y)=(3,4) choice: 20");
    EXPECT_EQ(text(Move(0, 0, MoveChoice::NONE, P1, true)), "Player 1 (x,y)=(0,0)");
    EXPECT_EQ(text(Move(49, 12, kChoose2, Player::P8, false)), "Player 8 (x,y)=(49,12) choice: 2");
    EXPECT_EQ(text(MoveChoice::OVERRIDE), "21");
    EXPECT_EQ(text(Player::P_INVALID), "0");
    EXPECT_EQ(text(GamePhase::BUILD), "build");
    EXPECT_EQ(text(GamePhase::TERMINAL), "terminal");
    EXPECT_EQ(text(GamePhase::FINAL), "final");
    EXPECT_EQ(text(static_cast<GamePhase>(3)), "unknown");
}
