// Sampled scheduling: hand-checked plans of small leagues, windows, new versions, and the
// refusal of a round robin too large to play.

#include "SampledPlanner.h"
#include "League.h"
#include "LeagueConfig.h"
#include "arena/LeagueTestUtil.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace arenatest;
using nlohmann::json;

namespace {

SampledInput leagueOf(std::vector<std::int64_t> versions, std::vector<int> seats, unsigned n) {
    SampledInput in;
    in.versions = std::move(versions);
    for (size_t m = 0; m < seats.size(); ++m) {
        in.maps.push_back({{static_cast<std::int64_t>(10 + m), seats[m]}});
    }
    in.depth = 1;
    in.seed = 5;
    in.perVersion = n;
    in.window = 1000;
    return in;
}

/// Results in which `a` and `b` drew `times` times (winner 0) or `winner` won them.
void games(SampledInput& in, std::int64_t a, std::int64_t b, std::int64_t winner, int times) {
    for (int t = 0; t < times; ++t) {
        in.results.push_back({{a, b}, {winner == b ? 2 : 1, winner == a ? 2 : 1}});
    }
}

std::vector<std::string> keys(const std::vector<PlannedMatch>& plan) {
    std::vector<std::string> out;
    for (const PlannedMatch& m : plan) {
        out.push_back(m.key);
    }
    return out;
}

/// Matches per version and map of a plan.
std::map<std::pair<std::int64_t, std::int64_t>, unsigned> shares(const SampledPlan& plan) {
    std::map<std::pair<std::int64_t, std::int64_t>, unsigned> out;
    for (const PlannedMatch& m : plan.needed) {
        for (const std::int64_t v : std::set<std::int64_t>(m.versions.begin(), m.versions.end())) {
            ++out[{v, m.mapId}];
        }
    }
    return out;
}

/// Plays a plan on paper (every match done), as the runner would between windows.
void playAll(SampledInput& in, const SampledPlan& plan) {
    in.existing = plan.needed;
    in.existingDone.assign(plan.needed.size(), true);
}

} // namespace

TEST(SampledPlanner, PairsEvenOpponentsNewestFirstInBothSeatOrders) {
    // Versions 3 and 4 are strong and even, 1 and 2 weak and even: match quality pairs 4 (the
    // newest) with 3, then 2 with 1. Each line-up plays both seat orders: 2 matches each.
    SampledInput in = leagueOf({1, 2, 3, 4}, {2}, 2);
    games(in, 3, 4, 0, 4);
    games(in, 1, 2, 0, 4);
    for (const std::int64_t strong : {3, 4}) {
        for (const std::int64_t weak : {1, 2}) {
            games(in, strong, weak, strong, 4);
        }
    }
    const SampledPlan plan = SampledPlanner::plan(in);
    EXPECT_EQ(keys(plan.needed), (std::vector<std::string>{"m10/r1/d1/v3,4", "m10/r1/d1/v4,3",
                                                           "m10/r1/d1/v1,2", "m10/r1/d1/v2,1"}));
    EXPECT_EQ(plan.expected, 4u);
    // The same state plans the same matches, seeds included.
    const SampledPlan again = SampledPlanner::plan(in);
    for (size_t i = 0; i < plan.needed.size(); ++i) {
        EXPECT_EQ(plan.needed[i].seed, again.needed[i].seed);
    }
}

