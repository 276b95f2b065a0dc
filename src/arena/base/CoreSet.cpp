#include "CoreSet.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sched.h>
#include <sstream>

namespace {

constexpr size_t MAX_LINE = 4096;

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line.size() > MAX_LINE ? std::string() : line;
}

/// The group of this process in the hierarchy `controller` names ("" for v2), from
/// /proc/self/cgroup; "/" when it cannot be told.
std::string ownGroup(const std::string& controller) {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    for (int n = 0; n < 64 && std::getline(in, line); ++n) {
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) {
            continue;
        }
        const std::string list = line.substr(a + 1, b - a - 1);
        std::istringstream names(list);
        bool match = controller.empty() && list.empty();
        for (std::string name; !match && std::getline(names, name, ',');) {
            match = name == controller;
        }
        if (match) {
            return line.substr(b + 1);
        }
    }
    return "/";
}

/// Cores' worth of CPU time the quota of this process's groups allows (0: no quota).
double quotaCores() {
    std::istringstream v2(firstLine("/sys/fs/cgroup" + ownGroup("") + "/cpu.max"));
    std::string quota;
    double period = 0;
    if (v2 >> quota >> period && quota != "max" && period > 0) {
        return std::atof(quota.c_str()) / period;
    }
    const std::string v1 = "/sys/fs/cgroup/cpu" + ownGroup("cpu");
    const double q = std::atof(firstLine(v1 + "/cpu.cfs_quota_us").c_str());
    const double p = std::atof(firstLine(v1 + "/cpu.cfs_period_us").c_str());
    return q > 0 && p > 0 ? q / p : 0;
}

} // namespace

CoreSet::CoreSet(std::vector<unsigned> cores) : m_cores(std::move(cores)) {
    std::sort(m_cores.begin(), m_cores.end());
    m_cores.erase(std::unique(m_cores.begin(), m_cores.end()), m_cores.end());
}

const CoreSet& CoreSet::usable() {
    static const CoreSet set = [] {
        std::vector<unsigned> cores;
        cpu_set_t mask;
        CPU_ZERO(&mask);
        if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
            for (unsigned c = 0; c < CPU_SETSIZE; ++c) {
                if (CPU_ISSET(c, &mask)) {
                    cores.push_back(c);
                }
            }
        }
        if (cores.empty()) {
            cores.push_back(0);
        }
        // A quota of 1.5 cores pays for one whole core per match, not two.
        const double quota = quotaCores();
        if (quota > 0) {
            cores.resize(
                std::clamp<size_t>(static_cast<size_t>(std::floor(quota)), 1, cores.size()));
        }
        return CoreSet(cores);
    }();
    return set;
}

std::string CoreSet::text() const {
    std::ostringstream os;
    for (size_t i = 0; i < m_cores.size();) {
        size_t j = i;
        while (j + 1 < m_cores.size() && m_cores[j + 1] == m_cores[j] + 1) {
            ++j;
        }
        os << (i != 0 ? "," : "") << m_cores[i];
        if (j != i) {
            os << '-' << m_cores[j];
        }
        i = j + 1;
    }
    return os.str();
}

CoreSet CoreSet::slot(unsigned slot, unsigned slots) const {
    if (m_cores.empty() || slots == 0) {
        return {};
    }
    if (slots > m_cores.size()) {
        return CoreSet({m_cores[slot % m_cores.size()]});
    }
    // Slot s gets the cores from s * n / slots up to (s + 1) * n / slots.
    const size_t n = m_cores.size();
    const size_t from = slot % slots * n / slots;
    const size_t to = (slot % slots + 1) * n / slots;
    return CoreSet(std::vector<unsigned>(m_cores.begin() + static_cast<long>(from),
                                         m_cores.begin() + static_cast<long>(to)));
}

bool CoreSet::fits(unsigned concurrency, bool oversubscribe, std::string& error) const {
    if (concurrency <= m_cores.size() || oversubscribe) {
        return true;
    }
    error = std::to_string(concurrency) + " matches at once need a core each, but this arena has " +
            std::to_string(m_cores.size()) + " usable core" + (m_cores.size() == 1 ? "" : "s") +
            " (" + text() + "): ask for at most " + std::to_string(m_cores.size()) +
            ", or share cores with --oversubscribe / \"oversubscribe\": true";
    return false;
}
