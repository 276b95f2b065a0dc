#pragma once
// A tournament on disk: its plan, one record per finished match, and running what is pending.

#include "FolderLock.h"
#include "MatchRunner.h"
#include "MatchSlots.h"
#include "TournamentConfig.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

/// DIR/plan.json holds the configuration (paths made absolute) and every planned match;
/// DIR/matches/ID.json is the record of a finished match, DIR/logs/ID/ its logs. One arena
/// runs a folder at a time (DIR/arena.lock); single matches of a job runner share it, each
/// holding its own DIR/logs/ID.lock.
class Tournament {
public:
    /// Writes the plan into DIR, or checks that DIR already holds this same plan (resuming).
    /// Holds the folder's lock for a whole run from then on: false when another arena has it.
    bool create(const std::string& dir, const nlohmann::json& plan, std::string& error);
    /// Opens the tournament that DIR holds, checking every field of its plan (a plan may have
    /// been edited by hand): match ids must be words of [A-Za-z0-9._-], unique.
    bool open(const std::string& dir, std::string& error);
    /// Claims one match for this process: the folder's lock shared with other single matches,
    /// and the match's own lock. False when a whole run or another player of it holds them.
    bool claim(const std::string& id, std::string& error);

    const nlohmann::json& plan() const { return m_plan; }
    const TournamentConfig& config() const { return m_config; }
    /// Whether the match has a usable record.
    bool recorded(const std::string& id) const;
    /// The planned matches without a usable record, in plan order.
    std::vector<nlohmann::json> pending() const;
    std::string recordPath(const std::string& id) const;
    /// The planned match of that id, or null.
    nlohmann::json match(const std::string& id) const;

    /// Plays one planned match in `slot` (its ports and cores; no cores: the arena's) and
    /// writes its record (whole or not at all). Interrupted leaves no record; so does a match
    /// that cannot start (its log folder blocked, its map unreadable or changed since the
    /// plan), with `error`.
    MatchOutcome play(const nlohmann::json& match, const MatchSlot& slot, MatchRecord& record,
                      std::string& error) const;
    /// Plays every pending match, up to `concurrency` at once (0: one per usable core), each
    /// slot with its own ports and cores. More than the usable cores is refused, with one line
    /// that names them, unless `oversubscribe` or the configuration's "oversubscribe". A match
    /// that cannot start is reported and the others go on. False when refused, interrupted or
    /// when any match could not be played or recorded.
    bool run(unsigned concurrency, const std::string& resumeHint);

    /// Server and client programs, unless the configuration names them.
    std::string serverProgram;
    std::string clientProgram;
    /// Matches may share cores (--oversubscribe).
    bool oversubscribe = false;

private:
    bool check(const std::string& file, std::string& error);
    bool checkMatch(const nlohmann::json& match, size_t index, std::string& error) const;
    bool prepare(const nlohmann::json& match, MatchSetup& setup, std::string& error) const;
    /// A bot of the configuration, with its limits and environment.
    BotCommand botOf(const TournamentConfig::Bot& bot) const;
    /// Whether the bots can be jailed here and the jail's user can read what each needs.
    bool jailReady(std::string& error) const;

    std::string m_dir;
    nlohmann::json m_plan;
    TournamentConfig m_config;
    FolderLock m_folderLock;
    FolderLock m_matchLock;
};
