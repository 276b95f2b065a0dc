// Tournament configurations, plans and folders as a hostile user may shape them: each row an
// input and the exact error it must give.

#include "arena/ArenaTestUtil.h"

#include "FolderLock.h"
#include "LeagueConfig.h"
#include "Map.h"
#include "MapFile.h"
#include "Tournament.h"
#include "TournamentConfig.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace arenatest;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char* const TWO_BOTS =
    R"("bots": [{"name": "a", "command": "random"}, {"name": "b", "command": "greedy"}])";

/// A configuration of two bots on tiny.map with these further keys.
std::string withKeys(const std::string& keys) {
    return std::string("{") + TWO_BOTS + R"(, "maps": ["tiny.map"])" +
           (keys.empty() ? "" : ", " + keys) + "}";
}

/// The error of loading and planning the text, without the file's path; "" when accepted.
std::string loadError(const TempDir& dir, const std::string& text) {
    dir.write("tiny.map", TINY2);
    const std::string file = dir.write("c.json", text);
    TournamentConfig config;
    json plan;
    std::string error;
    if (config.load(file, error) && config.makePlan(plan, error)) {
        return "";
    }
    return error.rfind(file + ": ", 0) == 0 ? error.substr(file.size() + 2) : "(no path) " + error;
}

} // namespace

