#pragma once
// The sums behind a league's tables, gathered in one pass over its finished matches.

#include "League.h"

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class LeagueStats {
public:
    /// Reads the league's versions, maps and finished matches. False when the database fails.
    bool load(League& league);
    /// The tables, as LeagueTables::compute describes them.
    nlohmann::json tables() const;

private:
    /// One bot version's results in one scope.
    struct Tally {
        int matches = 0;
        double points = 0;
        double placeSum = 0;
        int wins = 0;
        int draws = 0;
        int losses = 0;
        std::map<std::string, int> disqualified;
        std::int64_t moves = 0;
        std::int64_t timeSum = 0;
        int timeMax = 0;
    };
    /// Finishing orders as groups of version ids, best first.
    using Order = std::vector<std::vector<std::int64_t>>;
    struct Scope {
        std::map<std::int64_t, Tally> tallies;
        std::vector<Order> orders;
    };

    void addMatch(const std::vector<FinishedSeat>& seats);
    void addFinal(const std::vector<FinishedSeat>& seats, std::int64_t map);
    bool duplicate(const std::vector<FinishedSeat>& seats);
    nlohmann::json standings(const Scope& scope, bool& prior) const;
    nlohmann::json crosstable() const;
    nlohmann::json perSeat(std::int64_t map) const;
    nlohmann::json history() const;
    std::vector<std::int64_t> currentVersions() const;

    std::vector<BotVersion> m_versions;
    std::map<std::int64_t, LeagueMap> m_maps;
    Scope m_overall;
    std::map<std::int64_t, Scope> m_perMap;
    /// Per base map and seat: each version's results.
    std::map<std::int64_t, std::map<int, std::map<std::int64_t, Tally>>> m_seats;
    /// Score and matches of the first version against the second.
    std::map<std::pair<std::int64_t, std::int64_t>, std::pair<double, int>> m_cross;
    /// Every final order over all matches ever played, for the versions' history.
    std::vector<Order> m_allOrders;
    std::map<std::string, std::int64_t> m_games;
    nlohmann::json m_duplicates = nlohmann::json::array();
    nlohmann::json m_aborted = nlohmann::json::array();
    int m_matches = 0;
};
