#pragma once
// Matches of a league: planned, claimed by one arena under a lease, finished with seats and
// their record document.

#include "LeagueLimit.h"
#include "MatchRecord.h"
#include "SqlDatabase.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

/// A match the configuration needs; its key names it for good (map, round, limit, versions
/// by seat), so that planning again finds it.
struct PlannedMatch {
    std::string key;
    std::int64_t mapId = 0;
    int round = 1;
    int timeMs = 0;
    int depth = 0;
    std::int64_t seed = 1;
    /// Version id of each seat, seat 1 first.
    std::vector<std::int64_t> versions;
};

/// A planned match as the database holds it.
struct LeagueMatch : PlannedMatch {
    std::int64_t id = 0;
    /// "pending", "claimed" or "done".
    std::string status;
    /// Whether the current configuration asks for it; a match no longer needed stays for
    /// history but is neither played nor counted in the standings.
    bool needed = true;
    /// Times it was claimed, this claim included (set by claimNext).
    int attempts = 0;
};

/// A needed match that did not count as a normal game, seat by seat: a forfeit (that seat's
/// `disqualified` says "did not start") or a match left unplayed (`end` is not final).
struct FailedSeat {
    std::int64_t matchId = 0;
    MatchEnd end = MatchEnd::Final;
    std::string reason;
    int seat = 0;
    std::string bot;
    std::string disqualified;
};

/// What planning needs to know of a match already in the database.
struct MatchState {
    std::int64_t id = 0;
    bool done = false;
    bool needed = false;
};

/// What one seat did in a finished match.
struct SeatResult {
    bool scored = false;
    int score = 0;
    int rank = 0;
    /// The server's reason, "" when not disqualified.
    std::string disqualified;
    int moves = 0;
    std::int64_t timeMsSum = 0;
    int timeMsMax = 0;
    /// The bot's CPU time in the match, -1 when the record does not give it.
    std::int64_t cpuMs = -1;
};

/// A finished match: how it ended and its record document.
struct MatchResult {
    MatchEnd end = MatchEnd::Final;
    std::string reason;
    /// Digest of the move list: equal digests on one start and line-up are one game.
    std::string movesDigest;
    double durationS = 0;
    std::vector<SeatResult> seats;
    std::string document;
};

/// One seat of a finished match, as the tables read them.
struct FinishedSeat {
    std::int64_t matchId = 0;
    std::int64_t mapId = 0;
    MatchEnd end = MatchEnd::Final;
    std::string movesDigest;
    int seat = 0;
    std::int64_t version = 0;
    bool needed = false;
    SeatResult result;
};

class MatchRepository {
public:
    explicit MatchRepository(SqlDatabase& db) : m_db(db) {}

    /// Every match's state by key.
    bool states(std::unordered_map<std::string, MatchState>& out);
    /// Adds planned matches with their seats (the caller holds a transaction).
    bool add(const std::vector<PlannedMatch>& matches);
    bool setNeeded(std::int64_t id, bool needed);
    /// Every match the league holds, by id, with whether it is done.
    bool all(std::vector<PlannedMatch>& out, std::vector<bool>& done);

    /// Claims the first needed pending match, or a claimed one whose lease ended before `now`, for
    /// `worker` until `until` (Unix seconds). `found` is false when none is left. Atomic: two
    /// workers never hold one match.
    bool claimNext(const std::string& worker, std::int64_t now, std::int64_t until,
                   LeagueMatch& out, bool& found);
    /// Claims the match of that key whatever its state (a record brought in from elsewhere).
    bool claimKey(const std::string& key, const std::string& worker, std::int64_t until,
                  LeagueMatch& out, bool& found);
    /// Extends a claim this worker still holds; `held` is false when it is gone.
    bool renew(std::int64_t id, const std::string& worker, std::int64_t until, bool& held);
    /// Gives a claimed match back (interrupted): pending again.
    bool release(std::int64_t id, const std::string& worker);
    /// Stores the result when `worker` still holds the claim (`stored`); otherwise the result
    /// is dropped, because another arena has taken the match over.
    bool store(std::int64_t id, const std::string& worker, std::int64_t now,
               const MatchResult& result, bool& stored);

    bool match(std::int64_t id, LeagueMatch& out, bool& found);
    bool document(std::int64_t id, std::string& out, bool& found);
    /// Reads of the tables (finished, unfinished, limits) count the matches kept under
    /// `limit` instead of the needed ones; none: the needed ones (the limit in force).
    void setView(std::optional<LeagueLimit> limit) { m_view = limit; }
    /// Keeps the finished needed matches of every limit but `inForce` apart as their limit's
    /// standings, and takes the limit in force out of those kept (its matches are needed
    /// again). `before` gets the limits that were in force and are no longer.
    bool keepEarlierLimits(const LeagueLimit& inForce, std::vector<LeagueLimit>& before);
    /// The limits whose matches are kept apart, with how many.
    bool keptLimits(const std::function<void(const LeagueLimit&, size_t)>& each);

    /// Every seat of every finished match, by match then seat; `needed` says whether it is
    /// counted (in the view, when one is set).
    bool finished(const std::function<void(const FinishedSeat&)>& each);
    /// Every seat of the needed matches that were forfeited or stay unplayed, by match.
    bool failures(const std::function<void(const FailedSeat&)>& each);
    /// Makes the needed matches that stay unplayed pending again, their results dropped.
    bool reopenUnplayed(std::int64_t& reopened);
    /// Needed finished matches that did not end normally: id, key, end and reason.
    bool unfinished(const std::function<void(std::int64_t, const std::string&, const std::string&,
                                             const std::string&)>& each);
    /// The limits (time in ms, depth; 0 for none) of the matches the configuration needs:
    /// the limits in force.
    bool limits(const std::function<void(int, int)>& each);
    /// The limits in force whatever the view.
    bool limitsInForce(std::vector<LeagueLimit>& out);

private:
    bool seatsOf(LeagueMatch& match);
    bool storeSeats(std::int64_t id, const MatchResult& result);
    /// The SQL condition (on matches as "m") of a counted match, and its values.
    std::string counted(std::vector<SqlValue>& values) const;

    SqlDatabase& m_db;
    std::optional<LeagueLimit> m_view;
};
