#include "TeamStore.h"

#include "TeamToken.h"

#include <sqlite3.h>

namespace {

const char* const schema = R"SQL(
CREATE TABLE IF NOT EXISTS teams (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  token_hash TEXT NOT NULL,
  created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')));
CREATE TABLE IF NOT EXISTS submissions (
  id INTEGER PRIMARY KEY,
  team_id INTEGER NOT NULL REFERENCES teams(id),
  bot TEXT NOT NULL,
  folder TEXT NOT NULL,
  state TEXT NOT NULL DEFAULT 'building',
  log TEXT NOT NULL DEFAULT '',
  created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')));
)SQL";

constexpr size_t maxNameBytes = 32;

/// A prepared statement finalised when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const std::string& text) {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, int64_t value) {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    /// True while there is a row.
    bool step() { return m_stmt != nullptr && sqlite3_step(m_stmt) == SQLITE_ROW; }
    /// SQLITE_DONE when a statement without rows succeeded.
    int run() { return m_stmt != nullptr ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column) const {
        const auto* bytes = sqlite3_column_text(m_stmt, column);
        return bytes != nullptr
                   ? std::string(reinterpret_cast<const char*>(bytes),
                                 static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                   : std::string();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace

TeamStore::~TeamStore() {
    sqlite3_close(m_db);
}

bool TeamStore::open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK) {
        error = "cannot open " + path + ": " + sqlite3_errmsg(m_db);
        return false;
    }
    // The league's runner writes to the same file: wait for its locks rather than fail.
    sqlite3_busy_timeout(m_db, 5000);
    return exec("PRAGMA journal_mode=WAL", error) && exec(schema, error);
}

bool TeamStore::exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = std::string("database: ") + (message != nullptr ? message : "failed");
        sqlite3_free(message);
        return false;
    }
    return true;
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
    Statement insert(m_db, "INSERT INTO teams (name, token_hash) VALUES (?, ?)");
    if (insert.bind(1, name).bind(2, tokenHash).run() != SQLITE_DONE) {
        error = "there is a team named '" + name + "' already";
        return false;
    }
    return true;
}

std::vector<std::string> TeamStore::teamNames() {
    std::lock_guard<std::mutex> hold(m_lock);
    Statement query(m_db, "SELECT name FROM teams ORDER BY id");
    std::vector<std::string> names;
    while (query.step()) {
        names.push_back(query.text(0));
    }
    return names;
}

std::optional<Team> TeamStore::authenticate(const std::string& token) {
    std::lock_guard<std::mutex> hold(m_lock);
    Statement query(m_db, "SELECT id, name, token_hash FROM teams");
    std::optional<Team> found;
    // No early exit: the time taken does not depend on which team, if any, matched.
    while (query.step()) {
        if (TeamToken::matches(token, query.text(2))) {
            found = Team{query.integer(0), query.text(1)};
        }
    }
    return found;
}

int64_t TeamStore::addSubmission(int64_t teamId, const std::string& bot,
                                 const std::string& folder) {
    std::lock_guard<std::mutex> hold(m_lock);
    Statement insert(m_db, "INSERT INTO submissions (team_id, bot, folder) VALUES (?, ?, ?)");
    insert.bind(1, teamId).bind(2, bot).bind(3, folder).run();
    return sqlite3_last_insert_rowid(m_db);
}

void TeamStore::finishBuild(int64_t id, bool built, const std::string& log) {
    std::lock_guard<std::mutex> hold(m_lock);
    Statement update(m_db, "UPDATE submissions SET state = ?, log = ? WHERE id = ?");
    update.bind(1, std::string(built ? "built" : "failed")).bind(2, log).bind(3, id).run();
}

std::optional<SubmissionRow> TeamStore::submission(int64_t id) {
    auto rows = querySubmissions("s.id = ?", id, true);
    if (rows.empty()) {
        return std::nullopt;
    }
    return rows.front();
}

std::vector<SubmissionRow> TeamStore::submissions(int64_t teamId) {
    return querySubmissions("s.team_id = ?", teamId, false);
}

std::vector<SubmissionRow> TeamStore::unfinishedBuilds() {
    return querySubmissions("s.state = 'building'", 0, false);
}

std::vector<SubmissionRow> TeamStore::querySubmissions(const char* where, int64_t value,
                                                       bool withLog) {
    std::lock_guard<std::mutex> hold(m_lock);
    const std::string sql = std::string("SELECT s.id, s.team_id, t.name, s.bot, s.folder, "
                                        "s.state, ") +
                            (withLog ? "s.log" : "''") +
                            ", s.created FROM submissions s JOIN teams t ON t.id = s.team_id "
                            "WHERE " +
                            where + " ORDER BY s.id DESC";
    Statement query(m_db, sql.c_str());
    // A condition without a parameter ignores the value (sqlite3 refuses the bind, harmlessly).
    query.bind(1, value);
    std::vector<SubmissionRow> rows;
    while (query.step()) {
        rows.push_back({query.integer(0), query.integer(1), query.text(2), query.text(3),
                        query.text(4), query.text(5), query.text(6), query.text(7)});
    }
    return rows;
}
