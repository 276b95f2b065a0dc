#include "FuzzArenaEntries.h"

#include "BoundedFile.h"
#include "League.h"
#include "LeagueConfig.h"
#include "MatchRecord.h"
#include "Ratings.h"
#include "TournamentConfig.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void rate(const MatchRecord& record) {
    if (!record.result.final()) {
        return;
    }
    std::map<unsigned, std::vector<unsigned>> byRank;
    for (size_t s = 0; s < record.result.ranks.size(); ++s) {
        byRank[record.result.ranks[s]].push_back(static_cast<unsigned>(s));
    }
    std::vector<std::vector<unsigned>> groups;
    for (auto& entry : byRank) {
        groups.push_back(entry.second);
    }
    Ratings ratings(static_cast<unsigned>(record.seats.size()));
    ratings.addMatch(groups);
    if (ratings.fit().elo.size() != record.seats.size()) {
        std::abort();
    }
}

[[noreturn]] void finding(const char* what) {
    std::cerr << "fuzz finding: " << what << "\n";
    std::abort();
}

/// Reads a configuration of type Config, then its own document again: both must agree.
template <typename Config> void readConfig(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    nlohmann::json document;
    std::string error;
    if (!BoundedFile::parseJson(text, document, error)) {
        return;
    }
    // No folder: paths stay as written and nothing on disk is touched.
    Config config;
    if (!config.read(document, "", error)) {
        if (error.empty()) {
            finding("refused without an error");
        }
        return;
    }
    Config again;
    if (!again.read(config.document(), "", error) || again.document() != config.document()) {
        finding("a configuration's own document reads differently");
    }
    std::vector<unsigned> seats(config.maps.size(), 8);
    TournamentConfig::planSize(config.bots.size(), seats, config.rounds);
}

/// The league every import of this process goes to, in a file of its own.
League& fuzzLeague() {
    static const std::unique_ptr<League> league = [] {
        const auto file = std::filesystem::temp_directory_path() /
                          ("fuzz-league-" + std::to_string(getpid()) + ".db");
        std::filesystem::remove(file);
        std::string error;
        std::unique_ptr<League> opened = League::open(file.string(), error);
        if (!opened) {
            std::cerr << error << "\n";
            finding("the league database does not open");
        }
        return opened;
    }();
    return *league;
}

/// The record in `text` read whole, as the streaming reader must read it: "" when it is a
/// record, else the fault.
std::string readWhole(const std::string& text, MatchRecord& record) {
    nlohmann::json document;
    std::string error;
    if (!BoundedFile::parseJson(text, document, error)) {
        return "fuzz.json: " + error;
    }
    if (!MatchRecord::fromJson(document, "fuzz.json", record, error)) {
        if (error.empty()) {
            finding("a record refused without an error");
        }
        return error;
    }
    return "";
}

} // namespace

namespace fuzzing {

void leagueConfigReader(const uint8_t* data, size_t size) {
    readConfig<LeagueConfig>(data, size);
}

void leagueImport(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    nlohmann::json document;
    std::string error;
    if (!BoundedFile::parseJson(text, document, error)) {
        return;
    }
    League& league = fuzzLeague();
    bool added = false;
    if (!league.importRecord(document, added)) {
        if (league.error().empty()) {
            finding("an import refused without an error");
        }
        return;
    }
    bool again = true;
    if (!league.importRecord(document, again) || again) {
        finding("a record imported once is imported again");
    }
    std::vector<BotVersion> versions;
    if (!league.versions(versions)) {
        finding("the league's bots cannot be read after an import");
    }
}

void configReader(const uint8_t* data, size_t size) {
    readConfig<TournamentConfig>(data, size);
}

void recordReader(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    MatchRecord record;
    const std::string fault = readWhole(text, record);
    // The reader that streams the moves takes the same records and names the same faults.
    MatchRecord streamed;
    std::string error;
    if (MatchRecord::fromText(text, "fuzz.json", streamed, error) != fault.empty() ||
        (fault.empty() ? streamed.text() != record.text() : error != fault)) {
        finding("the streaming record reader differs from the whole one");
    }
    if (!fault.empty()) {
        return;
    }
    const std::string written = record.text();
    MatchRecord again;
    if (!readWhole(written, again).empty() || again.text() != written) {
        std::abort();
    }
    rate(record);
}

} // namespace fuzzing
