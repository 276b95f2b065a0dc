#include "ServeLeague.h"

#include "Arena.h"
#include "LeagueRunner.h"
#include "LeagueTables.h"
#include "MatchRunner.h"
#include "Standings.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

using json = nlohmann::json;

namespace {

const Logging::Logger& logger = Arena::logger();

/// How often the tables' thread looks for ended matches.
constexpr auto refreshEvery = std::chrono::milliseconds(500);
/// How long the players rest when nothing is left to play, unless woken by a new bot.
constexpr auto idleWait = std::chrono::seconds(5);
/// A bot's page lists its latest matches only.
constexpr size_t maxBotMatches = 200;
/// The standings page lists this many of the matches not played yet.
constexpr std::int64_t maxQueue = 50;

/// A path of the organiser's machine as a visitor may see it: relative to the league's folder
/// when inside it, else only its last name.
std::string shownPath(const std::string& path, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(folder, ec);
    const fs::path full = fs::weakly_canonical(path, ec);
    const fs::path inside = full.lexically_relative(base);
    if (!ec && !inside.empty() && *inside.begin() != "..") {
        return inside.generic_string();
    }
    return fs::path(path).filename().string();
}

/// Replaces the folders a record's jails list (the league's, the client's, a team's upload)
/// with shownPath().
void hideFolders(json& record, const std::string& folder) {
    if (!record.contains("seats") || !record["seats"].is_array()) {
        return;
    }
    for (json& seat : record["seats"]) {
        if (!seat.is_object() || !seat.contains("sandbox") || !seat["sandbox"].is_object()) {
            continue;
        }
        json& sandbox = seat["sandbox"];
        if (sandbox.contains("work_dir") && sandbox["work_dir"].is_string()) {
            sandbox["work_dir"] = shownPath(sandbox["work_dir"], folder);
        }
        if (sandbox.contains("read_only") && sandbox["read_only"].is_array()) {
            for (json& entry : sandbox["read_only"]) {
                entry = entry.is_string() ? json(shownPath(entry, folder)) : entry;
            }
        }
    }
}

/// A seat's disqualification in the standings engine's words, which the tables and reports
/// use too: the site never words it on its own.
std::string plainReason(const FinishedSeat& seat) {
    return Standings::plainReason(seat.result.disqualified, seat.result.moves > 0);
}

} // namespace

ServeLeague::ServeLeague(LeagueConfig config, TeamStore& store)
    : m_config(std::make_shared<const LeagueConfig>(std::move(config))), m_store(store) {}

std::shared_ptr<const LeagueConfig> ServeLeague::configNow() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_config;
}

LeagueConfig ServeLeague::config() const {
    return *configNow();
}

ServeLeague::~ServeLeague() {
    m_stopping = true;
    Arena::requestStop();
    m_wake.notify_all();
    if (m_player.joinable()) {
        m_player.join();
    }
    if (m_tabler.joinable()) {
        m_tabler.join();
    }
}

bool ServeLeague::open(std::string& error) {
    m_league = League::open(m_config->database, error);
    if (m_league) {
        m_reader = SqlDatabase::open(m_config->database, error);
    }
    return m_league != nullptr && m_reader != nullptr;
}

std::string ServeLeague::botName(const std::string& team, const std::string& bot) {
    return team + "." + bot;
}

bool ServeLeague::schedule() {
    return scheduleWith(*configNow());
}

bool ServeLeague::scheduleWith(const LeagueConfig& config) {
    std::set<std::string> teamBots;
    for (const SubmissionRow& row : m_store.latestBuilt()) {
        const std::string name = botName(row.team, row.bot);
        teamBots.insert(name);
        const bool taken =
            std::any_of(config.bots.begin(), config.bots.end(),
                        [&](const TournamentConfig::Bot& b) { return b.name == name; });
        if (taken) {
            LOG(logger, lumber::WARN) << "the configuration has a bot named " << name
                                      << " already; the team's is left out";
            continue;
        }
        // Entered in the league's database, so that a worker or a report sees it too. Run by
        // the shell in the bot's folder: "./run" works with or without a "#!" line; the
        // command names the upload, so that each upload is a version of its own.
        if (!m_league->enter(name, row.command(), row.folder)) {
            LOG(logger, lumber::ERR) << m_league->error();
            return false;
        }
    }
    // A team bot withdrawn or removed leaves the plans of every arena that opens the league.
    if (!m_league->retainEntries(teamBots)) {
        LOG(logger, lumber::ERR) << m_league->error();
        return false;
    }
    LeagueProgress progress;
    if (!m_league->schedule(config, progress)) {
        LOG(logger, lumber::ERR) << m_league->error();
        return false;
    }
    if (!progress.limitBefore.empty()) {
        LOG(logger, lumber::WARN) << LeagueLimit::changeLine(
            progress.limitBefore, LeagueLimit(config.timeMs(), config.depthLimit()), config.sampled,
            progress.needed - progress.done, progress.kept, "arena league report " + config.folder);
    }
    LOG(logger, lumber::INFO) << progress.added << " matches planned; " << progress.done << " of "
                              << progress.needed << " needed matches played";
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_newWork = true;
        m_lastDone = static_cast<std::size_t>(-1); // the current bots changed: new tables
    }
    m_wake.notify_all();
    return true;
}

