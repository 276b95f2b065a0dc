#include "PlayCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "LongOption.h"
#include "MatchCommand.h"
#include "RecordFile.h"
#include "Tournament.h"

#include <iostream>

namespace {

const Logging::Logger& logger = Arena::logger();

/// Matches played at once by a job runner get ports 101 apart, by their plan index.
constexpr unsigned PORT_SLOTS = 400;

} // namespace

bool PlayCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir("The tournament folder", m_dir);
    dir.valuename("dir");
    knob::VariableArgument<std::string> id("The id of the planned match", m_id);
    id.valuename("match-id");
    LongOption<unsigned> port("First port the server tries (default: from the match's place in "
                              "the plan)",
                              m_basePort, "baseport", "port", 'b');
    LongOption<std::string> server("The server program", m_server, "server", "path");
    LongOption<std::string> client("The reference client program", m_client, "client", "path");
    parser.add(+dir);
    parser.add(+id);
    parser.add(port);
    parser.add(server);
    parser.add(client);
    return Tool::parseOptions(parser);
}

bool PlayCommand::doRun() {
    std::string error;
    Tournament tournament;
    if (!tournament.open(m_dir, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    const nlohmann::json match = tournament.match(m_id);
    if (match.is_null()) {
        LOG(logger, lumber::ERR) << "No match " << m_id << " in " << m_dir << "/plan.json";
        return false;
    }
    nlohmann::json record;
    if (RecordFile::read(tournament.recordPath(m_id), record, error)) {
        LOG(logger, lumber::INFO) << "Match " << m_id << " has a record already";
        return true;
    }
    tournament.serverProgram = Arena::serverProgram(m_server);
    tournament.clientProgram = Arena::clientProgram(m_client);
    const unsigned base = tournament.plan()["config"]["base_port"];
    const unsigned slots = std::min(PORT_SLOTS, std::max(1u, (65000 - base) / 101));
    const unsigned port =
        m_basePort != 0 ? m_basePort : base + (match["index"].get<unsigned>() % slots) * 101;
    Arena::catchInterrupts();
    error.clear();
    if (tournament.play(match, port, record, error) != MatchOutcome::Recorded) {
        if (!error.empty()) {
            LOG(logger, lumber::ERR) << error;
        }
        Arena::interrupted() = MatchRunner::stopRequested();
        return false;
    }
    MatchCommand::printResult(record, std::cout);
    // A recorded match is done, whatever its end: the record says what happened.
    return true;
}
