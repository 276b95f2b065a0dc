#include "RandomStrategy.h"

#include <vector>

RandomStrategy::RandomStrategy(uint32_t seed) : m_seed(seed) {}

bool RandomStrategy::chooseMove(const Game& game, Player me, const MoveLimits& /*limits*/,
                                Move& move) {
    // Seeded on the first move, when the player number is known, so that two random clients
    // with the same seed still play differently.
    if (!m_seeded) {
        std::seed_seq sequence{m_seed, static_cast<uint32_t>(me)};
        m_random.seed(sequence);
        m_seeded = true;
    }
    const Position position(game, me);
    std::vector<Candidate> moves;
    position.legalMoves(moves);
    if (moves.empty()) {
        return false;
    }
    std::uniform_int_distribution<size_t> pick(0, moves.size() - 1);
    move = toGameMove(position, moves[pick(m_random)], me);
    return true;
}
