// The report on hand-made folders of records, against standings worked out by hand.

#include "Report.h"
#include "Standings.h"
#include "arena/RecordFixtures.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using nlohmann::json;
using recordtest::makeRecord;

namespace {

void put(const TempDir& dir, const json& record) {
    dir.write("matches/" + record["id"].get<std::string>() + ".json", record.dump(1));
}

const json& bot(const json& report, const std::string& name) {
    for (const json& b : report["bots"]) {
        if (b["name"] == name) {
            return b;
        }
    }
    static const json none;
    ADD_FAILURE() << "no bot " << name;
    return none;
}

} // namespace

TEST(Report, StandingsOfThreeBotsAgainstHandCounts) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/matches");
    put(dir, makeRecord("m1", {"a", "b", "c"}, {1, 2, 3}));
    put(dir, makeRecord("m2", {"b", "c", "a"}, {1, 1, 3}));
    put(dir, makeRecord("m3", {"c", "a"}, {1, 2}));
    json aborted = makeRecord("m4", {"a", "b"});
    aborted["result"]["silent_seat"] = 2;
    put(dir, aborted);
    json disqualified = makeRecord("m5", {"a", "c"}, {2, 1});
    disqualified["result"]["scores"][0] = nullptr;
    disqualified["disqualifications"] = {
        {{"seat", 1}, {"at_move", 1}, {"reason", "Invalid move: Player 1 (x,y)=(1,0)"}}};
    put(dir, disqualified);
    json bad = makeRecord("m6", {"a", "b"}, {1, 2});
    bad["seats"][0]["bot"] = 1;
    put(dir, bad);
    dir.write("matches/m7.json", "{}");

    const json report = Report::compute(dir.path(), SprtSettings());
    EXPECT_EQ(report["records"], 5);
    EXPECT_EQ(report["ended"], json({{"aborted", 1}, {"final", 4}}));
    EXPECT_EQ(report["skipped"],
              json({{{"file", "m6.json"}, {"problem", "seats[0].bot: not a string"}},
                    {{"file", "m7.json"},
                     {"problem", "not a match record of the format \"reversi-match-1\""}}}));
    // Points: a seat placed worse counts 1, a tie a half, over the other seats.
    const json& a = bot(report, "a");
    EXPECT_EQ(a["matches"], 5);
    EXPECT_EQ(a["played"], 4);
    EXPECT_EQ(a["unfinished"], 1);
    EXPECT_DOUBLE_EQ(a["points"].get<double>(), 1.0);
    EXPECT_DOUBLE_EQ(a["average_place"].get<double>(), 2.0);
    EXPECT_EQ(a["places"], json({{"1", 1}, {"2", 2}, {"3", 1}}));
    EXPECT_EQ(json::array({a["wins"], a["draws"], a["losses"]}), json({1, 0, 3}));
    EXPECT_EQ(a["disqualifications"], json({{"Invalid move", 1}}));
    EXPECT_EQ(a["disqualified"], json({{"illegal move", 1}}));
    // Moves of seats 1, 3, 2, 1, 1: 10, 30, 20, 10 and 10 ms.
    EXPECT_EQ(a["moves"], 5);
    EXPECT_DOUBLE_EQ(a["average_time_ms"].get<double>(), 16.0);
    EXPECT_EQ(a["max_time_ms"], 30);
    const json& b = bot(report, "b");
    EXPECT_DOUBLE_EQ(b["points"].get<double>(), 1.25);
    EXPECT_EQ(b["silent"], 1);
    EXPECT_EQ(json::array({b["wins"], b["draws"], b["losses"]}), json({0, 1, 1}));
    const json& c = bot(report, "c");
    EXPECT_DOUBLE_EQ(c["points"].get<double>(), 2.75);
    EXPECT_DOUBLE_EQ(c["average_place"].get<double>(), 1.5);
    EXPECT_EQ(json::array({c["wins"], c["draws"], c["losses"]}), json({2, 1, 1}));
    EXPECT_EQ(report["bots"].back()["name"], "a");
    EXPECT_FALSE(report.contains("duel"));
    EXPECT_EQ(report["limits"], json({{{"time_ms", 1000}, {"depth", 0}}}));
    std::ostringstream text;
    Report::print(report, text);
    EXPECT_NE(text.str().find("Limit: 1 s per move\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(Standings::ORDER), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("illegal move 1, unfinished 1\n"), std::string::npos) << text.str();
}

TEST(Report, ALostConnectionIsACrashAfterTheSeatsFirstMoveElseItDidNotStart) {
    // Moves applied: seat 1's, then seat 2's. Seat 2 lost after none of its moves, seat 1
    // after its first.
    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/matches");
    json early = makeRecord("m1", {"a", "b"}, {1, 2});
    early["disqualifications"] = {{{"seat", 2}, {"at_move", 1}, {"reason", "receive failed"}}};
    put(dir, early);
    json late = makeRecord("m2", {"a", "b"}, {2, 1});
    late["disqualifications"] = {{{"seat", 1}, {"at_move", 1}, {"reason", "receive failed"}},
                                 {{"seat", 2}, {"at_move", 2}, {"reason", "timeout during move"}}};
    put(dir, late);
    const json report = Report::compute(dir.path(), SprtSettings());
    EXPECT_EQ(bot(report, "a")["disqualified"], json({{"crashed", 1}}));
    EXPECT_EQ(bot(report, "b")["disqualified"], json({{"did not start", 1}, {"timed out", 1}}));
    EXPECT_EQ(bot(report, "b")["timeouts"], 1);
}

TEST(Report, DuelOfTwoBotsWithItsLikelihoodOfSuperiority) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/matches");
    put(dir, makeRecord("m1", {"a", "b"}, {1, 2}));
    put(dir, makeRecord("m2", {"b", "a"}, {1, 2}));
    put(dir, makeRecord("m3", {"a", "b"}, {1, 1}));
    put(dir, makeRecord("m4", {"b", "a"}, {2, 1}));
    const json report = Report::compute(dir.path(), SprtSettings());
    const json& duel = report["duel"];
    EXPECT_EQ(duel["bot"], "a");
    EXPECT_EQ(json::array({duel["wins"], duel["draws"], duel["losses"]}), json({2, 1, 1}));
    // 0.5 + 0.5 erf(1 / sqrt(6)).
    EXPECT_NEAR(duel["los"].get<double>(), 0.71815, 1e-5);
}

