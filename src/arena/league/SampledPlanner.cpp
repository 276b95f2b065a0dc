#include "SampledPlanner.h"

#include "TournamentConfig.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <unordered_map>
#include <unordered_set>

namespace {

/// Spread of one game's performance on the Elo scale: a 400-point gap wins about 10 to 1.
constexpr double BETA = 200.0;
/// Uncertainty of a rating after g pairwise games is about SIGMA_ONE / sqrt(g + 1).
constexpr double SIGMA_ONE = 350.0;
constexpr double ELO_PER_LOG10 = 400.0;
constexpr int FIT_ITERATIONS = 40;
/// Weight of an opponent that already has its share on the map, against one that has not.
constexpr double FULL_WEIGHT = 0.05;
/// Largest random share of an opponent's score: breaks ties, never overturns a real preference.
constexpr double JITTER = 0.1;

/// The planning of one call: counts of the needed matches, and the plan growing.
class Sampler {
public:
    explicit Sampler(const SampledInput& in);
    SampledPlan run();

private:
    void keepExisting();
    bool valid(const PlannedMatch& m, size_t& map) const;
    void count(const PlannedMatch& m, size_t map, bool done);
    bool nextFocus(size_t& version, size_t& map) const;
    std::vector<size_t> lineupFor(size_t focus, size_t map);
    double weight(size_t candidate, const std::vector<size_t>& members, size_t map);
    bool addLineup(std::vector<size_t> members, size_t map);
    std::uint64_t pair(size_t map, size_t a, size_t b) const {
        return (std::uint64_t{map} * m_n + std::min(a, b)) * m_n + std::max(a, b);
    }
    double uniform() { return static_cast<double>(m_random() >> 11) * 0x1.0p-53; }

