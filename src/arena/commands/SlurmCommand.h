#pragma once
// "arena slurm DIR": the Slurm job array that plays the pending matches of a tournament folder.

#include "Tool.h"

#include <string>
#include <vector>

class PlayLine;

/// Writes DIR/slurm-array.sh, one array task per pending match, each running "arena play DIR
/// ID" with absolute paths; the tasks' output goes to DIR/slurm/. Prints the sbatch line, or
/// with --submit submits the script and prints the job id. A task that fails writes no record,
/// so its match stays pending and the next "arena slurm" includes it again.
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

protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    bool pendingIds(const PlayLine& play, std::vector<std::string>& ids, size_t& left) const;
    bool submit(const std::string& scriptPath) const;

    std::string m_dir;
    std::string m_partition;
    unsigned m_maxRunning = 0;
    std::string m_time;
    bool m_submit = false;
};
