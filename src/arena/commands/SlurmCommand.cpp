#include "SlurmCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "PlayLine.h"
#include "RecordsFolder.h"
#include "Subprocess.h"
#include "Tournament.h"
#include "knob/VariableArgument.h"

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
    knob::VariableArgument<std::string> dir("The tournament folder", m_dir);
    dir.valuename("dir");
    knob::VariableArgument<std::string> partition(
        "Submit to this partition (default: the cluster's)", "partition", m_partition);
    partition.valuename("name").alias('p');
    partition.check_typed([](const knob::TypedArgument<std::string>&, const std::string& p) {
        if (!isPartition(p)) {
            throw knob::exception("A partition is a Slurm name: letters, digits, _ . - ,");
        }
    });
    knob::VariableArgument<unsigned> running(
        "Run at most this many matches at once (default: no limit)", "max-running", m_maxRunning);
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
    parser.add(+dir);
    parser.add(partition);
    parser.add(running);
    parser.add(time);
    parser.add(submit);
    const bool ok = Tool::parseOptions(parser);
    m_submit = submit.count() != 0;
    return ok;
}

std::string SlurmCommand::script(const PlayLine& play, const std::vector<std::string>& ids) const {
    std::ostringstream out;
    out << "#!/bin/sh\n"
        << "# Written by \"arena slurm\": one task per pending match of " << play.dir() << ".\n"
        << "# A task that fails writes no record; \"arena slurm " << play.dir()
        << "\" again submits what is left.\n"
        << "#SBATCH --job-name=arena-" << std::filesystem::path(play.dir()).filename().string()
        << "\n#SBATCH --array=1-" << ids.size();
    if (m_maxRunning != 0) {
        out << '%' << m_maxRunning;
    }
    out << "\n#SBATCH --ntasks=1\n#SBATCH --cpus-per-task=1\n"
        << "#SBATCH --output=" << play.dir() << "/slurm/%A_%a.out\n";
    if (!m_partition.empty()) {
        out << "#SBATCH --partition=" << m_partition << '\n';
    }
    if (!m_time.empty()) {
        out << "#SBATCH --time=" << m_time << '\n';
    }
    out << "case \"$SLURM_ARRAY_TASK_ID\" in\n";
    for (size_t i = 0; i < ids.size() && i < MAX_TASKS; ++i) {
        out << (i + 1) << ") id=" << ids[i] << " ;;\n";
    }
    out << "*) echo \"no match for array task $SLURM_ARRAY_TASK_ID\" >&2; exit 1 ;;\nesac\n"
        << "exec " << play.program() << " play " << play.dir() << " \"$id\"\n";
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

bool SlurmCommand::doRun() {
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
    const std::string path = play.dir() + "/slurm-array.sh";
    std::error_code ec;
    std::filesystem::create_directories(play.dir() + "/slurm", ec);
    if (ec || !RecordsFolder::writeText(path, script(play, ids), error)) {
        note(ec ? "cannot make " + play.dir() + "/slurm: " + ec.message() : error);
        return false;
    }
    note("wrote " + path + ": " + std::to_string(ids.size()) +
         (ids.size() == 1 ? " pending match" : " pending matches") +
         (left != 0 ? ", " + std::to_string(left) + " more for a later array once these are done"
                    : std::string()));
    if (!m_submit) {
        std::cout << "sbatch " << path << '\n';
        return all;
    }
    return submit(path) && all;
}
