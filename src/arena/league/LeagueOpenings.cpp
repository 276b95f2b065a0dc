#include "LeagueOpenings.h"

#include "Game.h"
#include "Map.h"
#include "Move.h"

#include <random>
#include <sstream>
#include <vector>

namespace {

/// The current player's legal moves onto empty cells: such a move spends no override stone or
/// bomb and lands on no special cell, so the position stays one a map can give.
std::vector<Move> plainMoves(Game& game) {
    std::vector<Move> out;
    const GameBoard& board = game.getBoard();
    Move move;
    while (game.calcNextMove(move, false)) {
        if (!move.terminal && move.choice == MoveChoice::NONE &&
            board.get_square(board.coords2index(move.x, move.y)) == Square::EMPTY) {
            out.push_back(move);
        }
    }
    return out;
}

/// The map's text with its grid replaced by the board's, stones renumbered so that `first`
/// becomes player 1 (then first + 1 becomes 2, and so on round the table).
std::string mapText(const std::string& original, const Game& game, unsigned first) {
    std::istringstream in(original);
    std::ostringstream out;
    std::string line;
    for (int header = 0; header < 4 && std::getline(in, line); ++header) {
        out << line << '\n';
    }
    const GameBoard& board = game.getBoard();
    const unsigned n = game.getNrPlayers();
    for (uint16_t y = 0; y < board.getHeight(); ++y) {
        std::getline(in, line);
        for (uint16_t x = 0; x < board.getWidth(); ++x) {
            Square s = board.get_square(board.coords2index(x, y));
            if (isColour(s)) {
                const unsigned player = static_cast<unsigned>(s);
                s = static_cast<Square>((player + n - first) % n + 1);
            }
            out << (x ? " " : "") << s;
        }
        out << '\n';
    }
    out << in.rdbuf();
    return out.str();
}

} // namespace

bool LeagueOpenings::derive(const std::string& text, unsigned plies, std::uint64_t seed,
                            std::string& out) {
    Map map;
    if (!map.loadFromString(text)) {
        return false;
    }
    Game game(map, false);
    std::mt19937_64 random(seed);
    for (unsigned ply = 0; ply < plies; ++ply) {
        if (game.is_final() || game.is_terminal()) {
            return false;
        }
        const std::vector<Move> moves = plainMoves(game);
        if (moves.empty()) {
            return false;
        }
        const Move chosen =
            moves[std::uniform_int_distribution<size_t>(0, moves.size() - 1)(random)];
        if (!game.makeMove(chosen)) {
            return false;
        }
    }
    if (game.is_final() || game.is_terminal()) {
        return false;
    }
    out = mapText(text, game, static_cast<unsigned>(game.getCurrentPlayer()));
    Map check;
    return check.loadFromString(out);
}
