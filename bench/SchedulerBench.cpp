// What a league's schedule is worth: synthetic bots of known strengths play on paper, and the
// ratings their results give are compared with the truth (Kendall's tau: 1 is the true order,
// 0 no better than chance). Sampled scheduling for several matches per version, beside line-ups
// drawn uniformly at random for the same number of matches and beside the full round robin.
// Also times planning a course-sized league (33 bots on a 2-, 3- and 4-seat map).
//
//   build/bench/scheduler_bench --benchmark_counters_tabular=true

#include "League.h"
#include "LeagueConfig.h"
#include "SampledPlanner.h"
#include "TournamentConfig.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr int BOTS = 33;
const std::vector<int> SEATS{2, 3, 4};
/// Leagues (truths) each figure is averaged over.
constexpr int LEAGUES = 20;
/// Spread of the true strengths and of one game's performance, on the Elo scale.
constexpr double STRENGTH_SD = 200;
constexpr double PERFORMANCE_SD = 200;

struct Truth {
    std::vector<std::int64_t> versions;
    std::vector<double> strength;
    std::mt19937_64 random;
};

Truth truthOf(int league) {
    Truth t{{}, {}, std::mt19937_64(static_cast<std::uint64_t>(league) + 1)};
    std::normal_distribution<double> spread(0, STRENGTH_SD);
    for (int b = 0; b < BOTS; ++b) {
        t.versions.push_back(b + 1);
        t.strength.push_back(spread(t.random));
    }
    return t;
}

/// One game: each seat performs at its strength plus noise; the best performance ranks first.
SampledResult play(Truth& t, const std::vector<std::int64_t>& seated) {
    std::normal_distribution<double> noise(0, PERFORMANCE_SD);
    std::vector<double> performance;
    for (const std::int64_t v : seated) {
        performance.push_back(t.strength[static_cast<size_t>(v - 1)] + noise(t.random));
    }
    SampledResult r{seated, {}};
    for (const double p : performance) {
        r.ranks.push_back(1 +
                          static_cast<int>(std::count_if(performance.begin(), performance.end(),
                                                         [&](double other) { return other > p; })));
    }
    return r;
}

double kendallTau(const Truth& t, const std::vector<SampledResult>& results) {
    std::vector<double> mu;
    std::vector<double> sigma;
    SampledPlanner::estimate(t.versions, results, mu, sigma);
    long concordant = 0;
    long discordant = 0;
    for (size_t a = 0; a < mu.size(); ++a) {
        for (size_t b = a + 1; b < mu.size(); ++b) {
            const double product = (mu[a] - mu[b]) * (t.strength[a] - t.strength[b]);
            concordant += product > 0 ? 1 : 0;
            discordant += product < 0 ? 1 : 0;
        }
    }
    return static_cast<double>(concordant - discordant) / (mu.size() * (mu.size() - 1) / 2.0);
}

SampledInput leagueInput(const Truth& t, unsigned perVersion) {
    SampledInput in;
    in.versions = t.versions;
    for (size_t m = 0; m < SEATS.size(); ++m) {
        in.maps.push_back({{static_cast<std::int64_t>(m + 1), SEATS[m]}});
    }
    in.depth = 1;
    in.seed = 1;
    in.perVersion = perVersion;
    in.window = 64;
    return in;
}

/// Plays a sampled league window by window, as the runner does; its results, matches per map.
std::vector<SampledResult> playSampled(Truth& t, unsigned perVersion,
                                       std::map<std::int64_t, size_t>& perMap) {
    SampledInput in = leagueInput(t, perVersion);
    for (;;) {
        SampledPlan plan = SampledPlanner::plan(in);
        if (plan.needed.size() == in.existing.size()) {
            return in.results;
        }
        for (size_t i = in.existing.size(); i < plan.needed.size(); ++i) {
            in.results.push_back(play(t, plan.needed[i].versions));
            ++perMap[plan.needed[i].mapId];
        }
        in.existing = std::move(plan.needed);
        in.existingDone.assign(in.existing.size(), true);
    }
}

/// The same number of matches per map, each a line-up drawn uniformly, seats shuffled.
std::vector<SampledResult> playRandom(Truth& t, const std::map<std::int64_t, size_t>& perMap) {
    std::vector<SampledResult> results;
    for (const auto& [mapId, count] : perMap) {
        for (size_t i = 0; i < count; ++i) {
            std::vector<std::int64_t> pool = t.versions;
            std::shuffle(pool.begin(), pool.end(), t.random);
            pool.resize(static_cast<size_t>(SEATS[static_cast<size_t>(mapId - 1)]));
            results.push_back(play(t, pool));
        }
    }
    return results;
}

