#include "Report.h"

#include "MatchRecord.h"
#include "RecordsFolder.h"
#include "ServerFacts.h"
#include "Standings.h"
#include "StandingsTable.h"

#include <algorithm>
#include <map>
#include <set>

using json = nlohmann::json;

namespace {

/// What a tournament's report counts beyond the standings engine, per bot.
struct Extra {
    unsigned silent = 0;
    unsigned untimed = 0;
    unsigned timeouts = 0;
    /// Disqualifications by the server's reason, up to its first colon ("Invalid move: Player
    /// 1 (x,y)=(0,0). time left: ..." counts as "Invalid move").
    std::map<std::string, unsigned> kinds;
};

/// What the report gathers, one record at a time. Bots are keyed by name in ordered maps, so
/// any name (even "__proto__") is only a key.
struct Tally {
    size_t records = 0;
    json skipped = json::array();
    json warnings = json::array();
    std::map<std::string, unsigned> ends;
    std::map<std::string, Extra> extra;
    std::set<std::pair<std::uint32_t, std::uint32_t>> limits;
    Standings standings;
};

/// Whether the seat made one of the moves applied before the disqualification.
bool movedBefore(const MatchRecord& r, const RecordDisqualification& d) {
    const auto end =
        r.moves.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(d.atMove, r.moves.size()));
    return std::any_of(r.moves.begin(), end,
                       [&d](const RecordMove& m) { return m.seat == d.seat; });
}

void countExtras(const MatchRecord& r, Tally& t) {
    for (const RecordSeat& seat : r.seats) {
        Extra& e = t.extra[seat.bot];
        if (seat.untimed) {
            ++e.untimed;
            t.warnings.push_back(r.id + ": seat " + std::to_string(seat.seat) + " (" + seat.bot +
                                 ") announced group " +
                                 std::to_string(ServerFacts::UNTIMED_GROUP_ID) +
                                 " and was not timed");
        }
        if (!r.result.final()) {
            e.silent += r.result.silentSeat == seat.seat ? 1 : 0;
        }
    }
    for (const RecordDisqualification& d : r.disqualifications) {
        Extra& e = t.extra[r.seats[d.seat - 1].bot];
        ++e.kinds[d.reason.substr(0, d.reason.find(':'))];
        e.timeouts += d.reason.find("timeout") != std::string::npos ? 1 : 0;
    }
}

/// Each seat's CPU time and moves, where the record gives its CPU time.
void countCpu(const MatchRecord& r, StandingsGame& game) {
    for (const RecordSeat& seat : r.seats) {
        if (!seat.cpuMs) {
            continue;
        }
        StandingsSeat& s = game.seats[seat.seat - 1];
        s.cpuMs = *seat.cpuMs;
        s.cpuMoves = static_cast<unsigned>(
            std::count_if(r.moves.begin(), r.moves.end(),
                          [&](const RecordMove& m) { return m.seat == seat.seat; }));
    }
}

/// The record as the standings engine counts it: only timed moves give times.
StandingsGame gameOf(const MatchRecord& r) {
    StandingsGame game;
    game.final = r.result.final();
    for (const RecordSeat& seat : r.seats) {
        StandingsSeat s;
        s.bot = seat.bot;
        s.rank = game.final ? r.result.ranks[seat.seat - 1] : 0;
        game.seats.push_back(s);
    }
    // Seats were checked against the seat count when the record was read.
    for (const RecordDisqualification& d : r.disqualifications) {
        game.seats[d.seat - 1].disqualified = Report::plainReason(r, d);
    }
    for (const RecordMove& m : r.moves) {
        if (m.timeMs) {
            StandingsSeat& s = game.seats[m.seat - 1];
            ++s.moves;
            s.timeMsSum += *m.timeMs;
            s.timeMsMax = std::max(s.timeMsMax, *m.timeMs);
        }
    }
    countCpu(r, game);
    return game;
}

