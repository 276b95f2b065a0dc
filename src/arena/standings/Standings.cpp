#include "Standings.h"

#include "ServerFacts.h"

#include <algorithm>
#include <cmath>
#include <sstream>

using json = nlohmann::json;

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

/// A seat's points: 1 for each seat placed worse, a half for each other seat placed alike,
/// over the other seats (1 alone).
double pointsOf(const StandingsGame& game, size_t seat, unsigned& same) {
    const unsigned rank = game.seats[seat].rank;
    unsigned worse = 0;
    same = 0;
    for (size_t t = 0; t < game.seats.size(); ++t) {
        worse += game.seats[t].rank > rank ? 1 : 0;
        same += t != seat && game.seats[t].rank == rank ? 1 : 0;
    }
    const size_t k = game.seats.size();
    return k > 1 ? (worse + 0.5 * same) / static_cast<double>(k - 1) : 1.0;
}

void countFinal(StandingsTally& t, unsigned rank, unsigned same, double points) {
    ++t.played;
    t.points += points;
    t.placeSum += rank;
    ++t.places[rank];
    (rank == 1 && same == 0 ? t.wins : rank == 1 ? t.draws : t.losses) += 1;
}

StandingsOrder orderOf(const StandingsGame& game) {
    std::map<unsigned, std::vector<std::string>> byRank;
    for (const StandingsSeat& s : game.seats) {
        byRank[s.rank].push_back(s.bot);
    }
    StandingsOrder order;
    order.reserve(byRank.size());
    for (auto& entry : byRank) {
        order.push_back(std::move(entry.second));
    }
    return order;
}

std::string seconds(unsigned ms) {
    std::ostringstream s;
    s << ms / 1000.0;
    return s.str();
}

} // namespace

json StandingsTally::averagePlace() const {
    return played ? json(placeSum / played) : json(nullptr);
}

json StandingsTally::averageCpuMs() const {
    return cpuMoves ? json(static_cast<double>(cpuMsSum) / static_cast<double>(cpuMoves))
                    : json(nullptr);
}

json StandingsTally::averageTimeMs() const {
    return moves ? json(static_cast<double>(timeMsSum) / static_cast<double>(moves))
                 : json(nullptr);
}

json StandingsTally::disqualifiedJson() const {
    json out = json::object();
    for (const auto& d : disqualified) {
        out[d.first] = d.second;
    }
    return out;
}

void Standings::add(const StandingsGame& game) {
    Scope& overall = m_scopes[""];
    addSeats(game, overall);
    if (!game.scope.empty()) {
        addSeats(game, m_scopes[game.scope]);
    }
    if (!game.final) {
        return;
    }
    addFinal(game, overall, true);
    if (!game.scope.empty()) {
        addFinal(game, m_scopes[game.scope], false);
    }
}

void Standings::addSeats(const StandingsGame& game, Scope& scope) {
    for (const StandingsSeat& s : game.seats) {
        StandingsTally& t = scope.tallies[s.bot];
        ++t.entered;
        if (!s.disqualified.empty()) {
            ++t.disqualified[s.disqualified];
        }
        t.moves += s.moves;
        t.timeMsSum += s.timeMsSum;
        t.timeMsMax = std::max(t.timeMsMax, s.timeMsMax);
        t.cpuMsSum += s.cpuMs;
        t.cpuMoves += s.cpuMoves;
    }
}

void Standings::addFinal(const StandingsGame& game, Scope& scope, bool overall) {
    scope.orders.push_back(orderOf(game));
    for (size_t s = 0; s < game.seats.size(); ++s) {
        const StandingsSeat& seat = game.seats[s];
        unsigned same = 0;
        const double points = pointsOf(game, s, same);
        countFinal(scope.tallies[seat.bot], seat.rank, same, points);
        countFinal(scope.seats[static_cast<unsigned>(s + 1)][seat.bot], seat.rank, same, points);
        for (size_t t = 0; overall && t < game.seats.size(); ++t) {
            const StandingsSeat& other = game.seats[t];
            if (t == s || other.bot == seat.bot) {
                continue;
            }
            auto& c = m_cross[{seat.bot, other.bot}];
            c.first += seat.rank < other.rank ? 1.0 : seat.rank == other.rank ? 0.5 : 0.0;
            ++c.second;
        }
    }
}

