#include "RandomStrategy.h"

#include <vector>

RandomStrategy::RandomStrategy(uint32_t seed) : m_random(seed) {}

bool RandomStrategy::chooseMove(const Game& game, Player me, const MoveLimits& /*limits*/,
                                Move& move) {
    std::mt19937& random = m_random.forPlayer(me);
    const Position position(game, me);
    std::vector<Candidate> moves;
    position.legalMoves(moves);
    if (moves.empty()) {
        return false;
    }
    std::uniform_int_distribution<size_t> pick(0, moves.size() - 1);
    move = toGameMove(position, moves[pick(random)], me);
    return true;
}
