#pragma once

#include "PlayerRandom.h"
#include "Strategy.h"

/// Plays a legal move chosen uniformly at random (every choice of a choice or bonus square and
/// every bomb target counts as a move of its own). The same seed and player give the same
/// sequence of choices.
class RandomStrategy : public Strategy {
public:
    explicit RandomStrategy(uint32_t seed);

    const char* name() const override { return "random"; }
    bool chooseMove(const Game& game, Player me, const MoveLimits& limits, Move& move) override;

private:
    PlayerRandom m_random;
};
