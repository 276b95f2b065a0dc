#include "League.h"

#include "BoundedFile.h"
#include "FolderDigest.h"
#include "LeagueOpenings.h"
#include "LeaguePlanner.h"
#include "LeagueRecord.h"
#include "LeagueSchema.h"
#include "Map.h"
#include "SampledPlanner.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unordered_set>

using json = nlohmann::json;

namespace {

/// Arbitrary, fixed: the lock that keeps two arenas from planning one league at once.
constexpr std::int64_t SCHEDULE_LOCK = 0x6c65616775650002;
/// Entered bots a plan takes at most (a site's teams times their bots).
constexpr std::int64_t MAX_ENTRIES = 10000;
/// The most needed matches a sampled schedule leaves unplayed at once (more with more slots).
constexpr size_t SAMPLED_WINDOW = 64;
/// Map files are small; anything larger is not one.
constexpr std::streamsize MAX_MAP_BYTES = 1 << 20;

bool readMap(const std::string& file, std::string& text, int& seats) {
    std::ifstream in(file, std::ios::binary);
    std::string buffer(static_cast<size_t>(MAX_MAP_BYTES), '\0');
    in.read(&buffer[0], MAX_MAP_BYTES);
    buffer.resize(static_cast<size_t>(in.gcount()));
    text = buffer;
    Map map;
    // A map the model refuses still gets its matches: their records say what was wrong.
    seats = map.loadFromString(text) ? static_cast<int>(map.getPlayers()) : 2;
    return !text.empty();
}

} // namespace

League::League(std::unique_ptr<SqlDatabase> db)
    : m_db(std::move(db)), m_bots(*m_db), m_maps(*m_db), m_matches(*m_db), m_ratings(*m_db) {}

std::unique_ptr<League> League::open(const std::string& database, std::string& error) {
    std::unique_ptr<SqlDatabase> db = SqlDatabase::open(database, error);
    if (!db || !LeagueSchema::migrate(*db, error)) {
        return nullptr;
    }
    return std::unique_ptr<League>(new League(std::move(db)));
}

std::int64_t League::now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string League::error() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_error;
}

bool League::busy() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_db->busy();
}

bool League::fail(const std::string& what) {
    m_error = what + ": " + m_db->error();
    return false;
}

bool League::entered(const LeagueConfig& config, std::vector<TournamentConfig::Bot>& out) {
    return m_db->query("SELECT name, command, dir FROM entries ORDER BY id LIMIT ?", {MAX_ENTRIES},
                       [&](const SqlRow& row) {
                           const std::string name = row.text(0);
                           const bool taken = std::any_of(
                               config.bots.begin(), config.bots.end(),
                               [&](const TournamentConfig::Bot& b) { return b.name == name; });
                           if (!taken) {
                               TournamentConfig::Bot bot;
                               bot.name = name;
                               bot.command = row.text(1);
                               bot.dir = row.text(2);
                               out.push_back(bot);
                           }
                       }) ||
           fail("cannot read the entered bots");
}

bool League::enter(const std::string& name, const std::string& command, const std::string& dir) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_db->exec("INSERT INTO entries (name, command, dir, entered) VALUES (?, ?, ?, ?) "
                      "ON CONFLICT (name) DO UPDATE SET command = excluded.command, "
                      "dir = excluded.dir",
                      {name, command, dir, now()}) ||
           fail("cannot enter bot " + name);
}

bool League::withdraw(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_db->exec("DELETE FROM entries WHERE name = ?", {name}) ||
           fail("cannot withdraw bot " + name);
}

bool League::retainEntries(const std::set<std::string>& keep) {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::string> gone;
    if (!m_db->query("SELECT name FROM entries ORDER BY id LIMIT ?", {MAX_ENTRIES},
                     [&](const SqlRow& row) {
                         if (keep.count(row.text(0)) == 0) {
                             gone.push_back(row.text(0));
                         }
                     })) {
        return fail("cannot read the entered bots");
    }
    for (const std::string& name : gone) {
        if (!m_db->exec("DELETE FROM entries WHERE name = ?", {name})) {
            return fail("cannot withdraw bot " + name);
        }
    }
    return true;
}

