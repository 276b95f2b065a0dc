#pragma once

#include "OneStepStrategy.h"

/// Plays a legal move chosen uniformly at random (every choice of a choice or bonus square and
/// every bomb target counts as a move of its own). The same seed and player give the same
/// sequence of choices.
class RandomStrategy : public OneStepStrategy {
public:
    explicit RandomStrategy(uint32_t seed) : OneStepStrategy("random", seed) {}
};
