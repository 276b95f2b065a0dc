#include "SearchStrategy.h"

#include "Logging.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int INF = std::numeric_limits<int>::max() / 2;
/// A decided game outweighs every heuristic value.
constexpr int WIN = 1000000;

// Heuristic values; a stone is worth STONE.
constexpr int STONE = 10;
constexpr int CORNER = 50;
constexpr int EDGE = 10;
/// A stone next to an empty corner gives the corner away.
constexpr int CORNER_NEIGHBOUR = -30;
constexpr int OVERRIDE_STONE = 15;
constexpr int BOMB = 20;

/// Never plan to answer closer than this to the end of the budget (milliseconds).
constexpr uint32_t SAFETY_MARGIN = 50;
/// The deepest iteration tried when nothing else stops the deepening.
constexpr unsigned MAX_DEPTH = 64;

} // namespace

SearchStrategy::SearchStrategy(uint32_t moveTimeCap) : m_cap(moveTimeCap) {}

uint32_t SearchStrategy::allotTime(uint32_t timeLeft, unsigned movesToCome, uint32_t cap) {
    if (timeLeft == 0) {
        return cap;
    }
    uint32_t share = timeLeft / std::max(1u, movesToCome);
    share = std::min({share, timeLeft / 2, cap});
    const uint32_t latest = timeLeft > SAFETY_MARGIN ? timeLeft - SAFETY_MARGIN : 0;
    return std::min(share, latest);
}

bool SearchStrategy::chooseMove(const Game& game, Player me, const MoveLimits& limits, Move& move) {
    m_me = me;
    m_nodes = 0;
    m_lastDepth = 0;
    m_allotted = 0;
    m_aborted = false;
    const Position root(game, me);
    std::vector<Candidate> moves;
    root.legalMoves(moves);
    if (moves.empty()) {
        return false;
    }
    prepareWeights(root.board());
    orderMoves(moves);
    // The answer in case not even the first iteration completes.
    move = toGameMove(root, moves.front(), me);
    if (moves.size() == 1) {
        return true;
    }

    // The moves still to come for this player: the free cells shared among the players, and
    // its bombs.
    const GameBoard& board = root.board();
    unsigned freeCells = 0;
    for (uint32_t i = 0; i < board.getBoardSize(); ++i) {
        const Square s = board.get_square(static_cast<index_t>(i));
        freeCells += (s != Square::NONE && !isColour(s)) ? 1 : 0;
    }
    const unsigned movesToCome =
        freeCells / std::max(1u, game.get_valid_players()) + board.getBombs(me) + 1;
    m_allotted = allotTime(limits.timeLeft, movesToCome, m_cap);
    m_deadline = limits.received + std::chrono::milliseconds(m_allotted);
    const unsigned maxDepth = limits.depth > 0 ? limits.depth : MAX_DEPTH;

    std::vector<int> scores(moves.size(), -INF);
    int bestScore = -INF;
    for (unsigned depth = 1; depth <= maxDepth; ++depth) {
        m_hitHorizon = false;
        int alpha = -INF;
        size_t iterationBest = moves.size();
        for (size_t k = 0; k < moves.size(); ++k) {
            Position child(root);
            child.play(moves[k]);
            const int value = search(child, depth - 1, alpha, INF);
            if (m_aborted) {
                break;
            }
            scores[k] = value;
            if (value > alpha) {
                alpha = value;
                iterationBest = k;
            }
        }
        // The first move searched is the best of the last iteration, so a move that beat it in
        // an unfinished iteration is still the better choice.
        if (iterationBest < moves.size()) {
            move = toGameMove(root, moves[iterationBest], me);
            bestScore = alpha;
        }
        if (m_aborted) {
            break;
        }
        m_lastDepth = depth;
        // Best first, then the rest by this iteration's values (bounds for all but the best).
        std::vector<size_t> order(moves.size());
        for (size_t k = 0; k < order.size(); ++k) {
            order[k] = k;
        }
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            if (a == iterationBest || b == iterationBest) {
                return a == iterationBest && b != iterationBest;
            }
            return scores[a] > scores[b];
        });
        std::vector<Candidate> reordered;
        std::vector<int> rescored;
        for (size_t k : order) {
            reordered.push_back(moves[k]);
            rescored.push_back(scores[k]);
        }
        moves.swap(reordered);
        scores.swap(rescored);

        if (!m_hitHorizon || bestScore >= WIN || bestScore <= -WIN) {
            break; // the result is exact
        }
        // An iteration takes longer than all before it together; do not start one that cannot
        // finish.
        const auto spent = Clock::now() - limits.received;
        if (spent * 2 > std::chrono::milliseconds(m_allotted)) {
            break;
        }
    }
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - limits.received);
    LOG(Logging::loggerAI, lumber::DEBUG)
        << "Search: depth " << m_lastDepth << ", value " << bestScore << ", " << m_nodes
        << " nodes, " << spent.count() << " of " << m_allotted << " ms";
    return true;
}