std::string League::digestOf(const LeagueConfig& config, const std::string& dir) {
    // The league's own folder holds its database and logs, which change with every match: a
    // bot run from there is known by its command alone.
    if (dir.empty() || dir == config.folder) {
        return "";
    }
    const auto known = m_digests.find(dir);
    if (known != m_digests.end()) {
        return known->second;
    }
    std::string digest;
    bool truncated = false;
    std::string error;
    // An unreadable folder is the jail's to report when the bot starts; here it has no content.
    if (!FolderDigest::of(dir, digest, truncated, error)) {
        digest = "";
    }
    m_digests[dir] = digest;
    return digest;
}

bool League::syncBots(const LeagueConfig& config, std::vector<std::int64_t>& current,
                      std::vector<std::string>& changed) {
    std::vector<TournamentConfig::Bot> bots = config.bots;
    if (!entered(config, bots)) {
        return false;
    }
    for (const TournamentConfig::Bot& bot : bots) {
        BotVersion v;
        bool fresh = false;
        if (!m_bots.versionFor(bot.name, bot.command, digestOf(config, bot.dir), bot.dir, now(), v,
                               fresh)) {
            return fail("cannot add bot " + bot.name);
        }
        if (fresh && v.version > 1) {
            changed.push_back(bot.name + " (v" + std::to_string(v.version) + ")");
        }
        current.push_back(v.id);
    }
    return m_bots.setCurrent(current) || fail("cannot mark the current bots");
}

bool League::syncMaps(const LeagueConfig& config, std::vector<std::vector<PlanMap>>& rounds) {
    const unsigned count = config.rounds;
    rounds.assign(count, {});
    std::vector<std::int64_t> current;
    for (const std::string& file : config.maps) {
        LeagueMap base;
        LeagueMap stored;
        base.name = std::filesystem::path(file).stem().string();
        if (!readMap(file, base.text, base.seats)) {
            m_error = "cannot read map " + file;
            return false;
        }
        if (!m_maps.mapFor(base, stored)) {
            return fail("cannot add map " + base.name);
        }
        current.push_back(stored.id);
        for (unsigned r = 0; r < count; ++r) {
            LeagueMap opening = stored;
            opening.baseId = stored.id;
            opening.plies = static_cast<int>(config.openings);
            opening.name = base.name + "@" + std::to_string(r + 1);
            const std::uint64_t seed = std::uint64_t{config.seed} * 1000 + r;
            LeagueMap played = stored;
            if (config.openings > 0 &&
                LeagueOpenings::derive(base.text, config.openings, seed, opening.text)) {
                if (!m_maps.mapFor(opening, played)) {
                    return fail("cannot add an opening of " + base.name);
                }
                current.push_back(played.id);
            }
            rounds[r].push_back({played.id, played.seats});
        }
    }
    return m_maps.setCurrent(current) || fail("cannot mark the current maps");
}

bool League::syncMatches(const std::vector<PlannedMatch>& planned, LeagueProgress& progress) {
    std::unordered_map<std::string, MatchState> states;
    if (!m_matches.states(states)) {
        return fail("cannot read the league's matches");
    }
    std::vector<PlannedMatch> fresh;
    std::unordered_set<std::string> keys;
    progress = LeagueProgress();
    progress.needed = planned.size();
    for (const PlannedMatch& m : planned) {
        keys.insert(m.key);
        const auto found = states.find(m.key);
        if (found == states.end()) {
            fresh.push_back(m);
            continue;
        }
        progress.done += found->second.done ? 1 : 0;
        if (!found->second.needed && !m_matches.setNeeded(found->second.id, true)) {
            return fail("cannot update a match");
        }
    }
    for (const auto& entry : states) {
        if (entry.second.needed && keys.count(entry.first) == 0 &&
            !m_matches.setNeeded(entry.second.id, false)) {
            return fail("cannot update a match");
        }
    }
    progress.added = fresh.size();
    return m_matches.add(fresh) || fail("cannot add the new matches");
}

