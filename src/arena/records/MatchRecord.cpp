#include "MatchRecord.h"

#include "BoundedFile.h"
#include "RecordStream.h"
#include "Utf8.h"

#include <cmath>
#include <limits>
#include <utility>

using json = nlohmann::json;

namespace {

constexpr unsigned MAX_GROUP = 255;
constexpr int MIN_EXIT = -1;
constexpr int MAX_EXIT = 255;
/// A year: bounds the number; no match runs that long.
constexpr double MAX_DURATION_S = 86400.0 * 365;
/// A petabyte: far above any machine's memory.
constexpr double MAX_RSS_MB = 1e9;

/// The first fault found while reading; every look-up after it is skipped.
class Faults {
public:
    void add(const std::string& path, const std::string& what) {
        if (m_first.empty()) {
            m_first = path + ": " + what;
        }
    }
    bool any() const { return !m_first.empty(); }
    const std::string& first() const { return m_first; }

private:
    std::string m_first;
};

/// One value of the document and where it is in it, read with checks. A missing or
/// faulty value gives a default and records the fault; later calls see the fault and do
/// nothing, so a reader can go on without testing each step.
class Field {
public:
    /// The document itself.
    Field(const json* value, Faults& faults) : m_value(value), m_faults(faults) {}

    /// The member `key` of this object; a missing member is a fault unless `optional`.
    Field at(const char* key, bool optional = false) const {
        if (!ok() || !isObject()) {
            return Field(nullptr, this, key, 0);
        }
        const auto found = m_value->find(key);
        if (found == m_value->end()) {
            const Field missing(nullptr, this, key, 0);
            if (!optional) {
                missing.fail("missing");
            }
            return missing;
        }
        return Field(&*found, this, key, 0);
    }
    bool present() const { return m_value != nullptr && !m_faults.any(); }
    bool isNull() const { return m_value != nullptr && m_value->is_null(); }

    bool isObject() const {
        if (m_value == nullptr || !m_value->is_object()) {
            fail("not an object");
            return false;
        }
        return true;
    }
    /// The number of items of an array of at most `most` items; 0 after a fault.
    size_t items(size_t most) const {
        if (!ok()) {
            return 0;
        }
        if (!m_value->is_array()) {
            fail("not an array");
            return 0;
        }
        if (m_value->size() > most) {
            fail(std::to_string(m_value->size()) + " items, more than " + std::to_string(most));
            return 0;
        }
        return m_value->size();
    }
    Field item(size_t i) const { return Field(ok() ? &(*m_value)[i] : nullptr, this, nullptr, i); }

    std::string text(size_t maxBytes = MatchRecord::MAX_TEXT_BYTES) const {
        if (!ok()) {
            return {};
        }
        if (!m_value->is_string()) {
            fail("not a string");
            return {};
        }
        const auto& s = m_value->get_ref<const std::string&>();
        if (s.size() > maxBytes) {
            fail("a text of " + std::to_string(s.size()) + " bytes, more than " +
                 std::to_string(maxBytes));
            return {};
        }
        return s;
    }
    bool flag() const {
        if (!ok()) {
            return false;
        }
        if (!m_value->is_boolean()) {
            fail("not true or false");
            return false;
        }
        return m_value->get<bool>();
    }
    /// An integer within lo..hi, compared before it is converted.
    int64_t integer(int64_t lo, int64_t hi) const {
        if (!ok()) {
            return lo;
        }
        if (!m_value->is_number_integer()) {
            fail(m_value->is_number() ? "not an integer" : "not a number");
            return lo;
        }
        // A number past int64_t is unsigned in the document; compare it as it is.
        const bool inRange =
            m_value->is_number_unsigned()
                ? m_value->get<uint64_t>() <= static_cast<uint64_t>(hi) &&
                      (lo <= 0 || m_value->get<uint64_t>() >= static_cast<uint64_t>(lo))
                : m_value->get<int64_t>() >= lo && m_value->get<int64_t>() <= hi;
        if (!inRange) {
            fail(m_value->dump() + " is out of range " + std::to_string(lo) + ".." +
                 std::to_string(hi));
            return lo;
        }
        return m_value->get<int64_t>();
    }
    unsigned whole(unsigned lo, unsigned hi) const {
        return static_cast<unsigned>(integer(lo, hi));
    }
    double real(double lo, double hi) const {
        if (!ok()) {
            return lo;
        }
        if (!m_value->is_number()) {
            fail("not a number");
            return lo;
        }
        const double v = m_value->get<double>();
        if (!(v >= lo && v <= hi)) {
            fail(m_value->dump() + " is out of range");
            return lo;
        }
        return v;
    }
    /// An optional text: null gives none.
    std::optional<std::string> textOrNull(size_t maxBytes = MatchRecord::MAX_TEXT_BYTES) const {
        if (!ok() || m_value->is_null()) {
            return std::nullopt;
        }
        return text(maxBytes);
    }
    std::optional<unsigned> wholeOrNull(unsigned lo, unsigned hi) const {
        if (!ok() || m_value->is_null()) {
            return std::nullopt;
        }
        return whole(lo, hi);
    }
    /// An object kept as it is, of at most maxBytes written out.
    json object(size_t maxBytes) const {
        if (!ok() || m_value->is_null()) {
            return nullptr;
        }
        if (!isObject()) {
            return nullptr;
        }
        const size_t size = m_value->dump().size();
        if (size > maxBytes) {
            fail("an object of " + std::to_string(size) + " bytes, more than " +
                 std::to_string(maxBytes));
            return nullptr;
        }
        return *m_value;
    }

