#pragma once
// Follows whose turn it is in a match: each seat's CPU while waiting, and its pondering held.

#include <cstdint>
#include <functional>
#include <vector>

/// Follows the seat the server has asked to move, as the server's log shows it, and counts
/// per seat the CPU time its bot used while another seat was to move. A seat that may not
/// ponder is frozen while another seat is to move and thawed when it is asked; the mover is
/// always thawed before anything else is done, since its clock runs.
class TurnWatch {
public:
    /// How the watch reads and holds one seat's bot.
    struct Seat {
        /// The bot's CPU time so far, in microseconds; it may go back (a process tree that lost
        /// a member).
        std::function<uint64_t()> cpuUs;
        /// Freezes (true) or thaws (false) the bot; empty when it may ponder.
        std::function<void(bool)> freeze;
    };

    explicit TurnWatch(unsigned seats = 0) : m_seats(seats) {}

    /// Follows seat k's bot (1-based) from now on; what it used before does not count.
    void attach(unsigned k, Seat seat);
    /// The seat the server asked to move now, or 0 between moves. On a change, counts what
    /// every seat used since the last one; a seat asked is thawed, and the others that may not
    /// ponder are frozen. Seats out of range count as 0.
    void moverIs(unsigned mover);
    /// The game is over, or the match ends: the last stretch is counted and every seat thawed;
    /// later changes of the mover are not followed.
    void finish();
    /// Seat k's CPU time while another seat was to move, in milliseconds.
    uint64_t waitingMs(unsigned k) const;
    /// Whether seat k's bot is frozen now.
    bool frozen(unsigned k) const;

private:
    struct State {
        Seat seat;
        bool attached = false;
        bool frozen = false;
        uint64_t lastUs = 0;
        uint64_t waitingUs = 0;
    };

    /// Adds what each seat used since the last reading to its waiting time when another seat
    /// was to move.
    void count();
    void setFrozen(State& s, bool frozen);

    std::vector<State> m_seats;
    unsigned m_mover = 0;
    bool m_finished = false;
};
