#pragma once
// The standings engine behind every table: a tournament's report, a league's tables and the
// league's web site all count their games here, fit their ratings here and order their rows
// here, so that one rule gives points, places, disqualifications and the order everywhere.

#include "Ratings.h"

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

/// One seat of a game as the standings count it.
struct StandingsSeat {
    /// The bot's key: its name in a tournament, its version in a league.
    std::string bot;
    /// Final games only: the place, from 1.
    unsigned rank = 0;
    /// Why it was disqualified, in plain words (see Standings::plainReason); "" when it was not.
    std::string disqualified;
    unsigned moves = 0;
    std::uint64_t timeMsSum = 0;
    unsigned timeMsMax = 0;
    /// The bot's CPU time in the game, and every move it made there, when the game says it
    /// (both 0 otherwise).
    std::uint64_t cpuMs = 0;
    unsigned cpuMoves = 0;
};

/// One game: its seats in seat order, whether it ended normally, and its scope (a map name or
/// id; "" for none). Games with a scope count in the overall standings and in their scope's.
struct StandingsGame {
    std::string scope;
    bool final = false;
    std::vector<StandingsSeat> seats;
};

/// One bot's results in one scope.
struct StandingsTally {
    /// Games it sat in, whether they ended normally or not.
    unsigned entered = 0;
    /// Games that ended normally: only these give points, places and ratings.
    unsigned played = 0;
    double points = 0;
    double placeSum = 0;
    unsigned wins = 0;
    unsigned draws = 0;
    unsigned losses = 0;
    std::map<unsigned, unsigned> places;
    /// Disqualifications by plain reason.
    std::map<std::string, unsigned> disqualified;
    std::uint64_t moves = 0;
    std::uint64_t timeMsSum = 0;
    unsigned timeMsMax = 0;
    /// CPU time and moves of the games that give the bot's CPU time.
    std::uint64_t cpuMsSum = 0;
    std::uint64_t cpuMoves = 0;

    /// The average place, null before a game ended normally.
    nlohmann::json averagePlace() const;
    /// The average time per move in ms, null before a move.
    nlohmann::json averageTimeMs() const;
    /// The bot's CPU time per move in ms over the games that give it, null before a move.
    nlohmann::json averageCpuMs() const;
    /// Disqualifications by plain reason as an object.
    nlohmann::json disqualifiedJson() const;
};

/// A finishing order: groups of tied bots, best first.
using StandingsOrder = std::vector<std::vector<std::string>>;

class Standings {
public:
    /// The order of every standings table, as the tables state it.
    static constexpr const char* ORDER =
        "Ordered by Elo rating, highest first (fitted to every finishing order, so it weighs "
        "whom each bot met), then by points; bots without a rating last.";

    /// Counts a game: seats, disqualifications and times always; points, places, the
    /// crosstable and the finishing order when it ended normally.
    void add(const StandingsGame& game);

    /// Each bot's tally in a scope ("" overall).
    const std::map<std::string, StandingsTally>& tallies(const std::string& scope = "") const;
    /// A bot's tally in a scope; an empty tally when it has none.
    StandingsTally tally(const std::string& bot, const std::string& scope = "") const;
    /// Per seat number (from 1), each bot's tally of the games it finished in that seat.
    const std::map<unsigned, std::map<std::string, StandingsTally>>&
    seats(const std::string& scope) const;
    /// Score and finished games of bot `a` against bot `b` over every pair of their seats (a
    /// win 1, a tie a half); none when they never finished a game together.
    std::optional<std::pair<double, unsigned>> versus(const std::string& a,
                                                      const std::string& b) const;
    /// The finishing orders of a scope ("" overall).
    const std::vector<StandingsOrder>& orders(const std::string& scope = "") const;

    /// Fits the ratings of `bots` (the fit's index i is bots[i]) to the orders; every bot an
    /// order names must be among them.
    static RatingFit fit(const std::vector<std::string>& bots,
                         const std::vector<StandingsOrder>& orders);
    /// A rating for the tables: rounded to a tenth, null when it is not finite.
    static nlohmann::json elo(double value);
    /// Sorts rows (JSON objects with "elo" and "points") into the order stated by ORDER; rows
    /// alike keep their order.
    static void sort(nlohmann::json& rows);

    /// A disqualification in plain words: "illegal move", "timed out", "crashed", "did not
    /// start" (a connection lost before its first move, or a seat that never came), "wrong
    /// message", or "other" for a reason this arena does not know. `moved` tells whether the
    /// seat made a move before it.
    static std::string plainReason(const std::string& serverReason, bool moved);
    /// Disqualifications by plain reason as a cell: "crashed 2, timed out 1", or "-".
    static std::string reasonsCell(const nlohmann::json& byReason);
    /// The limits of the games as a phrase: "1 s per move, depth 3", "no limit", or several
    /// joined by "; " (each an object with "time_ms" and "depth", 0 for none).
    static std::string limitText(const nlohmann::json& limits);

private:
    struct Scope {
        std::map<std::string, StandingsTally> tallies;
        std::vector<StandingsOrder> orders;
        std::map<unsigned, std::map<std::string, StandingsTally>> seats;
    };

    void addSeats(const StandingsGame& game, Scope& scope);
    void addFinal(const StandingsGame& game, Scope& scope, bool overall);

    std::map<std::string, Scope> m_scopes;
    std::map<std::pair<std::string, std::string>, std::pair<double, unsigned>> m_cross;
};
