#pragma once
// The league's tables, built by numbered migrations applied in order when a league opens.

#include "SqlDatabase.h"

#include <string>

class LeagueSchema {
public:
    /// Applies every migration newer than the database's schema_version, each in its own
    /// transaction (PostgreSQL: under an advisory lock, so that two arenas starting at once
    /// do not both build the tables). False with the reason when a step fails or when the
    /// database is newer than this program.
    static bool migrate(SqlDatabase& db, std::string& error);
    /// The version this program's migrations reach.
    static int latest();

private:
    static bool migrateSteps(SqlDatabase& db, std::string& error);
};