    void fail(const std::string& what) const { m_faults.add(path(), what); }

private:
    /// A member (`key`) or an item (`index`, key null) of `parent`, which must outlive it.
    Field(const json* value, const Field* parent, const char* key, size_t index)
        : m_value(value), m_parent(parent), m_key(key), m_index(index), m_faults(parent->m_faults) {
    }

    bool ok() const { return m_value != nullptr && !m_faults.any(); }
    /// "seats[2].bot"; built only for a fault, as a record has millions of fields.
    std::string path() const {
        if (m_parent == nullptr) {
            return "";
        }
        std::string out = m_parent->path();
        if (m_key == nullptr) {
            out += "[" + std::to_string(m_index) + "]";
        } else {
            out += out.empty() ? "" : ".";
            out += m_key;
        }
        return out;
    }

    const json* m_value;
    const Field* m_parent = nullptr;
    const char* m_key = nullptr;
    size_t m_index = 0;
    Faults& m_faults;
};

RecordMap readMap(const Field& f) {
    return {f.at("file").text(), f.at("text").text(MatchRecord::MAX_MAP_BYTES)};
}

RecordLimits readLimits(const Field& f) {
    RecordLimits limits;
    limits.timeMs = f.at("time_ms").wholeOrNull(1, MatchRecord::MAX_WHOLE);
    limits.depth = f.at("depth").wholeOrNull(1, MatchRecord::MAX_WHOLE);
    return limits;
}

void readWaiting(const Field& f, RecordSeat& seat) {
    const Field wait = f.at("cpu_wait_ms", true);
    if (wait.present()) {
        seat.cpuWaitMs =
            static_cast<uint64_t>(wait.integer(0, std::numeric_limits<int64_t>::max()));
    }
    const Field pondering = f.at("pondering", true);
    if (pondering.present()) {
        seat.pondering = pondering.text();
        if (*seat.pondering != "allowed" && *seat.pondering != "frozen" &&
            *seat.pondering != "not held") {
            pondering.fail("not \"allowed\", \"frozen\" or \"not held\"");
        }
    }
}

void readUse(const Field& f, RecordSeat& seat) {
    const Field cpu = f.at("cpu_ms", true);
    if (cpu.present()) {
        seat.cpuMs = static_cast<uint64_t>(cpu.integer(0, std::numeric_limits<int64_t>::max()));
    }
    const Field rss = f.at("max_rss_mb", true);
    if (rss.present()) {
        seat.maxRssMb = rss.real(0, MAX_RSS_MB);
    }
    readWaiting(f, seat);
}

RecordSeat readSeat(const Field& f, unsigned k) {
    RecordSeat seat;
    seat.seat = f.at("seat").whole(k, k);
    seat.bot = f.at("bot").text();
    seat.command = f.at("command").text();
    seat.group = f.at("group").wholeOrNull(0, MAX_GROUP);
    seat.untimed = f.at("untimed").flag();
    seat.exit = f.at("exit").textOrNull();
    seat.log = f.at("log").text();
    const Field dropped = f.at("log_dropped_bytes", true);
    if (dropped.present()) {
        seat.logDroppedBytes =
            static_cast<uint64_t>(dropped.integer(0, std::numeric_limits<int64_t>::max()));
    }
    const Field run = f.at("sandbox", true);
    if (run.present()) {
        seat.run = run.object(MatchRecord::MAX_RUN_BYTES);
    }
    // The runner writes the limit that ended the bot inside the seat's "sandbox" object.
    if (run.present() && !run.isNull()) {
        const Field stopped = run.at("stopped_by", true);
        if (stopped.present()) {
            seat.stoppedBy = stopped.text();
        }
    }
    readUse(f, seat);
    return seat;
}

RecordChange readChange(const Field& f) {
    RecordChange change;
    if (f.items(3) != 3) {
        f.fail("not [x, y, token]");
        return change;
    }
    change.x = static_cast<uint16_t>(f.item(0).whole(0, MatchRecord::MAX_COORDINATE));
    change.y = static_cast<uint16_t>(f.item(1).whole(0, MatchRecord::MAX_COORDINATE));
    change.token = f.item(2).text(4);
    return change;
}

RecordMove readMove(const Field& f, unsigned seats) {
    RecordMove move;
    move.n = f.at("n").whole(0, MatchRecord::MAX_WHOLE);
    move.seat = f.at("seat").whole(1, seats);
    move.x = static_cast<uint16_t>(f.at("x").whole(0, MatchRecord::MAX_COORDINATE));
    move.y = static_cast<uint16_t>(f.at("y").whole(0, MatchRecord::MAX_COORDINATE));
    move.choice = static_cast<uint8_t>(f.at("choice").whole(0, MatchRecord::MAX_CHOICE));
    move.phase = f.at("phase").textOrNull();
    const Field time = f.at("time_ms", true);
    if (time.present()) {
        move.timeMs = time.whole(0, MatchRecord::MAX_WHOLE);
        move.leftMs = f.at("left_ms").whole(0, MatchRecord::MAX_WHOLE);
    }
    const Field changes = f.at("changes");
    const size_t count = changes.items(MatchRecord::MAX_CHANGES);
    for (size_t i = 0; i < count; ++i) {
        move.changes.push_back(readChange(changes.item(i)));
    }
    return move;
}

RecordDisqualification readDisqualification(const Field& f, unsigned seats, size_t moves) {
    RecordDisqualification d;
    d.seat = f.at("seat").whole(1, seats);
    d.atMove = f.at("at_move").whole(0, static_cast<unsigned>(moves));
    d.reason = f.at("reason").text();
    const Field move = f.at("move", true);
    if (move.present()) {
        d.move =
            RecordAnswer{static_cast<uint16_t>(move.at("x").whole(0, MatchRecord::MAX_COORDINATE)),
                         static_cast<uint16_t>(move.at("y").whole(0, MatchRecord::MAX_COORDINATE)),
                         static_cast<uint8_t>(move.at("choice").whole(0, MatchRecord::MAX_CHOICE))};
    }
    const Field detail = f.at("detail", true);
    if (detail.present()) {
        d.detail = detail.text();
    }
    return d;
}

MatchEnd readEnd(const Field& f) {
    const std::string end = f.text();
    const std::optional<MatchEnd> named = MatchRecord::endNamed(end);
    if (!named) {
        f.fail("\"" + end.substr(0, 40) + "\" is not final, aborted or server_failed");
    }
    return named.value_or(MatchEnd::Final);
}

/// A final result has a score and a rank per seat; any other end its reason.
RecordResult readResult(const Field& f, unsigned seats) {
    RecordResult result;
    result.end = readEnd(f.at("end"));
    result.serverExit = static_cast<int>(f.at("server_exit").integer(MIN_EXIT, MAX_EXIT));
    if (!result.final()) {
        result.reason = f.at("reason").text();
        result.silentSeat = f.at("silent_seat").wholeOrNull(1, seats);
        return result;
    }
    const Field scores = f.at("scores");
    const Field ranks = f.at("ranks");
    if (scores.items(seats) != seats) {
        scores.fail("not one per seat");
    }
    if (ranks.items(seats) != seats) {
        ranks.fail("not one per seat");
    }
    for (unsigned s = 0; s < seats; ++s) {
        const Field score = scores.item(s);
        result.scores.push_back(
            score.isNull() ? std::nullopt
                           : std::optional<unsigned>(score.whole(0, MatchRecord::MAX_SCORE)));
        result.ranks.push_back(ranks.item(s).whole(1, seats));
    }
    return result;
}

/// Moves read from the text as it streamed by (the document then holds none), their seats
/// checked here against the record's seats as readMove checks them. False when a seat is out
/// of range: the document must be read whole to name that fault as readMove names it.
bool takeStreamed(const Field& root, std::vector<RecordMove>& streamed, MatchRecord& r) {
    if (!root.present()) {
        return true;
    }
    const auto n = static_cast<unsigned>(r.seats.size());
    for (const RecordMove& move : streamed) {
        if (move.seat > n) {
            return false;
        }
    }
    r.moves = std::move(streamed);
    return true;
}

/// The parts that hold lists, each bounded before it is walked. False only when `streamed`
/// moves do not fit the record's seats.
bool readLists(const Field& root, MatchRecord& r, std::vector<RecordMove>* streamed) {
    const Field seats = root.at("seats");
    const size_t seatCount = seats.items(MatchRecord::MAX_SEATS);
    for (size_t k = 0; k < seatCount; ++k) {
        r.seats.push_back(readSeat(seats.item(k), static_cast<unsigned>(k + 1)));
    }
    const auto n = static_cast<unsigned>(r.seats.size());
    if (streamed != nullptr) {
        if (!takeStreamed(root, *streamed, r)) {
            return false;
        }
    } else {
        const Field moves = root.at("moves");
        const size_t moveCount = moves.items(MatchRecord::MAX_MOVES);
        for (size_t i = 0; i < moveCount; ++i) {
            r.moves.push_back(readMove(moves.item(i), n));
        }
    }
    const Field dqs = root.at("disqualifications");
    const size_t dqCount = dqs.items(MatchRecord::MAX_DISQUALIFICATIONS);
    for (size_t i = 0; i < dqCount; ++i) {
        r.disqualifications.push_back(readDisqualification(dqs.item(i), n, r.moves.size()));
    }
    r.result = readResult(root.at("result"), n);
    const Field warnings = root.at("warnings", true);
    const size_t warningCount = warnings.present() ? warnings.items(MatchRecord::MAX_WARNINGS) : 0;
    for (size_t i = 0; i < warningCount; ++i) {
        r.warnings.push_back(warnings.item(i).text());
    }
    return true;
}

enum class Reading { Read, Refused, Unsure };

/// Reads the document into `record`; with `streamed`, the document's moves are those.
Reading readDocument(const json& document, const std::string& source, MatchRecord& record,
                     std::string& error, std::vector<RecordMove>* streamed) {
    Faults faults;
    const Field root(&document, faults);
    record = MatchRecord();
    if (!document.is_object() || !document.contains("format") ||
        document["format"] != MatchRecord::FORMAT) {
        error = source + ": not a match record of the format \"" + MatchRecord::FORMAT + "\"";
        return Reading::Refused;
    }
    record.id = root.at("id").text();
    record.started = root.at("started").text();
    record.durationS = root.at("duration_s").real(0, MAX_DURATION_S);
    const Field round = root.at("round", true);
    const Field index = root.at("index", true);
    if (round.present()) {
        record.round = round.whole(0, MatchRecord::MAX_WHOLE);
    }
    if (index.present()) {
        record.index = index.whole(0, MatchRecord::MAX_WHOLE);
    }
    record.map = readMap(root.at("map"));
    record.limits = readLimits(root.at("limits"));
    const Field sandbox = root.at("sandbox", true);
    if (sandbox.present()) {
        record.sandbox = sandbox.flag();
    }
    if (!readLists(root, record, streamed)) {
        return Reading::Unsure;
    }
    record.consistent = root.at("consistent").flag();
    if (faults.any()) {
        error = source + ": " + faults.first();
        return Reading::Refused;
    }
    return Reading::Read;
}

/// "path.name", or "name" at the top.
std::string memberPath(const std::string& path, const std::string& name) {
    if (path.empty()) {
        return name;
    }
    std::string out = path;
    out += '.';
    out += name;
    return out;
}

/// Repairs the texts (and member names) under `value`, adding the path of each changed one
/// to `changed`. A document the runner builds nests a few levels deep.
void repairUnder(json& value, const std::string& path, std::vector<std::string>& changed) {
    if (value.is_string()) {
        if (Utf8::repair(value.get_ref<std::string&>())) {
            changed.push_back(path.empty() ? "(top)" : path);
        }
    } else if (value.is_array()) {
        for (size_t i = 0; i < value.size(); ++i) {
            repairUnder(value[i], path + "[" + std::to_string(i) + "]", changed);
        }
    } else if (value.is_object()) {
        std::vector<std::string> badKeys;
        for (auto& [key, member] : value.items()) {
            const std::string name = Utf8::repaired(key);
            repairUnder(member, memberPath(path, name), changed);
            if (!Utf8::valid(key)) {
                badKeys.push_back(key);
            }
        }
        for (const std::string& key : badKeys) {
            const std::string repaired = Utf8::repaired(key);
            value[repaired] = std::move(value[key]);
            value.erase(key);
            changed.push_back(memberPath(path, repaired));
        }
    }
}

json numberOrNull(const std::optional<unsigned>& v) {
    return v ? json(*v) : json(nullptr);
}

json seatJson(const RecordSeat& s) {
    json seat = {{"seat", s.seat},
                 {"bot", s.bot},
                 {"command", s.command},
                 {"group", numberOrNull(s.group)},
                 {"untimed", s.untimed},
                 {"log", s.log},
                 {"exit", s.exit ? json(*s.exit) : json(nullptr)}};
    if (s.logDroppedBytes) {
        seat["log_dropped_bytes"] = *s.logDroppedBytes;
    }
    if (s.run) {
        seat["sandbox"] = *s.run;
    }
    if (s.stoppedBy) {
        if (!seat["sandbox"].is_object()) {
            seat["sandbox"] = json::object();
        }
        seat["sandbox"]["stopped_by"] = *s.stoppedBy;
    }
    if (s.cpuMs) {
        seat["cpu_ms"] = *s.cpuMs;
    }
    if (s.maxRssMb) {
        seat["max_rss_mb"] = *s.maxRssMb;
    }
    if (s.cpuWaitMs) {
        seat["cpu_wait_ms"] = *s.cpuWaitMs;
    }
    if (s.pondering) {
        seat["pondering"] = *s.pondering;
    }
    return seat;
}

json moveJson(const RecordMove& m) {
    json move = {{"n", m.n}, {"seat", m.seat}, {"x", m.x}, {"y", m.y}, {"choice", m.choice}};
    move["phase"] = m.phase ? json(*m.phase) : json(nullptr);
    if (m.timeMs) {
        move["time_ms"] = *m.timeMs;
        move["left_ms"] = m.leftMs.value_or(0);
    }
    json changes = json::array();
    for (const RecordChange& c : m.changes) {
        changes.push_back({c.x, c.y, c.token});
    }
    move["changes"] = changes;
    return move;
}

json disqualificationJson(const RecordDisqualification& d) {
    json out = {{"seat", d.seat}, {"at_move", d.atMove}, {"reason", d.reason}};
    if (d.move) {
        out["move"] = {{"x", d.move->x}, {"y", d.move->y}, {"choice", d.move->choice}};
    }
    if (d.detail) {
        out["detail"] = *d.detail;
    }
    return out;
}

json resultJson(const RecordResult& r) {
    json result = {{"end", MatchRecord::endName(r.end)}, {"server_exit", r.serverExit}};
    if (!r.final()) {
        result["reason"] = r.reason;
        result["silent_seat"] = numberOrNull(r.silentSeat);
        return result;
    }
    json scores = json::array();
    for (const auto& s : r.scores) {
        scores.push_back(numberOrNull(s));
    }
    result["scores"] = scores;
    result["ranks"] = r.ranks;
    return result;
}

} // namespace

