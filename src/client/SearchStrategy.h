#pragma once

#include "PositionKey.h"
#include "Strategy.h"
#include "TranspositionTable.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

/// Iterative deepening alpha-beta search. With more than two players it is paranoid: every
/// opponent is assumed to play against this player. The search stops at the depth limit, when
/// the game tree is searched to its end, or when its share of the time runs out; a legal move
/// is ready from the start, so a move request is always answered in time.
///
/// Searched positions are kept in a transposition table from one move to the next, and moves
/// are tried in the order of the table's best move, two killer moves per ply and a history of
/// cells that caused cut-offs; all but the first move of a node get a null-window search first.
class SearchStrategy : public Strategy {
public:
    using Clock = std::chrono::steady_clock;

    /// `moveTimeCap`: the most milliseconds spent on one move, also without a time limit.
    explicit SearchStrategy(uint32_t moveTimeCap);

    const char* name() const override { return "search"; }
    bool chooseMove(const Game& game, Player me, const MoveLimits& limits, Move& move) override;

    /// Depth of the last completed iteration of the last search (0 when none completed).
    unsigned lastDepth() const { return m_lastDepth; }
    /// Milliseconds the last search was allowed, counted from the request's arrival.
    uint32_t lastAllotment() const { return m_allotted; }
    /// Value of the move chosen by the last search, from this player's point of view.
    int lastValue() const { return m_lastValue; }
    /// Positions visited by the last search.
    uint64_t lastNodes() const { return m_nodes; }

    /// Milliseconds a move may take: a share of the time left for the moves still to come, at
    /// most half of it and at most the cap, and never closer than a safety margin to the end of
    /// the budget. Without a time limit, the cap.
    static uint32_t allotTime(uint32_t timeLeft, unsigned movesToCome, uint32_t cap);

private:
    /// Paranoid alpha-beta (fail-soft) from this player's point of view; `ply` counts from the
    /// root.
    int search(const Position& position, unsigned depth, int alpha, int beta, unsigned ply);
    /// The table's value of the position when it decides this window (true), and its best
    /// move for ordering either way.
    bool probeTable(uint64_t key, unsigned depth, int alpha, int beta, Candidate& tableMove,
                    int& value);
    /// The value of one child: the first with the full window, the others with a null window
    /// first and searched again when they may improve.
    int searchChild(const Position& child, unsigned depth, int alpha, int beta, unsigned ply,
                    bool first, bool maximizing);
    /// Heuristic value of a position from this player's point of view.
    int evaluate(const Position& position) const;
    /// Exact value of a final position: a win or loss outweighs any heuristic value.
    int finalValue(const Position& position) const;
    /// Cell weights from the board's shape: cells no line can pass through are worth most.
    /// Forgets what was learnt about another board or another player.
    void prepare(const GameBoard& board, Player me);
    /// Orders moves: the table's move, the ply's killer moves, then by history and weight.
    void orderMoves(std::vector<Candidate>& moves, const Candidate& first, unsigned ply) const;
    /// Records a move that cut off the search at `ply` with `depth` plies left.
    void rememberCutoff(const Candidate& move, unsigned depth, unsigned ply);
    bool outOfTime();
    /// Iterative deepening at the root up to maxDepth or the deadline; `move` is the best move
    /// found so far, `moves` end best first. Returns the best move's value.
    int deepen(const Position& root, std::vector<Candidate>& moves, unsigned maxDepth, Move& move);
    /// One iteration over the root's moves at `depth`: their values into `scores`, the best
    /// value into `alpha`. Returns the best move's index (moves.size() when none finished).
    size_t searchRoot(const Position& root, const std::vector<Candidate>& moves,
                      std::vector<int>& scores, unsigned depth, int& alpha);

    uint32_t m_cap;
    Player m_me = Player::P_INVALID;
    Clock::time_point m_deadline;
    bool m_aborted = false;
    /// Set when a branch was cut by the depth rather than by the end of the game.
    bool m_hitHorizon = false;
    uint64_t m_nodes = 0;
    unsigned m_lastDepth = 0;
    int m_lastValue = 0;
    uint32_t m_allotted = 0;

    std::vector<int> m_weight;
    /// Cells no capture line can pass through, and their neighbours.
    std::vector<index_t> m_corners;
    std::vector<std::vector<index_t>> m_cornerNeighbours;
    /// Cells that are not holes.
    uint32_t m_cells = 0;

    uint64_t m_geometry = 0;
    PositionKey m_keys;
    TranspositionTable m_table;
    std::vector<std::array<Candidate, 2>> m_killers;
    std::vector<uint32_t> m_history;
    /// Room for the moves of each ply and for their ordering.
    std::vector<std::vector<Candidate>> m_moveLists;
    mutable std::vector<std::pair<int, Candidate>> m_scored;
};