TEST(SampledPlanner, WindowsAddUpToEachVersionsShareAndNoMore) {
    // 9 versions on a 2-, a 3- and a 4-seat map, 12 matches each per map, at most 20 unplayed.
    std::vector<std::int64_t> versions;
    for (std::int64_t v = 1; v <= 9; ++v) {
        versions.push_back(v);
    }
    SampledInput in = leagueOf(versions, {2, 3, 4}, 12);
    in.window = 20;
    SampledPlan plan;
    for (int window = 0; window < 100; ++window) {
        plan = SampledPlanner::plan(in);
        const size_t fresh = plan.needed.size() - in.existing.size();
        ASSERT_LE(fresh, in.window + 3) << "a window overflows by at most one line-up";
        if (fresh == 0) {
            break;
        }
        playAll(in, plan);
    }
    const std::vector<std::string> all = keys(plan.needed);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), all.size());
    // A line-up's last seats may go to versions at their share: at most one line-up over.
    std::map<unsigned, unsigned> over;
    for (const auto& share : shares(plan)) {
        const auto seats = static_cast<unsigned>(share.first.second - 8);
        EXPECT_GE(share.second, 12u) << "version " << share.first.first;
        EXPECT_LE(share.second, 12u + seats) << "version " << share.first.first;
        over[seats] += share.second - 12;
    }
    EXPECT_LE(over[2] + over[3] + over[4], 16u) << "few versions play over their share";
    EXPECT_EQ(shares(plan).size(), 27u);
    EXPECT_LE(plan.needed.size(), 9u * 3 * 12);
    EXPECT_EQ(plan.expected, plan.needed.size());
}

TEST(SampledPlanner, ANewVersionPlaysItsShareAgainstDistinctOpponents) {
    SampledInput in = leagueOf({1, 2, 3, 4}, {2}, 4);
    SampledPlan first = SampledPlanner::plan(in);
    playAll(in, first);
    // Version 2 is replaced by 5: its matches leave the plan, 5 plays 4 matches against two
    // different opponents, and the others, already at their share, play no more than that.
    in.versions = {1, 5, 3, 4};
    const SampledPlan plan = SampledPlanner::plan(in);
    std::set<std::int64_t> opponents;
    size_t fresh = 0;
    for (const PlannedMatch& m : plan.needed) {
        EXPECT_EQ(std::count(m.versions.begin(), m.versions.end(), 2), 0) << m.key;
        const bool isNew = std::none_of(first.needed.begin(), first.needed.end(),
                                        [&](const PlannedMatch& o) { return o.key == m.key; });
        if (isNew) {
            ++fresh;
            ASSERT_NE(std::count(m.versions.begin(), m.versions.end(), 5), 0) << m.key;
            opponents.insert(m.versions[0] == 5 ? m.versions[1] : m.versions[0]);
        }
    }
    EXPECT_EQ(fresh, 4u);
    EXPECT_EQ(opponents.size(), 2u);
}

TEST(SampledPlanner, KeepsOnlyMatchesOfTheCurrentVersionsMapsAndLimit) {
    SampledInput in = leagueOf({1, 2}, {2}, 2);
    const std::vector<PlannedMatch> old{
        LeaguePlanner::planned(10, 1, 0, 1, {1, 2}, 5),   // kept: counts for both
        LeaguePlanner::planned(10, 1, 500, 0, {2, 1}, 5), // another limit
        LeaguePlanner::planned(11, 1, 0, 1, {2, 1}, 5),   // a map no longer played
        LeaguePlanner::planned(10, 1, 0, 1, {1, 7}, 5)};  // a retired version
    in.existing = old;
    in.existingDone = {true, true, true, false};
    const SampledPlan plan = SampledPlanner::plan(in);
    EXPECT_EQ(keys(plan.needed), (std::vector<std::string>{"m10/r1/d1/v1,2", "m10/r1/d1/v2,1"}));
}

TEST(SampledPlanner, FewerVersionsThanSeatsRepeatTheSeatingUnderNewKeys) {
    SampledInput in = leagueOf({8}, {3}, 3);
    EXPECT_EQ(keys(SampledPlanner::plan(in).needed),
              (std::vector<std::string>{"m10/r1/d1/v8,8,8", "m10/r1/d1/v8,8,8/x1",
                                        "m10/r1/d1/v8,8,8/x2"}));
    // Rounds (openings) come before repeats.
    in.maps[0].push_back({20, 3});
    EXPECT_EQ(
        keys(SampledPlanner::plan(in).needed),
        (std::vector<std::string>{"m10/r1/d1/v8,8,8", "m20/r2/d1/v8,8,8", "m10/r1/d1/v8,8,8/x1"}));
}

