#include "ServeCommand.h"

#include "Arena.h"
#include "HttpServer.h"
#include "Jail.h"
#include "LeagueConfig.h"
#include "LeagueRunner.h"
#include "MatchRunner.h"
#include "RunOptions.h"
#include "ServeApi.h"
#include "ServeLeague.h"
#include "SubmissionQueue.h"
#include "TeamStore.h"
#include "TeamToken.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

namespace {

const Logging::Logger& logger = Arena::logger();

constexpr int stopCheckMs = 100;

bool openStore(const std::string& league, LeagueConfig& config, TeamStore& store) {
    std::string error;
    if (!config.loadLeague(league, error) || !store.open(config.database, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    return true;
}

/// The teams' bots are built and played in the league's folder: the jail's user must reach it.
bool jailReady(const LeagueConfig& config, const std::string& client) {
    std::string error;
    std::string blocked;
    if (!LeagueRunner::jailReady(config, client, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    if (config.sandbox && !Jail::readable(config.folder, blocked)) {
        LOG(logger, lumber::ERR) << "the jail's user (uid " << Jail::jailUid()
                                 << ") cannot read the league's folder " << config.folder << " ("
                                 << blocked << "), where the teams' bots are built and run; make "
                                 << "it readable, or run them unjailed (\"sandbox\": false)";
        return false;
    }
    return true;
}

} // namespace

bool ServeCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> league("The league's configuration, or its folder "
                                               "(holding league.json)",
                                               m_league);
    league.valuename("league");
    knob::VariableArgument<std::string> what("'team' for the teams' commands", m_what);
    what.valuename("team");
    knob::VariableArgument<std::string> action("'add': add a team and print its token", m_action);
    action.valuename("add");
    knob::VariableArgument<std::string> name("The team's name", m_name);
    name.valuename("name");
    knob::VariableArgument<std::string> listen(
        "Answer on this address and port (default 127.0.0.1:8080; "
        "port 0 for any free one)",
        "listen", m_listen);
    listen.valuename("addr:port");
    knob::VariableArgument<unsigned> buildSeconds(
        "Stop a submission's build after this many seconds "
        "(default 300)",
        "build-time", m_buildSeconds);
    buildSeconds.valuename("seconds");
    parser.add(+league);
    parser.add(what);
    parser.add(action);
    parser.add(name);
    parser.add(listen);
    RunOptions run(&m_jobs, m_server, m_client);
    parser.add(buildSeconds);
    run.addTo(parser);
    return Tool::parseOptions(parser);
}

bool ServeCommand::doRun() {
    if (!TeamToken::init()) {
        LOG(logger, lumber::ERR) << "libsodium cannot start (no source of randomness)";
        return false;
    }
    if (m_what.empty()) {
        return serve();
    }
    if (m_what == "team" && m_action == "add" && !m_name.empty()) {
        return addTeam(m_name);
    }
    LOG(logger, lumber::ERR) << "unknown command; try: arena serve LEAGUE team add NAME";
    return false;
}

bool ServeCommand::addTeam(const std::string& name) {
    TeamStore store;
    LeagueConfig config;
    if (!openStore(m_league, config, store)) {
        return false;
    }
    std::string error;
    const std::string token = TeamToken::generate();
    if (!store.addTeam(name, TeamToken::hash(token), error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    std::cout << "Team " << name << " added. Its token, shown only this once:\n" << token << '\n';
    return true;
}

bool ServeCommand::serve() {
    TeamStore store;
    LeagueConfig config;
    if (!openStore(m_league, config, store)) {
        return false;
    }
    std::string error;
    ServeLeague league(config, store);
    if (!league.open(error) || !league.schedule()) {
        LOG(logger, lumber::ERR) << (error.empty() ? league.league().error() : error);
        return false;
    }
    const std::string client = Arena::clientProgram(m_client);
    if (!jailReady(config, client)) {
        return false;
    }
    SubmissionBuild::Limits buildLimits;
    buildLimits.seconds = static_cast<int>(m_buildSeconds);
    // A version that builds joins the league at once.
    SubmissionQueue queue(
        store,
        SubmissionBuild(buildLimits,
                        config.sandbox ? std::optional<JailLimits>(config.limits) : std::nullopt),
        [&](const SubmissionRow&) { league.schedule(); });
    const Submission::Limits limits;
    ServeApi api(league, store, queue, limits);
    HttpServer server(api.routes(), limits.archiveBytes);
    if (!server.bind(m_listen, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    Arena::catchInterrupts();
    queue.start();
    const unsigned jobs = m_jobs != 0 ? m_jobs : config.concurrency;
    league.start(jobs, Arena::serverProgram(m_server), client);
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done && !Arena::stopRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(stopCheckMs));
        }
        server.stop();
    });
    // The port line is what scripts wait for; it names the real port when 0 was asked for.
    std::cout << "Serving " << m_league << " on http://" << m_listen.substr(0, m_listen.rfind(':'))
              << ':' << server.port() << "/" << std::endl;
    server.serve();
    done = true;
    watcher.join();
    return true;
}
