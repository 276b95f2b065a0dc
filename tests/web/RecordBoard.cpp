// Replays a match record on the game model (the arena's Replay) and prints the board after the
// given numbers of moves, one line per row of map characters, for the browser tests to compare
// the page with, and how many cells the player in turn may play in the building phase. Usage:
// record_board RECORD N... ; a move the model refuses gives status 1.

#include "MatchRecord.h"
#include "RecordsFolder.h"
#include "Replay.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kChoiceBomb = 20;

// The cells where the player in turn may place a stone, each counted once whatever its choices.
unsigned legalCells(const Replay& replay, const std::vector<std::string>& rows) {
    unsigned count = 0;
    for (size_t y = 0; y < rows.size(); ++y) {
        std::istringstream row(rows[y]);
        std::string token;
        for (uint16_t x = 0; row >> token; ++x) {
            const unsigned player = replay.currentPlayer();
            const uint8_t choice = token == "c"   ? static_cast<uint8_t>(player)
                                   : token == "b" ? kChoiceBomb
                                                  : 0;
            count += replay.fault(x, static_cast<uint16_t>(y), choice, player).empty() ? 1 : 0;
        }
    }
    return count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: record_board RECORD N...\n";
        return 1;
    }
    const std::filesystem::path path(argv[1]);
    MatchRecord record;
    std::string error;
    if (!RecordsFolder(path.parent_path().string()).read(path.filename().string(), record, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::vector<unsigned> wanted;
    for (int k = 2; k < argc; ++k) {
        wanted.push_back(static_cast<unsigned>(std::stoul(argv[k])));
    }
    Replay replay;
    if (!replay.start(record.map.text, error)) {
        std::cerr << argv[1] << ": " << error << "\n";
        return 1;
    }
    const std::vector<RecordMove>& moves = record.moves;
    const unsigned last = *std::max_element(wanted.begin(), wanted.end());
    std::vector<CellChange> changes;
    for (unsigned n = 0;; ++n) {
        if (std::find(wanted.begin(), wanted.end(), n) != wanted.end()) {
            std::cout << "move " << n << "\n";
            const std::vector<std::string> rows = replay.cells();
            for (const std::string& row : rows) {
                std::cout << row << "\n";
            }
            if (replay.phase() == "build") {
                std::cout << "legal " << replay.currentPlayer() << " " << legalCells(replay, rows)
                          << "\n";
            }
        }
        if (n == last || n >= moves.size()) {
            break;
        }
        for (const RecordDisqualification& d : record.disqualifications) {
            if (d.atMove == n) {
                replay.disqualify(d.seat);
            }
        }
        const RecordMove& m = moves[n];
        if (!replay.play(m.x, m.y, m.choice, m.seat, changes)) {
            std::cerr << argv[1] << ": the model refuses move " << n + 1 << "\n";
            return 1;
        }
    }
    return 0;
}