bool League::keepEarlierLimits(const LeagueConfig& config, LeagueProgress& progress) {
    const LeagueLimit now(config.timeMs(), config.depthLimit());
    std::vector<LeagueLimit> before;
    if (!m_matches.keepEarlierLimits(now, before)) {
        return fail("cannot keep the standings of the earlier limit");
    }
    std::vector<LeagueLimit> inForce;
    if (!m_matches.limitsInForce(inForce)) {
        return fail("cannot read the limits");
    }
    // A change of limit, not a league's first plan, nor records of another limit imported
    // beside the one in force.
    if (before.empty() || std::find(inForce.begin(), inForce.end(), now) != inForce.end()) {
        return true;
    }
    progress.limitBefore = before;
    return m_matches.keptLimits([&](const LeagueLimit& limit, size_t count) {
        progress.kept += std::find(before.begin(), before.end(), limit) != before.end() ? count : 0;
    }) || fail("cannot read the limits");
}

bool League::planRoundRobin(const LeagueConfig& config, const std::vector<std::int64_t>& versions,
                            const std::vector<std::vector<PlanMap>>& rounds,
                            std::vector<PlannedMatch>& planned) {
    std::vector<unsigned> seats;
    for (const PlanMap& map : rounds.front()) {
        seats.push_back(static_cast<unsigned>(map.seats));
    }
    const uint64_t size = TournamentConfig::planSize(versions.size(), seats, config.rounds);
    if (size > LeagueConfig::MAX_ROUND_ROBIN) {
        m_error = "a round robin of this league would plan " +
                  (size > TournamentConfig::MAX_MATCHES ? "over " + std::to_string(size - 1)
                                                        : std::to_string(size)) +
                  " matches, more than " + std::to_string(LeagueConfig::MAX_ROUND_ROBIN) +
                  ": set \"schedule\": \"sampled\" and \"matches_per_version\" in " + config.file;
        return false;
    }
    planned = LeaguePlanner::plan(versions, rounds, config.timeMs(), config.depthLimit(),
                                  std::int64_t{config.seed});
    return true;
}

bool League::planSampled(const LeagueConfig& config, const std::vector<std::int64_t>& versions,
                         const std::vector<std::vector<PlanMap>>& rounds,
                         std::vector<PlannedMatch>& planned, size_t& expected) {
    SampledInput in;
    in.versions = versions;
    in.maps.assign(rounds.front().size(), {});
    for (const std::vector<PlanMap>& round : rounds) {
        for (size_t m = 0; m < round.size(); ++m) {
            in.maps[m].push_back(round[m]);
        }
    }
    in.timeMs = config.timeMs();
    in.depth = config.depthLimit();
    in.seed = std::int64_t{config.seed};
    in.perVersion = config.matchesPerVersion;
    in.window = std::max(SAMPLED_WINDOW, size_t{4} * config.concurrency);
    std::map<std::int64_t, SampledResult> results;
    const bool read =
        m_matches.all(in.existing, in.existingDone) &&
        m_matches.finished([&](const FinishedSeat& seat) {
            if (seat.end == MatchEnd::Final) {
                SampledResult& r = results[seat.matchId];
                r.versions.push_back(seat.version);
                r.ranks.push_back(seat.result.disqualified.empty() ? seat.result.rank : 0);
            }
        });
    if (!read) {
        return fail("cannot read the league's matches");
    }
    for (auto& entry : results) {
        in.results.push_back(std::move(entry.second));
    }
    SampledPlan plan = SampledPlanner::plan(in);
    planned = std::move(plan.needed);
    expected = plan.expected;
    return true;
}

