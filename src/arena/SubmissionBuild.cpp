#include "SubmissionBuild.h"

#include "Submission.h"
#include "Subprocess.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int stopGraceMs = 500;
constexpr size_t readBytes = 65536;

/// Drains the build's output into the log until it ends or meets a limit; the reason it was
/// stopped, or "" when it ended by itself.
std::string drain(Subprocess& build, const SubmissionBuild::Limits& limits, std::string& log) {
    const auto deadline = Clock::now() + std::chrono::seconds(limits.seconds);
    char buffer[readBytes];
    // A build may close its output and run on: it is waited for up to the same deadline.
    while (build.outputFd() >= 0 || build.running()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return "the build ran longer than " + std::to_string(limits.seconds) +
                   " s and was stopped";
        }
        if (build.outputFd() < 0) {
            usleep(10000);
            continue;
        }
        pollfd waiting{build.outputFd(), POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        const ssize_t n = read(build.outputFd(), buffer, sizeof buffer);
        if (n == 0) {
            build.closeOutput();
        } else if (n > 0) {
            const size_t room = limits.outputBytes - log.size();
            log.append(buffer, std::min(room, static_cast<size_t>(n)));
            if (static_cast<size_t>(n) > room) {
                return "the build printed more than " + std::to_string(limits.outputBytes) +
                       " bytes and was stopped";
            }
        }
    }
    return "";
}

bool startsWithInterpreterLine(const std::filesystem::path& script) {
    std::ifstream in(script, std::ios::binary);
    char start[2] = {0, 0};
    in.read(start, sizeof start);
    return start[0] == '#' && start[1] == '!';
}

} // namespace

SubmissionBuild::SubmissionBuild(Limits limits, Wrapper wrapper)
    : m_limits(limits), m_wrapper(std::move(wrapper)) {}

bool SubmissionBuild::run(const std::string& folder, std::string& log) const {
    log.clear();
    if (!std::filesystem::exists(std::filesystem::path(folder) / Submission::buildFile)) {
        log = "no build script: nothing to build\n";
        return true;
    }
    // A script without a "#!" line is a shell script, as a team writing "make" would expect.
    std::vector<std::string> argv{std::string("./") + Submission::buildFile};
    if (!startsWithInterpreterLine(std::filesystem::path(folder) / Submission::buildFile)) {
        argv.insert(argv.begin(), "/bin/sh");
    }
    if (m_wrapper) {
        argv = m_wrapper(argv, folder);
    }
    Subprocess build;
    std::string error;
    Subprocess::Options options;
    options.workDir = folder;
    if (!build.start(argv, options, error)) {
        log = "the build could not start: " + error + "\n";
        return false;
    }
    const std::string stopped = drain(build, m_limits, log);
    if (!stopped.empty()) {
        build.stop(stopGraceMs);
        log += "\n" + stopped + "\n";
        return false;
    }
    const bool ok = WIFEXITED(build.waitStatus()) && WEXITSTATUS(build.waitStatus()) == 0;
    log += ok ? "build succeeded\n" : "build failed: " + build.describeEnd() + "\n";
    return ok;
}
