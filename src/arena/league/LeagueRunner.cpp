#include "LeagueRunner.h"

#include "Arena.h"
#include "Jail.h"
#include "Logging.h"
#include "MatchFolder.h"
#include "MatchRunner.h"
#include "RecordsFolder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

using json = nlohmann::json;

namespace {

const Logging::Logger& logger = Arena::logger();

constexpr int BAR_WIDTH = 30;
/// Times a match aborted for nobody's fault is played again within one run.
constexpr int MAX_RETRIES = 3;

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string hostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

/// "[#####.....] 12/40, 3.1/min, ETA 9m"
std::string progressBar(size_t done, size_t needed, double perMinute) {
    const double share = needed ? static_cast<double>(done) / static_cast<double>(needed) : 1.0;
    const int filled = static_cast<int>(share * BAR_WIDTH);
    std::ostringstream line;
    line << '[' << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(BAR_WIDTH - filled), '.') << "] " << done << '/'
         << needed << ", " << std::fixed << std::setprecision(1) << perMinute << "/min";
    if (perMinute > 0 && done < needed) {
        const double minutes = static_cast<double>(needed - done) / perMinute;
        line << ", ETA "
             << (minutes < 1 ? std::to_string(static_cast<int>(minutes * 60)) + "s"
                             : std::to_string(static_cast<int>(minutes)) + "m");
    }
    return line.str();
}

} // namespace

LeagueRunner::LeagueRunner(League& league, const LeagueConfig& config)
    : m_league(league), m_config(config) {}

BotCommand LeagueRunner::botOf(const BotVersion& version) const {
    BotCommand command(version.bot, version.command, version.dir);
    // A bot of the configuration keeps its own limits and variables; a team's upload has the
    // league's limits.
    JailLimits limits = m_config.limits;
    for (const TournamentConfig::Bot& bot : m_config.bots) {
        if (bot.name == version.bot) {
            limits = m_config.limitsOf(bot);
            for (const auto& [name, value] : bot.env) {
                command.addEnv(name, value);
            }
        }
    }
    command.setLimits(limits);
    return command;
}

bool LeagueRunner::jailReady(const LeagueConfig& config, const std::string& clientProgram,
                             std::string& error) {
    if (!config.sandbox) {
        return true;
    }
    if (!Jail::available(error)) {
        return false;
    }
    const std::string client = config.client.empty() ? clientProgram : config.client;
    return std::all_of(
        config.bots.begin(), config.bots.end(), [&](const TournamentConfig::Bot& bot) {
            return BotCommand(bot.name, bot.command, bot.dir).visibleInJail(client, error);
        });
}

bool LeagueRunner::setupOf(const LeagueMatch& match, MatchSetup& setup, std::string& mapName) {
    std::vector<BotVersion> versions;
    std::vector<LeagueMap> maps;
    if (!m_league.versions(versions) || !m_league.maps(maps)) {
        return false;
    }
    const auto map = std::find_if(maps.begin(), maps.end(),
                                  [&](const LeagueMap& m) { return m.id == match.mapId; });
    const std::string folder = m_config.folder + "/maps";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    setup.mapFile = folder + "/" + std::to_string(match.mapId) + ".map";
    std::string error;
    if (map == maps.end() || !RecordsFolder::writeText(setup.mapFile, map->text, error)) {
        LOG(logger, lumber::ERR) << "a match's map file cannot be written: " << error;
        return false;
    }
    mapName = map->name;
    for (const std::int64_t id : match.versions) {
        const auto v = std::find_if(versions.begin(), versions.end(),
                                    [&](const BotVersion& b) { return b.id == id; });
        if (v == versions.end()) {
            return false;
        }
        setup.bots.push_back(botOf(*v));
    }
    setup.sandbox = m_config.sandbox;
    setup.id = "m" + std::to_string(match.id);
    setup.timeMs = static_cast<unsigned>(match.timeMs);
    setup.depth = static_cast<unsigned>(match.depth);
    setup.seed = static_cast<unsigned>(match.seed);
    setup.matchTimeout = m_config.matchTimeout;
    setup.connectTimeout = m_config.connectTimeout;
    setup.botLogLimit = m_config.botLogLimit;
    setup.logDir = MatchFolder::of(m_config.folder, setup.id);
    setup.serverProgram = m_config.server.empty() ? serverProgram : m_config.server;
    setup.clientProgram = m_config.client.empty() ? clientProgram : m_config.client;
    return true;
}

bool LeagueRunner::playOne(const std::string& worker, const LeagueMatch& match,
                           const MatchSlot& slot) {
    MatchSetup setup;
    std::string mapName;
    if (!setupOf(match, setup, mapName)) {
        m_league.release(match.id, worker);
        return false;
    }
    setup.basePort = slot.basePort;
    setup.cores = slot.cores.cores();
    setup.oversubscribed = slot.oversubscribed;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_held[match.id] = worker;
    }
    MatchRecord record;
    const MatchOutcome outcome = MatchRunner(setup).run(record);
    if (outcome != MatchOutcome::Recorded) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_held.erase(match.id);
        }
        return m_league.release(match.id, worker);
    }
    if (record.nobodysFault() && match.attempts <= MAX_RETRIES) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_held.erase(match.id);
        }
        LOG(logger, lumber::WARN) << "a match on " << mapName << " (" << record.lineup()
                                  << ") was aborted: " << record.result.reason << "; trying again ("
                                  << match.attempts << " of " << MAX_RETRIES << " retries)";
        return m_league.release(match.id, worker);
    }
    record.round = static_cast<unsigned>(match.round);
    bool stored = false;
    const bool ok = storeWhenFree(match, worker, setup.logDir, record, stored);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_held.erase(match.id);
    }
    if (!ok) {
        LOG(logger, lumber::ERR) << m_league.error();
        return false;
    }
    if (!stored) {
        LOG(logger, lumber::WARN) << "a match on " << mapName << " went to another arena when "
                                  << "its claim ended; this arena's result is dropped";
    } else {
        reportDone(mapName, record);
    }
    return true;
}

