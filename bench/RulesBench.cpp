// Speed of the board rules: legality scans, captures, bombs and a move-tree count.

#include "GameBoard.h"
#include "Map.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr unsigned SIDE = 50;

// 50 x 50, eight players, stones of players 1 to 7 scattered over about half the cells, some
// holes, and every row's ends joined into a ring. Player 8 has no stone and thus no move.
std::string scatteredMap() {
    std::string text = "8 0\n0 0\n50 50\n";
    uint32_t seed = 12345;
    for (unsigned y = 0; y < SIDE; ++y) {
        for (unsigned x = 0; x < SIDE; ++x) {
            seed = seed * 1103515245u + 12345u;
            const unsigned r = (seed >> 16) % 16;
            const char token = r < 7 ? static_cast<char>('1' + r) : (r == 7 ? '-' : '0');
            text += token;
            text += x + 1 < SIDE ? ' ' : '\n';
        }
    }
    for (unsigned y = 0; y < SIDE; ++y) {
        text += "49 " + std::to_string(y) + " 2 <-> 0 " + std::to_string(y) + " 6\n";
    }
    return text;
}

// 50 x 50, empty but for eight rays of 20 foreign stones around the centre, each closed by a
// stone of player 1: the centre move turns 160 stones.
std::string raysMap() {
    char grid[SIDE][SIDE];
    for (auto& row : grid) {
        for (char& c : row) {
            c = '0';
        }
    }
    const int centre = 25;
    const int dx[] = {0, 1, 1, 1, 0, -1, -1, -1};
    const int dy[] = {-1, -1, 0, 1, 1, 1, 0, -1};
    for (int d = 0; d < 8; ++d) {
        for (int k = 1; k <= 21; ++k) {
            grid[centre + dy[d] * k][centre + dx[d] * k] = k <= 20 ? '2' : '1';
        }
    }
    std::string text = "2 0\n0 0\n50 50\n";
    for (const auto& row : grid) {
        for (unsigned x = 0; x < SIDE; ++x) {
            text += row[x];
            text += x + 1 < SIDE ? ' ' : '\n';
        }
    }
    return text;
}

// 50 x 50 full of stones, strength-3 bombs.
std::string bombMap() {
    std::string text = "2 0\n255 3\n50 50\n";
    for (unsigned y = 0; y < SIDE; ++y) {
        for (unsigned x = 0; x < SIDE; ++x) {
            text += (x + y) % 2 ? '1' : '2';
            text += x + 1 < SIDE ? ' ' : '\n';
        }
    }
    return text;
}

const char* const CLASSIC_START = "2 0\n0 0\n8 8\n"
                                  "0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n"
                                  "0 0 0 2 1 0 0 0\n0 0 0 1 2 0 0 0\n"
                                  "0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n";

const Map& loaded(const std::string& text) {
    // Each map text is loaded once and kept for the whole run.
    auto* map = new Map;
    if (!map->loadFromString(text)) {
        std::abort();
    }
    return *map;
}

const Map& scattered() {
    static const Map& map = loaded(scatteredMap());
    return map;
}

void BM_MovePossibleFirstHit(benchmark::State& state) {
    GameBoard gb(scattered());
    for (auto _ : state) {
        benchmark::DoNotOptimize(gb.move_possible(Player::P1));
    }
}
BENCHMARK(BM_MovePossibleFirstHit);

void BM_MovePossibleNoMove(benchmark::State& state) {
    GameBoard gb(scattered());
    for (auto _ : state) {
        benchmark::DoNotOptimize(gb.move_possible(Player::P8));
    }
}
BENCHMARK(BM_MovePossibleNoMove);

