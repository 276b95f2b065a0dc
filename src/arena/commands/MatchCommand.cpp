#include "MatchCommand.h"

#include "Arena.h"
#include "BotList.h"
#include "Jail.h"
#include "LiveView.h"
#include "Logging.h"
#include "Map.h"
#include "MapFile.h"
#include "MatchRunner.h"
#include "PathArgument.h"
#include "RecordsFolder.h"
#include "RunOptions.h"
#include "ServerFacts.h"
#include "knob/VariableArgument.h"

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <unistd.h>

namespace {

const Logging::Logger& logger = Arena::logger();

/// The arena's live view of the match on standard output.
std::unique_ptr<LiveView> liveView(const Map& map, const MatchSetup& setup) {
    std::ostringstream mapText;
    if (map.getPlayers() != 0) {
        mapText << map;
    }
    std::vector<std::string> names;
    for (const BotCommand& bot : setup.bots) {
        names.push_back(bot.name());
    }
    return std::make_unique<LiveView>(std::cout, LiveView::terminalColumns(STDOUT_FILENO),
                                      mapText.str(), names, setup.timeMs);
}

} // namespace

void MatchCommand::checkTimeLimit(double seconds) {
    if (!(seconds >= ServerFacts::MIN_TIME_SECONDS && seconds < 4294967.0)) {
        throw knob::exception(ServerFacts::TIME_TOO_SHORT);
    }
}

void MatchCommand::addLimit(const std::string& given) {
    const size_t eq = given.find('=');
    const std::string digits = eq == std::string::npos ? "" : given.substr(eq + 1);
    std::string error;
    // Twenty digits or more may not fit 64 bits: such a number goes on as the text it was,
    // which the limits refuse naming it.
    const bool whole =
        !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
    const nlohmann::json value =
        whole && digits.size() < 20 ? nlohmann::json(std::stoull(digits)) : nlohmann::json(digits);
    if (!whole || !m_limits.update({{given.substr(0, eq), value}}, error)) {
        throw knob::exception(error.empty() ? "Please give a limit as key=number." : error);
    }
}

bool MatchCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> map("The map file", m_map);
    map.valuename("mapfile");
    PathArgument::bound(map, "mapfile", PathArgument::Kind::Any);
    std::string bot;
    knob::VariableArgument<std::string> bots(
        "Start this command for the next seat, named NAME when given as NAME=CMD ({host}, {port} "
        "replaced; random, greedy, search[:SEED] name the reference client; the list repeats "
        "when shorter than the seats)",
        "bot", bot);
    bots.valuename("command");
    bots.many(true);
    bots.check_typed([this](const knob::TypedArgument<std::string>&, const std::string& command) {
        m_bots.push_back(command);
    });
    std::ostringstream least;
    least << ServerFacts::MIN_TIME_SECONDS;
    knob::VariableArgument<double> time(
        "Give each move this &time limit (seconds, >=" + least.str() + ")", m_time);
    time.valuename("seconds");
    time.check_typed(
        [](const knob::TypedArgument<double>&, const double& s) { checkTimeLimit(s); });
    knob::VariableArgument<unsigned> depth("Play with this &depth limit instead", m_depth);
    depth.valuename("number");
    knob::VariableArgument<std::string> record("Write the match &record (JSON) to this file",
                                               m_record);
    record.valuename("file");
    PathArgument::bound(record, "--record", PathArgument::Kind::File);
    knob::VariableArgument<std::string> logs("Keep the server and bot logs in this folder", "logs",
                                             m_logs);
    logs.valuename("dir");
    PathArgument::bound(logs, "--logs", PathArgument::Kind::Folder);
    knob::VariableArgument<double> matchTimeout(
        "End the match after this many seconds (default: scaled to the map)", "match-timeout",
        m_matchTimeout);
    matchTimeout.valuename("seconds");
    knob::VariableArgument<double> connectTimeout("Seconds a bot has to connect (default 30)",
                                                  "connect-timeout", m_connectTimeout);
    connectTimeout.valuename("seconds");
    knob::VariableArgument<unsigned> port("First port the server tries (default: random)",
                                          "baseport", m_basePort);
    port.valuename("port").alias('b');
    knob::VariableArgument<unsigned> seed("Seed of the reference clients (seat k: seed + k - 1)",
                                          "seed", m_seed);
    seed.valuename("number");
    knob::VariableArgument<unsigned> logLimit("Bytes of each bot's output kept (default 1 MiB)",
                                              "bot-log-limit", m_logLimit);
    logLimit.valuename("bytes");
    RunOptions programs(nullptr, m_server, m_client);

    parser.add(+map);
    parser.add(+bots);
    parser.add(+(time ^ depth));
    for (knob::Argument* a : std::initializer_list<knob::Argument*>{
             &record, &logs, &matchTimeout, &connectTimeout, &port, &seed, &logLimit}) {
        parser.add(*a);
    }
    programs.addTo(parser);
    return parseViewAndJail(parser);
}

