// The standings engine on hand-made games, against numbers worked out by hand.

#include "Standings.h"
#include "StandingsTable.h"

#include <gtest/gtest.h>
#include <sstream>

using nlohmann::json;

namespace {

StandingsSeat seat(const std::string& bot, unsigned rank, const std::string& disqualified = "") {
    StandingsSeat s;
    s.bot = bot;
    s.rank = rank;
    s.disqualified = disqualified;
    return s;
}

StandingsGame game(const std::string& scope, bool final, std::vector<StandingsSeat> seats) {
    StandingsGame g;
    g.scope = scope;
    g.final = final;
    g.seats = std::move(seats);
    return g;
}

} // namespace

TEST(Standings, PointsPlacesCrosstableAndSeatsOfThreeGames) {
    Standings s;
    // A first of three; B and C share second.
    s.add(game("x", true, {seat("A", 1), seat("B", 2), seat("C", 2)}));
    // B and A share first.
    s.add(game("y", true, {seat("B", 1), seat("A", 1)}));
    // A crashed and the match was aborted: counted as entered, no points.
    s.add(game("x", false, {seat("A", 0, "crashed"), seat("B", 0)}));

    const StandingsTally a = s.tally("A");
    EXPECT_EQ(a.entered, 3u);
    EXPECT_EQ(a.played, 2u);
    // 2 of 2 seats beaten, then a half of 1.
    EXPECT_DOUBLE_EQ(a.points, 1.5);
    EXPECT_EQ(a.averagePlace(), json(1.0));
    EXPECT_EQ(json::array({a.wins, a.draws, a.losses}), json({1, 1, 0}));
    EXPECT_EQ(a.disqualifiedJson(), json({{"crashed", 1}}));
    const StandingsTally b = s.tally("B");
    // A half of 2 seats (tied with C), then a half of 1.
    EXPECT_DOUBLE_EQ(b.points, 0.75);
    EXPECT_EQ(b.averagePlace(), json(1.5));
    EXPECT_EQ(json::array({b.wins, b.draws, b.losses}), json({0, 1, 1}));
    EXPECT_DOUBLE_EQ(s.tally("C").points, 0.25);
    EXPECT_TRUE(s.tally("D").averagePlace().is_null());

    // Scope x: one finished game and the aborted one.
    EXPECT_EQ(s.tally("A", "x").entered, 2u);
    EXPECT_EQ(s.tally("A", "x").played, 1u);
    EXPECT_DOUBLE_EQ(s.tally("A", "x").points, 1.0);
    EXPECT_EQ(s.tally("C", "y").entered, 0u);
    ASSERT_EQ(s.seats("x").size(), 3u);
    EXPECT_EQ(s.seats("x").at(3).at("C").places, (std::map<unsigned, unsigned>{{2, 1}}));

    EXPECT_EQ(s.versus("A", "B"), std::make_pair(1.5, 2u));
    EXPECT_EQ(s.versus("B", "C"), std::make_pair(0.5, 1u));
    EXPECT_EQ(s.versus("C", "A"), std::make_pair(0.0, 1u));
    EXPECT_FALSE(s.versus("A", "D"));

    ASSERT_EQ(s.orders().size(), 2u);
    EXPECT_EQ(s.orders()[0], (StandingsOrder{{"A"}, {"B", "C"}}));
    EXPECT_EQ(s.orders()[1], (StandingsOrder{{"B", "A"}}));
    EXPECT_EQ(s.orders("y").size(), 1u);
}

TEST(Standings, RowsAreOrderedByRatingThenPointsWithTheUnratedLast) {
    json rows = {{{"n", 1}, {"elo", 10.0}, {"points", 1.0}},
                 {{"n", 2}, {"elo", nullptr}, {"points", 5.0}},
                 {{"n", 3}, {"elo", 20.0}, {"points", 0.0}},
                 {{"n", 4}, {"elo", 10.0}, {"points", 3.0}},
                 {{"n", 5}, {"elo", nullptr}, {"points", 7.0}},
                 {{"n", 6}, {"elo", 10.0}, {"points", 3.0}}};
    Standings::sort(rows);
    json order = json::array();
    for (const json& r : rows) {
        order.push_back(r["n"]);
    }
    EXPECT_EQ(order, json({3, 4, 6, 1, 5, 2}));
}

TEST(Standings, DisqualificationsInPlainWords) {
    const struct {
        const char* reason;
        bool moved;
        const char* plain;
    } cases[] = {
        {"Invalid move: Player 1 (x,y)=(0,0). time left: 5 msecs", true, "illegal move"},
        {"Invalid move: Player 2 (x,y)=(3,3)", false, "illegal move"},
        {"timeout during move", true, "timed out"},
        {"timeout during move", false, "timed out"},
        {"wrong message", true, "wrong message"},
        {"Failed to receive group id", false, "did not start"},
        {"receive failed", true, "crashed"},
        {"receive failed", false, "did not start"},
        {"Failed to send moverequest to player", true, "crashed"},
        {"Failed to send board", false, "did not start"},
        {"Failed to send TERM to player", true, "crashed"},
        {"did not start", false, "did not start"},
        {"<script>alert(1)</script>", true, "other"},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Standings::plainReason(c.reason, c.moved), c.plain) << c.reason << " " << c.moved;
    }
    EXPECT_EQ(Standings::reasonsCell(json({{"crashed", 2}, {"timed out", 1}})),
              "crashed 2, timed out 1");
    EXPECT_EQ(Standings::reasonsCell(json::object()), "-");
}

TEST(Standings, LimitsAsPhrases) {
    const struct {
        json limits;
        const char* text;
    } cases[] = {
        {json::array(), "none yet"},
        {json({{{"time_ms", 1000}, {"depth", 0}}}), "1 s per move"},
        {json({{{"time_ms", 0}, {"depth", 3}}}), "depth 3"},
        {json({{{"time_ms", 500}, {"depth", 2}}, {{"time_ms", 0}, {"depth", 0}}}),
         "0.5 s per move, depth 2; no limit"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Standings::limitText(c.limits), c.text) << c.limits;
    }
}

TEST(Standings, TheTextTableStatesItsOrderAndDisqualifications) {
    const json rows = {{{"name", "winner"},
                        {"elo", 12.34},
                        {"elo_low", -1.0},
                        {"elo_high", 25.0},
                        {"matches", 4},
                        {"points", 3.0},
                        {"average_place", 1.25},
                        {"wins", 3},
                        {"draws", 0},
                        {"losses", 1},
                        {"time_ms", 10.5},
                        {"time_max_ms", 30},
                        {"cpu_ms", 4.6},
                        {"disqualified", {{"timed out", 1}}},
                        {"more", "unfinished 2"}},
                       {{"name", "dead"},
                        {"matches", 0},
                        {"disqualified", {{"did not start", 4}}},
                        {"unplayed", true}}};
    std::ostringstream os;
    StandingsTable::print(rows, os);
    const std::string expected =
        std::string(Standings::ORDER) +
        "\n#   Bot        Elo              95 % Matches  Points  Place       W/D/L  ms/move    max "
        "cpu/move  Disqualified\n"
        "1   winner    12.3      [-1.0, 25.0]       4     3.0   1.25       3/0/1       10     30 "
        "       5  timed out 1, unfinished 2\n"
        "2   dead                                   0  no matches                                 "
        "         did not start 4\n";
    EXPECT_EQ(os.str(), expected);
    std::ostringstream top;
    StandingsTable::print(rows, top, 1);
    EXPECT_EQ(top.str().find("dead"), std::string::npos);
}
