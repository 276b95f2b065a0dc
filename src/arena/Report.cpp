#include "Report.h"

#include "Ratings.h"
#include "RecordFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
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

/// What a record must hold to be counted.
bool usable(const json& r, std::string& problem) {
    if (!r.is_object() || r.value("format", "") != "reversi-match-1") {
        problem = "not a match record";
        return false;
    }
    if (!r.contains("seats") || !r["seats"].is_array() || !r.contains("result") ||
        !r["result"].is_object() || !r.contains("moves") || !r["moves"].is_array()) {
        problem = "a match record without seats, moves or result";
        return false;
    }
    return true;
}

/// "Invalid move: Player 1 (x,y)=(0,0). time left: ..." counts as "Invalid move".
std::string reasonKind(const std::string& reason) {
    return reason.substr(0, reason.find(':'));
}

} // namespace

json Report::compute(const std::string& dir, const SprtSettings& sprt) {
    const fs::path folder =
        fs::is_directory(fs::path(dir) / "matches") ? fs::path(dir) / "matches" : fs::path(dir);
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".json" && entry.path().filename() != "plan.json") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());

    json report = {{"format", "reversi-report-1"}, {"dir", dir}};
    json skipped = json::array();
    json warnings = json::array();
    std::map<std::string, unsigned> ends;
    std::vector<std::string> names;
    std::map<std::string, BotStats> stats;
    std::vector<std::vector<std::vector<std::string>>> finishes;
    double duel[3] = {0, 0, 0}; // wins, draws, losses of the first bot against the second
    std::vector<json> records;
    for (const std::string& file : files) {
        json r;
        std::string problem;
        if (!RecordFile::read(file, r, problem) || !usable(r, problem)) {
            skipped.push_back({{"file", fs::path(file).filename().string()}, {"problem", problem}});
            continue;
        }
        records.push_back(r);
        for (const json& seat : r["seats"]) {
            const std::string name = seat.value("bot", "?");
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        }
    }
    std::sort(names.begin(), names.end());

    for (const json& r : records) {
        const json& result = r["result"];
        const std::string end = result.value("end", "?");
        ++ends[end];
        const json& seats = r["seats"];
        const size_t k = seats.size();
        const bool final =
            end == "final" && result.contains("ranks") && result["ranks"].size() == k;
        for (size_t s = 0; s < k; ++s) {
            BotStats& b = stats[seats[s].value("bot", "?")];
            ++b.matches;
            if (seats[s].value("untimed", false)) {
                ++b.untimed;
                warnings.push_back(r.value("id", "?") + ": seat " + std::to_string(s + 1) + " (" +
                                   seats[s].value("bot", "?") +
                                   ") announced group 255 and was not timed");
            }
            if (!final) {
                ++b.unfinished;
                if (result.contains("silent_seat") && result["silent_seat"] == s + 1) {
                    ++b.silent;
                }
                continue;
            }
            ++b.played;
            const unsigned rank = result["ranks"][s];
            unsigned worse = 0;
            unsigned same = 0;
            for (size_t t = 0; t < k; ++t) {
                const unsigned other = result["ranks"][t];
                worse += other > rank ? 1 : 0;
                same += t != s && other == rank ? 1 : 0;
            }
            b.points += k > 1 ? (worse + 0.5 * same) / double(k - 1) : 1.0;
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
        for (const json& d : r["disqualifications"]) {
            const size_t s = d.value("seat", 0u);
            if (s < 1 || s > k) {
                continue;
            }
            BotStats& b = stats[seats[s - 1].value("bot", "?")];
            const std::string reason = d.value("reason", "?");
            ++b.disqualified[reasonKind(reason)];
            if (reason.find("timeout") != std::string::npos) {
                ++b.timeouts;
            }
        }
        for (const json& m : r["moves"]) {
            const size_t s = m.value("seat", 0u);
            if (s < 1 || s > k || !m.contains("time_ms")) {
                continue;
            }
            BotStats& b = stats[seats[s - 1].value("bot", "?")];
            const unsigned t = m["time_ms"];
            ++b.moves;
            b.timeSum += t;
            b.timeMax = std::max(b.timeMax, t);
        }
        if (!final) {
            continue;
        }
        // The finishing order as groups of tied bots, best first.
        std::map<unsigned, std::vector<std::string>> byRank;
        for (size_t s = 0; s < k; ++s) {
            byRank[result["ranks"][s].get<unsigned>()].push_back(seats[s].value("bot", "?"));
        }
        std::vector<std::vector<std::string>> groups;
        groups.reserve(byRank.size());
        for (auto& entry : byRank) {
            groups.push_back(entry.second);
        }
        finishes.push_back(groups);
        if (names.size() == 2) {
            for (size_t s = 0; s < k; ++s) {
                for (size_t t = 0; t < k; ++t) {
                    if (seats[s]["bot"] != names[0] || seats[t]["bot"] != names[1]) {
                        continue;
                    }
                    const unsigned a = result["ranks"][s];
                    const unsigned b = result["ranks"][t];
                    duel[a < b ? 0 : a == b ? 1 : 2] += 1;
                }
            }
        }
    }

    Ratings ratings(static_cast<unsigned>(names.size()));
    for (const auto& groups : finishes) {
        std::vector<std::vector<unsigned>> indices;
        for (const auto& g : groups) {
            std::vector<unsigned> group;
            group.reserve(g.size());
            for (const std::string& name : g) {
                group.push_back(static_cast<unsigned>(std::find(names.begin(), names.end(), name) -
                                                      names.begin()));
            }
            indices.push_back(group);
        }
        ratings.addMatch(indices);
    }
    const RatingFit fit = ratings.fit();
    const auto finite = [](double v) {
        return std::isfinite(v) ? json(std::round(v * 10) / 10) : json(nullptr);
    };

    json bots = json::array();
    for (size_t i = 0; i < names.size(); ++i) {
        const BotStats& b = stats[names[i]];
        json places = json::object();
        for (const auto& p : b.places) {
            places[std::to_string(p.first)] = p.second;
        }
        json disq = json::object();
        for (const auto& d : b.disqualified) {
            disq[d.first] = d.second;
        }
        bots.push_back({{"name", names[i]},
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
                        {"elo_high", finite(fit.high[i])}});
    }
    std::stable_sort(bots.begin(), bots.end(), [](const json& a, const json& b) {
        return a["elo"].is_number() && (!b["elo"].is_number() || a["elo"] > b["elo"]);
    });
    json ended = json::object();
    for (const auto& e : ends) {
        ended[e.first] = e.second;
    }
    report["records"] = records.size();
    report["ended"] = ended;
    report["skipped"] = skipped;
    report["warnings"] = warnings;
    report["bots"] = bots;
    report["ratings"] = {
        {"model", "plackett-luce"},   {"scale", "elo, pool average 0, 95 % intervals"},
        {"matches", finishes.size()}, {"prior", fit.prior},
        {"converged", fit.converged}, {"iterations", fit.iterations}};
    if (names.size() == 2) {
        const SprtResult s =
            Ratings::sprt(duel[0], duel[1], duel[2], sprt.elo0, sprt.elo1, sprt.alpha, sprt.beta);
        report["duel"] = {{"bot", names[0]},
                          {"opponent", names[1]},
                          {"wins", duel[0]},
                          {"draws", duel[1]},
                          {"losses", duel[2]},
                          {"los", Ratings::los(duel[0], duel[2])},
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
    return report;
}

void Report::print(const json& report, std::ostream& os) {
    os << report["records"].get<size_t>() << " records in " << report["dir"].get<std::string>();
    for (const auto& e : report["ended"].items()) {
        os << ", " << e.value().get<unsigned>() << ' ' << e.key();
    }
    os << '\n';
    for (const json& s : report["skipped"]) {
        os << "Skipped " << s["file"].get<std::string>() << ": " << s["problem"].get<std::string>()
           << '\n';
    }
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
    const auto num = [](const json& v, int precision) {
        if (!v.is_number()) {
            return std::string("-");
        }
        std::ostringstream s;
        s << std::fixed << std::setprecision(precision) << v.get<double>();
        return s.str();
    };
    for (const json& b : report["bots"]) {
        std::ostringstream wdl;
        wdl << b["wins"].get<unsigned>() << '/' << b["draws"].get<unsigned>() << '/'
            << b["losses"].get<unsigned>();
        std::string disq;
        for (const auto& d : b["disqualifications"].items()) {
            disq += (disq.empty() ? "" : ", ") + d.key() + " " +
                    std::to_string(d.value().get<unsigned>());
        }
        if (b["unfinished"].get<unsigned>() != 0) {
            disq += (disq.empty() ? "" : ", ") + std::string("unfinished ") +
                    std::to_string(b["unfinished"].get<unsigned>());
        }
        os << std::left << std::setw(w) << b["name"].get<std::string>() << std::right
           << std::setw(8) << num(b["elo"], 1) << std::setw(18)
           << ("[" + num(b["elo_low"], 1) + ", " + num(b["elo_high"], 1) + "]") << std::setw(8)
           << b["matches"].get<unsigned>() << std::setw(8) << num(b["points"], 1) << std::setw(7)
           << num(b["average_place"], 2) << std::setw(12) << wdl.str() << std::setw(9)
           << num(b["average_time_ms"], 0) << std::setw(7) << num(b["max_time_ms"], 0) << "  "
           << (disq.empty() ? "-" : disq) << '\n';
    }
    if (report["ratings"]["prior"].get<bool>()) {
        os << "\nSome bot won or lost every comparison: a weak prior keeps the ratings finite.\n";
    }
    if (report.contains("duel")) {
        const json& d = report["duel"];
        const json& s = d["sprt"];
        os << '\n'
           << d["bot"].get<std::string>() << " against " << d["opponent"].get<std::string>() << ": "
           << d["wins"].get<double>() << " wins, " << d["draws"].get<double>() << " draws, "
           << d["losses"].get<double>() << " losses; LOS " << num(d["los"].get<double>() * 100, 1)
           << " %\nSPRT (" << num(s["elo0"], 1) << ", " << num(s["elo1"], 1) << "): LLR "
           << num(s["llr"], 2) << " [" << num(s["lower"], 2) << ", " << num(s["upper"], 2) << "], "
           << s["verdict"].get<std::string>() << '\n';
    }
    for (const json& w : report["warnings"]) {
        os << "Warning: " << w.get<std::string>() << '\n';
    }
}
