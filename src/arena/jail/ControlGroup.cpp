#include "ControlGroup.h"

#include "Arena.h"
#include "CoreSet.h"
#include "Logging.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const ROOT = "/sys/fs/cgroup";
/// The controllers a bot's group needs, by the name of their v1 hierarchy.
const char* const V1_CONTROLLERS[] = {"memory", "pids", "cpu", "cpuacct", "cpuset"};
const char* const V2_CONTROLLERS = "+memory +pids +cpu +cpuset";
/// Lines and bytes read from a control file: they are the kernel's, but short.
constexpr int MAX_LINES = 64;
constexpr int REMOVE_TRIES = 100;
constexpr int REMOVE_PAUSE_MS = 10;
/// The weight every bot's group gets: the kernel's default for one process.
const char* const V1_SHARES = "1024";
const char* const V2_WEIGHT = "100";

std::atomic<unsigned> groupsMade{0};

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

/// The number after `key` in a file of "key value" lines (0 when missing).
uint64_t keyed(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string name;
    uint64_t value = 0;
    for (int n = 0; n < MAX_LINES && in >> name >> value; ++n) {
        if (name == key) {
            return value;
        }
    }
    return 0;
}

uint64_t number(const std::string& path) {
    return std::strtoull(readLine(path).c_str(), nullptr, 10);
}

bool writeFile(const std::string& path, const std::string& text, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!ok) {
        error = "cannot write " + text + " into " + path + ": " + std::strerror(errno);
    }
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}

/// The group of this process in a hierarchy: v1 by a controller's name, v2 by "".
std::string ownGroup(const std::string& controller) {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    for (int n = 0; n < MAX_LINES && std::getline(in, line); ++n) {
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) {
            continue;
        }
        std::istringstream names(line.substr(a + 1, b - a - 1));
        bool match = controller.empty() && a + 1 == b;
        for (std::string name; !match && std::getline(names, name, ',');) {
            match = name == controller;
        }
        if (match) {
            return line.substr(b + 1) == "/" ? "" : line.substr(b + 1);
        }
    }
    return "";
}

bool hasAll(const std::string& controllers) {
    std::istringstream in(" " + controllers + " ");
    unsigned found = 0;
    for (std::string word; in >> word;) {
        found += word == "memory" || word == "pids" || word == "cpu" ? 1 : 0;
    }
    return found == 3;
}

/// Where bots' groups go in the unified hierarchy: beside the arena in its own group, whose
/// controllers are handed down to them. A group that holds processes cannot hand them down,
/// so the arena first moves into a leaf of its own when it is alone there.
bool prepareV2(std::string& base, std::string& error) {
    base = ROOT + ownGroup("");
    if (hasAll(readLine(base + "/cgroup.subtree_control"))) {
        return true;
    }
    if (writeFile(base + "/cgroup.subtree_control", V2_CONTROLLERS, error)) {
        return true;
    }
    const std::string leaf = base + "/reversi-arena-" + std::to_string(getpid());
    if ((mkdir(leaf.c_str(), 0755) != 0 && errno != EEXIST) ||
        !writeFile(leaf + "/cgroup.procs", "0", error)) {
        error = "cannot hand the controllers of " + base + " down to bots' groups (" + error + ")";
        return false;
    }
    return writeFile(base + "/cgroup.subtree_control", V2_CONTROLLERS, error);
}

/// The base of v2 groups, "" when groups are made in v1 hierarchies.
std::string& v2Base() {
    static std::string base;
    return base;
}

/// Removes the empty groups that an arena killed outright left in `dir` (named after its pid,
/// which no longer runs); a group that still holds a process stays.
void sweepStale(const std::string& dir) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string prefix = "reversi-bot-";
        if (name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + prefix.size()));
        if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) {
            rmdir(it->path().c_str());
        }
    }
}

} // namespace