bool LeagueRunner::storeWhenFree(const LeagueMatch& match, const std::string& worker,
                                 const std::string& logDir, const MatchRecord& record,
                                 bool& stored) {
    const std::string kept = MatchFolder::pendingRecord(logDir);
    bool said = false;
    while (!m_league.storeResult(match.id, worker, record, stored)) {
        if (!said) {
            std::string error;
            RecordsFolder::writeText(kept, record.text(), error);
        }
        if (!waitOutBusy("storing m" + std::to_string(match.id) + " (its record waits in " + kept +
                             ")",
                         said)) {
            return false;
        }
    }
    if (said) {
        std::error_code ec;
        std::filesystem::remove(kept, ec);
        LOG(logger, lumber::INFO) << "m" << match.id << ": stored after all";
    }
    return true;
}

bool LeagueRunner::waitOutBusy(const std::string& doing, bool& said) {
    if (!m_league.busy() || Arena::stopRequested()) {
        return false;
    }
    if (!said) {
        LOG(logger, lumber::WARN) << "the database is busy while " << doing << ": "
                                  << m_league.error() << "; trying again every second";
        said = true;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return !Arena::stopRequested();
}

void LeagueRunner::reportDone(const std::string& mapName, const MatchRecord& record) {
    LeagueProgress p;
    m_league.progress(p);
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_played;
    const double elapsed = std::max(1e-3, seconds() - m_started);
    std::ostringstream line;
    line << progressBar(p.done, p.expected, 60.0 * static_cast<double>(m_played) / elapsed) << "  "
         << mapName << ": ";
    line << record.summary();
    LOG(logger, lumber::INFO) << line.str();
    if (onStandings && seconds() - m_lastStandings >= standingsEverySeconds) {
        m_lastStandings = seconds();
        onStandings();
    }
}

bool LeagueRunner::planMore() {
    LeagueProgress p;
    if (!m_league.schedule(m_config, p)) {
        LOG(logger, lumber::ERR) << m_league.error();
        return false;
    }
    if (p.added > 0) {
        LOG(logger, lumber::INFO) << p.added << " more matches planned; about " << p.expected
                                  << " in all";
    }
    return p.added > 0;
}

bool LeagueRunner::waitForOthers() {
    LeagueProgress p;
    if (!m_league.progress(p)) {
        return false;
    }
    if (p.done >= p.needed) {
        return false;
    }
    // Claims of other arenas: they finish them, or their leases end and this arena takes over.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return !Arena::stopRequested();
}

void LeagueRunner::slot(const MatchSlot& slot) {
    const std::string worker =
        hostName() + ":" + std::to_string(getpid()) + ":" + std::to_string(slot.index);
    bool said = false;
    while (!Arena::stopRequested() && !m_finishing) {
        LeagueMatch match;
        bool found = false;
        if (!m_league.claimNext(worker, m_config.leaseSeconds, match, found)) {
            if (waitOutBusy("claiming a match", said)) {
                continue;
            }
            LOG(logger, lumber::ERR) << m_league.error();
            std::lock_guard<std::mutex> lock(m_lock);
            m_failed = true;
            return;
        }
        if (!found) {
            if (m_config.sampled && planMore()) {
                continue;
            }
            if (!waitForOthers()) {
                return;
            }
            continue;
        }
        if (!playOne(worker, match, slot)) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_failed = true;
            return;
        }
    }
}

void LeagueRunner::keepClaims() {
    const double every = std::max(1.0, m_config.leaseSeconds / 3.0);
    double last = seconds();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::map<std::int64_t, std::string> held;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_finished) {
                return;
            }
            if (seconds() - last < every) {
                continue;
            }
            held = m_held;
        }
        last = seconds();
        for (const auto& claim : held) {
            bool still = false;
            if (m_league.renew(claim.first, claim.second, m_config.leaseSeconds, still) && !still) {
                LOG(logger, lumber::WARN) << "a claim this arena held was lost to another arena";
            }
        }
    }
}

bool LeagueRunner::run(unsigned concurrency) {
    std::string error;
    const bool shared = oversubscribe || m_config.oversubscribe;
    if ((m_config.sandbox && !Jail::available(error)) ||
        !MatchSlots::settle(concurrency, shared, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    m_started = seconds();
    m_lastStandings = m_started;
    std::thread keeper(&LeagueRunner::keepClaims, this);
    MatchSlots::run(concurrency, m_config.basePort, shared,
                    [this](const MatchSlot& s) { slot(s); });
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_finished = true;
    }
    keeper.join();
    if (onStandings) {
        onStandings();
    }
    return !m_failed && !Arena::stopRequested();
}
