#pragma once
// One small interface over the league's two databases: SQLite (embedded) and PostgreSQL.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

/// A bound parameter: SQL NULL, an integer, a real or a text.
using SqlValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;

/// One row of a result while a query walks it; valid only inside the callback.
class SqlRow {
public:
    virtual ~SqlRow() = default;
    virtual bool isNull(int column) const = 0;
    /// 0 for NULL.
    virtual std::int64_t integer(int column) const = 0;
    virtual double real(int column) const = 0;
    /// "" for NULL.
    virtual std::string text(int column) const = 0;
};

/// Statements are written once with "?" placeholders and bound parameters only; the
/// PostgreSQL side numbers them ($1, $2...). Every call returns false on failure and leaves
/// the database's message in error(). One connection: callers serialise access to it.
class SqlDatabase {
public:
    enum class Dialect { Sqlite, Postgres };

    virtual ~SqlDatabase() = default;
    SqlDatabase() = default;
    SqlDatabase(const SqlDatabase&) = delete;
    SqlDatabase& operator=(const SqlDatabase&) = delete;

    /// A PostgreSQL connection string ("postgresql://..." or "host=... dbname=...") connects
    /// to that server; anything else is the path of an SQLite file, made when missing.
    /// Null, with the reason in `error`, when it cannot be opened.
    static std::unique_ptr<SqlDatabase> open(const std::string& target, std::string& error);
    /// Whether `target` names a PostgreSQL server rather than an SQLite file.
    static bool isPostgres(const std::string& target);

    virtual Dialect dialect() const = 0;
    /// Whether every write to this database fails (an SQLite file this process may only read).
    virtual bool readOnly() const { return false; }
    /// Runs one statement; `each` (when given) sees every row it returns, in order.
    virtual bool query(const std::string& sql, const std::vector<SqlValue>& params,
                       const std::function<void(const SqlRow&)>& each) = 0;
    bool exec(const std::string& sql, const std::vector<SqlValue>& params = {}) {
        return query(sql, params, nullptr);
    }
    /// The first column of the first row, when there is one.
    bool scalar(const std::string& sql, const std::vector<SqlValue>& params, std::int64_t& value,
                bool& found);
    /// Sets the column `current` of the table's rows to 1 for exactly the ids given, 0 for every
    /// other row. `table` is one of the schema's names, never text from outside.
    bool markCurrent(const std::string& table, const std::vector<std::int64_t>& ids);

    /// A transaction that takes the write lock at once (SQLite: BEGIN IMMEDIATE), so that two
    /// writers never both read and then both fail to commit.
    virtual bool begin() = 0;
    bool commit() { return exec("COMMIT"); }
    /// Keeps the first error: a rollback after a failure must not hide why.
    void rollback();

    const std::string& error() const { return m_error; }
    /// Whether the last failure was another writer's lock or a time-out: one that may pass, so
    /// that the same work can be tried again later.
    bool busy() const { return m_busy; }

protected:
    std::string m_error;
    bool m_busy = false;
};
