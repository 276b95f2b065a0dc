#include "SearchStrategy.h"

#include "Logging.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr int INF = std::numeric_limits<int>::max() / 2;
/// A decided game outweighs every heuristic value.
constexpr int WIN = 1000000;

// Heuristic values. A stone is worth STONE_EARLY on an empty board, rising to STONE_LATE on a
// full one: early on, stones that can move and few stones bordering empty cells matter more.
constexpr int STONE_EARLY = 2;
constexpr int STONE_LATE = 10;
/// A stone in the bombing phase.
constexpr int STONE = 10;
constexpr int CORNER = 50;
constexpr int EDGE = 10;
/// A stone next to an empty corner gives the corner away.
constexpr int CORNER_NEIGHBOUR = -30;
/// Each cell where a player could place a stone.
constexpr int MOBILITY = 8;
/// Each stone next to an empty cell, which gives the others something to capture.
constexpr int FRONTIER = -3;
constexpr int OVERRIDE_STONE = 15;
constexpr int BOMB = 20;

/// Never plan to answer closer than this to the end of the budget (milliseconds).
constexpr uint32_t SAFETY_MARGIN = 50;
/// The deepest iteration tried when nothing else stops the deepening.
constexpr unsigned MAX_DEPTH = 64;
/// 2^18 entries of 24 bytes.
constexpr unsigned TABLE_BITS = 18;

constexpr int TABLE_MOVE_FIRST = 1 << 30;
constexpr int KILLER_FIRST = 1 << 29;
constexpr int KILLER_SECOND = 1 << 28;
/// History counts are halved before each search and kept below this.
constexpr uint32_t HISTORY_MAX = 1u << 24;

constexpr unsigned PLAYER_COLOURS = 8;

/// Bit c set for each colour c whose stone placed on the free cell would capture: a line from
/// the cell over at least one other stone to a stone of that colour. One walk per direction
/// serves every colour, as a capture line of a colour ends at its first stone. Stops early when
/// every colour of `colours` can place.
unsigned placingColours(const GameBoard& board, index_t start, unsigned colours) {
    const uint32_t maxSteps = board.getBoardSize() * NumDirections;
    unsigned legal = 0;
    for (Direction d : AllDirections) {
        unsigned seen = 0;
        index_t cell = start;
        Direction dir = d;
        for (uint32_t passed = 0; passed < maxSteps; ++passed) {
            const index_t next = board.get_transition(cell, dir);
            dir = board.get_nextdirection(cell, dir);
            cell = next;
            if (cell == INVALID_INDEX || cell == start) {
                break;
            }
            const Square s = board.get_square(cell);
            if (isColour(s)) {
                const unsigned bit = 1u << static_cast<unsigned>(s);
                if (passed > 0 && !(seen & bit)) {
                    legal |= bit;
                }
                seen |= bit;
            } else if (s != Square::EXPANSION) {
                break;
            }
        }
        if ((legal & colours) == colours) {
            break;
        }
    }
    return legal;
}

bool same(const Candidate& a, const Candidate& b) {
    return a.index == b.index && a.choice == b.choice;
}

} // namespace

SearchStrategy::SearchStrategy(uint32_t moveTimeCap) : m_cap(moveTimeCap), m_table(TABLE_BITS) {}

uint32_t SearchStrategy::allotTime(uint32_t timeLeft, unsigned movesToCome, uint32_t cap) {
    if (timeLeft == 0) {
        return cap;
    }
    uint32_t share = timeLeft / std::max(1u, movesToCome);
    share = std::min({share, timeLeft / 2, cap});
    const uint32_t latest = timeLeft > SAFETY_MARGIN ? timeLeft - SAFETY_MARGIN : 0;
    return std::min(share, latest);
}

