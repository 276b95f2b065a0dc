#pragma once
// A PostgreSQL server shared by every arena of a league, through libpq.

#include "SqlDatabase.h"

#include <map>

struct pg_conn;

class PostgresDatabase : public SqlDatabase {
public:
    /// Seconds a connection may take before it is given up (a server that accepts and never
    /// answers included), and milliseconds the server may spend on one statement; a target
    /// naming "connect_timeout" or "options" itself overrides them.
    static constexpr unsigned CONNECT_TIMEOUT_S = 10;
    static constexpr unsigned STATEMENT_TIMEOUT_MS = 60000;

    /// Connects with a libpq connection string (URI or key=value words).
    static std::unique_ptr<PostgresDatabase> connect(const std::string& target, std::string& error);
    ~PostgresDatabase() override;

    Dialect dialect() const override { return Dialect::Postgres; }
    bool query(const std::string& sql, const std::vector<SqlValue>& params,
               const std::function<void(const SqlRow&)>& each) override;
    bool begin() override { return exec("BEGIN"); }

    /// The statement with its "?" placeholders numbered $1, $2... (none inside quotes).
    static std::string numbered(const std::string& sql);

private:
    explicit PostgresDatabase(pg_conn* connection) : m_connection(connection) {}

    pg_conn* m_connection;
    std::map<std::string, std::string> m_numbered;
};
