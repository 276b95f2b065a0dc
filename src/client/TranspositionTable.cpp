#include "TranspositionTable.h"

#include <algorithm>

TranspositionTable::TranspositionTable(unsigned bits)
    : m_entries(size_t{1} << bits), m_mask((uint64_t{1} << bits) - 1) {}

const TranspositionTable::Entry* TranspositionTable::probe(uint64_t key) const {
    const Entry& entry = m_entries[key & m_mask];
    return entry.used && entry.key == key ? &entry : nullptr;
}

void TranspositionTable::store(uint64_t key, unsigned depth, int value, Bound bound,
                               const Candidate& best, bool complete) {
    Entry& entry = m_entries[key & m_mask];
    if (entry.used && entry.generation == m_generation && entry.key != key && entry.depth > depth) {
        return;
    }
    entry.key = key;
    entry.value = value;
    entry.best = best;
    entry.depth = static_cast<uint8_t>(std::min(depth, 255u));
    entry.bound = bound;
    entry.generation = m_generation;
    entry.complete = complete;
    entry.used = true;
}

void TranspositionTable::clear() {
    std::fill(m_entries.begin(), m_entries.end(), Entry{});
}
