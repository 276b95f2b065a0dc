// Leagues on SQLite that play many matches: growing step by step, and openings that keep
// deterministic bots from replaying one game.

#include "arena/LeagueTestUtil.h"

#include <gtest/gtest.h>

using namespace arenatest;
using namespace leaguetest;
using nlohmann::json;

TEST(League, GrowsPlayingOnlyTheNewMatches) {
    TempDir dir;
    growingLeague(dir, "");
}

TEST(League, OpeningsGiveDeterministicBotsDistinctGamesAndCopiesAreFlagged) {
    // Six by six, two players: long enough for openings of four plies.
    const char* const six = "2\n0\n0 0\n6 6\n0 0 0 0 0 0\n0 0 0 0 0 0\n0 0 1 2 0 0\n"
                            "0 0 2 1 0 0\n0 0 0 0 0 0\n0 0 0 0 0 0\n";
    for (const int openings : {4, 0}) {
        TempDir dir;
        dir.write("six.map", six);
        writeLeague(
            dir, "",
            {{{"name", "g"}, {"command", "greedy:1"}}, {{"name", "s"}, {"command", "search:1"}}},
            {"six.map"});
        json config = readJson(dir.path() + "/league.json");
        config["rounds"] = 4;
        config["openings"] = openings;
        dir.write("league.json", config.dump());
        std::string output;
        json t;
        ASSERT_NO_FATAL_FAILURE(playAndTabulate(dir, output, t));
        // With openings: 4 openings in both seat orders, 8 distinct games. Without: the same
        // two games in every round, 6 copies counted once.
        EXPECT_EQ(t["matches"], openings ? 8 : 2) << openings;
        EXPECT_EQ(t["duplicates"].size(), openings ? 0u : 6u) << openings;
    }
}
