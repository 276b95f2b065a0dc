#include "TournamentCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "PathArgument.h"
#include "RunOptions.h"
#include "Tournament.h"
#include "TournamentConfig.h"
#include "knob/VariableArgument.h"

namespace {

const Logging::Logger& logger = Arena::logger();

} // namespace

bool TournamentCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> config("The tournament configuration (JSON)", m_config);
    config.valuename("config.json");
    PathArgument::bound(config, "config.json", PathArgument::Kind::Any);
    knob::VariableArgument<std::string> out("Keep the plan, records and logs in this &out folder",
                                            m_out);
    out.valuename("dir");
    PathArgument::bound(out, "--out", PathArgument::Kind::Folder);
    RunOptions run(&m_jobs, m_server, m_client, &m_oversubscribe);
    parser.add(+config);
    parser.add(+out);
    run.addTo(parser);
    return Tool::parseOptions(parser);
}

bool TournamentCommand::doRun() {
    TournamentConfig config;
    nlohmann::json plan;
    std::string error;
    Tournament tournament;
    if (!config.load(m_config, error) || !config.makePlan(plan, error) ||
        !tournament.create(m_out, plan, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    tournament.serverProgram = Arena::serverProgram(m_server);
    tournament.clientProgram = Arena::clientProgram(m_client);
    tournament.oversubscribe = m_oversubscribe;
    Arena::catchInterrupts();
    const unsigned jobs = m_jobs != 0 ? m_jobs : config.concurrency;
    const bool ok = tournament.run(jobs, "arena tournament " + m_config + " --out " + m_out);
    Arena::interrupted() = Arena::stopRequested();
    if (ok) {
        LOG(logger, lumber::INFO) << "All matches played; see: arena report " << m_out;
    }
    return ok;
}
