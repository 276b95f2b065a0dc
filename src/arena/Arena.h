#pragma once
// The arena program: its subcommands and what they share.

#include "Logging.h"
#include "Tool.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

/// One subcommand of the arena: its name, a line of help and how to make its tool.
struct Subcommand {
    std::string name;
    std::string summary;
    std::function<std::unique_ptr<Tool>()> make;
};

class Arena {
public:
    /// Every subcommand, in the order the help lists them. Add new ones here.
    static const std::vector<Subcommand>& subcommands();
    /// Runs "arena SUBCOMMAND ARGS...": 0 on success, 1 on failure or a refused command line,
    /// 130 after an interruption.
    static int main(int argc, const char* const* argv);

    /// The program given on the command line, or else the server (the reference client)
    /// installed or built next to this program.
    static std::string serverProgram(const std::string& given);
    static std::string clientProgram(const std::string& given);
    /// The logger every subcommand reports through ("reversi.arena").
    static const Logging::Logger& logger();
    /// Ctrl-C and SIGTERM ask every running match to stop.
    static void catchInterrupts();
    /// Set by a command that was interrupted, for the exit status.
    static bool& interrupted();
};
