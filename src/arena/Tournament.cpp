#include "Tournament.h"

#include "Arena.h"
#include "Jail.h"
#include "Logging.h"
#include "Map.h"
#include "RecordFile.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

const Logging::Logger& logger = Arena::logger();

constexpr unsigned DEFAULT_BASE_PORT = 20000;
constexpr unsigned TOP_PORT = 65000;
/// The server tries its base port and the 100 above it.
constexpr unsigned PORTS_PER_SERVER = 101;
const char* const ENV_NAME_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

/// Every multiset of `size` bots out of n in which each bot appears when n < size, every
/// plain combination otherwise; each as ascending bot indices.
void lineups(unsigned n, unsigned size, std::vector<std::vector<unsigned>>& out) {
    std::vector<unsigned> pick;
    const bool repeat = n < size;
    std::function<void(unsigned)> extend = [&](unsigned from) {
        if (pick.size() == size) {
            if (repeat) {
                for (unsigned b = 0; b < n; ++b) {
                    if (std::find(pick.begin(), pick.end(), b) == pick.end()) {
                        return;
                    }
                }
            }
            out.push_back(pick);
            return;
        }
        for (unsigned b = from; b < n; ++b) {
            pick.push_back(b);
            extend(repeat ? b : b + 1);
            pick.pop_back();
        }
    };
    extend(0);
}

std::string absolute(const fs::path& base, const std::string& path) {
    const fs::path p(path);
    return fs::weakly_canonical(p.is_absolute() ? p : base / p).string();
}

/// "sandbox" (default true), the tournament's "limits", and each bot's "limits" and "env".
bool checkSandbox(json& config, std::string& error) {
    config["sandbox"] = config.value("sandbox", true);
    JailLimits limits;
    if (config.contains("limits") && !limits.update(config["limits"], error)) {
        return false;
    }
    for (const json& bot : config["bots"]) {
        JailLimits own = limits;
        if (bot.contains("limits") && !own.update(bot["limits"], error)) {
            error = "bot " + bot["name"].get<std::string>() + ": " + error;
            return false;
        }
        if (!bot.contains("env")) {
            continue;
        }
        if (!bot["env"].is_object()) {
            error = "bot " + bot["name"].get<std::string>() + ": \"env\" must be an object";
            return false;
        }
        for (const auto& [name, value] : bot["env"].items()) {
            if (name.empty() || name.find_first_not_of(ENV_NAME_CHARS) != std::string::npos ||
                name.rfind("REVERSI_", 0) == 0 || !value.is_string()) {
                error = "bot " + bot["name"].get<std::string>() + ": env \"" + name +
                        "\" must be a name of A-Z, 0-9 and _ (not REVERSI_...) with a text value";
                return false;
            }
        }
    }
    return true;
}

} // namespace

bool Tournament::loadConfig(const std::string& file, json& config, std::string& error) {
    if (!RecordFile::read(file, config, error)) {
        error = file + ": " + error;
        return false;
    }
    const fs::path base = fs::absolute(fs::path(file)).parent_path();
    try {
        if (!config.is_object() || !config["bots"].is_array() || config["bots"].empty()) {
            error = "the configuration needs a list \"bots\"";
            return false;
        }
        if (!config["maps"].is_array() || config["maps"].empty()) {
            error = "the configuration needs a list \"maps\"";
            return false;
        }
        const bool timed = config.contains("time");
        if (timed == config.contains("depth")) {
            error = "the configuration needs exactly one of \"time\" (seconds) and \"depth\"";
            return false;
        }
        if (timed && !(config["time"].get<double>() >= 0.2)) {
            error = "\"time\" must be at least 0.2 seconds";
            return false;
        }
        std::vector<std::string> names;
        for (json& bot : config["bots"]) {
            const std::string name = bot.at("name").get<std::string>();
            if (name.empty() || name.find_first_of("/ \t") != std::string::npos ||
                std::find(names.begin(), names.end(), name) != names.end()) {
                error = "bot names must be unique words without '/': \"" + name + "\"";
                return false;
            }
            names.push_back(name);
            bot.at("command").get<std::string>();
            bot["dir"] = absolute(base, bot.value("dir", "."));
        }
        for (json& map : config["maps"]) {
            map = absolute(base, map.get<std::string>());
        }
        if (!checkSandbox(config, error)) {
            return false;
        }
        config["rounds"] = config.value("rounds", 1u);
        config["concurrency"] = config.value("concurrency", 1u);
        config["seed"] = config.value("seed", 1u);
        config["base_port"] = config.value("base_port", DEFAULT_BASE_PORT);
        const unsigned port = config["base_port"];
        if (port < 1024 || port + PORTS_PER_SERVER > TOP_PORT) {
            error = "\"base_port\" must lie between 1024 and " +
                    std::to_string(TOP_PORT - PORTS_PER_SERVER);
            return false;
        }
    } catch (const json::exception& e) {
        error = std::string("the configuration is not usable: ") + e.what();
        return false;
    }
    return true;
}