bool MatchCommand::parseViewAndJail(knob::ArgumentParser& parser) {
    std::string limit;
    knob::VariableArgument<std::string> limits("Set a limit of the jailed bots (memory_mb, "
                                               "processes, open_files, file_size_mb, cpu_s, "
                                               "writable_mb, pondering=0 or 1)",
                                               "limit", limit);
    limits.valuename("key=number");
    limits.many(true);
    limits.check_typed([this](const knob::TypedArgument<std::string>&, const std::string& given) {
        addLimit(given);
    });
    knob::Argument show("Show the server's console while the match runs ($show)");
    knob::Argument sandbox("Run the match in a network of its own and each bot in a jail "
                           "(see docs/arena.md)",
                           "sandbox");
    knob::Argument noSandbox("Run the bots as yourself, unjailed (the default)", "no-sandbox");
    knob::Argument quiet("Show only the result, no live view ($quiet)");
    parser.add(limits);
    parser.add(show ^ quiet);
    parser.add(sandbox ^ noSandbox);
    if (!Tool::parseOptions(parser)) {
        return false;
    }
    m_show = show.count() != 0;
    m_quiet = quiet.count() != 0;
    m_sandbox = sandbox.count() != 0;
    return true;
}

bool MatchCommand::fillSetup(MatchSetup& setup) {
    setup.timeMs = static_cast<unsigned>(m_time * 1000.0);
    setup.depth = m_depth;
    if (m_basePort == 0) {
        std::random_device random;
        m_basePort = 20000 + random() % 40000;
    }
    setup.basePort = m_basePort;
    setup.seed = m_seed;
    setup.matchTimeout = m_matchTimeout;
    setup.connectTimeout = m_connectTimeout;
    setup.botLogLimit = m_logLimit;
    setup.serverProgram = Arena::serverProgram(m_server);
    setup.clientProgram = Arena::clientProgram(m_client);
    if (m_logs.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/arena-match.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            LOG(logger, lumber::ERR) << "Cannot make a log folder";
            return false;
        }
        m_logs = pattern;
    }
    setup.logDir = m_logs;
    return true;
}

