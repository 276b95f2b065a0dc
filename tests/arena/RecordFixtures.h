#pragma once
// Hand-made match records for the tests of the record and the report.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace recordtest {

/// A record of one match of these bots: each seat k makes one move of 10 k ms; with ranks the
/// match is final (scores 10 - rank), without it was aborted.
inline nlohmann::json makeRecord(const std::string& id, const std::vector<std::string>& bots,
                                 const std::vector<unsigned>& ranks = {}) {
    using nlohmann::json;
    json seats = json::array();
    json moves = json::array();
    for (unsigned k = 1; k <= bots.size(); ++k) {
        seats.push_back({{"seat", k},
                         {"bot", bots[k - 1]},
                         {"command", bots[k - 1]},
                         {"group", k},
                         {"untimed", false},
                         {"exit", "exit 0"},
                         {"log", "seat" + std::to_string(k) + ".log"}});
        moves.push_back({{"n", k},
                         {"seat", k},
                         {"x", k},
                         {"y", 0},
                         {"choice", 0},
                         {"phase", "build"},
                         {"time_ms", 10 * k},
                         {"left_ms", 1000 - 10 * k},
                         {"changes", json::array({json::array({k, 0, std::to_string(k)})})}});
    }
    json result = {{"end", ranks.empty() ? "aborted" : "final"}, {"server_exit", 0}};
    if (ranks.empty()) {
        result["reason"] = "match timeout after 60 s";
        result["silent_seat"] = nullptr;
    } else {
        json scores = json::array();
        for (unsigned r : ranks) {
            scores.push_back(10 - r);
        }
        result["scores"] = scores;
        result["ranks"] = ranks;
    }
    return {{"format", "reversi-match-1"},
            {"id", id},
            {"started", "2026-01-02T03:04:05Z"},
            {"duration_s", 1.25},
            {"map", {{"file", "m.map"}, {"text", "2\n0\n0 0\n1 2\n1 2\n"}}},
            {"limits", {{"time_ms", 1000}, {"depth", nullptr}}},
            {"seats", seats},
            {"moves", moves},
            {"disqualifications", json::array()},
            {"result", result},
            {"consistent", true}};
}

} // namespace recordtest