    const SampledInput& m_in;
    size_t m_n;
    std::unordered_map<std::int64_t, size_t> m_index;
    std::unordered_map<std::int64_t, size_t> m_mapOf;
    std::unordered_map<std::string, bool> m_doneByKey;
    std::unordered_set<std::string> m_keys;
    /// m_count[map][version]: needed matches of the version on the map.
    std::vector<std::vector<unsigned>> m_count;
    std::unordered_map<std::uint64_t, unsigned> m_together;
    std::vector<unsigned> m_lineupsOn;
    std::unordered_set<std::uint64_t> m_blocked;
    std::vector<double> m_mu;
    std::vector<double> m_sigma;
    size_t m_pending = 0;
    std::mt19937_64 m_random;
    SampledPlan m_plan;
};

Sampler::Sampler(const SampledInput& in)
    : m_in(in), m_n(in.versions.size()), m_count(in.maps.size(), std::vector<unsigned>(m_n)),
      m_lineupsOn(in.maps.size()),
      m_random(static_cast<std::uint64_t>(in.seed) * 0x9e3779b97f4a7c15ULL + in.existing.size()) {
    for (size_t i = 0; i < m_n; ++i) {
        m_index[in.versions[i]] = i;
    }
    for (size_t m = 0; m < in.maps.size(); ++m) {
        for (const PlanMap& played : in.maps[m]) {
            m_mapOf[played.mapId] = m;
        }
    }
    for (size_t e = 0; e < in.existing.size(); ++e) {
        m_doneByKey[in.existing[e].key] = e < in.existingDone.size() && in.existingDone[e];
    }
    SampledPlanner::estimate(in.versions, in.results, m_mu, m_sigma);
}

bool Sampler::valid(const PlannedMatch& m, size_t& map) const {
    const auto found = m_mapOf.find(m.mapId);
    if (found == m_mapOf.end() || m.timeMs != m_in.timeMs || m.depth != m_in.depth) {
        return false;
    }
    map = found->second;
    const std::vector<PlanMap>& rounds = m_in.maps[map];
    const bool roundOk = m.round >= 1 && static_cast<size_t>(m.round) <= rounds.size() &&
                         rounds[static_cast<size_t>(m.round) - 1].mapId == m.mapId;
    return roundOk && m.versions.size() == static_cast<size_t>(rounds.front().seats) &&
           std::all_of(m.versions.begin(), m.versions.end(),
                       [&](std::int64_t v) { return m_index.count(v) != 0; });
}

void Sampler::count(const PlannedMatch& m, size_t map, bool done) {
    std::vector<size_t> members;
    for (const std::int64_t v : m.versions) {
        members.push_back(m_index.at(v));
    }
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    for (size_t a = 0; a < members.size(); ++a) {
        ++m_count[map][members[a]];
        for (size_t b = a + 1; b < members.size(); ++b) {
            ++m_together[pair(map, members[a], members[b])];
        }
    }
    m_pending += done ? 0 : 1;
    m_keys.insert(m.key);
    m_plan.needed.push_back(m);
}

void Sampler::keepExisting() {
    // Matches of the current versions, maps and limit stay needed whoever planned them (a round
    // robin before, or an earlier window): their results count toward each version's share.
    for (const PlannedMatch& m : m_in.existing) {
        size_t map = 0;
        if (valid(m, map)) {
            count(m, map, m_doneByKey[m.key]);
        }
    }
}

bool Sampler::nextFocus(size_t& version, size_t& map) const {
    long best = 0;
    for (size_t m = 0; m < m_in.maps.size(); ++m) {
        for (size_t i = 0; i < m_n; ++i) {
            const long deficit = static_cast<long>(m_in.perVersion) - long{m_count[m][i]};
            const bool better = deficit > best || (deficit == best && best > 0 &&
                                                   m_in.versions[i] > m_in.versions[version]);
            if (better && m_blocked.count(pair(m, i, i)) == 0) {
                best = deficit;
                version = i;
                map = m;
            }
        }
    }
    return best > 0;
}

double Sampler::weight(size_t candidate, const std::vector<size_t>& members, size_t map) {
    double quality = 0;
    unsigned met = 0;
    for (const size_t s : members) {
        quality +=
            SampledPlanner::quality(m_mu[s], m_sigma[s], m_mu[candidate], m_sigma[candidate]);
        const auto found = m_together.find(pair(map, s, candidate));
        met += found == m_together.end() ? 0 : found->second;
    }
    quality /= static_cast<double>(members.size());
    const double share = m_count[map][candidate] < m_in.perVersion ? 1.0 : FULL_WEIGHT;
    return quality * share / (1.0 + met) * (1.0 + JITTER * uniform());
}

std::vector<size_t> Sampler::lineupFor(size_t focus, size_t map) {
    const auto seats = static_cast<size_t>(m_in.maps[map].front().seats);
    if (m_n < seats) {
        // Too few versions to fill the seats apart: the round robin's multisets, in turn.
        const std::vector<std::vector<unsigned>> ups =
            TournamentConfig::lineups(static_cast<unsigned>(m_n), static_cast<unsigned>(seats));
        const std::vector<unsigned>& up = ups[m_lineupsOn[map] % ups.size()];
        return std::vector<size_t>(up.begin(), up.end());
    }
    std::vector<size_t> members{focus};
    while (members.size() < seats) {
        size_t chosen = m_n;
        double best = -1;
        for (size_t c = 0; c < m_n; ++c) {
            if (std::find(members.begin(), members.end(), c) != members.end()) {
                continue;
            }
            const double w = weight(c, members, map);
            if (w > best) {
                best = w;
                chosen = c;
            }
        }
        members.push_back(chosen);
    }
    return members;
}

bool Sampler::addLineup(std::vector<size_t> members, size_t map) {
    // Seats in the configuration's order, rotated as a round robin seats them: the same line-up
    // is the same match under either schedule.
    std::sort(members.begin(), members.end());
    const std::vector<PlanMap>& rounds = m_in.maps[map];
    const size_t k = members.size();
    for (unsigned repeat = 0; repeat <= m_in.perVersion; ++repeat) {
        for (size_t r = 0; r < rounds.size(); ++r) {
            std::vector<PlannedMatch> matches;
            std::unordered_set<std::string> keys;
            for (size_t rotation = 0; rotation < k; ++rotation) {
                std::vector<std::int64_t> seated;
                for (size_t s = 0; s < k; ++s) {
                    seated.push_back(m_in.versions[members[(s + rotation) % k]]);
                }
                PlannedMatch m =
                    LeaguePlanner::planned(rounds[r].mapId, static_cast<int>(r + 1), m_in.timeMs,
                                           m_in.depth, seated, m_in.seed, repeat);
                if (keys.insert(m.key).second) {
                    matches.push_back(std::move(m));
                }
            }
            // Rotations already needed (a line-up a round robin began) are not planned twice.
            matches.erase(
                std::remove_if(matches.begin(), matches.end(),
                               [&](const PlannedMatch& m) { return m_keys.count(m.key) != 0; }),
                matches.end());
            if (!matches.empty()) {
                for (const PlannedMatch& m : matches) {
                    count(m, map, m_doneByKey.count(m.key) != 0 && m_doneByKey[m.key]);
                }
                ++m_lineupsOn[map];
                return true;
            }
        }
    }
    return false;
}

SampledPlan Sampler::run() {
    keepExisting();
    size_t focus = 0;
    size_t map = 0;
    while (m_pending < m_in.window && m_n > 0 && nextFocus(focus, map)) {
        if (!addLineup(lineupFor(focus, map), map)) {
            m_blocked.insert(pair(map, focus, focus));
        }
    }
    m_plan.expected = m_plan.needed.size();
    for (size_t m = 0; m < m_in.maps.size(); ++m) {
        size_t missing = 0;
        for (size_t i = 0; i < m_n; ++i) {
            missing += m_in.perVersion - std::min(m_in.perVersion, m_count[m][i]);
        }
        const auto seats = static_cast<size_t>(m_in.maps[m].front().seats);
        m_plan.expected += (missing + seats - 1) / seats;
    }
    return std::move(m_plan);
}

/// Each pair of distinct versions in a finished match as one game: the better rank wins, equal
/// ranks draw, a disqualified seat ranks last.
void pairwise(const SampledResult& r, const std::unordered_map<std::int64_t, size_t>& index,
              std::vector<double>& wins, std::vector<std::unordered_map<size_t, double>>& games) {
    const size_t seats = std::min(r.versions.size(), r.ranks.size());
    for (size_t a = 0; a < seats; ++a) {
        for (size_t b = a + 1; b < seats; ++b) {
            const auto ia = index.find(r.versions[a]);
            const auto ib = index.find(r.versions[b]);
            if (ia == index.end() || ib == index.end() || ia->second == ib->second) {
                continue;
            }
            const int ra = r.ranks[a] > 0 ? r.ranks[a] : INT32_MAX;
            const int rb = r.ranks[b] > 0 ? r.ranks[b] : INT32_MAX;
            const double score = ra < rb ? 1.0 : ra == rb ? 0.5 : 0.0;
            wins[ia->second] += score;
            wins[ib->second] += 1.0 - score;
            games[ia->second][ib->second] += 1;
            games[ib->second][ia->second] += 1;
        }
    }
}

} // namespace

