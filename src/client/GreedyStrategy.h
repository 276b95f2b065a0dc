#pragma once

#include "OneStepStrategy.h"

#include <cstdint>
#include <utility>

/// Looks one move ahead. Building: the move that leaves the most stones of its own, then the
/// fewest for the strongest opponent; an override stone is spent only for a clearly better move.
/// Bombing: the throw that destroys the most opponent stones minus its own. Ties are broken at
/// random, reproducibly for the same seed and player.
class GreedyStrategy : public OneStepStrategy {
public:
    explicit GreedyStrategy(uint32_t seed) : OneStepStrategy("greedy", seed) {}

protected:
    std::vector<size_t> best(const Position& position, const std::vector<Candidate>& moves,
                             Player me) const override;

private:
    /// A move's primary and secondary value for `me`: the larger pair is the better move.
    static std::pair<int64_t, int64_t> value(const Position& position, const Candidate& candidate,
                                             Player me);
};
