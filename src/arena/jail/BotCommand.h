#pragma once
// A bot of a match: its name, its command line and where it runs.

#include "Jail.h"

#include <string>
#include <utility>
#include <vector>

/// Turns a bot's command into the program line to start for one match.
class BotCommand {
public:
    BotCommand() = default;
    BotCommand(std::string name, std::string command, std::string workDir = "");

    const std::string& name() const { return m_name; }
    const std::string& command() const { return m_command; }
    const std::string& workDir() const { return m_workDir; }

    /// How it is jailed when the match is: its limits, and variables added to its
    /// environment.
    const JailLimits& limits() const { return m_limits; }
    void setLimits(const JailLimits& limits) { m_limits = limits; }
    const std::vector<std::pair<std::string, std::string>>& env() const { return m_env; }
    void addEnv(const std::string& name, const std::string& value) {
        m_env.emplace_back(name, value);
    }

    /// The host folder a jailed bot sees (read-only) and starts in: its own `dir`. Empty when
    /// it has none: it then starts in its jail's empty writable folder and sees nothing of the
    /// organiser's (unjailed, it runs in the arena's current folder).
    const std::string& folder() const { return m_workDir; }
    /// Whether the jail's user can read what the jailed bot needs of the host: its folder
    /// (which must be a folder), and the reference client for a shorthand. False, with one
    /// line naming the bot and what shuts it out, otherwise.
    bool visibleInJail(const std::string& clientProgram, std::string& error) const;

    /// Whether the command is a shorthand for the reference client: "random", "greedy" or
    /// "search", each with an optional ":SEED".
    bool isShorthand() const;
    /// The program line: the reference client for a shorthand (seed: the shorthand's, else
    /// `seed`), otherwise the command run by /bin/sh with "{host}", "{port}" and "{seed}"
    /// replaced.
    std::vector<std::string> argv(const std::string& clientProgram, const std::string& host,
                                  unsigned port, unsigned seed) const;

private:
    std::string m_name;
    std::string m_command;
    std::string m_workDir;
    JailLimits m_limits;
    std::vector<std::pair<std::string, std::string>> m_env;
};