std::string ControlGroup::kind(std::string& why) {
    static std::once_flag once;
    static std::string found;
    static std::string reason;
    std::call_once(once, [] {
        std::string error;
        const bool unified = hasAll(readLine(std::string(ROOT) + "/cgroup.controllers"));
        if (unified && prepareV2(v2Base(), error)) {
            found = "cgroup v2";
        } else if (!unified && fs::exists(std::string(ROOT) + "/memory/memory.limit_in_bytes") &&
                   fs::exists(std::string(ROOT) + "/pids/cgroup.procs")) {
            found = "cgroup v1";
        } else if (error.empty()) {
            error = "no cgroup v2 with the memory, pids and cpu controllers, nor cgroup v1 "
                    "hierarchies of them, under /sys/fs/cgroup";
        }
        if (!found.empty()) {
            for (const char* controller : V1_CONTROLLERS) {
                sweepStale(v2Base().empty()
                               ? std::string(ROOT) + "/" + controller + ownGroup(controller)
                               : v2Base());
            }
            if (v2Base().empty()) {
                sweepStale(std::string(ROOT) + "/freezer" + ownGroup("freezer"));
            }
        }
        ControlGroup probe;
        if (!found.empty() && !probe.create(Limits{}, error)) {
            found.clear();
        }
        if (found.empty()) {
            reason = "bots are held by per-process limits only (no whole-bot memory, no equal CPU "
                     "share): cannot make control groups: " +
                     error + "; run the arena as root or in a delegated group";
            LOG(Arena::logger(), lumber::WARN) << reason;
        }
    });
    why = reason;
    return found;
}

ControlGroup::~ControlGroup() {
    remove();
}

bool ControlGroup::makeDir(const std::string& dir, std::string& error) {
    if (mkdir(dir.c_str(), 0755) != 0) {
        error = "cannot make " + dir + ": " + std::strerror(errno);
        return false;
    }
    m_dirs.push_back(dir);
    return true;
}

bool ControlGroup::create(const Limits& limits, std::string& error) {
    m_v2 = !v2Base().empty();
    const bool ok = m_v2 ? createV2(limits, error) : createV1(limits, error);
    if (!ok) {
        remove();
    }
    return ok;
}

bool ControlGroup::createV1(const Limits& limits, std::string& error) {
    const std::string name =
        "reversi-bot-" + std::to_string(getpid()) + "-" + std::to_string(groupsMade++);
    std::vector<std::string> roots;
    for (const char* controller : V1_CONTROLLERS) {
        // Controllers mounted together ("cpu,cpuacct") share one folder.
        std::error_code ec;
        const std::string root = fs::canonical(std::string(ROOT) + "/" + controller, ec).string();
        if (ec) {
            error = std::string("no cgroup v1 hierarchy of ") + controller + " under " + ROOT;
            return false;
        }
        if (std::find(roots.begin(), roots.end(), root) != roots.end()) {
            continue;
        }
        std::string dir = root;
        dir.append(ownGroup(controller)).append("/").append(name);
        roots.push_back(root);
        if (!makeDir(dir, error)) {
            return false;
        }
        m_join.push_back(dir + "/cgroup.procs");
    }
    createV1Freezer(name);
    const std::string& memory = m_dirs[0];
    const std::string& pids = m_dirs[1];
    const std::string& cpu = m_dirs[2];
    const std::string& cpuset = m_dirs.back();
    const std::string parentSet = fs::path(cpuset).parent_path().string();
    const std::string cores =
        limits.cores.empty() ? readLine(parentSet + "/cpuset.cpus") : CoreSet(limits.cores).text();
    if (limits.memoryBytes != 0) {
        if (!writeFile(memory + "/memory.limit_in_bytes", std::to_string(limits.memoryBytes),
                       error)) {
            return false;
        }
        // Not swapped out either, where swap is counted.
        std::string ignored;
        writeFile(memory + "/memory.memsw.limit_in_bytes", std::to_string(limits.memoryBytes),
                  ignored);
    }
    return (limits.processes == 0 ||
            writeFile(pids + "/pids.max", std::to_string(limits.processes), error)) &&
           writeFile(cpu + "/cpu.shares", V1_SHARES, error) &&
           writeFile(cpuset + "/cpuset.mems", readLine(parentSet + "/cpuset.mems"), error) &&
           writeFile(cpuset + "/cpuset.cpus", cores, error);
}

