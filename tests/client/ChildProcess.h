#pragma once
// A program started by a test, its standard output and error going to one file.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    /// Starts `program` with `args`, writing its output to `outputFile`. running() tells whether
    /// the start worked.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outputFile);
    /// Kills the program if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return m_pid > 0 && !m_exited; }
    /// Waits up to `limit` for the program to end: its exit status, or -1 when it had to be
    /// killed (or did not exit normally).
    int wait(std::chrono::milliseconds limit);
    /// Everything the program has written so far.
    std::string output() const;

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = -1;
    std::string m_outputFile;
};

/// A TCP port on which nothing listened a moment ago.
unsigned short freePort();

/// A fresh directory for one test's files, removed again unless the test has failed (its logs
/// are then kept for a look).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