// The scan the console does to mark every legal cell of a player.
void BM_LegalCellScan(benchmark::State& state) {
    GameBoard gb(scattered());
    unsigned legal = 0;
    for (auto _ : state) {
        legal = 0;
        for (uint32_t i = 0; i < gb.getBoardSize(); ++i) {
            legal += gb.makeMove(Player::P1, static_cast<index_t>(i), MoveChoice::NONE, false);
        }
        benchmark::DoNotOptimize(legal);
    }
    state.counters["legal"] = legal;
    state.counters["cells/s"] = benchmark::Counter(double(state.iterations()) * gb.getBoardSize(),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LegalCellScan);

// The same cells found in one pass, as the console and the reference client find them.
void BM_LegalCells(benchmark::State& state) {
    GameBoard gb(scattered());
    std::vector<uint8_t> marks;
    size_t legal = 0;
    for (auto _ : state) {
        legal = gb.legalCells(Player::P1, marks);
        benchmark::DoNotOptimize(legal);
    }
    state.counters["legal"] = static_cast<double>(legal);
}
BENCHMARK(BM_LegalCells);

void BM_BoardCopy(benchmark::State& state) {
    const GameBoard gb(scattered());
    for (auto _ : state) {
        GameBoard copy(gb);
        benchmark::DoNotOptimize(copy.get_square(0));
    }
}
BENCHMARK(BM_BoardCopy);

void BM_CaptureHeavyMove(benchmark::State& state) {
    static const Map& map = loaded(raysMap());
    const GameBoard start(map);
    const index_t centre = start.coords2index(25, 25);
    for (auto _ : state) {
        GameBoard gb(start);
        if (!gb.makeMove(Player::P1, centre, MoveChoice::NONE, true)) {
            state.SkipWithError("centre move refused");
        }
        benchmark::DoNotOptimize(gb.get_square(centre));
    }
}
BENCHMARK(BM_CaptureHeavyMove);

void BM_BombStrength3(benchmark::State& state) {
    static const Map& map = loaded(bombMap());
    const GameBoard start(map);
    const index_t centre = start.coords2index(25, 25);
    for (auto _ : state) {
        GameBoard gb(start);
        gb.throwBomb(Player::P1, centre, true);
        benchmark::DoNotOptimize(gb.get_square(centre));
    }
}
BENCHMARK(BM_BombStrength3);

// One ply of the move tree: the legal cells of the mover and the record to take a move back.
struct Ply {
    std::vector<uint8_t> legal;
    GameBoard::MoveUndo undo;
};

// Moves are made and taken back on one board down to depth 1, where the legal cells are
// counted without being played.
uint64_t perft(GameBoard& gb, Player mover, unsigned depth, std::vector<Ply>& plies) {
    Ply& ply = plies[depth];
    const size_t legal = gb.legalCells(mover, ply.legal);
    if (depth == 1) {
        return legal;
    }
    uint64_t leaves = 0;
    for (uint32_t i = 0; i < gb.getBoardSize(); ++i) {
        if (ply.legal[i] == 0) {
            continue;
        }
        gb.playMove(mover, static_cast<index_t>(i), MoveChoice::NONE, ply.undo);
        leaves += perft(gb, incrementPlayer(mover, 2), depth - 1, plies);
        gb.undoMove(ply.undo);
    }
    return leaves;
}

void BM_Perft(benchmark::State& state) {
    static const Map& map = loaded(CLASSIC_START);
    GameBoard start(map);
    const unsigned depth = static_cast<unsigned>(state.range(0));
    uint64_t leaves = 0;
    std::vector<Ply> plies(depth + 1);
    for (auto _ : state) {
        leaves = perft(start, Player::P1, depth, plies);
        benchmark::DoNotOptimize(leaves);
    }
    state.counters["leaves"] = static_cast<double>(leaves);
    state.counters["leaves/s"] =
        benchmark::Counter(double(state.iterations()) * leaves, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Perft)->Arg(5)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond);

// The same count with a plain bitboard engine for the classic 8 x 8 game: one 64-bit word per
// player (bit y * 8 + x), moves found by shifting the mover's stones over the opponent's in all
// eight directions, captures by walking the directions from the new stone. The tree is the same:
// moves are made down to the leaves (the textbook count, argument bulk 0), or, as the rules
// engine's count does, down to depth 1, where the legal moves are counted (bulk 1).
namespace bitboard {

constexpr uint64_t NOT_WEST_EDGE = 0xfefefefefefefefeULL; // every column but x = 0
constexpr uint64_t NOT_EAST_EDGE = 0x7f7f7f7f7f7f7f7fULL; // every column but x = 7

uint64_t shift(uint64_t b, unsigned d) {
    switch (d) {
    case 0:
        return b >> 8; // N
    case 1:
        return (b >> 7) & NOT_WEST_EDGE; // NE
    case 2:
        return (b << 1) & NOT_WEST_EDGE; // E
    case 3:
        return (b << 9) & NOT_WEST_EDGE; // SE
    case 4:
        return b << 8; // S
    case 5:
        return (b << 7) & NOT_EAST_EDGE; // SW
    case 6:
        return (b >> 1) & NOT_EAST_EDGE; // W
    default:
        return (b >> 9) & NOT_EAST_EDGE; // NW
    }
}

uint64_t legalMoves(uint64_t own, uint64_t other) {
    const uint64_t empty = ~(own | other);
    uint64_t moves = 0;
    for (unsigned d = 0; d < 8; ++d) {
        uint64_t run = shift(own, d) & other;
        for (int k = 0; k < 5; ++k) {
            run |= shift(run, d) & other;
        }
        moves |= shift(run, d) & empty;
    }
    return moves;
}

uint64_t captures(uint64_t own, uint64_t other, uint64_t move) {
    uint64_t turned = 0;
    for (unsigned d = 0; d < 8; ++d) {
        uint64_t line = 0;
        uint64_t cell = shift(move, d);
        while (cell & other) {
            line |= cell;
            cell = shift(cell, d);
        }
        if (cell & own) {
            turned |= line;
        }
    }
    return turned;
}

uint64_t perft(uint64_t own, uint64_t other, unsigned depth, bool bulk) {
    if (depth == 0) {
        return 1;
    }
    uint64_t moves = legalMoves(own, other);
    if (bulk && depth == 1) {
        return static_cast<uint64_t>(__builtin_popcountll(moves));
    }
    uint64_t leaves = 0;
    while (moves != 0) {
        const uint64_t move = moves & (~moves + 1);
        moves ^= move;
        const uint64_t turned = captures(own, other, move);
        leaves += perft(other & ~turned, own | turned | move, depth - 1, bulk);
    }
    return leaves;
}

} // namespace bitboard

void BM_PerftBitboard(benchmark::State& state) {
    // The classic start: player 1 on (4, 3) and (3, 4), player 2 on (3, 3) and (4, 4).
    const uint64_t first = (1ULL << (3 * 8 + 4)) | (1ULL << (4 * 8 + 3));
    const uint64_t second = (1ULL << (3 * 8 + 3)) | (1ULL << (4 * 8 + 4));
    const unsigned depth = static_cast<unsigned>(state.range(0));
    const bool bulk = state.range(1) != 0;
    uint64_t leaves = 0;
    for (auto _ : state) {
        leaves = bitboard::perft(first, second, depth, bulk);
        benchmark::DoNotOptimize(leaves);
    }
    state.counters["leaves"] = static_cast<double>(leaves);
    state.counters["leaves/s"] =
        benchmark::Counter(double(state.iterations()) * leaves, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PerftBitboard)
    ->ArgNames({"depth", "bulk"})
    ->ArgsProduct({{5, 6, 7}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
