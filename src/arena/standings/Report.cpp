#include "Report.h"

#include "MatchRecord.h"
#include "Ratings.h"
#include "RecordsFolder.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <map>
#include <sstream>

using json = nlohmann::json;

namespace {

struct BotStats {
    unsigned matches = 0;
    unsigned played = 0;
    double points = 0;
    double placeSum = 0;
    unsigned wins = 0;
    unsigned draws = 0;
    unsigned losses = 0;
    std::map<unsigned, unsigned> places;
    std::map<std::string, unsigned> disqualified;
    unsigned timeouts = 0;
    unsigned unfinished = 0;
    unsigned silent = 0;
    unsigned untimed = 0;
    unsigned moves = 0;
    double timeSum = 0;
    unsigned timeMax = 0;
};

/// One finished match: per seat its place and its bot.
using Finish = std::vector<std::pair<unsigned, std::string>>;

/// What the report gathers, one record at a time. Bots are keyed by name in ordered maps, so
/// any name (even "__proto__") is only a key.
struct Tally {
    size_t records = 0;
    json skipped = json::array();
    json warnings = json::array();
    std::map<std::string, unsigned> ends;
    std::map<std::string, BotStats> stats;
    std::vector<Finish> finishes;
};

/// Wins, draws and losses of the first bot against the second, over every pair of their seats.
struct Duel {
    double wins = 0;
    double draws = 0;
    double losses = 0;
};

/// "Invalid move: Player 1 (x,y)=(0,0). time left: ..." counts as "Invalid move".
std::string disqualificationKind(const std::string& reason) {
    return reason.substr(0, reason.find(':'));
}

void countSeats(const MatchRecord& r, Tally& t) {
    for (const RecordSeat& seat : r.seats) {
        BotStats& b = t.stats[seat.bot];
        ++b.matches;
        if (seat.untimed) {
            ++b.untimed;
            t.warnings.push_back(r.id + ": seat " + std::to_string(seat.seat) + " (" + seat.bot +
                                 ") announced group 255 and was not timed");
        }
        if (!r.result.final()) {
            ++b.unfinished;
            b.silent += r.result.silentSeat == seat.seat ? 1 : 0;
        }
    }
}

/// Points: 1 for each seat placed worse, a half for each tie, over the other seats.
void countPlaces(const MatchRecord& r, Tally& t) {
    const std::vector<unsigned>& ranks = r.result.ranks;
    const size_t k = ranks.size();
    for (size_t s = 0; s < k; ++s) {
        BotStats& b = t.stats[r.seats[s].bot];
        ++b.played;
        const unsigned rank = ranks[s];
        const auto worse = std::count_if(ranks.begin(), ranks.end(),
                                         [rank](unsigned other) { return other > rank; });
        const auto same = std::count(ranks.begin(), ranks.end(), rank) - 1;
        b.points += k > 1 ? (static_cast<double>(worse) + 0.5 * static_cast<double>(same)) /
                                static_cast<double>(k - 1)
                          : 1.0;
        b.placeSum += rank;
        ++b.places[rank];
        if (rank == 1 && same == 0) {
            ++b.wins;
        } else if (rank == 1) {
            ++b.draws;
        } else {
            ++b.losses;
        }
    }
}

void countDisqualificationsAndMoves(const MatchRecord& r, Tally& t) {
    // Seats were checked against the seat count when the record was read.
    for (const RecordDisqualification& d : r.disqualifications) {
        BotStats& b = t.stats[r.seats[d.seat - 1].bot];
        ++b.disqualified[disqualificationKind(d.reason)];
        b.timeouts += d.reason.find("timeout") != std::string::npos ? 1 : 0;
    }
    for (const RecordMove& m : r.moves) {
        if (!m.timeMs) {
            continue;
        }
        BotStats& b = t.stats[r.seats[m.seat - 1].bot];
        ++b.moves;
        b.timeSum += *m.timeMs;
        b.timeMax = std::max(b.timeMax, *m.timeMs);
    }
}

void countRecord(const MatchRecord& r, Tally& t) {
    ++t.records;
    ++t.ends[MatchRecord::endName(r.result.end)];
    countSeats(r, t);
    countDisqualificationsAndMoves(r, t);
    if (!r.result.final()) {
        return;
    }
    countPlaces(r, t);
    Finish finish;
    for (size_t s = 0; s < r.seats.size(); ++s) {
        finish.emplace_back(r.result.ranks[s], r.seats[s].bot);
    }
    t.finishes.push_back(finish);
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

/// Bot names in order; the finishing orders as groups of tied bots' indices, best first.
RatingFit fitRatings(const std::vector<std::string>& names, const std::vector<Finish>& finishes) {
    std::map<std::string, unsigned> index;
    for (size_t i = 0; i < names.size(); ++i) {
        index[names[i]] = static_cast<unsigned>(i);
    }
    Ratings ratings(static_cast<unsigned>(names.size()));
    for (const Finish& finish : finishes) {
        std::map<unsigned, std::vector<unsigned>> byRank;
        for (const auto& seat : finish) {
            byRank[seat.first].push_back(index[seat.second]);
        }
        std::vector<std::vector<unsigned>> groups;
        groups.reserve(byRank.size());
        for (auto& entry : byRank) {
            groups.push_back(entry.second);
        }
        ratings.addMatch(groups);
    }
    return ratings.fit();
}

Duel duelOf(const std::string& bot, const std::string& opponent,
            const std::vector<Finish>& finishes) {
    Duel duel;
    for (const Finish& finish : finishes) {
        for (const auto& a : finish) {
            for (const auto& b : finish) {
                if (a.second != bot || b.second != opponent) {
                    continue;
                }
                (a.first < b.first    ? duel.wins
                 : a.first == b.first ? duel.draws
                                      : duel.losses) += 1;
            }
        }
    }
    return duel;
}

json finite(double v) {
    return std::isfinite(v) ? json(std::round(v * 10) / 10) : json(nullptr);
}

json botJson(const std::string& name, const BotStats& b, const RatingFit& fit, size_t i) {
    json places = json::object();
    for (const auto& p : b.places) {
        places[std::to_string(p.first)] = p.second;
    }
    json disq = json::object();
    for (const auto& d : b.disqualified) {
        disq[d.first] = d.second;
    }
    return {{"name", name},
            {"matches", b.matches},
            {"played", b.played},
            {"unfinished", b.unfinished},
            {"silent", b.silent},
            {"points", b.points},
            {"average_place", b.played ? json(b.placeSum / b.played) : json(nullptr)},
            {"wins", b.wins},
            {"draws", b.draws},
            {"losses", b.losses},
            {"places", places},
            {"disqualifications", disq},
            {"timeouts", b.timeouts},
            {"untimed", b.untimed},
            {"moves", b.moves},
            {"average_time_ms", b.moves ? json(b.timeSum / b.moves) : json(nullptr)},
            {"max_time_ms", b.moves ? json(b.timeMax) : json(nullptr)},
            {"elo", finite(fit.elo[i])},
            {"elo_low", finite(fit.low[i])},
            {"elo_high", finite(fit.high[i])}};
}

/// The standings, best rating first; bots without a rating last, by name.
json standings(const std::vector<std::string>& names, const Tally& t, const RatingFit& fit) {
    json bots = json::array();
    for (size_t i = 0; i < names.size(); ++i) {
        bots.push_back(botJson(names[i], t.stats.at(names[i]), fit, i));
    }
    std::stable_sort(bots.begin(), bots.end(), [](const json& a, const json& b) {
        return a["elo"].is_number() && (!b["elo"].is_number() || a["elo"] > b["elo"]);
    });
    return bots;
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
}

void printBot(const json& b, int width, std::ostream& os) {
    std::ostringstream wdl;
    wdl << b["wins"].get<unsigned>() << '/' << b["draws"].get<unsigned>() << '/'
        << b["losses"].get<unsigned>();
    std::string disq;
    for (const auto& d : b["disqualifications"].items()) {
        disq +=
            (disq.empty() ? "" : ", ") + d.key() + " " + std::to_string(d.value().get<unsigned>());
    }
    if (b["unfinished"].get<unsigned>() != 0) {
        disq += (disq.empty() ? "" : ", ") + std::string("unfinished ") +
                std::to_string(b["unfinished"].get<unsigned>());
    }
    os << std::left << std::setw(width) << b["name"].get<std::string>() << std::right
       << std::setw(8) << Report::fixed(b["elo"], 1) << std::setw(18)
       << ("[" + Report::fixed(b["elo_low"], 1) + ", " + Report::fixed(b["elo_high"], 1) + "]")
       << std::setw(8) << b["matches"].get<unsigned>() << std::setw(8)
       << Report::fixed(b["points"], 1) << std::setw(7) << Report::fixed(b["average_place"], 2)
       << std::setw(12) << wdl.str() << std::setw(9) << Report::fixed(b["average_time_ms"], 0)
       << std::setw(7) << Report::fixed(b["max_time_ms"], 0) << "  " << (disq.empty() ? "-" : disq)
       << '\n';
}

void printStandings(const json& report, std::ostream& os) {
    size_t width = 3;
    for (const json& b : report["bots"]) {
        width = std::max(width, b["name"].get<std::string>().size());
    }
    const int w = static_cast<int>(width);
    os << '\n'
       << std::left << std::setw(w) << "Bot" << std::right << std::setw(8) << "Elo" << std::setw(18)
       << "95 %" << std::setw(8) << "Matches" << std::setw(8) << "Points" << std::setw(7) << "Place"
       << std::setw(12) << "W/D/L" << std::setw(9) << "ms/move" << std::setw(7) << "max"
       << "  Disqualified\n";
    for (const json& b : report["bots"]) {
        printBot(b, w, os);
    }
}

void printDuel(const json& d, std::ostream& os) {
    const json& s = d["sprt"];
    os << '\n'
       << d["bot"].get<std::string>() << " against " << d["opponent"].get<std::string>() << ": "
       << d["wins"].get<double>() << " wins, " << d["draws"].get<double>() << " draws, "
       << d["losses"].get<double>() << " losses; LOS "
       << Report::fixed(d["los"].get<double>() * 100, 1) << " %\nSPRT ("
       << Report::fixed(s["elo0"], 1) << ", " << Report::fixed(s["elo1"], 1) << "): LLR "
       << Report::fixed(s["llr"], 2) << " [" << Report::fixed(s["lower"], 2) << ", "
       << Report::fixed(s["upper"], 2) << "], " << s["verdict"].get<std::string>() << '\n';
}

} // namespace

json Report::compute(const std::string& dir, const SprtSettings& sprt) {
    const Tally t = readFolder(dir);
    std::vector<std::string> names;
    names.reserve(t.stats.size());
    for (const auto& entry : t.stats) {
        names.push_back(entry.first);
    }
    const RatingFit fit = fitRatings(names, t.finishes);
    json ended = json::object();
    for (const auto& e : t.ends) {
        ended[e.first] = e.second;
    }
    json report = {{"format", "reversi-report-1"},
                   {"dir", dir},
                   {"records", t.records},
                   {"ended", ended},
                   {"skipped", t.skipped},
                   {"warnings", t.warnings},
                   {"bots", standings(names, t, fit)},
                   {"ratings",
                    {{"model", "plackett-luce"},
                     {"scale", "elo, pool average 0, 95 % intervals"},
                     {"matches", t.finishes.size()},
                     {"prior", fit.prior},
                     {"converged", fit.converged},
                     {"iterations", fit.iterations}}}};
    if (names.size() == 2) {
        report["duel"] = duelJson(names, duelOf(names[0], names[1], t.finishes), sprt);
    }
    return report;
}

void Report::print(const json& report, std::ostream& os) {
    printHeader(report, os);
    printStandings(report, os);
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

std::string Report::fixed(const json& value, int digits) {
    if (!value.is_number()) {
        return "-";
    }
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << value.get<double>();
    return s.str();
}
