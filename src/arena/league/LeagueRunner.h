#pragma once
// Plays a league's needed matches: claims one at a time per slot, keeps the claims alive while
// the matches run, and stores each result.

#include "League.h"
#include "LeagueConfig.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

class LeagueRunner {
public:
    LeagueRunner(League& league, const LeagueConfig& config);

    /// Plays until no needed match is left unplayed, up to `concurrency` at once (0: one per
    /// usable core; more than the usable cores is refused unless oversubscribed). A match
    /// claimed by another arena is waited for, and taken over when its lease ends. False when
    /// refused, interrupted or when the database fails.
    bool run(unsigned concurrency);

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
    /// Resolves a concurrency of 0 to the usable cores; false, said, when it is too many.
    bool fitsCores(unsigned& concurrency) const;
    void slot(unsigned index, unsigned basePort);
    bool playOne(const std::string& worker, const LeagueMatch& match, unsigned basePort);
    bool setupOf(const LeagueMatch& match, struct MatchSetup& setup);
    /// How a version plays: its command and folder, jailed with its limits and variables.
    class BotCommand botOf(const BotVersion& version) const;
    void keepClaims();
    void reportDone(const LeagueMatch& match, const nlohmann::json& record);
    bool waitForOthers();

    League& m_league;
    const LeagueConfig& m_config;
    std::mutex m_lock;
    /// Claims held now: match id to worker.
    std::map<std::int64_t, std::string> m_held;
    bool m_finished = false;
    bool m_failed = false;
    size_t m_played = 0;
    double m_started = 0;
    double m_lastStandings = 0;
};
