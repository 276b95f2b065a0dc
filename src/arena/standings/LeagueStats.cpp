#include "LeagueStats.h"

#include <algorithm>

using json = nlohmann::json;

namespace {

std::string key(std::int64_t id) {
    return std::to_string(id);
}

StandingsOrder orderOf(const std::vector<FinishedSeat>& seats) {
    std::map<int, std::vector<std::string>> byRank;
    for (const FinishedSeat& s : seats) {
        byRank[s.result.rank].push_back(key(s.version));
    }
    StandingsOrder order;
    for (auto& entry : byRank) {
        order.push_back(std::move(entry.second));
    }
    return order;
}

StandingsGame gameOf(const std::vector<FinishedSeat>& seats, const std::string& scope) {
    StandingsGame game;
    game.scope = scope;
    game.final = seats.front().end == MatchEnd::Final;
    for (const FinishedSeat& f : seats) {
        StandingsSeat s;
        s.bot = key(f.version);
        s.rank = game.final ? static_cast<unsigned>(std::max(0, f.result.rank)) : 0;
        s.disqualified = Standings::plainReason(f.result.disqualified, f.result.moves > 0);
        s.moves = static_cast<unsigned>(std::max(0, f.result.moves));
        s.timeMsSum = static_cast<std::uint64_t>(std::max<std::int64_t>(0, f.result.timeMsSum));
        s.timeMsMax = static_cast<unsigned>(std::max(0, f.result.timeMsMax));
        if (f.result.cpuMs >= 0) {
            s.cpuMs = static_cast<std::uint64_t>(f.result.cpuMs);
            s.cpuMoves = s.moves;
        }
        game.seats.push_back(s);
    }
    return game;
}

} // namespace

bool LeagueStats::load(League& league) {
    std::vector<LeagueMap> maps;
    if (!league.versions(m_versions) || !league.maps(maps)) {
        return false;
    }
    for (const LeagueMap& m : maps) {
        m_maps[m.id] = m;
    }
    for (size_t i = 0; i < m_versions.size(); ++i) {
        m_versionIndex[m_versions[i].id] = i;
    }
    std::vector<FinishedSeat> match;
    const bool ok = league.finished([&](const FinishedSeat& seat) {
        if (!match.empty() && match.front().matchId != seat.matchId) {
            addMatch(match);
            match.clear();
        }
        match.push_back(seat);
    });
    if (!match.empty()) {
        addMatch(match);
    }
    std::map<std::int64_t, json*> listed;
    for (json& m : m_matchList) {
        listed[m["match"].get<std::int64_t>()] = &m;
    }
    return ok && league.limits([&](int time, int depth) {
        m_limits.push_back({{"time_ms", time}, {"depth", depth}});
    }) &&
           league.unfinished([&](std::int64_t id, const std::string& matchKey,
                                 const std::string& end, const std::string& reason) {
               json a = {{"match", id}, {"key", matchKey}, {"end", end}, {"reason", reason}};
               const auto found = listed.find(id);
               if (found != listed.end()) {
                   (*found->second)["reason"] = reason;
                   a["map"] = (*found->second)["map"];
                   a["seats"] = (*found->second)["seats"];
               }
               m_aborted.push_back(a);
           });
}

bool LeagueStats::duplicate(const std::vector<FinishedSeat>& seats) {
    std::string game = std::to_string(seats.front().mapId) + "/" + seats.front().movesDigest;
    for (const FinishedSeat& s : seats) {
        game += "/" + std::to_string(s.version);
    }
    const auto found = m_games.emplace(game, seats.front().matchId);
    if (found.second) {
        return false;
    }
    m_duplicates.push_back({{"match", seats.front().matchId}, {"same_as", found.first->second}});
    return true;
}

void LeagueStats::addMatch(const std::vector<FinishedSeat>& seats) {
    const bool final = seats.front().end == MatchEnd::Final;
    if (final) {
        m_allOrders.push_back(orderOf(seats));
    }
    if (!seats.front().needed) {
        return;
    }
    const auto map = m_maps.find(seats.front().mapId);
    const std::int64_t base =
        map != m_maps.end() && map->second.baseId != 0 ? map->second.baseId : seats.front().mapId;
    const bool copy = final && duplicate(seats);
    listMatch(seats, mapName(base));
    if (copy) {
        m_matchList.back()["same_as"] = m_duplicates.back()["same_as"];
        return;
    }
    m_matches += final ? 1 : 0;
    m_standings.add(gameOf(seats, key(base)));
}

void LeagueStats::listMatch(const std::vector<FinishedSeat>& seats, const std::string& base) {
    const bool final = seats.front().end == MatchEnd::Final;
    json list = json::array();
    for (const FinishedSeat& s : seats) {
        const BotVersion* v = version(s.version);
        list.push_back(
            {{"bot", v ? v->bot : "?"},
             {"version", v ? v->version : 0},
             {"place", final ? json(s.result.rank) : json(nullptr)},
             {"disqualified", Standings::plainReason(s.result.disqualified, s.result.moves > 0)},
             {"reason", s.result.disqualified}});
    }
    m_matchList.push_back({{"match", seats.front().matchId},
                           {"map", base},
                           {"end", MatchRecord::endName(seats.front().end)},
                           {"reason", ""},
                           {"same_as", nullptr},
                           {"seats", list}});
}

std::string LeagueStats::mapName(std::int64_t id) const {
    const auto found = m_maps.find(id);
    return found == m_maps.end() ? "map " + key(id) : found->second.name;
}

