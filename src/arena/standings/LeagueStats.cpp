#include "LeagueStats.h"

#include "Ratings.h"

#include <algorithm>
#include <cmath>

using json = nlohmann::json;

namespace {

/// "Invalid move: Player 1 (x,y)=(0,0). time left: ..." counts as "Invalid move".
std::string reasonKind(const std::string& reason) {
    return reason.substr(0, reason.find(':'));
}

json eloValue(double v) {
    return std::isfinite(v) ? json(std::round(v * 10) / 10) : json(nullptr);
}

/// Fits the orders over the given versions; the fitted elo, low and high by version id.
std::map<std::int64_t, std::vector<double>>
fitOrders(const std::vector<std::int64_t>& versions,
          const std::vector<std::vector<std::vector<std::int64_t>>>& orders, bool& prior) {
    std::map<std::int64_t, unsigned> index;
    for (const std::int64_t v : versions) {
        index.emplace(v, static_cast<unsigned>(index.size()));
    }
    Ratings ratings(static_cast<unsigned>(index.size()));
    for (const auto& order : orders) {
        std::vector<std::vector<unsigned>> groups;
        for (const auto& group : order) {
            groups.emplace_back();
            for (const std::int64_t v : group) {
                groups.back().push_back(index.at(v));
            }
        }
        ratings.addMatch(groups);
    }
    const RatingFit fit = ratings.fit();
    prior = prior || fit.prior;
    std::map<std::int64_t, std::vector<double>> out;
    for (const auto& entry : index) {
        out[entry.first] = {fit.elo[entry.second], fit.low[entry.second], fit.high[entry.second]};
    }
    return out;
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
    return ok && league.unfinished([&](std::int64_t id, const std::string& key,
                                       const std::string& end, const std::string& reason) {
        m_aborted.push_back({{"match", id}, {"key", key}, {"end", end}, {"reason", reason}});
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
    const bool final = seats.front().end == "final";
    if (final) {
        Order order;
        std::map<int, std::vector<std::int64_t>> byRank;
        for (const FinishedSeat& s : seats) {
            byRank[s.result.rank].push_back(s.version);
        }
        for (auto& entry : byRank) {
            order.push_back(entry.second);
        }
        m_allOrders.push_back(order);
    }
    if (!seats.front().needed || (final && duplicate(seats))) {
        return;
    }
    const auto map = m_maps.find(seats.front().mapId);
    const std::int64_t base =
        map != m_maps.end() && map->second.baseId != 0 ? map->second.baseId : seats.front().mapId;
    for (const FinishedSeat& s : seats) {
        for (Tally* t : {&m_overall.tallies[s.version], &m_perMap[base].tallies[s.version]}) {
            t->moves += s.result.moves;
            t->timeSum += s.result.timeMsSum;
            t->timeMax = std::max(t->timeMax, s.result.timeMsMax);
            if (!s.result.disqualified.empty()) {
                ++t->disqualified[reasonKind(s.result.disqualified)];
            }
        }
    }
    if (final) {
        addFinal(seats, base);
    }
}

void LeagueStats::addFinal(const std::vector<FinishedSeat>& seats, std::int64_t map) {
    ++m_matches;
    m_overall.orders.push_back(m_allOrders.back());
    m_perMap[map].orders.push_back(m_allOrders.back());
    const size_t k = seats.size();
    for (size_t s = 0; s < k; ++s) {
        const int rank = seats[s].result.rank;
        int worse = 0;
        int same = 0;
        for (size_t t = 0; t < k; ++t) {
            const int other = seats[t].result.rank;
            worse += other > rank ? 1 : 0;
            same += t != s && other == rank ? 1 : 0;
            if (t != s && seats[t].version != seats[s].version) {
                auto& c = m_cross[{seats[s].version, seats[t].version}];
                c.first += rank < other ? 1.0 : rank == other ? 0.5 : 0.0;
                ++c.second;
            }
        }
        const double points = k > 1 ? (worse + 0.5 * same) / double(k - 1) : 1.0;
        Tally& seatTally = m_seats[map][static_cast<int>(s + 1)][seats[s].version];
        for (Tally* t : {&m_overall.tallies[seats[s].version],
                         &m_perMap[map].tallies[seats[s].version], &seatTally}) {
            ++t->matches;
            t->points += points;
            t->placeSum += rank;
            (rank == 1 && same == 0 ? t->wins : rank == 1 ? t->draws : t->losses)++;
        }
    }
}

std::vector<std::int64_t> LeagueStats::currentVersions() const {
    std::vector<std::int64_t> out;
    for (const BotVersion& v : m_versions) {
        if (v.current) {
            out.push_back(v.id);
        }
    }
    return out;
}

json LeagueStats::standings(const Scope& scope, bool& prior) const {
    const std::vector<std::int64_t> current = currentVersions();
    // Only versions that played are rated: one without matches has no rating to give.
    std::vector<std::int64_t> played;
    for (const std::int64_t v : current) {
        const auto t = scope.tallies.find(v);
        if (t != scope.tallies.end() && t->second.matches > 0) {
            played.push_back(v);
        }
    }
    const auto fit = fitOrders(played, scope.orders, prior);
    json rows = json::array();
    for (const BotVersion& v : m_versions) {
        if (!v.current) {
            continue;
        }
        const auto found = scope.tallies.find(v.id);
        const Tally t = found != scope.tallies.end() ? found->second : Tally();
        json row = {
            {"bot", v.bot},         {"version", v.version}, {"version_id", v.id},
            {"matches", t.matches}, {"points", t.points},   {"wins", t.wins},
            {"draws", t.draws},     {"losses", t.losses},   {"disqualified", t.disqualified}};
        row["average_place"] = t.matches ? json(t.placeSum / t.matches) : json(nullptr);
        row["time_per_move_ms"] =
            t.moves ? json(static_cast<double>(t.timeSum) / static_cast<double>(t.moves))
                    : json(nullptr);
        row["time_max_ms"] = t.timeMax;
        const auto rated = fit.find(v.id);
        row["rated"] = rated != fit.end();
        for (const char* key : {"elo", "elo_low", "elo_high"}) {
            row[key] = nullptr;
        }
        if (rated != fit.end()) {
            row["elo"] = eloValue(rated->second[0]);
            row["elo_low"] = eloValue(rated->second[1]);
            row["elo_high"] = eloValue(rated->second[2]);
        }
        rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const json& a, const json& b) {
        if (a["elo"].is_number() != b["elo"].is_number()) {
            return a["elo"].is_number();
        }
        return a["elo"].is_number() ? a["elo"] > b["elo"] : a["points"] > b["points"];
    });
    return rows;
}

json LeagueStats::crosstable() const {
    json names = json::array();
    json cells = json::array();
    const std::vector<std::int64_t> current = currentVersions();
    for (const std::int64_t a : current) {
        for (const BotVersion& v : m_versions) {
            if (v.id == a) {
                names.push_back(v.bot);
            }
        }
        json row = json::array();
        for (const std::int64_t b : current) {
            const auto c = m_cross.find({a, b});
            row.push_back(c == m_cross.end()
                              ? json(nullptr)
                              : json{{"score", c->second.first}, {"matches", c->second.second}});
        }
        cells.push_back(row);
    }
    return {{"bots", names}, {"cells", cells}};
}

json LeagueStats::perSeat(std::int64_t map) const {
    json out = json::array();
    const auto seats = m_seats.find(map);
    if (seats == m_seats.end()) {
        return out;
    }
    for (const auto& seat : seats->second) {
        json bots = json::array();
        for (const BotVersion& v : m_versions) {
            const auto t = seat.second.find(v.id);
            if (!v.current || t == seat.second.end()) {
                continue;
            }
            bots.push_back({{"bot", v.bot},
                            {"matches", t->second.matches},
                            {"points", t->second.points},
                            {"average_place", t->second.placeSum / t->second.matches}});
        }
        out.push_back({{"seat", seat.first}, {"bots", bots}});
    }
    return out;
}

json LeagueStats::history() const {
    std::vector<std::int64_t> all;
    std::map<std::int64_t, int> counts;
    for (const Order& order : m_allOrders) {
        for (const auto& group : order) {
            for (const std::int64_t v : group) {
                ++counts[v];
            }
        }
    }
    all.reserve(counts.size());
    for (const auto& entry : counts) {
        all.push_back(entry.first);
    }
    bool prior = false;
    const auto fit = fitOrders(all, m_allOrders, prior);
    json out = json::array();
    for (const BotVersion& v : m_versions) {
        if (out.empty() || out.back()["bot"] != v.bot) {
            out.push_back({{"bot", v.bot}, {"versions", json::array()}});
        }
        const auto rated = fit.find(v.id);
        json version = {{"version", v.version},
                        {"version_id", v.id},
                        {"command", v.command},
                        {"current", v.current},
                        {"matches", counts.count(v.id) ? counts.at(v.id) : 0}};
        version["elo"] = rated != fit.end() ? eloValue(rated->second[0]) : json(nullptr);
        out.back()["versions"].push_back(version);
    }
    return out;
}

json LeagueStats::tables() const {
    bool prior = false;
    json maps = json::array();
    for (const auto& entry : m_maps) {
        const LeagueMap& m = entry.second;
        if (!m.current || m.baseId != 0) {
            continue;
        }
        const auto scope = m_perMap.find(m.id);
        maps.push_back(
            {{"map", m.name},
             {"map_id", m.id},
             {"seats", m.seats},
             {"standings", standings(scope != m_perMap.end() ? scope->second : Scope(), prior)},
             {"per_seat", perSeat(m.id)}});
    }
    json out = {{"format", "reversi-league-1"},
                {"matches", m_matches},
                {"standings", standings(m_overall, prior)},
                {"maps", maps},
                {"crosstable", crosstable()},
                {"history", history()},
                {"aborted", m_aborted},
                {"duplicates", m_duplicates}};
    out["prior"] = prior;
    return out;
}
