#pragma once
// Leagues from tests: writing their configurations, running "arena league", and counting what
// the database holds; the growing-league scenario shared by SQLite and PostgreSQL.

#include "League.h"
#include "LeagueTables.h"
#include "MatchRecord.h"
#include "SqlDatabase.h"
#include "arena/ArenaTestUtil.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace leaguetest {

/// Another two-player map, so that a league has two small maps.
inline const char* const TINY2B = "2\n0\n0 0\n4 4\n1 2 0 0\n2 1 0 0\n0 0 0 0\n0 0 0 0\n";

/// What the database holds: finished matches, records, and the most claims of one match.
struct Counts {
    std::int64_t done = 0;
    std::int64_t records = 0;
    std::int64_t maxAttempts = 0;
};

inline Counts counts(const std::string& database) {
    std::string error;
    Counts c;
    std::unique_ptr<SqlDatabase> db = SqlDatabase::open(database, error);
    EXPECT_TRUE(db) << error;
    bool found = false;
    if (db) {
        db->scalar("SELECT COUNT(*) FROM matches WHERE status = 'done'", {}, c.done, found);
        db->scalar("SELECT COUNT(*) FROM records", {}, c.records, found);
        db->scalar("SELECT COALESCE(MAX(attempts), 0) FROM matches", {}, c.maxAttempts, found);
    }
    return c;
}

/// Runs "arena league DIR -j 3 --oversubscribe" to its end; its exit status (output in `output`).
inline int runLeague(const TempDir& dir, std::string& output,
                     const std::vector<std::string>& extra = {}) {
    ChildProcess arena;
    std::vector<std::string> words{"league", dir.path(), "-j", "3", "--oversubscribe"};
    words.insert(words.end(), extra.begin(), extra.end());
    if (!arenatest::startArena(arena, words, dir.path() + "/arena.out")) {
        return -1;
    }
    const int status = arena.wait(arenatest::LONG_WAIT);
    output = arena.output();
    return status;
}

inline void writeLeague(const TempDir& dir, const std::string& database, const nlohmann::json& bots,
                        const nlohmann::json& maps,
                        const nlohmann::json& extra = nlohmann::json::object()) {
    // The league's logic is under test here, with trusted reference bots: unjailed, so that
    // the sanitizer build's bots are not held to the jail's memory bound.
    nlohmann::json config = {{"bots", bots}, {"maps", maps},         {"depth", 1},
                             {"seed", 5},    {"connect_timeout", 5}, {"sandbox", false}};
    if (!database.empty()) {
        config["database"] = database;
    }
    config.update(extra);
    dir.write("league.json", config.dump());
}

/// Puts the tables of the league database DIR/league.db in `tables`; a fatal failure when the
/// database does not open or the tables cannot be computed.
inline void tablesOf(const TempDir& dir, nlohmann::json& tables) {
    std::string error;
    std::unique_ptr<League> league = League::open(dir.path() + "/league.db", error);
    ASSERT_TRUE(league) << error;
    ASSERT_TRUE(LeagueTables::compute(*league, tables));
}

/// Runs the league of DIR to its end (its output in `output`), then tablesOf(dir, tables).
inline void playAndTabulate(const TempDir& dir, std::string& output, nlohmann::json& tables) {
    ASSERT_EQ(runLeague(dir, output), 0) << output;
    tablesOf(dir, tables);
}

/// A league grows step by step; after each step exactly the new matches are played, and no
/// match is ever played twice.
inline void growingLeague(const TempDir& dir, const std::string& database) {
    dir.write("a.map", arenatest::TINY2);
    dir.write("b.map", TINY2B);
    dir.write("c.map", arenatest::TINY3);
    const std::string target = database.empty() ? dir.path() + "/league.db" : database;
    using nlohmann::json;
    const json r = {{"name", "r"}, {"command", "random:3"}};
    const json g = {{"name", "g"}, {"command", "greedy"}};
    const json gNew = {{"name", "g"}, {"command", "greedy:7"}};
    const json broken = {{"name", "b"}, {"command", "exit 3"}};
    const json fixed = {{"name", "b"}, {"command", "random:5"}};
    struct Step {
        const char* what;
        json bots;
        json maps;
        std::int64_t added;
        json extra = json::object();
        /// When set: the content of g's own folder, written before the step.
        std::string weights = "";
    };
    const json gOwn = {{"name", "g"}, {"command", "greedy:7"}, {"dir", "gdir"}};
    std::filesystem::create_directories(dir.path() + "/gdir");
    const json sampled = {{"schedule", "sampled"}, {"matches_per_version", 6}};
    const std::vector<Step> steps{
        {"two bots on two maps", {r, g}, {"a.map", "b.map"}, 4},
        {"a bot whose command is broken", {r, g, broken}, {"a.map", "b.map"}, 8},
        {"its command fixed", {r, g, fixed}, {"a.map", "b.map"}, 8},
        {"a new version of g", {r, gNew, fixed}, {"a.map", "b.map"}, 8},
        {"a three-player map", {r, gNew, fixed}, {"a.map", "b.map", "c.map"}, 3},
        // Every version has 4 matches on each two-player map and 3 on the three-player one:
        // two more line-ups of two on each (one version goes over) and one more of three.
        {"sampled, 6 per version", {r, gNew, fixed}, {"a.map", "b.map", "c.map"}, 11, sampled},
        // g moves into a folder of its own, then a file in it changes: a new version each time,
        // which plays its share (and the others make up what they played against the old one;
        // how many of their matches with each other stay depends on the line-ups drawn).
        {"g in its own folder", {r, gOwn, fixed}, {"a.map", "b.map", "c.map"}, 22, sampled, "1"},
        {"a file of g's changed", {r, gOwn, fixed}, {"a.map", "b.map", "c.map"}, 18, sampled, "2"},
    };
    std::int64_t total = 0;
    for (const Step& step : steps) {
        if (!step.weights.empty()) {
            dir.write("gdir/weights.txt", step.weights);
        }
        writeLeague(dir, database, step.bots, step.maps, step.extra);
        std::string output;
        ASSERT_EQ(runLeague(dir, output), 0) << step.what << "\n" << output;
        EXPECT_NE(output.find("(" + std::to_string(step.added) + " newly planned)"),
                  std::string::npos)
            << step.what << "\n"
            << output;
        if (!step.weights.empty()) {
            EXPECT_NE(output.find("New versions: g (v"), std::string::npos) << output;
        }
        total += step.added;
        const Counts c = counts(target);
        EXPECT_EQ(c.done, total) << step.what;
        EXPECT_EQ(c.records, total) << step.what;
        EXPECT_EQ(c.maxAttempts, 1) << step.what << ": a match was played twice";
    }
    // Run again: nothing is left to play.
    std::string output;
    ASSERT_EQ(runLeague(dir, output), 0) << output;
    EXPECT_NE(output.find("Sampled schedule, about 6 matches per version and map: 26 of about 26 "
                          "matches played; nothing left to play"),
              std::string::npos)
        << output;
}

/// A hand-made record of a 2-seat match of bots a and b on TINY2 at depth 1; moves as (seat,
/// x, time). Final with these ranks (scores 3 and 2), aborted without.
inline MatchRecord tinyRecord(const std::string& id, unsigned round, const std::string& a,
                              const std::string& b, const std::vector<unsigned>& ranks,
                              const std::vector<std::array<unsigned, 3>>& moves) {
    MatchRecord r;
    r.id = id;
    r.started = "2026-01-01T00:00:00Z";
    r.round = round;
    r.map = {"/x/a.map", arenatest::TINY2};
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
    return r;
}

} // namespace leaguetest
