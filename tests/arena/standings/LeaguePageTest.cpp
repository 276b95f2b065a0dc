// The league's tables and page from the standings engine: disqualifications in plain words,
// the order and the limit stated, the page's sections, links and escaping.

#include "LeaguePage.h"
#include "MatchRecord.h"
#include "Standings.h"
#include "arena/LeagueTestUtil.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>

using namespace arenatest;
using namespace leaguetest;
using nlohmann::json;

namespace {

/// A 2-seat match on TINY2 at depth 1, final with these ranks; moves as (seat, x, time); a
/// disqualification as (seat, moves applied before it, reason).
struct Disqualified {
    unsigned seat;
    unsigned atMove;
    const char* reason;
};

json record(const std::string& id, unsigned round, const std::string& a, const std::string& b,
            const std::vector<unsigned>& ranks, const std::vector<std::array<unsigned, 3>>& moves,
            const Disqualified& dq) {
    MatchRecord r = tinyRecord(id, round, a, b, ranks, moves);
    RecordDisqualification d;
    d.seat = dq.seat;
    d.atMove = dq.atMove;
    d.reason = dq.reason;
    r.disqualifications.push_back(d);
    r.result.scores[dq.seat - 1] = std::nullopt;
    return r.toJson();
}

/// Three matches of A and B, each with a disqualification, imported into a league in `dir`.
void importThree(const TempDir& dir) {
    dir.write("a.map", TINY2);
    writeLeague(dir, "",
                {{{"name", "A"}, {"command", "A-cmd"}}, {{"name", "B"}, {"command", "B-cmd"}}},
                {"a.map"});
    json config = readJson(dir.path() + "/league.json");
    config["rounds"] = 2;
    dir.write("league.json", config.dump());
    const std::vector<json> records{
        // B lost its connection before its first move: it did not start.
        record("m1", 1, "A", "B", {1, 2}, {{1, 0, 10}}, {2, 1, "receive failed"}),
        // A (seat 2) ran out of time after a move.
        record("m2", 1, "B", "A", {1, 2}, {{1, 0, 20}, {2, 3, 30}}, {2, 2, "timeout during move"}),
        // A crashed after its first move.
        record("m3", 2, "A", "B", {2, 1}, {{1, 0, 10}, {2, 3, 10}}, {1, 2, "receive failed"}),
    };
    std::filesystem::create_directories(dir.path() + "/records");
    for (size_t i = 0; i < records.size(); ++i) {
        dir.write("records/m" + std::to_string(i + 1) + ".json", records[i].dump());
    }
    ChildProcess arena;
    ASSERT_TRUE(startArena(arena, {"league", "import", dir.path(), dir.path() + "/records"},
                           dir.path() + "/import.out"));
    ASSERT_EQ(arena.wait(LONG_WAIT), 0) << arena.output();
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

} // namespace

TEST(LeaguePage, TablesAndPageShowDisqualificationsInPlainWordsAndLinkEveryMatch) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(importThree(dir));
    ChildProcess arena;
    const std::string page = dir.path() + "/out/league.html";
    ASSERT_TRUE(startArena(arena, {"league", "report", dir.path(), "--html", page},
                           dir.path() + "/report.out"));
    ASSERT_EQ(arena.wait(LONG_WAIT), 0) << arena.output();
    const std::string text = arena.output();
    EXPECT_NE(text.find(Standings::ORDER), std::string::npos) << text;
    EXPECT_NE(text.find("limit in force: depth 1"), std::string::npos) << text;
    EXPECT_NE(text.find("crashed 1, timed out 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("did not start 1\n"), std::string::npos) << text;

    json t;
    ASSERT_NO_FATAL_FAILURE(tablesOf(dir, t));
    EXPECT_EQ(t["order"], Standings::ORDER);
    EXPECT_EQ(t["limits"], json({{{"time_ms", 0}, {"depth", 1}}}));
    // B won twice of three: ranked above A although both are rated.
    ASSERT_EQ(t["standings"].size(), 2u);
    EXPECT_EQ(t["standings"][0]["bot"], "B");
    EXPECT_DOUBLE_EQ(t["standings"][0]["points"].get<double>(), 2.0);
    EXPECT_EQ(t["standings"][0]["disqualified"], json({{"did not start", 1}}));
    EXPECT_EQ(t["standings"][1]["disqualified"], json({{"crashed", 1}, {"timed out", 1}}));
    EXPECT_EQ(t["maps"][0]["standings"][1]["disqualified"], t["standings"][1]["disqualified"]);

    const std::string html = readText(page);
    for (const char* section :
         {"id=\"standings\"", "id=\"order\"", "id=\"maps\"", "id=\"crosstable\"", "id=\"versions\"",
          "id=\"disqualifications\"", "id=\"matches\"", "<code>A-cmd</code>",
          "limit in force: depth 1"}) {
        EXPECT_NE(html.find(section), std::string::npos) << section;
    }
    EXPECT_EQ(html.find("<script"), std::string::npos);
    for (const char* match : {"m1", "m2", "m3"}) {
        // Once in the matches, once under its disqualification.
        const std::string link = "href=\"league-matches/" + std::string(match) + ".html\"";
        EXPECT_EQ(count(html, link), 2u) << match;
        EXPECT_TRUE(std::filesystem::exists(dir.path() + "/out/league-matches/" + match + ".html"));
    }
    EXPECT_NE(html.find("<td class=\"left\">crashed</td><td class=\"left\">A v1</td><td>1</td>"),
              std::string::npos);
}

TEST(LeaguePage, EveryValueIsEscaped) {
    const std::string evil = "<img src=x onerror=alert(1)>\"'&";
    const std::string shown = "&lt;img src=x onerror=alert(1)&gt;&quot;&#39;&amp;";
    const json row = {{"bot", evil},
                      {"version", 1},
                      {"matches", 1},
                      {"points", 1.0},
                      {"wins", 1},
                      {"draws", 0},
                      {"losses", 0},
                      {"rated", true},
                      {"elo", 0.0},
                      {"elo_low", -1.0},
                      {"elo_high", 1.0},
                      {"average_place", 1.0},
                      {"time_max_ms", 5},
                      {"time_per_move_ms", 5.0},
                      {"disqualified", {{evil, 1}}}};
    const json tables = {
        {"matches", 1},
        {"limits", json::array()},
        {"standings", {row}},
        {"maps",
         {{{"map", evil}, {"seats", 2}, {"standings", {row}}, {"per_seat", json::array()}}}},
        {"crosstable", {{"bots", {evil}}, {"cells", {{nullptr}}}}},
        {"history",
         {{{"bot", evil},
           {"versions",
            {{{"version", 1},
              {"command", evil},
              {"current", true},
              {"matches", 1},
              {"elo", 0.0}}}}}}},
        {"prior", false}};
    const json matches = {{{"match", 7},
                           {"map", evil},
                           {"end", evil},
                           {"reason", evil},
                           {"same_as", nullptr},
                           {"page", "x\"><script>alert(1)</script>"},
                           {"seats",
                            {{{"bot", evil},
                              {"version", 1},
                              {"place", nullptr},
                              {"disqualified", evil},
                              {"reason", evil}}}}}};
    const std::string html = LeaguePage::build(tables, matches);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("onerror=alert(1)>"), std::string::npos);
    // Shown in the standings, per map, the crosstable, the versions, the disqualifications and
    // the matches.
    EXPECT_GE(count(html, shown), 10u);
    EXPECT_NE(html.find("href=\"x&quot;&gt;&lt;script&gt;"), std::string::npos);
}
