#include "LeagueCommand.h"

#include "Arena.h"
#include "League.h"
#include "LeagueConfig.h"
#include "LeagueRunner.h"
#include "LeagueTables.h"
#include "Logging.h"
#include "MatchRunner.h"
#include "RecordsFolder.h"
#include "RunOptions.h"

#include "knob/SwitchArgument.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

const Logging::Logger& logger = Arena::logger();

/// Rows of the standings shown while a league plays.
constexpr size_t TOP_ROWS = 5;
/// Record files a folder import reads at most.
constexpr size_t MAX_IMPORT_FILES = 1000000;

std::unique_ptr<League> openLeague(const std::string& where, LeagueConfig& config) {
    std::string error;
    if (!config.loadLeague(where, error)) {
        LOG(logger, lumber::ERR) << error;
        return nullptr;
    }
    std::unique_ptr<League> league = League::open(config.database, error);
    if (!league) {
        LOG(logger, lumber::ERR) << error;
    }
    return league;
}

/// The league of an import or an export; null, with the subcommand's usage logged, when the
/// league does not open or no folder is named.
std::unique_ptr<League> openWithFolder(const std::string& where, const std::string& folder,
                                       LeagueConfig& config, const char* usage) {
    std::unique_ptr<League> league = openLeague(where, config);
    if (!league || folder.empty()) {
        LOG(logger, lumber::ERR) << "usage: " << usage;
        return nullptr;
    }
    return league;
}

bool printTables(League& league, size_t top) {
    json tables;
    if (!LeagueTables::compute(league, tables)) {
        LOG(logger, lumber::ERR) << league.error();
        return false;
    }
    LeagueTables::print(tables, std::cout, top);
    return true;
}

/// Keeps the overall ratings as they stand after a run, for the league's history.
void snapshot(League& league) {
    json tables;
    if (!LeagueTables::compute(league, tables)) {
        return;
    }
    std::vector<RatingEntry> entries;
    for (const json& row : tables["standings"]) {
        RatingEntry e;
        e.version = row["version_id"];
        e.matches = row["matches"];
        e.rated =
            row["elo"].is_number() && row["elo_low"].is_number() && row["elo_high"].is_number();
        if (e.rated) {
            e.elo = row["elo"];
            e.low = row["elo_low"];
            e.high = row["elo_high"];
        }
        entries.push_back(e);
    }
    if (!league.snapshot("overall", entries)) {
        LOG(logger, lumber::WARN) << league.error();
    }
}

} // namespace

bool LeagueCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> first(
        "The league's configuration (or its folder, holding league.json); or report, import "
        "or export followed by the league",
        m_first);
    first.valuename("league|action");
    knob::VariableArgument<std::string> second("report, import, export: the league", m_second);
    second.valuename("league");
    knob::VariableArgument<std::string> third("import: the records folder; export: the folder "
                                              "to write records to",
                                              m_third);
    third.valuename("dir");
    knob::SwitchArgument json("Print the tables as JSON", m_json);
    json.alias("json");
    knob::VariableArgument<std::string> html("Write the tables as an HTML page to this file",
                                             "html", m_html);
    html.valuename("file");
    knob::VariableArgument<unsigned> top("Print only this many rows of the standings", "top",
                                         m_top);
    top.valuename("rows");
    knob::VariableArgument<std::string> match("export: only this match (mID)", "match", m_match);
    match.valuename("id");
    RunOptions run(&m_jobs, m_server, m_client, &m_oversubscribe);
    parser.add(+first);
    parser.add(second);
    parser.add(third);
    run.addTo(parser);
    for (knob::Argument* a : std::initializer_list<knob::Argument*>{&json, &html, &top, &match}) {
        parser.add(*a);
    }
    return Tool::parseOptions(parser);
}

bool LeagueCommand::doRun() {
    if (m_first == "report" || m_first == "import" || m_first == "export") {
        if (m_second.empty()) {
            LOG(logger, lumber::ERR) << "arena league " << m_first << " needs the league";
            return false;
        }
        return m_first == "report"   ? report()
               : m_first == "import" ? importFolder()
                                     : exportRecords();
    }
    return play();
}

