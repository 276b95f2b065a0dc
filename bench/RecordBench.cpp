// Reading a stored match record as `arena report` and the site do: the file read with its
// bounds, its moves read as the text streams by, the rest checked field by field. Records of
// 20,000 to 160,000 moves (the largest about 44 MB indented, 22 MB on one line) show whether
// the time grows with the size alone; the whole-document parse that a faulty record falls
// back to is measured beside it.

#include "BoundedFile.h"
#include "MatchRecord.h"
#include "RecordsFolder.h"
#include "Report.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

/// A two-seat record of `moves` moves, each changing a few cells, as the runner writes one.
MatchRecord recordOf(unsigned moves) {
    MatchRecord record;
    record.id = "bench";
    record.started = "2026-01-01T00:00:00Z";
    record.map = {"bench.map", "2\n0\n0 0\n4 4\n0 0 0 0\n0 1 2 0\n0 2 1 0\n0 0 0 0\n"};
    record.limits.timeMs = 1000;
    for (unsigned s = 1; s <= 2; ++s) {
        RecordSeat seat;
        seat.seat = s;
        seat.bot = "bot" + std::to_string(s);
        seat.command = "greedy";
        seat.group = s;
        seat.log = "seat" + std::to_string(s) + ".log";
        record.seats.push_back(seat);
    }
    for (unsigned n = 0; n < moves; ++n) {
        RecordMove move;
        move.n = n;
        move.seat = 1 + n % 2;
        move.x = static_cast<uint16_t>(n % 50);
        move.y = static_cast<uint16_t>(n / 50 % 50);
        move.phase = "build";
        move.timeMs = n % 50;
        move.leftMs = 1000 - n % 50;
        for (uint16_t c = 0; c < 3; ++c) {
            move.changes.push_back({static_cast<uint16_t>(c + n % 40), move.y, "1"});
        }
        record.moves.push_back(move);
    }
    record.result.scores = {30, 34};
    record.result.ranks = {2, 1};
    record.consistent = true;
    return record;
}

/// Reads a record of range(0) moves, stored indented as the arena stores records, or, with
/// range(1) set, on one line as write_match_record writes them.
void readRecord(benchmark::State& state) {
    const auto moves = static_cast<unsigned>(state.range(0));
    const fs::path dir = fs::temp_directory_path() / ("record-bench-" + std::to_string(moves));
    fs::create_directories(dir);
    const RecordsFolder folder(dir.string());
    const MatchRecord written = recordOf(moves);
    std::string error;
    if (!RecordsFolder::writeText((dir / "bench.json").string(),
                                  state.range(1) != 0 ? written.toJson().dump() : written.text(),
                                  error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(dir / "bench.json"));
    for (auto _ : state) {
        MatchRecord record;
        if (!folder.read("bench.json", record, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(record.moves.size());
    }
    fs::remove_all(dir);
}

/// What `arena report DIR` computes from a folder holding one record of range(0) moves.
void reportRecord(benchmark::State& state) {
    const auto moves = static_cast<unsigned>(state.range(0));
    const fs::path dir = fs::temp_directory_path() / ("report-bench-" + std::to_string(moves));
    fs::create_directories(dir);
    std::string error;
    if (!RecordsFolder(dir.string()).write("bench", recordOf(moves), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        const nlohmann::json report = Report::compute(dir.string(), SprtSettings());
        if (report.value("records", 0) != 1) {
            state.SkipWithError("the record was not counted");
            break;
        }
    }
    fs::remove_all(dir);
}

/// The whole-document parse alone, with the nesting bound: what a record the stream does not
/// take costs before its fault is named.
void parseRecord(benchmark::State& state) {
    const std::string text = recordOf(static_cast<unsigned>(state.range(0))).text();
    for (auto _ : state) {
        nlohmann::json document;
        std::string error;
        if (!BoundedFile::parseJson(text, document, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(document.size());
    }
}

} // namespace

BENCHMARK(parseRecord)->Arg(160000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(reportRecord)->Arg(160000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(readRecord)
    ->Args({20000, 0})
    ->Args({40000, 0})
    ->Args({80000, 0})
    ->Args({160000, 0})
    ->Args({160000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
