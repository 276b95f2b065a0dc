// Tournaments end to end: line-ups and rotation, concurrency, an interruption and the resume,
// the plan run through GNU parallel, and the report over the records.

#include "arena/ArenaTestUtil.h"

#include "CoreSet.h"
#include "Subprocess.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <unistd.h>

using namespace arenatest;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

/// The jail bounds a bot's address space; a reference client built with AddressSanitizer
/// reserves terabytes of it, so that limit is off in the sanitizer build.
#ifdef REVERSI_SANITIZED
constexpr const char* JAIL_LIMITS = R"(, "limits": {"memory_mb": 0})";
#else
constexpr const char* JAIL_LIMITS = "";
#endif

std::string writeConfig(const TempDir& dir) {
    dir.write("tiny2.map", TINY2);
    dir.write("tiny3.map", TINY3);
    return dir.write("cfg.json", std::string(R"({"bots": [{"name": "r", "command": "random"},
                                             {"name": "g", "command": "greedy"},
                                             {"name": "s", "command": "search:1"}],
                                    "maps": ["tiny2.map", "tiny3.map"], "time": 0.5,
                                    "concurrency": 3, "oversubscribe": true, "seed": 4)") +
                                     JAIL_LIMITS + "}");
}

std::vector<std::string> files(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

/// Runs the arena to its end and returns its exit status; its output in `output`.
int runArena(Subprocess& arena, std::string& output) {
    char buffer[4096];
    while (arena.running() || arena.outputFd() >= 0) {
        const ssize_t n = arena.outputFd() >= 0 ? read(arena.outputFd(), buffer, sizeof buffer) : 0;
        if (n > 0) {
            output.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            arena.closeOutput();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return WIFEXITED(arena.waitStatus()) ? WEXITSTATUS(arena.waitStatus()) : -1;
}

/// Each record of the folder: its seats' bots by match id.
std::map<std::string, std::vector<std::string>> lineups(const std::string& dir) {
    std::map<std::string, std::vector<std::string>> out;
    for (const std::string& f : files(dir + "/matches")) {
        const json r = readRecord(dir + "/matches/" + f);
        EXPECT_FALSE(r.is_discarded()) << f;
        EXPECT_EQ(r["result"]["end"], "final") << f;
        for (const json& s : r["seats"]) {
            out[r["id"]].push_back(s["bot"]);
        }
    }
    return out;
}

void expectWholeTournament(const std::string& dir) {
    const auto played = lineups(dir);
    ASSERT_EQ(played.size(), 9u);
    // Three pairs on tiny2, each in both seat orders; the three bots on tiny3 in all three
    // rotations, so that each bot sits once in each seat.
    std::multiset<std::vector<std::string>> two;
    std::set<std::vector<std::string>> three;
    for (const auto& p : played) {
        (p.second.size() == 2 ? (void)two.insert(p.second) : (void)three.insert(p.second));
    }
    EXPECT_EQ(two, (std::multiset<std::vector<std::string>>{
                       {"r", "g"}, {"g", "r"}, {"r", "s"}, {"s", "r"}, {"g", "s"}, {"s", "g"}}));
    EXPECT_EQ(three, (std::set<std::vector<std::string>>{
                         {"r", "g", "s"}, {"g", "s", "r"}, {"s", "r", "g"}}));
}

} // namespace

TEST(ArenaTournament, InterruptedThenResumedWithoutDuplicates) {
    TempDir dir;
    openToJailedBots(dir);
    const std::string config = writeConfig(dir);
    const std::string out = dir.path() + "/out";
    const std::vector<std::string> args = arenaArgs({"tournament", config, "--out", out});
    std::vector<std::string> argv(args.begin(), args.end());
    argv[0] = REVERSI_ARENA_BIN;

    Subprocess first;
    std::string error;
    ASSERT_TRUE(first.start(argv, Subprocess::Options(), error)) << error;
    // Interrupt once the first record is there (no time limit on the wait: the test's own).
    while (first.running() && (!fs::exists(out + "/matches") || files(out + "/matches").empty())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // A second arena on the same folder meanwhile names the first and plays nothing.
    Subprocess rival;
    ASSERT_TRUE(rival.start(argv, Subprocess::Options(), error)) << error;
    std::string said;
    EXPECT_EQ(runArena(rival, said), 1) << said;
    EXPECT_NE(said.find("/arena.lock is held by pid " + std::to_string(first.pid())),
              std::string::npos)
        << said;
    said.clear();
    kill(first.pid(), SIGINT);
    EXPECT_EQ(runArena(first, said), 130) << said;
    EXPECT_NE(said.find("Resume with: arena tournament " + config + " --out " + out),
              std::string::npos)
        << said;
    const std::vector<std::string> kept = files(out + "/matches");
    EXPECT_LT(kept.size(), 9u);
    for (const std::string& f : kept) {
        EXPECT_EQ(fs::path(f).extension(), ".json") << "a temporary file was left: " << f;
    }

    Subprocess second;
    ASSERT_TRUE(second.start(argv, Subprocess::Options(), error)) << error;
    said.clear();
    EXPECT_EQ(runArena(second, said), 0) << said;
    EXPECT_NE(said.find(std::to_string(kept.size()) + " of 9 matches have records"),
              std::string::npos)
        << said;
    expectWholeTournament(out);

    // The report names a truncated record and skips it.
    dir.write("out/matches/broken.json", "{\"format\": \"reversi-match-1\", \"seats\": [");
    ChildProcess report;
    ASSERT_TRUE(report.start(REVERSI_ARENA_BIN, {"arena", "report", out, "--json"},
                             {"", dir.path() + "/report.out", dir.path() + "/report.err"}));
    ASSERT_EQ(report.wait(LONG_WAIT), 0);
    const json r = json::parse(report.output(), nullptr, false);
    ASSERT_FALSE(r.is_discarded()) << report.output();
    EXPECT_EQ(r["records"], 9);
    EXPECT_EQ(r["skipped"][0]["file"], "broken.json");
    EXPECT_EQ(r["bots"].size(), 3u);
    double points = 0;
    for (const json& b : r["bots"]) {
        EXPECT_EQ(b["matches"], 7) << b;
        points += b["points"].get<double>();
    }
    // Each pair of seats shares a point, divided by a seat's k - 1 opponents: 1 per two-seat
    // match, 1.5 per three-seat match.
    EXPECT_DOUBLE_EQ(points, 6 * 1.0 + 3 * 1.5);
}

TEST(ArenaTournament, PlanRunThroughGnuParallel) {
    if (system("command -v parallel >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "GNU parallel is not installed";
    }
    TempDir dir;
    openToJailedBots(dir);
    const std::string config = writeConfig(dir);
    const std::string out = dir.path() + "/out";
    const std::string plan =
        std::string(REVERSI_ARENA_BIN) + " plan " + out + " --config " + config;
    ChildProcess run;
    ASSERT_TRUE(
        run.start("/bin/bash",
                  {"bash", "-c", "set -o pipefail; " + plan + " | parallel -j 9 --halt now,fail=1"},
                  {"", dir.path() + "/run.out", ""}));
    ASSERT_EQ(run.wait(LONG_WAIT), 0) << run.output();
    expectWholeTournament(out);
    ChildProcess again;
    ASSERT_TRUE(again.start(REVERSI_ARENA_BIN, {"arena", "plan", out},
                            {"", dir.path() + "/again.out", ""}));
    EXPECT_EQ(again.wait(LONG_WAIT), 0);
    EXPECT_EQ(again.output(), "");
}

TEST(ArenaTournament, MoreMatchesAtOnceThanCoresAreRefusedUnlessOversubscribed) {
    TempDir dir;
    dir.write("tiny2.map", TINY2);
    const CoreSet& usable = CoreSet::usable();
    const std::string many = std::to_string(usable.size() + 1);
    const std::string config =
        dir.write("cfg.json", R"({"bots": [{"name": "r", "command": "random"},
                                             {"name": "g", "command": "greedy"}],
                                    "maps": ["tiny2.map"], "depth": 1, "sandbox": false})");
    const std::string out = dir.path() + "/out";
    const struct {
        std::vector<std::string> extra;
        int status;
        std::string says;
    } table[] = {
        {{"-j", many},
         1,
         many + " matches at once need a core each, but this arena has " +
             std::to_string(usable.size()) + " usable core" + (usable.size() == 1 ? "" : "s") +
             " (" + usable.text() + "): ask for at most " + std::to_string(usable.size()) +
             ", or share cores with --oversubscribe / \"oversubscribe\": true\n"},
        {{"-j", many, "--oversubscribe"}, 0, "All matches played"},
    };
    for (const auto& c : table) {
        std::vector<std::string> argv = arenaArgs({"tournament", config, "--out", out});
        argv[0] = REVERSI_ARENA_BIN;
        argv.insert(argv.end(), c.extra.begin(), c.extra.end());
        Subprocess arena;
        std::string error;
        ASSERT_TRUE(arena.start(argv, Subprocess::Options(), error)) << error;
        std::string said;
        EXPECT_EQ(runArena(arena, said), c.status) << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
    }
    // Both matches ran at once (2 <= many), each on one shared core, and their records say so.
    for (const std::string& f : files(out + "/matches")) {
        const json r = readRecord(out + "/matches/" + f);
        for (const json& seat : r["seats"]) {
            EXPECT_EQ(seat["sandbox"]["oversubscribed"], true) << f;
            EXPECT_EQ(seat["sandbox"]["cores"].get<std::string>().find(','), std::string::npos);
            EXPECT_TRUE(seat["cpu_ms"].is_number_unsigned()) << seat;
            EXPECT_GT(seat["max_rss_mb"].get<double>(), 0) << seat;
        }
    }
    EXPECT_EQ(files(out + "/matches").size(), 2u);
}
