#pragma once

#include "PlayerRandom.h"
#include "Strategy.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/// A strategy that looks no further than the present legal moves: of the moves it likes best
/// (by default all of them) one is drawn at random, reproducibly for the same seed and player.
class OneStepStrategy : public Strategy {
public:
    OneStepStrategy(const char* name, uint32_t seed) : m_name(name), m_random(seed) {}

    const char* name() const final { return m_name; }
    bool chooseMove(const Game& game, Player me, const MoveLimits& limits, Move& move) final;

protected:
    /// The indices into `moves` (never empty) of the moves it likes best, all equally: at
    /// least one, in increasing order. By default every index.
    virtual std::vector<size_t> best(const Position& position, const std::vector<Candidate>& moves,
                                     Player me) const;

private:
    const char* m_name;
    PlayerRandom m_random;
};
