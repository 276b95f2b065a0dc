#include "TeamStore.h"

#include "League.h"
#include "Migrations.h"
#include "SqlDatabase.h"
#include "TeamToken.h"

#include <ctime>

namespace {

/// The site's own tables, after the league's, versioned apart from them ("serve_schema") so
/// that either side can add steps without renumbering the other's. "{id}" is the dialect's
/// auto-numbered key.
const std::vector<std::vector<std::string>>& migrations() {
    static const std::vector<std::vector<std::string>> steps{
        // 1: teams with their tokens' hashes, and their submissions with the build logs.
        {
            "CREATE TABLE teams (id {id}, name TEXT NOT NULL UNIQUE, token_hash TEXT NOT NULL, "
            "created BIGINT NOT NULL)",
            "CREATE TABLE submissions (id {id}, team_id BIGINT NOT NULL REFERENCES teams(id), "
            "bot TEXT NOT NULL, folder TEXT NOT NULL, state TEXT NOT NULL, "
            "log TEXT NOT NULL DEFAULT '', created BIGINT NOT NULL)",
            "CREATE INDEX submissions_team ON submissions (team_id)",
        },
        // 2: the bots each team owns, by record, and teams that are removed; the bots of
        // earlier submissions are their teams'.
        {
            "ALTER TABLE teams ADD COLUMN removed BIGINT NOT NULL DEFAULT 0",
            "CREATE TABLE team_bots (id {id}, team_id BIGINT NOT NULL REFERENCES teams(id), "
            "bot TEXT NOT NULL, name TEXT NOT NULL UNIQUE, withdrawn BIGINT NOT NULL DEFAULT 0, "
            "created BIGINT NOT NULL, UNIQUE (team_id, bot))",
            "INSERT INTO team_bots (team_id, bot, name, created) SELECT s.team_id, s.bot, "
            "t.name || '.' || s.bot, MIN(s.created) FROM submissions s JOIN teams t ON t.id = "
            "s.team_id GROUP BY s.team_id, s.bot, t.name",
        },
    };
    return steps;
}

constexpr size_t maxNameBytes = 32;
constexpr std::int64_t secondsPerHour = 3600;

/// Bots a team has in the league: not withdrawn, with a version built or on its way.
const std::string inLeague =
    "tb.withdrawn = 0 AND EXISTS (SELECT 1 FROM submissions s WHERE s.team_id = tb.team_id "
    "AND s.bot = tb.bot AND s.state <> 'failed')";

/// Arbitrary, fixed, apart from the league's: serialises the site's migrations.
constexpr std::int64_t MIGRATION_LOCK = 0x7365727665000001;

std::string isoTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace

std::string SubmissionRow::command() const {
    return "./run # upload " + std::to_string(id) + " of " + created;
}

TeamStore::TeamStore() = default;
TeamStore::~TeamStore() = default;

bool TeamStore::open(const std::string& database, std::string& error) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_db = SqlDatabase::open(database, error);
    if (!m_db) {
        return false;
    }
    const Migrations::Set site{"serve_schema", "site's", "the site's migration ", MIGRATION_LOCK,
                               &migrations()};
    return Migrations::apply(*m_db, site, error);
}