const BotVersion* LeagueStats::version(std::int64_t id) const {
    const auto found = m_versionIndex.find(id);
    return found == m_versionIndex.end() ? nullptr : &m_versions[found->second];
}

json LeagueStats::row(const BotVersion& v, const StandingsTally& t) const {
    json row = {{"bot", v.bot},
                {"version", v.version},
                {"version_id", v.id},
                {"matches", t.played},
                {"points", t.points},
                {"wins", t.wins},
                {"draws", t.draws},
                {"losses", t.losses},
                {"disqualified", t.disqualifiedJson()},
                {"average_place", t.averagePlace()},
                {"time_per_move_ms", t.averageTimeMs()},
                {"time_max_ms", t.timeMsMax},
                {"cpu_per_move_ms", t.averageCpuMs()},
                {"rated", false}};
    for (const char* k : {"elo", "elo_low", "elo_high"}) {
        row[k] = nullptr;
    }
    return row;
}

json LeagueStats::standings(const std::string& scope, bool& prior) const {
    // Only versions that played are rated: one without matches has no rating to give.
    std::vector<std::string> played;
    for (const BotVersion& v : m_versions) {
        if (v.current && m_standings.tally(key(v.id), scope).played > 0) {
            played.push_back(key(v.id));
        }
    }
    const RatingFit fit = Standings::fit(played, m_standings.orders(scope));
    prior = prior || fit.prior;
    json rows = json::array();
    for (const BotVersion& v : m_versions) {
        if (!v.current) {
            continue;
        }
        rows.push_back(row(v, m_standings.tally(key(v.id), scope)));
        const auto rated = std::find(played.begin(), played.end(), key(v.id));
        if (rated != played.end()) {
            const size_t i = static_cast<size_t>(rated - played.begin());
            json& r = rows.back();
            r["rated"] = true;
            r["elo"] = Standings::elo(fit.elo[i]);
            r["elo_low"] = Standings::elo(fit.low[i]);
            r["elo_high"] = Standings::elo(fit.high[i]);
        }
    }
    Standings::sort(rows);
    return rows;
}

json LeagueStats::crosstable() const {
    json names = json::array();
    json cells = json::array();
    std::vector<const BotVersion*> current;
    for (const BotVersion& v : m_versions) {
        if (v.current) {
            current.push_back(&v);
            names.push_back(v.bot);
        }
    }
    for (const BotVersion* a : current) {
        json row = json::array();
        for (const BotVersion* b : current) {
            const auto c = m_standings.versus(key(a->id), key(b->id));
            row.push_back(c ? json{{"score", c->first}, {"matches", c->second}} : json(nullptr));
        }
        cells.push_back(row);
    }
    return {{"bots", names}, {"cells", cells}};
}

json LeagueStats::perSeat(const std::string& scope) const {
    json out = json::array();
    for (const auto& seat : m_standings.seats(scope)) {
        json bots = json::array();
        for (const BotVersion& v : m_versions) {
            const auto t = seat.second.find(key(v.id));
            if (!v.current || t == seat.second.end()) {
                continue;
            }
            bots.push_back({{"bot", v.bot},
                            {"matches", t->second.played},
                            {"points", t->second.points},
                            {"average_place", t->second.averagePlace()}});
        }
        out.push_back({{"seat", seat.first}, {"bots", bots}});
    }
    return out;
}

json LeagueStats::history() const {
    std::map<std::string, int> counts;
    for (const StandingsOrder& order : m_allOrders) {
        for (const auto& group : order) {
            for (const std::string& v : group) {
                ++counts[v];
            }
        }
    }
    // Rated in the order the database lists the versions.
    std::vector<std::string> all;
    for (const BotVersion& v : m_versions) {
        if (counts.count(key(v.id)) != 0) {
            all.push_back(key(v.id));
        }
    }
    const RatingFit fit = Standings::fit(all, m_allOrders);
    json out = json::array();
    for (const BotVersion& v : m_versions) {
        if (out.empty() || out.back()["bot"] != v.bot) {
            out.push_back({{"bot", v.bot}, {"versions", json::array()}});
        }
        const auto rated = std::find(all.begin(), all.end(), key(v.id));
        json version = {{"version", v.version},
                        {"version_id", v.id},
                        {"command", v.command},
                        {"current", v.current},
                        {"matches", counts.count(key(v.id)) ? counts.at(key(v.id)) : 0}};
        version["elo"] = rated != all.end()
                             ? Standings::elo(fit.elo[static_cast<size_t>(rated - all.begin())])
                             : json(nullptr);
        out.back()["versions"].push_back(version);
    }
    return out;
}

json LeagueStats::mapsJson(bool& prior) const {
    json maps = json::array();
    for (const auto& entry : m_maps) {
        const LeagueMap& m = entry.second;
        if (!m.current || m.baseId != 0) {
            continue;
        }
        maps.push_back({{"map", m.name},
                        {"map_id", m.id},
                        {"seats", m.seats},
                        {"standings", standings(key(m.id), prior)},
                        {"per_seat", perSeat(key(m.id))}});
    }
    return maps;
}

json LeagueStats::tables() const {
    bool prior = false;
    const json maps = mapsJson(prior);
    json out = {{"format", "reversi-league-1"},
                {"matches", m_matches},
                {"order", Standings::ORDER},
                {"limits", m_limits},
                {"standings", standings("", prior)},
                {"maps", maps},
                {"crosstable", crosstable()},
                {"history", history()},
                {"aborted", m_aborted},
                {"duplicates", m_duplicates}};
    out["prior"] = prior;
    return out;
}
