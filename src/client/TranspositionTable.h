#pragma once
// A fixed-size table of searched positions: their value, how deep they were searched and the
// best move found, found again by the position's key.

#include "Position.h"

#include <cstdint>
#include <vector>

class TranspositionTable {
public:
    /// What a stored value says about the position's true value.
    enum class Bound : uint8_t { EXACT, LOWER, UPPER };

    struct Entry {
        uint64_t key = 0;
        int32_t value = 0;
        /// The best move found, or one with INVALID_INDEX.
        Candidate best;
        /// Plies searched below the position.
        uint8_t depth = 0;
        Bound bound = Bound::EXACT;
        uint8_t generation = 0;
        /// The search below reached the end of the game on every line: deeper search changes
        /// nothing.
        bool complete = false;
        bool used = false;
    };

    /// A table of 2^bits entries.
    explicit TranspositionTable(unsigned bits);

    /// The entry stored for the key, or null.
    const Entry* probe(uint64_t key) const;
    /// Stores a result; an entry of the present search that was searched deeper is kept.
    void store(uint64_t key, unsigned depth, int value, Bound bound, const Candidate& best,
               bool complete);
    /// Starts a new search: the entries stay but give way to new ones.
    void nextGeneration() { ++m_generation; }
    /// Forgets every entry.
    void clear();

private:
    std::vector<Entry> m_entries;
    uint64_t m_mask;
    uint8_t m_generation = 0;
};
