#pragma once
// A league's configuration: a tournament configuration plus where its database lives, the
// openings and the claims' lease.

#include <nlohmann/json.hpp>
#include <string>

class LeagueConfig {
public:
    /// Reads CONFIG.json, or DIR/league.json when given a folder, checked as a tournament
    /// configuration (relative paths from its folder) and then for the league's own keys:
    /// "database" (an SQLite file, default league.db in the league's folder, or a PostgreSQL
    /// connection string), "openings" (plies, 0 to MAX_OPENING_PLIES), "lease" (seconds).
    static bool load(const std::string& fileOrDir, LeagueConfig& out, std::string& error);

    /// The configuration as the tournament code leaves it (bots, maps, limit, rounds, seed...).
    nlohmann::json tournament;
    /// The league's folder: the configuration's; logs and map files are kept there.
    std::string folder;
    std::string file;
    std::string database;
    unsigned openings = 0;
    unsigned leaseSeconds = DEFAULT_LEASE;
    int timeMs = 0;
    int depth = 0;

    static constexpr unsigned MAX_OPENING_PLIES = 40;
    static constexpr unsigned DEFAULT_LEASE = 60;
    static constexpr unsigned MAX_LEASE = 3600;
    static constexpr size_t MAX_BOTS = 500;
    static constexpr size_t MAX_MAPS = 100;
    static constexpr unsigned MAX_ROUNDS = 1000;
};
