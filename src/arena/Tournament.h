#pragma once
// A tournament on disk: its plan, one record per finished match, and running what is pending.

#include "MatchRunner.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

/// DIR/plan.json holds the configuration (paths made absolute) and every planned match;
/// DIR/matches/ID.json is the record of a finished match, DIR/logs/ID/ its logs.
class Tournament {
public:
    /// Reads a configuration and checks it; relative paths (maps, bot folders) are taken from
    /// the configuration file's folder, which is also a bot's default folder.
    static bool loadConfig(const std::string& file, nlohmann::json& config, std::string& error);
    /// Every match of the configuration: per round and map, every line-up of bots for the
    /// map's seats, each in all rotations of its seats.
    static bool makePlan(const nlohmann::json& config, nlohmann::json& plan, std::string& error);

    /// Writes the plan into DIR, or checks that DIR already holds this same plan (resuming).
    bool create(const std::string& dir, const nlohmann::json& plan, std::string& error);
    /// Opens the tournament that DIR holds.
    bool open(const std::string& dir, std::string& error);

    const nlohmann::json& plan() const { return m_plan; }
    /// The planned matches without a usable record, in plan order.
    std::vector<nlohmann::json> pending() const;
    std::string recordPath(const std::string& id) const;
    /// The planned match of that id, or null.
    nlohmann::json match(const std::string& id) const;

    /// Plays one planned match with the server's ports from basePort and writes its record
    /// (whole or not at all). Interrupted leaves no record.
    MatchOutcome play(const nlohmann::json& match, unsigned basePort, nlohmann::json& record,
                      std::string& error) const;
    /// Plays every pending match, up to `concurrency` at once, each slot with its own ports.
    /// False when interrupted or when a record could not be written.
    bool run(unsigned concurrency, const std::string& resumeHint);

    /// Server and client programs, unless the configuration names them.
    std::string serverProgram;
    std::string clientProgram;

private:
    /// A bot of the configuration, with its limits and environment.
    static BotCommand botOf(const nlohmann::json& config, const nlohmann::json& bot);

    std::string m_dir;
    nlohmann::json m_plan;
};