/// Every line-up in every rotation of its seats, on each map.
std::vector<SampledResult> playRoundRobin(Truth& t, size_t& matches) {
    std::vector<SampledResult> results;
    for (const int k : SEATS) {
        for (const auto& up : TournamentConfig::lineups(BOTS, static_cast<unsigned>(k))) {
            for (int rotation = 0; rotation < k; ++rotation) {
                std::vector<std::int64_t> seated;
                for (int s = 0; s < k; ++s) {
                    seated.push_back(t.versions[up[static_cast<size_t>((s + rotation) % k)]]);
                }
                results.push_back(play(t, seated));
            }
        }
    }
    matches = results.size();
    return results;
}

void SampledAgainstRandom(benchmark::State& state) {
    const auto perVersion = static_cast<unsigned>(state.range(0));
    double sampledTau = 0;
    double randomTau = 0;
    double matches = 0;
    for (auto _ : state) {
        sampledTau = randomTau = matches = 0;
        for (int league = 0; league < LEAGUES; ++league) {
            Truth t = truthOf(league);
            std::map<std::int64_t, size_t> perMap;
            sampledTau += kendallTau(t, playSampled(t, perVersion, perMap));
            randomTau += kendallTau(t, playRandom(t, perMap));
            for (const auto& entry : perMap) {
                matches += static_cast<double>(entry.second);
            }
        }
    }
    state.counters["matches"] = matches / LEAGUES;
    state.counters["tau_sampled"] = sampledTau / LEAGUES;
    state.counters["tau_random"] = randomTau / LEAGUES;
}
BENCHMARK(SampledAgainstRandom)
    ->Arg(4)
    ->Arg(12)
    ->Arg(24)
    ->Arg(48)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void FullRoundRobin(benchmark::State& state) {
    double tau = 0;
    size_t matches = 0;
    for (auto _ : state) {
        Truth t = truthOf(0);
        tau = kendallTau(t, playRoundRobin(t, matches));
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.counters["tau_round_robin"] = tau;
}
BENCHMARK(FullRoundRobin)->Unit(benchmark::kMillisecond)->Iterations(1);

/// A course's league, from nothing to its first window in an SQLite database: what
/// "arena league" does before its first match.
void PlanCourseLeague(benchmark::State& state) {
    std::string path = (fs::temp_directory_path() / "scheduler-bench-XXXXXX").string();
    const std::string dir = mkdtemp(&path[0]);
    const std::vector<std::string> maps{
        "2\n0\n0 0\n4 4\n0 0 0 0\n0 1 2 0\n0 2 1 0\n0 0 0 0\n",
        "3\n0\n0 0\n5 5\n0 0 0 0 0\n0 1 2 3 0\n0 2 3 1 0\n0 3 1 2 0\n0 0 0 0 0\n",
        "4\n0\n0 0\n4 4\n1 2 3 4\n2 3 4 1\n3 4 1 2\n4 1 2 3\n"};
    json config = {{"maps", json::array()},      {"depth", 1u},           {"schedule", "sampled"},
                   {"matches_per_version", 12u}, {"bots", json::array()}, {"sandbox", false}};
    for (size_t m = 0; m < maps.size(); ++m) {
        std::ofstream(dir + "/" + std::to_string(m) + ".map") << maps[m];
        config["maps"].push_back(std::to_string(m) + ".map");
    }
    for (int b = 0; b < BOTS; ++b) {
        config["bots"].push_back({{"name", "team" + std::to_string(b)}, {"command", "greedy"}});
    }
    std::ofstream(dir + "/league.json") << config.dump();
    LeagueProgress progress;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(dir + "/league.db");
        state.ResumeTiming();
        std::string error;
        LeagueConfig league;
        std::unique_ptr<League> opened =
            league.loadLeague(dir, error) ? League::open(league.database, error) : nullptr;
        if (!opened || !opened->schedule(league, progress)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.counters["planned"] = static_cast<double>(progress.added);
    state.counters["expected"] = static_cast<double>(progress.expected);
    fs::remove_all(dir);
}
BENCHMARK(PlanCourseLeague)->Unit(benchmark::kMillisecond);

/// The whole sampled plan of that league at once (no window), on paper.
void PlanCourseLeagueInFull(benchmark::State& state) {
    const Truth t = truthOf(0);
    SampledInput in = leagueInput(t, 12);
    in.window = SIZE_MAX;
    size_t planned = 0;
    for (auto _ : state) {
        planned = SampledPlanner::plan(in).needed.size();
    }
    state.counters["planned"] = static_cast<double>(planned);
}
BENCHMARK(PlanCourseLeagueInFull)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