TEST(TournamentConfig, RefusesEachBadValueNamingTheKey) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {withKeys(R"("time": 4294968)"),
         R"("time" must be a number from 0.2 to 4294967, not 4294968)"},
        {withKeys(R"("time": 1e10)"),
         R"("time" must be a number from 0.2 to 4294967, not 10000000000.0)"},
        {withKeys(R"("time": 0.1)"), R"("time" must be a number from 0.2 to 4294967, not 0.1)"},
        {withKeys(R"("time": "1")"), R"("time" must be a number from 0.2 to 4294967, not "1")"},
        {withKeys(""), R"("time" (seconds) or "depth" must be given: exactly one of them)"},
        {withKeys(R"("time": 1, "depth": 2)"),
         R"("time" (seconds) or "depth" must be given: exactly one of them)"},
        {withKeys(R"("depth": "3")"),
         R"("depth" must be a whole number from 1 to 4294967295, not "3")"},
        {withKeys(R"("depth": -1)"),
         R"("depth" must be a whole number from 1 to 4294967295, not -1)"},
        {withKeys(R"("depth": 2, "base_port": -1)"),
         R"("base_port" must be a whole number from 1024 to 64899, not -1)"},
        {withKeys(R"("depth": 2, "base_port": 4294967295)"),
         R"("base_port" must be a whole number from 1024 to 64899, not 4294967295)"},
        {withKeys(R"("depth": 2, "concurrency": -1)"),
         R"("concurrency" must be a whole number from 1 to 1024, not -1)"},
        {withKeys(R"("depth": 2, "seed": -1)"),
         R"("seed" must be a whole number from 0 to 4294967295, not -1)"},
        {withKeys(R"("depth": 2, "bot_log_limit": -1)"),
         R"("bot_log_limit" must be a whole number from 1 to 1073741824, not -1)"},
        {withKeys(R"("depth": 2, "bot_log_limit": "x")"),
         R"("bot_log_limit" must be a whole number from 1 to 1073741824, not "x")"},
        {withKeys(R"("depth": 2, "match_timeout": "x")"),
         R"("match_timeout" must be a number from 0 to 604800, not "x")"},
        {withKeys(R"("depth": 2, "connect_timeout": "x")"),
         R"("connect_timeout" must be a number from 1 to 3600, not "x")"},
        {withKeys(R"("depth": 2, "rounds": -1)"),
         R"("rounds" must be a whole number from 1 to 1000000, not -1)"},
        {withKeys(R"("depth": 2, "rounds": 1e9)"),
         R"("rounds" must be a whole number from 1 to 1000000, not 1000000000.0)"},
        {withKeys(R"("depth": 2, "rounds": 600000)"),
         R"(the plan would hold more than 1000000 matches: fewer "rounds", bots or maps)"},
        {withKeys(R"("depth": 2, "round": 2)"),
         R"("round" is not a known key (did you mean "rounds"?))"},
        {withKeys(R"("depth": 2, "concurency": 2)"),
         R"("concurency" is not a known key (did you mean "concurrency"?))"},
        {withKeys(R"("depth": 2, "colour": 2)"), R"("colour" is not a known key)"},
        {withKeys(R"("depth": 2, "server": "")"),
         R"("server" must be a string of 1 to 4096 bytes without control characters, not "")"},
        {R"({"maps": ["tiny.map"], "depth": 2})", R"("bots" is missing)"},
        {R"({"bots": [], "maps": ["tiny.map"], "depth": 2})",
         R"("bots" must be a list [...] of 1 to 1000 entries, not [])"},
        {R"({"bots": [{"name": "a"}], "maps": ["tiny.map"], "depth": 2})",
         R"("bots"[0] "command" is missing)"},
        {R"({"bots": [{"name": "a", "command": "x", "cmd": 1}], "maps": ["tiny.map"], "depth": 2})",
         R"("bots"[0] "cmd" is not a known key)"},
        {R"({"bots": [{"name": "a b", "command": "x"}], "maps": ["tiny.map"], "depth": 2})",
         R"("bots"[0] "name" must be a unique word without '/', not "a b")"},
        {R"({"bots": [{"name": "a", "command": "x"}, {"name": "a", "command": "y"}], "maps": ["tiny.map"], "depth": 2})",
         R"("bots"[1] "name" must be a unique word without '/', not "a")"},
        {R"({"bots": [{"name": "a", "command": "x"}], "maps": [3], "depth": 2})",
         R"("maps" must list file names, but entry 1 is 3)"},
        {R"({"bots": [{"name": "a", "command": "x"}], "maps": ["none.map"], "depth": 2})",
         R"("maps": )" + std::string("DIR") +
             R"(/none.map: cannot open: No such file or directory)"},
        {withKeys(R"("depth": 2, "limits": {"processes": 4294967296})"),
         R"("limits" limit "processes" must be a whole number from 0 (off) to 4194304, not 4294967296)"},
        {withKeys(R"("depth": 2, "limits": {"cpu_s": 4294967297})"),
         R"("limits" limit "cpu_s" must be a whole number from 0 (off) to 31536000, not 4294967297)"},
        {withKeys(R"("depth": 2, "limits": {"pondering": 2})"),
         R"("limits" limit "pondering" must be true or false (or 1 or 0), not 2)"},
        {withKeys(R"("depth": 2, "limits": {"pondering": "no"})"),
         R"("limits" limit "pondering" must be true or false (or 1 or 0), not "no")"},
        {withKeys(R"("depth": 2, "limits": {"open_files": 1048577})"),
         R"("limits" limit "open_files" must be a whole number from 0 (off) to 1048576, not 1048577)"},
        {withKeys(R"("depth": 2, "limits": {"memory_mb": 1099511627776})"),
         R"("limits" limit "memory_mb" must be a whole number from 0 (off) to 1048576, not 1099511627776)"},
        {R"({"bots": [{"name": "a", "command": "x", "limits": {"processes": 4294967297}}], "maps": ["tiny.map"], "depth": 2})",
         R"("bots"[0] "limits" limit "processes" must be a whole number from 0 (off) to 4194304, not 4294967297)"},
        {R"({"bots": [{"name": "a", "command": "x", "dir": ")" + std::string(4000, 'd') +
             R"("}], "maps": ["tiny.map"], "depth": 2})",
         R"("bots"[0] "dir" must be a path of at most 4095 bytes with names of at most 255 bytes, not ")" +
             std::string(39, 'd') + "..."},
        {R"({"bots": [{"name": "a", "command": "x", "dir": ")" + std::string(4100, 'd') +
             R"("}], "maps": ["tiny.map"], "depth": 2})",
         R"("bots"[0] "dir" must be a string of 1 to 4095 bytes without control characters, not ")" +
             std::string(39, 'd') + "..."},
        {R"({"bots": [{"name": "a", "command": "x"}], "maps": [")" + std::string(300, 'm') +
             R"("], "depth": 2})",
         R"("maps" entry 1 must be a path of at most 4095 bytes with names of at most 255 bytes)"},
        {R"({"bots": [{"name": "a", "command": "x"}], "maps": [")" +
             std::string(3000, 'm').replace(100, 1, "/").replace(300, 1, "/") +
             R"("], "depth": 2})",
         R"("maps" entry 1 must be a path of at most 4095 bytes with names of at most 255 bytes)"},
        {R"([1, 2])", R"(the document must be an object {...}, not [1,2])"},
        {R"({"bots": )", R"(not valid JSON (truncated?))"},
        {std::string(100, '[') + std::string(100, ']'), R"(nested more than 64 deep)"},
    };
    TempDir dir;
    for (const auto& [text, expected] : rows) {
        std::string want = expected;
        const size_t at = want.find("DIR");
        if (at != std::string::npos) {
            want.replace(at, 3, fs::canonical(dir.path()).string());
        }
        EXPECT_EQ(loadError(dir, text), want) << text;
    }
}

