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

std::vector<size_t> GreedyStrategy::best(const Position& position,
                                         const std::vector<Candidate>& moves, Player me) const {
    std::pair<int64_t, int64_t> bestValue{INT64_MIN, INT64_MIN};
    std::vector<size_t> chosen;
    for (size_t k = 0; k < moves.size(); ++k) {
        const std::pair<int64_t, int64_t> v = value(position, moves[k], me);
        if (v > bestValue) {
            bestValue = v;
            chosen.clear();
        }
        if (v == bestValue) {
            chosen.push_back(k);
        }
    }
    return chosen;
}

std::pair<int64_t, int64_t> GreedyStrategy::value(const Position& position,
                                                  const Candidate& candidate, Player me) {
    const GameBoard& board = position.board();
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
        return {primary, secondary};
    }
    Position next(position);
    next.play(candidate);
    primary = next.board().getStoneCount(me);
    if (board.occupied(candidate.index)) {
        primary -= OVERRIDE_COST;
    }
    // Between equal counts for the strongest opponent, a bonus square gives a bomb rather than
    // an override stone when bombs do anything: a bomb can destroy opponent stones at the end,
    // an override stone helps only while stones are placed.
    const bool bomb = candidate.choice == MoveChoice::BOMB && board.getBombPower() > 0;
    secondary = -2 * strongestOpponent(next.board(), me) + (bomb ? 1 : 0);
    return {primary, secondary};
}
