// libFuzzer target: the match record reader. Any text is parsed with the bounded JSON parser
// and read as a record; a record read must write back to a text that reads as the same record,
// and its finish must give ratings.

#include "BoundedFile.h"
#include "MatchRecord.h"
#include "Ratings.h"

#include <cstdlib>
#include <map>
#include <string>

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
        return 0;
    }
    const std::string written = record.text();
    MatchRecord again;
    if (!BoundedFile::parseJson(written, document, error) ||
        !MatchRecord::fromJson(document, "fuzz.json", again, error) || again.text() != written) {
        std::abort();
    }
    rate(record);
    return 0;
}
