// Versions by content: the digest of a bot's folder, and a league database of the first schema
// taking digests without losing its versions.

#include "BotRepository.h"
#include "FolderDigest.h"
#include "League.h"
#include "LeagueSchema.h"
#include "SqlDatabase.h"
#include "arena/LeagueTestUtil.h"
#include "support/TempDir.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string digestOf(const std::string& dir) {
    std::string digest;
    std::string error;
    bool truncated = false;
    EXPECT_TRUE(FolderDigest::of(dir, digest, truncated, error)) << error;
    EXPECT_FALSE(truncated);
    return digest;
}

} // namespace

TEST(FolderDigest, FollowsContentNamesAndLinksNotPlaces) {
    TempDir dir;
    const auto fill = [&](const std::string& folder) {
        fs::create_directories(dir.path() + "/" + folder + "/lib");
        dir.write(folder + "/bot.py", "print('hi')\n");
        dir.write(folder + "/lib/w.txt", "1 2 3");
    };
    fill("a");
    fill("b");
    const std::string a = dir.path() + "/a";
    const std::string base = digestOf(a);
    EXPECT_EQ(base.size(), 64u);
    EXPECT_EQ(digestOf(dir.path() + "/b"), base) << "same content elsewhere";
    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        {"a changed byte", [&] { dir.write("a/lib/w.txt", "1 2 4"); }},
        {"a renamed file", [&] { fs::rename(a + "/lib/w.txt", a + "/lib/v.txt"); }},
        {"an empty folder added", [&] { fs::create_directories(a + "/cache"); }},
        {"a link to a large file", [&] { fs::create_symlink("/proc/self/mem", a + "/m"); }},
    };
    std::set<std::string> seen{base};
    for (const auto& change : changes) {
        change.second();
        EXPECT_TRUE(seen.insert(digestOf(a)).second) << change.first;
    }
    std::string digest;
    std::string error;
    bool truncated = false;
    EXPECT_FALSE(FolderDigest::of(dir.path() + "/none", digest, truncated, error));
    EXPECT_NE(error.find("cannot read the folder"), std::string::npos) << error;
}

