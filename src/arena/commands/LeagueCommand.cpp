#include "LeagueCommand.h"

#include "Arena.h"
#include "League.h"
#include "LeagueConfig.h"
#include "LeagueLimit.h"
#include "LeaguePage.h"
#include "LeagueRunner.h"
#include "LeagueTables.h"
#include "Logging.h"
#include "MatchFolder.h"
#include "MatchRunner.h"
#include "PathArgument.h"
#include "RecordsFolder.h"
#include "ReportPage.h"
#include "RunOptions.h"

#include "knob/SwitchArgument.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

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

/// The league's page and its match pages; says where, unless standard output is JSON.
bool writePage(League& league, const std::string& path, bool quiet) {
    std::string error;
    if (!LeaguePage::write(league, path, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    if (!quiet) {
        std::cout << "Wrote " << path << " and the match pages in " << ReportPage::matchFolder(path)
                  << '\n';
    }
    return true;
}

/// What went wrong for one bot in the needed matches: forfeits and matches left unplayed, each
/// with the first reason and a log to read.
struct BotFailures {
    size_t forfeits = 0;
    std::string forfeitWhy;
    std::string forfeitLog;
    size_t unplayed = 0;
    std::string unplayedWhy;
    std::string unplayedLog;
};

std::string matchesText(size_t n) {
    return std::to_string(n) + (n == 1 ? " match" : " matches");
}

/// Prints, per bot, what it forfeited and what stays unplayed; the number of matches unplayed.
bool summarize(League& league, const LeagueConfig& config, size_t& unplayed) {
    std::map<std::string, BotFailures> bots;
    std::set<std::int64_t> unplayedIds;
    const bool read = league.failures([&](const FailedSeat& f) {
        BotFailures& b = bots[f.bot];
        const std::string log = MatchFolder::of(config.folder, "m" + std::to_string(f.matchId));
        if (f.end == MatchEnd::Final) {
            b.forfeitWhy = b.forfeits++ == 0 ? f.disqualified : b.forfeitWhy;
            b.forfeitLog = b.forfeitLog.empty()
                               ? MatchFolder::seatLog(log, static_cast<unsigned>(f.seat))
                               : b.forfeitLog;
            return;
        }
        unplayedIds.insert(f.matchId);
        b.unplayedWhy = b.unplayed++ == 0
                            ? MatchRecord::endName(f.end) + std::string(": ") + f.reason
                            : b.unplayedWhy;
        b.unplayedLog = b.unplayedLog.empty() ? log : b.unplayedLog;
    });
    if (!read) {
        LOG(logger, lumber::ERR) << league.error();
        return false;
    }
    for (const auto& [bot, b] : bots) {
        if (b.forfeits > 0) {
            LOG(logger, lumber::WARN) << bot << ": " << matchesText(b.forfeits) << " forfeited ("
                                      << b.forfeitWhy << "); log: " << b.forfeitLog;
        }
        if (b.unplayed > 0) {
            LOG(logger, lumber::WARN) << bot << ": " << matchesText(b.unplayed) << " unplayed ("
                                      << b.unplayedWhy << "); log: " << b.unplayedLog;
        }
    }
    unplayed = unplayedIds.size();
    return true;
}

/// A worker's first line: what it will do.
std::string planLine(const LeagueConfig& config, const LeagueProgress& p, unsigned jobs) {
    const size_t left = p.needed - p.done;
    std::string line = config.sampled
                           ? "Sampled schedule, about " + std::to_string(config.matchesPerVersion) +
                                 " matches per version and map: "
                           : "Round robin: ";
    line += std::to_string(p.done) + " of " + (config.sampled ? "about " : "") +
            std::to_string(p.expected) + " matches played; ";
    if (left == 0) {
        return line + "nothing left to play";
    }
    return line + std::to_string(left) + " left to play (" + std::to_string(p.added) +
           " newly planned), up to " + std::to_string(std::max(1u, jobs)) + " at once here";
}

/// Shows the league's standings under `option` ("time=1", "depth=3"): the limit in force or one
/// whose standings are kept; false, said with the limits there are, otherwise.
bool chooseLimit(League& league, const std::string& option) {
    LeagueLimit wanted;
    std::string error;
    std::vector<LeagueLimit> inForce;
    std::vector<std::pair<LeagueLimit, size_t>> kept;
    if (!league.limitsInForce(inForce) || !league.keptLimits(kept)) {
        LOG(logger, lumber::ERR) << league.error();
        return false;
    }
    const bool parsed = LeagueLimit::parse(option, wanted, error);
    const bool known =
        std::find(inForce.begin(), inForce.end(), wanted) != inForce.end() ||
        std::any_of(kept.begin(), kept.end(), [&](const auto& k) { return k.first == wanted; });
    if (parsed && known) {
        league.setView(wanted);
        return true;
    }
    std::string there;
    for (const LeagueLimit& l : inForce) {
        there += (there.empty() ? "" : ", ") + l.option() + " (in force)";
    }
    for (const auto& [limit, matches] : kept) {
        there += (there.empty() ? "" : ", ") + limit.option() + " (" + matchesText(matches) + ")";
    }
    LOG(logger, lumber::ERR) << (parsed ? "the league has no standings under " + wanted.text()
                                        : error)
                             << "; its limits: " << (there.empty() ? "none yet" : there);
    return false;
}

} // namespace

namespace {

/// The league's words that are paths, bounded: the words come in order, so what the first one
/// (`action`, once read) is tells what the others are.
void boundLeaguePaths(knob::TypedArgument<std::string>& first,
                      knob::TypedArgument<std::string>& second,
                      knob::TypedArgument<std::string>& third, const std::string& action) {
    const auto isAction = [](const std::string& word) {
        return word == "report" || word == "import" || word == "export" || word == "rename";
    };
    first.check_typed(
        [isAction](const knob::TypedArgument<std::string>&, const std::string& given) {
            if (!isAction(given)) {
                PathArgument::check("league", given, PathArgument::Kind::Any);
            }
        });
    PathArgument::bound(second, "league", PathArgument::Kind::Any);
    third.check_typed([&action](const knob::TypedArgument<std::string>&, const std::string& given) {
        if (action == "import" || action == "export") {
            PathArgument::check("dir", given,
                                action == "import" ? PathArgument::Kind::ExistingFolder
                                                   : PathArgument::Kind::Folder);
        }
    });
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
    knob::VariableArgument<std::string> fourth("rename: the bot's new name", m_fourth);
    fourth.valuename("new");
    knob::SwitchArgument json("Print the tables as JSON", m_json);
    json.alias("json");
    knob::VariableArgument<std::string> html(
        "Also write the tables as a web page to this file, with a page per match beside it", "html",
        m_html);
    html.valuename("file");
    PathArgument::bound(html, "--html", PathArgument::Kind::File);
    knob::VariableArgument<unsigned> top("Print only this many rows of the standings", "top",
                                         m_top);
    top.valuename("rows");
    knob::VariableArgument<std::string> match("export: only this match (mID)", "match", m_match);
    match.valuename("id");
    boundLeaguePaths(first, second, third, m_first);
    knob::VariableArgument<std::string> limit(
        "report: the standings kept under an earlier limit (time=SECONDS or depth=N)", "limit",
        m_limit);
    limit.valuename("limit");
    RunOptions run(&m_jobs, m_server, m_client, &m_oversubscribe);
    parser.add(+first);
    parser.add(second);
    parser.add(third);
    parser.add(fourth);
    run.addTo(parser);
    for (knob::Argument* a :
         std::initializer_list<knob::Argument*>{&json, &html, &top, &match, &limit}) {
        parser.add(*a);
    }
    return Tool::parseOptions(parser);
}

bool LeagueCommand::doRun() {
    if (m_first == "report" || m_first == "import" || m_first == "export" || m_first == "rename") {
        if (m_second.empty()) {
            LOG(logger, lumber::ERR) << "arena league " << m_first << " needs the league";
            return false;
        }
        return m_first == "report"   ? report()
               : m_first == "import" ? importFolder()
               : m_first == "rename" ? rename()
                                     : exportRecords();
    }
    return play();
}

bool LeagueCommand::play() {
    LeagueConfig config;
    std::unique_ptr<League> league = openLeague(m_first, config);
    LeagueProgress progress;
    std::int64_t reopened = 0;
    if (!league || !league->reopenUnplayed(reopened) || !league->schedule(config, progress)) {
        if (league) {
            LOG(logger, lumber::ERR) << league->error();
        }
        return false;
    }
    if (reopened > 0) {
        LOG(logger, lumber::INFO) << matchesText(static_cast<size_t>(reopened))
                                  << " left unplayed by an earlier run are played again";
    }
    const unsigned jobs = m_jobs != 0 ? m_jobs : config.concurrency;
    if (!progress.changed.empty()) {
        std::string names;
        for (const std::string& bot : progress.changed) {
            names += (names.empty() ? "" : ", ") + bot;
        }
        LOG(logger, lumber::INFO) << "New versions: " << names;
    }
    if (!progress.limitBefore.empty()) {
        LOG(logger, lumber::WARN) << LeagueLimit::changeLine(
            progress.limitBefore, LeagueLimit(config.timeMs(), config.depthLimit()), config.sampled,
            progress.needed - progress.done, progress.kept, "arena league report " + m_first);
    }
    LOG(logger, lumber::INFO) << planLine(config, progress, jobs);
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
    const bool ok = runner.run(jobs);
    snapshot(*league);
    Arena::interrupted() = Arena::stopRequested();
    size_t unplayed = 0;
    if (Arena::interrupted()) {
        LOG(logger, lumber::WARN) << "Interrupted; resume with: arena league " << m_first;
        return false;
    }
    if (!ok || !summarize(*league, config, unplayed)) {
        return false;
    }
    if (unplayed > 0) {
        LOG(logger, lumber::ERR) << matchesText(unplayed) << (unplayed == 1 ? " stays" : " stay")
                                 << " unplayed; once their cause "
                                 << "is mended, play them again with: arena league " << m_first;
        return false;
    }
    LOG(logger, lumber::INFO) << "Every needed match is played; see: arena league report "
                              << m_first;
    return true;
}

bool LeagueCommand::report() {
    LeagueConfig config;
    std::unique_ptr<League> league = openLeague(m_second, config);
    // The tables of the league as last planned: a report changes nothing, so that one read
    // beside a running league (or a site with its teams' bots) never drops what it plays.
    if (!league || (!m_limit.empty() && !chooseLimit(*league, m_limit))) {
        return false;
    }
    json tables;
    if (!LeagueTables::compute(*league, tables)) {
        LOG(logger, lumber::ERR) << league->error();
        return false;
    }
    if (!m_html.empty() && !writePage(*league, m_html, m_json)) {
        return false;
    }
    if (m_json) {
        std::cout << tables.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
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

bool LeagueCommand::rename() {
    LeagueConfig config;
    std::unique_ptr<League> league = openLeague(m_second, config);
    if (!league || m_third.empty() || m_fourth.empty()) {
        LOG(logger, lumber::ERR) << "usage: arena league rename LEAGUE OLD NEW";
        return false;
    }
    if (!league->rename(m_third, m_fourth)) {
        LOG(logger, lumber::ERR) << league->error();
        return false;
    }
    LOG(logger, lumber::INFO) << "Renamed " << m_third << " to " << m_fourth
                              << " with its versions and results; name it \"" << m_fourth
                              << "\" in " << config.file << " too";
    return true;
}
