#pragma once
// The interface of a move-choosing strategy of the client, and the limits of one move request.

#include "Game.h"
#include "Move.h"
#include "Position.h"
#include "Types.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

/// What one move request allows: the player's whole remaining time on the server's clock and
/// the depth limit, as the request carried them, and when the request arrived.
struct MoveLimits {
    using Clock = std::chrono::steady_clock;

    /// Milliseconds left on the server's clock, this move's credit included; 0: no time limit.
    uint32_t timeLeft = 0;
    /// Search depth in plies; 0: no depth limit.
    unsigned depth = 0;
    /// When the request was received; answer times count from here.
    Clock::time_point received = Clock::now();
};

class Strategy {
public:
    virtual ~Strategy() = default;

    /// The strategy's name as given on the command line.
    virtual const char* name() const = 0;

    /// Chooses a move for `me` in the game's present state (the game's phase decides between a
    /// stone and a bomb), within the limits. Returns false, with `move` untouched, when `me` has
    /// no legal move; otherwise `move` is legal for `me` on the game's board with a choice that
    /// its square accepts.
    virtual bool chooseMove(const Game& game, Player me, const MoveLimits& limits, Move& move) = 0;

    /// The strategy named "random", "greedy" or "search"; null for any other name. The seed makes
    /// random choices reproducible; `moveTimeCap` bounds the time a search spends on one move
    /// (milliseconds).
    static std::unique_ptr<Strategy> create(const std::string& name, uint32_t seed,
                                            uint32_t moveTimeCap);
    /// Whether create knows the name.
    static bool known(const std::string& name);

protected:
    /// The game move of `player` for a candidate of `position`, with the terminal flag of its
    /// phase.
    static Move toGameMove(const Position& position, const Candidate& candidate, Player player);
};
