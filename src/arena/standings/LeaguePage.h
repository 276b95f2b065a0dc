#pragma once
// A league's standings as one HTML page: the summary with the limits in force, the standings
// overall and per map (with places per seat), the crosstable, every bot's versions with their
// commands, disqualifications by reason, and every match, linked to its own page.

#include "League.h"

#include <nlohmann/json.hpp>
#include <string>

class LeaguePage {
public:
    /// The page for the tables (as LeagueTables::compute gives them) and the matches (as
    /// LeagueStats::matches lists them; a match with a "page", a path relative to the page,
    /// links to it). No script runs on the page, and every value is escaped.
    static std::string build(const nlohmann::json& tables, const nlohmann::json& matches);

    /// Writes the page of the league to outPath, and the page of every match it lists into
    /// the folder "<outPath without .html>-matches" beside it (as `arena report --html` does),
    /// each through a temporary file and a rename. False with the fault in `error` when the
    /// database fails or a file cannot be written.
    static bool write(League& league, const std::string& outPath, std::string& error);
};