bool ServeLeague::reconfigure(const LeagueConfig& next) {
    if (!scheduleWith(next)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_config = std::make_shared<const LeagueConfig>(next);
        m_newWork = true;
        if (m_runner != nullptr) {
            m_runner->finish();
        }
    }
    m_wake.notify_all();
    return true;
}

void ServeLeague::start(unsigned concurrency, std::string serverProgram,
                        std::string clientProgram) {
    m_serverProgram = std::move(serverProgram);
    m_clientProgram = std::move(clientProgram);
    refresh();
    m_player = std::thread([this, concurrency] { play(concurrency); });
    m_tabler = std::thread([this] { keepTablesFresh(); });
}

void ServeLeague::play(unsigned concurrency) {
    while (!m_stopping && !Arena::stopRequested()) {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_newWork = false;
        }
        // A pass plays under one configuration; an edit ends the pass and the next one starts
        // with the new configuration.
        const std::shared_ptr<const LeagueConfig> config = configNow();
        LeagueRunner runner(*m_league, *config);
        runner.serverProgram = m_serverProgram;
        runner.clientProgram = m_clientProgram;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_runner = &runner;
        }
        runner.run(concurrency != 0 ? concurrency : config->concurrency);
        std::unique_lock<std::mutex> hold(m_lock);
        m_runner = nullptr;
        m_wake.wait_for(hold, idleWait, [this] { return m_newWork || m_stopping; });
    }
}

void ServeLeague::keepTablesFresh() {
    while (!m_stopping) {
        refresh();
        std::unique_lock<std::mutex> hold(m_lock);
        m_wake.wait_for(hold, refreshEvery, [this] { return m_stopping.load(); });
    }
}

void ServeLeague::refresh() {
    LeagueProgress progress;
    if (!m_league->progress(progress)) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (progress.done == m_lastDone && progress.claimed == m_lastClaimed) {
            return;
        }
    }
    json out;
    if (!LeagueTables::compute(*m_league, out)) {
        LOG(logger, lumber::ERR) << m_league->error();
        return;
    }
    out["progress"] = {
        {"needed", progress.needed}, {"done", progress.done}, {"running", progress.claimed}};
    out["queue"] = queue();
    auto text = std::make_shared<const std::string>(
        out.dump(-1, ' ', false, json::error_handler_t::replace));
    std::lock_guard<std::mutex> hold(m_lock);
    m_lastDone = progress.done;
    m_lastClaimed = progress.claimed;
    m_tables = std::move(text);
    m_tablesJson = std::move(out);
    m_tag = "\"t" + std::to_string(++m_generation) + "\"";
}

json ServeLeague::queue() {
    json list = json::array();
    std::map<std::int64_t, size_t> index;
    m_reader->query("SELECT m.id, m.status, mp.name FROM matches m JOIN maps mp ON mp.id = "
                    "m.map_id WHERE m.needed = 1 AND m.status <> 'done' ORDER BY CASE m.status "
                    "WHEN 'claimed' THEN 0 ELSE 1 END, m.id LIMIT ?",
                    {maxQueue}, [&](const SqlRow& row) {
                        index[row.integer(0)] = list.size();
                        list.push_back({{"id", row.integer(0)},
                                        {"running", row.text(1) == "claimed"},
                                        {"map", row.text(2)},
                                        {"bots", json::array()}});
                    });
    if (list.empty()) {
        return list;
    }
    const std::int64_t first = index.begin()->first;
    const std::int64_t last = index.rbegin()->first;
    m_reader->query("SELECT s.match_id, b.name FROM seats s JOIN bot_versions v ON v.id = "
                    "s.version_id JOIN bots b ON b.id = v.bot_id WHERE s.match_id BETWEEN ? AND ? "
                    "ORDER BY s.match_id, s.seat",
                    {first, last}, [&](const SqlRow& row) {
                        const auto at = index.find(row.integer(0));
                        if (at != index.end()) {
                            list[at->second]["bots"].push_back(row.text(1));
                        }
                    });
    return list;
}

