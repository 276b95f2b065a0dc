#include "SlurmCommand.h"

#include "Arena.h"
#include "LeagueWorkers.h"
#include "Logging.h"
#include "PlayLine.h"
#include "RecordsFolder.h"
#include "Subprocess.h"
#include "Tournament.h"
#include "TournamentConfig.h"
#include "knob/VariableArgument.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace {

/// Standard output carries only what a job runner reads; every message goes to standard error.
void note(const std::string& text) {
    std::cerr << "arena slurm: " << text << '\n';
}

constexpr size_t MAX_NAME = 64;
constexpr size_t MAX_SBATCH_OUTPUT = size_t{64} * 1024;
/// sbatch retries an unreachable controller for a while on its own; past this it is stopped.
constexpr auto SBATCH_TIMEOUT = std::chrono::seconds(120);

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

/// Up to `most` groups of digits joined by ':'.
bool clock(const std::string& text, size_t most) {
    size_t groups = 0;
    std::istringstream in(text);
    std::string group;
    while (std::getline(in, group, ':')) {
        if (!allDigits(group) || ++groups > most) {
            return false;
        }
    }
    return groups > 0 && text.back() != ':';
}

/// "1 match", "2 matches".
std::string counted(size_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

/// "2 workers, each playing up to 3 matches at once".
std::string workersText(unsigned workers, unsigned jobs) {
    return counted(workers, "worker", "workers") + (workers == 1 ? " playing" : ", each playing") +
           " up to " + counted(jobs, "match", "matches") + " at once";
}

bool isPartition(const std::string& text) {
    return !text.empty() && text.size() <= MAX_NAME &&
           text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789_.-,") == std::string::npos;
}

/// Everything sbatch wrote, up to a bound, and whether it ended with status 0 in time.
bool runToEnd(Subprocess& child, std::string& output) {
    const auto deadline = std::chrono::steady_clock::now() + SBATCH_TIMEOUT;
    char buffer[4096];
    while (child.outputFd() >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{child.outputFd(), POLLIN, 0};
        if (poll(&fd, 1, 100) < 0 && errno != EINTR) {
            break;
        }
        const ssize_t n = read(child.outputFd(), buffer, sizeof buffer);
        if (n > 0 && output.size() < MAX_SBATCH_OUTPUT) {
            output.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            child.closeOutput();
        }
    }
    child.stop(1000);
    return child.ended() && child.waitStatus() == 0;
}

} // namespace

bool SlurmCommand::isTimeLimit(const std::string& text) {
    if (text.empty() || text.size() > MAX_NAME) {
        return false;
    }
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return clock(text, 3);
    }
    return allDigits(text.substr(0, dash)) && clock(text.substr(dash + 1), 3);
}

bool SlurmCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir(
        "The tournament folder, or a league (its folder or configuration)", m_dir);
    dir.valuename("dir|league");
    knob::VariableArgument<std::string> partition(
        "Submit to this partition (default: the cluster's)", "partition", m_partition);
    partition.valuename("name").alias('p');
    partition.check_typed([](const knob::TypedArgument<std::string>&, const std::string& p) {
        if (!isPartition(p)) {
            throw knob::exception("A partition is a Slurm name: letters, digits, _ . - ,");
        }
    });
    knob::VariableArgument<unsigned> running(
        "Run at most this many tasks at once: matches, or a league's workers (default: no limit)",
        "max-running", m_maxRunning);
    running.valuename("number");
    knob::VariableArgument<std::string> time(
        "Time limit of one task, as sbatch reads it (minutes, HH:MM:SS "
        "or D-HH:MM:SS; default: the partition's)",
        "time", m_time);
    time.valuename("limit").alias('t');
    time.check_typed([](const knob::TypedArgument<std::string>&, const std::string& t) {
        if (!isTimeLimit(t)) {
            throw knob::exception("Please give the time as minutes, HH:MM:SS or D-HH:MM:SS.");
        }
    });
    knob::Argument submit("Also $submit the job array with sbatch and print its job id");
    knob::VariableArgument<unsigned> workers(
        "League: run this many workers, one array task each (default: 1)", "workers", m_workers);
    workers.valuename("number");
    workers.check_typed([](const knob::TypedArgument<unsigned>&, const unsigned& n) {
        if (n == 0 || n > MAX_TASKS) {
            throw knob::exception("Please give from 1 to " + std::to_string(MAX_TASKS) +
                                  " workers.");
        }
    });
    knob::VariableArgument<unsigned> jobs("League: matches each worker plays at once, and its "
                                          "CPUs (default: the configuration's concurrency, else 1)",
                                          "jobs", m_jobs);
    jobs.valuename("number").alias('j');
    jobs.check_typed([](const knob::TypedArgument<unsigned>&, const unsigned& n) {
        if (n == 0 || n > TournamentConfig::MAX_CONCURRENCY) {
            throw knob::exception("Please give from 1 to " +
                                  std::to_string(TournamentConfig::MAX_CONCURRENCY) +
                                  " matches at once.");
        }
    });
    parser.add(+dir);
    for (knob::Argument* a : std::initializer_list<knob::Argument*>{&partition, &running, &time,
                                                                    &submit, &workers, &jobs}) {
        parser.add(*a);
    }
    const bool ok = Tool::parseOptions(parser);
    m_submit = submit.count() != 0;
    return ok;
}

void SlurmCommand::header(std::ostream& out, const std::string& folder, size_t tasks,
                          unsigned cpus) const {
    out << "#SBATCH --job-name=arena-" << std::filesystem::path(folder).filename().string()
        << "\n#SBATCH --array=1-" << tasks;
    if (m_maxRunning != 0) {
        out << '%' << m_maxRunning;
    }
    out << "\n#SBATCH --ntasks=1\n#SBATCH --cpus-per-task=" << cpus << '\n'
        << "#SBATCH --output=" << folder << "/slurm/%A_%a.out\n";
    if (!m_partition.empty()) {
        out << "#SBATCH --partition=" << m_partition << '\n';
    }
    if (!m_time.empty()) {
        out << "#SBATCH --time=" << m_time << '\n';
    }
}