bool TeamStore::validName(const std::string& name) {
    if (name.empty() || name.size() > maxNameBytes) {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool TeamStore::addTeam(const std::string& name, const std::string& tokenHash, std::string& error) {
    if (!validName(name)) {
        error = "a team's name is 1 to 32 letters, digits, '-' or '_'";
        return false;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_db->exec("INSERT INTO teams (name, token_hash, created) VALUES (?, ?, ?)",
                    {name, tokenHash, League::now()})) {
        error = "there is a team named '" + name + "' already";
        return false;
    }
    return true;
}

std::optional<Team> TeamStore::authenticate(const std::string& token) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::optional<Team> found;
    // Every team is compared, with no early exit: the time taken does not tell which matched.
    m_db->query("SELECT id, name, token_hash FROM teams WHERE removed = 0 AND token_hash <> ''", {},
                [&](const SqlRow& row) {
                    if (TeamToken::matches(token, row.text(2))) {
                        found = Team{row.integer(0), row.text(1)};
                    }
                });
    return found;
}

std::string TeamStore::leagueName(const std::string& team, const std::string& bot) {
    return team + "." + bot;
}

int64_t TeamStore::count(const std::string& sql, const std::vector<SqlValue>& params) {
    std::int64_t value = 0;
    bool found = false;
    m_db->scalar(sql, params, value, found);
    return value;
}

int64_t TeamStore::teamId(const std::string& name) {
    return count("SELECT COALESCE(MAX(id), 0) FROM teams WHERE name = ? AND removed = 0", {name});
}

std::vector<TeamSummary> TeamStore::teams() {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<TeamSummary> out;
    m_db->query("SELECT t.name, t.created, CASE WHEN t.token_hash = '' THEN 0 ELSE 1 END, (SELECT "
                "COUNT(*) FROM team_bots tb "
                "WHERE tb.team_id = t.id AND " +
                    inLeague +
                    "), (SELECT COUNT(*) FROM submissions s WHERE s.team_id = t.id), "
                    "(SELECT COALESCE(MAX(s.created), 0) FROM submissions s WHERE s.team_id = "
                    "t.id) FROM teams t WHERE t.removed = 0 ORDER BY t.name",
                {}, [&](const SqlRow& row) {
                    out.push_back({row.text(0), isoTime(row.integer(1)), row.integer(2) != 0,
                                   row.integer(3), row.integer(4),
                                   row.integer(5) == 0 ? "" : isoTime(row.integer(5))});
                });
    return out;
}

bool TeamStore::setToken(const std::string& name, const std::string& tokenHash,
                         std::string& error) {
    std::lock_guard<std::mutex> hold(m_lock);
    const int64_t id = teamId(name);
    if (id == 0) {
        error = "there is no team named '" + name + "'";
        return false;
    }
    if (!m_db->exec("UPDATE teams SET token_hash = ? WHERE id = ?", {tokenHash, id})) {
        error = "cannot change the team's token: " + m_db->error();
        return false;
    }
    return true;
}

bool TeamStore::removeTeam(const std::string& name, std::string& error) {
    std::lock_guard<std::mutex> hold(m_lock);
    const int64_t id = teamId(name);
    if (id == 0) {
        error = "there is no team named '" + name + "'";
        return false;
    }
    const std::int64_t now = League::now();
    if (!m_db->begin() ||
        !m_db->exec("UPDATE teams SET removed = ?, token_hash = '' WHERE id = ?", {now, id}) ||
        !m_db->exec("UPDATE team_bots SET withdrawn = ? WHERE team_id = ? AND withdrawn = 0",
                    {now, id}) ||
        !m_db->commit()) {
        error = "cannot remove the team: " + m_db->error();
        m_db->rollback();
        return false;
    }
    return true;
}

bool TeamStore::withdraw(const std::string& leagueName, std::string& error) {
    std::lock_guard<std::mutex> hold(m_lock);
    const int64_t id =
        count("SELECT COALESCE(MAX(id), 0) FROM team_bots WHERE name = ?", {leagueName});
    if (id == 0) {
        error = "no team has a bot named '" + leagueName + "' (TEAM.BOT); the organiser's bots " +
                "leave the league when they leave its configuration";
        return false;
    }
    if (count("SELECT withdrawn FROM team_bots WHERE id = ?", {id}) != 0) {
        error = leagueName + " is withdrawn already";
        return false;
    }
    if (!m_db->exec("UPDATE team_bots SET withdrawn = ? WHERE id = ?", {League::now(), id})) {
        error = "cannot withdraw the bot: " + m_db->error();
        return false;
    }
    return true;
}

std::optional<int64_t> TeamStore::ownerOf(const std::string& leagueName) {
    std::lock_guard<std::mutex> hold(m_lock);
    const int64_t team =
        count("SELECT COALESCE(MAX(team_id), 0) FROM team_bots WHERE name = ?", {leagueName});
    return team == 0 ? std::nullopt : std::optional<int64_t>(team);
}

std::string TeamStore::namespaceOf(const std::string& name) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos) {
        return "";
    }
    const std::string team = name.substr(0, dot);
    std::lock_guard<std::mutex> hold(m_lock);
    // Removed teams keep their names, and so their name spaces.
    return count("SELECT COUNT(*) FROM teams WHERE name = ?", {team}) > 0 ? team : "";
}

std::string TeamStore::checkLimits(int64_t teamId, const std::string& bot,
                                   const TeamLimits& limits) {
    if (count("SELECT COUNT(*) FROM submissions WHERE team_id = ? AND state IN ('unpacking', "
              "'building')",
              {teamId}) >= limits.queuedBuilds) {
        return "over the team's limit queued_builds: at most " +
               std::to_string(limits.queuedBuilds) +
               " uploads may wait for their build; send again when one has ended";
    }
    if (count("SELECT COUNT(*) FROM submissions WHERE team_id = ? AND created > ?",
              {teamId, League::now() - secondsPerHour}) >= limits.uploadsPerHour) {
        return "over the team's limit uploads_per_hour: at most " +
               std::to_string(limits.uploadsPerHour) + " uploads an hour";
    }
    const std::string bots =
        "SELECT COUNT(*) FROM team_bots tb WHERE tb.team_id = ? AND " + inLeague;
    if (count(bots + " AND tb.bot = ?", {teamId, bot}) == 0 &&
        count(bots, {teamId}) >= limits.bots) {
        return "over the team's limit bots: at most " + std::to_string(limits.bots) +
               " bots in the league at once; send a new version of one, or ask the organiser "
               "to withdraw one";
    }
    return "";
}

std::string TeamStore::overLimit(int64_t teamId, const std::string& bot, const TeamLimits& limits) {
    std::lock_guard<std::mutex> hold(m_lock);
    return checkLimits(teamId, bot, limits);
}

