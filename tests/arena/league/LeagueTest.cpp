// Leagues on SQLite: tables against numbers worked out by hand, from imported records and from
// a bot that never connects.

#include "LeagueConfigChanges.h"
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

json record(const std::string& id, unsigned round, const std::string& a, const std::string& b,
            const std::vector<unsigned>& ranks, const std::vector<std::array<unsigned, 3>>& moves) {
    return tinyRecord(id, round, a, b, ranks, moves).toJson();
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

TEST(LeagueLimit, ALimitIsReadAsTheConfigurationWritesIt) {
    struct Case {
        const char* text;
        bool ok;
        int timeMs;
        int depth;
    };
    // Truncated to the millisecond as a configuration's "time" is: both name the same matches.
    const std::vector<Case> cases{
        {"time=0.5", true, 500, 0},
        {"time=1.005", true, 1004, 0},
        {"time=3600", true, 3600000, 0},
        {"depth=1", true, 0, 1},
        {"none", true, 0, 0},
        {"time=0", false, 0, 0},
        {"time=", false, 0, 0},
        {"time=3601", false, 0, 0},
        {"time=-1", false, 0, 0},
        {"time=1e3", false, 0, 0},
        {"depth=0", false, 0, 0},
        {"depth=2x", false, 0, 0},
        {"depth=1.5", false, 0, 0},
        {"depth=99999999999", false, 0, 0},
        {"1s", false, 0, 0},
    };
    for (const Case& c : cases) {
        LeagueLimit limit;
        std::string error;
        ASSERT_EQ(LeagueLimit::parse(c.text, limit, error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(limit, LeagueLimit(c.timeMs, c.depth)) << c.text;
            EXPECT_EQ(limit.option(), c.text == std::string("time=1.005") ? "time=1.004" : c.text);
        } else {
            EXPECT_NE(error.find("a limit is time=SECONDS, depth=N or none"), std::string::npos);
        }
    }
    EXPECT_EQ(LeagueLimit::changeLine({LeagueLimit(1000, 0)}, LeagueLimit(500, 0), true, 12, 0,
                                      "arena league report /c"),
              "The limit changed from 1 s per move to 0.5 s per move: a new sample of line-ups is "
              "played under 0.5 s per move (12 matches planned so far); no match had been played "
              "under 1 s per move");
    EXPECT_EQ(LeagueLimit(500, 0).text(), "0.5 s per move");
    EXPECT_EQ(LeagueLimit(0, 3).text(), "depth 3");
}

namespace {

/// Runs "arena league WORDS..." to its end: its exit status, its output in `output`.
int arenaLeague(const TempDir& dir, const std::vector<std::string>& words, std::string& output) {
    ChildProcess arena;
    std::vector<std::string> all{"league"};
    all.insert(all.end(), words.begin(), words.end());
    if (!startArena(arena, all, dir.path() + "/arena.out")) {
        return -1;
    }
    const int status = arena.wait(LONG_WAIT);
    output = arena.output();
    return status;
}

/// The league's configuration with the limit `limit` ({"depth": N} or {"time": S}).
void writeLimit(const TempDir& dir, const json& limit) {
    writeLeague(dir, "",
                {{{"name", "g"}, {"command", "greedy"}}, {{"name", "r"}, {"command", "random:3"}}},
                {"a.map"});
    json config = readJson(dir.path() + "/league.json");
    config.erase("depth");
    config.update(limit);
    dir.write("league.json", config.dump());
}

} // namespace

TEST(League, AChangedLimitWarnsOnceAndKeepsTheOldStandingsUnderTheirLimit) {
    TempDir dir;
    dir.write("a.map", TINY2);
    const std::string report = "arena league report " + dir.path();
    struct Step {
        json limit;
        /// The warning of the run that meets the new limit; "" for none.
        std::string warning;
    };
    const std::vector<Step> steps{
        {{{"depth", 1}}, ""},
        {{{"depth", 2}},
         "The limit changed from depth 1 to depth 2: every line-up of the current versions is "
         "played again under depth 2 (2 matches); the standings under depth 1 (2 matches) are "
         "kept apart, see them with: " +
             report + " --limit depth=1"},
        {{{"depth", 2}}, ""},
        {{{"time", 0.5}},
         "The limit changed from depth 2 to 0.5 s per move: every line-up of the current versions "
         "is played again under 0.5 s per move (2 matches); the standings under depth 2 (2 "
         "matches) are kept apart, see them with: " +
             report + " --limit depth=2"},
        // Back to the first limit: its matches are needed again, and nothing is played.
        {{{"depth", 1}},
         "The limit changed from 0.5 s per move to depth 1: the current versions have played "
         "under depth 1 already; the standings under 0.5 s per move (2 matches) are kept apart, "
         "see them with: " +
             report + " --limit time=0.5"},
    };
    for (const Step& step : steps) {
        writeLimit(dir, step.limit);
        std::string output;
        ASSERT_EQ(runLeague(dir, output), 0) << step.limit << "\n" << output;
        if (step.warning.empty()) {
            EXPECT_EQ(output.find("The limit changed"), std::string::npos) << output;
        } else {
            EXPECT_NE(output.find(step.warning + "\n"), std::string::npos) << output;
        }
    }
    EXPECT_EQ(counts(dir.path() + "/league.db").done, 6);

    // The report under each limit: the one in force, and each kept apart.
    std::string output;
    ASSERT_EQ(arenaLeague(dir, {"report", dir.path()}, output), 0) << output;
    EXPECT_NE(output.find("Standings (2 matches; limit in force: depth 1)\n"
                          "Kept under the earlier limit depth 2: 2 matches (--limit depth=2)\n"
                          "Kept under the earlier limit 0.5 s per move: 2 matches (--limit "
                          "time=0.5)\n"),
              std::string::npos)
        << output;
    for (const std::string limit : {"depth=1", "depth=2", "time=0.5"}) {
        ASSERT_EQ(arenaLeague(dir, {"report", dir.path(), "--limit", limit, "--json"}, output), 0)
            << output;
        const json t = json::parse(output.substr(output.find('{')));
        EXPECT_EQ(t["matches"], 2) << limit;
        EXPECT_EQ(t["earlier"], limit != "depth=1") << limit;
        EXPECT_EQ(t["in_force"], json::parse(R"([{"time_ms": 0, "depth": 1}])")) << limit;
        LeagueLimit wanted;
        std::string error;
        ASSERT_TRUE(LeagueLimit::parse(limit, wanted, error));
        EXPECT_EQ(t["limits"], json({{{"time_ms", wanted.timeMs()}, {"depth", wanted.depth()}}}));
        EXPECT_EQ((*row(t["standings"], "g"))["matches"], 2) << limit;
        EXPECT_EQ((*row(t["standings"], "r"))["matches"], 2) << limit;
    }
    ASSERT_EQ(arenaLeague(dir, {"report", dir.path(), "--limit", "depth=2"}, output), 0);
    EXPECT_NE(output.find(
                  "Standings (2 matches; under the earlier limit depth 2 (in force now: depth 1))"),
              std::string::npos)
        << output;
    ASSERT_EQ(arenaLeague(
                  dir,
                  {"report", dir.path(), "--limit", "depth=2", "--html", dir.path() + "/old.html"},
                  output),
              0);
    EXPECT_NE(readText(dir.path() + "/old.html")
                  .find("2 matches counted; under the earlier limit depth 2 (in force now: depth "
                        "1)</p>"),
              std::string::npos);

    // A limit the league never had, or no limit at all, is refused with the ones it has.
    ASSERT_NE(arenaLeague(dir, {"report", dir.path(), "--limit", "depth=7"}, output), 0);
    EXPECT_NE(output.find("the league has no standings under depth 7; its limits: depth=1 (in "
                          "force), depth=2 (2 matches), time=0.5 (2 matches)\n"),
              std::string::npos)
        << output;
    ASSERT_NE(arenaLeague(dir, {"report", dir.path(), "--limit", "fast"}, output), 0);
    EXPECT_NE(output.find("a limit is time=SECONDS, depth=N or none, not \"fast\"; its limits: "),
              std::string::npos)
        << output;
}

TEST(LeagueConfigChanges, AnEditIsSaidOneLinePerChange) {
    TempDir dir;
    dir.write("a.map", TINY2);
    dir.write("b.map", TINY2B);
    const json g = {{"name", "g"}, {"command", "greedy"}};
    const json r = {{"name", "r"}, {"command", "random"}};
    const auto load = [&](const json& bots, const json& maps, const json& extra) {
        writeLeague(dir, "", bots, maps, extra);
        LeagueConfig config;
        std::string error;
        EXPECT_TRUE(config.loadLeague(dir.path(), error)) << error;
        return config;
    };
    const LeagueConfig before = load({g, r}, {"a.map"}, json::object());
    struct Case {
        json bots;
        json maps;
        json extra;
        std::vector<std::string> lines;
    };
    const json gNew = {{"name", "g"}, {"command", "greedy:3"}, {"env", {{"X", "1"}}}};
    const json rLimited = {{"name", "r"}, {"command", "random"}, {"limits", {{"memory_mb", 64}}}};
    const std::vector<Case> cases{
        {{g, r}, {"a.map"}, json::object(), {}},
        {{gNew, rLimited, {{"name", "n"}, {"command", "random"}}},
         {"b.map"},
         {{"rounds", 2}, {"depth", 3}, {"openings", 4}},
         {"bot g changed its command and env: a new version", "bot n added",
          "bot r changed its limits", "map b added",
          "map a removed: its matches leave the standings", "limit changed from depth 1 to depth 3",
          "openings changed from (not set) to 4", "rounds changed from 1 to 2"}},
        {{g},
         {"a.map"},
         {{"seed", 6}},
         {"bot r removed: it leaves the standings, its matches stay in its history",
          "seed changed from 5 to 6"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LeagueConfigChanges::between(before, load(c.bots, c.maps, c.extra)), c.lines)
            << c.bots;
    }
}
