#pragma once

#include "Strategy.h"

#include <chrono>
#include <cstdint>
#include <vector>

/// Iterative deepening alpha-beta search. With more than two players it is paranoid: every
/// opponent is assumed to play against this player. The search stops at the depth limit, when
/// the game tree is searched to its end, or when its share of the time runs out; a legal move
/// is ready from the start, so a move request is always answered in time.
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

    /// Milliseconds a move may take: a share of the time left for the moves still to come, at
    /// most half of it and at most the cap, and never closer than a safety margin to the end of
    /// the budget. Without a time limit, the cap.
    static uint32_t allotTime(uint32_t timeLeft, unsigned movesToCome, uint32_t cap);

private:
    /// Paranoid alpha-beta from this player's point of view.
    int search(const Position& position, unsigned depth, int alpha, int beta);
    /// Heuristic value of a position from this player's point of view.
    int evaluate(const Position& position) const;
    /// Exact value of a final position: a win or loss outweighs any heuristic value.
    int finalValue(const Position& position) const;
    /// Cell weights from the board's shape: cells no line can pass through are worth most.
    void prepareWeights(const GameBoard& board);
    /// Orders moves so that the heavier cells come first.
    void orderMoves(std::vector<Candidate>& moves) const;
    bool outOfTime();

    uint32_t m_cap;
    Player m_me = Player::P_INVALID;
    Clock::time_point m_deadline;
    bool m_aborted = false;
    /// Set when a branch was cut by the depth rather than by the end of the game.
    bool m_hitHorizon = false;
    uint64_t m_nodes = 0;
    unsigned m_lastDepth = 0;
    uint32_t m_allotted = 0;

    std::vector<int> m_weight;
    /// Cells no capture line can pass through, and their neighbours.
    std::vector<index_t> m_corners;
    std::vector<std::vector<index_t>> m_cornerNeighbours;
};
