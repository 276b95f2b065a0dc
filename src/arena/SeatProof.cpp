#include "SeatProof.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

/// Lines read from one connection table, and descendants followed up: both far above what a
/// match makes, they bound the work a hostile bot can cause.
constexpr size_t MAX_LINES = 100000;
constexpr int MAX_DEPTH = 1000;
constexpr unsigned ESTABLISHED = 1;

pid_t parentOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    // The name may hold spaces and parentheses: the fields start after the last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 1));
    char state = 0;
    pid_t parent = -1;
    fields >> state >> parent;
    return fields ? parent : -1;
}

} // namespace

std::vector<unsigned long> SeatProof::clients(pid_t netPid, unsigned port) {
    std::vector<unsigned long> out;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::ifstream in("/proc/" + std::to_string(netPid) + table);
        std::string line;
        std::getline(in, line);
        for (size_t n = 0; n < MAX_LINES && std::getline(in, line); ++n) {
            // sl local:port remote:port state tx:rx tr:when retrnsmt uid timeout inode
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            unsigned long inode = 0;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            const auto portOf = [](const std::string& address) {
                const size_t colon = address.rfind(':');
                return colon == std::string::npos
                           ? 0UL
                           : std::strtoul(address.c_str() + colon + 1, nullptr, 16);
            };
            if (fields && inode != 0 && std::strtoul(state.c_str(), nullptr, 16) == ESTABLISHED &&
                portOf(remote) == port && portOf(local) != port) {
                out.push_back(inode);
            }
        }
    }
    return out;
}

pid_t SeatProof::ownerOf(unsigned long inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    pid_t owner = -1;
    for (dirent* e = readdir(proc); e != nullptr && owner < 0; e = readdir(proc)) {
        const std::string pid = e->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) {
            continue;
        }
        for (dirent* f = readdir(fds); f != nullptr; f = readdir(fds)) {
            char target[64];
            const ssize_t n = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target);
            if (n > 0 &&
                wanted.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0) {
                owner = static_cast<pid_t>(std::stol(pid));
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return owner;
}

bool SeatProof::descends(pid_t pid, pid_t ancestor) {
    for (int depth = 0; pid > 1 && depth < MAX_DEPTH; ++depth) {
        if (pid == ancestor) {
            return true;
        }
        pid = parentOf(pid);
    }
    return false;
}

bool SeatProof::check(pid_t netPid, unsigned port, const std::vector<pid_t>& bots,
                      unsigned& culprit, std::string& what) {
    for (unsigned long inode : clients(netPid, port)) {
        if (m_seen.count(inode) != 0) {
            continue;
        }
        const pid_t owner = ownerOf(inode);
        unsigned seat = 0;
        for (unsigned k = 1; k <= bots.size() && seat == 0 && owner > 0; ++k) {
            seat = bots[k - 1] > 0 && descends(owner, bots[k - 1]) ? k : 0;
        }
        if (seat == 0) {
            const std::vector<unsigned long> now = clients(netPid, port);
            if (std::find(now.begin(), now.end(), inode) == now.end()) {
                continue; // closed meanwhile: nothing left to prove
            }
            culprit = 0;
            what = "a process outside the line-up connected to the server";
            return false;
        }
        for (const auto& [seenInode, seenSeat] : m_seen) {
            if (seenSeat == seat) {
                culprit = seat;
                what = "connected more than once";
                return false;
            }
        }
        m_seen[inode] = seat;
    }
    return true;
}
