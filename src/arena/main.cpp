// The arena's dispatcher: "arena SUBCOMMAND ARGS...". It alone knows the subcommands; they
// know only the shared services (Arena.h).

#include "Arena.h"
#include "LeagueCommand.h"
#include "Logging.h"
#include "MatchCommand.h"
#include "PlanCommand.h"
#include "PlayCommand.h"
#include "ReportCommand.h"
#include "ServeCommand.h"
#include "SlurmCommand.h"
#include "Tool.h"
#include "TournamentCommand.h"
#include "ViewCommand.h"

#include <csignal>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

/// One subcommand of the arena: its name, a line of help and how to make its tool.
struct Subcommand {
    std::string name;
    std::string summary;
    std::function<std::unique_ptr<Tool>()> make;
};

/// Every subcommand, in the order the help lists them. Add new ones here.
const std::vector<Subcommand>& subcommands() {
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
        {"league", "Play what a growing league needs; report, import, export",
         [] { return std::make_unique<LeagueCommand>(); }},
        {"serve", "Serve a league on the web, with teams' submissions",
         [] { return std::make_unique<ServeCommand>(); }},
        {"report", "Standings and ratings of a tournament folder",
         [] { return std::make_unique<ReportCommand>(); }},
        {"view", "Write the page of a match record: one HTML file to open in a browser",
         [] { return std::make_unique<ViewCommand>(); }},
    };
    return list;
}

void usage() {
    std::cerr << "Usage: arena SUBCOMMAND [options...]\n\nSubcommands:\n";
    for (const Subcommand& s : subcommands()) {
        std::cerr << "  " << s.name << std::string(s.name.size() < 12 ? 12 - s.name.size() : 1, ' ')
                  << s.summary << '\n';
    }
    std::cerr << "\n\"arena SUBCOMMAND -h\" shows the options of one subcommand.\n";
}

void prepareProcess() {
    // A bot that goes away must not end the arena through a write to its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    // Each running match holds about six descriptors (pipes and logs of the server and the
    // bots): many at once need more than the usual soft limit of 1024.
    struct rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

/// 0 on success, 1 on failure or a refused command line, 130 after an interruption.
int runSubcommand(const Subcommand& s, int argc, const char* const* argv) {
    // The parser names the program after argv[0]: make it "arena match" and so on.
    const std::string program = "arena " + s.name;
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
    if (Arena::interrupted()) {
        return 130;
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, const char* const* argv) {
    prepareProcess();
    const std::string name = argc < 2 ? "" : argv[1];
    if (name.empty() || name == "-h" || name == "--help") {
        usage();
        return 1;
    }
    for (const Subcommand& s : subcommands()) {
        if (s.name == name) {
            return runSubcommand(s, argc, argv);
        }
    }
    std::cerr << "arena: unknown subcommand '" << name << "'\n\n";
    usage();
    return 1;
}
