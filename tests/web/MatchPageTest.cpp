#include "MatchPage.h"
#include "ReportPage.h"
#include "WebAssets.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

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
    EXPECT_EQ(count(page, "<script"), 3u);
    EXPECT_EQ(count(page, "</script>"), 3u);
    EXPECT_NE(page.find(std::string(WebAssets::find("rules.js"))), std::string::npos);
    EXPECT_NE(page.find(MatchPage::escapeJson(kRecord)), std::string::npos);

    const std::string report = MatchPage::fill("report.html", "report", "{}");
    EXPECT_EQ(count(report, "<script"), 2u);
    EXPECT_EQ(count(report, "</script>"), 2u);
    EXPECT_NE(report.find(std::string(WebAssets::find("report.js"))), std::string::npos);
}

TEST(ReportPage, MatchPagesLiveBesideTheReport) {
    EXPECT_EQ(ReportPage::matchFolder("out/league.html"), "out/league-matches");
    EXPECT_EQ(ReportPage::matchFolder("report.html"), "report-matches");
}
