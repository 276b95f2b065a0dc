#include "PlanCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "Tournament.h"
#include "TournamentConfig.h"
#include "knob/VariableArgument.h"

#include <climits>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace {

const Logging::Logger& logger = Arena::logger();

/// The word as one shell word.
std::string quoted(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789/._-+=:,@") == std::string::npos) {
        return word;
    }
    std::string out = "'";
    for (char c : word) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

} // namespace

bool PlanCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir("The tournament folder", m_dir);
    dir.valuename("dir");
    knob::VariableArgument<std::string> config(
        "Write the plan of this configuration into the folder first "
        "(once)",
        "config", m_config);
    config.valuename("config.json");
    parser.add(+dir);
    parser.add(config);
    return Tool::parseOptions(parser);
}

bool PlanCommand::doRun() {
    std::string error;
    Tournament tournament;
    if (!m_config.empty()) {
        // The writer lets go of the folder once the plan is there: the lines printed below
        // may start playing at once.
        TournamentConfig config;
        nlohmann::json plan;
        Tournament writer;
        if (!config.load(m_config, error) || !config.makePlan(plan, error) ||
            !writer.create(m_dir, plan, error)) {
            LOG(logger, lumber::ERR) << error;
            return false;
        }
    }
    if (!tournament.open(m_dir, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string program = n > 0 ? std::string(self, static_cast<size_t>(n)) : "arena";
    const std::string dir = std::filesystem::absolute(m_dir).lexically_normal().string();
    for (const nlohmann::json& m : tournament.pending()) {
        std::cout << quoted(program) << " play " << quoted(dir) << ' '
                  << quoted(m["id"].get<std::string>()) << '\n';
    }
    return true;
}
