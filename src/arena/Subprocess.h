#pragma once
// One child program in a process group of its own, its output read through a pipe.

#include <string>
#include <sys/types.h>
#include <vector>

/// Starts a program with posix_spawn: standard input from /dev/null, standard output and error
/// into one close-on-exec pipe that the caller drains, in a new process group so that ending it
/// ends the children it started too. The destructor ends and reaps it.
class Subprocess {
public:
    Subprocess() = default;
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    /// Starts argv[0] (searched on PATH) in workDir (empty: the current one), with the
    /// variables "NAME=value" of `env` added to the environment. False, with the reason, when
    /// it could not be started.
    bool start(const std::vector<std::string>& argv, const std::string& workDir,
               const std::vector<std::string>& env, std::string& error);

    pid_t pid() const { return m_pid; }
    /// The read end of the output pipe (non-blocking), or -1 once it has been closed.
    int outputFd() const { return m_out; }
    void closeOutput();
    /// Reaps the child if it has ended; true while it runs.
    bool running();
    /// Whether it ended, and its wait status then.
    bool ended() const { return m_ended; }
    int waitStatus() const { return m_status; }
    /// "exit status N" or "killed by signal N".
    std::string describeEnd() const;
    /// Ends the whole process group: SIGTERM, up to graceMs to end, then SIGKILL; reaps.
    void stop(int graceMs);

private:
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_ended = false;
    int m_status = 0;
};
