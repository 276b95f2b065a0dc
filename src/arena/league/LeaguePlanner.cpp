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

std::vector<PlannedMatch> LeaguePlanner::plan(const std::vector<std::int64_t>& versions,
                                              const std::vector<std::vector<PlanMap>>& rounds,
                                              int timeMs, int depth, std::int64_t seed) {
    std::vector<PlannedMatch> out;
    // With fewer versions than seats two rotations can seat the same versions alike (one bot
    // against itself); such a match is planned once, as its key is unique.
    std::set<std::string> planned;
    const auto n = static_cast<unsigned>(versions.size());
    for (size_t r = 0; r < rounds.size(); ++r) {
        for (const PlanMap& map : rounds[r]) {
            const auto k = static_cast<unsigned>(map.seats);
            for (const std::vector<unsigned>& up : TournamentConfig::lineups(n, k)) {
                for (unsigned rotation = 0; rotation < k; ++rotation) {
                    PlannedMatch m;
                    m.mapId = map.mapId;
                    m.round = static_cast<int>(r + 1);
                    m.timeMs = timeMs;
                    m.depth = depth;
                    for (unsigned s = 0; s < k; ++s) {
                        m.versions.push_back(versions[up[(s + rotation) % k]]);
                    }
                    m.key = key(m.mapId, m.round, timeMs, depth, m.versions);
                    if (!planned.insert(m.key).second) {
                        continue;
                    }
                    const std::string digest = MapRepository::digest(m.key);
                    m.seed = (seed + std::stoll(digest.substr(8), nullptr, 16)) & SEED_MASK;
                    out.push_back(std::move(m));
                }
            }
        }
    }
    return out;
}