bool SearchStrategy::outOfTime() {
    if (Clock::now() >= m_deadline) {
        m_aborted = true;
    }
    return m_aborted;
}

int SearchStrategy::search(const Position& position, unsigned depth, int alpha, int beta) {
    ++m_nodes;
    if (outOfTime()) {
        return 0;
    }
    if (position.isFinal()) {
        return finalValue(position);
    }
    if (depth == 0) {
        m_hitHorizon = true;
        return evaluate(position);
    }
    std::vector<Candidate> moves;
    position.legalMoves(moves);
    if (moves.empty()) {
        // The turn always goes to a player who can move; this is only a safeguard.
        return evaluate(position);
    }
    orderMoves(moves);
    const bool maximizing = position.toMove() == m_me;
    int best = maximizing ? -INF : INF;
    for (const Candidate& candidate : moves) {
        Position child(position);
        child.play(candidate);
        const int value = search(child, depth - 1, alpha, beta);
        if (m_aborted) {
            return 0;
        }
        if (maximizing) {
            best = std::max(best, value);
            alpha = std::max(alpha, value);
        } else {
            best = std::min(best, value);
            beta = std::min(beta, value);
        }
        if (alpha >= beta) {
            break;
        }
    }
    return best;
}

int SearchStrategy::finalValue(const Position& position) const {
    const GameBoard& board = position.board();
    const int mine = static_cast<int>(board.getStoneCount(m_me));
    int strongest = 0;
    for (unsigned p = 1; p <= position.nrPlayers(); ++p) {
        const Player other = static_cast<Player>(p);
        if (other != m_me && !board.getDisqualified(other)) {
            strongest = std::max(strongest, static_cast<int>(board.getStoneCount(other)));
        }
    }
    const int margin = mine - strongest;
    if (margin > 0) {
        return WIN + margin;
    }
    if (margin < 0) {
        return -WIN + margin;
    }
    return 0;
}

int SearchStrategy::evaluate(const Position& position) const {
    const GameBoard& board = position.board();
    const bool building = position.phase() == GamePhase::BUILD;
    int value[9] = {};
    for (uint32_t i = 0; i < board.getBoardSize(); ++i) {
        const Square s = board.get_square(static_cast<index_t>(i));
        if (isColour(s)) {
            value[static_cast<unsigned>(board.btop(s))] += STONE + (building ? m_weight[i] : 0);
        }
    }
    if (building) {
        for (size_t k = 0; k < m_corners.size(); ++k) {
            if (isColour(board.get_square(m_corners[k]))) {
                continue;
            }
            for (index_t neighbour : m_cornerNeighbours[k]) {
                const Square s = board.get_square(neighbour);
                if (isColour(s)) {
                    value[static_cast<unsigned>(board.btop(s))] += CORNER_NEIGHBOUR;
                }
            }
        }
    }
    for (unsigned p = 1; p <= position.nrPlayers(); ++p) {
        const Player player = static_cast<Player>(p);
        value[p] += BOMB * board.getBombs(player);
        if (building) {
            value[p] += OVERRIDE_STONE * board.getOverrides(player);
        }
    }
    int strongest = -INF;
    for (unsigned p = 1; p <= position.nrPlayers(); ++p) {
        const Player other = static_cast<Player>(p);
        if (other != m_me && !board.getDisqualified(other)) {
            strongest = std::max(strongest, value[p]);
        }
    }
    const int mine = value[static_cast<unsigned>(m_me)];
    return strongest == -INF ? mine : mine - strongest;
}

void SearchStrategy::prepareWeights(const GameBoard& board) {
    const uint32_t size = board.getBoardSize();
    m_weight.assign(size, 0);
    m_corners.clear();
    m_cornerNeighbours.clear();
    auto isCell = [&](index_t i) {
        return i != INVALID_INDEX && board.get_square(i) != Square::NONE;
    };
    for (uint32_t i = 0; i < size; ++i) {
        const index_t cell = static_cast<index_t>(i);
        if (!isCell(cell)) {
            continue;
        }
        // A line through a cell needs neighbours on both sides of it.
        unsigned openLines = 0;
        for (Direction d : HalfDirections) {
            if (isCell(board.get_transition(cell, d)) &&
                isCell(board.get_transition(cell, getBackDirection(d)))) {
                ++openLines;
            }
        }
        if (openLines == 0) {
            m_weight[i] = CORNER;
            std::vector<index_t> neighbours;
            for (Direction d : AllDirections) {
                const index_t next = board.get_transition(cell, d);
                if (isCell(next)) {
                    neighbours.push_back(next);
                }
            }
            m_corners.push_back(cell);
            m_cornerNeighbours.push_back(neighbours);
        } else if (openLines == 1) {
            m_weight[i] = EDGE;
        }
    }
}

void SearchStrategy::orderMoves(std::vector<Candidate>& moves) const {
    std::stable_sort(moves.begin(), moves.end(), [&](const Candidate& a, const Candidate& b) {
        return m_weight[a.index] > m_weight[b.index];
    });
}
