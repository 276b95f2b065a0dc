#include "PositionKey.h"

namespace {

/// A well-mixed 64-bit word from any 64-bit input (SplitMix64).
uint64_t mix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Tags that keep the words of the non-cell parts of a key apart from each other.
constexpr uint64_t TAG_TO_MOVE = 1ULL << 40;
constexpr uint64_t TAG_PHASE = 2ULL << 40;
constexpr uint64_t TAG_BOMBS = 3ULL << 40;
constexpr uint64_t TAG_OVERRIDES = 4ULL << 40;
constexpr uint64_t TAG_GEOMETRY = 5ULL << 40;
constexpr uint64_t TAG_DISQUALIFIED = 6ULL << 40;

} // namespace

PositionKey::PositionKey(uint32_t boardSize)
    : m_boardSize(boardSize), m_cells(size_t{boardSize} * KINDS) {
    for (size_t k = 0; k < m_cells.size(); ++k) {
        m_cells[k] = mix(k);
    }
}

uint64_t PositionKey::of(const Position& position) const {
    const GameBoard& board = position.board();
    uint64_t key = 0;
    for (uint32_t i = 0; i < m_boardSize; ++i) {
        const Square s = board.get_square(static_cast<index_t>(i));
        unsigned kind = 0;
        if (isColour(s)) {
            // Colours change hands on inversion and choice squares; what plays is the owner.
            kind = static_cast<unsigned>(board.btop(s));
        } else if (s == Square::NONE) {
            kind = KINDS - 1;
        } else {
            kind = static_cast<unsigned>(s); // empty, or a special square from 9 to 12
        }
        key ^= m_cells[size_t{i} * KINDS + kind];
    }
    key ^= mix(TAG_TO_MOVE + static_cast<uint64_t>(position.toMove()));
    key ^= mix(TAG_PHASE + static_cast<uint64_t>(position.phase()));
    for (unsigned p = 1; p <= position.nrPlayers(); ++p) {
        const Player player = static_cast<Player>(p);
        key ^= mix(TAG_BOMBS + uint64_t{p} * 256 + board.getBombs(player));
        key ^= mix(TAG_OVERRIDES + uint64_t{p} * 256 + board.getOverrides(player));
        if (board.getDisqualified(player)) {
            // Turns pass over a disqualified player, so the same cells play differently.
            key ^= mix(TAG_DISQUALIFIED + p);
        }
    }
    return key;
}

uint64_t PositionKey::geometry(const GameBoard& board) {
    uint64_t key = mix(TAG_GEOMETRY + uint64_t{board.getBoardSize()} * 16 + board.get_nplayers());
    for (uint32_t i = 0; i < board.getBoardSize(); ++i) {
        for (Direction d : AllDirections) {
            const index_t next = board.get_transition(static_cast<index_t>(i), d);
            key = mix(key ^
                      (static_cast<uint64_t>(next) << 3 |
                       static_cast<uint64_t>(board.get_nextdirection(static_cast<index_t>(i), d))));
        }
    }
    return key;
}