const char* MatchRecord::endName(MatchEnd end) {
    switch (end) {
    case MatchEnd::Final:
        return "final";
    case MatchEnd::Aborted:
        return "aborted";
    case MatchEnd::ServerFailed:
        return "server_failed";
    }
    return "final";
}

bool MatchRecord::fromJson(const json& document, const std::string& source, MatchRecord& record,
                           std::string& error) {
    return readDocument(document, source, record, error, nullptr) == Reading::Read;
}

bool MatchRecord::fromText(const std::string& text, const std::string& source, MatchRecord& record,
                           std::string& error) {
    json rest;
    std::vector<RecordMove> moves;
    if (RecordStream::split(text, rest, moves)) {
        const Reading reading = readDocument(rest, source, record, error, &moves);
        if (reading != Reading::Unsure) {
            return reading == Reading::Read;
        }
    }
    // Text the stream does not take (a fault, or a shape no writer makes) is read whole, so
    // that its fault is named exactly as fromJson names it.
    json document;
    if (!BoundedFile::parseJson(text, document, error)) {
        error = source + ": " + error;
        return false;
    }
    return fromJson(document, source, record, error);
}

json MatchRecord::toJson() const {
    json record = {{"format", FORMAT},
                   {"id", id},
                   {"started", started},
                   {"duration_s", durationS},
                   {"map", {{"file", map.file}, {"text", map.text}}},
                   {"limits",
                    {{"time_ms", limits.timeMs ? json(*limits.timeMs) : json(nullptr)},
                     {"depth", limits.depth ? json(*limits.depth) : json(nullptr)}}},
                   {"consistent", consistent}};
    if (sandbox) {
        record["sandbox"] = *sandbox;
    }
    if (round) {
        record["round"] = *round;
    }
    if (index) {
        record["index"] = *index;
    }
    json seatList = json::array();
    for (const RecordSeat& s : seats) {
        seatList.push_back(seatJson(s));
    }
    record["seats"] = seatList;
    json moveList = json::array();
    for (const RecordMove& m : moves) {
        moveList.push_back(moveJson(m));
    }
    record["moves"] = moveList;
    json dqs = json::array();
    for (const RecordDisqualification& d : disqualifications) {
        dqs.push_back(disqualificationJson(d));
    }
    record["disqualifications"] = dqs;
    record["result"] = resultJson(result);
    if (!warnings.empty()) {
        record["warnings"] = warnings;
    }
    return record;
}

