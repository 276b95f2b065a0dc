// The game model's side of the Python rules test: plays a random game on a map and prints,
// for every position, the player in turn, the phase, the board, the stocks, every legal move
// with the board it leads to, and the move played (or a player disqualified), sometimes followed
// by a player dropped right after the move.
//
// Usage: rules_oracle MAPFILE SEED MAXPLIES

#include "Game.h"
#include "GameBoard.h"
#include "Map.h"
#include "Move.h"

#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

// One disqualification in this many positions, while more than two players are left.
constexpr unsigned DISQUALIFY_ONE_IN = 25;

const char* phaseName(const Game& game) {
    if (game.is_final()) {
        return "final";
    }
    return game.is_terminal() ? "bombing" : "build";
}

void printBoard(const GameBoard& board, unsigned players) {
    std::cout << board.asSimpleString() << "stock";
    for (unsigned p = 1; p <= players; ++p) {
        const auto player = static_cast<Player>(p);
        std::cout << ' ' << unsigned{board.getBombs(player)} << ' '
                  << unsigned{board.getOverrides(player)};
    }
    std::cout << '\n';
}

void printMove(const char* word, const Move& move) {
    std::cout << word << ' ' << move.x << ' ' << move.y << ' ' << static_cast<unsigned>(move.choice)
              << '\n';
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: rules_oracle MAPFILE SEED MAXPLIES\n";
        return 1;
    }
    Map map;
    if (!map.loadFromFile(argv[1])) {
        std::cerr << "rules_oracle: the map " << argv[1] << " is not valid\n";
        return 1;
    }
    std::mt19937 random(static_cast<std::mt19937::result_type>(std::stoul(argv[2])));
    const unsigned long maxPlies = std::stoul(argv[3]);
    const unsigned players = map.getPlayers();
    Game game(map, false);

    for (unsigned long ply = 0; ply < maxPlies && !game.is_final(); ++ply) {
        const Player current = game.getCurrentPlayer();
        std::cout << "position " << current << ' ' << phaseName(game) << '\n';
        printBoard(game.getBoard(), players);

        std::vector<Move> moves;
        for (Move move; game.calcNextMove(move, false);) {
            moves.push_back(move);
        }
        std::cout << "moves " << moves.size() << '\n';
        for (const Move& move : moves) {
            printMove("move", move);
            GameBoard after(game.getBoard());
            const index_t index = after.coords2index(move.x, move.y);
            const bool legal = move.terminal ? after.throwBomb(current, index, true)
                                             : after.makeMove(current, index, move.choice, true);
            if (!legal) {
                std::cerr << "rules_oracle: an enumerated move was refused\n";
                return 1;
            }
            printBoard(after, players);
        }

        if (game.get_valid_players() > 2 && random() % DISQUALIFY_ONE_IN == 0) {
            const std::vector<Player>& valid = game.getValidPlayers();
            const Player out = valid[random() % valid.size()];
            std::cout << "disqualify " << out << '\n';
            game.disqualify(out);
            continue;
        }
        if (moves.empty()) {
            std::cerr << "rules_oracle: the player in turn has no move\n";
            return 1;
        }
        const Move& chosen = moves[random() % moves.size()];
        printMove("played", chosen);
        if (!game.makeMove(chosen)) {
            std::cerr << "rules_oracle: the game refused an enumerated move\n";
            return 1;
        }
        // As the server drops a player its announcement of the move could not reach.
        if (game.get_valid_players() > 2 && random() % DISQUALIFY_ONE_IN == 0) {
            const std::vector<Player>& valid = game.getValidPlayers();
            const Player out = valid[random() % valid.size()];
            std::cout << "dropped " << out << '\n';
            game.disqualify(out);
        }
    }
    std::cout << "position " << game.getCurrentPlayer() << ' ' << phaseName(game) << '\n';
    printBoard(game.getBoard(), players);
    std::cout << "end\n";
    return 0;
}
