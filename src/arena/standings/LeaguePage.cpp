#include "LeaguePage.h"

#include "LeagueStats.h"
#include "LeagueTables.h"
#include "MatchPage.h"
#include "MatchRecord.h"
#include "ReportPage.h"
#include "Standings.h"
#include "StandingsTable.h"
#include "WebAssets.h"

#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

/// One row of cells, each already markup.
using Row = std::vector<std::string>;

std::string escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
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

/// A value as escaped text: strings as they are, numbers as JSON writes them, null as "-".
std::string text(const json& v) {
    return v.is_null() ? "-" : escape(v.is_string() ? v.get<std::string>() : v.dump());
}

std::string fixed(const json& v, int digits) {
    return StandingsTable::fixed(v, digits);
}

/// A table; columns whose heading starts with "<" are left aligned (the "<" is dropped).
std::string table(const std::string& id, const std::vector<std::string>& head,
                  const std::vector<Row>& rows) {
    std::vector<bool> left;
    std::string out = "<table" + (id.empty() ? "" : " id=\"" + id + "\"") + "><tr>";
    for (const std::string& h : head) {
        left.push_back(!h.empty() && h[0] == '<');
        out += (left.back() ? "<th class=\"left\">" : "<th>") +
               escape(left.back() ? h.substr(1) : h) + "</th>";
    }
    out += "</tr>\n";
    for (const Row& row : rows) {
        out += "<tr>";
        for (size_t i = 0; i < row.size(); ++i) {
            out += (i < left.size() && left[i] ? "<td class=\"left\">" : "<td>") + row[i] + "</td>";
        }
        out += "</tr>\n";
    }
    return out + "</table>\n";
}

std::string matchLink(const json& match) {
    const std::string label = "m" + text(match["match"]);
    const std::string page = match.value("page", "");
    return page.empty() ? label : "<a href=\"" + escape(page) + "\">" + label + "</a>";
}

/// A bot's CPU time per move, "-" where no record of its matches gave its CPU time.
std::string cpuCell(const json& row) {
    const json cpu = row.value("cpu_per_move_ms", json());
    return cpu.is_number() ? fixed(cpu, 0) : "-";
}

std::string standingsTable(const std::string& id, const json& rows) {
    std::vector<Row> out;
    for (const json& r : rows) {
        const bool rated = r.value("rated", false);
        out.push_back({rated ? std::to_string(out.size() + 1) : "", text(r["bot"]),
                       text(r["version"]), rated ? fixed(r["elo"], 1) : "not rated",
                       rated ? fixed(r["elo_low"], 1) + " … " + fixed(r["elo_high"], 1) : "",
                       r["matches"] == 0 ? "no matches" : text(r["matches"]), fixed(r["points"], 1),
                       fixed(r["average_place"], 2),
                       text(r["wins"]) + "/" + text(r["draws"]) + "/" + text(r["losses"]),
                       r["time_per_move_ms"].is_null()
                           ? "-"
                           : fixed(r["time_per_move_ms"], 0) + " / " + fixed(r["time_max_ms"], 0),
                       cpuCell(r), escape(Standings::reasonsCell(r["disqualified"]))});
    }
    return table(id,
                 {"#", "<bot", "version", "Elo", "95 % interval", "matches", "points", "avg place",
                  "W/D/L", "ms per move (avg / max)", "CPU ms per move", "<disqualified"},
                 out);
}

std::string perSeatTable(const json& perSeat) {
    std::vector<Row> rows;
    for (const json& seat : perSeat) {
        for (const json& b : seat["bots"]) {
            rows.push_back({text(seat["seat"]), text(b["bot"]), text(b["matches"]),
                            fixed(b["points"], 1), fixed(b["average_place"], 2)});
        }
    }
    return rows.empty() ? std::string()
                        : "<h4>Places per seat</h4>\n" +
                              table("", {"seat", "<bot", "matches", "points", "avg place"}, rows);
}

std::string mapsSection(const json& maps) {
    std::string out = "<h2 id=\"maps\">Per map</h2>\n";
    for (const json& m : maps) {
        out += "<h3>" + text(m["map"]) + " <small>(" + text(m["seats"]) + " seats)</small></h3>\n" +
               standingsTable("", m["standings"]) + perSeatTable(m["per_seat"]);
    }
    return out;
}

std::string crosstableSection(const json& cross) {
    std::vector<std::string> head{"<bot"};
    for (const json& b : cross["bots"]) {
        head.push_back(b.get<std::string>());
    }
    std::vector<Row> rows;
    for (size_t i = 0; i < cross["bots"].size(); ++i) {
        Row row{text(cross["bots"][i])};
        for (const json& c : cross["cells"][i]) {
            row.push_back(c.is_null() ? "" : fixed(c["score"], 1) + " / " + text(c["matches"]));
        }
        rows.push_back(row);
    }
    return "<h2 id=\"crosstable\">Crosstable</h2>\n<p class=\"note\">Score of the row's bot "
           "against the column's (a win 1, a shared place a half), over the matches they "
           "finished together.</p>\n" +
           table("crosstable-table", head, rows);
}

std::string versionsSection(const json& history) {
    std::vector<Row> rows;
    for (const json& h : history) {
        for (const json& v : h["versions"]) {
            rows.push_back({text(h["bot"]), text(v["version"]),
                            "<code>" + text(v["command"]) + "</code>",
                            v["current"].get<bool>() ? "current" : "", text(v["matches"]),
                            v["matches"] == 0 ? "no matches" : fixed(v["elo"], 1)});
        }
    }
    return "<h2 id=\"versions\">Versions</h2>\n<p class=\"note\">Every command a bot has had; "
           "ratings fitted over every match ever played.</p>\n" +
           table("versions-table", {"<bot", "version", "<command", "<", "matches", "Elo"}, rows);
}

} // namespace

