#include "PlanCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "PathArgument.h"
#include "PlayLine.h"
#include "Tournament.h"
#include "TournamentConfig.h"
#include "knob/VariableArgument.h"

#include <iostream>

namespace {

/// Standard output carries only what a job runner reads; every message goes to standard error.
void note(const std::string& text) {
    std::cerr << "arena plan: " << text << '\n';
}

} // namespace

bool PlanCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir("The tournament folder", m_dir);
    dir.valuename("dir");
    PathArgument::bound(dir, "dir", PathArgument::Kind::Folder);
    knob::VariableArgument<std::string> config(
        "Write the plan of this configuration into the folder first "
        "(once)",
        "config", m_config);
    config.valuename("config.json");
    PathArgument::bound(config, "--config", PathArgument::Kind::Any);
    parser.add(+dir);
    parser.add(config);
    return Tool::parseOptions(parser);
}

bool PlanCommand::doRun() {
    std::string error;
    PlayLine play;
    if (!play.prepare(m_dir, error)) {
        note(error);
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
            note(error);
            return false;
        }
    }
    if (!tournament.open(m_dir, error)) {
        note(error);
        return false;
    }
    // A match whose id cannot be written plainly is named and left out; the others still run.
    bool all = true;
    for (const nlohmann::json& m : tournament.pending()) {
        std::string line;
        if (play.line(m["id"].get<std::string>(), line, error)) {
            std::cout << line << '\n';
        } else {
            note(error);
            all = false;
        }
    }
    return all;
}
