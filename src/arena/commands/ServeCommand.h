#pragma once
// "arena serve": a league's web site, and the organiser's commands for its teams.

#include "Tool.h"

#include <string>

/// "arena serve LEAGUE [--listen ADDR:PORT]" plays the league and serves it until Ctrl-C;
/// "arena serve LEAGUE team add NAME" adds a team and prints its token, once.
class ServeCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    bool addTeam(const std::string& name);
    bool serve();

    std::string m_league;
    std::string m_what;
    std::string m_action;
    std::string m_name;
    std::string m_listen = "127.0.0.1:8080";
    unsigned m_buildSeconds = 300;
    unsigned m_jobs = 0;
    std::string m_server;
    std::string m_client;
};
