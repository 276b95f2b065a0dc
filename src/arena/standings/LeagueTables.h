#pragma once
// The tables of a league, computed from its database by the standings engine: standings and
// ratings overall and per map, the crosstable, results per seat, each bot's versions, times,
// disqualifications in plain words, the limits in force, the aborted matches and the
// duplicated games.

#include "League.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

class LeagueTables {
public:
    /// The tables ("reversi-league-1") over the matches the current configuration needs, and
    /// the history of every version over all matches; rows in the order of Standings::ORDER
    /// (stated under "order"), the limits of the matches counted under "limits". Under a
    /// League::setView of an earlier limit they count the matches kept under it ("earlier" is
    /// true); "in_force" holds the limits in force, "earlier_limits" those whose standings are
    /// kept ("text", "option" for --limit, "matches"). A game whose move list
    /// repeats one on the same start and line-up counts once (listed under "duplicates").
    /// False with the league's error when the database fails.
    static bool compute(League& league, nlohmann::json& out);
    /// The limit of the matches the tables count: "limit in force: ..." or, for the standings
    /// kept under an earlier limit, "under the earlier limit ... (in force now: ...)".
    static std::string limitSummary(const nlohmann::json& tables);
    /// The tables as text; `top` > 0 prints only that many rows of the overall standings.
    static void print(const nlohmann::json& tables, std::ostream& os, size_t top = 0);
    /// Adds "in_force", "earlier_limits" and "earlier" (as compute() describes them) to tables
    /// the standings engine computed.
    static bool addLimits(League& league, nlohmann::json& out);
};
