#include "Arena.h"

#include "LeagueCommand.h"
#include "Logging.h"
#include "MatchCommand.h"
#include "MatchRunner.h"
#include "PlanCommand.h"
#include "PlayCommand.h"
#include "ReportCommand.h"
#include "ServeCommand.h"
#include "SlurmCommand.h"
#include "TournamentCommand.h"
#include "ViewCommand.h"

#include <climits>
#include <csignal>
#include <iostream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string selfDir() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string self(path, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/'));
}

// An installed arena finds reversi-<name> beside itself; one in the build tree finds the
// program in its own folder of the build.
std::string siblingProgram(const std::string& name) {
    const std::string dir = selfDir();
    std::string installed = dir + "/reversi-" + name;
    if (access(installed.c_str(), X_OK) == 0) {
        return installed;
    }
    return dir + "/../" + name + "/" + name;
}

void onInterrupt(int) {
    MatchRunner::requestStop();
}

void usage() {
    std::cerr << "Usage: arena SUBCOMMAND [options...]\n\nSubcommands:\n";
    for (const Subcommand& s : Arena::subcommands()) {
        std::cerr << "  " << s.name << std::string(s.name.size() < 12 ? 12 - s.name.size() : 1, ' ')
                  << s.summary << '\n';
    }
    std::cerr << "\n\"arena SUBCOMMAND -h\" shows the options of one subcommand.\n";
}

} // namespace

const std::vector<Subcommand>& Arena::subcommands() {
    static const std::vector<Subcommand> list{
        {"match", "Play one match of bots on a map and print the result",
         [] { return std::make_unique<MatchCommand>(); }},
        {"tournament", "Play every match of a tournament configuration, resuming where it stopped",
         [] { return std::make_unique<TournamentCommand>(); }},
        {"plan", "Print one 'arena play' command per pending match, for a job runner",
         [] { return std::make_unique<PlanCommand>(); }},
        {"play", "Play one planned match of a tournament folder",
         [] { return std::make_unique<PlayCommand>(); }},
        {"slurm", "Write (or submit) the Slurm job array of the pending matches",
         [] { return std::make_unique<SlurmCommand>(); }},
        {"report", "Standings and ratings of a tournament folder",
         [] { return std::make_unique<ReportCommand>(); }},
        {"league", "Play what a growing league needs; report, import, export",
         [] { return std::make_unique<LeagueCommand>(); }},
        {"view", "Write the page of a match record: one HTML file to open in a browser",
         [] { return std::make_unique<ViewCommand>(); }},
        {"serve", "Serve a league on the web, with teams' submissions",
         [] { return std::make_unique<ServeCommand>(); }},
    };
    return list;
}

int Arena::main(int argc, const char* const* argv) {
    // A bot that goes away must not end the arena through a write to its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    // Each running match holds about six descriptors (pipes and logs of the server and the
    // bots): many at once need more than the usual soft limit of 1024.
    struct rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (argc < 2) {
        usage();
        return 1;
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help") {
        usage();
        return 1;
    }
    for (const Subcommand& s : subcommands()) {
        if (s.name != name) {
            continue;
        }
        // The parser names the program after argv[0]: make it "arena match" and so on.
        const std::string program = "arena " + name;
        std::vector<const char*> args{program.c_str()};
        for (int i = 2; i < argc; ++i) {
            args.push_back(argv[i]);
        }
        // Replays run games of the model, whose own messages are not the arena's output.
        Logging::setLogLevel(Logging::loggerGame, lumber::WARN);
        Logging::setLogLevel(Logging::loggerMap, lumber::FATAL);
        std::unique_ptr<Tool> tool = s.make();
        if (!tool->init(static_cast<int>(args.size()), args.data())) {
            return 1;
        }
        const bool ok = tool->run();
        if (interrupted()) {
            return 130;
        }
        return ok ? 0 : 1;
    }
    std::cerr << "arena: unknown subcommand '" << name << "'\n\n";
    usage();
    return 1;
}

std::string Arena::serverProgram(const std::string& given) {
    return given.empty() ? siblingProgram("server") : given;
}

std::string Arena::clientProgram(const std::string& given) {
    return given.empty() ? siblingProgram("client") : given;
}

const Logging::Logger& Arena::logger() {
    static const Logging::Logger arena = Logging::getLogger("reversi.arena");
    return arena;
}

void Arena::catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool& Arena::interrupted() {
    static bool flag = false;
    return flag;
}
