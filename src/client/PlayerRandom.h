#pragma once

#include "Types.h"

#include <cstdint>
#include <random>

/// A random generator seeded on first use from the client's seed and the player number, so
/// that two clients given the same seed still play differently, and one seed replays a game.
class PlayerRandom {
public:
    explicit PlayerRandom(uint32_t seed) : m_seed(seed) {}

    /// The generator, seeded for `me` on the first call.
    std::mt19937& forPlayer(Player me) {
        if (!m_seeded) {
            std::seed_seq sequence{m_seed, static_cast<uint32_t>(me)};
            m_random.seed(sequence);
            m_seeded = true;
        }
        return m_random;
    }

private:
    uint32_t m_seed;
    bool m_seeded = false;
    std::mt19937 m_random;
};