const std::map<std::string, StandingsTally>& Standings::tallies(const std::string& scope) const {
    static const std::map<std::string, StandingsTally> none;
    const auto found = m_scopes.find(scope);
    return found == m_scopes.end() ? none : found->second.tallies;
}

StandingsTally Standings::tally(const std::string& bot, const std::string& scope) const {
    const auto& all = tallies(scope);
    const auto found = all.find(bot);
    return found == all.end() ? StandingsTally() : found->second;
}

const std::map<unsigned, std::map<std::string, StandingsTally>>&
Standings::seats(const std::string& scope) const {
    static const std::map<unsigned, std::map<std::string, StandingsTally>> none;
    const auto found = m_scopes.find(scope);
    return found == m_scopes.end() ? none : found->second.seats;
}

std::optional<std::pair<double, unsigned>> Standings::versus(const std::string& a,
                                                             const std::string& b) const {
    const auto found = m_cross.find({a, b});
    if (found == m_cross.end()) {
        return std::nullopt;
    }
    return found->second;
}

const std::vector<StandingsOrder>& Standings::orders(const std::string& scope) const {
    static const std::vector<StandingsOrder> none;
    const auto found = m_scopes.find(scope);
    return found == m_scopes.end() ? none : found->second.orders;
}

RatingFit Standings::fit(const std::vector<std::string>& bots,
                         const std::vector<StandingsOrder>& orders) {
    std::map<std::string, unsigned> index;
    for (const std::string& bot : bots) {
        index.emplace(bot, static_cast<unsigned>(index.size()));
    }
    Ratings ratings(static_cast<unsigned>(bots.size()));
    for (const StandingsOrder& order : orders) {
        std::vector<std::vector<unsigned>> groups;
        groups.reserve(order.size());
        for (const auto& group : order) {
            groups.emplace_back();
            for (const std::string& bot : group) {
                groups.back().push_back(index.at(bot));
            }
        }
        ratings.addMatch(groups);
    }
    return ratings.fit();
}

json Standings::elo(double value) {
    return std::isfinite(value) ? json(std::round(value * 10) / 10) : json(nullptr);
}

void Standings::sort(json& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const json& a, const json& b) {
        const bool ra = a["elo"].is_number();
        const bool rb = b["elo"].is_number();
        if (ra != rb) {
            return ra;
        }
        if (ra && a["elo"] != b["elo"]) {
            return a["elo"].get<double>() > b["elo"].get<double>();
        }
        return a["points"].get<double>() > b["points"].get<double>();
    });
}

std::string Standings::plainReason(const std::string& reason, bool moved) {
    namespace R = ServerFacts::Reason;
    if (reason.empty()) {
        return "";
    }
    if (startsWith(reason, R::INVALID_MOVE)) {
        return "illegal move";
    }
    if (reason.find("timeout") != std::string::npos) {
        return "timed out";
    }
    if (reason == R::WRONG_MESSAGE) {
        return "wrong message";
    }
    // A league's forfeit says "did not start", then why after a colon.
    if (reason == R::NO_GROUP_ID || reason == "did not start" ||
        startsWith(reason, "did not start:")) {
        return "did not start";
    }
    // Every other reason the server gives is a connection that broke: the bot ended or closed
    // its socket, before its first move or after.
    for (const char* lost :
         {R::BOARD_NOT_SENT, R::REQUEST_NOT_SENT, R::RECEIVE_FAILED, R::MOVE_NOT_PROPAGATED,
          R::TERM_NOT_SENT, R::FIN_NOT_SENT, R::DISQUALIFICATION_NOT_PROPAGATED}) {
        if (reason == lost) {
            return moved ? "crashed" : "did not start";
        }
    }
    return "other";
}

std::string Standings::reasonsCell(const json& byReason) {
    std::string out;
    for (const auto& d : byReason.items()) {
        out += (out.empty() ? "" : ", ") + d.key() + " " + d.value().dump();
    }
    return out.empty() ? "-" : out;
}

std::string Standings::limitText(const json& limits) {
    std::string out;
    for (const json& l : limits) {
        const unsigned time = l.value("time_ms", 0u);
        const unsigned depth = l.value("depth", 0u);
        std::string one = time ? seconds(time) + " s per move" : "";
        if (depth) {
            one += (one.empty() ? "" : ", ") + std::string("depth ") + std::to_string(depth);
        }
        out += (out.empty() ? "" : "; ") + (one.empty() ? std::string("no limit") : one);
    }
    return out.empty() ? "none yet" : out;
}
