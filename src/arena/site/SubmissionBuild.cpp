#include "SubmissionBuild.h"

#include "Submission.h"
#include "Subprocess.h"
#include "SyscallFilter.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int stopGraceMs = 500;
constexpr size_t readBytes = 65536;
/// How often a build's wait for output looks whether it is cancelled.
constexpr long long cancelCheckMs = 100;
/// A folder handed to the jail holds an upload (a few thousand files at most) and what
/// earlier builds of it left.
constexpr size_t maxHandedEntries = 100000;

/// Drains the build's output into the log until it ends or meets a limit; the reason it was
/// stopped, or "" when it ended by itself.
std::string drain(Subprocess& build, const SubmissionBuild::Limits& limits, std::string& log,
                  const SubmissionBuild::OnOutput& onOutput, const std::atomic<bool>* cancel) {
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
        if (cancel != nullptr && cancel->load()) {
            return "the build was interrupted: the site is stopping";
        }
        if (build.outputFd() < 0) {
            usleep(10000);
            continue;
        }
        pollfd waiting{build.outputFd(), POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(std::min<long long>(left, cancelCheckMs))) <= 0) {
            continue;
        }
        const ssize_t n = read(build.outputFd(), buffer, sizeof buffer);
        if (n == 0) {
            build.closeOutput();
        } else if (n > 0) {
            const size_t room =
                limits.outputBytes > log.size() ? limits.outputBytes - log.size() : 0;
            const size_t taken = std::min(room, static_cast<size_t>(n));
            log.append(buffer, taken);
            if (onOutput && taken > 0) {
                onOutput(std::string_view(buffer, taken));
            }
            if (static_cast<size_t>(n) > room) {
                return "the build printed more than " + std::to_string(limits.outputBytes) +
                       " bytes and was stopped";
            }
        }
    }
    return "";
}

/// Makes the jail's user the owner of the bot's folder and all in it, so that the build can
/// write there and the bot read it later. Links are changed themselves, never followed: the
/// folder came from a checked upload, with no link leaving it, and a build sees nothing else
/// of the host to link to.
bool handToJail(const std::string& folder, std::string& error) {
    if (!Jail::dropsPrivileges()) {
        return true;
    }
    namespace fs = std::filesystem;
    const auto own = [&](const fs::path& path) {
        if (fchownat(AT_FDCWD, path.c_str(), Jail::UNPRIVILEGED_ID, Jail::UNPRIVILEGED_ID,
                     AT_SYMLINK_NOFOLLOW) != 0) {
            error = "cannot hand " + path.string() + " to the jail's user: " + std::strerror(errno);
            return false;
        }
        return true;
    };
    std::error_code ec;
    if (!own(folder)) {
        return false;
    }
    size_t entries = 0;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (++entries > maxHandedEntries) {
            error = folder + " holds more than " + std::to_string(maxHandedEntries) + " files";
            return false;
        }
        if (!own(it->path())) {
            return false;
        }
    }
    if (ec) {
        error = "cannot hand " + folder + " to the jail's user: " + ec.message();
    }
    return !ec;
}

bool startsWithInterpreterLine(const std::filesystem::path& script) {
    // An earlier build may have left anything under that name (a FIFO would block an
    // ordinary open): only a regular file is read.
    const int fd = open(script.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    char start[2] = {0, 0};
    const bool read2 = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                       read(fd, start, sizeof start) == sizeof start;
    close(fd);
    return read2 && start[0] == '#' && start[1] == '!';
}

/// What a failed build's output says when it tried to reach the network: resolvers,
/// connections, and package managers' own words for those.
const char* const networkSigns[] = {"temporary failure in name resolution",
                                    "name or service not known",
                                    "could not resolve",
                                    "network is unreachable",
                                    "no route to host",
                                    "failed to establish a new connection",
                                    "newconnectionerror",
                                    "certificate verify failed",
                                    "certificate_verify_failed",
                                    "getaddrinfo",
                                    "unable to access",
                                    "could not fetch url",
                                    "connection timed out"};

/// Below this much free space the disk is taken as full.
constexpr unsigned long long fullDiskBytes = 1ULL << 20;

bool mentionsNetwork(const std::string& log) {
    std::string lower(log);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return std::any_of(std::begin(networkSigns), std::end(networkSigns),
                       [&](const char* sign) { return lower.find(sign) != std::string::npos; });
}

/// Whether the disk under `folder` is (nearly) full, with a line saying so.
bool diskFull(const std::string& folder, std::string& line) {
    struct statvfs disk {};
    if (statvfs(folder.c_str(), &disk) != 0) {
        return false;
    }
    const unsigned long long free = static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
    if (free >= fullDiskBytes) {
        return false;
    }
    line = "the disk holding the bot's folder is full (" + std::to_string(free >> 10) +
           " KiB free): the build could not finish; upload again when the organiser has made "
           "room\n";
    return true;
}

} // namespace