void ControlGroup::createV1Freezer(const std::string& name) {
    // Without a freezer the bot is still held; only its pondering cannot be stopped.
    std::error_code ec;
    const std::string root = fs::canonical(std::string(ROOT) + "/freezer", ec).string();
    const std::string dir = root + ownGroup("freezer") + "/" + name;
    if (ec || mkdir(dir.c_str(), 0755) != 0) {
        return;
    }
    m_freezerDir = dir;
    m_freezer = dir + "/freezer.state";
    m_join.push_back(dir + "/cgroup.procs");
}

bool ControlGroup::createV2(const Limits& limits, std::string& error) {
    const std::string dir =
        v2Base() + "/reversi-bot-" + std::to_string(getpid()) + "-" + std::to_string(groupsMade++);
    if (!makeDir(dir, error)) {
        return false;
    }
    m_join.push_back(dir + "/cgroup.procs");
    if (fs::exists(dir + "/cgroup.freeze")) {
        m_freezer = dir + "/cgroup.freeze";
    }
    std::string ignored;
    writeFile(dir + "/memory.swap.max", "0", ignored);
    return (limits.memoryBytes == 0 ||
            writeFile(dir + "/memory.max", std::to_string(limits.memoryBytes), error)) &&
           (limits.processes == 0 ||
            writeFile(dir + "/pids.max", std::to_string(limits.processes), error)) &&
           writeFile(dir + "/cpu.weight", V2_WEIGHT, error) &&
           (limits.cores.empty() || !fs::exists(dir + "/cpuset.cpus") ||
            writeFile(dir + "/cpuset.cpus", CoreSet(limits.cores).text(), error));
}

ControlGroup::Usage ControlGroup::usage() const {
    Usage use;
    if (m_dirs.empty()) {
        return use;
    }
    if (m_v2) {
        const std::string& dir = m_dirs[0];
        use.cpuMs = keyed(dir + "/cpu.stat", "usage_usec") / 1000;
        use.peakBytes = number(dir + "/memory.peak");
        use.memoryLimit = keyed(dir + "/memory.events", "oom_kill") != 0;
        use.processLimit = keyed(dir + "/pids.events", "max") != 0;
        return use;
    }
    use.peakBytes = number(m_dirs[0] + "/memory.max_usage_in_bytes");
    use.memoryLimit = keyed(m_dirs[0] + "/memory.oom_control", "oom_kill") != 0;
    use.processLimit = keyed(m_dirs[1] + "/pids.events", "max") != 0;
    // cpuacct is the fourth hierarchy, or the third's folder when mounted with cpu.
    const std::string& cpuacct = m_dirs.size() == 5 ? m_dirs[3] : m_dirs[2];
    use.cpuMs = number(cpuacct + "/cpuacct.usage") / 1000000;
    return use;
}

void ControlGroup::removeDir(const std::string& dir) {
    for (int attempt = 0; attempt < REMOVE_TRIES && rmdir(dir.c_str()) != 0; ++attempt) {
        if (errno != EBUSY) {
            break;
        }
        std::ifstream procs(dir + "/cgroup.procs");
        for (pid_t pid = 0; procs >> pid;) {
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(REMOVE_PAUSE_MS));
    }
}

void ControlGroup::remove() {
    // A frozen process takes no signal, not even SIGKILL, until it is thawed.
    if (m_frozen) {
        freeze(false);
    }
    for (auto dir = m_dirs.rbegin(); dir != m_dirs.rend(); ++dir) {
        removeDir(*dir);
    }
    if (!m_freezerDir.empty()) {
        removeDir(m_freezerDir);
    }
    m_dirs.clear();
    m_join.clear();
    m_freezer.clear();
    m_freezerDir.clear();
}

bool ControlGroup::freeze(bool frozen) {
    if (m_freezer.empty()) {
        return false;
    }
    const char* state = m_v2 ? (frozen ? "1" : "0") : (frozen ? "FROZEN" : "THAWED");
    std::string error;
    if (!writeFile(m_freezer, state, error)) {
        return false;
    }
    m_frozen = frozen;
    return true;
}

uint64_t ControlGroup::cpuUs() const {
    if (m_dirs.empty()) {
        return 0;
    }
    if (m_v2) {
        return keyed(m_dirs[0] + "/cpu.stat", "usage_usec");
    }
    const std::string& cpuacct = m_dirs.size() == 5 ? m_dirs[3] : m_dirs[2];
    return number(cpuacct + "/cpuacct.usage") / 1000;
}
