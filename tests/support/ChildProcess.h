#pragma once
// A program started by a test, its standard streams in files.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class ChildProcess {
public:
    /// Files for the program's standard streams.
    struct Streams {
        /// Read as standard input; "" for an empty input.
        std::string in;
        /// Standard output goes here (created or emptied).
        std::string out;
        /// Standard error goes here; "" to share the file of standard output.
        std::string err;
    };

    /// Nothing started yet.
    ChildProcess() = default;
    /// Starts `program` with `args`, its standard output and error both going to `outputFile`.
    /// running() tells whether the start worked.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outputFile);
    /// Kills the program if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts `program` (looked up in PATH when it names no directory) with the words `argv`,
    /// argv[0] being the name the program sees. False when it cannot be started or something
    /// was started already.
    bool start(const std::string& program, const std::vector<std::string>& argv,
               const Streams& streams);

    /// The process id after a successful start.
    pid_t pid() const { return m_pid; }
    /// True from a successful start until wait() has seen the end.
    bool running() const { return m_pid > 0 && !m_ended; }
    /// Waits up to `limit` for the program to end: its exit status, or -1 when it had to be
    /// killed, did not exit normally or was never started.
    int wait(std::chrono::milliseconds limit);
    /// Everything the program has written to standard output so far.
    std::string output() const;
    /// Everything the program has written to standard error so far (the same as output() when
    /// they share a file).
    std::string errors() const;

private:
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = -1;
    Streams m_streams;
};