namespace {

/// The moves still to come for this player: the free cells shared among the players, and its
/// bombs.
unsigned movesToCome(const Game& game, const GameBoard& board, Player me) {
    unsigned freeCells = 0;
    for (uint32_t i = 0; i < board.getBoardSize(); ++i) {
        const Square s = board.get_square(static_cast<index_t>(i));
        freeCells += (s != Square::NONE && !isColour(s)) ? 1 : 0;
    }
    return freeCells / std::max(1u, game.get_valid_players()) + board.getBombs(me) + 1;
}

/// Best first, then the rest by the last iteration's values (bounds for all but the best).
void reorder(std::vector<Candidate>& moves, std::vector<int>& scores, size_t best) {
    std::vector<size_t> order(moves.size());
    for (size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (a == best || b == best) {
            return a == best && b != best;
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
}

} // namespace

bool SearchStrategy::chooseMove(const Game& game, Player me, const MoveLimits& limits, Move& move) {
    m_nodes = 0;
    m_lastDepth = 0;
    m_lastValue = 0;
    m_allotted = 0;
    m_aborted = false;
    const Position root(game, me);
    std::vector<Candidate> moves;
    root.legalMoves(moves);
    if (moves.empty()) {
        return false;
    }
    prepare(root.board(), me);
    const TranspositionTable::Entry* known = m_table.probe(m_keys.of(root));
    orderMoves(moves, known ? known->best : Candidate{}, 0);
    // The answer in case not even the first iteration completes.
    move = toGameMove(root, moves.front(), me);
    if (moves.size() == 1) {
        return true;
    }
    m_allotted = allotTime(limits.timeLeft, movesToCome(game, root.board(), me), m_cap);
    m_deadline = limits.received + std::chrono::milliseconds(m_allotted);
    const unsigned maxDepth = limits.depth > 0 ? limits.depth : MAX_DEPTH;
    if (m_moveLists.size() < maxDepth + 1) {
        m_moveLists.resize(maxDepth + 1); // the nodes that list moves lie above ply maxDepth
    }
    m_lastValue = deepen(root, moves, maxDepth, move);
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - limits.received);
    LOG(Logging::loggerAI, lumber::DEBUG)
        << "Search: depth " << m_lastDepth << ", value " << m_lastValue << ", " << m_nodes
        << " nodes, " << spent.count() << " of " << m_allotted << " ms";
    return true;
}

int SearchStrategy::deepen(const Position& root, std::vector<Candidate>& moves, unsigned maxDepth,
                           Move& move) {
    const Player me = m_me;
    std::vector<int> scores(moves.size(), -INF);
    int bestScore = -INF;
    for (unsigned depth = 1; depth <= maxDepth; ++depth) {
        int alpha = -INF;
        const size_t iterationBest = searchRoot(root, moves, scores, depth, alpha);
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
        reorder(moves, scores, iterationBest);
        if (!m_hitHorizon || bestScore >= WIN || bestScore <= -WIN) {
            break; // the result is exact
        }
        // Deepen until the time is up: an unfinished iteration still answers with a move that
        // beat the last iteration's best, and time not spent on this move is not given back.
    }
    return bestScore;
}

size_t SearchStrategy::searchRoot(const Position& root, const std::vector<Candidate>& moves,
                                  std::vector<int>& scores, unsigned depth, int& alpha) {
    m_hitHorizon = false;
    size_t iterationBest = moves.size();
    for (size_t k = 0; k < moves.size(); ++k) {
        Position child(root);
        child.play(moves[k]);
        int value = 0;
        if (k == 0) {
            value = search(child, depth - 1, alpha, INF, 1);
        } else {
            // Only a move that beats the best so far needs its true value.
            value = search(child, depth - 1, alpha, alpha + 1, 1);
            if (value > alpha && !m_aborted) {
                const int lowerBound = value;
                value = search(child, depth - 1, alpha, INF, 1);
                if (m_aborted) {
                    // It beat the best so far, by how much is left unknown.
                    alpha = lowerBound;
                    iterationBest = k;
                }
            }
        }
        if (m_aborted) {
            break;
        }
        scores[k] = value;
        if (value > alpha) {
            alpha = value;
            iterationBest = k;
        }
    }
    return iterationBest;
}

bool SearchStrategy::outOfTime() {
    if (Clock::now() >= m_deadline) {
        m_aborted = true;
    }
    return m_aborted;
}

bool SearchStrategy::probeTable(uint64_t key, unsigned depth, int alpha, int beta,
                                Candidate& tableMove, int& value) {
    const TranspositionTable::Entry* entry = m_table.probe(key);
    if (entry == nullptr) {
        return false;
    }
    tableMove = entry->best;
    if (entry->depth < depth && !entry->complete) {
        return false;
    }
    value = entry->value;
    const bool usable = entry->bound == TranspositionTable::Bound::EXACT ||
                        (entry->bound == TranspositionTable::Bound::LOWER && value >= beta) ||
                        (entry->bound == TranspositionTable::Bound::UPPER && value <= alpha);
    if (usable) {
        m_hitHorizon = m_hitHorizon || !entry->complete;
    }
    return usable;
}

int SearchStrategy::searchChild(const Position& child, unsigned depth, int alpha, int beta,
                                unsigned ply, bool first, bool maximizing) {
    if (first) {
        return search(child, depth - 1, alpha, beta, ply + 1);
    }
    // A null window around the side to move's bound first; the full window only when the
    // move may be better.
    if (maximizing) {
        const int value = search(child, depth - 1, alpha, alpha + 1, ply + 1);
        return value > alpha && value < beta && !m_aborted
                   ? search(child, depth - 1, alpha, beta, ply + 1)
                   : value;
    }
    const int value = search(child, depth - 1, beta - 1, beta, ply + 1);
    return value < beta && value > alpha && !m_aborted
               ? search(child, depth - 1, alpha, beta, ply + 1)
               : value;
}

int SearchStrategy::search(const Position& position, unsigned depth, int alpha, int beta,
                           unsigned ply) {
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
    const uint64_t key = m_keys.of(position);
    Candidate tableMove;
    int known = 0;
    if (probeTable(key, depth, alpha, beta, tableMove, known)) {
        return known;
    }
    // One move list per ply, whose room is kept from node to node.
    std::vector<Candidate>& moves = m_moveLists[ply];
    position.legalMoves(moves);
    if (moves.empty()) {
        // The turn always goes to a player who can move; this is only a safeguard.
        return evaluate(position);
    }
    orderMoves(moves, tableMove, ply);

    // Whether this subtree reaches the depth limit is tracked apart from the rest of the tree.
    const bool horizonBefore = m_hitHorizon;
    m_hitHorizon = false;
    const int alphaBefore = alpha;
    const int betaBefore = beta;
    const bool maximizing = position.toMove() == m_me;
    int best = maximizing ? -INF : INF;
    Candidate bestMove = moves.front();
    bool first = true;
    for (const Candidate& candidate : moves) {
        Position child(position);
        child.play(candidate);
        const int value = searchChild(child, depth, alpha, beta, ply, first, maximizing);
        first = false;
        if (m_aborted) {
            return 0;
        }
        if (maximizing ? value > best : value < best) {
            best = value;
            bestMove = candidate;
        }
        if (maximizing) {
            alpha = std::max(alpha, value);
        } else {
            beta = std::min(beta, value);
        }
        if (alpha >= beta) {
            rememberCutoff(candidate, depth, ply);
            break;
        }
    }
    const bool complete = !m_hitHorizon;
    m_hitHorizon = m_hitHorizon || horizonBefore;
    // Fail-soft values are bounds from this player's point of view whichever side moves here.
    const TranspositionTable::Bound bound = best <= alphaBefore  ? TranspositionTable::Bound::UPPER
                                            : best >= betaBefore ? TranspositionTable::Bound::LOWER
                                                                 : TranspositionTable::Bound::EXACT;
    m_table.store(key, depth, best, bound, bestMove, complete);
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
    const unsigned players = position.nrPlayers();
    int value[9] = {};
    if (position.phase() != GamePhase::BUILD) {
        for (uint32_t i = 0; i < board.getBoardSize(); ++i) {
            const Square s = board.get_square(static_cast<index_t>(i));
            if (isColour(s)) {
                value[static_cast<unsigned>(board.btop(s))] += STONE;
            }
        }
    } else {
        int stones[9] = {};
        unsigned filled = 0;
        const unsigned colours = ((1u << (players + 1)) - 1) & ~1u;
        for (uint32_t i = 0; i < board.getBoardSize(); ++i) {
            const index_t cell = static_cast<index_t>(i);
            const Square s = board.get_square(cell);
            if (isColour(s)) {
                const unsigned owner = static_cast<unsigned>(board.btop(s));
                ++stones[owner];
                ++filled;
                value[owner] += m_weight[i];
                for (Direction d : AllDirections) {
                    const index_t next = board.get_transition(cell, d);
                    if (next != INVALID_INDEX && board.get_square(next) == Square::EMPTY) {
                        value[owner] += FRONTIER;
                        break;
                    }
                }
            } else if (s != Square::NONE && s != Square::EXPANSION) {
                const unsigned legal = placingColours(board, cell, colours);
                for (unsigned c = 1; c <= PLAYER_COLOURS; ++c) {
                    if (legal & (1u << c)) {
                        value[static_cast<unsigned>(board.btop(static_cast<Square>(c)))] +=
                            MOBILITY;
                    }
                }
            }
        }
        const int cells = static_cast<int>(std::max(1u, m_cells));
        const int stoneWeight =
            STONE_EARLY + (STONE_LATE - STONE_EARLY) * static_cast<int>(filled) / cells;
        for (unsigned p = 1; p <= players; ++p) {
            value[p] += stoneWeight * stones[p] +
                        OVERRIDE_STONE * board.getOverrides(static_cast<Player>(p));
        }
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
    for (unsigned p = 1; p <= players; ++p) {
        value[p] += BOMB * board.getBombs(static_cast<Player>(p));
    }
    int strongest = -INF;
    for (unsigned p = 1; p <= players; ++p) {
        const Player other = static_cast<Player>(p);
        if (other != m_me && !board.getDisqualified(other)) {
            strongest = std::max(strongest, value[p]);
        }
    }
    const int mine = value[static_cast<unsigned>(m_me)];
    return strongest == -INF ? mine : mine - strongest;
}

void SearchStrategy::prepare(const GameBoard& board, Player me) {
    const uint32_t size = board.getBoardSize();
    const uint64_t geometry = PositionKey::geometry(board);
    if (me != m_me || geometry != m_geometry || size != m_keys.boardSize()) {
        // Values are from one player's point of view on one board.
        m_me = me;
        m_geometry = geometry;
        m_keys = PositionKey(size);
        m_table.clear();
        m_history.assign(size, 0);
    }
    m_table.nextGeneration();
    m_killers.assign(MAX_DEPTH + 2, {});
    for (uint32_t& h : m_history) {
        h /= 2;
    }

    m_weight.assign(size, 0);
    m_corners.clear();
    m_cornerNeighbours.clear();
    m_cells = 0;
    auto isCell = [&](index_t i) {
        return i != INVALID_INDEX && board.get_square(i) != Square::NONE;
    };
    for (uint32_t i = 0; i < size; ++i) {
        const index_t cell = static_cast<index_t>(i);
        if (!isCell(cell)) {
            continue;
        }
        ++m_cells;
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

void SearchStrategy::orderMoves(std::vector<Candidate>& moves, const Candidate& first,
                                unsigned ply) const {
    const std::array<Candidate, 2> killers =
        ply < m_killers.size() ? m_killers[ply] : std::array<Candidate, 2>{};
    std::vector<std::pair<int, Candidate>>& scored = m_scored;
    scored.clear();
    for (const Candidate& m : moves) {
        int score = 0;
        if (same(m, first)) {
            score = TABLE_MOVE_FIRST;
        } else if (same(m, killers[0])) {
            score = KILLER_FIRST;
        } else if (same(m, killers[1])) {
            score = KILLER_SECOND;
        } else {
            score = static_cast<int>(m_history[m.index]) * 2 + m_weight[m.index];
        }
        scored.emplace_back(score, m);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t k = 0; k < moves.size(); ++k) {
        moves[k] = scored[k].second;
    }
}

void SearchStrategy::rememberCutoff(const Candidate& move, unsigned depth, unsigned ply) {
    if (ply < m_killers.size() && !same(m_killers[ply][0], move)) {
        m_killers[ply][1] = m_killers[ply][0];
        m_killers[ply][0] = move;
    }
    m_history[move.index] = std::min(HISTORY_MAX, m_history[move.index] + depth * depth);
}
