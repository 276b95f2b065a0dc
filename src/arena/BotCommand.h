#pragma once
// A bot of a match: its name, its command line and where it runs.

#include <string>
#include <vector>

/// Turns a bot's command into the program line to start for one match.
class BotCommand {
public:
    BotCommand() = default;
    BotCommand(std::string name, std::string command, std::string workDir = "");

    const std::string& name() const { return m_name; }
    const std::string& command() const { return m_command; }
    const std::string& workDir() const { return m_workDir; }

    /// The program line: the reference client for a shorthand ("random", "greedy" or
    /// "search", each with an optional ":SEED"; seed: the shorthand's, else
    /// `seed`), otherwise the command run by /bin/sh with "{host}", "{port}" and "{seed}"
    /// replaced.
    std::vector<std::string> argv(const std::string& clientProgram, const std::string& host,
                                  unsigned port, unsigned seed) const;

private:
    std::string m_name;
    std::string m_command;
    std::string m_workDir;
};
