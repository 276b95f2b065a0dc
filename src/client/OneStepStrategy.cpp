#include "OneStepStrategy.h"

#include <numeric>
#include <random>

bool OneStepStrategy::chooseMove(const Game& game, Player me, const MoveLimits& /*limits*/,
                                 Move& move) {
    std::mt19937& random = m_random.forPlayer(me);
    const Position position(game, me);
    std::vector<Candidate> moves;
    position.legalMoves(moves);
    if (moves.empty()) {
        return false;
    }
    const std::vector<size_t> chosen = best(position, moves, me);
    std::uniform_int_distribution<size_t> pick(0, chosen.size() - 1);
    move = toGameMove(position, moves[chosen[pick(random)]], me);
    return true;
}

std::vector<size_t> OneStepStrategy::best(const Position& /*position*/,
                                          const std::vector<Candidate>& moves,
                                          Player /*me*/) const {
    std::vector<size_t> all(moves.size());
    std::iota(all.begin(), all.end(), 0);
    return all;
}