std::string MatchRecord::text() const {
    // Texts set by code rather than read are repaired here too: a record is always written.
    return toJson().dump(1, ' ', false, json::error_handler_t::replace) + '\n';
}

bool MatchRecord::repairText(json& document) {
    std::vector<std::string> changed;
    repairUnder(document, "", changed);
    if (changed.empty()) {
        return false;
    }
    constexpr size_t NAMED = 4;
    std::string fields;
    for (size_t i = 0; i < changed.size() && i < NAMED; ++i) {
        fields += (i != 0 ? ", " : "") + changed[i].substr(0, MAX_TEXT_BYTES / 64);
    }
    if (changed.size() > NAMED) {
        fields += " and " + std::to_string(changed.size() - NAMED) + " more";
    }
    json& warnings = document["warnings"];
    if (!warnings.is_array()) {
        warnings = json::array();
    }
    if (warnings.size() < MAX_WARNINGS) {
        warnings.push_back("bytes that are not UTF-8 were replaced by U+FFFD in " + fields);
    }
    return true;
}

bool MatchRecord::repairText() {
    // Rare, so done on the document: the warning names each field as the document does.
    json document = toJson();
    MatchRecord repaired;
    std::string error;
    if (!repairText(document) || !fromJson(document, id, repaired, error)) {
        // A record past the reader's bounds is kept as built: text() still writes it as
        // valid UTF-8, only without the warning.
        return false;
    }
    *this = std::move(repaired);
    return true;
}

std::optional<MatchEnd> MatchRecord::endNamed(const std::string& name) {
    for (MatchEnd e : {MatchEnd::Final, MatchEnd::Aborted, MatchEnd::ServerFailed}) {
        if (name == endName(e)) {
            return e;
        }
    }
    return std::nullopt;
}

std::string MatchRecord::summary() const {
    if (!result.final()) {
        return std::string(endName(result.end)) + ": " + result.reason;
    }
    std::string line;
    for (size_t s = 0; s < seats.size(); ++s) {
        const bool scored = s < result.scores.size() && result.scores[s];
        line += (s != 0 ? ", " : "") + seats[s].bot + ' ' +
                (scored ? std::to_string(*result.scores[s]) : std::string("disqualified"));
    }
    return line;
}

std::string MatchRecord::lineup() const {
    std::string names;
    for (const RecordSeat& seat : seats) {
        names += (names.empty() ? "" : ", ") + seat.bot;
    }
    return names;
}

bool MatchRecord::nobodysFault() const {
    return result.end == MatchEnd::ServerFailed ||
           (result.end == MatchEnd::Aborted && !result.silentSeat);
}
