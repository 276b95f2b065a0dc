// Leagues on SQLite: tables against numbers worked out by hand, from imported records and from
// a bot that never connects.

#include "MatchRecord.h"
#include "arena/LeagueTestUtil.h"

#include <array>

#include <filesystem>
#include <gtest/gtest.h>

using namespace arenatest;
using namespace leaguetest;
using nlohmann::json;

namespace {

/// A hand-made record of a 2-seat match on TINY2 at depth 1; moves as (seat, x, time).
json record(const std::string& id, unsigned round, const std::string& a, const std::string& b,
            const std::vector<unsigned>& ranks, const std::vector<std::array<unsigned, 3>>& moves) {
    MatchRecord r;
    r.id = id;
    r.started = "2026-01-01T00:00:00Z";
    r.round = round;
    r.map = {"/x/a.map", TINY2};
    r.limits.depth = 1;
    for (const std::string& bot : {a, b}) {
        RecordSeat seat;
        seat.seat = static_cast<unsigned>(r.seats.size() + 1);
        seat.bot = bot;
        seat.command = bot + "-cmd";
        seat.log = "seat" + std::to_string(seat.seat) + ".log";
        r.seats.push_back(seat);
    }
    for (const auto& m : moves) {
        RecordMove move;
        move.n = static_cast<unsigned>(r.moves.size() + 1);
        move.seat = m[0];
        move.x = static_cast<uint16_t>(m[1]);
        move.timeMs = m[2];
        r.moves.push_back(move);
    }
    r.result.end = ranks.empty() ? MatchEnd::Aborted : MatchEnd::Final;
    if (ranks.empty()) {
        r.result.reason = "seat 2 never connected";
    } else {
        r.result.scores = {3u, 2u};
        r.result.ranks = ranks;
    }
    r.consistent = true;
    return r.toJson();
}

const json* row(const json& rows, const std::string& bot) {
    for (const json& r : rows) {
        if (r["bot"] == bot) {
            return &r;
        }
    }
    return nullptr;
}

} // namespace

