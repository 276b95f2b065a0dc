#include "LeagueOpenings.h"

bool LeagueOpenings::derive(const std::string& mapText, unsigned plies, std::uint64_t seed,
                            std::string& out) {
    (void)mapText;
    (void)plies;
    (void)seed;
    (void)out;
    return false;
}
