#pragma once
// "arena serve": a league's web site, and the organiser's commands for its teams.

#include "HttpServer.h"
#include "TeamStore.h"
#include "Tool.h"

#include <atomic>
#include <mutex>
#include <string>

class LeagueConfig;

/// "arena serve LEAGUE [options]" plays the league and serves it until Ctrl-C;
/// "arena serve LEAGUE team add|list|token|revoke|remove|withdraw [NAME]" manages its teams:
/// add a team and print its token once, list the teams, make a new token (the old one stops
/// working), revoke the token, remove a team (its bots leave the league, its history stays),
/// withdraw a team's bot ("TEAM.BOT") from the league until its next upload builds.
class ServeCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    void addSiteOptions(knob::ArgumentParser& parser);
    bool teamCommand();
    bool addTeam(TeamStore& store, const LeagueConfig& config);
    bool newToken(TeamStore& store);
    void listTeams(TeamStore& store);
    bool serve();
    /// Checks the configuration against the teams and clears what stopped sites left.
    bool prepare(const LeagueConfig& config, TeamStore& store);
    /// Until `done` or a stop: every second, plans again when the teams' roster changed, and
    /// reloads the configuration when its file changed or SIGHUP came.
    void watch(const std::atomic<bool>& done, class ConfigWatch& configFile,
               class ServeLeague& league, TeamStore& store, const std::string& client,
               std::mutex& scheduling);
    /// Reads the configuration again and, when it is sound, plays on under it, one line per
    /// change said; otherwise says why and keeps the one in use. The caller holds the lock of
    /// planning.
    bool reload(ServeLeague& league, TeamStore& store, const std::string& client);
    /// The command line that started this site, for a shell.
    std::string resumeCommand() const;

    std::string m_league;
    /// The site ran and was stopped (not refused at its start).
    bool m_served = false;
    std::string m_what;
    std::string m_action;
    std::string m_name;
    std::string m_listen = "127.0.0.1:8080";
    unsigned m_buildSeconds = 300;
    unsigned m_jobs = 0;
    std::string m_server;
    std::string m_client;
    std::string m_allowedHosts;
    bool m_behindProxy = false;
    unsigned m_connectionsPerAddress = static_cast<unsigned>(HttpLimits{}.connectionsPerAddress);
    unsigned m_maxBots = static_cast<unsigned>(TeamLimits{}.bots);
    unsigned m_uploadsPerHour = static_cast<unsigned>(TeamLimits{}.uploadsPerHour);
    unsigned m_queuedBuilds = static_cast<unsigned>(TeamLimits{}.queuedBuilds);
};
