#include "MatchPage.h"
#include "ReportPage.h"
#include "WebAssets.h"
#include "support/Occurrences.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {

const char* const kRecord =
    R"({"format": "reversi-match-1", "map": {"text": "2\n0\n0 0\n1 2\n1 2\n"},
                                "seats": [], "moves": [], "note": "</script><!-- <b>"})";

} // namespace

TEST(MatchPage, EscapedRecordKeepsItsValueAndCannotCloseTheScript) {
    const std::string escaped = MatchPage::escapeJson(kRecord);
    EXPECT_EQ(escaped.find('<'), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(escaped), nlohmann::json::parse(kRecord));
}

TEST(MatchPage, PageInlinesEveryFileAndTheRecord) {
    const std::string page = MatchPage::build(kRecord);
    EXPECT_EQ(page.find("<script src="), std::string::npos);
    EXPECT_EQ(page.find("<link rel=\"stylesheet\""), std::string::npos);
    // Three script elements (record, rules, page), each closed exactly once.
    EXPECT_EQ(occurrences(page, "<script"), 3u);
    EXPECT_EQ(occurrences(page, "</script>"), 3u);
    EXPECT_NE(page.find(std::string(WebAssets::find("rules.js"))), std::string::npos);
    EXPECT_NE(page.find(MatchPage::escapeJson(kRecord)), std::string::npos);

    const std::string report = MatchPage::fill("report.html", "report", "{}");
    EXPECT_EQ(occurrences(report, "<script"), 2u);
    EXPECT_EQ(occurrences(report, "</script>"), 2u);
    EXPECT_NE(report.find(std::string(WebAssets::find("report.js"))), std::string::npos);
}

TEST(ReportPage, MatchPagesLiveBesideTheReport) {
    EXPECT_EQ(ReportPage::matchFolder("out/league.html"), "out/league-matches");
    EXPECT_EQ(ReportPage::matchFolder("report.html"), "report-matches");
}

TEST(MatchPage, ViewNeverWritesOverItsInputNorAPageOfANonRecord) {
    TempDir dir;
    const std::string notes = dir.write("notes.html", "<p>my notes</p>");
    std::string error;
    EXPECT_FALSE(MatchPage::writeFile(notes, notes, error));
    EXPECT_EQ(error, "the page would overwrite its record " + notes + "; name another output");
    EXPECT_FALSE(MatchPage::writeFile(notes, dir.path() + "/page.html", error));
    EXPECT_EQ(error, notes + ": not valid JSON (truncated?)");
    EXPECT_FALSE(MatchPage::writeFile("/dev/zero", dir.path() + "/page.html", error));
    EXPECT_EQ(error, "/dev/zero: not a regular file");
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/page.html"));
    std::ifstream in(notes);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "<p>my notes</p>");
}
