#pragma once
// Which matches a league's configuration needs: pure planning, no database.

#include "MatchRepository.h"

#include <cstdint>
#include <string>
#include <vector>

/// A map as one round plays it (the map itself, or that round's opening of it).
struct PlanMap {
    std::int64_t mapId = 0;
    int seats = 2;
};

class LeaguePlanner {
public:
    /// Per round and map, every line-up of the versions for the map's seats (combinations; when
    /// there are fewer versions than seats, every multiset in which each version appears), each
    /// in all rotations of its seats. `rounds[r]` lists the maps of round r + 1.
    static std::vector<PlannedMatch> plan(const std::vector<std::int64_t>& versions,
                                          const std::vector<std::vector<PlanMap>>& rounds,
                                          int timeMs, int depth, std::int64_t seed);
    /// One match with its key and seed (drawn from the league's seed and the key). A `repeat`
    /// above 0 is a further match of the same seating, limit and round (sampled scheduling).
    static PlannedMatch planned(std::int64_t mapId, int round, int timeMs, int depth,
                                const std::vector<std::int64_t>& versions, std::int64_t seed,
                                unsigned repeat = 0);
    /// The key that names a match for good: map, round, limit and versions by seat.
    static std::string key(std::int64_t mapId, int round, int timeMs, int depth,
                           const std::vector<std::int64_t>& versions);
};
