#pragma once
// A league's configuration: a tournament configuration plus where its database lives, the
// openings and the claims' lease.

#include "TournamentConfig.h"

#include <string>

class LeagueConfig : public TournamentConfig {
public:
    /// Reads CONFIG.json, or DIR/league.json when given a folder, checked as a tournament
    /// configuration (relative paths from its folder) plus the league's own keys: "database"
    /// (an SQLite file, default league.db in the league's folder, or a PostgreSQL connection
    /// string), "openings" (plies, 0 to MAX_OPENING_PLIES) and "lease" (seconds).
    bool loadLeague(const std::string& fileOrDir, std::string& error);

    /// The league's folder: the configuration's; logs and map files are kept there.
    std::string folder;
    std::string file;
    std::string database;
    unsigned openings = 0;
    unsigned leaseSeconds = DEFAULT_LEASE;
    /// The limit as the matches keep it: exactly one is non-zero.
    int timeMs() const { return static_cast<int>(time * 1000.0); }
    int depthLimit() const { return time > 0 ? 0 : static_cast<int>(depth); }

    static constexpr unsigned MAX_OPENING_PLIES = 40;
    static constexpr unsigned DEFAULT_LEASE = 60;
    static constexpr unsigned MAX_LEASE = 3600;

protected:
    void readKeys(JsonFields& fields) override;

private:
    /// An SQLite database must be a file whose path the system can open.
    void checkDatabase(JsonFields& fields);
};