bool Tournament::makePlan(const json& config, json& plan, std::string& error) {
    plan = {{"format", "reversi-plan-1"}, {"config", config}, {"matches", json::array()}};
    const unsigned bots = static_cast<unsigned>(config["bots"].size());
    std::vector<unsigned> seats;
    std::vector<std::string> stems;
    for (const json& file : config["maps"]) {
        Map map;
        // A map the model refuses still gets its matches: their records say what was wrong.
        const unsigned players = map.loadFromFile(file.get<std::string>()) ? map.getPlayers() : 2;
        seats.push_back(players);
        std::string stem = fs::path(file.get<std::string>()).stem().string();
        if (std::find(stems.begin(), stems.end(), stem) != stems.end()) {
            stem += "_" + std::to_string(stems.size() + 1);
        }
        stems.push_back(stem);
    }
    unsigned index = 0;
    for (unsigned round = 1; round <= config["rounds"].get<unsigned>(); ++round) {
        for (size_t m = 0; m < seats.size(); ++m) {
            std::vector<std::vector<unsigned>> ups;
            lineups(bots, seats[m], ups);
            for (size_t u = 0; u < ups.size(); ++u) {
                for (unsigned r = 0; r < seats[m]; ++r) {
                    json names = json::array();
                    for (unsigned s = 0; s < seats[m]; ++s) {
                        names.push_back(config["bots"][ups[u][(s + r) % seats[m]]]["name"]);
                    }
                    std::ostringstream id;
                    id << 'r' << round << '-' << stems[m] << '-' << (u + 1) << '-' << (r + 1);
                    plan["matches"].push_back(
                        {{"id", id.str()},
                         {"index", index},
                         {"round", round},
                         {"map", config["maps"][m]},
                         {"bots", names},
                         {"seed", config["seed"].get<unsigned>() + 10 * index}});
                    ++index;
                }
            }
        }
    }
    if (index == 0) {
        error = "the configuration gives no match";
        return false;
    }
    return true;
}

bool Tournament::create(const std::string& dir, const json& plan, std::string& error) {
    m_dir = dir;
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "matches", ec);
    if (ec) {
        error = "cannot make " + dir + "/matches: " + ec.message();
        return false;
    }
    const std::string file = dir + "/plan.json";
    if (fs::exists(file)) {
        json old;
        if (!RecordFile::read(file, old, error)) {
            error = file + ": " + error;
            return false;
        }
        // The concurrency may change between runs; the matches may not.
        json a = old;
        json b = plan;
        // Neither do how the bots are jailed and whether they are.
        for (const char* key : {"concurrency", "sandbox", "limits"}) {
            a["config"].erase(key);
            b["config"].erase(key);
        }
        if (a != b) {
            error = dir + " holds another tournament (its plan.json differs); choose another --out";
            return false;
        }
    } else if (!RecordFile::write(file, plan, error)) {
        return false;
    }
    m_plan = plan;
    return true;
}

bool Tournament::open(const std::string& dir, std::string& error) {
    m_dir = dir;
    if (!RecordFile::read(dir + "/plan.json", m_plan, error)) {
        error = dir + "/plan.json: " + error;
        return false;
    }
    if (!m_plan.is_object() || m_plan.value("format", "") != "reversi-plan-1") {
        error = dir + "/plan.json is not a tournament plan";
        return false;
    }
    return true;
}

