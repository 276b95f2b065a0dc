#pragma once
// A league's matches fed to the standings engine in one pass over its database, and the tables
// built from it.

#include "League.h"
#include "Standings.h"

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class LeagueStats {
public:
    /// Reads the league's versions, maps, limits and finished matches. False when the database
    /// fails.
    bool load(League& league);
    /// The tables, as LeagueTables::compute describes them.
    nlohmann::json tables() const;
    /// Every finished match the configuration needs, first to last: "match" (its id), "map",
    /// "end", "reason", "same_as" (the match a duplicate repeats, or null) and "seats" (per
    /// seat "bot", "version", "place" or null, "disqualified" in plain words and "reason", the
    /// server's).
    const nlohmann::json& matches() const { return m_matchList; }

private:
    void addMatch(const std::vector<FinishedSeat>& seats);
    bool duplicate(const std::vector<FinishedSeat>& seats);
    void listMatch(const std::vector<FinishedSeat>& seats, const std::string& base);
    nlohmann::json standings(const std::string& scope, bool& prior) const;
    nlohmann::json row(const BotVersion& v, const StandingsTally& t) const;
    nlohmann::json crosstable() const;
    nlohmann::json perSeat(const std::string& scope) const;
    nlohmann::json history() const;
    nlohmann::json mapsJson(bool& prior) const;
    std::string mapName(std::int64_t id) const;
    const BotVersion* version(std::int64_t id) const;

    std::vector<BotVersion> m_versions;
    /// Index in m_versions by version id.
    std::map<std::int64_t, size_t> m_versionIndex;
    std::map<std::int64_t, LeagueMap> m_maps;
    /// Versions keyed by their id as text, scopes by the base map's id as text.
    Standings m_standings;
    /// Every final order over all matches ever played, for the versions' history.
    std::vector<StandingsOrder> m_allOrders;
    std::map<std::string, std::int64_t> m_games;
    nlohmann::json m_duplicates = nlohmann::json::array();
    nlohmann::json m_aborted = nlohmann::json::array();
    nlohmann::json m_limits = nlohmann::json::array();
    nlohmann::json m_matchList = nlohmann::json::array();
    int m_matches = 0;
};
