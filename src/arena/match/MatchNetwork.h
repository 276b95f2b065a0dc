#pragma once
// A match's own network: a fresh network namespace with only a loopback interface.

#include <string>
#include <sys/types.h>

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
    /// Ends the anchor; the namespace goes with the last process in it.
    void close();

private:
    pid_t m_anchor = -1;
    int m_userFd = -1;
    int m_netFd = -1;
};
