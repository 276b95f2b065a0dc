#pragma once
// A league: every match its configurations have needed, in one database, and the claims of the
// arenas playing them. Safe to share between threads (one connection, one lock).

#include "BotRepository.h"
#include "LeagueConfig.h"
#include "LeagueLimit.h"
#include "MapRepository.h"
#include "MatchRecord.h"
#include "MatchRepository.h"
#include "RatingRepository.h"
#include "SqlDatabase.h"

#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

/// How far a league is: matches needed by the configuration, of them finished, and claimed.
struct LeagueProgress {
    size_t needed = 0;
    size_t done = 0;
    size_t claimed = 0;
    /// Matches added by the last schedule().
    size_t added = 0;
    /// About how many needed matches the league holds once planned in full: `needed` for a
    /// round robin; more for a sampled schedule, which plans a window at a time.
    size_t expected = 0;
    /// Bots of the configuration that got a new version in this schedule(), as "name (vN)".
    std::vector<std::string> changed;
    /// The limits that were in force until this schedule() changed the limit; empty when it
    /// did not. Their finished matches are kept apart (`kept` of them).
    std::vector<LeagueLimit> limitBefore;
    size_t kept = 0;
};

class League {
public:
    /// Opens (and makes or migrates) the database: an SQLite file or a PostgreSQL connection
    /// string. Null with the reason when it cannot.
    static std::unique_ptr<League> open(const std::string& database, std::string& error);

    // Planning and playing

    /// Makes the database hold what the configuration needs: its bots' current versions (a new
    /// command, or new content in the bot's own folder, is a new version), its maps (and
    /// openings), and every match they need that is not there yet. Matches no longer needed
    /// stay for history but leave play and standings. The bots entered by enter() count as the
    /// configuration's, after them; an entry named like a bot of the configuration is left
    /// out. A sampled schedule plans its next window of matches (SampledPlanner); a round
    /// robin over LeagueConfig::MAX_ROUND_ROBIN matches is refused.
    bool schedule(const LeagueConfig& config, LeagueProgress& progress);
    /// Enters a bot beside the configuration's, or changes an entered bot's command and folder:
    /// it belongs to the league's database, so every arena that plans the league (a site, a
    /// worker, another machine) plays it, from the next schedule() on.
    bool enter(const std::string& name, const std::string& command, const std::string& dir);
    /// Takes an entered bot out of the next plans; its matches stay for history.
    bool withdraw(const std::string& name);
    /// Withdraws every entered bot whose name `keep` does not hold (a site's team bots that
    /// were withdrawn or removed, also while the site was down).
    bool retainEntries(const std::set<std::string>& keep);
    bool progress(LeagueProgress& out);
    /// Claims the next needed match for `worker` for `leaseSeconds`; `found` is false when
    /// none is left to claim (all done, or all claimed under a live lease).
    bool claimNext(const std::string& worker, unsigned leaseSeconds, LeagueMatch& out, bool& found);
    bool renew(std::int64_t id, const std::string& worker, unsigned leaseSeconds, bool& held);
    bool release(std::int64_t id, const std::string& worker);
    /// Stores the record of a match `worker` holds; `stored` is false when the claim was lost
    /// (the result is then dropped).
    bool storeResult(std::int64_t id, const std::string& worker, const MatchRecord& record,
                     bool& stored);
    /// Adds a record played elsewhere (a tournament folder): its bots, map and match. False
    /// with the reason when the record is not usable; `added` is false when the league has
    /// that match already.
    bool importRecord(const nlohmann::json& record, bool& added);
    /// Gives bot `from` the name `to`, its versions and results kept. False with the reason when
    /// there is no bot `from`, `to` is taken, or `to` is not a valid bot name.
    bool rename(const std::string& from, const std::string& to);

    // Reading

    bool match(std::int64_t id, LeagueMatch& out, bool& found);
    /// The record document of a finished match.
    bool record(std::int64_t id, nlohmann::json& out, bool& found);
    bool versions(std::vector<BotVersion>& out);
    bool maps(std::vector<LeagueMap>& out);
    /// Every seat of every finished match, for the tables.
    bool finished(const std::function<void(const FinishedSeat&)>& each);
    /// Seats of the needed matches forfeited or left unplayed (MatchRepository::failures).
    bool failures(const std::function<void(const FailedSeat&)>& each);
    /// Makes the needed matches left unplayed (aborted) pending again; how many in `reopened`.
    bool reopenUnplayed(std::int64_t& reopened);
    bool unfinished(const std::function<void(std::int64_t, const std::string&, const std::string&,
                                             const std::string&)>& each);
    /// The limits in force: time (ms) and depth of the matches the configuration needs.
    bool limits(const std::function<void(int, int)>& each);
    /// The limits in force, whatever the view.
    bool limitsInForce(std::vector<LeagueLimit>& out);
    /// The earlier limits whose standings are kept apart, with their matches.
    bool keptLimits(std::vector<std::pair<LeagueLimit, size_t>>& out);
    /// From now on the reads for the tables (finished, unfinished, limits) show the standings
    /// kept under `limit` (the matches needed when it left force) or, with none, the league as
    /// it stands. Meant for a report's own League: it changes what every thread reads.
    void setView(std::optional<LeagueLimit> limit);
    std::optional<LeagueLimit> view() const;

    /// Stores the current ratings of a scope.
    bool snapshot(const std::string& scope, const std::vector<RatingEntry>& entries);

    /// Why the last call failed.
    std::string error() const;
    /// Whether the last failure was a lock or a time-out that may pass (SqlDatabase::busy).
    bool busy() const;
    /// Unix seconds.
    static std::int64_t now();

private:
    explicit League(std::unique_ptr<SqlDatabase> db);
    /// The content digest of a bot's folder, read once per League and folder.
    std::string digestOf(const LeagueConfig& config, const std::string& dir);
    bool syncBots(const LeagueConfig& config, std::vector<std::int64_t>& current,
                  std::vector<std::string>& changed);
    bool entered(const LeagueConfig& config, std::vector<TournamentConfig::Bot>& out);
    bool syncMaps(const LeagueConfig& config, std::vector<std::vector<struct PlanMap>>& rounds);
    bool planRoundRobin(const LeagueConfig& config, const std::vector<std::int64_t>& versions,
                        const std::vector<std::vector<PlanMap>>& rounds,
                        std::vector<PlannedMatch>& planned);
    bool planSampled(const LeagueConfig& config, const std::vector<std::int64_t>& versions,
                     const std::vector<std::vector<PlanMap>>& rounds,
                     std::vector<PlannedMatch>& planned, size_t& expected);
    bool syncMatches(const std::vector<PlannedMatch>& planned, LeagueProgress& progress);
    /// Keeps the standings of the limits leaving force apart; says which in `progress`.
    bool keepEarlierLimits(const LeagueConfig& config, LeagueProgress& progress);
    bool fail(const std::string& what);

    mutable std::mutex m_lock;
    std::unique_ptr<SqlDatabase> m_db;
    BotRepository m_bots;
    MapRepository m_maps;
    MatchRepository m_matches;
    RatingRepository m_ratings;
    std::string m_error;
    /// The last schedule's LeagueProgress::expected.
    size_t m_expected = 0;
    std::optional<LeagueLimit> m_view;
    std::map<std::string, std::string> m_digests;
};
