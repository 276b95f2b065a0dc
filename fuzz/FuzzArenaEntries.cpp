#include "FuzzArenaEntries.h"

#include "BoundedFile.h"
#include "MatchRecord.h"
#include "Ratings.h"
#include "TournamentConfig.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
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

} // namespace

namespace fuzzing {

void configReader(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    nlohmann::json document;
    std::string error;
    if (!BoundedFile::parseJson(text, document, error)) {
        return;
    }
    // No folder: paths stay as written and nothing on disk is touched.
    TournamentConfig config;
    if (!config.read(document, "", error)) {
        if (error.empty()) {
            std::cerr << "fuzz finding: refused without an error\n";
            std::abort();
        }
        return;
    }
    TournamentConfig again;
    if (!again.read(config.document(), "", error) || again.document() != config.document()) {
        std::cerr << "fuzz finding: a configuration's own document reads differently\n";
        std::abort();
    }
    std::vector<unsigned> seats(config.maps.size(), 8);
    TournamentConfig::planSize(config.bots.size(), seats, config.rounds);
}

void recordReader(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    nlohmann::json document;
    std::string error;
    MatchRecord record;
    if (!BoundedFile::parseJson(text, document, error) ||
        !MatchRecord::fromJson(document, "fuzz.json", record, error)) {
        // A refusal names the file and what is wrong.
        if (error.empty()) {
            std::abort();
        }
        return;
    }
    const std::string written = record.text();
    MatchRecord again;
    if (!BoundedFile::parseJson(written, document, error) ||
        !MatchRecord::fromJson(document, "fuzz.json", again, error) || again.text() != written) {
        std::abort();
    }
    rate(record);
}

} // namespace fuzzing