std::vector<json> Tournament::pending() const {
    std::vector<json> out;
    for (const json& m : m_plan["matches"]) {
        json record;
        std::string error;
        if (!RecordFile::read(recordPath(m["id"]), record, error)) {
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

BotCommand Tournament::botOf(const json& config, const json& bot) {
    BotCommand command(bot["name"], bot["command"], bot["dir"]);
    // Checked when the configuration was read.
    JailLimits limits;
    std::string error;
    limits.update(config.value("limits", json::object()), error);
    limits.update(bot.value("limits", json::object()), error);
    command.setLimits(limits);
    for (const auto& [name, value] : bot.value("env", json::object()).items()) {
        command.addEnv(name, value.get<std::string>());
    }
    return command;
}

MatchOutcome Tournament::play(const json& match, unsigned basePort, json& record,
                              std::string& error) const {
    const json& config = m_plan["config"];
    MatchSetup setup;
    setup.id = match["id"];
    setup.mapFile = match["map"];
    setup.sandbox = config.value("sandbox", true);
    if (setup.sandbox && !Jail::available(error)) {
        return MatchOutcome::Interrupted;
    }
    for (const json& name : match["bots"]) {
        for (const json& bot : config["bots"]) {
            if (bot["name"] == name) {
                setup.bots.push_back(botOf(config, bot));
            }
        }
    }
    if (config.contains("time")) {
        setup.timeMs = static_cast<unsigned>(config["time"].get<double>() * 1000.0);
    } else {
        setup.depth = config["depth"];
    }
    setup.basePort = basePort;
    setup.seed = match["seed"];
    setup.matchTimeout = config.value("match_timeout", 0.0);
    setup.connectTimeout = config.value("connect_timeout", 30.0);
    setup.botLogLimit = config.value("bot_log_limit", size_t{1} << 20);
    setup.logDir = m_dir + "/logs/" + setup.id;
    setup.serverProgram = config.value("server", serverProgram);
    setup.clientProgram = config.value("client", clientProgram);
    const MatchOutcome outcome = MatchRunner(setup).run(record);
    if (outcome == MatchOutcome::Recorded) {
        record["round"] = match["round"];
        record["index"] = match["index"];
        if (!RecordFile::write(recordPath(setup.id), record, error)) {
            return MatchOutcome::Interrupted;
        }
    }
    return outcome;
}

bool Tournament::run(unsigned concurrency, const std::string& resumeHint) {
    const std::vector<json> todo = pending();
    const size_t total = m_plan["matches"].size();
    const unsigned base = m_plan["config"]["base_port"];
    concurrency = std::max(1u, std::min<unsigned>(concurrency, static_cast<unsigned>(todo.size())));
    const unsigned stride =
        std::max(1u, std::min(PORTS_PER_SERVER, (TOP_PORT - base) / concurrency));
    std::string error;
    if (m_plan["config"].value("sandbox", true) && !Jail::available(error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    LOG(logger, lumber::INFO) << total - todo.size() << " of " << total
                              << " matches have records; playing " << todo.size() << ", "
                              << concurrency << " at once";
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{total - todo.size()};
    std::atomic<bool> failed{false};
    std::mutex print;
    auto worker = [&](unsigned slot) {
        for (size_t i = next++; i < todo.size() && !MatchRunner::stopRequested() && !failed;
             i = next++) {
            json record;
            std::string error;
            const MatchOutcome outcome = play(todo[i], base + slot * stride, record, error);
            std::lock_guard<std::mutex> lock(print);
            if (!error.empty()) {
                LOG(logger, lumber::ERR) << error;
                failed = true;
            }
            if (outcome != MatchOutcome::Recorded) {
                continue;
            }
            std::ostringstream line;
            line << '[' << ++done << '/' << total << "] " << record["id"].get<std::string>()
                 << ": ";
            const json& result = record["result"];
            if (result["end"] == "final") {
                for (size_t s = 0; s < record["seats"].size(); ++s) {
                    line << (s ? ", " : "") << record["seats"][s]["bot"].get<std::string>() << ' '
                         << (result["scores"][s].is_null()
                                 ? std::string("disqualified")
                                 : std::to_string(result["scores"][s].get<int>()));
                }
            } else {
                line << result["end"].get<std::string>() << ": "
                     << result["reason"].get<std::string>();
            }
            LOG(logger, lumber::INFO) << line.str();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned slot = 0; slot < concurrency; ++slot) {
        threads.emplace_back(worker, slot);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    if (MatchRunner::stopRequested()) {
        LOG(logger, lumber::WARN) << "Interrupted: " << pending().size() << " of " << total
                                  << " matches still to play. Resume with: " << resumeHint;
        return false;
    }
    return !failed;
}
