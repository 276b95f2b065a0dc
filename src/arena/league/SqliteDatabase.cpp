#include "SqliteDatabase.h"

#include "Utf8.h"

#include <atomic>
#include <sqlite3.h>
#include <unistd.h>

namespace {

/// Milliseconds a writer waits for another one's lock before it gives up.
std::atomic<int> busyTimeoutMs{60000};

class SqliteRow : public SqlRow {
public:
    explicit SqliteRow(sqlite3_stmt* statement) : m_statement(statement) {}
    bool isNull(int column) const override {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }
    std::int64_t integer(int column) const override {
        return sqlite3_column_int64(m_statement, column);
    }
    double real(int column) const override { return sqlite3_column_double(m_statement, column); }
    std::string text(int column) const override {
        const unsigned char* text = sqlite3_column_text(m_statement, column);
        if (text == nullptr) {
            return {};
        }
        // A file written by something else may hold any bytes; the league's pages and
        // documents take UTF-8 only.
        return Utf8::repaired({reinterpret_cast<const char*>(text),
                               static_cast<size_t>(sqlite3_column_bytes(m_statement, column))});
    }

private:
    sqlite3_stmt* m_statement;
};

} // namespace

std::unique_ptr<SqliteDatabase> SqliteDatabase::connect(const std::string& path,
                                                        const std::string& uri, int flags,
                                                        std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(uri.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        error = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, busyTimeoutMs.load());
    return std::unique_ptr<SqliteDatabase>(new SqliteDatabase(db));
}

std::unique_ptr<SqliteDatabase> SqliteDatabase::openFile(const std::string& path,
                                                         std::string& error) {
    if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0) {
        return openReadOnly(path, error);
    }
    std::unique_ptr<SqliteDatabase> out =
        connect(path, path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (out && (!out->exec("PRAGMA journal_mode=WAL") || !out->exec("PRAGMA foreign_keys=ON"))) {
        error = path + ": " + out->error();
        return nullptr;
    }
    return out;
}

std::unique_ptr<SqliteDatabase> SqliteDatabase::openReadOnly(const std::string& path,
                                                             std::string& error) {
    // As a URI, so that the name may hold any byte ("%", "?" and "#" escaped).
    std::string uri = "file:";
    for (const char c : path) {
        uri += c == '%' ? "%25" : c == '?' ? "%3f" : c == '#' ? "%23" : std::string(1, c);
    }
    uri += "?mode=ro";
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    std::unique_ptr<SqliteDatabase> out = connect(path, uri, flags, error);
    if (out && !out->exec("SELECT COUNT(*) FROM sqlite_master")) {
        // A WAL file is read beside its shared-memory file, which a reader that may not write
        // the folder cannot make: such a file is read as it stands, a snapshot.
        out = connect(path, uri + "&immutable=1", flags, error);
    }
    if (out && !out->exec("PRAGMA foreign_keys=ON")) {
        error = path + ": " + out->error();
        return nullptr;
    }
    return out;
}

bool SqliteDatabase::readOnly() const {
    return sqlite3_db_readonly(m_db, "main") == 1;
}

void SqliteDatabase::setBusyTimeout(int milliseconds) {
    busyTimeoutMs = milliseconds;
}

void SqliteDatabase::failed() {
    m_error = sqlite3_errmsg(m_db);
    const int code = sqlite3_extended_errcode(m_db) & 0xff;
    m_busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

SqliteDatabase::~SqliteDatabase() {
    for (auto& entry : m_statements) {
        sqlite3_finalize(entry.second);
    }
    sqlite3_close(m_db);
}

sqlite3_stmt* SqliteDatabase::prepared(const std::string& sql) {
    auto found = m_statements.find(sql);
    if (found != m_statements.end()) {
        sqlite3_reset(found->second);
        sqlite3_clear_bindings(found->second);
        return found->second;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
        failed();
        return nullptr;
    }
    m_statements.emplace(sql, statement);
    return statement;
}

bool SqliteDatabase::bind(sqlite3_stmt* statement, const std::vector<SqlValue>& params) {
    int rc = SQLITE_OK;
    for (size_t i = 0; i < params.size() && rc == SQLITE_OK; ++i) {
        const int at = static_cast<int>(i + 1);
        const SqlValue& v = params[i];
        if (std::holds_alternative<std::int64_t>(v)) {
            rc = sqlite3_bind_int64(statement, at, std::get<std::int64_t>(v));
        } else if (std::holds_alternative<double>(v)) {
            rc = sqlite3_bind_double(statement, at, std::get<double>(v));
        } else if (std::holds_alternative<std::string>(v)) {
            const std::string s = Utf8::repaired(std::get<std::string>(v));
            rc = sqlite3_bind_text(statement, at, s.data(), static_cast<int>(s.size()),
                                   SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_null(statement, at);
        }
    }
    if (rc != SQLITE_OK) {
        failed();
        return false;
    }
    return true;
}

bool SqliteDatabase::query(const std::string& sql, const std::vector<SqlValue>& params,
                           const std::function<void(const SqlRow&)>& each) {
    m_busy = false;
    sqlite3_stmt* statement = prepared(sql);
    if (statement == nullptr || !bind(statement, params)) {
        return false;
    }
    const SqliteRow row(statement);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        if (each) {
            each(row);
        }
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok) {
        failed();
    }
    sqlite3_reset(statement);
    return ok;
}
