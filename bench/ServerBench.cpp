// The server's own work per move on a 50 x 50 map with eight players: from a received answer
// to the announcements sent, without the client's thinking time and without the fixed pause
// after a broadcast. The game loop's steps are run in its order on the real classes: the log
// lines of one pass (board with the legal cells marked, request, answer, board text), the move
// check, the move, and one announcement to each of eight loopback peers.

#include "BenchSupport.h"

#include "GameBoard.h"
#include "Logging.h"
#include "colors.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <memory>

namespace {

using Logging::loggerConsole;
using Logging::loggerMatchpoint;
using Logging::loggerServer;

const Map& largeMap() {
    static const std::unique_ptr<Map> map = [] {
        auto loaded = std::make_unique<Map>();
        loaded->loadFromString(bench::largeEightPlayerMap());
        return loaded;
    }();
    return *map;
}

const std::vector<Move>& largeGame() {
    static const std::vector<Move> moves = bench::recordGame(largeMap());
    return moves;
}

// Replays the recorded game, starting a new one when it is over.
class Replay {
public:
    explicit Replay(benchmark::State& state) : m_state(state) { restart(); }

    Game& game() { return *m_game; }
    const Move& next() {
        if (m_next == largeGame().size()) {
            m_state.PauseTiming();
            restart();
            m_state.ResumeTiming();
        }
        return largeGame()[m_next++];
    }

private:
    void restart() {
        m_game = std::make_unique<Game>(largeMap(), false);
        m_next = 0;
    }

    benchmark::State& m_state;
    std::unique_ptr<Game> m_game;
    size_t m_next = 0;
};

// Points standard output at /dev/null while it lives, so that the log lines cost what they
// cost in the server (formatting, one write per entry) without filling the terminal.
class DiscardedOutput {
public:
    DiscardedOutput() {
        static const bool loggingReady = Logging::setupLogging("");
        (void)loggingReady;
        std::cout.flush();
        m_saved = ::dup(STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~DiscardedOutput() {
        std::cout.flush();
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }
    DiscardedOutput(const DiscardedOutput&) = delete;
    DiscardedOutput& operator=(const DiscardedOutput&) = delete;

private:
    int m_saved = -1;
};

void applyChecked(Game& game, const Move& move) {
    if (!game.checkMove(move, true) || !game.makeMove(move)) {
        std::abort();
    }
}

void BM_MoveCheckAndApply(benchmark::State& state) {
    Replay replay(state);
    for (auto _ : state) {
        const Move& move = replay.next();
        applyChecked(replay.game(), move);
    }
    state.counters["moves per game"] = static_cast<double>(largeGame().size());
}
BENCHMARK(BM_MoveCheckAndApply);

// The two board texts of a pass, on the board halfway through the game.
void BM_BoardTexts(benchmark::State& state) {
    Game game(largeMap(), false);
    for (size_t i = 0; i < largeGame().size() / 2; ++i) {
        applyChecked(game, largeGame()[i]);
    }
    ansi::enableColor = state.range(0) != 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(game.getBoard().asString(game.getCurrentPlayer(), true, true));
        benchmark::DoNotOptimize(game.getBoard().asSimpleString());
    }
    ansi::enableColor = false;
}
BENCHMARK(BM_BoardTexts)->ArgName("colour")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_AnnounceToEightPeers(benchmark::State& state) {
    bench::DrainedPeers peers(8);
    for (auto _ : state) {
        for (unsigned i = 0; i < peers.size(); ++i) {
            if (!peers.endpoint(i).send_moveannounce(3, 10, MoveChoice::NONE, Player::P2)) {
                std::abort();
            }
        }
    }
}
BENCHMARK(BM_AnnounceToEightPeers)->Unit(benchmark::kMicrosecond);

// One pass of the game loop after the answer came in, logging as the server does.
void BM_ServerWorkPerMove(benchmark::State& state) {
    const bool logging = state.range(0) != 0;
    DiscardedOutput discarded;
    const lumber::LogPtr root = lumber::Logger::getRootLogger();
    root->setLevel(logging ? lumber::INFO : lumber::WARN);
    bench::DrainedPeers peers(8);
    Replay replay(state);
    const uint32_t msecsLeft = 1000;
    for (auto _ : state) {
        // The next move first: it may start a new game.
        const Move& move = replay.next();
        Game& game = replay.game();
        const Player p = game.getCurrentPlayer();
        LOG(loggerConsole, lumber::INFO) << "Current board:\n"
                                         << game.getBoard().asString(p, true, true);
        LOG(loggerServer, lumber::INFO)
            << "Player " << p << " has " << static_cast<unsigned>(game.getBoard().getOverrides(p))
            << " overrides and " << static_cast<unsigned>(game.getBoard().getBombs(p)) << " bombs";
        LOG(loggerServer, lumber::INFO) << "Sending move request to player " << p
                                        << " with depth 0, time left: " << msecsLeft << " msecs.";
        LOG(loggerMatchpoint, lumber::INFO)
            << "Sending move request to player " << p << " with depth 0, time left: " << msecsLeft
            << " msecs.\n";
        LOG(loggerServer, lumber::INFO) << "Received move " << game.get_movenumber() << ": " << move
                                        << ". time left: " << msecsLeft << "msecs";
        LOG(loggerMatchpoint, lumber::INFO)
            << "Answer from player " << p << " for move " << game.get_movenumber()
            << " was (x,y,c) = (" << move.x << "," << move.y << "," << move.choice
            << "); time left: " << msecsLeft << "msecs.\n";
        applyChecked(game, move);
        for (const Player q : game.getValidPlayers()) {
            const unsigned peer = static_cast<unsigned>(q) - 1;
            if (!peers.endpoint(peer).send_moveannounce(move.x, move.y, move.choice, move.player)) {
                std::abort();
            }
        }
        LOG(loggerMatchpoint, lumber::INFO) << "Board\n";
        LOG(loggerMatchpoint, lumber::INFO) << game.getBoard().asSimpleString();
    }
    root->setLevel(lumber::WARN);
}
BENCHMARK(BM_ServerWorkPerMove)->ArgName("logging")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
