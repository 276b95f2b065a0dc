#pragma once
// A match's own network: a fresh network namespace with only a loopback interface.

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

/// Holds one network namespace open through a small anchor process (made by fork, killed with
/// the arena by a parent-death signal) that the server and the bots of a match join before
/// they start. As an unprivileged user the namespace comes with a user namespace of its own
/// (mapping only the arena's ids), which the children join first.
class MatchNetwork {
public:
    MatchNetwork() = default;
    ~MatchNetwork();
    MatchNetwork(const MatchNetwork&) = delete;
    MatchNetwork& operator=(const MatchNetwork&) = delete;

    /// Makes the namespace and brings its loopback up. False, with the reason, when the system
    /// does not allow it.
    bool open(std::string& error);
    /// Descriptors to join (-1 when there is none), valid until the object goes.
    int userNamespaceFd() const { return m_userFd; }
    int netNamespaceFd() const { return m_netFd; }
    /// The anchor process: /proc/PID/net shows the namespace's connections.
    pid_t anchor() const { return m_anchor; }

    /// Gives seat k a network of its own, with only a loopback interface, where a relay (a
    /// process of its own, see SeatRelay) listens on `port` and passes the seat's one
    /// connection on to the server on that port of the match's network. False, with the
    /// reason, when it cannot be made.
    bool addSeat(unsigned k, unsigned port, std::string& error);
    /// The seat's namespace to join, or -1 when it has none.
    int seatNetFd(unsigned k) const;
    /// The seat's relay, which holds the seat's connection to the server; -1 when none.
    pid_t seatRelay(unsigned k) const;
    /// The seats that connected again since the last call (each time they did).
    std::vector<unsigned> reconnected();

    /// Ends the anchor and the relays; the namespaces go with the last process in them.
    void close();

private:
    struct Seat {
        pid_t relay = -1;
        int netFd = -1;
    };

    pid_t m_anchor = -1;
    int m_userFd = -1;
    int m_netFd = -1;
    std::map<unsigned, Seat> m_seats;
    /// Relays write a seat's number here for each connection after its first.
    int m_reports[2] = {-1, -1};
};
