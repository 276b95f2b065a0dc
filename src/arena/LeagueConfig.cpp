#include "LeagueConfig.h"

#include "SqlDatabase.h"
#include "Tournament.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool leagueKeys(const nlohmann::json& config, LeagueConfig& out, std::string& error) {
    if (config["bots"].size() > LeagueConfig::MAX_BOTS ||
        config["maps"].size() > LeagueConfig::MAX_MAPS ||
        config["rounds"].get<unsigned>() > LeagueConfig::MAX_ROUNDS) {
        error = "a league has at most " + std::to_string(LeagueConfig::MAX_BOTS) + " bots, " +
                std::to_string(LeagueConfig::MAX_MAPS) + " maps and " +
                std::to_string(LeagueConfig::MAX_ROUNDS) + " rounds";
        return false;
    }
    const std::string database = config.value("database", "league.db");
    out.database = database.empty() || SqlDatabase::isPostgres(database)
                       ? database
                       : fs::weakly_canonical(fs::path(out.folder) / database).string();
    out.openings = config.value("openings", 0u);
    out.leaseSeconds = config.value("lease", LeagueConfig::DEFAULT_LEASE);
    if (out.database.empty() || out.openings > LeagueConfig::MAX_OPENING_PLIES ||
        out.leaseSeconds < 1 || out.leaseSeconds > LeagueConfig::MAX_LEASE) {
        error = "\"database\" must not be empty, \"openings\" must lie between 0 and " +
                std::to_string(LeagueConfig::MAX_OPENING_PLIES) +
                " plies and \"lease\" between 1 and " + std::to_string(LeagueConfig::MAX_LEASE) +
                " seconds";
        return false;
    }
    if (config.contains("time")) {
        out.timeMs = static_cast<int>(config["time"].get<double>() * 1000.0);
    } else {
        out.depth = config["depth"].get<int>();
    }
    return true;
}

} // namespace

bool LeagueConfig::load(const std::string& fileOrDir, LeagueConfig& out, std::string& error) {
    std::error_code ec;
    out.file = fs::is_directory(fileOrDir, ec) ? (fs::path(fileOrDir) / "league.json").string()
                                               : fileOrDir;
    out.folder = fs::absolute(fs::path(out.file), ec).parent_path().string();
    if (!Tournament::loadConfig(out.file, out.tournament, error)) {
        return false;
    }
    try {
        if (!leagueKeys(out.tournament, out, error)) {
            error = out.file + ": " + error;
            return false;
        }
    } catch (const nlohmann::json::exception& e) {
        error = out.file + ": the league's keys are not usable: " + e.what();
        return false;
    }
    return true;
}