int64_t TeamStore::reserveUpload(int64_t teamId, const std::string& bot, const std::string& folder,
                                 const TeamLimits& limits, std::string& refusal) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_db->begin()) {
        refusal = "the league's database failed: " + m_db->error();
        return 0;
    }
    refusal = checkLimits(teamId, bot, limits);
    if (!refusal.empty()) {
        m_db->rollback();
        return 0;
    }
    std::string team;
    m_db->query("SELECT name FROM teams WHERE id = ?", {teamId},
                [&](const SqlRow& row) { team = row.text(0); });
    const std::int64_t now = League::now();
    std::int64_t id = 0;
    bool found = false;
    if (!m_db->exec("INSERT INTO team_bots (team_id, bot, name, created) VALUES (?, ?, ?, ?) "
                    "ON CONFLICT DO NOTHING",
                    {teamId, bot, leagueName(team, bot), now}) ||
        !m_db->scalar("INSERT INTO submissions (team_id, bot, folder, state, created) "
                      "VALUES (?, ?, ?, 'unpacking', ?) RETURNING id",
                      {teamId, bot, folder, now}, id, found) ||
        !m_db->commit()) {
        refusal = "the league's database failed: " + m_db->error();
        m_db->rollback();
        return 0;
    }
    return id;
}

void TeamStore::unpacked(int64_t id) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_db->exec("UPDATE submissions SET state = 'building' WHERE id = ?", {id});
}

void TeamStore::dropUpload(int64_t id) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_db->exec("DELETE FROM submissions WHERE id = ? AND state = 'unpacking'", {id});
}

bool TeamStore::finishBuild(int64_t id, bool built, const std::string& log) {
    std::lock_guard<std::mutex> hold(m_lock);
    const bool ok =
        m_db->begin() &&
        m_db->exec("UPDATE submissions SET state = ?, log = ? WHERE id = ?",
                   {std::string(built ? "built" : "failed"), log, id}) &&
        (!built || m_db->exec("UPDATE team_bots SET withdrawn = 0 WHERE EXISTS (SELECT 1 FROM "
                              "submissions s WHERE s.id = ? AND s.team_id = team_bots.team_id "
                              "AND s.bot = team_bots.bot)",
                              {id})) &&
        m_db->commit();
    if (!ok) {
        m_db->rollback();
    }
    return ok;
}

int64_t TeamStore::rosterStamp() {
    std::lock_guard<std::mutex> hold(m_lock);
    return count("SELECT COUNT(*) + COALESCE(SUM(withdrawn), 0) FROM team_bots", {}) +
           count("SELECT COALESCE(SUM(removed), 0) FROM teams", {});
}

std::vector<std::string> TeamStore::abandonedUploads() {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::string> folders;
    m_db->query("SELECT folder FROM submissions WHERE state = 'unpacking'", {},
                [&](const SqlRow& row) { folders.push_back(row.text(0)); });
    m_db->exec("DELETE FROM submissions WHERE state = 'unpacking'");
    return folders;
}

std::set<std::string> TeamStore::folders() {
    std::lock_guard<std::mutex> hold(m_lock);
    std::set<std::string> out;
    m_db->query("SELECT folder FROM submissions", {},
                [&](const SqlRow& row) { out.insert(row.text(0)); });
    return out;
}

std::optional<SubmissionRow> TeamStore::submission(int64_t id) {
    auto rows = querySubmissions("s.id = ?", {id}, true);
    if (rows.empty()) {
        return std::nullopt;
    }
    return rows.front();
}

std::vector<SubmissionRow> TeamStore::submissions(int64_t teamId) {
    return querySubmissions("s.team_id = ?", {teamId}, false);
}

std::vector<SubmissionRow> TeamStore::unfinishedBuilds() {
    return querySubmissions("s.state = 'building'", {}, false);
}

std::vector<SubmissionRow> TeamStore::latestBuilt() {
    return querySubmissions(
        "s.id IN (SELECT MAX(s2.id) FROM submissions s2 JOIN team_bots tb ON tb.team_id = "
        "s2.team_id AND tb.bot = s2.bot JOIN teams t2 ON t2.id = s2.team_id WHERE s2.state = "
        "'built' AND tb.withdrawn = 0 AND t2.removed = 0 GROUP BY s2.team_id, s2.bot)",
        {}, false);
}

std::vector<SubmissionRow> TeamStore::querySubmissions(const std::string& where,
                                                       const std::vector<SqlValue>& params,
                                                       bool withLog) {
    std::lock_guard<std::mutex> hold(m_lock);
    const std::string sql = std::string("SELECT s.id, s.team_id, t.name, s.bot, s.folder, "
                                        "s.state, ") +
                            (withLog ? "s.log" : "''") +
                            ", s.created FROM submissions s JOIN teams t ON t.id = s.team_id "
                            "WHERE " +
                            where + " ORDER BY s.id DESC";
    std::vector<SubmissionRow> rows;
    m_db->query(sql, params, [&](const SqlRow& row) {
        rows.push_back({row.integer(0), row.integer(1), row.text(2), row.text(3), row.text(4),
                        row.text(5), row.text(6), isoTime(row.integer(7))});
    });
    return rows;
}
