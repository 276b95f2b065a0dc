#pragma once
// Proves that each connection to a match's server comes from the bot started for its seat.

#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

/// Follows the connections the match's server accepted, as the match's network namespace lists
/// them (/proc/PID/net/tcp and tcp6): the client end of each is a socket whose inode one
/// process holds among its descriptors, and that process must descend from a bot of the
/// line-up that has not connected before.
class SeatProof {
public:
    /// Looks at the connections made since the last call. `netPid` is any process in the
    /// match's network namespace, `bots[k - 1]` the process started for seat k (or -1),
    /// `admitted` the connections the server has admitted so far. True when every new
    /// connection belongs to a bot connecting for the first time and every admission is
    /// proven; otherwise false with `culprit` the seat that connected again (0: a process
    /// outside the line-up, or an admission whose connection closed before it could be
    /// proven) and `what` saying so. A connection that closed unproven passes only when
    /// `closingExpected` (the game is over, and each seat played its part).
    bool check(pid_t netPid, pid_t server, unsigned port, const std::vector<pid_t>& bots,
               unsigned admitted, bool closingExpected, unsigned& culprit, std::string& what);

    /// The socket inodes of the clients, in that namespace, of the connections that the
    /// process `server` accepted on `port` (bounded).
    static std::vector<unsigned long> clients(pid_t netPid, pid_t server, unsigned port);
    /// The seat k whose bot `bots[k - 1]`, or a process it started, holds the socket; 0 when
    /// none does.
    static unsigned seatOf(unsigned long inode, const std::vector<pid_t>& bots);
    /// The process holding the socket, or -1.
    static pid_t ownerOf(unsigned long inode);
    /// Whether `pid` is `ancestor` or descends from it.
    static bool descends(pid_t pid, pid_t ancestor);

private:
    /// One established connection of a namespace's tables; addresses as the tables write them.
    struct Connection {
        std::string localAddress;
        unsigned localPort = 0;
        std::string remoteAddress;
        unsigned remotePort = 0;
        unsigned long inode = 0;
    };
    static std::vector<Connection> connections(pid_t netPid);
    /// The socket inodes among a process's descriptors (bounded).
    static std::set<unsigned long> socketsOf(pid_t pid);
    /// A process and its descendants (bounded); `complete` turns false when the kernel does
    /// not list children or the bound was met.
    static std::vector<pid_t> treeOf(pid_t root, bool& complete);

    /// Connections seen, by inode, and the seat each belongs to.
    std::map<unsigned long, unsigned> m_seen;
};