TEST(SampledPlanner, RatingsEstimateOrdersByResultsAndQualityFavoursEvenPairs) {
    SampledInput in = leagueOf({1, 2, 3}, {2}, 1);
    games(in, 1, 2, 1, 6);
    games(in, 2, 3, 2, 6);
    std::vector<double> mu;
    std::vector<double> sigma;
    SampledPlanner::estimate(in.versions, in.results, mu, sigma);
    EXPECT_GT(mu[0], mu[1]);
    EXPECT_GT(mu[1], mu[2]);
    EXPECT_LT(sigma[1], sigma[0]) << "the middle version played twice as often";
    EXPECT_NEAR(SampledPlanner::quality(0, 0, 0, 0), 1.0, 1e-12);
    EXPECT_GT(SampledPlanner::quality(0, 50, 100, 50), SampledPlanner::quality(0, 50, 400, 50));
    EXPECT_GT(SampledPlanner::quality(0, 50, 0, 50), SampledPlanner::quality(0, 300, 0, 300));
}

TEST(SampledLeague, ACourseSizedLeaguePlansAWindowAndARoundRobinOfItIsRefused) {
    TempDir dir;
    dir.write("two.map", TINY2);
    dir.write("three.map", TINY3);
    dir.write("four.map", "4\n0\n0 0\n4 4\n1 2 3 4\n2 3 4 1\n3 4 1 2\n4 1 2 3\n");
    json bots = json::array();
    for (int b = 0; b < 33; ++b) {
        bots.push_back({{"name", "team" + std::to_string(b)}, {"command", "greedy"}});
    }
    leaguetest::writeLeague(dir, "", bots, {"two.map", "three.map", "four.map"});
    std::string error;
    LeagueConfig config;
    ASSERT_TRUE(config.loadLeague(dir.path(), error)) << error;
    std::unique_ptr<League> league = League::open(config.database, error);
    ASSERT_TRUE(league) << error;
    LeagueProgress p;
    EXPECT_FALSE(league->schedule(config, p));
    EXPECT_NE(league->error().find("would plan 181104 matches, more than 10000: set "
                                   "\"schedule\": \"sampled\""),
              std::string::npos)
        << league->error();

    json document = readJson(dir.path() + "/league.json");
    document["schedule"] = "sampled";
    document["matches_per_version"] = 12;
    dir.write("league.json", document.dump());
    ASSERT_TRUE(config.loadLeague(dir.path(), error)) << error;
    ASSERT_TRUE(league->schedule(config, p)) << league->error();
    EXPECT_EQ(p.needed, p.added);
    EXPECT_GE(p.added, 64u);
    EXPECT_LE(p.added, 64u + 4);
    EXPECT_LE(p.expected, 33u * 3 * 12);
    // Planning again without playing adds nothing: the window is full.
    ASSERT_TRUE(league->schedule(config, p));
    EXPECT_EQ(p.added, 0u);
}

TEST(SampledLeague, ScheduleKeysAreChecked) {
    const std::vector<std::pair<json, std::string>> cases{
        {{{"schedule", "swiss"}}, "\"schedule\" must be \"round-robin\" or \"sampled\""},
        {{{"matches_per_version", 3}}, "\"matches_per_version\" needs \"schedule\": \"sampled\""},
        {{{"schedule", "sampled"}, {"matches_per_version", 0}}, "\"matches_per_version\""},
    };
    for (const auto& c : cases) {
        json document = {
            {"bots", {{{"name", "a"}, {"command", "greedy"}}}}, {"maps", {"x.map"}}, {"depth", 1u}};
        document.update(c.first);
        LeagueConfig config;
        std::string error;
        EXPECT_FALSE(config.read(document, "", error)) << c.first;
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
    }
}
