#include "MatchNetwork.h"

#include "SeatRelay.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

/// How long the anchor may take to be ready.
constexpr int READY_MS = 5000;

bool writeText(const char* path, const char* text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const ssize_t len = static_cast<ssize_t>(strlen(text));
    const bool ok = write(fd, text, static_cast<size_t>(len)) == len;
    ::close(fd);
    return ok;
}

/// Maps the arena's own ids into the anchor's new user namespace (written from inside it).
bool mapIds(const char* uidLine, const char* gidLine) {
    return writeText("/proc/self/setgroups", "deny") && writeText("/proc/self/uid_map", uidLine) &&
           writeText("/proc/self/gid_map", gidLine);
}

bool loopbackUp() {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return false;
    }
    ifreq request{};
    strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ok && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    ::close(s);
    return ok;
}

/// In the anchor: only system calls (the arena may run threads).
[[noreturn]] void becomeAnchor(pid_t parent, int readyFd, const char* uidLine,
                               const char* gidLine) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(1);
    }
    // Holding the arena's pipes open would keep other children's ends from showing.
    if (readyFd > 3) {
        syscall(SYS_close_range, 3U, static_cast<unsigned>(readyFd - 1), 0U);
    }
    syscall(SYS_close_range, static_cast<unsigned>(readyFd + 1), ~0U, 0U);
    const bool privileged = geteuid() == 0;
    const int flags = privileged ? CLONE_NEWNET : CLONE_NEWUSER | CLONE_NEWNET;
    int e = 0;
    if (unshare(flags) != 0 || (!privileged && !mapIds(uidLine, gidLine)) || !loopbackUp()) {
        e = errno != 0 ? errno : EPERM;
    }
    (void)!write(readyFd, &e, sizeof e);
    ::close(readyFd);
    if (e != 0) {
        _exit(1);
    }
    for (;;) {
        pause();
    }
}

/// Keeps only these descriptors, at 3 and 4, and closes every other one above 2.
bool keepOnly(int& first, int& second) {
    const int a = fcntl(first, F_DUPFD_CLOEXEC, 10);
    const int b = fcntl(second, F_DUPFD_CLOEXEC, 10);
    if (a < 0 || b < 0 || dup2(a, 3) != 3 || dup2(b, 4) != 4) {
        return false;
    }
    syscall(SYS_close_range, 5U, ~0U, 0U);
    first = 3;
    second = 4;
    return true;
}

/// Listens on `port` of every loopback address of the current network.
int listenOn(unsigned port) {
    const int s = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int off = 0;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    if (s < 0 || setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0 ||
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 16) != 0) {
        return -1;
    }
    return s;
}

/// In a seat's relay: the upstream socket is made in the match's network, then the seat's own
/// network, with its listener, is made around the relay. Only system calls, as in the anchor.
[[noreturn]] void becomeRelay(pid_t parent, int readyFd, int reportFd, int userFd, int netFd,
                              unsigned seat, unsigned port) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(1);
    }
    // The namespaces are joined before the other descriptors go.
    if ((userFd >= 0 && setns(userFd, CLONE_NEWUSER) != 0) || setns(netFd, CLONE_NEWNET) != 0 ||
        !keepOnly(readyFd, reportFd)) {
        _exit(1);
    }
    int e = 0;
    int upstream = -1;
    int listener = -1;
    if ((upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) < 0 ||
        unshare(CLONE_NEWNET) != 0 || !loopbackUp() || (listener = listenOn(port)) < 0) {
        e = errno != 0 ? errno : EPERM;
    }
    (void)!write(readyFd, &e, sizeof e);
    ::close(readyFd);
    if (e != 0) {
        _exit(1);
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SeatRelay::serve(listener, upstream, reinterpret_cast<const sockaddr*>(&server), sizeof server,
                     reportFd, static_cast<unsigned char>(seat), false);
    _exit(0);
}

/// Waits for a child's word on `readFd`: 0 when it is ready, else its errno.
int readyWord(pid_t child, int readFd) {
    int e = child < 0 ? errno : EAGAIN;
    pollfd p{readFd, POLLIN, 0};
    if (child > 0 && poll(&p, 1, READY_MS) == 1 &&
        read(readFd, &e, sizeof e) != static_cast<ssize_t>(sizeof e)) {
        e = EAGAIN;
    }
    ::close(readFd);
    return e;
}

} // namespace