bool League::schedule(const LeagueConfig& config, LeagueProgress& progress) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_db->begin() || (m_db->dialect() == SqlDatabase::Dialect::Postgres &&
                           !m_db->exec("SELECT pg_advisory_xact_lock(?)", {SCHEDULE_LOCK}))) {
        return fail("cannot start planning");
    }
    std::vector<std::int64_t> versions;
    std::vector<std::vector<PlanMap>> rounds;
    std::vector<std::string> changed;
    if (!syncBots(config, versions, changed) || !syncMaps(config, rounds)) {
        m_db->rollback();
        return false;
    }
    std::vector<PlannedMatch> planned;
    size_t expected = 0;
    const bool ok = config.sampled ? planSampled(config, versions, rounds, planned, expected)
                                   : planRoundRobin(config, versions, rounds, planned);
    LeagueProgress limits;
    if (!ok || !keepEarlierLimits(config, limits) || !syncMatches(planned, progress)) {
        m_db->rollback();
        return false;
    }
    m_expected = expected;
    progress.expected = std::max(expected, progress.needed);
    progress.changed = changed;
    progress.limitBefore = limits.limitBefore;
    progress.kept = limits.kept;
    return m_db->commit() || fail("cannot commit the plan");
}

bool League::progress(LeagueProgress& out) {
    std::lock_guard<std::mutex> lock(m_lock);
    out = LeagueProgress();
    if (!m_db->query("SELECT status, COUNT(*) FROM matches WHERE needed = 1 GROUP BY status", {},
                     [&](const SqlRow& row) {
                         const auto n = static_cast<size_t>(row.integer(1));
                         out.needed += n;
                         out.done += row.text(0) == "done" ? n : 0;
                         out.claimed += row.text(0) == "claimed" ? n : 0;
                     })) {
        return fail("cannot count the matches");
    }
    out.expected = std::max(m_expected, out.needed);
    return true;
}

bool League::claimNext(const std::string& worker, unsigned leaseSeconds, LeagueMatch& out,
                       bool& found) {
    std::lock_guard<std::mutex> lock(m_lock);
    const std::int64_t t = now();
    return m_matches.claimNext(worker, t, t + leaseSeconds, out, found) ||
           fail("cannot claim a match");
}

bool League::renew(std::int64_t id, const std::string& worker, unsigned leaseSeconds, bool& held) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.renew(id, worker, now() + leaseSeconds, held) || fail("cannot renew");
}

bool League::release(std::int64_t id, const std::string& worker) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.release(id, worker) || fail("cannot release a match");
}

bool League::storeResult(std::int64_t id, const std::string& worker, const MatchRecord& record,
                         bool& stored) {
    LeagueRecord read;
    std::string problem;
    stored = false;
    if (!LeagueRecord::read(record, read, problem)) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_error = "match " + std::to_string(id) + ": " + problem;
        return false;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.store(id, worker, now(), read.result, stored) ||
           fail("cannot store match " + std::to_string(id));
}

bool League::importRecord(const json& record, bool& added) {
    LeagueRecord read;
    std::string problem;
    added = false;
    std::lock_guard<std::mutex> lock(m_lock);
    if (!LeagueRecord::read(record, read, problem)) {
        m_error = problem;
        return false;
    }
    LeagueMap wanted;
    wanted.name = read.mapName;
    wanted.text = read.mapText;
    wanted.seats = static_cast<int>(read.bots.size());
    LeagueMap map;
    PlannedMatch m;
    for (const auto& bot : read.bots) {
        BotVersion v;
        bool fresh = false;
        if (!m_bots.versionFor(bot.first, bot.second, "", "", now(), v, fresh)) {
            return fail("cannot add bot " + bot.first);
        }
        m.versions.push_back(v.id);
    }
    if (!m_maps.mapFor(wanted, map)) {
        return fail("cannot add map " + wanted.name);
    }
    m.mapId = map.id;
    m.round = read.round;
    m.timeMs = read.timeMs;
    m.depth = read.depth;
    m.key = LeaguePlanner::key(m.mapId, m.round, m.timeMs, m.depth, m.versions);
    std::unordered_map<std::string, MatchState> states;
    if (!m_matches.states(states)) {
        return fail("cannot read the league's matches");
    }
    const auto known = states.find(m.key);
    if (known != states.end() && known->second.done) {
        return true;
    }
    const std::string worker = "import";
    LeagueMatch claimed;
    bool found = false;
    const bool fresh = known == states.end();
    if (!m_db->begin() || (fresh && !m_matches.add({m})) || !m_db->commit() ||
        !m_matches.claimKey(m.key, worker, now(), claimed, found) || !found ||
        !m_matches.store(claimed.id, worker, now(), read.result, added)) {
        return fail("cannot import the match " + m.key);
    }
    return true;
}