TEST(Report, WideTiesAndAnyNameAreCountedWithinBounds) {
    TempDir dir;
    std::vector<std::string> bots;
    for (int k = 0; k < 66; ++k) {
        bots.push_back(k == 0 ? "__proto__" : "bot" + std::to_string(k));
    }
    dir.write("tie.json", makeRecord("tie", bots, std::vector<unsigned>(66, 1)).dump());
    const json report = Report::compute(dir.path(), SprtSettings());
    ASSERT_EQ(report["bots"].size(), 66u);
    for (const json& b : report["bots"]) {
        // Each ties with 65 others: 32.5 of 65.
        EXPECT_DOUBLE_EQ(b["points"].get<double>(), 0.5) << b["name"];
        EXPECT_EQ(b["draws"], 1);
    }
    EXPECT_DOUBLE_EQ(bot(report, "__proto__")["average_place"].get<double>(), 1.0);
}

TEST(Report, CpuPerMoveCountsOnlyTheMatchesThatGiveIt) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/matches");
    // One move per seat in each record.
    json r1 = makeRecord("r1", {"a", "b"}, {1, 2});
    r1["seats"][0]["cpu_ms"] = 40;
    r1["seats"][1]["cpu_ms"] = 10;
    put(dir, r1);
    json r2 = makeRecord("r2", {"b", "a", "c"}, {1, 2, 3});
    r2["seats"][1]["cpu_ms"] = 20;
    put(dir, r2);
    // Older records without CPU times count for times per move only.
    put(dir, makeRecord("r3", {"a", "b"}, {1, 2}));
    const json report = Report::compute(dir.path(), SprtSettings());
    EXPECT_DOUBLE_EQ(bot(report, "a")["average_cpu_ms"].get<double>(), 30.0);
    EXPECT_DOUBLE_EQ(bot(report, "b")["average_cpu_ms"].get<double>(), 10.0);
    EXPECT_TRUE(bot(report, "c")["average_cpu_ms"].is_null());
    EXPECT_EQ(bot(report, "a")["moves"], 3);
}
