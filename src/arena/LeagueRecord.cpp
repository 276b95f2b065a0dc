#include "LeagueRecord.h"

#include "MapRepository.h"

#include <algorithm>
#include <filesystem>

using json = nlohmann::json;

namespace {

int intOr(const json& object, const char* key, int fallback) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number_integer() ? found->get<int>() : fallback;
}

json arrayOr(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_array() ? *found : json::array();
}

std::string textOr(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

bool readSeats(const json& r, LeagueRecord& out, std::string& error) {
    const json& seats = r["seats"];
    const json& result = r["result"];
    if (!seats.is_array() || seats.empty() || seats.size() > LeagueRecord::MAX_SEATS) {
        error = "a record needs 1 to 8 seats";
        return false;
    }
    const json scores = arrayOr(result, "scores");
    const json ranks = arrayOr(result, "ranks");
    for (size_t s = 0; s < seats.size(); ++s) {
        if (!seats[s].is_object() || textOr(seats[s], "bot").empty()) {
            error = "seat " + std::to_string(s + 1) + " names no bot";
            return false;
        }
        out.bots.emplace_back(textOr(seats[s], "bot"), textOr(seats[s], "command"));
        SeatResult seat;
        seat.scored = s < scores.size() && scores[s].is_number_integer();
        seat.score = seat.scored ? scores[s].get<int>() : 0;
        seat.rank = s < ranks.size() && ranks[s].is_number_integer() ? ranks[s].get<int>() : 0;
        out.result.seats.push_back(seat);
    }
    return true;
}

/// Per seat: its disqualification, moves and time; and the digest of the whole move list.
void readMoves(const json& r, LeagueRecord& out) {
    const size_t k = out.result.seats.size();
    for (const json& d : arrayOr(r, "disqualifications")) {
        const int seat = d.is_object() ? intOr(d, "seat", 0) : 0;
        if (seat >= 1 && static_cast<size_t>(seat) <= k) {
            out.result.seats[static_cast<size_t>(seat) - 1].disqualified = textOr(d, "reason");
        }
    }
    std::string moves;
    const json list = arrayOr(r, "moves");
    for (size_t i = 0; i < list.size() && i < LeagueRecord::MAX_MOVES; ++i) {
        const json& m = list[i];
        if (!m.is_object()) {
            continue;
        }
        const int seat = intOr(m, "seat", 0);
        moves += std::to_string(seat) + ':' + std::to_string(intOr(m, "x", -1)) + ',' +
                 std::to_string(intOr(m, "y", -1)) + ',' + std::to_string(intOr(m, "choice", 0)) +
                 ';';
        if (seat >= 1 && static_cast<size_t>(seat) <= k) {
            SeatResult& s = out.result.seats[static_cast<size_t>(seat) - 1];
            const int t = std::max(0, intOr(m, "time_ms", 0));
            ++s.moves;
            s.timeMsSum += t;
            s.timeMsMax = std::max(s.timeMsMax, t);
        }
    }
    out.result.movesDigest = MapRepository::digest(moves);
}

} // namespace

bool LeagueRecord::read(const json& r, LeagueRecord& out, std::string& error) {
    out = LeagueRecord();
    if (!r.is_object() || textOr(r, "format") != "reversi-match-1" || !r.contains("result") ||
        !r["result"].is_object() || !r.contains("seats") || !r.contains("map") ||
        !r["map"].is_object()) {
        error = "not a match record";
        return false;
    }
    if (r.contains("moves") && r["moves"].is_array() && r["moves"].size() > MAX_MOVES) {
        error = "more than " + std::to_string(MAX_MOVES) + " moves";
        return false;
    }
    if (!readSeats(r, out, error)) {
        return false;
    }
    readMoves(r, out);
    const json& result = r["result"];
    out.result.end = textOr(result, "end");
    out.result.reason = textOr(result, "reason");
    const auto duration = r.find("duration_s");
    out.result.durationS =
        duration != r.end() && duration->is_number() ? duration->get<double>() : 0.0;
    out.result.document = r.dump();
    out.mapText = textOr(r["map"], "text");
    out.mapName = std::filesystem::path(textOr(r["map"], "file")).stem().string();
    const auto limits = r.find("limits");
    const bool limited = limits != r.end() && limits->is_object();
    out.timeMs = limited ? intOr(*limits, "time_ms", 0) : 0;
    out.depth = limited ? intOr(*limits, "depth", 0) : 0;
    out.round = std::max(1, intOr(r, "round", 1));
    if (out.result.end.empty() || out.mapText.empty()) {
        error = "a record without its end or its map";
        return false;
    }
    return true;
}
