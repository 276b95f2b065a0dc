#pragma once
// The code paths the fuzz targets drive, shared with the regression tests that replay the
// inputs the fuzzers once crashed on. Each entry point must return normally for every input;
// a broken invariant it detects ends the process with abort(), which the fuzzer reports.

#include <cstddef>
#include <cstdint>

namespace fuzzing {

/// Silences every logger below FATAL and turns colours off, so a run spends its time in the
/// code under test. The messages are still built (root level TRACE, no sink attached) when
/// `buildMessages` is true, so that their formatting is exercised too.
void quietLogging(bool buildMessages);

/// Reads the bytes as a map. A valid map must survive the writer and the reader unchanged; a
/// game is then built on it and played for a few moves, first the moves a hostile client
/// would send (taken from the input bytes), then legal ones found by the move enumeration.
void mapReader(const uint8_t* data, size_t size);

/// Feeds bytes 1 and on through one end of a connected socket pair and receives messages
/// from the other end until the stream ends or breaks. Byte 0 picks the receive variant
/// (timed or not, type check or not, the type expected).
void protocolReceive(const uint8_t* data, size_t size);

/// Splits bytes 1 and on at zero bytes into command-line tokens and parses them. Byte 0 picks
/// the declarations: the server's own options with the basic options, a parser that uses every
/// kind of argument and constraint, or (for the markup) one argument whose description is the
/// first token. Refusals (knob::exception) are expected; any other exception escapes to the
/// fuzzer, except the logic_error a positional argument's usage() documents.
void argumentParser(const uint8_t* data, size_t size);

} // namespace fuzzing
