#include "GreedyStrategy.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

/// Stones an override stone is worth: a move that spends one must gain this much more.
constexpr int64_t OVERRIDE_COST = 2;

/// The most stones owned by a valid player other than me.
int64_t strongestOpponent(const GameBoard& board, Player me) {
    int64_t best = 0;
    for (unsigned p = 1; p <= board.get_nplayers(); ++p) {
        const Player other = static_cast<Player>(p);
        if (other != me && !board.getDisqualified(other)) {
            best = std::max<int64_t>(best, board.getStoneCount(other));
        }
    }
    return best;
}

} // namespace

GreedyStrategy::GreedyStrategy(uint32_t seed) : m_random(seed) {}

bool GreedyStrategy::chooseMove(const Game& game, Player me, const MoveLimits& /*limits*/,
                                Move& move) {
    std::mt19937& random = m_random.forPlayer(me);
    const Position position(game, me);
    std::vector<Candidate> moves;
    position.legalMoves(moves);
    if (moves.empty()) {
        return false;
    }
    const GameBoard& board = position.board();

    // Each move gets a primary and a secondary value; the best pairs are collected and one of
    // them is drawn.
    int64_t bestPrimary = INT64_MIN;
    int64_t bestSecondary = INT64_MIN;
    std::vector<size_t> best;
    for (size_t k = 0; k < moves.size(); ++k) {
        const Candidate& candidate = moves[k];
        int64_t primary = 0;
        int64_t secondary = 0;
        if (position.phase() == GamePhase::TERMINAL) {
            for (index_t cell : position.blastArea(candidate.index)) {
                const Square s = board.get_square(cell);
                if (!isColour(s)) {
                    continue;
                }
                const Player owner = board.btop(s);
                if (owner == me) {
                    primary -= 1;
                    secondary -= 1;
                } else if (!board.getDisqualified(owner)) {
                    primary += 1;
                }
            }
        } else {
            Position next(position);
            next.play(candidate);
            primary = next.board().getStoneCount(me);
            if (board.occupied(candidate.index)) {
                primary -= OVERRIDE_COST;
            }
            // Between equal counts for the strongest opponent, a bonus square gives a bomb
            // rather than an override stone when bombs do anything: a bomb can destroy
            // opponent stones at the end, an override stone helps only while stones are placed.
            const bool bomb = candidate.choice == MoveChoice::BOMB && board.getBombPower() > 0;
            secondary = -2 * strongestOpponent(next.board(), me) + (bomb ? 1 : 0);
        }
        if (primary > bestPrimary || (primary == bestPrimary && secondary > bestSecondary)) {
            bestPrimary = primary;
            bestSecondary = secondary;
            best.clear();
        }
        if (primary == bestPrimary && secondary == bestSecondary) {
            best.push_back(k);
        }
    }
    std::uniform_int_distribution<size_t> pick(0, best.size() - 1);
    move = toGameMove(position, moves[best[pick(random)]], me);
    return true;
}
