#include "LeagueSchema.h"

#include "Migrations.h"

#include <vector>

namespace {

/// "{id}" stands for the dialect's auto-numbered primary key. Each statement is one string
/// literal written over several lines, which the comma check takes for a missing comma.
// NOLINTBEGIN(bugprone-suspicious-missing-comma)
const std::vector<std::vector<std::string>>& migrations() {
    static const std::vector<std::vector<std::string>> steps{
        // 1: bots and their versions, maps (and openings derived from them), matches with
        // their claims, seats, record documents and ratings snapshots.
        {
            "CREATE TABLE bots (id {id}, name TEXT NOT NULL UNIQUE, created BIGINT NOT NULL)",
            "CREATE TABLE bot_versions (id {id}, bot_id BIGINT NOT NULL REFERENCES bots(id), "
            "version INTEGER NOT NULL, command TEXT NOT NULL, dir TEXT NOT NULL, "
            "created BIGINT NOT NULL, current INTEGER NOT NULL DEFAULT 0, UNIQUE (bot_id, "
            "command), "
            "UNIQUE (bot_id, version))",
            "CREATE TABLE maps (id {id}, name TEXT NOT NULL, text TEXT NOT NULL, "
            "digest TEXT NOT NULL, seats INTEGER NOT NULL, base_id BIGINT NOT NULL DEFAULT 0, "
            "plies INTEGER NOT NULL DEFAULT 0, current INTEGER NOT NULL DEFAULT 0, "
            "UNIQUE (digest, base_id, plies))",
            "CREATE TABLE matches (id {id}, key TEXT NOT NULL UNIQUE, "
            "map_id BIGINT NOT NULL REFERENCES maps(id), round INTEGER NOT NULL, "
            "time_ms INTEGER NOT NULL, depth INTEGER NOT NULL, seed BIGINT NOT NULL, "
            "needed INTEGER NOT NULL DEFAULT 1, status TEXT NOT NULL DEFAULT 'pending', "
            "claimed_by TEXT, claimed_until BIGINT, "
            "attempts INTEGER NOT NULL DEFAULT 0, finished BIGINT, end_kind TEXT, reason TEXT, "
            "moves_digest TEXT, duration_s DOUBLE PRECISION)",
            "CREATE INDEX matches_status ON matches (needed, status, claimed_until)",
            "CREATE TABLE seats (match_id BIGINT NOT NULL REFERENCES matches(id), "
            "seat INTEGER NOT NULL, version_id BIGINT NOT NULL REFERENCES bot_versions(id), "
            "score INTEGER, rank INTEGER, disqualified TEXT, moves INTEGER NOT NULL DEFAULT 0, "
            "time_ms_sum BIGINT NOT NULL DEFAULT 0, time_ms_max INTEGER NOT NULL DEFAULT 0, "
            "PRIMARY KEY (match_id, seat))",
            "CREATE INDEX seats_version ON seats (version_id)",
            "CREATE TABLE records (match_id BIGINT PRIMARY KEY REFERENCES matches(id), "
            "document TEXT NOT NULL)",
            "CREATE TABLE ratings (id {id}, taken BIGINT NOT NULL, scope TEXT NOT NULL, "
            "version_id BIGINT NOT NULL REFERENCES bot_versions(id), matches INTEGER NOT NULL, "
            "elo DOUBLE PRECISION, low DOUBLE PRECISION, high DOUBLE PRECISION)",
        },
        // 2: bots entered beside the configuration's (a site's team bots), which every arena
        // opening the league plans with the configuration's.
        {
            "CREATE TABLE entries (id {id}, name TEXT NOT NULL UNIQUE, command TEXT NOT NULL, "
            "dir TEXT NOT NULL, entered BIGINT NOT NULL)",
        },
        // 3: a version is its command and the digest of its folder's content; SQLite cannot
        // change a table's constraints, so it builds the table anew (foreign keys off).
        {
            "postgres:ALTER TABLE bot_versions ADD COLUMN digest TEXT NOT NULL DEFAULT ''",
            "postgres:ALTER TABLE bot_versions DROP CONSTRAINT bot_versions_bot_id_command_key",
            "postgres:ALTER TABLE bot_versions ADD CONSTRAINT bot_versions_identity "
            "UNIQUE (bot_id, command, digest)",
            "sqlite:CREATE TABLE bot_versions_new (id {id}, "
            "bot_id BIGINT NOT NULL REFERENCES bots(id), version INTEGER NOT NULL, "
            "command TEXT NOT NULL, digest TEXT NOT NULL DEFAULT '', dir TEXT NOT NULL, "
            "created BIGINT NOT NULL, current INTEGER NOT NULL DEFAULT 0, "
            "UNIQUE (bot_id, command, digest), UNIQUE (bot_id, version))",
            "sqlite:INSERT INTO bot_versions_new (id, bot_id, version, command, dir, created, "
            "current) SELECT id, bot_id, version, command, dir, created, current "
            "FROM bot_versions",
            "sqlite:DROP TABLE bot_versions",
            "sqlite:ALTER TABLE bot_versions_new RENAME TO bot_versions",
        },
        // 4: the matches played under a limit no longer in force, kept apart as that limit's
        // standings. A league whose limit changed before this step keeps every match played
        // under another limit than the one in force.
        {
            "ALTER TABLE matches ADD COLUMN kept INTEGER NOT NULL DEFAULT 0",
            "UPDATE matches SET kept = 1 WHERE needed = 0 AND status = 'done' AND "
            "EXISTS (SELECT 1 FROM matches n WHERE n.needed = 1) AND NOT EXISTS (SELECT 1 "
            "FROM matches n WHERE n.needed = 1 AND n.time_ms = matches.time_ms AND "
            "n.depth = matches.depth)",
        },
        // 5: a seat's CPU time, null where its record does not give it.
        {
            "ALTER TABLE seats ADD COLUMN cpu_ms BIGINT",
        },
    };
    return steps;
}
// NOLINTEND(bugprone-suspicious-missing-comma)

/// Arbitrary, fixed: the key of the lock that serialises migrations on a shared server.
constexpr std::int64_t MIGRATION_LOCK = 0x6c65616775650001;

} // namespace

int LeagueSchema::latest() {
    return static_cast<int>(migrations().size());
}

bool LeagueSchema::migrate(SqlDatabase& db, std::string& error) {
    // SQLite rebuilds a table that others refer to: its foreign keys are checked again after
    // (the switch works only outside a transaction).
    const bool sqlite = db.dialect() == SqlDatabase::Dialect::Sqlite;
    if (sqlite && !db.exec("PRAGMA foreign_keys=OFF")) {
        error = "cannot prepare the league's schema: " + db.error();
        return false;
    }
    const Migrations::Set league{"schema_version", "league's", "migration ", MIGRATION_LOCK,
                                 &migrations()};
    const bool migrated = Migrations::apply(db, league, error);
    if (sqlite && !db.exec("PRAGMA foreign_keys=ON")) {
        error = "cannot check the league's references: " + db.error();
        return false;
    }
    return migrated;
}