void countRecord(const MatchRecord& r, Tally& t) {
    ++t.records;
    ++t.ends[MatchRecord::endName(r.result.end)];
    t.limits.emplace(r.limits.timeMs.value_or(0), r.limits.depth.value_or(0));
    countExtras(r, t);
    t.standings.add(gameOf(r));
}

Tally readFolder(const std::string& dir) {
    Tally t;
    const RecordsFolder folder = RecordsFolder::of(dir);
    for (const std::string& file : folder.list()) {
        MatchRecord record;
        std::string problem;
        if (!folder.read(file, record, problem)) {
            // The fault names the file first; the report lists it beside the file.
            problem = problem.substr(std::min(problem.size(), file.size() + 2));
            t.skipped.push_back({{"file", file}, {"problem", problem}});
            continue;
        }
        countRecord(record, t);
    }
    return t;
}

/// Wins, draws and losses of the first bot against the second, over every pair of their seats.
struct Duel {
    double wins = 0;
    double draws = 0;
    double losses = 0;
};

Duel duelOf(const std::string& bot, const std::string& opponent,
            const std::vector<StandingsOrder>& orders) {
    Duel duel;
    for (const StandingsOrder& order : orders) {
        for (size_t i = 0; i < order.size(); ++i) {
            for (size_t j = 0; j < order.size(); ++j) {
                const auto na = std::count(order[i].begin(), order[i].end(), bot);
                const auto nb = std::count(order[j].begin(), order[j].end(), opponent);
                (i < j    ? duel.wins
                 : i == j ? duel.draws
                          : duel.losses) += static_cast<double>(na * nb);
            }
        }
    }
    return duel;
}

json botJson(const std::string& name, const Tally& t, const RatingFit& fit, size_t i) {
    const StandingsTally b = t.standings.tally(name);
    const Extra& e = t.extra.at(name);
    json places = json::object();
    for (const auto& p : b.places) {
        places[std::to_string(p.first)] = p.second;
    }
    json kinds = json::object();
    for (const auto& d : e.kinds) {
        kinds[d.first] = d.second;
    }
    return {{"name", name},
            {"matches", b.entered},
            {"played", b.played},
            {"unfinished", b.entered - b.played},
            {"silent", e.silent},
            {"points", b.points},
            {"average_place", b.averagePlace()},
            {"wins", b.wins},
            {"draws", b.draws},
            {"losses", b.losses},
            {"places", places},
            {"disqualifications", kinds},
            {"disqualified", b.disqualifiedJson()},
            {"timeouts", e.timeouts},
            {"untimed", e.untimed},
            {"moves", b.moves},
            {"average_time_ms", b.averageTimeMs()},
            {"average_cpu_ms", b.averageCpuMs()},
            {"max_time_ms", b.moves ? json(b.timeMsMax) : json(nullptr)},
            {"elo", Standings::elo(fit.elo[i])},
            {"elo_low", Standings::elo(fit.low[i])},
            {"elo_high", Standings::elo(fit.high[i])}};
}

json limitsJson(const Tally& t) {
    json out = json::array();
    for (const auto& l : t.limits) {
        out.push_back({{"time_ms", l.first}, {"depth", l.second}});
    }
    return out;
}

json duelJson(const std::vector<std::string>& names, const Duel& d, const SprtSettings& sprt) {
    const SprtResult s =
        Ratings::sprt(d.wins, d.draws, d.losses, sprt.elo0, sprt.elo1, sprt.alpha, sprt.beta);
    return {{"bot", names[0]},
            {"opponent", names[1]},
            {"wins", d.wins},
            {"draws", d.draws},
            {"losses", d.losses},
            {"los", Ratings::los(d.wins, d.losses)},
            {"sprt",
             {{"elo0", sprt.elo0},
              {"elo1", sprt.elo1},
              {"alpha", sprt.alpha},
              {"beta", sprt.beta},
              {"llr", s.llr},
              {"lower", s.lower},
              {"upper", s.upper},
              {"verdict", s.verdict}}}};
}

