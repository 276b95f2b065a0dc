// Leagues on SQLite: tables against numbers worked out by hand, from imported records and from
// a bot that never connects.

#include "LeagueRunner.h"
#include "MatchRecord.h"
#include "PostgresDatabase.h"
#include "SqlDatabase.h"
#include "SqliteDatabase.h"
#include "arena/LeagueTestUtil.h"

#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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
    std::vector<json> records{
        record("m1", 1, "A", "B", {1, 2}, moves1),
        record("m2", 1, "B", "A", {1, 1}, {{1, 0, 20}}),
        record("m3", 1, "A", "C", {2, 1}, {}),
        record("m4", 1, "C", "B", {}, {}),
        // The same game as m1 in round 2: a copy, counted once.
        record("m5", 2, "A", "B", {1, 2}, moves1),
    };
    // CPU times: A 40 ms over its 1 move of m1 and 5 ms in m3 without a move; B 6 ms over its
    // move of m1 (m2's record, as an older one, gives none); C none.
    records[0]["seats"][0]["cpu_ms"] = 40;
    records[0]["seats"][1]["cpu_ms"] = 6;
    records[2]["seats"][0]["cpu_ms"] = 5;
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
    EXPECT_DOUBLE_EQ((*a)["cpu_per_move_ms"].get<double>(), 45.0);
    EXPECT_DOUBLE_EQ((*b)["cpu_per_move_ms"].get<double>(), 6.0);
    EXPECT_TRUE((*c)["cpu_per_move_ms"].is_null());
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

TEST(League, AnEnteredBotIsPlayedByEveryArenaAndAReportChangesNothing) {
    // A site enters its teams' bots in the database; a worker reading league.json alone plays
    // them too, a report leaves the plan as it was, and a withdrawn bot leaves the next plan.
    TempDir dir;
    dir.write("a.map", TINY2);
    writeLeague(dir, "",
                {{{"name", "g"}, {"command", "greedy"}}, {{"name", "r"}, {"command", "random"}}},
                {"a.map"});
    LeagueConfig config;
    std::string error;
    ASSERT_TRUE(config.loadLeague(dir.path(), error)) << error;
    {
        std::unique_ptr<League> league = League::open(config.database, error);
        ASSERT_TRUE(league) << error;
        ASSERT_TRUE(league->enter("team.x", "greedy", dir.path()));
        ASSERT_TRUE(league->enter("g", "exit 3", dir.path())); // the configuration's name wins
    }
    std::string output;
    json t;
    ASSERT_NO_FATAL_FAILURE(playAndTabulate(dir, output, t));
    std::unique_ptr<League> league = League::open(config.database, error);
    LeagueProgress before;
    ASSERT_TRUE(league->progress(before));
    EXPECT_EQ(before.needed, 6u) << output;
    EXPECT_EQ(before.done, 6u) << output;
    ASSERT_NE(row(t["standings"], "team.x"), nullptr) << t["standings"];
    EXPECT_EQ((*row(t["standings"], "team.x"))["matches"], 4);
    EXPECT_EQ((*row(t["standings"], "g"))["matches"], 4);

    ChildProcess report;
    ASSERT_TRUE(
        startArena(report, {"league", "report", dir.path(), "--json"}, dir.path() + "/report.out"));
    ASSERT_EQ(report.wait(LONG_WAIT), 0) << report.output();
    EXPECT_NE(report.output().find("\"team.x\""), std::string::npos);
    LeagueProgress after;
    ASSERT_TRUE(league->progress(after));
    EXPECT_EQ(after.needed, before.needed);

    ASSERT_TRUE(league->withdraw("team.x"));
    ASSERT_TRUE(league->schedule(config, after));
    EXPECT_EQ(after.needed, 2u);
    tablesOf(dir, t);
    EXPECT_EQ(row(t["standings"], "team.x"), nullptr) << t["standings"];
}

TEST(SqlDatabase, HostileDatabasesGiveValidTextOrOneLineWhy) {
    TempDir dir;
    std::string error;
    // Text that is not UTF-8, written by another program into the file: read back repaired;
    // written through the layer: stored repaired.
    {
        std::unique_ptr<SqlDatabase> db = SqlDatabase::open(dir.path() + "/t.db", error);
        ASSERT_TRUE(db) << error;
        ASSERT_TRUE(db->exec("CREATE TABLE t (name TEXT)"));
        ASSERT_TRUE(db->exec("INSERT INTO t VALUES (CAST(X'62FF6F74' AS TEXT))"));
        ASSERT_TRUE(db->exec("INSERT INTO t VALUES (?)", {std::string("m\xC0\xAF")}));
        std::vector<std::string> names;
        ASSERT_TRUE(db->query("SELECT name FROM t ORDER BY rowid", {},
                              [&](const SqlRow& r) { names.push_back(r.text(0)); }));
        EXPECT_EQ(names,
                  (std::vector<std::string>{"b\xEF\xBF\xBDot", "m\xEF\xBF\xBD\xEF\xBF\xBD"}));
        std::int64_t stored = 0;
        bool found = false;
        ASSERT_TRUE(db->scalar("SELECT length(CAST(name AS BLOB)) FROM t WHERE rowid = 2", {},
                               stored, found));
        EXPECT_EQ(stored, 7);
    }
    // A PostgreSQL address that accepts and never answers: given up after the connect time-out.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const auto start = std::chrono::steady_clock::now();
    const auto db = SqlDatabase::open(
        "postgresql://arena@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/league",
        error);
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(silent);
    EXPECT_FALSE(db);
    EXPECT_NE(error.find("PostgreSQL: "), std::string::npos) << error;
    EXPECT_NE(error.find("timeout"), std::string::npos) << error;
    EXPECT_GE(waited, PostgresDatabase::CONNECT_TIMEOUT_S - 1.0);
    EXPECT_LT(waited, PostgresDatabase::CONNECT_TIMEOUT_S * 3.0);
}

TEST(LeagueRunner, ALockHeldPastTheBusyTimeOutIsWaitedOutWithoutLosingAResult) {
    // Another writer holds the lock far longer than a statement waits for it: claims and
    // stores fail as busy, and the run waits them out instead of stopping.
    SqliteDatabase::setBusyTimeout(200);
    TempDir dir;
    dir.write("a.map", TINY2);
    const std::string slow = std::string("sleep 1; exec ") + REVERSI_CLIENT_BIN + " -p {port}";
    writeLeague(
        dir, "",
        json::array({{{"name", "s"}, {"command", slow}}, {{"name", "r"}, {"command", "random"}}}),
        {"a.map"});
    LeagueConfig config;
    std::string error;
    ASSERT_TRUE(config.loadLeague(dir.path(), error)) << error;
    std::unique_ptr<League> league = League::open(config.database, error);
    ASSERT_TRUE(league) << error;
    LeagueProgress progress;
    ASSERT_TRUE(league->schedule(config, progress)) << league->error();
    ASSERT_EQ(progress.needed, 2u);
    std::unique_ptr<SqlDatabase> other = SqlDatabase::open(config.database, error);
    ASSERT_TRUE(other) << error;
    std::thread locker([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        other->exec("BEGIN EXCLUSIVE");
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        other->exec("COMMIT");
    });
    LeagueRunner runner(*league, config);
    runner.serverProgram = REVERSI_SERVER_BIN;
    runner.clientProgram = REVERSI_CLIENT_BIN;
    const bool ran = runner.run(1);
    locker.join();
    SqliteDatabase::setBusyTimeout(60000);
    EXPECT_TRUE(ran);
    EXPECT_EQ(counts(config.database).done, 2);
}
