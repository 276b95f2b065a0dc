#include "TournamentCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "Tournament.h"
#include "TournamentConfig.h"
#include "knob/VariableArgument.h"

namespace {

const Logging::Logger& logger = Arena::logger();

} // namespace

bool TournamentCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> config("The tournament configuration (JSON)", m_config);
    config.valuename("config.json");
    knob::VariableArgument<std::string> out("Keep the plan, records and logs in this &out folder",
                                            m_out);
    out.valuename("dir");
    knob::VariableArgument<unsigned> jobs(
        "Play this many matches at once (default: the configuration's "
        "concurrency)",
        "jobs", m_jobs);
    jobs.valuename("number").alias('j');
    knob::VariableArgument<std::string> server("The server program", "server", m_server);
    server.valuename("path");
    knob::VariableArgument<std::string> client("The reference client program", "client", m_client);
    client.valuename("path");
    parser.add(+config);
    parser.add(+out);
    parser.add(jobs);
    parser.add(server);
    parser.add(client);
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
    Arena::catchInterrupts();
    const unsigned jobs = m_jobs != 0 ? m_jobs : config.concurrency;
    const bool ok = tournament.run(jobs, "arena tournament " + m_config + " --out " + m_out);
    Arena::interrupted() = MatchRunner::stopRequested();
    if (ok) {
        LOG(logger, lumber::INFO) << "All matches played; see: arena report " << m_out;
    }
    return ok;
}
