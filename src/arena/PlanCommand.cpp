#include "PlanCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "LongOption.h"
#include "PlayLine.h"
#include "Tournament.h"
#include "TournamentConfig.h"

#include <iostream>

namespace {

const Logging::Logger& logger = Arena::logger();

} // namespace

bool PlanCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir("The tournament folder", m_dir);
    dir.valuename("dir");
    LongOption<std::string> config("Write the plan of this configuration into the folder first "
                                   "(once)",
                                   m_config, "config", "config.json");
    parser.add(+dir);
    parser.add(config);
    return Tool::parseOptions(parser);
}

bool PlanCommand::doRun() {
    std::string error;
    PlayLine play;
    if (!play.prepare(m_dir, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
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
    // A match whose id cannot be written plainly is named and left out; the others still run.
    bool all = true;
    for (const nlohmann::json& m : tournament.pending()) {
        std::string line;
        if (play.line(m["id"].get<std::string>(), line, error)) {
            std::cout << line << '\n';
        } else {
            LOG(logger, lumber::ERR) << error;
            all = false;
        }
    }
    return all;
}
