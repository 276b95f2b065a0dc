#include "MatchNetwork.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
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

void MatchNetwork::close() {
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