TEST(LeagueConfig, RefusesADatabaseItCannotKeep) {
    const struct {
        std::string database;
        std::string error;
    } rows[] = {
        {":memory:", R"("database" must name a file or a PostgreSQL server, not ":memory:" (a )"
                     R"(league kept in memory is forgotten when the run ends))"},
        {std::string(4000, 'd'),
         R"("database" must be a path of at most 4095 bytes with names of at most 255 bytes)"},
        {"",
         R"("database" must be a string of 1 to 4096 bytes without control characters, not "")"},
        {"league.db", ""},
    };
    TempDir dir;
    dir.write("tiny.map", TINY2);
    for (const auto& row : rows) {
        const std::string file = dir.write(
            "league.json", withKeys(R"("depth": 2, "database": )" + json(row.database).dump()));
        LeagueConfig config;
        std::string error;
        const bool loaded = config.load(file, error);
        EXPECT_EQ(loaded ? "" : error.substr(file.size() + 2), row.error) << row.database;
    }
}

TEST(TournamentConfig, FillsDefaultsAndMakesPathsAbsolute) {
    TempDir dir;
    fs::create_directories(dir.path() + "/sub");
    dir.write("sub/tiny.map", TINY2);
    const std::string file =
        dir.write("sub/c.json", R"({"bots": [{"name": "a", "command": "random", "dir": "bots"}],
                         "maps": ["tiny.map"], "time": 0.5})");
    TournamentConfig config;
    std::string error;
    ASSERT_TRUE(config.load(file, error)) << error;
    const std::string sub = fs::canonical(dir.path()).string() + "/sub";
    const json expected = {
        {"bots", {{{"name", "a"}, {"command", "random"}, {"dir", sub + "/bots"}}}},
        {"maps", {sub + "/tiny.map"}},
        {"time", 0.5},
        {"rounds", 1},
        {"seed", 1},
        {"base_port", 20000}};
    EXPECT_EQ(config.document(), expected);
    EXPECT_EQ(config.time, 0.5);
    EXPECT_EQ(config.botLogLimit, 1u << 20);
}

TEST(TournamentConfig, PonderingIsTheTournamentsUnlessABotSaysOtherwise) {
    TempDir dir;
    dir.write("tiny.map", TINY2);
    const std::string file = dir.write("c.json", R"({"bots": [
        {"name": "a", "command": "random"},
        {"name": "b", "command": "random", "limits": {"pondering": true}},
        {"name": "c", "command": "random", "limits": {"memory_mb": 64}}],
        "maps": ["tiny.map"], "time": 0.5, "limits": {"pondering": false}})");
    TournamentConfig config;
    std::string error;
    ASSERT_TRUE(config.load(file, error)) << error;
    ASSERT_EQ(config.bots.size(), 3u);
    EXPECT_FALSE(config.limitsOf(config.bots[0]).pondering);
    EXPECT_TRUE(config.limitsOf(config.bots[1]).pondering);
    EXPECT_FALSE(config.limitsOf(config.bots[2]).pondering);
    EXPECT_EQ(config.limitsOf(config.bots[2]).toJson()["pondering"], false);
    EXPECT_TRUE(JailLimits().pondering) << "pondering is allowed unless the organiser says not";
}

