// Writes a match record of random legal moves on a map, played on the game model alone (no
// server, no clients), so that the match page can be measured on matches of any length.
// Usage: write_match_record MAP SEED [MAX_MOVES] > record.json

#include "Game.h"
#include "Map.h"
#include "Move.h"
#include "Replay.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<Move> legalMoves(Game& game) {
    std::vector<Move> moves;
    Move move;
    while (game.calcNextMove(move, false)) {
        moves.push_back(move);
    }
    return moves;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: write_match_record MAP SEED [MAX_MOVES]\n";
        return 1;
    }
    Map map;
    if (!map.loadFromFile(argv[1])) {
        std::cerr << "cannot read the map " << argv[1] << "\n";
        return 1;
    }
    std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    const unsigned long maxMoves = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100000;
    std::ostringstream mapText;
    mapText << map;

    // The game enumerates the legal moves; the replay gives the changed cells as the arena's
    // records name them.
    Game game(map, false);
    Replay replay;
    std::string error;
    replay.start(mapText.str(), error);
    nlohmann::json moves = nlohmann::json::array();
    std::vector<CellChange> changed;
    while (!game.is_final() && moves.size() < maxMoves) {
        std::vector<Move> legal = legalMoves(game);
        if (legal.empty()) {
            break;
        }
        const Move move = legal[random() % legal.size()];
        const bool terminal = game.is_terminal();
        game.makeMove(move);
        replay.play(move.x, move.y, static_cast<uint8_t>(move.choice),
                    static_cast<unsigned>(move.player), changed);
        nlohmann::json changes = nlohmann::json::array();
        for (const CellChange& c : changed) {
            changes.push_back({c.x, c.y, c.token});
        }
        const unsigned used = random() % 50;
        moves.push_back({{"n", moves.size()},
                         {"seat", static_cast<unsigned>(move.player)},
                         {"x", move.x},
                         {"y", move.y},
                         {"choice", static_cast<unsigned>(move.choice)},
                         {"phase", terminal ? "bomb" : "build"},
                         {"time_ms", used},
                         {"left_ms", 1000 - used},
                         {"changes", changes}});
    }

    std::vector<int> scores(game.getNrPlayers());
    game.get_scores(scores.data());
    nlohmann::json seats = nlohmann::json::array();
    for (unsigned p = 1; p <= game.getNrPlayers(); ++p) {
        seats.push_back({{"seat", p},
                         {"bot", "random" + std::to_string(p)},
                         {"command", "random"},
                         {"group", p},
                         {"untimed", false}});
    }
    std::vector<int> ranks;
    for (int s : scores) {
        int rank = 1;
        for (int t : scores) {
            rank += t > s ? 1 : 0;
        }
        ranks.push_back(rank);
    }
    nlohmann::json record = {{"format", "reversi-match-1"},
                             {"id", "synthetic"},
                             {"started", "2026-01-01T00:00:00Z"},
                             {"duration_s", 0},
                             {"map", {{"file", argv[1]}, {"text", mapText.str()}}},
                             {"limits", {{"time_ms", 1000}, {"depth", 0}}},
                             {"seats", seats},
                             {"moves", moves},
                             {"disqualifications", nlohmann::json::array()},
                             {"result",
                              {{"end", game.is_final() ? "final" : "aborted"},
                               {"scores", scores},
                               {"ranks", ranks},
                               {"server_exit", 0}}},
                             {"consistent", true}};
    std::cout << record.dump() << "\n";
    return 0;
}
