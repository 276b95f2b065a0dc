#include "PostgresDatabase.h"

#include "Utf8.h"

#include <cstdlib>
#include <libpq-fe.h>
#include <sstream>
#include <string>

namespace {

class PostgresRow : public SqlRow {
public:
    PostgresRow(const PGresult* result, int row) : m_result(result), m_row(row) {}
    bool isNull(int column) const override { return PQgetisnull(m_result, m_row, column) != 0; }
    std::int64_t integer(int column) const override {
        return std::strtoll(PQgetvalue(m_result, m_row, column), nullptr, 10);
    }
    double real(int column) const override {
        return std::strtod(PQgetvalue(m_result, m_row, column), nullptr);
    }
    std::string text(int column) const override {
        return {PQgetvalue(m_result, m_row, column),
                static_cast<size_t>(PQgetlength(m_result, m_row, column))};
    }

private:
    const PGresult* m_result;
    int m_row;
};

/// Parameters in libpq's text form; reals keep every digit.
std::vector<std::string> texts(const std::vector<SqlValue>& params) {
    std::vector<std::string> out(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        const SqlValue& v = params[i];
        if (std::holds_alternative<std::int64_t>(v)) {
            out[i] = std::to_string(std::get<std::int64_t>(v));
        } else if (std::holds_alternative<double>(v)) {
            std::ostringstream s;
            s.precision(17);
            s << std::get<double>(v);
            out[i] = s.str();
        } else if (std::holds_alternative<std::string>(v)) {
            // The server refuses a text that is not UTF-8: it is repaired as SQLite's is.
            out[i] = Utf8::repaired(std::get<std::string>(v));
        }
    }
    return out;
}

/// A lock not granted, a statement cancelled by its time-out, a serialisation failure or a
/// deadlock: each may pass when tried again.
bool passing(const char* state) {
    if (state == nullptr) {
        return false;
    }
    const std::string code = state;
    return code == "55P03" || code == "57014" || code == "40001" || code == "40P01";
}

} // namespace

std::unique_ptr<PostgresDatabase> PostgresDatabase::connect(const std::string& target,
                                                            std::string& error) {
    // The target's own settings come after these defaults and override them.
    const std::string timeout = std::to_string(CONNECT_TIMEOUT_S);
    const std::string options = "-c statement_timeout=" + std::to_string(STATEMENT_TIMEOUT_MS);
    const char* const keys[] = {"connect_timeout", "options", "dbname", nullptr};
    const char* const values[] = {timeout.c_str(), options.c_str(), target.c_str(), nullptr};
    pg_conn* connection = PQconnectdbParams(keys, values, 1);
    if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
        error = std::string("PostgreSQL: ") +
                (connection != nullptr ? PQerrorMessage(connection) : "cannot connect");
        PQfinish(connection);
        return nullptr;
    }
    std::unique_ptr<PostgresDatabase> out(new PostgresDatabase(connection));
    // Lines of the server's notices ("relation exists, skipping") are not the arena's output.
    out->exec("SET client_min_messages TO WARNING");
    return out;
}

PostgresDatabase::~PostgresDatabase() {
    PQfinish(m_connection);
}

std::string PostgresDatabase::numbered(const std::string& sql) {
    std::string out;
    out.reserve(sql.size() + 16);
    bool quoted = false;
    unsigned n = 0;
    for (const char c : sql) {
        if (c == '\'') {
            quoted = !quoted;
        }
        if (c == '?' && !quoted) {
            out += '$' + std::to_string(++n);
        } else {
            out += c;
        }
    }
    return out;
}

bool PostgresDatabase::query(const std::string& sql, const std::vector<SqlValue>& params,
                             const std::function<void(const SqlRow&)>& each) {
    auto found = m_numbered.find(sql);
    if (found == m_numbered.end()) {
        found = m_numbered.emplace(sql, numbered(sql)).first;
    }
    const std::vector<std::string> values = texts(params);
    std::vector<const char*> pointers(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        pointers[i] =
            std::holds_alternative<std::nullptr_t>(params[i]) ? nullptr : values[i].c_str();
    }
    PGresult* result =
        PQexecParams(m_connection, found->second.c_str(), static_cast<int>(params.size()), nullptr,
                     pointers.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    m_busy = false;
    if (!ok) {
        m_error = PQresultErrorMessage(result);
        m_busy = passing(PQresultErrorField(result, PG_DIAG_SQLSTATE));
    } else if (each) {
        const int rows = PQntuples(result);
        for (int r = 0; r < rows; ++r) {
            each(PostgresRow(result, r));
        }
    }
    PQclear(result);
    return ok;
}
