#pragma once

#include "PlayerRandom.h"
#include "Strategy.h"

/// Looks one move ahead. Building: the move that leaves the most stones of its own, then the
/// fewest for the strongest opponent; an override stone is spent only for a clearly better move.
/// Bombing: the throw that destroys the most opponent stones minus its own. Ties are broken at
/// random, reproducibly for the same seed and player.
class GreedyStrategy : public Strategy {
public:
    explicit GreedyStrategy(uint32_t seed);

    const char* name() const override { return "greedy"; }
    bool chooseMove(const Game& game, Player me, const MoveLimits& limits, Move& move) override;

private:
    PlayerRandom m_random;
};
