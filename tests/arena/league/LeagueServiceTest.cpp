// Leagues on a real PostgreSQL server started here: the growing league, and two arenas on one
// league at once, one of them killed in the middle of a match.

#include "arena/LeagueTestUtil.h"

#include "Subprocess.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <pwd.h>
#include <thread>
#include <unistd.h>

using namespace arenatest;
using namespace leaguetest;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char* const PG_BIN = "/usr/lib/postgresql/15/bin";

/// Runs a shell command (as the postgres user when root); its exit status.
int shell(const std::string& command) {
    const std::string line =
        geteuid() == 0 ? "runuser -u postgres -- sh -c '" + command + "'" : command;
    return std::system((line + " >/dev/null 2>&1").c_str());
}

/// A PostgreSQL server in a temporary folder on a private port, stopped when it goes.
class PostgresServer {
public:
    explicit PostgresServer(const std::string& dir) : m_dir(dir + "/pg") {
        fs::create_directories(m_dir);
        fs::permissions(dir, fs::perms::all, fs::perm_options::add);
        if (geteuid() == 0) {
            const passwd* pg = getpwnam("postgres");
            if (pg == nullptr || chown(m_dir.c_str(), pg->pw_uid, pg->pw_gid) != 0) {
                return;
            }
        }
        m_port = 25432 + static_cast<int>(getpid() % 1000);
        const std::string bin = std::string(PG_BIN);
        m_started = shell(bin + "/initdb -D " + m_dir + "/data -A trust -U league") == 0 &&
                    shell(bin + "/pg_ctl -D " + m_dir + "/data -l " + m_dir + "/log -o \"-p " +
                          std::to_string(m_port) + " -k " + m_dir +
                          " -c listen_addresses=127.0.0.1\" -w start") == 0;
    }
    ~PostgresServer() {
        if (m_started) {
            shell(std::string(PG_BIN) + "/pg_ctl -D " + m_dir + "/data -m immediate -w stop");
        }
    }
    bool started() const { return m_started; }
    /// A fresh database of that name on the server.
    std::string database(const std::string& name) const {
        const std::string server =
            "host=127.0.0.1 port=" + std::to_string(m_port) + " user=league dbname=";
        std::string error;
        std::unique_ptr<SqlDatabase> db = SqlDatabase::open(server + "postgres", error);
        EXPECT_TRUE(db && db->exec("CREATE DATABASE " + name)) << error;
        return server + name;
    }

private:
    std::string m_dir;
    int m_port = 0;
    bool m_started = false;
};

class LeagueOnPostgres : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<PostgresServer>(dir.path());
        ASSERT_TRUE(server->started()) << "PostgreSQL did not start; see " << dir.path();
    }
    TempDir dir;
    std::unique_ptr<PostgresServer> server;
};

std::int64_t claimedBy(const std::string& database, pid_t pid) {
    std::string error;
    std::unique_ptr<SqlDatabase> db = SqlDatabase::open(database, error);
    std::int64_t n = 0;
    bool found = false;
    if (db) {
        db->scalar("SELECT COUNT(*) FROM matches WHERE status = 'claimed' AND claimed_by LIKE ?",
                   {"%:" + std::to_string(pid) + ":%"}, n, found);
    }
    return n;
}

} // namespace

TEST_F(LeagueOnPostgres, GrowsPlayingOnlyTheNewMatches) {
    const std::string database = server->database("grow");
    growingLeague(dir, database);
    // A bot entered in the database (a site's) is planned with the configuration's; entering
    // it again moves its folder; withdrawn, it leaves the next plan.
    LeagueConfig config;
    std::string error;
    ASSERT_TRUE(config.loadLeague(dir.path(), error)) << error;
    std::unique_ptr<League> league = League::open(database, error);
    ASSERT_TRUE(league) << error;
    LeagueProgress before;
    LeagueProgress with;
    LeagueProgress without;
    ASSERT_TRUE(league->progress(before));
    ASSERT_TRUE(league->enter("team.x", "greedy", "/old"));
    ASSERT_TRUE(league->enter("team.x", "greedy", dir.path()));
    ASSERT_TRUE(league->schedule(config, with)) << league->error();
    EXPECT_GT(with.needed, before.needed);
    std::vector<BotVersion> versions;
    ASSERT_TRUE(league->versions(versions));
    const auto entered = std::find_if(versions.begin(), versions.end(),
                                      [](const BotVersion& v) { return v.bot == "team.x"; });
    ASSERT_NE(entered, versions.end());
    EXPECT_EQ(entered->dir, dir.path());
    ASSERT_TRUE(league->withdraw("team.x"));
    ASSERT_TRUE(league->schedule(config, without));
    EXPECT_EQ(without.needed, before.needed);
}

TEST_F(LeagueOnPostgres, TwoArenasShareALeagueAndTakeOverAKilledOnesMatch) {
    const std::string database = server->database("shared");
    dir.write("a.map", TINY2);
    dir.write("b.map", TINY2B);
    writeLeague(dir, database,
                {{{"name", "r"}, {"command", "random:3"}},
                 {{"name", "g"}, {"command", "greedy"}},
                 {{"name", "s"}, {"command", "search:1"}}},
                {"a.map", "b.map"});
    json config = readJson(dir.path() + "/league.json");
    config["lease"] = 2;
    dir.write("league.json", config.dump());
    std::vector<std::string> words = arenaArgs({"league", dir.path(), "-j", "2"});
    words[0] = REVERSI_ARENA_BIN;
    Subprocess doomed;
    Subprocess survivor;
    std::string error;
    ASSERT_TRUE(doomed.start(words, Subprocess::Options(), error));
    // Kill the first arena as soon as it holds a claim: its match is taken over after the lease.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (claimedBy(database, doomed.pid()) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(survivor.start(words, Subprocess::Options(), error));
    ASSERT_GT(claimedBy(database, doomed.pid()), 0);
    kill(doomed.pid(), SIGKILL);
    while (survivor.running()) {
        char buffer[4096];
        if (survivor.outputFd() < 0 || read(survivor.outputFd(), buffer, sizeof buffer) <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_EQ(survivor.describeEnd(), "exit status 0");
    const Counts c = counts(database);
    EXPECT_EQ(c.done, 12);
    EXPECT_EQ(c.records, 12);
    EXPECT_EQ(c.maxAttempts, 2) << "the killed arena's match is claimed a second time";
}

int main(int argc, char** argv) {
    if (access((std::string(PG_BIN) + "/initdb").c_str(), X_OK) != 0) {
        std::cout << "PostgreSQL 15 is not installed (tools/setup tests installs it): skipped\n";
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
