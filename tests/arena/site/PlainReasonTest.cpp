// A disqualification said in the same plain words on the site (a bot's matches and
// disqualifications in its API answer) as in the league's report, for every reason the server
// gives, before and after the seat's first move.

#include "LeagueStats.h"
#include "MatchRecord.h"
#include "ServeLeague.h"
#include "ServerFacts.h"
#include "TeamStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace {

/// Two seats on a 4 x 4 board, the four middle stones set.
const char* const TINY2 = "2\n0\n0 0\n4 4\n0 0 0 0\n0 1 2 0\n0 2 1 0\n0 0 0 0\n";

struct Case {
    const char* reason;
    bool moved;
    const char* plain;
};

/// A final match of A against B on TINY2 in `round`: B is disqualified for `c.reason`, after
/// its first move when `c.moved`.
json disqualifiedRecord(unsigned round, const Case& c) {
    MatchRecord r;
    r.id = "m" + std::to_string(round);
    r.started = "2026-01-01T00:00:00Z";
    r.round = round;
    r.map = {"/x/a.map", TINY2};
    r.limits.depth = 1;
    for (const char* bot : {"A", "B"}) {
        RecordSeat seat;
        seat.seat = static_cast<unsigned>(r.seats.size() + 1);
        seat.bot = bot;
        seat.command = std::string(bot) + "-cmd";
        seat.log = "seat" + std::to_string(seat.seat) + ".log";
        r.seats.push_back(seat);
    }
    const unsigned played = c.moved ? 2 : 0;
    for (unsigned n = 1; n <= played; ++n) {
        RecordMove move;
        move.n = n;
        move.seat = n == 1 ? 1 : 2;
        move.x = n == 1 ? 0 : 3;
        move.timeMs = 10;
        r.moves.push_back(move);
    }
    RecordDisqualification d;
    d.seat = 2;
    d.atMove = played;
    d.reason = c.reason;
    r.disqualifications.push_back(d);
    r.result.scores = {3u, std::nullopt};
    r.result.ranks = {1u, 2u};
    r.consistent = true;
    return r.toJson();
}

} // namespace

TEST(PlainReason, TheSiteAndTheReportWordEveryDisqualificationAlike) {
    namespace R = ServerFacts::Reason;
    const std::vector<Case> cases{
        {"Invalid move: (0, 0) time left: 80 msecs", true, "illegal move"},
        {R::TIMEOUT, true, "timed out"},
        {R::TIMEOUT, false, "timed out"},
        {R::WRONG_MESSAGE, false, "wrong message"},
        {R::NO_GROUP_ID, false, "did not start"},
        {"did not start: its jail could not be made", false, "did not start"},
        {R::RECEIVE_FAILED, false, "did not start"},
        {R::RECEIVE_FAILED, true, "crashed"},
        {R::BOARD_NOT_SENT, false, "did not start"},
        {R::MOVE_NOT_PROPAGATED, true, "crashed"},
        {R::DISQUALIFICATION_NOT_PROPAGATED, true, "crashed"},
        {"a reason of a server to come", true, "other"},
    };
    TempDir dir;
    dir.write("a.map", TINY2);
    const json config = {
        {"bots", {{{"name", "A"}, {"command", "A-cmd"}}, {{"name", "B"}, {"command", "B-cmd"}}}},
        {"maps", {"a.map"}},
        {"depth", 1},
        {"rounds", cases.size()},
        {"sandbox", false}};
    dir.write("league.json", config.dump());
    std::string error;
    LeagueConfig league;
    ASSERT_TRUE(league.loadLeague(dir.path(), error)) << error;
    TeamStore store;
    ASSERT_TRUE(store.open(league.database, error)) << error;
    ServeLeague site(league, store);
    ASSERT_TRUE(site.open(error)) << error;
    ASSERT_TRUE(site.schedule());
    for (size_t i = 0; i < cases.size(); ++i) {
        bool added = false;
        ASSERT_TRUE(site.league().importRecord(
            disqualifiedRecord(static_cast<unsigned>(i + 1), cases[i]), added))
            << site.league().error();
        ASSERT_TRUE(added) << cases[i].reason;
    }
    site.refresh();

    // The report's words, match by match, as its page lists the matches.
    LeagueStats stats;
    ASSERT_TRUE(stats.load(site.league()));
    std::map<std::int64_t, json> reported;
    for (const json& match : stats.matches()) {
        reported[match["match"]] = match["seats"][1]["disqualified"];
    }
    const json api = site.bot("B");
    ASSERT_FALSE(api.is_null());
    ASSERT_EQ(api["matches"].size(), cases.size());
    ASSERT_EQ(api["disqualifications"].size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(std::string(cases[i].reason) + (cases[i].moved ? ", moved" : ""));
        // The API lists the latest match first, its disqualifications first to last.
        const json& match = api["matches"][cases.size() - 1 - i];
        const json& seat = match["seats"][1];
        const json& listed = api["disqualifications"][i];
        EXPECT_EQ(seat["disqualified"], cases[i].reason);
        EXPECT_EQ(seat["plain"], cases[i].plain);
        EXPECT_EQ(seat["plain"], reported[match["id"]]);
        EXPECT_EQ(listed["reason"], cases[i].reason);
        EXPECT_EQ(listed["plain"], cases[i].plain);
    }
}
