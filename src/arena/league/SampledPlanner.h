#pragma once
// Sampled scheduling: which matches a league plays next when a round robin would be too large.
// Pure planning, no database.

#include "LeaguePlanner.h"

#include <cstdint>
#include <string>
#include <vector>

/// A finished match as the ratings estimate reads it: who sat where and their ranks.
struct SampledResult {
    std::vector<std::int64_t> versions;
    /// Rank of each seat (1 best); 0 for a seat that was disqualified or unranked.
    std::vector<int> ranks;
};

/// The state a sampled plan starts from.
struct SampledInput {
    /// The current versions, in the configuration's order.
    std::vector<std::int64_t> versions;
    /// maps[m][r]: map m of the configuration as round r + 1 plays it.
    std::vector<std::vector<PlanMap>> maps;
    int timeMs = 0;
    int depth = 0;
    std::int64_t seed = 1;
    /// Matches each current version should play per map.
    unsigned perVersion = 12;
    /// The most needed matches left unplayed at once.
    size_t window = 64;
    /// Every match the league holds, needed or not, and which of them are done.
    std::vector<PlannedMatch> existing;
    std::vector<bool> existingDone;
    /// Finished matches of the current versions, for the ratings estimate.
    std::vector<SampledResult> results;
};

/// A sampled plan: the matches now needed, and how many the league will hold in all.
struct SampledPlan {
    std::vector<PlannedMatch> needed;
    /// About how many needed matches the league holds once every version has its share.
    size_t expected = 0;
};

/// Each current version plays about `perVersion` matches per map, in line-ups drawn from the
/// other current versions; a line-up plays all rotations of its seats together, so seats
/// balance. Versions furthest below their share are served first, the newest first among
/// equals, so a new version plays before the rest fill up. Opponents are chosen by match
/// quality as skill-rating systems define it (the chance of an even game under a Gaussian
/// performance model, from a Bradley-Terry estimate of the results so far): even matches
/// tell most about the order. Opponents already met on the map, or already at their share,
/// are discounted, and a seeded draw breaks ties, so a plan is deterministic given the seed
/// and the results. At most `window` needed matches are left unplayed at once; planning again
/// after they are played adds the next ones.
class SampledPlanner {
public:
    static SampledPlan plan(const SampledInput& input);

    /// Ratings on the Elo scale (mean 0) and their uncertainty, per version of `versions`, from
    /// pairwise outcomes of `results` (a Bradley-Terry fit with a weak prior toward the mean).
    static void estimate(const std::vector<std::int64_t>& versions,
                         const std::vector<SampledResult>& results, std::vector<double>& mu,
                         std::vector<double>& sigma);
    /// Match quality of a pair: 1 for equal ratings known exactly, falling with the gap.
    static double quality(double muA, double sigmaA, double muB, double sigmaB);
};