TEST(TournamentConfig, CountsThePlanBeforeBuildingIt) {
    // n bots on k seats: n choose k line-ups (each bot at least once when n < k: k-1 choose
    // n-1), each in k rotations.
    EXPECT_EQ(TournamentConfig::planSize(3, {2}, 1), 6u);
    EXPECT_EQ(TournamentConfig::planSize(3, {2, 3}, 2), 2u * (3 * 2 + 1 * 3));
    EXPECT_EQ(TournamentConfig::planSize(2, {4}, 1), 3u * 4);
    EXPECT_EQ(TournamentConfig::planSize(1, {8}, 1), 8u);
    // 30 bots on an 8-seat map: 5,852,925 line-ups of 8 rotations.
    EXPECT_GT(TournamentConfig::planSize(30, {8}, 1), TournamentConfig::MAX_MATCHES);
    EXPECT_GT(TournamentConfig::planSize(1000, {8}, 1000000), TournamentConfig::MAX_MATCHES);

    TempDir dir;
    dir.write("eight.map", "8\n0\n0 0\n4 4\n1 2 3 4\n5 6 7 8\n0 0 0 0\n0 0 0 0\n");
    std::string bots;
    for (int i = 0; i < 30; ++i) {
        bots += (i ? ", " : "") + std::string(R"({"name": "b)") + std::to_string(i) +
                R"(", "command": "random"})";
    }
    EXPECT_EQ(loadError(dir, R"({"bots": [)" + bots + R"(], "maps": ["eight.map"], "depth": 1})"),
              R"(the plan would hold more than 1000000 matches: fewer "rounds", bots or maps)");
}

TEST(TournamentConfig, GivesEveryMatchItsOwnId) {
    TempDir dir;
    for (const char* sub : {"d1", "d2", "d3"}) {
        fs::create_directories(dir.path() + "/" + sub);
    }
    dir.write("d1/x_3.map", TINY2);
    dir.write("d2/x.map", TINY2);
    dir.write("d3/x.map", TINY2);
    dir.write("d3/odd name!.map", TINY2);
    const std::string file = dir.write(
        "c.json", std::string("{") + TWO_BOTS +
                      R"(, "maps": ["d1/x_3.map", "d2/x.map", "d3/x.map", "d3/odd name!.map"],
                          "depth": 1})");
    TournamentConfig config;
    json plan;
    std::string error;
    ASSERT_TRUE(config.load(file, error) && config.makePlan(plan, error)) << error;
    std::vector<std::string> ids;
    for (const json& m : plan["matches"]) {
        ids.push_back(m["id"]);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"r1-x_3-1-1", "r1-x_3-1-2", "r1-x-1-1", "r1-x-1-2",
                                             "r1-x_4-1-1", "r1-x_4-1-2", "r1-odd_name_-1-1",
                                             "r1-odd_name_-1-2"}));
}

