#include "ReportPage.h"

#include "MatchPage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// What the report page shows of one match: who sat where, how it ended, who was disqualified.
json summary(const json& record, const std::string& page) {
    json seats = json::array();
    const json& result = record.value("result", json::object());
    const json ranks = result.value("ranks", json::array());
    const json scores = result.value("scores", json::array());
    for (const json& seat : record.value("seats", json::array())) {
        const size_t k = seat.value("seat", 0u);
        json s = {{"seat", k}, {"bot", seat.value("bot", "?")}};
        if (k >= 1 && k <= ranks.size()) {
            s["place"] = ranks[k - 1];
        }
        if (k >= 1 && k <= scores.size()) {
            s["score"] = scores[k - 1];
        }
        seats.push_back(s);
    }
    json dqs = json::array();
    for (const json& d : record.value("disqualifications", json::array())) {
        dqs.push_back({{"seat", d.value("seat", 0u)},
                       {"at_move", d.value("at_move", 0u)},
                       {"reason", d.value("reason", "")},
                       {"detail", d.value("detail", "")}});
    }
    const json& map = record.value("map", json::object());
    return {{"id", record.value("id", json(nullptr))},
            {"page", page},
            {"map", map.value("file", "")},
            {"end", result.value("end", "")},
            {"moves", record.value("moves", json::array()).size()},
            {"consistent", record.value("consistent", true)},
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
    const fs::path folder =
        fs::is_directory(fs::path(dir) / "matches") ? fs::path(dir) / "matches" : fs::path(dir);
    std::set<std::string> skipped;
    for (const json& s : report.value("skipped", json::array())) {
        skipped.insert(s.value("file", ""));
    }
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const fs::path& p = entry.path();
        if (p.extension() == ".json" && p.filename() != "plan.json" &&
            skipped.count(p.filename().string()) == 0) {
            files.push_back(p);
        }
    }
    std::sort(files.begin(), files.end());

    const fs::path pages(matchFolder(outPath));
    if (!files.empty() && !fs::create_directories(pages, ec) && ec) {
        error = "cannot make the folder " + pages.string() + ": " + ec.message();
        return false;
    }
    json matches = json::array();
    for (const fs::path& file : files) {
        // The report has read every one of these records already; one that changed since is
        // a fault of the caller's folder, named here.
        std::ifstream in(file);
        const json record = json::parse(in, nullptr, false);
        if (!in.is_open() || record.is_discarded()) {
            error = file.string().append(": cannot be read as JSON");
            return false;
        }
        const std::string name = file.stem().string() + ".html";
        if (!MatchPage::writeAtomically((pages / name).string(), MatchPage::build(record.dump()),
                                        error)) {
            return false;
        }
        matches.push_back(summary(record, (pages.filename() / name).generic_string()));
    }
    const json data = {{"report", report}, {"matches", matches}};
    return MatchPage::writeAtomically(outPath,
                                      MatchPage::fill("report.html", "report", data.dump()), error);
}