std::string SlurmCommand::script(const PlayLine& play, const std::vector<std::string>& ids) const {
    std::ostringstream out;
    out << "#!/bin/sh\n"
        << "# Written by \"arena slurm\": one task per pending match of " << play.dir() << ".\n"
        << "# A task that fails writes no record; \"arena slurm " << play.dir()
        << "\" again submits what is left.\n";
    header(out, play.dir(), std::min(ids.size(), MAX_TASKS), 1);
    out << "case \"$SLURM_ARRAY_TASK_ID\" in\n";
    for (size_t i = 0; i < ids.size() && i < MAX_TASKS; ++i) {
        out << (i + 1) << ") id=" << ids[i] << " ;;\n";
    }
    out << "*) echo \"no match for array task $SLURM_ARRAY_TASK_ID\" >&2; exit 1 ;;\nesac\n"
        << "exec " << play.program() << " play " << play.dir() << " \"$id\"\n";
    return out.str();
}

std::string SlurmCommand::leagueScript(const LeagueWorkers& league, unsigned workers,
                                       unsigned jobs) const {
    const std::string folder = std::filesystem::path(league.file()).parent_path().string();
    std::ostringstream out;
    out << "#!/bin/sh\n"
        << "# Written by \"arena slurm\" for the league " << league.file() << ": "
        << workersText(workers, jobs) << ".\n"
        << "# A worker claims the league's matches from its database until none is left; \"arena "
        << "slurm " << league.file() << " --submit\" adds workers.\n";
    header(out, folder, workers, jobs);
    out << "exec " << league.workerLine(jobs) << '\n';
    return out.str();
}

bool SlurmCommand::pendingIds(const PlayLine& play, std::vector<std::string>& ids,
                              size_t& left) const {
    std::string error;
    Tournament tournament;
    if (!tournament.open(play.dir(), error)) {
        note(error);
        return false;
    }
    bool all = true;
    left = 0;
    for (const nlohmann::json& m : tournament.pending()) {
        std::string id = m["id"].get<std::string>();
        std::string line;
        if (!play.line(id, line, error)) {
            note(error);
            all = false;
        } else if (ids.size() < MAX_TASKS) {
            ids.push_back(std::move(id));
        } else {
            ++left;
        }
    }
    return all;
}

bool SlurmCommand::submit(const std::string& scriptPath) const {
    Subprocess sbatch;
    std::string error;
    if (!sbatch.start({"sbatch", "--parsable", scriptPath}, Subprocess::Options{}, error)) {
        note(error);
        return false;
    }
    std::string output;
    const bool ok = runToEnd(sbatch, output);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
        output.pop_back();
    }
    if (!ok) {
        note("sbatch " + scriptPath + " failed (" + sbatch.describeEnd() + "): " + output);
        return false;
    }
    // --parsable prints "JOBID" or "JOBID;CLUSTER".
    std::cout << output.substr(0, output.find(';')) << '\n';
    return true;
}

bool SlurmCommand::writeAndSubmit(const std::string& folder, const std::string& text,
                                  const std::string& what) const {
    const std::string path = folder + "/slurm-array.sh";
    std::error_code ec;
    std::filesystem::create_directories(folder + "/slurm", ec);
    std::string error;
    if (ec || !RecordsFolder::writeText(path, text, error)) {
        note(ec ? "cannot make " + folder + "/slurm: " + ec.message() : error);
        return false;
    }
    note("wrote " + path + ": " + what);
    if (!m_submit) {
        std::cout << "sbatch " << path << '\n';
        return true;
    }
    return submit(path);
}

bool SlurmCommand::runLeague() {
    const unsigned workers = std::max(1u, m_workers);
    LeagueWorkers league;
    std::string error;
    if (!league.prepare(m_dir, workers, error)) {
        note(error);
        return false;
    }
    if (league.reopened() != 0) {
        note(counted(league.reopened(), "match", "matches") +
             " left unplayed by an earlier run are played again");
    }
    if (league.left() == 0) {
        note("no match left to play in the league " + league.file() + " to submit");
        return true;
    }
    const unsigned jobs = m_jobs != 0 ? m_jobs : std::max(1u, league.config().concurrency);
    return writeAndSubmit(std::filesystem::path(league.file()).parent_path().string(),
                          leagueScript(league, workers, jobs),
                          workersText(workers, jobs) + ", for " +
                              (league.config().sampled ? "about " : "") +
                              counted(league.expectedLeft(), "match", "matches") + " left to play");
}

bool SlurmCommand::doRun() {
    if (LeagueWorkers::isLeague(m_dir)) {
        return runLeague();
    }
    if (m_workers != 0 || m_jobs != 0) {
        note("--workers and --jobs are for a league; a tournament folder gets one task per "
             "pending match");
        return false;
    }
    PlayLine play;
    std::string error;
    if (!play.prepare(m_dir, error)) {
        note(error);
        return false;
    }
    std::vector<std::string> ids;
    size_t left = 0;
    const bool all = pendingIds(play, ids, left);
    if (ids.empty()) {
        note("no pending match in " + play.dir() + " to submit");
        return all;
    }
    return writeAndSubmit(play.dir(), script(play, ids),
                          counted(ids.size(), "pending match", "pending matches") +
                              (left != 0 ? ", " + std::to_string(left) +
                                               " more for a later array once these are done"
                                         : std::string())) &&
           all;
}