TEST(TournamentFolder, RefusesEachBadShape) {
    TempDir dir;
    dir.write("tiny.map", TINY2);
    const std::string file = dir.write("c.json", withKeys(R"("depth": 1)"));
    TournamentConfig config;
    json plan;
    std::string error;
    ASSERT_TRUE(config.load(file, error) && config.makePlan(plan, error)) << error;
    const std::string out = dir.path() + "/out";

    // Lock held: a second arena on the folder names the first and stops.
    auto first = std::make_unique<Tournament>();
    ASSERT_TRUE(first->create(out, plan, error)) << error;
    Tournament second;
    EXPECT_FALSE(second.create(out, plan, error));
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(error, out + "/arena.lock is held by pid " + std::to_string(getpid()) + " on " +
                         host + ": another arena is running this folder; wait for it or stop it");
    EXPECT_FALSE(second.claim("r1-tiny-1-1", error));
    first.reset();

    // A file where a match's log folder goes: that match fails with a note.
    Tournament opened;
    ASSERT_TRUE(opened.open(out, error)) << error;
    ASSERT_TRUE(opened.claim("r1-tiny-1-1", error)) << error;
    dir.write("out/logs/r1-tiny-1-1", "in the way");
    MatchRecord record;
    MatchSlot slot;
    slot.basePort = 20000;
    error.clear();
    EXPECT_EQ(opened.play(plan["matches"][0], slot, record, error), MatchOutcome::Interrupted);
    EXPECT_EQ(error, "match r1-tiny-1-1: cannot make its log folder " + out +
                         "/logs/r1-tiny-1-1: Not a directory");

    // The map replaced after planning by one with more seats.
    dir.write("tiny.map", TINY3);
    error.clear();
    EXPECT_EQ(opened.play(plan["matches"][1], slot, record, error), MatchOutcome::Interrupted);
    EXPECT_EQ(error, "match r1-tiny-1-2: the map " + config.maps[0] +
                         " has 3 seats, the plan 2 bots; the map changed after planning: plan "
                         "the tournament anew");

    // Tampered plans: every match field is checked before it names a file.
    const std::vector<std::pair<std::string, std::string>> tampered = {
        {"id", R"("../../escape")"},
        {"id", R"("")"},
        {"index", R"(-1)"},
        {"bots", R"(["a", "nobody"])"},
    };
    const std::vector<std::string> expected = {
        R"("matches"[0] "id" must be a word of letters, digits, '.', '_' and '-', not "../../escape")",
        R"("matches"[0] "id" must be a string of 1 to 128 bytes without control characters, not "")",
        R"("matches"[0] "index" must be a whole number from 0 to 4294967295, not -1)",
        R"("matches"[0] "bots" names a bot the configuration does not have: "nobody")",
    };
    for (size_t i = 0; i < tampered.size(); ++i) {
        json edited = plan;
        edited["matches"][0][tampered[i].first] = json::parse(tampered[i].second);
        dir.write("out/plan.json", edited.dump());
        Tournament t;
        EXPECT_FALSE(t.open(out, error));
        EXPECT_EQ(error, out + "/plan.json: " + expected[i]);
    }
    json twice = plan;
    twice["matches"][1]["id"] = twice["matches"][0]["id"];
    dir.write("out/plan.json", twice.dump());
    Tournament t;
    EXPECT_FALSE(t.open(out, error));
    EXPECT_EQ(error, out + "/plan.json: two matches have the id r1-tiny-1-1");
}

TEST(MapFile, RefusesWhatIsNoSmallRegularFile) {
    TempDir dir;
    const std::string fifo = dir.path() + "/fifo.map";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = dir.write("large.map", std::string(MapFile::MAX_BYTES + 1, ' '));
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"/dev/zero", "/dev/zero: not a regular file"},
        {"/dev/urandom", "/dev/urandom: not a regular file"},
        {fifo, fifo + ": not a regular file"},
        {dir.path(), dir.path() + ": not a regular file"},
        {large, large + ": larger than 1048576 bytes"},
        {dir.path() + "/none.map",
         dir.path() + "/none.map: cannot open: No such file or directory"},
    };
    for (const auto& [path, expected] : rows) {
        Map map;
        std::string error;
        EXPECT_FALSE(MapFile::read(path, map, error)) << path;
        EXPECT_EQ(error, expected);
    }
    Map map;
    std::string error;
    EXPECT_TRUE(MapFile::read(dir.write("tiny.map", TINY3), map, error)) << error;
    EXPECT_TRUE(map.isValid());
    EXPECT_EQ(map.getPlayers(), 3u);
}
