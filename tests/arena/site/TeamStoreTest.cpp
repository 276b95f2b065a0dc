// The site's record of teams and their bots: ownership by record, the teams' limits, and
// the organiser's changes, on SQLite.

#include "TeamStore.h"
#include "TeamToken.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class TeamStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_store.open(m_dir.path() + "/league.db", error)) << error;
        ASSERT_TRUE(TeamToken::init());
        ASSERT_TRUE(m_store.addTeam("tigers", TeamToken::hash("t"), error)) << error;
        ASSERT_TRUE(m_store.addTeam("lions", TeamToken::hash("l"), error)) << error;
        m_tigers = m_store.authenticate("t")->id;
        m_lions = m_store.authenticate("l")->id;
    }
    /// An upload of `bot` by a team, built or failed; its id.
    int64_t upload(int64_t team, const std::string& bot, bool built = true) {
        std::string refusal;
        const int64_t id = m_store.reserveUpload(
            team, bot, m_dir.path() + "/" + bot + std::to_string(++m_count), m_limits, refusal);
        EXPECT_NE(id, 0) << refusal;
        m_store.unpacked(id);
        EXPECT_TRUE(m_store.finishBuild(id, built, "log"));
        return id;
    }

    TempDir m_dir;
    TeamStore m_store;
    TeamLimits m_limits{2, 5, 1};
    int64_t m_tigers = 0;
    int64_t m_lions = 0;
    int m_count = 0;
};

TEST_F(TeamStoreTest, ABotBelongsToTheTeamThatUploadedItAndNamesDoNotGrantIt) {
    upload(m_tigers, "alpha");
    EXPECT_EQ(m_store.ownerOf("tigers.alpha"), m_tigers);
    // An organiser's bot in the team's name space, and names never uploaded, are no team's.
    for (const char* name : {"tigers.spy", "tigers", "lions.alpha", "greedy", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(m_store.ownerOf(name), std::nullopt);
    }
    EXPECT_EQ(m_store.namespaceOf("tigers.spy"), "tigers");
    EXPECT_EQ(m_store.namespaceOf("bears.spy"), "");
    EXPECT_EQ(m_store.namespaceOf("tigers"), "");
}

TEST_F(TeamStoreTest, LimitsCountBotsInTheLeagueUploadsOfTheHourAndWaitingBuilds) {
    std::string refusal;
    EXPECT_NE(m_store.reserveUpload(m_tigers, "a", m_dir.path() + "/a0", m_limits, refusal), 0);
    // One build may wait: a second upload waits for it, whatever its bot.
    EXPECT_EQ(
        m_store.overLimit(m_tigers, "b", m_limits).rfind("over the team's limit queued_builds", 0),
        0u);
    EXPECT_EQ(m_store.overLimit(m_lions, "b", m_limits), "");
    m_store.dropUpload(1);
    upload(m_tigers, "a");
    upload(m_tigers, "failed", false); // a bot that never built is not in the league
    upload(m_tigers, "b");
    EXPECT_EQ(m_store.overLimit(m_tigers, "a", m_limits), "");
    EXPECT_EQ(m_store.overLimit(m_tigers, "c", m_limits).rfind("over the team's limit bots:", 0),
              0u);
    std::string error;
    ASSERT_TRUE(m_store.withdraw("tigers.b", error)) << error;
    EXPECT_EQ(m_store.overLimit(m_tigers, "c", m_limits), "");
    upload(m_tigers, "c");
    upload(m_tigers, "c"); // the fifth of the hour: a refused upload (dropped) counted none
    EXPECT_EQ(m_store.overLimit(m_tigers, "a", m_limits),
              "over the team's limit uploads_per_hour: at most 5 uploads an hour");
}

TEST_F(TeamStoreTest, WithdrawnBotsAndRemovedTeamsLeaveTheLeagueAndTheirNamesStay) {
    upload(m_tigers, "a");
    const int64_t b = upload(m_tigers, "b");
    upload(m_lions, "a");
    std::string error;
    ASSERT_TRUE(m_store.withdraw("tigers.a", error));
    EXPECT_FALSE(m_store.withdraw("tigers.a", error));
    EXPECT_EQ(error, "tigers.a is withdrawn already");
    EXPECT_FALSE(m_store.withdraw("greedy", error));
    std::vector<std::string> current;
    for (const SubmissionRow& row : m_store.latestBuilt()) {
        current.push_back(TeamStore::leagueName(row.team, row.bot));
        EXPECT_EQ(row.command(), "./run # upload " + std::to_string(row.id) + " of " + row.created);
    }
    EXPECT_EQ(current, (std::vector<std::string>{"lions.a", "tigers.b"}));
    const int64_t stamp = m_store.rosterStamp();
    const int64_t again = upload(m_tigers, "a"); // a new version brings it back
    EXPECT_NE(m_store.rosterStamp(), stamp);
    EXPECT_EQ(m_store.latestBuilt().size(), 3u);

    ASSERT_TRUE(m_store.removeTeam("tigers", error)) << error;
    EXPECT_EQ(m_store.authenticate("t"), std::nullopt);
    EXPECT_EQ(m_store.latestBuilt().size(), 1u);
    EXPECT_EQ(m_store.teams().size(), 1u);
    EXPECT_FALSE(m_store.addTeam("tigers", TeamToken::hash("x"), error));
    EXPECT_EQ(m_store.namespaceOf("tigers.x"), "tigers");
    EXPECT_EQ(m_store.submission(b)->state, "built"); // the history stays
    EXPECT_EQ(m_store.submission(again)->team, "tigers");
    EXPECT_FALSE(m_store.setToken("tigers", TeamToken::hash("y"), error));

    ASSERT_TRUE(m_store.setToken("lions", "", error));
    EXPECT_EQ(m_store.authenticate("l"), std::nullopt);
    EXPECT_FALSE(m_store.teams()[0].hasToken);
}

} // namespace
