#pragma once
// Running a submission's build script once, bounded in time and output.

#include <functional>
#include <string>
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
    /// Turns the build's command into the command that runs it confined (the bot's jail); the
    /// default runs it as it is.
    using Wrapper = std::function<std::vector<std::string>(const std::vector<std::string>& argv,
                                                           const std::string& folder)>;

    explicit SubmissionBuild(Limits limits, Wrapper wrapper = {});

    /// Builds the bot in `folder`: true when there is no build script or it exited with status
    /// 0 within its limits. `log` receives the output and, at its end, a line on how it ended.
    bool run(const std::string& folder, std::string& log) const;

private:
    Limits m_limits;
    Wrapper m_wrapper;
};
