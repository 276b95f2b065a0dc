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
    };
    return steps;
}

constexpr size_t maxNameBytes = 32;

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
    m_db->query("SELECT id, name, token_hash FROM teams", {}, [&](const SqlRow& row) {
        if (TeamToken::matches(token, row.text(2))) {
            found = Team{row.integer(0), row.text(1)};
        }
    });
    return found;
}

int64_t TeamStore::addSubmission(int64_t teamId, const std::string& bot,
                                 const std::string& folder) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::int64_t id = 0;
    bool found = false;
    m_db->scalar("INSERT INTO submissions (team_id, bot, folder, state, created) "
                 "VALUES (?, ?, ?, 'building', ?) RETURNING id",
                 {teamId, bot, folder, League::now()}, id, found);
    return id;
}

void TeamStore::finishBuild(int64_t id, bool built, const std::string& log) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_db->exec("UPDATE submissions SET state = ?, log = ? WHERE id = ?",
               {std::string(built ? "built" : "failed"), log, id});
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
    return querySubmissions("s.id IN (SELECT MAX(id) FROM submissions WHERE state = 'built' "
                            "GROUP BY team_id, bot)",
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