bool ServeLeague::record(std::int64_t id, json& out, bool& found) {
    if (!m_league->record(id, out, found)) {
        return false;
    }
    if (!found) {
        return true;
    }
    LeagueMatch match;
    bool planned = false;
    std::vector<LeagueMap> maps;
    if (!m_league->match(id, match, planned) || !m_league->maps(maps)) {
        return false;
    }
    std::string name = "a map";
    for (const LeagueMap& map : maps) {
        if (map.id == match.mapId) {
            name = map.name;
        }
    }
    if (out.contains("map") && out["map"].is_object()) {
        out["map"]["file"] = name;
    }
    hideFolders(out, configNow()->folder);
    return true;
}

std::pair<std::shared_ptr<const std::string>, std::string> ServeLeague::tables() {
    std::lock_guard<std::mutex> hold(m_lock);
    return {m_tables, m_tag};
}

void ServeLeague::namesById(std::map<std::int64_t, std::string>& bots,
                            std::map<std::int64_t, std::string>& maps) {
    std::vector<BotVersion> versions;
    m_league->versions(versions);
    for (const BotVersion& v : versions) {
        bots[v.id] = v.bot;
    }
    std::vector<LeagueMap> leagueMaps;
    m_league->maps(leagueMaps);
    for (const LeagueMap& m : leagueMaps) {
        maps[m.id] = m.name;
    }
}

json ServeLeague::bot(const std::string& name) {
    json out = {{"bot", name}, {"versions", json::array()}, {"standings", json::array()}};
    {
        std::lock_guard<std::mutex> hold(m_lock);
        for (const json& entry : m_tablesJson.value("history", json::array())) {
            if (entry["bot"] == name) {
                out["versions"] = entry["versions"];
            }
        }
        for (const json& row : m_tablesJson.value("standings", json::array())) {
            if (row["bot"] == name) {
                out["standings"].push_back(row);
            }
        }
    }
    if (out["versions"].empty()) {
        return nullptr;
    }
    std::map<std::int64_t, std::string> names;
    std::map<std::int64_t, std::string> mapNames;
    namesById(names, mapNames);
    // Seats come match by match: each match is kept only when one of its seats is this bot's,
    // and only the latest ones.
    std::deque<json> latest;
    json disqualified = json::array();
    json current;
    bool mine = false;
    const auto flush = [&] {
        if (mine) {
            latest.push_back(std::move(current));
            if (latest.size() > maxBotMatches) {
                latest.pop_front();
            }
        }
        current = json();
        mine = false;
    };
    m_league->finished([&](const FinishedSeat& seat) {
        if (!current.is_null() && current["id"] != seat.matchId) {
            flush();
        }
        current["id"] = seat.matchId;
        current["map"] = mapNames[seat.mapId];
        current["end"] = MatchRecord::endName(seat.end);
        const std::string plain = plainReason(seat);
        current["seats"].push_back({{"seat", seat.seat},
                                    {"bot", names[seat.version]},
                                    {"score", seat.result.score},
                                    {"rank", seat.result.rank},
                                    {"disqualified", seat.result.disqualified},
                                    {"plain", plain}});
        if (names[seat.version] == name) {
            mine = true;
            if (!seat.result.disqualified.empty() && disqualified.size() < maxBotMatches) {
                disqualified.push_back({{"match", seat.matchId},
                                        {"seat", seat.seat},
                                        {"reason", seat.result.disqualified},
                                        {"plain", plain}});
            }
        }
    });
    flush();
    json list = json::array();
    for (auto m = latest.rbegin(); m != latest.rend(); ++m) {
        list.push_back(std::move(*m));
    }
    out["matches"] = list;
    out["disqualifications"] = disqualified;
    return out;
}