bool LeagueCommand::play() {
    LeagueConfig config;
    std::unique_ptr<League> league = openLeague(m_first, config);
    LeagueProgress progress;
    if (!league || !league->schedule(config, progress)) {
        if (league) {
            LOG(logger, lumber::ERR) << league->error();
        }
        return false;
    }
    LOG(logger, lumber::INFO) << progress.done << " of " << progress.needed
                              << " needed matches are played; " << progress.added
                              << " new ones planned";
    LeagueRunner runner(*league, config);
    runner.serverProgram = Arena::serverProgram(m_server);
    runner.clientProgram = Arena::clientProgram(m_client);
    std::string error;
    if (!LeagueRunner::jailReady(config, runner.clientProgram, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    runner.onStandings = [&] { printTables(*league, TOP_ROWS); };
    runner.oversubscribe = m_oversubscribe;
    Arena::catchInterrupts();
    const unsigned jobs = m_jobs != 0 ? m_jobs : config.concurrency;
    const bool ok = runner.run(jobs);
    snapshot(*league);
    Arena::interrupted() = Arena::stopRequested();
    if (Arena::interrupted()) {
        LOG(logger, lumber::WARN) << "Interrupted; resume with: arena league " << m_first;
    } else if (ok) {
        LOG(logger, lumber::INFO) << "Every needed match is played; see: arena league report "
                                  << m_first;
    }
    return ok;
}

bool LeagueCommand::report() {
    LeagueConfig config;
    std::unique_ptr<League> league = openLeague(m_second, config);
    LeagueProgress progress;
    // The configuration decides what counts: planning marks it without playing anything.
    if (!league || !league->schedule(config, progress)) {
        return false;
    }
    json tables;
    if (!LeagueTables::compute(*league, tables)) {
        LOG(logger, lumber::ERR) << league->error();
        return false;
    }
    std::string error;
    if (!m_html.empty() && !RecordsFolder::writeText(m_html, LeagueTables::html(tables), error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    if (m_json) {
        std::cout << tables.dump(2) << '\n';
    } else {
        LeagueTables::print(tables, std::cout, m_top);
    }
    return true;
}

bool LeagueCommand::importFolder() {
    LeagueConfig config;
    std::unique_ptr<League> league =
        openWithFolder(m_second, m_third, config, "arena league import LEAGUE RECORDS_DIR");
    if (!league) {
        return false;
    }
    const RecordsFolder folder = RecordsFolder::of(m_third);
    std::vector<std::string> files = folder.list();
    files.resize(std::min(files.size(), MAX_IMPORT_FILES));
    size_t added = 0;
    size_t skipped = 0;
    for (const std::string& file : files) {
        MatchRecord record;
        std::string error;
        bool fresh = false;
        if (!folder.read(file, record, error) || !league->importRecord(record.toJson(), fresh)) {
            LOG(logger, lumber::WARN)
                << file << ": skipped: " << (error.empty() ? league->error() : error);
            ++skipped;
            continue;
        }
        added += fresh ? 1 : 0;
    }
    LeagueProgress progress;
    const bool ok = league->schedule(config, progress);
    LOG(logger, lumber::INFO) << "Imported " << added << " of " << files.size() << " records ("
                              << skipped << " not usable); " << progress.done << " of "
                              << progress.needed << " needed matches are played";
    return ok;
}

bool LeagueCommand::exportRecords() {
    LeagueConfig config;
    std::unique_ptr<League> league = openWithFolder(
        m_second, m_third, config, "arena league export LEAGUE OUT_DIR [--match ID]");
    if (!league) {
        return false;
    }
    std::vector<std::int64_t> ids;
    if (!m_match.empty()) {
        ids.push_back(std::strtoll(m_match.c_str() + (m_match[0] == 'm' ? 1 : 0), nullptr, 10));
    } else if (!league->finished([&](const FinishedSeat& s) {
                   if (ids.empty() || ids.back() != s.matchId) {
                       ids.push_back(s.matchId);
                   }
               })) {
        LOG(logger, lumber::ERR) << league->error();
        return false;
    }
    std::error_code ec;
    fs::create_directories(m_third, ec);
    size_t written = 0;
    for (const std::int64_t id : ids) {
        json document;
        MatchRecord record;
        bool found = false;
        std::string error;
        if (!league->record(id, document, found) || !found ||
            !MatchRecord::fromJson(document, "m" + std::to_string(id), record, error)) {
            LOG(logger, lumber::ERR) << "no usable record of match m" << id << " " << error;
            return false;
        }
        if (!RecordsFolder(m_third).write("m" + std::to_string(id), record, error)) {
            LOG(logger, lumber::ERR) << error;
            return false;
        }
        ++written;
    }
    LOG(logger, lumber::INFO) << "Wrote " << written << " records to " << m_third
                              << "; see one with: arena view FILE";
    return true;
}
