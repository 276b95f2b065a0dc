#include "ServeCommand.h"

#include "Arena.h"
#include "ConfigWatch.h"
#include "HttpServer.h"
#include "Jail.h"
#include "LeagueConfig.h"
#include "LeagueConfigChanges.h"
#include "LeagueRunner.h"
#include "MatchRunner.h"
#include "PathArgument.h"
#include "RunOptions.h"
#include "ServeApi.h"
#include "ServeLeague.h"
#include "SubmissionQueue.h"
#include "TeamStore.h"
#include "TeamToken.h"
#include "knob/SwitchArgument.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

const Logging::Logger& logger = Arena::logger();

constexpr int stopCheckMs = 100;
/// The roster of team bots and the configuration file are looked at every this many stop
/// checks (a second).
constexpr unsigned rosterCheckTicks = 10;
/// A form's boundaries and field headers around the archive it carries.
constexpr size_t formFramingBytes = size_t{64} << 10;

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

/// The configured bot in a team's name space ("TEAM.BOT" is that team's alone), if any.
std::string collision(const LeagueConfig& config, TeamStore& store, std::string& team) {
    for (const TournamentConfig::Bot& bot : config.bots) {
        team = store.namespaceOf(bot.name);
        if (!team.empty()) {
            return bot.name;
        }
    }
    return "";
}

std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (!item.empty()) {
            out.push_back(item);
        }
    }
    return out;
}

const char* const teamUsage =
    "unknown command; try: arena serve LEAGUE team add|token|revoke|remove NAME, "
    "arena serve LEAGUE team list, or arena serve LEAGUE team withdraw TEAM.BOT";

} // namespace

bool ServeCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> league("The league's configuration, or its folder "
                                               "(holding league.json)",
                                               m_league);
    league.valuename("league");
    PathArgument::bound(league, "league", PathArgument::Kind::Any);
    knob::VariableArgument<std::string> what("'team' for the teams' commands", m_what);
    what.valuename("team");
    knob::VariableArgument<std::string> action(
        "add NAME: add a team and print its token; list: the teams; token NAME: a new token; "
        "revoke NAME: no token works; remove NAME: the team and its bots leave; withdraw "
        "TEAM.BOT: the bot leaves the league",
        m_action);
    action.valuename("action");
    knob::VariableArgument<std::string> name("The team's name, or TEAM.BOT", m_name);
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
    addSiteOptions(parser);
    run.addTo(parser);
    return Tool::parseOptions(parser);
}

void ServeCommand::addSiteOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> hosts(
        "Host names the site answers for, comma-separated ('*' for any); addresses and "
        "localhost always",
        "allowed-hosts", m_allowedHosts);
    hosts.valuename("names");
    knob::SwitchArgument proxy("Behind a reverse proxy on this machine: the client's address "
                               "is the last of X-Forwarded-For, connections are not capped "
                               "per address",
                               "behind-proxy", m_behindProxy);
    knob::VariableArgument<unsigned> connections(
        "Connections one address may hold open at once (default 8; 0 for no cap)",
        "connections-per-address", m_connectionsPerAddress);
    connections.valuename("n");
    knob::VariableArgument<unsigned> bots("Bots one team may have in the league (default 3)",
                                          "max-bots", m_maxBots);
    bots.valuename("n");
    knob::VariableArgument<unsigned> uploads("Uploads one team may make an hour (default 12)",
                                             "uploads-per-hour", m_uploadsPerHour);
    uploads.valuename("n");
    knob::VariableArgument<unsigned> queued(
        "Uploads of one team that may wait for their build (default 2)", "queued-builds",
        m_queuedBuilds);
    queued.valuename("n");
    parser.add(hosts);
    parser.add(proxy);
    parser.add(connections);
    parser.add(bots);
    parser.add(uploads);
    parser.add(queued);
}

bool ServeCommand::doRun() {
    if (!TeamToken::init()) {
        LOG(logger, lumber::ERR) << "libsodium cannot start (no source of randomness)";
        return false;
    }
    if (m_what.empty()) {
        const bool ok = serve();
        if (m_served) {
            // After the site and its players have stopped: the matches under way were given
            // back, and the same command plays them.
            LOG(logger, lumber::INFO) << "Stopped; the matches under way were given back. Resume "
                                      << "with: " << resumeCommand();
        }
        return ok;
    }
    if (m_what != "team") {
        LOG(logger, lumber::ERR) << teamUsage;
        return false;
    }
    return teamCommand();
}

