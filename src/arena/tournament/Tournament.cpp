#include "Tournament.h"

#include "Arena.h"
#include "BoundedFile.h"
#include "Jail.h"
#include "JsonFields.h"
#include "Logging.h"
#include "Map.h"
#include "MapFile.h"
#include "MatchFolder.h"
#include "RecordsFolder.h"
#include "ServerFacts.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

const Logging::Logger& logger = Arena::logger();

constexpr size_t MAX_ID_BYTES = 128;
constexpr unsigned PLAN_NUMBER_MAX = std::numeric_limits<unsigned>::max();

/// A match id names files: a word of letters, digits, '.', '_' and '-' that starts with a
/// letter or digit, so that it never leaves its folder.
bool isMatchId(const std::string& id) {
    return !id.empty() && id.size() <= MAX_ID_BYTES &&
           std::isalnum(static_cast<unsigned char>(id[0])) &&
           std::all_of(id.begin(), id.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ||
                      c == '-';
           });
}

/// Plans are equal when their matches are: the concurrency may change between runs.
bool samePlan(json a, json b) {
    // Neither do how the bots are jailed and whether they are.
    for (const char* key : {"concurrency", "oversubscribe", "sandbox", "limits"}) {
        a["config"].erase(key);
        b["config"].erase(key);
    }
    return a == b;
}

} // namespace

bool Tournament::create(const std::string& dir, const json& plan, std::string& error) {
    m_dir = dir;
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "matches", ec);
    if (ec) {
        error = "cannot make " + dir + "/matches: " + ec.message();
        return false;
    }
    if (!m_folderLock.acquire(dir + "/arena.lock", true, error)) {
        return false;
    }
    const std::string file = dir + "/plan.json";
    if (fs::exists(file) || fs::is_symlink(file)) {
        json old;
        if (!BoundedFile::readJson(file, TournamentConfig::MAX_FILE_BYTES, old, error)) {
            error = file + ": " + error;
            return false;
        }
        if (!old.is_object() || !samePlan(old, plan)) {
            error = dir + " holds another tournament (its plan.json differs); choose another --out";
            return false;
        }
    } else if (!RecordsFolder::writeText(file, plan.dump(1) + '\n', error)) {
        return false;
    }
    m_plan = plan;
    return check(file, error);
}

bool Tournament::open(const std::string& dir, std::string& error) {
    m_dir = dir;
    const std::string file = dir + "/plan.json";
    if (!BoundedFile::readJson(file, TournamentConfig::MAX_FILE_BYTES, m_plan, error)) {
        error = file + ": " + error;
        return false;
    }
    return check(file, error);
}

bool Tournament::check(const std::string& file, std::string& error) {
    if (!m_plan.is_object() || m_plan.value("format", "") != "reversi-plan-1") {
        error = file + " is not a tournament plan";
        return false;
    }
    if (!m_plan.contains("config") || !m_config.read(m_plan["config"], "", error)) {
        error = file + ": \"config\": " + (error.empty() ? "missing" : error);
        return false;
    }
    const json& matches = m_plan.contains("matches") ? m_plan["matches"] : json();
    if (!matches.is_array() || matches.size() > TournamentConfig::MAX_MATCHES) {
        error = file + ": \"matches\" must be a list of at most " +
                std::to_string(TournamentConfig::MAX_MATCHES) + " matches";
        return false;
    }
    std::set<std::string> ids;
    for (size_t i = 0; i < matches.size(); ++i) {
        if (!checkMatch(matches[i], i, error)) {
            error.insert(0, file + ": ");
            return false;
        }
        if (!ids.insert(matches[i]["id"].get<std::string>()).second) {
            error = file + ": two matches have the id " + matches[i]["id"].get<std::string>();
            return false;
        }
    }
    return true;
}

bool Tournament::checkMatch(const json& match, size_t index, std::string& error) const {
    JsonFields fields(match, "\"matches\"[" + std::to_string(index) + "]");
    std::string id;
    std::string map;
    unsigned number = 0;
    fields.text("id", MAX_ID_BYTES, id, true);
    if (fields.ok() && !isMatchId(id)) {
        fields.fail("id",
                    "must be a word of letters, digits, '.', '_' and '-', not \"" + id + "\"");
    }
    fields.whole("index", 0u, PLAN_NUMBER_MAX, number, true);
    fields.whole("round", 1u, PLAN_NUMBER_MAX, number, true);
    fields.whole("seed", 0u, PLAN_NUMBER_MAX, number, true);
    fields.text("map", TournamentConfig::MAX_TEXT_BYTES, map, true);
    const json* names = fields.array("bots", 1, static_cast<size_t>(Player::P_MAX));
    for (size_t s = 0; names != nullptr && s < names->size() && fields.ok(); ++s) {
        const auto& bots = m_config.bots;
        if (std::none_of(bots.begin(), bots.end(),
                         [&](const TournamentConfig::Bot& b) { return (*names)[s] == b.name; })) {
            fields.fail("bots", "names a bot the configuration does not have: " +
                                    (*names)[s].dump().substr(0, 40));
        }
    }
    fields.refuseUnknown();
    error = fields.error();
    return fields.ok();
}

bool Tournament::claim(const std::string& id, std::string& error) {
    // Beside the match's log folder, where nothing reads every file.
    std::error_code ec;
    fs::create_directories(m_dir + "/logs", ec);
    return m_folderLock.acquire(m_dir + "/arena.lock", false, error) &&
           m_matchLock.acquire(MatchFolder::lockOf(m_dir, id), true, error);
}

bool Tournament::recorded(const std::string& id) const {
    MatchRecord record;
    std::string error;
    // A placeholder, a record cut short or one of another match is played again.
    return RecordsFolder(m_dir + "/matches").readMatch(id, record, error);
}

