// Writes openings for matches between searching clients: copies of a map whose starting
// position is the map's own after a few random legal moves, with player 1 to move again, so
// that deterministic clients play different games. Usage:
//   write_openings <map file> <plies> <count> <seed> <output prefix>
// writes <prefix>1.map to <prefix><count>.map, every one a different position.

#include "Game.h"
#include "Map.h"
#include "Position.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

/// The map text with the position's cells as starting stones (by owner), stocks as the map
/// gives them: the openings use no special squares.
std::string mapText(const Map& map, const Position& position) {
    const GameBoard& board = position.board();
    std::ostringstream os;
    os << map.getPlayers() << "\n"
       << map.getOverrides() << "\n"
       << map.getBombs() << " " << map.getBombStrength() << "\n"
       << map.getHeight() << " " << map.getWidth() << "\n";
    for (map_axis y = 0; y < map.getHeight(); ++y) {
        for (map_axis x = 0; x < map.getWidth(); ++x) {
            Square s = board.get_square(
                board.coords2index(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
            if (isColour(s)) {
                s = static_cast<Square>(board.btop(s));
            }
            os << (x != 0 ? " " : "") << s;
        }
        os << "\n";
    }
    for (const Transition& t : map.getTransitions()) {
        os << t << "\n";
    }
    return os.str();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "Usage: write_openings <map file> <plies> <count> <seed> <output prefix>\n";
        return 1;
    }
    Map map;
    if (!map.loadFromFile(argv[1])) {
        std::cerr << "write_openings: cannot load the map " << argv[1] << "\n";
        return 1;
    }
    const unsigned plies = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    const unsigned count = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    std::mt19937 random(static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
    const std::string prefix = argv[5];

    std::set<std::string> written;
    unsigned attempts = 0;
    while (written.size() < count) {
        if (++attempts > 1000 * (count + 1)) {
            std::cerr << "write_openings: found only " << written.size() << " different openings\n";
            return 1;
        }
        const Game game(map, true);
        Position position(game, game.getCurrentPlayer());
        std::vector<Candidate> moves;
        bool ok = true;
        for (unsigned k = 0; k < plies && ok; ++k) {
            position.legalMoves(moves);
            ok = position.phase() == GamePhase::BUILD && !moves.empty() &&
                 position.play(moves[random() % moves.size()]);
        }
        position.legalMoves(moves);
        // The match starts with player 1, so the opening must hand the move back to it.
        if (!ok || position.phase() != GamePhase::BUILD || position.toMove() != Player::P1 ||
            moves.empty()) {
            continue;
        }
        const std::string text = mapText(map, position);
        if (!written.insert(text).second) {
            continue;
        }
        const std::string name = prefix + std::to_string(written.size()) + ".map";
        std::ofstream out(name);
        if (!(out << text)) {
            std::cerr << "write_openings: cannot write " << name << "\n";
            return 1;
        }
    }
    return 0;
}