bool ServeCommand::teamCommand() {
    const bool named = !m_name.empty();
    if (!(m_action == "list" && !named) &&
        !(named && (m_action == "add" || m_action == "token" || m_action == "revoke" ||
                    m_action == "remove" || m_action == "withdraw"))) {
        LOG(logger, lumber::ERR) << teamUsage;
        return false;
    }
    TeamStore store;
    LeagueConfig config;
    if (!openStore(m_league, config, store)) {
        return false;
    }
    std::string error;
    if (m_action == "list") {
        listTeams(store);
        return true;
    }
    if (m_action == "add") {
        return addTeam(store, config);
    }
    if (m_action == "token") {
        return newToken(store);
    }
    const bool done = m_action == "revoke"   ? store.setToken(m_name, "", error)
                      : m_action == "remove" ? store.removeTeam(m_name, error)
                                             : store.withdraw(m_name, error);
    if (!done) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    std::cout << (m_action == "revoke" ? "Team " + m_name +
                                             "'s token is revoked: no token "
                                             "works until 'team token " +
                                             m_name + "' makes one."
                  : m_action == "remove" ? "Team " + m_name +
                                               " is removed: its bots left the "
                                               "league; its history stays."
                                         : m_name + " is withdrawn: it left the league's "
                                                    "standings until its next upload builds; its "
                                                    "history stays.")
              << '\n';
    return true;
}