std::vector<json> Tournament::pending() const {
    std::vector<json> out;
    for (const json& m : m_plan["matches"]) {
        if (!recorded(m["id"])) {
            out.push_back(m);
        }
    }
    return out;
}

std::string Tournament::recordPath(const std::string& id) const {
    return m_dir + "/matches/" + id + ".json";
}

json Tournament::match(const std::string& id) const {
    for (const json& m : m_plan["matches"]) {
        if (m["id"] == id) {
            return m;
        }
    }
    return nullptr;
}

BotCommand Tournament::botOf(const TournamentConfig::Bot& bot) const {
    BotCommand command(bot.name, bot.command, bot.dir);
    command.setLimits(m_config.limitsOf(bot));
    for (const auto& [name, value] : bot.env) {
        command.addEnv(name, value);
    }
    return command;
}

bool Tournament::prepare(const json& match, MatchSetup& setup, std::string& error) const {
    setup.id = match["id"];
    setup.mapFile = match["map"];
    setup.sandbox = m_config.sandbox;
    // A tournament checked the jail as a whole before its first match; one match only
    // learns from its first jail whether bwrap refuses.
    if (setup.sandbox && !Jail::installed(error)) {
        return false;
    }
    for (const json& name : match["bots"]) {
        for (const TournamentConfig::Bot& bot : m_config.bots) {
            if (bot.name == name) {
                setup.bots.push_back(botOf(bot));
            }
        }
    }
    Map map;
    if (!MapFile::read(setup.mapFile, map, error)) {
        error = "match " + setup.id + ": " + error;
        return false;
    }
    if (map.isValid() && map.getPlayers() != setup.bots.size()) {
        error = "match " + setup.id + ": the map " + setup.mapFile + " has " +
                std::to_string(map.getPlayers()) + " seats, the plan " +
                std::to_string(setup.bots.size()) +
                " bots; the map changed after planning: plan the tournament anew";
        return false;
    }
    setup.logDir = MatchFolder::of(m_dir, setup.id);
    std::error_code ec;
    fs::create_directories(setup.logDir, ec);
    if (ec || !fs::is_directory(setup.logDir)) {
        error = "match " + setup.id + ": cannot make its log folder " + setup.logDir + ": " +
                (ec ? ec.message() : "not a folder");
        return false;
    }
    return true;
}

MatchOutcome Tournament::play(const json& match, const MatchSlot& slot, MatchRecord& record,
                              std::string& error) const {
    MatchSetup setup;
    if (!prepare(match, setup, error)) {
        return MatchOutcome::Interrupted;
    }
    setup.timeMs = static_cast<unsigned>(m_config.time * 1000.0);
    setup.depth = m_config.depth;
    setup.basePort = slot.basePort;
    setup.seed = match["seed"];
    setup.matchTimeout = m_config.matchTimeout;
    setup.connectTimeout = m_config.connectTimeout;
    setup.botLogLimit = m_config.botLogLimit;
    setup.serverProgram = m_config.server.empty() ? serverProgram : m_config.server;
    setup.clientProgram = m_config.client.empty() ? clientProgram : m_config.client;
    setup.cores = slot.cores.cores();
    setup.oversubscribed = slot.oversubscribed;
    const MatchOutcome outcome = MatchRunner(setup).run(record);
    if (outcome == MatchOutcome::Recorded) {
        record.round = match["round"].get<unsigned>();
        record.index = match["index"].get<unsigned>();
        if (!RecordsFolder(m_dir + "/matches").write(setup.id, record, error)) {
            return MatchOutcome::Interrupted;
        }
    }
    return outcome;
}

bool Tournament::jailReady(std::string& error) const {
    if (!Jail::available(error)) {
        return false;
    }
    const std::string client = m_config.client.empty() ? clientProgram : m_config.client;
    return std::all_of(
        m_config.bots.begin(), m_config.bots.end(),
        [&](const TournamentConfig::Bot& bot) { return botOf(bot).visibleInJail(client, error); });
}

bool Tournament::run(unsigned concurrency, const std::string& resumeHint) {
    RecordsFolder(m_dir + "/matches").removeStaleTemporaries();
    const std::vector<json> todo = pending();
    const size_t total = m_plan["matches"].size();
    const bool shared = oversubscribe || m_config.oversubscribe;
    std::string error;
    if (!MatchSlots::settle(concurrency, shared, error) ||
        (m_config.sandbox && !jailReady(error))) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    concurrency = std::max(1u, std::min<unsigned>(concurrency, static_cast<unsigned>(todo.size())));
    LOG(logger, lumber::INFO) << total - todo.size() << " of " << total
                              << " matches have records; playing " << todo.size() << ", "
                              << concurrency << " at once";
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{total - todo.size()};
    std::atomic<bool> failed{false};
    std::mutex print;
    MatchSlots::run(concurrency, m_config.basePort, shared, [&](const MatchSlot& slot) {
        for (size_t i = next++; i < todo.size() && !Arena::stopRequested(); i = next++) {
            MatchRecord record;
            std::string error;
            const MatchOutcome outcome = play(todo[i], slot, record, error);
            std::lock_guard<std::mutex> lock(print);
            if (!error.empty()) {
                LOG(logger, lumber::ERR) << error;
                failed = true;
            }
            if (outcome == MatchOutcome::Recorded) {
                LOG(logger, lumber::INFO) << '[' << ++done << '/' << total << "] " << record.id
                                          << ": " << record.summary();
            }
        }
    });
    if (Arena::stopRequested()) {
        LOG(logger, lumber::WARN) << "Interrupted: " << pending().size() << " of " << total
                                  << " matches still to play. Resume with: " << resumeHint;
        return false;
    }
    return !failed;
}
