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
    /// string), "openings" (plies, 0 to MAX_OPENING_PLIES), "lease" (seconds), "schedule"
    /// ("round-robin", the default, or "sampled") and "matches_per_version" (sampled only, 1 to
    /// MAX_MATCHES_PER_VERSION, default DEFAULT_MATCHES_PER_VERSION).
    bool loadLeague(const std::string& fileOrDir, std::string& error);

    /// The league's folder: the configuration's; logs and map files are kept there.
    std::string folder;
    std::string file;
    std::string database;
    unsigned openings = 0;
    unsigned leaseSeconds = DEFAULT_LEASE;
    /// Sampled scheduling: each current version plays about `matchesPerVersion` matches per
    /// map against sampled line-ups; otherwise every line-up plays (a round robin).
    bool sampled = false;
    unsigned matchesPerVersion = DEFAULT_MATCHES_PER_VERSION;
    /// The limit as the matches keep it: exactly one is non-zero.
    int timeMs() const { return static_cast<int>(time * 1000.0); }
    int depthLimit() const { return time > 0 ? 0 : static_cast<int>(depth); }

    static constexpr unsigned MAX_OPENING_PLIES = 40;
    static constexpr unsigned DEFAULT_LEASE = 60;
    static constexpr unsigned MAX_LEASE = 3600;
    static constexpr unsigned DEFAULT_MATCHES_PER_VERSION = 12;
    static constexpr unsigned MAX_MATCHES_PER_VERSION = 10000;
    /// The largest round robin a league plans; larger ones are refused in favour of sampling.
    static constexpr uint64_t MAX_ROUND_ROBIN = 10000;

protected:
    void readKeys(JsonFields& fields) override;

private:
    /// An SQLite database must be a file whose path the system can open.
    void checkDatabase(JsonFields& fields);
    void readSchedule(JsonFields& fields);
};
