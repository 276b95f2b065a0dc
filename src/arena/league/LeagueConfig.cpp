#include "LeagueConfig.h"

#include "SqlDatabase.h"

#include <filesystem>

namespace fs = std::filesystem;

void LeagueConfig::readKeys(JsonFields& fields) {
    TournamentConfig::readKeys(fields);
    database = "league.db";
    openings = 0;
    leaseSeconds = DEFAULT_LEASE;
    fields.text("database", MAX_TEXT_BYTES, database);
    fields.whole("openings", 0u, MAX_OPENING_PLIES, openings);
    fields.whole("lease", 1u, MAX_LEASE, leaseSeconds);
    readSchedule(fields);
    checkDatabase(fields);
}

void LeagueConfig::checkDatabase(JsonFields& fields) {
    if (!fields.ok() || SqlDatabase::isPostgres(database)) {
        return;
    }
    if (database.empty()) {
        fields.fail("database", "must not be empty");
    } else if (database == ":memory:") {
        fields.fail("database", "must name a file or a PostgreSQL server, not \":memory:\" (a "
                                "league kept in memory is forgotten when the run ends)");
    } else if (!JsonFields::fitsPath(database)) {
        fields.fail("database", "must be " + JsonFields::pathBounds());
    } else {
        database = absolute(database);
    }
}

void LeagueConfig::readSchedule(JsonFields& fields) {
    std::string schedule = "round-robin";
    matchesPerVersion = DEFAULT_MATCHES_PER_VERSION;
    fields.text("schedule", MAX_NAME_BYTES, schedule);
    if (fields.ok() && schedule != "round-robin" && schedule != "sampled") {
        fields.fail("schedule", "must be \"round-robin\" or \"sampled\"");
    }
    sampled = schedule == "sampled";
    if (!sampled && fields.has("matches_per_version")) {
        fields.fail("matches_per_version", "needs \"schedule\": \"sampled\"");
    }
    fields.whole("matches_per_version", 1u, MAX_MATCHES_PER_VERSION, matchesPerVersion);
}

bool LeagueConfig::loadLeague(const std::string& fileOrDir, std::string& error) {
    std::error_code ec;
    file = fs::is_directory(fileOrDir, ec) ? (fs::path(fileOrDir) / "league.json").string()
                                           : fileOrDir;
    folder = fs::absolute(fs::path(file), ec).parent_path().string();
    return load(file, error);
}
