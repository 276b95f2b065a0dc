#pragma once
// What the arena's subcommands share: its logger, where its programs are, and Ctrl-C.

#include "Logging.h"

#include <string>

/// Services for every subcommand. It knows no subcommand: the dispatcher (main.cpp) knows them.
class Arena {
public:
    /// The program given on the command line, or else the server (the reference client)
    /// installed or built next to this program.
    static std::string serverProgram(const std::string& given);
    static std::string clientProgram(const std::string& given);
    /// The logger every subcommand reports through ("reversi.arena").
    static const Logging::Logger& logger();
    /// Ctrl-C and SIGTERM ask every running match to stop.
    static void catchInterrupts();
    /// Asks every running match to end at once (safe in a signal handler).
    static void requestStop();
    static bool stopRequested();
    /// Set by a command that was interrupted, for the exit status.
    static bool& interrupted();
};