void printHeader(const json& report, std::ostream& os) {
    os << report["records"].get<size_t>() << " records in " << report["dir"].get<std::string>();
    for (const auto& e : report["ended"].items()) {
        os << ", " << e.value().get<unsigned>() << ' ' << e.key();
    }
    os << '\n';
    for (const json& s : report["skipped"]) {
        os << "Skipped " << s["file"].get<std::string>() << ": " << s["problem"].get<std::string>()
           << '\n';
    }
    if (report["records"].get<size_t>() != 0) {
        os << "Limit: " << Standings::limitText(report["limits"]) << '\n';
    }
}

/// The report's rows in the form of the shared text table.
json reportRows(const json& report) {
    json rows = json::array();
    for (const json& b : report["bots"]) {
        const unsigned unfinished = b["unfinished"].get<unsigned>();
        json row =
            StandingsTable::row(b["name"], b, "average_time_ms", "max_time_ms", "average_cpu_ms");
        row["more"] = unfinished ? "unfinished " + std::to_string(unfinished) : "";
        rows.push_back(row);
    }
    return rows;
}

void printDuel(const json& d, std::ostream& os) {
    using F = StandingsTable;
    const json& s = d["sprt"];
    os << '\n'
       << d["bot"].get<std::string>() << " against " << d["opponent"].get<std::string>() << ": "
       << d["wins"].get<double>() << " wins, " << d["draws"].get<double>() << " draws, "
       << d["losses"].get<double>() << " losses; LOS " << F::fixed(d["los"].get<double>() * 100, 1)
       << " %\nSPRT (" << F::fixed(s["elo0"], 1) << ", " << F::fixed(s["elo1"], 1) << "): LLR "
       << F::fixed(s["llr"], 2) << " [" << F::fixed(s["lower"], 2) << ", "
       << F::fixed(s["upper"], 2) << "], " << s["verdict"].get<std::string>() << '\n';
}

} // namespace

json Report::compute(const std::string& dir, const SprtSettings& sprt) {
    const Tally t = readFolder(dir);
    std::vector<std::string> names;
    names.reserve(t.extra.size());
    for (const auto& entry : t.extra) {
        names.push_back(entry.first);
    }
    const std::vector<StandingsOrder>& orders = t.standings.orders();
    const RatingFit fit = Standings::fit(names, orders);
    json ended = json::object();
    for (const auto& e : t.ends) {
        ended[e.first] = e.second;
    }
    json bots = json::array();
    for (size_t i = 0; i < names.size(); ++i) {
        bots.push_back(botJson(names[i], t, fit, i));
    }
    Standings::sort(bots);
    json report = {{"format", "reversi-report-1"},
                   {"dir", dir},
                   {"records", t.records},
                   {"ended", ended},
                   {"skipped", t.skipped},
                   {"warnings", t.warnings},
                   {"limits", limitsJson(t)},
                   {"order", Standings::ORDER},
                   {"bots", bots},
                   {"ratings",
                    {{"model", "plackett-luce"},
                     {"scale", "elo, pool average 0, 95 % intervals"},
                     {"matches", orders.size()},
                     {"prior", fit.prior},
                     {"converged", fit.converged},
                     {"iterations", fit.iterations}}}};
    if (names.size() == 2) {
        report["duel"] = duelJson(names, duelOf(names[0], names[1], orders), sprt);
    }
    return report;
}

void Report::print(const json& report, std::ostream& os) {
    printHeader(report, os);
    os << '\n';
    StandingsTable::print(reportRows(report), os);
    if (report["ratings"]["prior"].get<bool>()) {
        os << "\nSome bot won or lost every comparison: a weak prior keeps the ratings finite.\n";
    }
    if (report.contains("duel")) {
        printDuel(report["duel"], os);
    }
    for (const json& w : report["warnings"]) {
        os << "Warning: " << w.get<std::string>() << '\n';
    }
}

std::string Report::plainReason(const MatchRecord& record, const RecordDisqualification& d) {
    return Standings::plainReason(d.reason, movedBefore(record, d));
}
