#include "Migrations.h"

#include <utility>

namespace {

bool readVersion(SqlDatabase& db, const Migrations::Set& set, std::int64_t& version) {
    bool found = false;
    version = 0;
    return db.exec("CREATE TABLE IF NOT EXISTS " + set.versionTable +
                   " (version INTEGER NOT NULL)") &&
           db.scalar("SELECT MAX(version) FROM " + set.versionTable, {}, version, found);
}

bool applyStep(SqlDatabase& db, const Migrations::Set& set, size_t step) {
    for (const std::string& statement : (*set.steps)[step]) {
        const std::string sql = Migrations::inDialect(statement, db.dialect());
        if (!sql.empty() && !db.exec(sql)) {
            return false;
        }
    }
    return db.exec("INSERT INTO " + set.versionTable + " (version) VALUES (?)",
                   {static_cast<std::int64_t>(step + 1)});
}

bool lockAndRead(SqlDatabase& db, const Migrations::Set& set, std::int64_t& version) {
    return db.begin() &&
           (db.dialect() != SqlDatabase::Dialect::Postgres ||
            db.exec("SELECT pg_advisory_xact_lock(?)", {set.lockKey})) &&
           readVersion(db, set, version);
}

/// A database that cannot be written is used only at this program's version: migrating it
/// would need a write.
bool isCurrent(SqlDatabase& db, const Migrations::Set& set, std::string& error) {
    std::int64_t version = 0;
    bool found = false;
    if (!db.scalar("SELECT MAX(version) FROM " + set.versionTable, {}, version, found)) {
        error = "the database is read-only and holds no " + set.owner + " tables";
        return false;
    }
    const auto latest = static_cast<std::int64_t>(set.steps->size());
    if (version != latest) {
        error = "the database is read-only and has the " + set.owner + " schema version " +
                std::to_string(version) + ", not this arena's " + std::to_string(latest) +
                (version < latest ? ": open it once where it may be written" : "");
        return false;
    }
    return true;
}

} // namespace

std::string Migrations::inDialect(std::string sql, SqlDatabase::Dialect dialect) {
    const bool postgres = dialect == SqlDatabase::Dialect::Postgres;
    for (const auto& [prefix, mine] : {std::make_pair(std::string("sqlite:"), !postgres),
                                       std::make_pair(std::string("postgres:"), postgres)}) {
        if (sql.compare(0, prefix.size(), prefix) == 0) {
            if (!mine) {
                return "";
            }
            sql.erase(0, prefix.size());
            break;
        }
    }
    const std::string id = postgres ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT";
    const size_t at = sql.find("{id}");
    if (at != std::string::npos) {
        sql.replace(at, 4, id);
    }
    return sql;
}

bool Migrations::apply(SqlDatabase& db, const Set& set, std::string& error) {
    if (db.readOnly()) {
        return isCurrent(db, set, error);
    }
    std::int64_t version = 0;
    const auto latest = static_cast<std::int64_t>(set.steps->size());
    if (!lockAndRead(db, set, version)) {
        error = "cannot read the " + set.owner + " schema version: " + db.error();
        db.rollback();
        return false;
    }
    if (version > latest) {
        error = "the " + set.owner + " database has schema version " + std::to_string(version) +
                ", newer than this arena's " + std::to_string(latest);
        db.rollback();
        return false;
    }
    for (auto step = static_cast<size_t>(version); step < set.steps->size(); ++step) {
        if (!applyStep(db, set, step)) {
            error = set.stepFailed + std::to_string(step + 1) + " failed: " + db.error();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        error = "cannot commit the " + set.owner + " schema: " + db.error();
        return false;
    }
    return true;
}
