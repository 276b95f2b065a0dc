#include "LeagueTables.h"

#include "LeagueStats.h"
#include "Report.h"

#include <iomanip>
#include <sstream>

using json = nlohmann::json;

namespace {

std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string cell(const json& v) {
    return escape(v.is_string() ? v.get<std::string>() : v.dump());
}

void printStandings(const json& rows, std::ostream& os, size_t top) {
    os << std::left << std::setw(4) << "#" << std::setw(20) << "bot" << std::right << std::setw(8)
       << "matches" << std::setw(9) << "points" << std::setw(7) << "place" << std::setw(12)
       << "W/D/L" << std::setw(9) << "elo" << std::setw(18) << "95 %" << '\n';
    size_t n = 0;
    for (const json& b : rows) {
        if (top > 0 && n >= top) {
            break;
        }
        const std::string name = b["bot"].get<std::string>() + " v" + b["version"].dump();
        os << std::left << std::setw(4) << ++n << std::setw(20) << name << std::right;
        if (b["matches"] == 0) {
            os << std::setw(8) << 0 << "  no matches\n";
            continue;
        }
        os << std::setw(8) << b["matches"].get<int>() << std::setw(9)
           << Report::fixed(b["points"], 1) << std::setw(7) << Report::fixed(b["average_place"], 2)
           << std::setw(12)
           << (b["wins"].dump() + "/" + b["draws"].dump() + "/" + b["losses"].dump())
           << std::setw(9) << Report::fixed(b["elo"], 1) << std::setw(18)
           << ("[" + Report::fixed(b["elo_low"], 1) + ", " + Report::fixed(b["elo_high"], 1) + "]")
           << '\n';
    }
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
                               : Report::fixed(c["score"], 1) + "/" +
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
               << (v["matches"] == 0 ? std::string("no matches") : Report::fixed(v["elo"], 1))
               << "  ";
        }
    }
    os << '\n';
    for (const json& a : t["aborted"]) {
        os << "aborted m" << a["match"].dump() << " (" << a["key"].get<std::string>()
           << "): " << a["end"].get<std::string>() << ": " << a["reason"].get<std::string>()
           << '\n';
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

std::string htmlTable(const json& rows, const std::vector<std::string>& columns) {
    std::string out = "<table><tr>";
    for (const std::string& c : columns) {
        out += "<th>" + escape(c) + "</th>";
    }
    out += "</tr>";
    for (const json& row : rows) {
        out += "<tr>";
        for (const std::string& c : columns) {
            out += "<td>" + (row.contains(c) ? cell(row[c]) : std::string()) + "</td>";
        }
        out += "</tr>";
    }
    return out + "</table>\n";
}

} // namespace

bool LeagueTables::compute(League& league, json& out) {
    LeagueStats stats;
    if (!stats.load(league)) {
        return false;
    }
    out = stats.tables();
    return true;
}

void LeagueTables::print(const json& t, std::ostream& os, size_t top) {
    os << "Standings (" << t["matches"].get<int>() << " matches)\n";
    printStandings(t["standings"], os, top);
    if (top > 0) {
        return;
    }
    for (const json& m : t["maps"]) {
        os << "\nMap " << m["map"].get<std::string>() << " (" << m["seats"].get<int>()
           << " seats)\n";
        printStandings(m["standings"], os, 0);
        for (const json& seat : m["per_seat"]) {
            os << "  seat " << seat["seat"].get<int>() << ":";
            for (const json& b : seat["bots"]) {
                os << ' ' << b["bot"].get<std::string>() << " place "
                   << Report::fixed(b["average_place"], 2) << " (" << b["matches"].get<int>()
                   << ")";
            }
            os << '\n';
        }
    }
    printCrosstable(t["crosstable"], os);
    printRest(t, os);
}

std::string LeagueTables::html(const json& t) {
    const std::vector<std::string> standing{
        "bot",      "version",      "matches",          "points",     "average_place",
        "wins",     "draws",        "losses",           "elo",        "elo_low",
        "elo_high", "disqualified", "time_per_move_ms", "time_max_ms"};
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'\"><title>League</title><style>td,th{padding:2px 8px;"
        "text-align:right}</style></head><body>\n<h1>Standings</h1>\n" +
        htmlTable(t["standings"], standing);
    for (const json& m : t["maps"]) {
        page += "<h2>Map " + cell(m["map"]) + "</h2>\n" + htmlTable(m["standings"], standing);
    }
    json cross = json::array();
    for (size_t i = 0; i < t["crosstable"]["bots"].size(); ++i) {
        json row = {{"bot", t["crosstable"]["bots"][i]}};
        for (size_t j = 0; j < t["crosstable"]["bots"].size(); ++j) {
            const json& c = t["crosstable"]["cells"][i][j];
            row[t["crosstable"]["bots"][j].get<std::string>()] =
                c.is_null() ? "-" : Report::fixed(c["score"], 1) + "/" + c["matches"].dump();
        }
        cross.push_back(row);
    }
    std::vector<std::string> crossColumns{"bot"};
    for (const json& b : t["crosstable"]["bots"]) {
        crossColumns.push_back(b);
    }
    page += "<h2>Crosstable</h2>\n" + htmlTable(cross, crossColumns);
    page +=
        "<h2>Aborted matches</h2>\n" + htmlTable(t["aborted"], {"match", "key", "end", "reason"});
    page += "<h2>Duplicated games</h2>\n" + htmlTable(t["duplicates"], {"match", "same_as"});
    return page + "</body></html>\n";
}
