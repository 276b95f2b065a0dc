// A league's database at the size of a long term: 40 bots and about 100,000 finished
// two-player matches. Measures the tables (standings, crosstable, ratings) read back from SQLite,
// and planning one new bot over them (its first window of a sampled schedule: a round robin
// this large is refused).

#include "League.h"
#include "LeagueConfig.h"
#include "LeaguePlanner.h"
#include "LeagueTables.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr int BOTS = 40;
constexpr unsigned ROUNDS = 32;
const char* const MAP = "2\n0\n0 0\n4 4\n0 0 0 0\n0 1 2 0\n0 2 1 0\n0 0 0 0\n";

std::string folder() {
    static const std::string dir = [] {
        std::string path = (fs::temp_directory_path() / "league-bench-XXXXXX").string();
        return std::string(mkdtemp(&path[0]));
    }();
    return dir;
}

json configOf(int bots, unsigned rounds = 1) {
    // 40 bots, two maps, both seat orders: 3,120 matches a round; 32 rounds make 99,840.
    json config = {
        {"maps", {"a.map", "b.map"}}, {"depth", 1u}, {"rounds", rounds}, {"bots", json::array()}};
    if (rounds > 1) {
        config["schedule"] = "sampled";
        config["matches_per_version"] = 2u * ROUNDS;
    }
    for (int b = 0; b < bots; ++b) {
        config["bots"].push_back({{"name", "bot" + std::to_string(b)}, {"command", "greedy"}});
    }
    return config;
}

/// Plays every planned match on paper: the stronger version (lower id) wins more often.
void fill(const std::string& database) {
    std::string error;
    std::unique_ptr<SqlDatabase> db = SqlDatabase::open(database, error);
    std::mt19937 random(7);
    std::vector<std::array<std::int64_t, 3>> seats;
    db->query("SELECT match_id, seat, version_id FROM seats ORDER BY match_id, seat", {},
              [&](const SqlRow& row) {
                  seats.push_back({row.integer(0), row.integer(1), row.integer(2)});
              });
    db->begin();
    db->exec("UPDATE matches SET status = 'done', end_kind = 'final', "
             "moves_digest = CAST(id AS TEXT)");
    for (size_t i = 0; i + 1 < seats.size(); i += 2) {
        const std::int64_t gap = seats[i + 1][2] - seats[i][2];
        const bool firstWins = static_cast<std::int64_t>(random() % (4 * BOTS)) < 2 * BOTS + gap;
        for (size_t s = 0; s < 2; ++s) {
            const bool won = (s == 0) == firstWins;
            db->exec("UPDATE seats SET score = ?, rank = ?, moves = 6, time_ms_sum = 60, "
                     "time_ms_max = 20 WHERE match_id = ? AND seat = ?",
                     {std::int64_t{won ? 9 : 7}, std::int64_t{won ? 1 : 2}, seats[i + s][0],
                      seats[i + s][1]});
        }
    }
    db->commit();
}

/// The rounds after the first, written straight into the database: a league refuses to plan a
/// round robin this large, but one of an earlier arena may hold as many matches.
void addRounds(const std::string& database) {
    std::string error;
    std::unique_ptr<SqlDatabase> db = SqlDatabase::open(database, error);
    std::vector<std::int64_t> versions;
    for (std::int64_t v = 1; v <= BOTS; ++v) {
        versions.push_back(v);
    }
    const std::vector<std::vector<PlanMap>> rounds(ROUNDS, {{1, 2}, {2, 2}});
    std::vector<PlannedMatch> planned = LeaguePlanner::plan(versions, rounds, 0, 1, 1);
    planned.erase(std::remove_if(planned.begin(), planned.end(),
                                 [](const PlannedMatch& m) { return m.round == 1; }),
                  planned.end());
    MatchRepository matches(*db);
    db->begin();
    matches.add(planned);
    db->commit();
}

League& league() {
    static std::unique_ptr<League> opened = [] {
        std::ofstream(folder() + "/a.map") << MAP;
        std::ofstream(folder() + "/b.map") << MAP << "\n";
        std::string error;
        LeagueConfig config;
        if (!config.read(configOf(BOTS), folder(), error)) {
            std::cerr << error << '\n';
        }
        std::unique_ptr<League> l = League::open(folder() + "/league.db", error);
        LeagueProgress progress;
        l->schedule(config, progress);
        addRounds(folder() + "/league.db");
        fill(folder() + "/league.db");
        return l;
    }();
    return *opened;
}

void BM_LeagueTables(benchmark::State& state) {
    League& l = league();
    for (auto _ : state) {
        json tables;
        LeagueTables::compute(l, tables);
        state.counters["matches"] = tables["matches"].get<double>();
    }
}
BENCHMARK(BM_LeagueTables)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ScheduleOneNewBot(benchmark::State& state) {
    League& l = league();
    int bots = BOTS;
    for (auto _ : state) {
        state.PauseTiming();
        LeagueConfig config;
        std::string error;
        config.read(configOf(++bots, ROUNDS), folder(), error);
        // The last bot's window played, so that this one's is planned.
        std::unique_ptr<SqlDatabase> db = SqlDatabase::open(folder() + "/league.db", error);
        db->exec("UPDATE matches SET status = 'done', end_kind = 'final' WHERE status <> 'done'");
        state.ResumeTiming();
        LeagueProgress progress;
        if (!error.empty() || !l.schedule(config, progress)) {
            state.SkipWithError((error + l.error()).c_str());
            break;
        }
        state.counters["added"] = static_cast<double>(progress.added);
    }
}
BENCHMARK(BM_ScheduleOneNewBot)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
