#pragma once
// "arena slurm DIR|LEAGUE": the Slurm job array that plays the pending matches of a tournament
// folder, or of a league through workers that share its database.

#include "Tool.h"

#include <string>
#include <vector>

class LeagueWorkers;
class PlayLine;

/// Writes DIR/slurm-array.sh, one array task per pending match, each running "arena play DIR
/// ID" with absolute paths; the tasks' output goes to DIR/slurm/. Prints the sbatch line, or
/// with --submit submits the script and prints the job id. A task that fails writes no record,
/// so its match stays pending and the next "arena slurm" includes it again.
///
/// Given a league (its folder or configuration), writes the league folder's slurm-array.sh:
/// --workers tasks, each "arena league CONFIG -j N" on N CPUs, that claim the league's matches
/// from its database until none is left. An SQLite league gets one worker only.
class SlurmCommand : public Tool {
public:
    /// Array tasks of one script: Slurm's default MaxArraySize (1001) allows indices up to
    /// 1000. Further pending matches wait for the next script.
    static constexpr size_t MAX_TASKS = 1000;

    /// Whether the text is a time limit that sbatch reads: minutes, MM:SS, HH:MM:SS, D-HH,
    /// D-HH:MM or D-HH:MM:SS.
    static bool isTimeLimit(const std::string& text);
    /// The job script for these match ids (at most MAX_TASKS), in this order.
    std::string script(const PlayLine& play, const std::vector<std::string>& ids) const;
    /// The job script of `workers` league workers, each playing `jobs` matches at once.
    std::string leagueScript(const LeagueWorkers& league, unsigned workers, unsigned jobs) const;

protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    /// The #SBATCH lines both scripts share, from the job's name to its time limit.
    void header(std::ostream& out, const std::string& folder, size_t tasks, unsigned cpus) const;
    bool pendingIds(const PlayLine& play, std::vector<std::string>& ids, size_t& left) const;
    bool runLeague();
    /// Writes FOLDER/slurm-array.sh and makes FOLDER/slurm for the tasks' output; says what it
    /// wrote, then prints the sbatch line or submits the script.
    bool writeAndSubmit(const std::string& folder, const std::string& text,
                        const std::string& what) const;
    bool submit(const std::string& scriptPath) const;

    std::string m_dir;
    std::string m_partition;
    unsigned m_maxRunning = 0;
    std::string m_time;
    bool m_submit = false;
    /// League only: array tasks, and matches each plays at once (0: not given).
    unsigned m_workers = 0;
    unsigned m_jobs = 0;
};
