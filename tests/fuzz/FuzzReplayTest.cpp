// Replays the seed inputs and every input a fuzzer once failed on through the fuzz targets'
// own entry points. An input that breaks an invariant ends this program (abort), one that
// corrupts memory is caught by the sanitizer build.

#include "FuzzArenaEntries.h"
#include "FuzzEntries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Entry = void (*)(const uint8_t*, size_t);

std::vector<fs::path> inputsOf(const std::string& target) {
    std::vector<fs::path> files;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(REVERSI_SOURCE_DIR) / "fuzz" / kind / target;
        if (!fs::is_directory(dir)) {
            continue;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    return files;
}

void replay(const std::string& target, Entry entry) {
    fuzzing::quietLogging(false);
    const std::vector<fs::path> files = inputsOf(target);
    ASSERT_FALSE(files.empty()) << "no inputs for " << target;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

} // namespace

TEST(FuzzReplay, MapReaderSurvivesEveryKeptInput) {
    replay("map", fuzzing::mapReader);
}

TEST(FuzzReplay, ProtocolReceiveSurvivesEveryKeptInput) {
    replay("protocol", fuzzing::protocolReceive);
}

TEST(FuzzReplay, ArgumentParserSurvivesEveryKeptInput) {
    replay("arguments", fuzzing::argumentParser);
}

TEST(FuzzReplay, ConfigReaderSurvivesEveryKeptInput) {
    replay("config", fuzzing::configReader);
}

TEST(FuzzReplay, RecordReaderSurvivesEveryKeptInput) {
    replay("record", fuzzing::recordReader);
}

TEST(FuzzReplay, LeagueConfigReaderSurvivesEveryKeptInput) {
    replay("league_config", fuzzing::leagueConfigReader);
}

TEST(FuzzReplay, LeagueImportSurvivesEveryKeptInput) {
    replay("league_import", fuzzing::leagueImport);
}