TEST(League, TablesOfAHandMadeSetMatchHandComputedNumbers) {
    TempDir dir;
    dir.write("a.map", TINY2);
    writeLeague(dir, "",
                {{{"name", "A"}, {"command", "A-cmd"}},
                 {{"name", "B"}, {"command", "B-cmd"}},
                 {{"name", "C"}, {"command", "C-cmd"}}},
                {"a.map"});
    json config = readJson(dir.path() + "/league.json");
    config["rounds"] = 2;
    dir.write("league.json", config.dump());
    const std::vector<std::array<unsigned, 3>> moves1{{1, 0, 10}, {2, 3, 30}};
    const std::vector<json> records{
        record("m1", 1, "A", "B", {1, 2}, moves1),
        record("m2", 1, "B", "A", {1, 1}, {{1, 0, 20}}),
        record("m3", 1, "A", "C", {2, 1}, {}),
        record("m4", 1, "C", "B", {}, {}),
        // The same game as m1 in round 2: a copy, counted once.
        record("m5", 2, "A", "B", {1, 2}, moves1),
    };
    std::filesystem::create_directories(dir.path() + "/records");
    for (size_t i = 0; i < records.size(); ++i) {
        dir.write("records/m" + std::to_string(i + 1) + ".json", records[i].dump());
    }
    dir.write("records/broken.json", "{\"format\": \"reversi-match-1\", \"seats\": 7");
    ChildProcess arena;
    ASSERT_TRUE(startArena(arena, {"league", "import", dir.path(), dir.path() + "/records"},
                           dir.path() + "/import.out"));
    ASSERT_EQ(arena.wait(LONG_WAIT), 0) << arena.output();
    EXPECT_NE(arena.output().find("Imported 5 of 6 records (1 not usable)"), std::string::npos)
        << arena.output();

    json t;
    ASSERT_NO_FATAL_FAILURE(tablesOf(dir, t));
    EXPECT_EQ(t["matches"], 3);
    const json* a = row(t["standings"], "A");
    const json* b = row(t["standings"], "B");
    const json* c = row(t["standings"], "C");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ((*a)["matches"], 3);
    EXPECT_DOUBLE_EQ((*a)["points"].get<double>(), 1.5);
    EXPECT_NEAR((*a)["average_place"].get<double>(), 4.0 / 3.0, 1e-9);
    EXPECT_EQ((*a)["wins"], 1);
    EXPECT_EQ((*a)["draws"], 1);
    EXPECT_EQ((*a)["losses"], 1);
    EXPECT_DOUBLE_EQ((*a)["time_per_move_ms"].get<double>(), 10.0);
    EXPECT_DOUBLE_EQ((*b)["points"].get<double>(), 0.5);
    EXPECT_DOUBLE_EQ((*b)["time_per_move_ms"].get<double>(), 25.0);
    EXPECT_EQ((*b)["time_max_ms"], 30);
    EXPECT_EQ((*c)["matches"], 1);
    EXPECT_DOUBLE_EQ((*c)["points"].get<double>(), 1.0);
    // Crosstable: A scored 1.5 of 2 against B, 0 of 1 against C; B and C never finished.
    const json& cross = t["crosstable"];
    ASSERT_EQ(cross["bots"], json({"A", "B", "C"}));
    EXPECT_EQ(cross["cells"][0][1], json({{"score", 1.5}, {"matches", 2}}));
    EXPECT_EQ(cross["cells"][1][0], json({{"score", 0.5}, {"matches", 2}}));
    EXPECT_EQ(cross["cells"][0][2], json({{"score", 0.0}, {"matches", 1}}));
    EXPECT_TRUE(cross["cells"][1][2].is_null());
    ASSERT_EQ(t["aborted"].size(), 1u);
    EXPECT_EQ(t["aborted"][0]["reason"], "seat 2 never connected");
    ASSERT_EQ(t["duplicates"].size(), 1u);
    // Per seat on the map: A sat first twice (places 1 and 2), second once (shared first).
    const json& seats = t["maps"][0]["per_seat"];
    ASSERT_EQ(seats.size(), 2u);
    EXPECT_DOUBLE_EQ((*row(seats[0]["bots"], "A"))["average_place"].get<double>(), 1.5);
    EXPECT_DOUBLE_EQ((*row(seats[1]["bots"], "A"))["average_place"].get<double>(), 1.0);
}

TEST(League, ABotThatCannotStartForfeitsItsMatchesAndARerunPlaysNothing) {
    TempDir dir;
    dir.write("a.map", TINY2);
    writeLeague(dir, "",
                {{{"name", "g"}, {"command", "greedy"}}, {{"name", "dead"}, {"command", "exit 3"}}},
                {"a.map"});
    std::string output;
    json t;
    ASSERT_NO_FATAL_FAILURE(playAndTabulate(dir, output, t));
    // Both seat orders are played, and lost by the bot that never started.
    const json& dead = *row(t["standings"], "dead");
    const json& g = *row(t["standings"], "g");
    EXPECT_EQ(dead["matches"], 2) << dead;
    EXPECT_EQ(dead["points"], 0.0) << dead;
    EXPECT_EQ(dead["disqualified"], json({{"did not start", 2}})) << dead;
    EXPECT_EQ(g["matches"], 2) << g;
    EXPECT_EQ(g["points"], 2.0) << g;
    EXPECT_EQ(t["aborted"].size(), 0u);
    EXPECT_NE(output.find("dead: 2 matches forfeited (did not start: seat "), std::string::npos)
        << output;
    ASSERT_EQ(runLeague(dir, output), 0) << output;
    EXPECT_NE(output.find("2 of 2 matches played; nothing left to play"), std::string::npos)
        << output;
}

TEST(League, ALeagueOfOneBotPlansEachSeatingOnce) {
    // One bot fills every seat alike, whatever the rotation: one match per map and round.
    TempDir dir;
    dir.write("a.map", TINY2);
    dir.write("c.map", TINY3);
    writeLeague(dir, "", {{{"name", "g"}, {"command", "greedy"}}}, {"a.map", "c.map"});
    std::string output;
    json t;
    ASSERT_NO_FATAL_FAILURE(playAndTabulate(dir, output, t));
    EXPECT_NE(output.find("(2 newly planned)"), std::string::npos) << output;
    EXPECT_EQ(t["matches"], 2) << output;
}
