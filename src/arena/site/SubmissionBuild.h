#pragma once
// Running a submission's build script once, bounded in time and output.

#include "Jail.h"
#include "Subprocess.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// Runs `./build` in a bot's folder, when there is one, and keeps its output as the log the team
/// reads. A build that runs past its time or prints past its output limit is stopped (its whole
/// process group) and fails, the log saying which limit it met.
class SubmissionBuild {
public:
    struct Limits {
        int seconds = 300;                    ///< wall time of the whole build
        size_t outputBytes = size_t{1} << 20; ///< standard output and error together
    };
    /// `jail`: when given, the build runs in the bot's jail with these limits (see Jail) and the
    /// bots' system-call filter (SyscallFilter), its own folder writable and nothing else of
    /// the host, with no network; the folder is first handed to the jail's user. Without it
    /// the build runs as the arena.
    explicit SubmissionBuild(Limits limits, std::optional<JailLimits> jail = std::nullopt);

    /// Builds the bot in `folder`: true when there is no build script or it exited with status
    /// 0 within its limits. `log` receives a line on what the build may reach (network,
    /// writable folders, limits), the output and, at its end, a line on how it ended; a
    /// failure on a full disk or one whose output speaks of the network says so.
    bool run(const std::string& folder, std::string& log) const;

    /// Called with each piece of the log as it grows, on the building thread: the pieces, in
    /// order, make the log as it stands (bounded as the log is) until the build's last line.
    using OnOutput = std::function<void(std::string_view)>;
    /// As run(), telling `onOutput` what the build prints while it prints it. When `cancel`
    /// turns true the build is stopped within a tenth of a second and fails, its log saying
    /// it was interrupted.
    bool run(const std::string& folder, std::string& log, const OnOutput& onOutput,
             const std::atomic<bool>* cancel = nullptr) const;

private:
    /// The log's first line: what the build may reach and its limits.
    std::string preamble() const;
    /// Why a failed build may have failed, when the disk or its output tells; "" otherwise.
    std::string explain(const std::string& folder, const std::string& log) const;

    /// Turns the build's command into the jailed one, under the system-call filter bots get
    /// (its descriptor in `options.filterFd`, for the caller to close once the build started);
    /// false with the reason it cannot be.
    bool confine(const std::string& folder, std::vector<std::string>& argv,
                 Subprocess::Options& options, std::string& error) const;

    Limits m_limits;
    std::optional<JailLimits> m_jail;
};
