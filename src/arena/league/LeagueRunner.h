#pragma once
// Plays a league's needed matches: claims one at a time per slot, keeps the claims alive while
// the matches run, and stores each result.

#include "League.h"
#include "LeagueConfig.h"
#include "MatchRecord.h"
#include "MatchSlots.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class LeagueRunner {
public:
    LeagueRunner(League& league, const LeagueConfig& config);

    /// Plays until no needed match is left unplayed, up to `concurrency` at once (0: one per
    /// usable core; more than the usable cores is refused unless oversubscribed); a sampled
    /// league plans its next window whenever the last one is all claimed. A match
    /// claimed by another arena is waited for, and taken over when its lease ends. False when
    /// refused, interrupted or when the database fails.
    bool run(unsigned concurrency);

    /// Slots claim no more matches: run() returns once the matches under way have ended (a
    /// site whose configuration changed plays on with a runner of the new one). Thread-safe.
    void finish() { m_finishing = true; }

    /// Whether the league's bots can be jailed here, when it jails them, and the jail's user
    /// can read what each bot of the configuration needs; false with one line saying why.
    static bool jailReady(const LeagueConfig& config, const std::string& clientProgram,
                          std::string& error);

    std::string serverProgram;
    std::string clientProgram;
    /// Called every `standingsEverySeconds` while playing, and once at the end.
    std::function<void()> onStandings;
    unsigned standingsEverySeconds = 60;
    /// Matches may share cores (--oversubscribe).
    bool oversubscribe = false;

private:
    void slot(const MatchSlot& slot);
    bool playOne(const std::string& worker, const LeagueMatch& match, const MatchSlot& slot);
    bool setupOf(const LeagueMatch& match, struct MatchSetup& setup, std::string& mapName);
    /// How a version plays: its command and folder, jailed with its limits and variables.
    class BotCommand botOf(const BotVersion& version) const;
    /// Stores a played match's result. While the database is busy (another writer's lock held
    /// past its time-out) the record waits in the match's log folder and the store is tried
    /// again every second, the claim kept alive meanwhile; false on any other failure or when
    /// the run is stopped (the record then stays in that folder).
    bool storeWhenFree(const LeagueMatch& match, const std::string& worker,
                       const std::string& logDir, const MatchRecord& record, bool& stored);
    /// After a failed call: true, having waited a second, when the database was busy and the
    /// run goes on; the first wait of a slot is said once.
    bool waitOutBusy(const std::string& doing, bool& said);
    void keepClaims();
    void reportDone(const std::string& mapName, const MatchRecord& record);
    /// A sampled league's next window, once the last is claimed: whether it added any.
    bool planMore();
    bool waitForOthers();

    League& m_league;
    const LeagueConfig& m_config;
    std::mutex m_lock;
    /// Claims held now: match id to worker.
    std::map<std::int64_t, std::string> m_held;
    bool m_finished = false;
    std::atomic<bool> m_finishing{false};
    bool m_failed = false;
    size_t m_played = 0;
    double m_started = 0;
    double m_lastStandings = 0;
};
