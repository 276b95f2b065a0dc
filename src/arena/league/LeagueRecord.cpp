#include "LeagueRecord.h"

#include "MapRepository.h"
#include "MatchRecord.h"

#include <algorithm>
#include <filesystem>

using json = nlohmann::json;

namespace {

void readSeats(const MatchRecord& r, LeagueRecord& out) {
    for (size_t s = 0; s < r.seats.size(); ++s) {
        out.bots.emplace_back(r.seats[s].bot, r.seats[s].command);
        SeatResult seat;
        if (r.result.final() && s < r.result.scores.size() && r.result.scores[s]) {
            seat.scored = true;
            seat.score = static_cast<int>(*r.result.scores[s]);
        }
        seat.rank =
            r.result.final() && s < r.result.ranks.size() ? static_cast<int>(r.result.ranks[s]) : 0;
        // Checked by the record's reader: at most the largest signed 64-bit number.
        seat.cpuMs = r.seats[s].cpuMs ? static_cast<std::int64_t>(*r.seats[s].cpuMs) : -1;
        out.result.seats.push_back(seat);
    }
}

/// Per seat: its disqualification, moves and time; and the digest of the whole move list.
void readMoves(const MatchRecord& r, LeagueRecord& out) {
    const size_t k = out.result.seats.size();
    for (const RecordDisqualification& d : r.disqualifications) {
        if (d.seat >= 1 && d.seat <= k) {
            out.result.seats[d.seat - 1].disqualified = d.reason;
        }
    }
    std::string moves;
    for (const RecordMove& m : r.moves) {
        moves += std::to_string(m.seat) + ':' + std::to_string(m.x) + ',' + std::to_string(m.y) +
                 ',' + std::to_string(m.choice) + ';';
        if (m.seat >= 1 && m.seat <= k) {
            SeatResult& s = out.result.seats[m.seat - 1];
            const int t = static_cast<int>(m.timeMs.value_or(0));
            ++s.moves;
            s.timeMsSum += t;
            s.timeMsMax = std::max(s.timeMsMax, t);
        }
    }
    out.result.movesDigest = MapRepository::digest(moves);
}

/// A match aborted by a seat that had not moved yet (it did not start, never connected, or
/// failed before its first move) is that seat's loss: it places last, disqualified "did not
/// start", and the others share the first place. The match counts as played.
void readForfeit(const MatchRecord& r, LeagueRecord& out) {
    const unsigned k = r.result.silentSeat.value_or(0);
    std::vector<SeatResult>& seats = out.result.seats;
    if (r.result.end != MatchEnd::Aborted || k < 1 || k > seats.size() || seats[k - 1].moves > 0) {
        return;
    }
    for (SeatResult& seat : seats) {
        seat.rank = 1;
    }
    seats[k - 1].rank = static_cast<int>(seats.size());
    seats[k - 1].disqualified = std::string(LeagueRecord::DID_NOT_START) + ": " + r.result.reason;
    out.result.end = MatchEnd::Final;
    out.forfeit = k;
}

} // namespace

bool LeagueRecord::read(const json& document, LeagueRecord& out, std::string& error) {
    out = LeagueRecord();
    MatchRecord r;
    return MatchRecord::fromJson(document, "record", r, error) && read(r, out, error);
}

bool LeagueRecord::read(const MatchRecord& r, LeagueRecord& out, std::string& error) {
    out = LeagueRecord();
    if (r.seats.empty() || r.seats.size() > MAX_SEATS || r.moves.size() > MAX_MOVES) {
        error = "a league keeps matches of 1 to " + std::to_string(MAX_SEATS) + " seats and " +
                "at most " + std::to_string(MAX_MOVES) + " moves";
        return false;
    }
    readSeats(r, out);
    readMoves(r, out);
    out.result.end = r.result.end;
    out.result.reason = r.result.reason;
    readForfeit(r, out);
    out.result.durationS = r.durationS;
    out.result.document = r.text();
    out.mapText = r.map.text;
    out.mapName = std::filesystem::path(r.map.file).stem().string();
    out.timeMs = static_cast<int>(r.limits.timeMs.value_or(0));
    out.depth = static_cast<int>(r.limits.depth.value_or(0));
    out.round = static_cast<int>(std::max(1u, r.round.value_or(1)));
    if (out.mapText.empty()) {
        error = "a record without its map";
        return false;
    }
    return true;
}
