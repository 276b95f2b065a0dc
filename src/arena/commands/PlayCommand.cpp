#include "PlayCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "MatchCommand.h"
#include "MatchSlots.h"
#include "PathArgument.h"
#include "RunOptions.h"
#include "ServerFacts.h"
#include "Tournament.h"
#include "knob/VariableArgument.h"

#include <filesystem>
#include <iostream>

namespace {

const Logging::Logger& logger = Arena::logger();

/// Matches played at once by a job runner get ports a server's search width apart, by their
/// plan index.
constexpr unsigned PORT_SLOTS = 400;

} // namespace

bool PlayCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir("The tournament folder", m_dir);
    dir.valuename("dir");
    PathArgument::bound(dir, "dir", PathArgument::Kind::ExistingFolder);
    knob::VariableArgument<std::string> id("The id of the planned match", m_id);
    id.valuename("match-id");
    knob::VariableArgument<unsigned> port(
        "First port the server tries (default: from the match's place in "
        "the plan)",
        "baseport", m_basePort);
    port.valuename("port").alias('b');
    RunOptions programs(nullptr, m_server, m_client);
    parser.add(+dir);
    parser.add(+id);
    parser.add(port);
    programs.addTo(parser);
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
    if (!tournament.claim(m_id, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    if (tournament.recorded(m_id)) {
        LOG(logger, lumber::INFO) << "Match " << m_id << " has a record already";
        return true;
    }
    // On a worker that was sent only the plan (GNU parallel's --basefile) the folder for the
    // records does not exist yet.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(m_dir) / "matches", ec);
    MatchRecord record;
    tournament.serverProgram = Arena::serverProgram(m_server);
    tournament.clientProgram = Arena::clientProgram(m_client);
    const unsigned base = tournament.config().basePort;
    const unsigned width = ServerFacts::PORT_SEARCH_WIDTH;
    const unsigned slots =
        std::min(PORT_SLOTS, std::max(1u, (MatchSlots::TOP_PORT - base) / width));
    MatchSlot slot;
    slot.basePort =
        m_basePort != 0 ? m_basePort : base + (match["index"].get<unsigned>() % slots) * width;
    Arena::catchInterrupts();
    error.clear();
    if (tournament.play(match, slot, record, error) != MatchOutcome::Recorded) {
        if (!error.empty()) {
            LOG(logger, lumber::ERR) << error;
        }
        Arena::interrupted() = Arena::stopRequested();
        return false;
    }
    MatchCommand::printResult(record, std::cout);
    // A recorded match is done, whatever its end: the record says what happened.
    return true;
}
