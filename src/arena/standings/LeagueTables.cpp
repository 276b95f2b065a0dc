#include "LeagueTables.h"

#include "LeagueStats.h"
#include "Standings.h"
#include "StandingsTable.h"

#include <iomanip>
#include <sstream>

using json = nlohmann::json;

namespace {

/// A league's rows in the form of the shared text table.
json leagueRows(const json& rows) {
    json out = json::array();
    for (const json& b : rows) {
        json row = StandingsTable::row(b["bot"].get<std::string>() + " v" + b["version"].dump(), b,
                                       "time_per_move_ms", "time_max_ms", "cpu_per_move_ms");
        row["unplayed"] = b["matches"] == 0;
        out.push_back(row);
    }
    return out;
}

/// "A v1, B v2" of a match's seats.
std::string lineUp(const json& seats) {
    std::string out;
    for (const json& s : seats) {
        out += (out.empty() ? "" : ", ") + s["bot"].get<std::string>() + " v" + s["version"].dump();
    }
    return out;
}

void printCrosstable(const json& cross, std::ostream& os) {
    os << "\nCrosstable (score of the row against the column / matches)\n" << std::setw(20) << "";
    for (const json& name : cross["bots"]) {
        os << std::setw(12) << name.get<std::string>().substr(0, 11);
    }
    os << '\n';
    for (size_t i = 0; i < cross["bots"].size(); ++i) {
        os << std::left << std::setw(20) << cross["bots"][i].get<std::string>() << std::right;
        for (const json& c : cross["cells"][i]) {
            os << std::setw(12)
               << (c.is_null() ? std::string("-")
                               : StandingsTable::fixed(c["score"], 1) + "/" +
                                     std::to_string(c["matches"].get<int>()));
        }
        os << '\n';
    }
}

void printRest(const json& t, std::ostream& os) {
    for (const json& h : t["history"]) {
        os << "\n" << h["bot"].get<std::string>() << ": ";
        for (const json& v : h["versions"]) {
            os << "v" << v["version"].dump() << (v["current"].get<bool>() ? "*" : "") << ' '
               << (v["matches"] == 0 ? std::string("no matches")
                                     : StandingsTable::fixed(v["elo"], 1))
               << "  ";
        }
    }
    os << '\n';
    for (const json& a : t["aborted"]) {
        os << "Match " << a["match"].dump();
        if (a.contains("map")) {
            os << " on " << a["map"].get<std::string>() << " (" << lineUp(a["seats"]) << ")";
        }
        os << " did not finish (" << a["end"].get<std::string>()
           << "): " << a["reason"].get<std::string>() << '\n';
    }
    if (!t["duplicates"].empty()) {
        os << t["duplicates"].size() << " duplicated games counted once: ";
        for (const json& d : t["duplicates"]) {
            os << "m" << d["match"].dump() << "=m" << d["same_as"].dump() << ' ';
        }
        os << '\n';
    }
    if (t["prior"].get<bool>()) {
        os << "Some bot won or lost every comparison: a weak prior keeps the ratings finite.\n";
    }
}

} // namespace

bool LeagueTables::compute(League& league, json& out) {
    LeagueStats stats;
    if (!stats.load(league)) {
        return false;
    }
    out = stats.tables();
    return addLimits(league, out);
}

bool LeagueTables::addLimits(League& league, json& out) {
    std::vector<LeagueLimit> inForce;
    std::vector<std::pair<LeagueLimit, size_t>> kept;
    if (!league.limitsInForce(inForce) || !league.keptLimits(kept)) {
        return false;
    }
    out["in_force"] = json::array();
    for (const LeagueLimit& l : inForce) {
        out["in_force"].push_back({{"time_ms", l.timeMs()}, {"depth", l.depth()}});
    }
    out["earlier_limits"] = json::array();
    for (const auto& [limit, matches] : kept) {
        out["earlier_limits"].push_back({{"time_ms", limit.timeMs()},
                                         {"depth", limit.depth()},
                                         {"text", limit.text()},
                                         {"option", limit.option()},
                                         {"matches", matches}});
    }
    out["earlier"] = league.view().has_value() && out["limits"] != out["in_force"];
    return true;
}

std::string LeagueTables::limitSummary(const json& t) {
    if (t.value("earlier", false)) {
        return "under the earlier limit " + Standings::limitText(t["limits"]) +
               " (in force now: " + Standings::limitText(t["in_force"]) + ")";
    }
    return "limit in force: " + Standings::limitText(t["limits"]);
}

void LeagueTables::print(const json& t, std::ostream& os, size_t top) {
    os << "Standings (" << t["matches"].get<int>() << " matches; " << limitSummary(t) << ")\n";
    if (!t.value("earlier", false) && t.contains("earlier_limits")) {
        for (const json& l : t["earlier_limits"]) {
            os << "Kept under the earlier limit " << l["text"].get<std::string>() << ": "
               << l["matches"].get<size_t>() << " matches (--limit "
               << l["option"].get<std::string>() << ")\n";
        }
    }
    StandingsTable::print(leagueRows(t["standings"]), os, top);
    if (top > 0) {
        return;
    }
    for (const json& m : t["maps"]) {
        os << "\nMap " << m["map"].get<std::string>() << " (" << m["seats"].get<int>()
           << " seats)\n";
        StandingsTable::print(leagueRows(m["standings"]), os);
        for (const json& seat : m["per_seat"]) {
            os << "  seat " << seat["seat"].get<int>() << ":";
            for (const json& b : seat["bots"]) {
                os << ' ' << b["bot"].get<std::string>() << " place "
                   << StandingsTable::fixed(b["average_place"], 2) << " ("
                   << b["matches"].get<int>() << ")";
            }
            os << '\n';
        }
    }
    printCrosstable(t["crosstable"], os);
    printRest(t, os);
}
