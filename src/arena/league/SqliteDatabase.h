#pragma once
// The embedded database: one SQLite file.

#include "SqlDatabase.h"

#include <map>

struct sqlite3;
struct sqlite3_stmt;

class SqliteDatabase : public SqlDatabase {
public:
    /// Opens (or makes) the file in WAL mode with a generous busy timeout, so that several
    /// arenas on one machine can share it. A file this process may not write (a copy, a
    /// read-only mount, another user's league) is opened read-only and left exactly as it is:
    /// every read works, every write fails with the database's reason.
    static std::unique_ptr<SqliteDatabase> openFile(const std::string& path, std::string& error);
    /// Milliseconds a statement waits for another writer's lock before it fails as busy():
    /// 60,000 unless set (for the files opened after; tests set it short).
    static void setBusyTimeout(int milliseconds);
    ~SqliteDatabase() override;

    Dialect dialect() const override { return Dialect::Sqlite; }
    bool readOnly() const override;
    bool query(const std::string& sql, const std::vector<SqlValue>& params,
               const std::function<void(const SqlRow&)>& each) override;
    bool begin() override { return exec("BEGIN IMMEDIATE"); }

private:
    explicit SqliteDatabase(sqlite3* db) : m_db(db) {}
    static std::unique_ptr<SqliteDatabase> openReadOnly(const std::string& path,
                                                        std::string& error);
    /// Opens the file as the URI `uri` with `flags`; null with the reason in `error`.
    static std::unique_ptr<SqliteDatabase> connect(const std::string& path, const std::string& uri,
                                                   int flags, std::string& error);
    sqlite3_stmt* prepared(const std::string& sql);
    bool bind(sqlite3_stmt* statement, const std::vector<SqlValue>& params);
    /// Takes the connection's last error as this database's.
    void failed();

    sqlite3* m_db;
    /// Statements are prepared once per text: the league repeats a few of them many times.
    std::map<std::string, sqlite3_stmt*> m_statements;
};
