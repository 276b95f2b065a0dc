#include "LeagueWorkers.h"

#include "League.h"
#include "SqlDatabase.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

bool LeagueWorkers::isLeague(const std::string& where) {
    std::error_code ec;
    return fs::is_regular_file(where, ec) ||
           fs::is_regular_file(fs::path(where) / "league.json", ec);
}

bool LeagueWorkers::prepare(const std::string& where, unsigned workers, std::string& error) {
    if (!m_config.loadLeague(where, error) ||
        !m_play.prepare(m_config.file, error, "the league's configuration")) {
        return false;
    }
    if (workers > 1 && !SqlDatabase::isPostgres(m_config.database)) {
        // Several nodes would each lock their own view of the file over the shared file system,
        // which SQLite cannot make safe; one worker with several slots can.
        error = "the league's database " + m_config.database +
                " is an SQLite file, which only one machine can use: run one worker "
                "(--workers 1), or give the league a PostgreSQL \"database\" in " +
                m_play.dir() + " for " + std::to_string(workers) + " workers";
        return false;
    }
    return plan(error);
}

bool LeagueWorkers::plan(std::string& error) {
    std::unique_ptr<League> league = League::open(m_config.database, error);
    if (!league) {
        return false;
    }
    std::int64_t reopened = 0;
    LeagueProgress progress;
    if (!league->reopenUnplayed(reopened) || !league->schedule(m_config, progress)) {
        error = league->error();
        return false;
    }
    m_reopened = static_cast<size_t>(reopened);
    m_left = progress.needed - std::min(progress.needed, progress.done);
    m_expectedLeft =
        std::max(m_left, progress.expected - std::min(progress.expected, progress.done));
    return true;
}

std::string LeagueWorkers::workerLine(unsigned jobs) const {
    return m_play.program() + " league " + m_play.dir() + " -j " + std::to_string(jobs);
}
