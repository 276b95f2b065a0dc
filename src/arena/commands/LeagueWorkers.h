#pragma once
// What "arena slurm" needs to know of a league before it writes a job array of its workers.

#include "LeagueConfig.h"
#include "PlayLine.h"

#include <cstddef>
#include <string>

/// A league about to get workers on other machines: its configuration, whether its database
/// can be shared by them, and what is left to play.
class LeagueWorkers {
public:
    /// Whether the argument names a league rather than a tournament folder: a file (a league's
    /// configuration) or a folder that holds league.json.
    static bool isLeague(const std::string& where);

    /// Loads the league and checks that `workers` can share it: an SQLite database is one
    /// machine's file, so it takes one worker only. Then, as a worker would, makes the
    /// matches an earlier run left unplayed pending again and plans what the league needs.
    /// False with one plain line saying why.
    bool prepare(const std::string& where, unsigned workers, std::string& error);

    /// "ARENA league CONFIG -j JOBS", with this arena program and the configuration as
    /// absolute plain paths.
    std::string workerLine(unsigned jobs) const;

    /// The configuration as an absolute path.
    const std::string& file() const { return m_play.dir(); }
    const LeagueConfig& config() const { return m_config; }
    /// Needed matches not played yet, as planned now.
    size_t left() const { return m_left; }
    /// About how many are left once the league is planned in full (a sampled league plans a
    /// window at a time; a round robin's is `left`).
    size_t expectedLeft() const { return m_expectedLeft; }
    /// Matches an earlier run left unplayed, pending again.
    size_t reopened() const { return m_reopened; }

private:
    bool plan(std::string& error);

    LeagueConfig m_config;
    PlayLine m_play;
    size_t m_left = 0;
    size_t m_expectedLeft = 0;
    size_t m_reopened = 0;
};
