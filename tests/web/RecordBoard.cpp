// Replays a match record on the game model and prints the board after the given numbers of
// moves, one line per row of map characters, for the browser tests to compare the page with.
// Usage: record_board RECORD N... ; a move the model refuses is reported with status 1.

#include "Game.h"
#include "Map.h"
#include "Move.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

void printBoard(const Game& game, unsigned n) {
    const GameBoard& board = game.getBoard();
    std::cout << "move " << n << "\n";
    for (uint16_t y = 0; y < board.getHeight(); ++y) {
        for (uint16_t x = 0; x < board.getWidth(); ++x) {
            std::cout << (x ? " " : "") << board.get_square(board.coords2index(x, y));
        }
        std::cout << "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: record_board RECORD N...\n";
        return 1;
    }
    std::ifstream in(argv[1]);
    const nlohmann::json record = nlohmann::json::parse(in, nullptr, false);
    if (record.is_discarded()) {
        std::cerr << argv[1] << ": not valid JSON\n";
        return 1;
    }
    std::vector<unsigned> wanted;
    for (int k = 2; k < argc; ++k) {
        wanted.push_back(static_cast<unsigned>(std::stoul(argv[k])));
    }
    Map map;
    if (!map.loadFromString(record["map"]["text"].get<std::string>())) {
        std::cerr << argv[1] << ": the map text is not valid\n";
        return 1;
    }
    Game game(map, false);
    const nlohmann::json& moves = record["moves"];
    const unsigned last = *std::max_element(wanted.begin(), wanted.end());
    for (unsigned n = 0;; ++n) {
        if (std::find(wanted.begin(), wanted.end(), n) != wanted.end()) {
            printBoard(game, n);
        }
        if (n == last || n >= moves.size()) {
            break;
        }
        for (const auto& d : record.value("disqualifications", nlohmann::json::array())) {
            if (d.value("at_move", -1) == static_cast<int>(n)) {
                game.disqualify(static_cast<Player>(d["seat"].get<unsigned>()));
            }
        }
        const nlohmann::json& m = moves[n];
        const Move move(m["x"].get<uint16_t>(), m["y"].get<uint16_t>(),
                        static_cast<MoveChoice>(m.value("choice", 0)),
                        static_cast<Player>(m["seat"].get<unsigned>()), game.is_terminal());
        if (!game.makeMove(move)) {
            std::cerr << argv[1] << ": the model refuses move " << n + 1 << "\n";
            return 1;
        }
    }
    return 0;
}
