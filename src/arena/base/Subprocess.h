#pragma once
// One child program in a process group of its own, its output read through a pipe.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

/// Starts a program with fork and exec: standard input from /dev/null, standard output and
/// error into one close-on-exec pipe that the caller drains, in a new process group so that
/// ending it ends the children it started too, with no other descriptor open (but the one it
/// is asked to inherit), and killed when
/// the thread that started it ends (parent-death signal). The destructor ends and reaps it.
class Subprocess {
public:
    /// How the child starts.
    struct Options {
        /// Folder to start in (empty: the current one).
        std::string workDir;
        /// "NAME=value" variables added to the environment.
        std::vector<std::string> env;
        /// Start from an empty environment instead of the arena's.
        bool cleanEnv = false;
        /// Namespaces to join before exec (-1: none): a match's user and network namespace.
        int userNamespaceFd = -1;
        int netNamespaceFd = -1;
        /// When the arena runs as root: run as the unprivileged id 65534.
        bool dropPrivileges = false;
        /// A descriptor the program keeps, at the same number (-1: none), such as the socket
        /// on which a prepared jail waits for its release.
        int inheritFd = -1;
        /// A second descriptor kept the same way (-1: none): a jail's system-call filter.
        int filterFd = -1;
        /// Files ("cgroup.procs" of a control group, one per hierarchy) the child writes
        /// itself into first, while it still has the arena's rights.
        std::vector<std::string> groupFiles;
        /// Cores the child (and all it starts) may run on; empty: those of the arena.
        std::vector<unsigned> cores;
    };

    Subprocess() = default;
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    /// Starts argv[0] (searched on PATH when it has no '/'). False, with the reason, when it
    /// could not be started (the reason of a failed exec included).
    bool start(const std::vector<std::string>& argv, const Options& options, std::string& error);

    pid_t pid() const { return m_pid; }
    /// The read end of the output pipe (non-blocking), or -1 once it has been closed.
    int outputFd() const { return m_out; }
    void closeOutput();
    /// Appends what the pipe holds now to `out`; closes the pipe at its end. False when
    /// nothing was read.
    bool readSome(std::string& out);
    /// Reaps the child if it has ended; true while it runs.
    bool running();
    /// Whether it ended, and its wait status then.
    bool ended() const { return m_ended; }
    int waitStatus() const { return m_status; }
    /// CPU time of the child and of every descendant it waited for, in milliseconds, and the
    /// peak resident memory of the largest of them in KiB; 0 until it ended.
    uint64_t cpuMs() const { return m_cpuMs; }
    uint64_t maxRssKb() const { return m_maxRssKb; }
    /// "exit status N" or "killed by signal N".
    std::string describeEnd() const;
    /// Ends the whole process group: SIGTERM, up to graceMs to end, then SIGKILL; reaps.
    void stop(int graceMs);

private:
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_ended = false;
    int m_status = 0;
    uint64_t m_cpuMs = 0;
    uint64_t m_maxRssKb = 0;

    /// Reaps the child (blocking or not), keeping its status and use; true when it ended.
    bool reap(bool block);
};
