#pragma once
// The server's help text, as the tests expect it.

#include <string>

/// The help text of the server program called `program`.
inline std::string serverHelp(const std::string& program = "server") {
    return "Usage: " + program +
           " mapname [ -b port number ] ( -t seconds | -d number ) [ -w number ] "
           "[ -l filename ] [ --nocolor ] [ -h ] [ -v ]\n"
           "\n"
           "Arguments:\n"
           "  mapname           Load this map\n"
           "  -b, --baseport    Use this port (NOTE: actual server port may differ if baseport is "
           "in use)\n"
           "  -t, --timelimit   Apply timelimit (in seconds, >=0.2)\n"
           "  -d, --depthlimit  Apply depthlimit (in case of time limit, clients may ignore this)\n"
           "  -w, --wait        Seconds to wait for a single client to connect\n"
           "\n"
           "Basic options:\n"
           "  -l, --log         File to load log settings from\n"
           "  --nocolor         Disable ANSI colors when printing\n"
           "  -h, --help        Show this help text\n"
           "  -v, --version     Show version information\n"
           "\n";
}