namespace {

std::string placedLineUp(const json& seats) {
    std::string out;
    for (const json& s : seats) {
        out += (out.empty() ? "" : ", ") + text(s["bot"]) + " v" + text(s["version"]);
        if (!s["place"].is_null()) {
            out += " (" + text(s["place"]) + ")";
        }
    }
    return out;
}

std::string disqualificationsSection(const json& matches) {
    // By plain reason, then by bot: how often, and in which matches.
    std::map<std::string, std::map<std::string, std::vector<const json*>>> byReason;
    for (const json& m : matches) {
        for (const json& s : m["seats"]) {
            const std::string reason = s["disqualified"].get<std::string>();
            if (!reason.empty()) {
                byReason[reason][s["bot"].get<std::string>() + " v" + s["version"].dump()]
                    .push_back(&m);
            }
        }
    }
    std::vector<Row> rows;
    for (const auto& reason : byReason) {
        for (const auto& bot : reason.second) {
            std::string links;
            for (const json* m : bot.second) {
                links += (links.empty() ? "" : " ") + matchLink(*m);
            }
            rows.push_back({escape(reason.first), escape(bot.first),
                            std::to_string(bot.second.size()), links});
        }
    }
    const std::string body = rows.empty() ? "<p>None.</p>\n"
                                          : table("disqualifications-table",
                                                  {"<reason", "<bot", "times", "<matches"}, rows);
    return "<h2 id=\"disqualifications\">Disqualifications by reason</h2>\n" + body;
}

std::string matchesSection(const json& matches) {
    std::vector<Row> rows;
    for (const json& m : matches) {
        const bool final = MatchRecord::endNamed(text(m["end"])) == MatchEnd::Final;
        std::string end =
            final ? "finished"
                  : "did not finish (" + text(m["end"]) + "): " + text(m.value("reason", ""));
        if (!m["same_as"].is_null()) {
            end += ", the same game as m" + text(m["same_as"]) + " (counted once)";
        }
        std::string reasons;
        for (const json& s : m["seats"]) {
            if (!s["reason"].get<std::string>().empty()) {
                reasons += (reasons.empty() ? "" : "; ") + text(s["bot"]) + ": " +
                           text(s["disqualified"]) + " (" + text(s["reason"]) + ")";
            }
        }
        rows.push_back({matchLink(m), text(m["map"]), placedLineUp(m["seats"]), end, reasons});
    }
    return "<h2 id=\"matches\">Matches</h2>\n" +
           table("matches-table", {"<match", "<map", "<bots (place)", "<end", "<disqualified"},
                 rows);
}

std::string head() {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
           "style-src 'unsafe-inline'\">\n<title>League standings</title>\n<style>\n" +
           std::string(WebAssets::find("match.css")) +
           "td.left, th.left { text-align: left; }\nnav a { margin-right: 0.8rem; }\n"
           "</style>\n</head>\n";
}

} // namespace

std::string LeaguePage::build(const json& tables, const json& matches) {
    std::string page =
        head() + "<body class=\"report\">\n<header>\n<h1>League standings</h1>\n" +
        "<p id=\"summary\">" + text(tables["matches"]) + " matches counted; " +
        escape(LeagueTables::limitSummary(tables)) +
        "</p>\n</header>\n<nav><a href=\"#standings\">Standings</a><a href=\"#maps\">Per map</a>"
        "<a href=\"#crosstable\">Crosstable</a><a href=\"#versions\">Versions</a>"
        "<a href=\"#disqualifications\">Disqualifications</a><a href=\"#matches\">Matches</a>"
        "</nav>\n";
    page += "<h2 id=\"standings\">Standings</h2>\n<p class=\"note\" id=\"order\">" +
            escape(Standings::ORDER) + "</p>\n" +
            standingsTable("standings-table", tables["standings"]);
    if (tables.value("prior", false)) {
        page += "<p class=\"note\">Some bot won or lost every comparison: a weak prior keeps the "
                "ratings finite.</p>\n";
    }
    page += mapsSection(tables["maps"]) + crosstableSection(tables["crosstable"]) +
            versionsSection(tables["history"]) + disqualificationsSection(matches) +
            matchesSection(matches);
    return page + "</body>\n</html>\n";
}

bool LeaguePage::write(League& league, const std::string& outPath, std::string& error) {
    LeagueStats stats;
    if (!stats.load(league)) {
        error = league.error();
        return false;
    }
    json matches = stats.matches();
    const fs::path pages(ReportPage::matchFolder(outPath));
    std::error_code ec;
    if (!matches.empty() && !fs::create_directories(pages, ec) && ec) {
        error = "cannot make the folder " + pages.string() + ": " + ec.message();
        return false;
    }
    for (json& m : matches) {
        json record;
        bool found = false;
        const std::string name = "m" + m["match"].dump() + ".html";
        if (!league.record(m["match"].get<std::int64_t>(), record, found)) {
            error = league.error();
            return false;
        }
        if (!found) {
            continue;
        }
        if (!MatchPage::writeAtomically((pages / name).string(), MatchPage::build(record.dump()),
                                        error)) {
            return false;
        }
        m["page"] = (pages.filename() / name).generic_string();
    }
    json tables = stats.tables();
    if (!LeagueTables::addLimits(league, tables)) {
        error = league.error();
        return false;
    }
    return MatchPage::writeAtomically(outPath, build(tables, matches), error);
}
