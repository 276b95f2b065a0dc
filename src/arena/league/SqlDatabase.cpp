#include "SqlDatabase.h"

#include "PostgresDatabase.h"
#include "SqliteDatabase.h"

std::unique_ptr<SqlDatabase> SqlDatabase::open(const std::string& target, std::string& error) {
    if (isPostgres(target)) {
        return PostgresDatabase::connect(target, error);
    }
    return SqliteDatabase::openFile(target, error);
}

bool SqlDatabase::isPostgres(const std::string& target) {
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0 ||
           target.find('=') != std::string::npos;
}

bool SqlDatabase::scalar(const std::string& sql, const std::vector<SqlValue>& params,
                         std::int64_t& value, bool& found) {
    found = false;
    return query(sql, params, [&](const SqlRow& row) {
        if (!found) {
            value = row.integer(0);
            found = true;
        }
    });
}

bool SqlDatabase::markCurrent(const std::string& table, const std::vector<std::int64_t>& ids) {
    if (!exec("UPDATE " + table + " SET current = 0 WHERE current <> 0")) {
        return false;
    }
    for (const std::int64_t id : ids) {
        if (!exec("UPDATE " + table + " SET current = 1 WHERE id = ?", {id})) {
            return false;
        }
    }
    return true;
}

void SqlDatabase::rollback() {
    const std::string first = m_error;
    const bool busy = m_busy;
    exec("ROLLBACK");
    m_error = first;
    m_busy = busy;
}
