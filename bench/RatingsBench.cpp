// The ratings fit at the sizes the report must bear: a league of many bots, matches of eight
// seats with large ties, and one record of a 66-way tie.

#include "Ratings.h"

#include <benchmark/benchmark.h>

#include <numeric>
#include <random>

namespace {

/// `matches` eight-seat finishes among `bots` bots, every bot in some, drawn with a fixed seed.
Ratings league(unsigned bots, unsigned matches) {
    Ratings ratings(bots);
    std::mt19937 random(7);
    std::uniform_int_distribution<unsigned> pick(0, bots - 1);
    for (unsigned m = 0; m < matches; ++m) {
        std::vector<std::vector<unsigned>> groups;
        for (unsigned s = 0; s < 8; ++s) {
            groups.push_back({s == 0 ? m % bots : pick(random)});
        }
        ratings.addMatch(groups);
    }
    return ratings;
}

void BM_RatingsManyBots(benchmark::State& state) {
    const auto bots = static_cast<unsigned>(state.range(0));
    const Ratings ratings = league(bots, bots * 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ratings.fit());
    }
}
BENCHMARK(BM_RatingsManyBots)->Arg(100)->Arg(400)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_RatingsWideTie(benchmark::State& state) {
    const auto tied = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        Ratings ratings(tied + 1);
        std::vector<unsigned> group(tied);
        std::iota(group.begin(), group.end(), 1);
        ratings.addMatch({{0}, group});
        ratings.addMatch({group, {0}});
        benchmark::DoNotOptimize(ratings.fit());
    }
}
BENCHMARK(BM_RatingsWideTie)->Arg(7)->Arg(8)->Arg(66)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
