#pragma once
// Numbered schema migrations applied in order when a database opens: the league's tables and
// the site's are two sets, each versioned in its own table so that either can add steps
// without renumbering the other's.

#include "SqlDatabase.h"

#include <cstdint>
#include <string>
#include <vector>

class Migrations {
public:
    /// One set of migrations. A step is a list of statements in which "{id}" stands for the
    /// dialect's auto-numbered primary key; a statement for one dialect only starts with
    /// "sqlite:" or "postgres:". Steps are never edited once shipped.
    struct Set {
        std::string versionTable; ///< holds the version reached, one row per step applied
        std::string owner;        ///< as messages name it: "league's", "site's"
        std::string stepFailed;   ///< the start of the message of a failed step, before its number
        std::int64_t lockKey;     ///< PostgreSQL advisory lock that serialises two openers
        const std::vector<std::vector<std::string>>* steps;
    };

    /// Applies every step of `set` newer than the version the database holds, all in one
    /// transaction (on PostgreSQL under the set's advisory lock, so that two arenas opening
    /// one database at once do not both build the tables). False with the reason when a step
    /// fails or when the database is newer than this program; nothing is changed then. A
    /// read-only database is only checked: it must be at this program's version already.
    static bool apply(SqlDatabase& db, const Set& set, std::string& error);

    /// `sql` with "{id}" replaced by the dialect's auto-numbered primary key; empty when it is
    /// for the other dialect only.
    static std::string inDialect(std::string sql, SqlDatabase::Dialect dialect);
};
