#pragma once
// The tournament report as HTML: standings, ratings with their intervals, places per bot and
// per seat, disqualifications, and a page for every match.

#include <nlohmann/json.hpp>
#include <string>

class ReportPage {
public:
    // Writes the report page for `report` (as Report::compute gives it for the folder `dir`) to
    // outPath, and the page of every record the report counted into the folder
    // "<outPath without .html>-matches" beside it, which the report links to. Every file is
    // written through a temporary file and a rename. Returns false, with the first fault in
    // `error`, when a record cannot be read or a file cannot be written.
    static bool write(const std::string& dir, const nlohmann::json& report,
                      const std::string& outPath, std::string& error);

    // The folder of match pages for a report written to outPath.
    static std::string matchFolder(const std::string& outPath);
};
