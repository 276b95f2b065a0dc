// libFuzzer target: the tournament configuration reader. Any bytes must give a configuration
// or one error; a configuration it accepts must read back from its own document unchanged.

#include "SmallFile.h"
#include "TournamentConfig.h"

#include <cstdlib>
#include <iostream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    nlohmann::json document;
    std::string error;
    if (!SmallFile::parseJson(text, document, error)) {
        return 0;
    }
    // No folder: paths stay as written and nothing on disk is touched.
    TournamentConfig config;
    if (!config.read(document, "", error)) {
        if (error.empty()) {
            std::cerr << "fuzz finding: refused without an error\n";
            std::abort();
        }
        return 0;
    }
    TournamentConfig again;
    if (!again.read(config.document(), "", error) || again.document() != config.document()) {
        std::cerr << "fuzz finding: a configuration's own document reads differently\n";
        std::abort();
    }
    std::vector<unsigned> seats(config.maps.size(), 8);
    TournamentConfig::planSize(config.bots.size(), seats, config.rounds);
    return 0;
}