MatchNetwork::~MatchNetwork() {
    close();
}

bool MatchNetwork::open(std::string& error) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string uidLine = std::to_string(geteuid()) + " " + std::to_string(geteuid()) + " 1";
    const std::string gidLine = std::to_string(getegid()) + " " + std::to_string(getegid()) + " 1";
    const pid_t parent = getpid();
    m_anchor = fork();
    if (m_anchor == 0) {
        becomeAnchor(parent, ready[1], uidLine.c_str(), gidLine.c_str());
    }
    ::close(ready[1]);
    int e = m_anchor < 0 ? errno : EAGAIN;
    pollfd p{ready[0], POLLIN, 0};
    if (m_anchor > 0 && poll(&p, 1, READY_MS) == 1 &&
        read(ready[0], &e, sizeof e) != static_cast<ssize_t>(sizeof e)) {
        e = EAGAIN;
    }
    ::close(ready[0]);
    if (e == 0) {
        const std::string ns = "/proc/" + std::to_string(m_anchor) + "/ns/";
        m_netFd = ::open((ns + "net").c_str(), O_RDONLY | O_CLOEXEC);
        if (geteuid() != 0) {
            m_userFd = ::open((ns + "user").c_str(), O_RDONLY | O_CLOEXEC);
        }
        e = m_netFd < 0 || (geteuid() != 0 && m_userFd < 0) ? errno : 0;
    }
    if (e != 0) {
        error = std::string("cannot make the match's own network: ") + std::strerror(e) +
                " (allow unprivileged user namespaces, or run with --no-sandbox)";
        close();
        return false;
    }
    return true;
}

bool MatchNetwork::addSeat(unsigned k, unsigned port, std::string& error) {
    int ready[2];
    if (m_netFd < 0 || k > 255 ||
        (m_reports[0] < 0 && pipe2(m_reports, O_CLOEXEC | O_NONBLOCK) != 0) ||
        pipe2(ready, O_CLOEXEC) != 0) {
        error = std::string("cannot make seat ") + std::to_string(k) + "'s network";
        return false;
    }
    const pid_t parent = getpid();
    Seat& seat = m_seats[k];
    seat.relay = fork();
    if (seat.relay == 0) {
        becomeRelay(parent, ready[1], m_reports[1], m_userFd, m_netFd, k, port);
    }
    ::close(ready[1]);
    const int e = readyWord(seat.relay, ready[0]);
    if (e == 0) {
        seat.netFd = ::open(("/proc/" + std::to_string(seat.relay) + "/ns/net").c_str(),
                            O_RDONLY | O_CLOEXEC);
    }
    if (e != 0 || seat.netFd < 0) {
        error = std::string("cannot make seat ") + std::to_string(k) +
                "'s network: " + std::strerror(e != 0 ? e : errno);
        return false;
    }
    return true;
}

int MatchNetwork::seatNetFd(unsigned k) const {
    const auto s = m_seats.find(k);
    return s != m_seats.end() ? s->second.netFd : -1;
}

pid_t MatchNetwork::seatRelay(unsigned k) const {
    const auto s = m_seats.find(k);
    return s != m_seats.end() ? s->second.relay : -1;
}

std::vector<unsigned> MatchNetwork::reconnected() {
    std::vector<unsigned> seats;
    unsigned char buffer[256];
    for (ssize_t n = m_reports[0] < 0 ? 0 : read(m_reports[0], buffer, sizeof buffer); n > 0;
         n = read(m_reports[0], buffer, sizeof buffer)) {
        seats.insert(seats.end(), buffer, buffer + n);
    }
    return seats;
}

void MatchNetwork::close() {
    for (auto& [k, seat] : m_seats) {
        if (seat.netFd >= 0) {
            ::close(seat.netFd);
        }
        if (seat.relay > 0) {
            kill(seat.relay, SIGKILL);
            while (waitpid(seat.relay, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    m_seats.clear();
    for (int* fd : {&m_reports[0], &m_reports[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    for (int* fd : {&m_userFd, &m_netFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    if (m_anchor > 0) {
        kill(m_anchor, SIGKILL);
        while (waitpid(m_anchor, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_anchor = -1;
    }
}
