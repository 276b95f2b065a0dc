#pragma once
// The standings as a text table, the same for a tournament and a league.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <ostream>

class StandingsTable {
public:
    /// Prints the statement of the order (Standings::ORDER) and one line per row, in the rows'
    /// order, numbered from 1; `top` > 0 prints only that many. Each row is an object with
    /// "name", "elo", "elo_low", "elo_high", "matches", "points", "average_place", "wins",
    /// "draws", "losses", "time_ms", "time_max_ms", "cpu_ms" (CPU time per move, null when
    /// unknown), "disqualified" (counts by plain reason),
    /// optionally "more" (text added to the disqualifications) and "unplayed" (true: the row
    /// shows "no matches" instead of results).
    static void print(const nlohmann::json& rows, std::ostream& os, size_t top = 0);
    /// A number with `digits` decimals, or "-" when `value` is not a number (a rating not yet
    /// known).
    static std::string fixed(const nlohmann::json& value, int digits);
    /// A row of the table named `name` from a bot's standing `b`, whose time per move, longest
    /// move and CPU time per move are under the keys `timeKey`, `maxTimeKey` and `cpuKey`
    /// (none: not known).
    static nlohmann::json row(const nlohmann::json& name, const nlohmann::json& b,
                              const char* timeKey, const char* maxTimeKey,
                              const char* cpuKey = nullptr);
};
