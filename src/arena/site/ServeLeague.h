#pragma once
// The league behind the web site: played on threads of its own, its tables kept ready.

#include "League.h"
#include "LeagueConfig.h"
#include "TeamStore.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

/// Runs a league as "arena league" does (claims, leases, its concurrency), with the teams'
/// built bots added to the configuration's, and keeps its tables computed: a request never
/// waits for the ratings' fit, it reads the last tables, recomputed when a match has ended.
class ServeLeague {
public:
    ServeLeague(LeagueConfig config, TeamStore& store);
    /// Stops playing (the matches under way end first) and joins the threads.
    ~ServeLeague();
    ServeLeague(const ServeLeague&) = delete;
    ServeLeague& operator=(const ServeLeague&) = delete;

    /// Opens the league's database; false with the reason.
    bool open(std::string& error);
    /// Schedules what the configuration and the teams' bots need, then plays on
    /// `concurrency` slots (0: the configuration's) and keeps the tables fresh until stopped.
    void start(unsigned concurrency, std::string serverProgram, std::string clientProgram);
    /// Plays on under `next` (an edited configuration of the same league and database): plans
    /// what it needs, then the matches under way end and play goes on with it. When planning
    /// fails (said in the log) the configuration in use stays and nothing changes: false.
    /// Not to run beside schedule().
    bool reconfigure(const LeagueConfig& next);

    /// Makes the latest built version of every team's bot a current bot of the league and plans
    /// its matches; play starts on them at once. False when the database fails.
    bool schedule();

    /// The tables as JSON text ("reversi-league-1" plus "progress"), and a tag that changes
    /// whenever they do.
    std::pair<std::shared_ptr<const std::string>, std::string> tables();
    /// A bot's versions, standings rows, latest matches and disqualifications; null when the
    /// league has no such bot.
    nlohmann::json bot(const std::string& name);
    /// A finished match's record as the site shows it: the map named by its name in the
    /// league, never by the path of the organiser's copy it was played from, and the jails'
    /// folders relative to the league's folder (or by their last name when outside it).
    /// False when the database fails; `found` is false when the match has no record yet.
    bool record(std::int64_t id, nlohmann::json& out, bool& found);
    League& league() { return *m_league; }
    /// The configuration in use (a copy: an edit may replace it meanwhile).
    LeagueConfig config() const;

    /// The name a team's bot plays under: "TEAM.BOT".
    static std::string botName(const std::string& team, const std::string& bot);

    /// Computes the tables again when a match has ended or started since they were last
    /// computed (the tables' thread calls it every half second once started).
    void refresh();

private:
    void play(unsigned concurrency);
    /// The bot's name of every version and the name of every map, by id.
    void namesById(std::map<std::int64_t, std::string>& bots,
                   std::map<std::int64_t, std::string>& maps);
    void keepTablesFresh();
    /// The needed matches not yet played, running ones first, at most `maxQueue`.
    nlohmann::json queue();

    std::shared_ptr<const LeagueConfig> configNow() const;
    bool scheduleWith(const LeagueConfig& config);

    /// Replaced whole by reconfigure(); read through configNow().
    std::shared_ptr<const LeagueConfig> m_config;
    TeamStore& m_store;
    std::unique_ptr<League> m_league;
    /// A connection of its own for the list of waiting matches, which the facade does not give.
    std::unique_ptr<SqlDatabase> m_reader;
    std::string m_serverProgram;
    std::string m_clientProgram;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    /// The runner playing now, if any, so that reconfigure() can end its pass.
    class LeagueRunner* m_runner = nullptr;
    bool m_newWork = false;
    std::atomic<bool> m_stopping{false};
    std::shared_ptr<const std::string> m_tables;
    std::string m_tag;
    nlohmann::json m_tablesJson;
    std::size_t m_lastDone = static_cast<std::size_t>(-1);
    std::size_t m_lastClaimed = 0;
    std::uint64_t m_generation = 0;

    std::thread m_player;
    std::thread m_tabler;
};
