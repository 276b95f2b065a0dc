#pragma once
// The record of one match ("reversi-match-1"): the only code that writes, reads and checks one.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

/// The map as the match was played on it.
struct RecordMap {
    std::string file;
    /// The map as the server sends it (or the file's text when the model refused it).
    std::string text;
};

/// Exactly one of the two is set in a record the arena writes.
struct RecordLimits {
    std::optional<uint32_t> timeMs;
    std::optional<uint32_t> depth;
};

struct RecordSeat {
    /// 1-based; seat k is seats[k - 1].
    unsigned seat = 0;
    std::string bot;
    std::string command;
    /// The group id as the server received it; none when it never came.
    std::optional<unsigned> group;
    /// Group 255: the server did not time this seat.
    bool untimed = false;
    /// How the bot's process ended; none when it was never started.
    std::optional<std::string> exit;
    /// The seat's log file, relative to the match's log folder.
    std::string log;
    std::optional<uint64_t> logDroppedBytes;
    /// How the bot was run (jailed or not, its limits): an object of bounded size, null when
    /// it never started; none in records written before bots were jailed.
    std::optional<nlohmann::json> run;
    /// The jail's limit that ended the bot, when one did: the member "stopped_by" of the
    /// seat's "sandbox" object, where the runner writes it.
    std::optional<std::string> stoppedBy;
    /// The bot's whole CPU time and peak memory; none when it never ran or in older records.
    std::optional<uint64_t> cpuMs;
    std::optional<double> maxRssMb;
    /// The part of cpuMs spent while another seat was to move; none in older records.
    std::optional<uint64_t> cpuWaitMs;
    /// Whether the bot could think on others' turns: "allowed", "frozen" (its group was frozen
    /// then) or "not held" (asked to be frozen, but no group could be); none in older records.
    std::optional<std::string> pondering;
};

/// A cell whose shown content a move changed, and its new map character.
struct RecordChange {
    uint16_t x = 0;
    uint16_t y = 0;
    std::string token;
};

struct RecordMove {
    unsigned n = 0;
    unsigned seat = 0;
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t choice = 0;
    /// "build" or "bomb"; none when the map could not be replayed.
    std::optional<std::string> phase;
    /// With a time limit only.
    std::optional<uint32_t> timeMs;
    std::optional<uint32_t> leftMs;
    std::vector<RecordChange> changes;
};

/// A refused answer, as the server logged it.
struct RecordAnswer {
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t choice = 0;
};

struct RecordDisqualification {
    unsigned seat = 0;
    /// Moves applied before it.
    unsigned atMove = 0;
    std::string reason;
    std::optional<RecordAnswer> move;
    /// The rule the refused move broke, when the map could be replayed.
    std::optional<std::string> detail;
};

enum class MatchEnd { Final, Aborted, ServerFailed };

struct RecordResult {
    MatchEnd end = MatchEnd::Final;
    int serverExit = 0;
    /// Final only, one per seat: the stones owned, or none when disqualified.
    std::vector<std::optional<unsigned>> scores;
    /// Final only, one per seat, each within 1..seats.
    std::vector<unsigned> ranks;
    /// Aborted or server failed only.
    std::string reason;
    std::optional<unsigned> silentSeat;

    bool final() const { return end == MatchEnd::Final; }
};

class MatchRecord {
public:
    static constexpr const char* FORMAT = "reversi-match-1";

    /// Bounds of a record that reading enforces. A record the arena writes stays far inside
    /// them: at most 8 seats play, a map has at most 50 x 50 cells.
    static constexpr size_t MAX_SEATS = 255;
    static constexpr size_t MAX_MOVES = 1000000;
    static constexpr size_t MAX_CHANGES = 2500;
    static constexpr size_t MAX_DISQUALIFICATIONS = 255;
    static constexpr size_t MAX_WARNINGS = 64;
    static constexpr size_t MAX_TEXT_BYTES = size_t{64} * 1024;
    static constexpr size_t MAX_MAP_BYTES = size_t{4} * 1024 * 1024;
    static constexpr size_t MAX_RUN_BYTES = size_t{64} * 1024;
    static constexpr unsigned MAX_SCORE = 1000000;
    /// The widths of a move's fields: cells, choices and whole numbers (times, counts).
    static constexpr unsigned MAX_COORDINATE = UINT16_MAX;
    static constexpr unsigned MAX_CHOICE = UINT8_MAX;
    static constexpr uint32_t MAX_WHOLE = UINT32_MAX;

    std::string id;
    /// UTC, ISO-8601.
    std::string started;
    double durationS = 0;
    /// Set in a tournament only.
    std::optional<unsigned> round;
    std::optional<unsigned> index;
    RecordMap map;
    RecordLimits limits;
    /// Whether the bots ran in jails; none in records written before jails.
    std::optional<bool> sandbox;
    std::vector<RecordSeat> seats;
    std::vector<RecordMove> moves;
    std::vector<RecordDisqualification> disqualifications;
    RecordResult result;
    /// The replayed moves gave the server's scores.
    bool consistent = false;
    std::vector<std::string> warnings;

    /// Reads a record document, checking every field's type and range once (keys it does not
    /// know are ignored). True with the record filled; else false with one fault in `error`,
    /// "SOURCE: FIELD: what is wrong" (e.g. "m.json: seats[2].bot: not a string"), and the
    /// record in an unspecified state.
    static bool fromJson(const nlohmann::json& document, const std::string& source,
                         MatchRecord& record, std::string& error);
    /// Reads a record from its text, as fromJson reads the document of that text once it has
    /// passed BoundedFile::parseJson (the same record, or the same fault, with a fault of the
    /// text itself given as "SOURCE: not valid JSON (truncated?)"), in time and memory that
    /// grow with the text alone: the moves are read as the text goes by rather than from a
    /// document of them.
    static bool fromText(const std::string& text, const std::string& source, MatchRecord& record,
                         std::string& error);
    /// The record document; for a record read with fromJson, the same fields it was read from.
    nlohmann::json toJson() const;
    /// The document as the arena stores it: indented by one space, a newline at the end.
    std::string text() const;

    /// Makes every text of a record document being written valid UTF-8: each byte that is not
    /// (a map file's text, a file name, a bot's command) becomes U+FFFD, and a warning names
    /// the fields so changed. True when anything was changed. A record read back is already
    /// valid: the JSON reader refuses anything else.
    static bool repairText(nlohmann::json& document);
    /// The same for a record built in memory, warning in `warnings`; true when anything was
    /// changed.
    bool repairText();

    /// "final", "aborted", "server_failed".
    static const char* endName(MatchEnd end);
    /// The end of that name; none for any other text.
    static std::optional<MatchEnd> endNamed(const std::string& name);

    /// One line for a progress log: each seat's bot and score ("alice 40, bob disqualified"),
    /// or how it ended and why ("aborted: ...").
    std::string summary() const;
    /// "alice, bob": the bots by seat.
    std::string lineup() const;
    /// Whether it ended for no bot's fault (the server, the jail, the machine): aborted with no
    /// seat named, or the server failed.
    bool nobodysFault() const;
};
