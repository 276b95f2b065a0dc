#pragma once
// Hash keys of search positions, so that a position reached by different move orders is
// recognised and positions that play differently are told apart.

#include "Position.h"

#include <cstdint>
#include <vector>

class PositionKey {
public:
    /// Keys for boards of `boardSize` cells and up to eight players; the same size always gives
    /// the same keys.
    explicit PositionKey(uint32_t boardSize = 0);

    uint32_t boardSize() const { return m_boardSize; }
    /// The key of a position of a board of this size: every cell by its owner rather than its
    /// colour, the player to move, the phase, every player's bombs and override stones, and who
    /// is disqualified.
    uint64_t of(const Position& position) const;
    /// A fingerprint of the board's geometry (size, players and step table), to tell one map from
    /// another of the same size.
    static uint64_t geometry(const GameBoard& board);

private:
    /// Kinds of cell content: empty, a stone of player 1 to 8, the four special squares, a hole.
    static constexpr unsigned KINDS = 14;

    uint32_t m_boardSize;
    /// One random word per cell and kind of content.
    std::vector<uint64_t> m_cells;
};