bool MatchCommand::doRun() {
    Map map;
    std::string mapError;
    if (!MapFile::read(m_map, map, mapError)) {
        LOG(logger, lumber::ERR) << mapError;
        return false;
    }
    // A map the game model refuses still goes to the server, so that the record says why.
    const unsigned seats = map.isValid() ? map.getPlayers() : static_cast<unsigned>(m_bots.size());
    MatchSetup setup;
    setup.id = std::filesystem::path(m_map).stem().string();
    setup.mapFile = m_map;
    setup.bots = BotList::forSeats(m_bots, seats);
    for (BotCommand& bot : setup.bots) {
        // Bots of a single match run from the folder it was started in, jailed or not.
        bot = BotCommand(bot.name(), bot.command(), std::filesystem::current_path().string());
        bot.setLimits(m_limits);
    }
    if (m_bots.size() > seats) {
        LOG(logger, lumber::ERR) << "The map has " << seats << " seats, but " << m_bots.size()
                                 << " bots were given";
        return false;
    }
    const bool ownLogs = m_logs.empty();
    if (!fillSetup(setup)) {
        return false;
    }
    setup.echo = m_show ? &std::cout : nullptr;
    setup.sandbox = m_sandbox;
    std::string error;
    if (m_sandbox &&
        (!Jail::installed(error) ||
         !std::all_of(setup.bots.begin(), setup.bots.end(), [&](const BotCommand& bot) {
             return bot.visibleInJail(setup.clientProgram, error);
         }))) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    const std::unique_ptr<LiveView> live = m_show || m_quiet ? nullptr : liveView(map, setup);
    if (live) {
        setup.echo = &live->sink();
    }

    Arena::catchInterrupts();
    MatchRecord record;
    const MatchOutcome outcome = MatchRunner(setup).run(record);
    if (live) {
        live->finish();
    }
    if (outcome == MatchOutcome::Interrupted) {
        std::cerr << "Interrupted; the logs are in " << m_logs << '\n';
        Arena::interrupted() = true;
        return false;
    }
    return finish(record, ownLogs);
}

bool MatchCommand::finish(const MatchRecord& record, bool ownLogs) {
    if (!m_record.empty()) {
        std::string error;
        if (!RecordsFolder::writeText(m_record, record.text(), error)) {
            LOG(logger, lumber::ERR) << error;
            return false;
        }
    }
    printResult(record, std::cout);
    const bool played = record.result.final();
    if (played && ownLogs) {
        std::filesystem::remove_all(m_logs);
    } else {
        std::cout << "Logs are in " << m_logs << '\n';
    }
    return played;
}

void MatchCommand::printResult(const MatchRecord& record, std::ostream& os) {
    const RecordResult& result = record.result;
    os << "\nMatch " << record.id << " on " << record.map.file << ", ";
    if (record.limits.timeMs) {
        os << *record.limits.timeMs << " ms per move";
    } else {
        os << "depth " << record.limits.depth.value_or(0);
    }
    os << ", " << record.moves.size() << " moves, " << MatchRecord::endName(result.end) << '\n';
    if (!result.final()) {
        os << "Not played to its end: " << result.reason << '\n';
        return;
    }
    std::map<unsigned, std::string> reasons;
    for (const RecordDisqualification& d : record.disqualifications) {
        reasons[d.seat] = d.reason + (d.detail ? " [" + *d.detail + "]" : std::string());
    }
    const size_t seats = std::min(record.seats.size(), result.ranks.size());
    std::vector<size_t> order(seats);
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return result.ranks[a] < result.ranks[b]; });
    size_t width = 3;
    for (const RecordSeat& s : record.seats) {
        width = std::max(width, s.bot.size());
    }
    os << "Place  Seat  " << std::left << std::setw(static_cast<int>(width)) << "Bot"
       << "  Score\n";
    for (size_t i : order) {
        const unsigned rank = result.ranks[i];
        const auto shared = std::count(result.ranks.begin(), result.ranks.end(), rank);
        const std::string place = std::to_string(rank) + (shared > 1 ? "=" : "");
        os << std::left << std::setw(7) << place << std::setw(6) << (i + 1)
           << std::setw(static_cast<int>(width)) << record.seats[i].bot << "  ";
        if (i >= result.scores.size() || !result.scores[i]) {
            os << "disqualified: " << reasons[static_cast<unsigned>(i + 1)];
        } else {
            os << *result.scores[i];
        }
        if (record.seats[i].untimed) {
            os << " (group " << unsigned(ServerFacts::UNTIMED_GROUP_ID) << ": not timed)";
        }
        os << '\n';
    }
    if (!record.consistent) {
        os << "Warning: the replay on the game model disagrees with the server\n";
    }
}