bool ServeCommand::addTeam(TeamStore& store, const LeagueConfig& config) {
    for (const TournamentConfig::Bot& bot : config.bots) {
        if (bot.name.rfind(m_name + ".", 0) == 0) {
            LOG(logger, lumber::ERR) << "the league's bot " << bot.name << " is in the name "
                                     << "space of a team named " << m_name << " (its bots are "
                                     << m_name << ".BOT): rename the bot or choose another name";
            return false;
        }
    }
    std::string error;
    const std::string token = TeamToken::generate();
    if (!store.addTeam(m_name, TeamToken::hash(token), error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    std::cout << "Team " << m_name << " added. Its token, shown only this once:\n" << token << '\n';
    return true;
}

bool ServeCommand::newToken(TeamStore& store) {
    std::string error;
    const std::string token = TeamToken::generate();
    if (!store.setToken(m_name, TeamToken::hash(token), error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    std::cout << "Team " << m_name << " has a new token (the old one no longer works), "
              << "shown only this once:\n"
              << token << '\n';
    return true;
}

void ServeCommand::listTeams(TeamStore& store) {
    const std::vector<TeamSummary> teams = store.teams();
    if (teams.empty()) {
        std::cout << "No teams yet; add one with: arena serve " << m_league << " team add NAME\n";
        return;
    }
    std::cout << "team                              token    bots  uploads  last upload\n";
    for (const TeamSummary& team : teams) {
        std::string name = team.name;
        name.resize(std::max<size_t>(name.size(), 32), ' ');
        std::string token = team.hasToken ? "active" : "revoked";
        token.resize(8, ' ');
        std::cout << name << "  " << token << ' ' << std::setw(5) << team.bots << "  "
                  << std::setw(7) << team.uploads << "  "
                  << (team.lastUpload.empty() ? "-" : team.lastUpload) << '\n';
    }
}

bool ServeCommand::prepare(const LeagueConfig& config, TeamStore& store) {
    std::string team;
    const std::string bot = collision(config, store, team);
    if (!bot.empty()) {
        LOG(logger, lumber::ERR) << "the league's bot " << bot << " is in team " << team
                                 << "'s name space (its bots are " << team
                                 << ".BOT): rename the bot in the configuration";
        return false;
    }
    // A site stopped while it unpacked an upload left a row without a finished folder, or a
    // folder without a row: both go.
    store.abandonedUploads();
    const std::string root = (std::filesystem::path(config.folder) / "submissions").string();
    const size_t removed = Submission::removeUnowned(root, store.folders());
    if (removed > 0) {
        LOG(logger, lumber::INFO) << "removed " << removed << " unpacked folder"
                                  << (removed == 1 ? "" : "s")
                                  << " that no submission owns (left by a stopped site)";
    }
    return true;
}

bool ServeCommand::serve() {
    TeamStore store;
    LeagueConfig config;
    if (!openStore(m_league, config, store) || !prepare(config, store)) {
        return false;
    }
    // From the configuration just read on, so that an edit made while the site starts counts.
    ConfigWatch configFile(config.file);
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
    std::mutex scheduling; // one plan at a time: uploads, the roster, edits of the configuration
    const auto reschedule = [&] {
        std::lock_guard<std::mutex> hold(scheduling);
        league.schedule();
    };
    // A version that builds joins the league at once.
    SubmissionQueue queue(
        store,
        SubmissionBuild(buildLimits,
                        config.sandbox ? std::optional<JailLimits>(config.limits) : std::nullopt),
        [&](const SubmissionRow&) { reschedule(); });
    const Submission::Limits limits;
    ServeApi api(league, store, queue, limits,
                 TeamLimits{m_maxBots, m_uploadsPerHour, m_queuedBuilds});
    HttpLimits httpLimits;
    httpLimits.bodyBytes = limits.archiveBytes + formFramingBytes;
    httpLimits.allowedHosts = splitList(m_allowedHosts);
    httpLimits.behindProxy = m_behindProxy;
    httpLimits.connectionsPerAddress = m_connectionsPerAddress;
    HttpServer server(api.routes(), httpLimits);
    if (!server.bind(m_listen, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    Arena::catchInterrupts();
    queue.start();
    league.start(m_jobs, Arena::serverProgram(m_server), client);
    std::atomic<bool> done{false};
    ConfigWatch::catchHangups();
    std::thread watcher([&] {
        watch(done, configFile, league, store, client, scheduling);
        server.stop();
    });
    // The port line is what scripts wait for; it names the real port when 0 was asked for.
    std::cout << "Serving " << m_league << " on http://" << m_listen.substr(0, m_listen.rfind(':'))
              << ':' << server.port() << "/" << std::endl;
    server.serve();
    done = true;
    watcher.join();
    m_served = true;
    return true;
}

void ServeCommand::watch(const std::atomic<bool>& done, ConfigWatch& configFile,
                         ServeLeague& league, TeamStore& store, const std::string& client,
                         std::mutex& scheduling) {
    int64_t roster = store.rosterStamp();
    for (unsigned tick = 1; !done && !Arena::stopRequested(); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(stopCheckMs));
        if (tick % rosterCheckTicks != 0) {
            continue;
        }
        // The organiser's team commands run in processes of their own: a withdrawn bot or a
        // removed team leaves the league when the roster changes.
        if (store.rosterStamp() != roster) {
            roster = store.rosterStamp();
            std::lock_guard<std::mutex> hold(scheduling);
            league.schedule();
        }
        if (configFile.due()) {
            std::lock_guard<std::mutex> hold(scheduling);
            reload(league, store, client);
        }
    }
}

bool ServeCommand::reload(ServeLeague& league, TeamStore& store, const std::string& client) {
    const LeagueConfig current = league.config();
    const std::string name = std::filesystem::path(current.file).filename().string();
    const std::string keep = "; arena serve keeps the configuration it had";
    LeagueConfig next;
    std::string error;
    std::string team;
    if (!next.loadLeague(current.file, error)) {
        LOG(logger, lumber::ERR) << error << keep;
        return false;
    }
    if (next.database != current.database) {
        LOG(logger, lumber::ERR) << name << ": the database cannot change while arena serve runs "
                                 << "(stop it and start it again to use the new one)" << keep;
        return false;
    }
    const std::string bot = collision(next, store, team);
    if (!bot.empty()) {
        LOG(logger, lumber::ERR) << name << ": the bot " << bot << " is in team " << team
                                 << "'s name space" << keep;
        return false;
    }
    if (!jailReady(next, client)) {
        LOG(logger, lumber::ERR) << name << ": its bots cannot be jailed as they are" << keep;
        return false;
    }
    const std::vector<std::string> changes = LeagueConfigChanges::between(current, next);
    if (changes.empty()) {
        LOG(logger, lumber::INFO) << name << " read again: nothing changed";
        return true;
    }
    for (const std::string& change : changes) {
        LOG(logger, lumber::INFO) << name << ": " << change;
    }
    if (!league.reconfigure(next)) {
        LOG(logger, lumber::ERR) << name << ": the edit cannot be planned" << keep;
        return false;
    }
    return true;
}

std::string ServeCommand::resumeCommand() const {
    // The words as given, each quoted for a POSIX shell when it needs it.
    std::string line = "arena serve";
    for (int i = 1; i < m_argc; ++i) {
        const std::string word = m_argv[i];
        const bool plain = !word.empty() &&
                           word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTU"
                                                  "VWXYZ0123456789_-./:=,@+%") == std::string::npos;
        std::string quoted = "'";
        for (const char c : word) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        line += " " + (plain ? word : quoted + "'");
    }
    return line;
}
