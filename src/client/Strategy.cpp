#include "Strategy.h"

#include "GreedyStrategy.h"
#include "RandomStrategy.h"
#include "SearchStrategy.h"

std::unique_ptr<Strategy> Strategy::create(const std::string& name, uint32_t seed,
                                           uint32_t moveTimeCap) {
    if (name == "random") {
        return std::make_unique<RandomStrategy>(seed);
    }
    if (name == "greedy") {
        return std::make_unique<GreedyStrategy>(seed);
    }
    if (name == "search") {
        return std::make_unique<SearchStrategy>(moveTimeCap);
    }
    return nullptr;
}

bool Strategy::known(const std::string& name) {
    return create(name, 0, 0) != nullptr;
}

Move Strategy::toGameMove(const Position& position, const Candidate& candidate, Player player) {
    uint16_t x = 0;
    uint16_t y = 0;
    position.board().index2coords(candidate.index, x, y);
    return Move(x, y, candidate.choice, player, position.phase() == GamePhase::TERMINAL);
}
