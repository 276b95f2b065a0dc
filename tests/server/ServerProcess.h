#pragma once
// Runs the real server program as a child process, with its standard streams in files of a
// directory of its own.

#include "support/ChildProcess.h"
#include "support/Ports.h"
#include "support/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

/// How a run of the server ended.
struct ServerResult {
    /// False when the server had to be killed because it did not end in time.
    bool exited = false;
    /// The exit status when the server exited normally; -1 otherwise.
    int status = -1;
    std::string out;
    std::string err;
};

/// One run of the server binary. Declare it after the clients that talk to it: it is
/// destroyed first then, and a server still running is killed, so the clients see their
/// connections close instead of waiting.
class ServerProcess {
public:
    /// argv0 is the program name the server sees (its usage line shows it).
    explicit ServerProcess(std::string argv0 = "server");
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    /// Writes a map file into the run's directory; returns its path.
    std::string writeMap(const std::string& text) const { return m_dir.write("test.map", text); }

    /// Starts the server with args, standard input read from stdinText. False when the
    /// program cannot be started.
    bool start(const std::vector<std::string>& args, const std::string& stdinText = "");
    /// Waits until standard output holds text; false when it did not appear within msecs.
    bool waitForOutput(const std::string& text, int msecs) const;
    /// The port of "Server is listening on port N", or 0 when it did not appear within msecs.
    uint16_t waitForPort(int msecs) const;
    std::string out() const;
    std::string err() const;
    /// Waits up to msecs for the server to end; kills it otherwise (exited false).
    ServerResult finish(int msecs);

private:
    TempDir m_dir;
    std::string m_argv0;
    // Declared after the directory: a server still running is killed before its files go.
    ChildProcess m_child;
};

/// Runs the server with args to its end (at most msecs) and returns the outcome.
ServerResult runServer(const std::vector<std::string>& args, const std::string& stdinText = "",
                       int msecs = 10000);

/// The log text with the time removed from every log line: "[ INFO] 12:34:56 text" becomes
/// "[ INFO] text". Other lines stay as they are.
std::string withoutTimes(const std::string& out);

/// The first of lines that the text does not hold as whole lines after the lines before it,
/// or "" when all of them appear in this order.
std::string firstMissing(const std::string& text, const std::vector<std::string>& lines);

/// Expects both the detailed log line and the progress line that name the disqualified player
/// and the reason, in this order.
void expectDisqualified(const std::string& out, const std::string& player,
                        const std::string& reason);
