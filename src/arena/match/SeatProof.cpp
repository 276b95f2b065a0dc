#include "SeatProof.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

/// Lines read from one connection table, and descendants followed up: both far above what a
/// match makes, they bound the work a hostile bot can cause.
constexpr size_t MAX_LINES = 100000;
constexpr int MAX_DEPTH = 1000;
/// Processes of one bot's tree searched for a socket (a jailed bot may start 64).
constexpr size_t MAX_TREE = 4096;
constexpr unsigned ESTABLISHED = 1;

/// "0100007F:4E20" into its address and port; an IPv4 address mapped into IPv6 (as a dual-stack
/// server's sockets show their IPv4 peers) becomes the IPv4 address, so that both ends of a
/// connection name each other alike.
void splitEndpoint(const std::string& endpoint, std::string& address, unsigned& port) {
    const size_t colon = endpoint.rfind(':');
    address = endpoint.substr(0, colon == std::string::npos ? 0 : colon);
    port = colon == std::string::npos
               ? 0
               : static_cast<unsigned>(std::strtoul(endpoint.c_str() + colon + 1, nullptr, 16));
    const std::string mapped = "0000000000000000FFFF0000";
    if (address.size() == 32 && address.compare(0, mapped.size(), mapped) == 0) {
        address = address.substr(mapped.size());
    }
}

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

std::vector<unsigned long> SeatProof::clients(pid_t netPid, pid_t server, unsigned port) {
    const std::vector<Connection> table = connections(netPid);
    const std::set<unsigned long> accepted = socketsOf(server);
    // Another server may listen on the same port number once this one stopped listening, so
    // the port alone does not say whose client a socket is: only the far ends of the sockets
    // this server holds do.
    std::set<std::pair<std::string, unsigned>> peers;
    for (const Connection& c : table) {
        if (c.localPort == port && accepted.count(c.inode) != 0) {
            peers.insert({c.remoteAddress, c.remotePort});
        }
    }
    std::vector<unsigned long> out;
    for (const Connection& c : table) {
        if (c.remotePort == port && c.localPort != port &&
            peers.count({c.localAddress, c.localPort}) != 0) {
            out.push_back(c.inode);
        }
    }
    return out;
}

std::vector<SeatProof::Connection> SeatProof::connections(pid_t netPid) {
    std::vector<Connection> out;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::ifstream in("/proc/" + std::to_string(netPid) + table);
        std::string line;
        std::getline(in, line);
        for (size_t n = 0; n < MAX_LINES && std::getline(in, line); ++n) {
            // sl local:port remote:port state tx:rx tr:when retrnsmt uid timeout inode
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            Connection c;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> c.inode;
            if (!fields || c.inode == 0 ||
                std::strtoul(state.c_str(), nullptr, 16) != ESTABLISHED) {
                continue;
            }
            splitEndpoint(local, c.localAddress, c.localPort);
            splitEndpoint(remote, c.remoteAddress, c.remotePort);
            out.push_back(c);
        }
    }
    return out;
}

std::set<unsigned long> SeatProof::socketsOf(pid_t pid) {
    std::set<unsigned long> out;
    if (pid <= 0) {
        return out;
    }
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) {
        return out;
    }
    size_t n = 0;
    for (dirent* f = readdir(fds); f != nullptr && n < MAX_LINES; f = readdir(fds), ++n) {
        char target[64];
        const ssize_t len = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
        if (len > 8 && std::strncmp(target, "socket:[", 8) == 0) {
            target[len] = '\0';
            out.insert(std::strtoul(target + 8, nullptr, 10));
        }
    }
    closedir(fds);
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

unsigned SeatProof::seatOf(unsigned long inode, const std::vector<pid_t>& bots) {
    // Only the bots' own trees are searched, a few processes each, rather than every process
    // of the machine; the whole search is the fallback where the kernel lists no children.
    bool complete = true;
    for (unsigned k = 1; k <= bots.size(); ++k) {
        if (bots[k - 1] <= 0) {
            continue;
        }
        for (const pid_t pid : treeOf(bots[k - 1], complete)) {
            if (socketsOf(pid).count(inode) != 0) {
                return k;
            }
        }
    }
    if (complete) {
        return 0;
    }
    const pid_t owner = ownerOf(inode);
    for (unsigned k = 1; k <= bots.size() && owner > 0; ++k) {
        if (bots[k - 1] > 0 && descends(owner, bots[k - 1])) {
            return k;
        }
    }
    return 0;
}

std::vector<pid_t> SeatProof::treeOf(pid_t root, bool& complete) {
    std::vector<pid_t> tree{root};
    for (size_t i = 0; i < tree.size() && tree.size() < MAX_TREE; ++i) {
        const std::string tasks = "/proc/" + std::to_string(tree[i]) + "/task";
        DIR* dir = opendir(tasks.c_str());
        if (dir == nullptr) {
            continue; // ended meanwhile
        }
        for (dirent* t = readdir(dir); t != nullptr; t = readdir(dir)) {
            if (t->d_name[0] == '.') {
                continue;
            }
            std::ifstream children(tasks + "/" + t->d_name + "/children");
            if (!children) {
                complete = false;
                break;
            }
            for (pid_t child = 0; children >> child && tree.size() < MAX_TREE;) {
                tree.push_back(child);
            }
        }
        closedir(dir);
    }
    complete = complete && tree.size() < MAX_TREE;
    return tree;
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

bool SeatProof::check(pid_t netPid, pid_t server, unsigned port, const std::vector<pid_t>& bots,
                      unsigned admitted, bool closingExpected, unsigned& culprit,
                      std::string& what) {
    for (unsigned long inode : clients(netPid, server, port)) {
        if (m_seen.count(inode) != 0) {
            continue;
        }
        const unsigned seat = seatOf(inode, bots);
        if (seat == 0) {
            const std::vector<unsigned long> now = clients(netPid, server, port);
            if (std::find(now.begin(), now.end(), inode) == now.end()) {
                continue; // closed meanwhile: counted below as an admission left unproven
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
    // A seat is given at the server's accept: a connection that closed before anyone could
    // see who made it still took a seat, and the bot meant for it waits unserved.
    if (m_seen.size() < admitted && !closingExpected) {
        culprit = 0;
        what = "a connection to the server closed before it was proven (made outside the "
               "line-up, or passed on by a bot)";
        return false;
    }
    return true;
}
