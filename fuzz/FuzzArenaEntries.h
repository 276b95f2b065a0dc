#pragma once
// The arena's readers that the fuzz targets drive, shared with the tests that replay the kept
// inputs. Each entry point must return normally for every input; a broken invariant it
// detects ends the process with abort(), which the fuzzer reports.

#include <cstddef>
#include <cstdint>

namespace fuzzing {

/// Parses the bytes as bounded JSON and reads them as a tournament configuration. A refusal
/// must say why; a configuration read must read back from its own document unchanged, and its
/// plan's size must be computable.
void configReader(const uint8_t* data, size_t size);

/// Parses the bytes as bounded JSON and reads them as a match record. A refusal must say why;
/// a record read must write back to a text that reads as the same record, and a final
/// record's ranks must give ratings for every seat.
void recordReader(const uint8_t* data, size_t size);

/// Parses the bytes as bounded JSON and reads them as a league's configuration (the
/// tournament's keys and the league's own). The same invariants as configReader.
void leagueConfigReader(const uint8_t* data, size_t size);

/// Parses the bytes as bounded JSON and imports them as a match record into a league (an
/// SQLite file made once per process). A refusal must say why; a record imported once is
/// found there on a second import, and the league's tables stay readable.
void leagueImport(const uint8_t* data, size_t size);

} // namespace fuzzing