TEST(BotRepository, AFirstSchemaLeagueKeepsItsVersionsAndTakesContentVersions) {
    TempDir dir;
    std::string error;
    std::unique_ptr<SqlDatabase> db = SqlDatabase::open(dir.path() + "/old.db", error);
    ASSERT_TRUE(db) << error;
    // The tables of schema 1 that later steps touch, with a seat referring to a version.
    for (const char* sql :
         {"CREATE TABLE schema_version (version INTEGER NOT NULL)",
          "INSERT INTO schema_version (version) VALUES (1)",
          "CREATE TABLE bots (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE, "
          "created BIGINT NOT NULL)",
          "CREATE TABLE bot_versions (id INTEGER PRIMARY KEY AUTOINCREMENT, bot_id BIGINT NOT "
          "NULL REFERENCES bots(id), version INTEGER NOT NULL, command TEXT NOT NULL, dir TEXT "
          "NOT NULL, created BIGINT NOT NULL, current INTEGER NOT NULL DEFAULT 0, UNIQUE "
          "(bot_id, command), UNIQUE (bot_id, version))",
          "CREATE TABLE seats (match_id BIGINT NOT NULL, seat INTEGER NOT NULL, version_id BIGINT "
          "NOT NULL REFERENCES bot_versions(id), PRIMARY KEY (match_id, seat))",
          "CREATE TABLE matches (id INTEGER PRIMARY KEY AUTOINCREMENT, key TEXT NOT NULL, "
          "time_ms INTEGER NOT NULL, depth INTEGER NOT NULL, needed INTEGER NOT NULL DEFAULT 1, "
          "status TEXT NOT NULL DEFAULT 'pending')",
          "INSERT INTO bots (name, created) VALUES ('g', 1)",
          "INSERT INTO bot_versions (bot_id, version, command, dir, created) "
          "VALUES (1, 1, 'greedy', '/x', 1)",
          "INSERT INTO seats (match_id, seat, version_id) VALUES (1, 1, 1)",
          // Played under the limit in force, under an earlier one, and by an older version.
          "INSERT INTO matches (key, time_ms, depth, needed, status) VALUES "
          "('now', 0, 2, 1, 'done'), ('earlier limit', 0, 1, 0, 'done'), "
          "('older version', 0, 2, 0, 'done')"}) {
        ASSERT_TRUE(db->exec(sql)) << sql << ": " << db->error();
    }
    ASSERT_TRUE(LeagueSchema::migrate(*db, error)) << error;
    BotRepository bots(*db);
    BotVersion v;
    bool fresh = true;
    ASSERT_TRUE(bots.versionFor("g", "greedy", "", "/x", 2, v, fresh));
    EXPECT_EQ(v.id, 1);
    EXPECT_FALSE(fresh);
    ASSERT_TRUE(bots.versionFor("g", "greedy", "ab12", "/x", 2, v, fresh));
    EXPECT_EQ(v.version, 2);
    EXPECT_TRUE(fresh);
    // The seat still refers to version 1, and references are enforced again.
    EXPECT_FALSE(db->exec("INSERT INTO seats (match_id, seat, version_id) VALUES (2, 1, 99)"));
    std::int64_t count = 0;
    bool found = false;
    ASSERT_TRUE(db->scalar("SELECT COUNT(*) FROM seats s JOIN bot_versions v ON "
                           "v.id = s.version_id WHERE v.command = 'greedy'",
                           {}, count, found));
    EXPECT_EQ(count, 1);
    // A league whose limit changed before matches were kept apart keeps the earlier limit's.
    std::string kept;
    ASSERT_TRUE(db->query("SELECT key FROM matches WHERE kept = 1", {},
                          [&](const SqlRow& row) { kept += row.text(0) + ";"; }));
    EXPECT_EQ(kept, "earlier limit;");
}

TEST(League, ARenamedBotKeepsItsVersionsAndResults) {
    TempDir dir;
    dir.write("a.map", arenatest::TINY2);
    const auto configure = [&](const std::string& name) {
        leaguetest::writeLeague(
            dir, "",
            {{{"name", name}, {"command", "greedy"}}, {{"name", "other"}, {"command", "random:1"}}},
            {"a.map"});
        LeagueConfig config;
        std::string error;
        EXPECT_TRUE(config.loadLeague(dir.path(), error)) << error;
        return config;
    };
    std::string error;
    std::unique_ptr<League> league = League::open(dir.path() + "/league.db", error);
    ASSERT_TRUE(league) << error;
    LeagueProgress p;
    ASSERT_TRUE(league->schedule(configure("old"), p));
    EXPECT_EQ(p.added, 2u);
    const std::vector<std::pair<std::pair<std::string, std::string>, std::string>> refused{
        {{"nobody", "x"}, "the league has no bot named nobody"},
        {{"old", "other"}, "the league already has a bot named other"},
        {{"old", "a/b"}, "without spaces, '/' or control characters"},
        {{"old", ""}, "a bot's name has 1 to 64 bytes"},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(league->rename(c.first.first, c.first.second));
        EXPECT_NE(league->error().find(c.second), std::string::npos) << league->error();
    }
    ASSERT_TRUE(league->rename("old", "new")) << league->error();
    ASSERT_TRUE(league->schedule(configure("new"), p));
    EXPECT_EQ(p.added, 0u) << "the renamed bot is the same version, its matches still needed";
    EXPECT_EQ(p.needed, 2u);
    EXPECT_TRUE(p.changed.empty());
    std::vector<BotVersion> versions;
    ASSERT_TRUE(league->versions(versions));
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].bot, "new");
    EXPECT_EQ(versions[0].version, 1);
}