SampledPlan SampledPlanner::plan(const SampledInput& input) {
    return Sampler(input).run();
}

double SampledPlanner::quality(double muA, double sigmaA, double muB, double sigmaB) {
    const double spread = 2 * BETA * BETA;
    const double c2 = spread + sigmaA * sigmaA + sigmaB * sigmaB;
    const double gap = muA - muB;
    return std::sqrt(spread / c2) * std::exp(-gap * gap / (2 * c2));
}

void SampledPlanner::estimate(const std::vector<std::int64_t>& versions,
                              const std::vector<SampledResult>& results, std::vector<double>& mu,
                              std::vector<double>& sigma) {
    const size_t n = versions.size();
    std::unordered_map<std::int64_t, size_t> index;
    for (size_t i = 0; i < n; ++i) {
        index[versions[i]] = i;
    }
    // The prior: one win and one loss against a version of mean strength (gamma 1).
    std::vector<double> wins(n, 1.0);
    std::vector<std::unordered_map<size_t, double>> games(n);
    for (const SampledResult& r : results) {
        pairwise(r, index, wins, games);
    }
    // Minorisation-maximisation for Bradley-Terry: gamma_i = W_i / sum_j n_ij / (g_i + g_j).
    std::vector<double> gamma(n, 1.0);
    for (int it = 0; it < FIT_ITERATIONS; ++it) {
        std::vector<double> next(n);
        for (size_t i = 0; i < n; ++i) {
            double denominator = 2.0 / (gamma[i] + 1.0);
            for (const auto& [j, count] : games[i]) {
                denominator += count / (gamma[i] + gamma[j]);
            }
            next[i] = wins[i] / denominator;
        }
        gamma.swap(next);
    }
    mu.assign(n, 0);
    sigma.assign(n, SIGMA_ONE);
    for (size_t i = 0; i < n; ++i) {
        double played = 0;
        for (const auto& entry : games[i]) {
            played += entry.second;
        }
        mu[i] = ELO_PER_LOG10 * std::log10(gamma[i]);
        sigma[i] = SIGMA_ONE / std::sqrt(played + 1);
    }
}
