#include "LeaguePlanner.h"

#include "MapRepository.h"
#include "TournamentConfig.h"

#include <algorithm>
#include <functional>
#include <set>

namespace {

/// The largest seed the match runner takes.
constexpr std::int64_t SEED_MASK = 0x7fffffff;

} // namespace

std::string LeaguePlanner::key(std::int64_t mapId, int round, int timeMs, int depth,
                               const std::vector<std::int64_t>& versions) {
    std::string k = "m" + std::to_string(mapId) + "/r" + std::to_string(round) + "/" +
                    (timeMs > 0 ? "t" + std::to_string(timeMs) : "d" + std::to_string(depth)) +
                    "/v";
    for (size_t i = 0; i < versions.size(); ++i) {
        k += (i ? "," : "") + std::to_string(versions[i]);
    }
    return k;
}

PlannedMatch LeaguePlanner::planned(std::int64_t mapId, int round, int timeMs, int depth,
                                    const std::vector<std::int64_t>& versions, std::int64_t seed,
                                    unsigned repeat) {
    PlannedMatch m;
    m.mapId = mapId;
    m.round = round;
    m.timeMs = timeMs;
    m.depth = depth;
    m.versions = versions;
    m.key = key(mapId, round, timeMs, depth, versions) +
            (repeat > 0 ? "/x" + std::to_string(repeat) : "");
    const std::string digest = MapRepository::digest(m.key);
    m.seed = (seed + std::stoll(digest.substr(8), nullptr, 16)) & SEED_MASK;
    return m;
}

std::vector<PlannedMatch> LeaguePlanner::plan(const std::vector<std::int64_t>& versions,
                                              const std::vector<std::vector<PlanMap>>& rounds,
                                              int timeMs, int depth, std::int64_t seed) {
    std::vector<PlannedMatch> out;
    // With fewer versions than seats two rotations can seat the same versions alike (one bot
    // against itself); such a match is planned once, as its key is unique.
    std::set<std::string> keys;
    const auto n = static_cast<unsigned>(versions.size());
    for (size_t r = 0; r < rounds.size(); ++r) {
        for (const PlanMap& map : rounds[r]) {
            const auto k = static_cast<unsigned>(map.seats);
            for (const std::vector<unsigned>& up : TournamentConfig::lineups(n, k)) {
                for (unsigned rotation = 0; rotation < k; ++rotation) {
                    std::vector<std::int64_t> seated;
                    for (unsigned s = 0; s < k; ++s) {
                        seated.push_back(versions[up[(s + rotation) % k]]);
                    }
                    PlannedMatch m =
                        planned(map.mapId, static_cast<int>(r + 1), timeMs, depth, seated, seed);
                    if (keys.insert(m.key).second) {
                        out.push_back(std::move(m));
                    }
                }
            }
        }
    }
    return out;
}