SubmissionBuild::SubmissionBuild(Limits limits, std::optional<JailLimits> jail)
    : m_limits(limits), m_jail(jail) {}

bool SubmissionBuild::confine(const std::string& folder, std::vector<std::string>& argv,
                              Subprocess::Options& options, std::string& error) const {
    std::string blocked;
    if (!handToJail(folder, error)) {
        return false;
    }
    if (!Jail::readable(folder, blocked)) {
        error = "the jail's user (uid " + std::to_string(Jail::jailUid()) + ") cannot read " +
                folder + " (" + blocked + ")";
        return false;
    }
    // The bots' own filter: a build is as untrusted as the bot it builds.
    options.filterFd = SyscallFilter::open(error);
    if (options.filterFd < 0) {
        return false;
    }
    Jail jail;
    jail.showWritable(folder);
    jail.setWorkDir(folder);
    jail.isolateNetwork();
    jail.setLimits(*m_jail);
    jail.setFilterFd(options.filterFd);
    argv = jail.argv(argv);
    options.workDir.clear();
    options.cleanEnv = true;
    options.env = {"PATH=/usr/bin:/bin"};
    options.dropPrivileges = Jail::dropsPrivileges();
    return true;
}

std::string SubmissionBuild::preamble() const {
    const std::string bounds = "at most " + std::to_string(m_limits.seconds) + " s and " +
                               std::to_string(m_limits.outputBytes >> 10) + " KiB of output";
    if (!m_jail) {
        return "The build runs unjailed (the league's \"sandbox\" is false), as the arena, "
               "with the host's network and files; " +
               bounds + ".\n";
    }
    return std::string("The build runs jailed: no network (a loopback of its own only); "
                       "writable: this bot's folder (kept for the bot) and ") +
           Jail::WRITABLE + " (" + std::to_string(m_jail->writableBytes >> 20) +
           " MiB, emptied after the build), nothing else; " + bounds + ".\n";
}

std::string SubmissionBuild::explain(const std::string& folder, const std::string& log) const {
    std::string line;
    if (diskFull(folder, line)) {
        return line;
    }
    if (log.find("No space left on device") != std::string::npos) {
        return "the build ran out of space (its folder's disk, or its scratch space)\n";
    }
    if (m_jail && mentionsNetwork(log)) {
        return "the build's output speaks of the network, which builds do not have: bring "
               "what the bot needs (libraries, packages) in its archive\n";
    }
    return "";
}

bool SubmissionBuild::run(const std::string& folder, std::string& log) const {
    return run(folder, log, nullptr);
}

bool SubmissionBuild::run(const std::string& folder, std::string& log, const OnOutput& onOutput,
                          const std::atomic<bool>* cancel) const {
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
    Subprocess build;
    std::string error;
    Subprocess::Options options;
    options.workDir = folder;
    const bool started =
        (!m_jail || confine(folder, argv, options, error)) && build.start(argv, options, error);
    if (options.filterFd >= 0) {
        close(options.filterFd); // bwrap has its own copy, read as it makes the jail
    }
    if (!started) {
        log = "the build could not start: " + error + "\n";
        return false;
    }
    log = preamble();
    if (onOutput) {
        onOutput(log);
    }
    const std::string stopped = drain(build, m_limits, log, onOutput, cancel);
    if (!stopped.empty()) {
        build.stop(stopGraceMs);
        log += "\n" + stopped + "\n" + explain(folder, log);
        return false;
    }
    const bool ok = WIFEXITED(build.waitStatus()) && WEXITSTATUS(build.waitStatus()) == 0;
    log += ok ? "build succeeded\n"
              : "build failed: " + build.describeEnd() + "\n" + explain(folder, log);
    return ok;
}
