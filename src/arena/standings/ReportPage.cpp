#include "ReportPage.h"

#include "MatchPage.h"
#include "MatchRecord.h"
#include "RecordsFolder.h"
#include "Report.h"

#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// What the report page shows of one match: who sat where, how it ended, who was disqualified.
json summary(const MatchRecord& record, const std::string& page) {
    json seats = json::array();
    for (const RecordSeat& seat : record.seats) {
        json s = {{"seat", seat.seat}, {"bot", seat.bot}};
        if (record.result.final()) {
            s["place"] = record.result.ranks[seat.seat - 1];
            const auto& score = record.result.scores[seat.seat - 1];
            s["score"] = score ? json(*score) : json(nullptr);
        }
        seats.push_back(s);
    }
    json dqs = json::array();
    for (const RecordDisqualification& d : record.disqualifications) {
        dqs.push_back({{"seat", d.seat},
                       {"at_move", d.atMove},
                       {"reason", d.reason},
                       {"disqualified", Report::plainReason(record, d)},
                       {"detail", d.detail.value_or("")}});
    }
    return {{"id", record.id},
            {"page", page},
            {"map", record.map.file},
            {"end", MatchRecord::endName(record.result.end)},
            {"moves", record.moves.size()},
            {"consistent", record.consistent},
            {"seats", seats},
            {"disqualifications", dqs}};
}

} // namespace

std::string ReportPage::matchFolder(const std::string& outPath) {
    fs::path path(outPath);
    return (path.parent_path() / (path.stem().string() + "-matches")).string();
}

bool ReportPage::write(const std::string& dir, const json& report, const std::string& outPath,
                       std::string& error) {
    const RecordsFolder folder = RecordsFolder::of(dir);
    std::set<std::string> skipped;
    for (const json& s : report.value("skipped", json::array())) {
        skipped.insert(s.value("file", ""));
    }
    std::vector<std::string> files;
    for (const std::string& file : folder.list()) {
        if (skipped.count(file) == 0) {
            files.push_back(file);
        }
    }
    const fs::path pages(matchFolder(outPath));
    std::error_code ec;
    if (!files.empty() && !fs::create_directories(pages, ec) && ec) {
        error = "cannot make the folder " + pages.string() + ": " + ec.message();
        return false;
    }
    json matches = json::array();
    for (const std::string& file : files) {
        // The report has read every one of these records already; one that changed since is
        // a fault of the caller's folder, named here.
        MatchRecord record;
        if (!folder.read(file, record, error)) {
            error.insert(0, folder.path() + "/");
            return false;
        }
        const std::string name = fs::path(file).stem().string() + ".html";
        if (!MatchPage::writeAtomically((pages / name).string(),
                                        MatchPage::build(record.toJson().dump()), error)) {
            return false;
        }
        matches.push_back(summary(record, (pages.filename() / name).generic_string()));
    }
    const json data = {{"report", report}, {"matches", matches}};
    return MatchPage::writeAtomically(outPath,
                                      MatchPage::fill("report.html", "report", data.dump()), error);
}