bool League::rename(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> lock(m_lock);
    const bool printable = std::all_of(to.begin(), to.end(), [](char c) {
        return static_cast<unsigned char>(c) > ' ' && c != 0x7f && c != '/';
    });
    if (to.empty() || to.size() > TournamentConfig::MAX_NAME_BYTES || !printable) {
        m_error = "a bot's name has 1 to " + std::to_string(TournamentConfig::MAX_NAME_BYTES) +
                  " bytes without spaces, '/' or control characters";
        return false;
    }
    std::int64_t taken = 0;
    std::int64_t renamed = 0;
    bool found = false;
    if (!m_db->scalar("SELECT COUNT(*) FROM bots WHERE name = ?", {to}, taken, found)) {
        return fail("cannot read the bots");
    }
    if (taken > 0) {
        m_error = "the league already has a bot named " + to;
        return false;
    }
    if (!m_db->query("UPDATE bots SET name = ? WHERE name = ? RETURNING id", {to, from},
                     [&](const SqlRow&) { ++renamed; })) {
        return fail("cannot rename " + from);
    }
    if (renamed == 0) {
        m_error = "the league has no bot named " + from;
        return false;
    }
    return true;
}

bool League::match(std::int64_t id, LeagueMatch& out, bool& found) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.match(id, out, found) || fail("cannot read a match");
}

bool League::record(std::int64_t id, json& out, bool& found) {
    std::lock_guard<std::mutex> lock(m_lock);
    std::string text;
    if (!m_matches.document(id, text, found)) {
        return fail("cannot read a record");
    }
    if (found) {
        std::string problem;
        found = BoundedFile::parseJson(text, out, problem);
    }
    return true;
}

bool League::versions(std::vector<BotVersion>& out) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bots.all(out) || fail("cannot read the bots");
}

bool League::maps(std::vector<LeagueMap>& out) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_maps.all(out) || fail("cannot read the maps");
}

bool League::finished(const std::function<void(const FinishedSeat&)>& each) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.finished(each) || fail("cannot read the results");
}

bool League::unfinished(const std::function<void(std::int64_t, const std::string&,
                                                 const std::string&, const std::string&)>& each) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.unfinished(each) || fail("cannot read the aborted matches");
}

bool League::limits(const std::function<void(int, int)>& each) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.limits(each) || fail("cannot read the limits");
}

bool League::limitsInForce(std::vector<LeagueLimit>& out) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.limitsInForce(out) || fail("cannot read the limits");
}

bool League::keptLimits(std::vector<std::pair<LeagueLimit, size_t>>& out) {
    std::lock_guard<std::mutex> lock(m_lock);
    out.clear();
    return m_matches.keptLimits([&](const LeagueLimit& limit, size_t count) {
        out.emplace_back(limit, count);
    }) || fail("cannot read the limits");
}

void League::setView(std::optional<LeagueLimit> limit) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_view = limit;
    m_matches.setView(limit);
}

std::optional<LeagueLimit> League::view() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_view;
}

bool League::failures(const std::function<void(const FailedSeat&)>& each) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_matches.failures(each) || fail("cannot read the failed matches");
}

bool League::reopenUnplayed(std::int64_t& reopened) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_matches.reopenUnplayed(reopened)) {
        m_db->rollback();
        return fail("cannot reopen the unplayed matches");
    }
    return true;
}

bool League::snapshot(const std::string& scope, const std::vector<RatingEntry>& entries) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ratings.add(now(), scope, entries) || fail("cannot store the ratings");
}
