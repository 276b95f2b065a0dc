#include "Network.h"

#include "Logging.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>

#ifndef MSG_DONTWAIT
// Without the flag a receive may block; the timed receive only reads after wait() saw data.
#define MSG_DONTWAIT 0
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LISTEN_BACKLOG = 10;
// Longest single sleep of a timed wait; short enough that the kernel's slack stays far below a
// millisecond.
constexpr std::chrono::milliseconds WAIT_SLICE(20);
constexpr long long NANOS_PER_SECOND = 1000000000;

void setBlocking(SOCKET sock, bool blocking) {
    const int flags = ::fcntl(sock, F_GETFL, 0);
    if (flags >= 0) {
        ::fcntl(sock, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
    }
}

// Small messages follow each other closely (a request, then an announcement to everyone);
// without this each one after the first may wait for the peer's delayed acknowledgement.
void setNoDelay(SOCKET sock) {
    const int on = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Waits until sock is readable (or its peer has closed), until the deadline, or without limit
// for a null deadline. The logging of TcpSocket::wait.
bool waitReadable(SOCKET sock, const Clock::time_point* deadline) {
    // poll rather than select: a descriptor at or above FD_SETSIZE cannot go into an fd_set.
    if (sock == INVALID_SOCKET) {
        LOG(Logging::loggerNetwork, lumber::DEBUG) << "Error on select: " << EBADF;
        return false;
    }
    pollfd entry{};
    entry.fd = sock;
    entry.events = POLLIN;
    for (;;) {
        // The rest of the limit to the nanosecond, in slices: the kernel lets a sleep overrun by
        // a share of its length (0.1 % and more), so one long sleep would end late. A signal
        // resumes the wait.
        timespec slice{};
        timespec* timeout = nullptr;
        if (deadline != nullptr) {
            const auto left =
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::clamp<Clock::duration>(
                    *deadline - Clock::now(), Clock::duration::zero(), WAIT_SLICE));
            slice.tv_sec = static_cast<time_t>(left.count() / NANOS_PER_SECOND);
            slice.tv_nsec = static_cast<long>(left.count() % NANOS_PER_SECOND);
            timeout = &slice;
        }
        const int result = ::ppoll(&entry, 1, timeout, nullptr);
        if (result > 0) {
            if (entry.revents & POLLNVAL) {
                LOG(Logging::loggerNetwork, lumber::DEBUG) << "Error on select: " << EBADF;
                return false;
            }
            // Hang-up and error count as readable: the next receive reports them.
            return true;
        }
        if (result == 0) {
            if (deadline != nullptr && Clock::now() < *deadline) {
                continue;
            }
            LOG(Logging::loggerNetwork, lumber::DEBUG) << "Timeout on select";
            return false;
        }
        const int error = errno; // before logging can change it
        if (error != EINTR) {
            LOG(Logging::loggerNetwork, lumber::DEBUG) << "Error on select: " << error;
            return false;
        }
    }
}

// A peer that takes in nothing for this long while data waits for it is not playing: a send
// to it then fails instead of blocking the whole server.
constexpr timeval SEND_TIMEOUT{5, 0};

void setSendTimeout(SOCKET sock) {
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &SEND_TIMEOUT, sizeof SEND_TIMEOUT);
}

// Errors of accept that mean the pending connection went away before it was taken.
bool connectionVanished(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == ECONNABORTED || error == EPROTO ||
           error == EINTR;
}

// Frees the resolver's result list on every way out of connect_to.
class AddrInfoGuard {
public:
    explicit AddrInfoGuard(addrinfo* list) : m_list(list) {}
    ~AddrInfoGuard() { ::freeaddrinfo(m_list); }
    AddrInfoGuard(const AddrInfoGuard&) = delete;
    AddrInfoGuard& operator=(const AddrInfoGuard&) = delete;

private:
    addrinfo* m_list;
};

} // namespace

bool TcpSocket::initialize() {
    return true;
}

bool TcpSocket::deinitialize() {
    return true;
}

int TcpSocket::runWithNetwork(const std::function<bool()>& work) {
    if (!initialize()) {
        LOG(Logging::loggerNetwork, lumber::FATAL) << "Failed to initialize network";
        return 1;
    }
    const bool done = work();
    if (!deinitialize()) {
        LOG(Logging::loggerNetwork, lumber::FATAL) << "Failed to deinitialize network";
    }
    return done ? 0 : 1;
}

bool TcpSocket::alive() const {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    return ::getpeername(m_sock, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

void TcpSocket::close() {
    if (m_sock != INVALID_SOCKET) {
        ::close(m_sock);
        m_sock = INVALID_SOCKET;
    }
}

bool TcpSocket::wait(unsigned long msecs) const {
    if (msecs == 0) {
        return waitReadable(m_sock, nullptr);
    }
    // Limits are 32-bit counts; a larger value must not overflow the clock arithmetic.
    const auto limit = std::chrono::milliseconds(std::min<unsigned long>(msecs, UINT32_MAX));
    const Clock::time_point deadline = Clock::now() + limit;
    return waitReadable(m_sock, &deadline);
}

size_t TcpSocket::send(const void* data, size_t len) const {
    return send(data, len, nullptr, 0);
}

size_t TcpSocket::send(const void* first, size_t firstLen, const void* second,
                       size_t secondLen) const {
    // iovec serves the receiving calls too and so points at mutable bytes; sendmsg only reads.
    char* const head = static_cast<char*>(const_cast<void*>(first));
    char* const tail = static_cast<char*>(const_cast<void*>(second));
    const size_t total = firstLen + secondLen;
    size_t sent = 0;
    while (sent < total) {
        // A short count may end inside either part; go on from there.
        iovec pending[2] = {};
        msghdr message{};
        message.msg_iov = pending;
        if (sent < firstLen) {
            pending[0] = {head + sent, firstLen - sent};
            pending[1] = {tail, secondLen};
            message.msg_iovlen = 2;
        } else {
            pending[0] = {tail + (sent - firstLen), total - sent};
            message.msg_iovlen = 1;
        }
        // MSG_NOSIGNAL: a peer that has gone must not kill the process with SIGPIPE.
        const ssize_t count = ::sendmsg(m_sock, &message, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        sent += static_cast<size_t>(count);
    }
    return sent;
}

bool TcpSocket::receive(void* buf, size_t len) const {
    char* bytes = static_cast<char*>(buf);
    size_t received = 0;
    // MSG_WAITALL may still return early after a signal; go on until all bytes are in.
    while (received < len) {
        const ssize_t count = ::recv(m_sock, bytes + received, len - received, MSG_WAITALL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        received += static_cast<size_t>(count);
    }
    return true;
}

bool TcpSocket::receive(void* buf, size_t len, unsigned long& msecs) const {
    if (msecs == 0) {
        return receive(buf, len);
    }
    char* bytes = static_cast<char*>(buf);
    size_t received = 0;
    Clock::time_point reckoning = Clock::now();
    // Every wait ends at the budget's true end, not a whole millisecond count from now.
    const Clock::time_point deadline =
        reckoning + std::chrono::milliseconds(std::min<unsigned long>(msecs, UINT32_MAX));
    while (received < len) {
        if (msecs == 0) {
            LOG(Logging::loggerNetwork, lumber::WARN) << "Timeout in receive";
            return false;
        }
        if (!waitReadable(m_sock, &deadline)) {
            LOG(Logging::loggerNetwork, lumber::WARN) << "Timeout in receive";
            msecs = 0;
            return false;
        }
        // On failure msecs keeps the time left at the start of this pass, which is not 0:
        // that is how the caller tells a broken connection from a time-out.
        const ssize_t count = ::recv(m_sock, bytes + received, len - received, MSG_DONTWAIT);
        if (count < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            LOG(Logging::loggerNetwork, lumber::ERR) << "Error receiving data";
            return false;
        }
        if (count == 0) {
            LOG(Logging::loggerNetwork, lumber::ERR) << "The socket was closed during receive";
            return false;
        }
        if (count > 0) {
            received += static_cast<size_t>(count);
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - reckoning);
        const auto whole = static_cast<unsigned long>(elapsed.count());
        msecs = whole >= msecs ? 0 : msecs - whole;
        // The reckoning moves on by the whole milliseconds taken off only: the fractions add up
        // over many small reads instead of being dropped, so a peer that sends a message byte
        // by byte cannot stretch the budget.
        reckoning += elapsed;
    }
    return true;
}

bool TcpServer::open_port(uint16_t port) {
    if (m_sock != INVALID_SOCKET) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "Listen failed, socket already open";
        return false;
    }
    const SOCKET sock = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock == INVALID_SOCKET) {
        return false;
    }
    // One socket for IPv6 and IPv4-mapped clients; a restarted server may reuse the port at once.
    const int off = 0;
    const int on = 1;
    ::setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(port);
    address.sin6_flowinfo = 0;
    address.sin6_scope_id = 0;
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "Failed to bind socket";
        ::close(sock);
        return false;
    }
    if (::listen(sock, LISTEN_BACKLOG) != 0) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "Failed to listen on socket";
        ::close(sock);
        return false;
    }
    // Non-blocking, so that an accept after a connection vanished fails instead of hanging.
    setBlocking(sock, false);
    m_sock = sock;
    return true;
}

TcpSocket* TcpServer::accept(unsigned long msecs) const {
    const auto limit = std::chrono::milliseconds(std::min<unsigned long>(msecs, UINT32_MAX));
    const Clock::time_point deadline = Clock::now() + limit;
    unsigned long left = msecs;
    for (;;) {
        if (!wait(left)) {
            LOG(Logging::loggerNetwork, lumber::ERR) << "Timeout on accept";
            return nullptr;
        }
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const SOCKET sock =
            ::accept4(m_sock, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (sock != INVALID_SOCKET) {
            // Some platforms hand the listener's non-blocking mode on; time limits come from
            // wait().
            setBlocking(sock, true);
            setNoDelay(sock);
            setSendTimeout(sock);
            TcpSocket* socket = new TcpSocket(sock);
            if (socket->alive()) {
                return socket;
            }
            LOG(Logging::loggerNetwork, lumber::WARN) << "Socket was accepted but not alive";
            socket->close();
            delete socket;
        } else if (!connectionVanished(errno)) {
            LOG(Logging::loggerNetwork, lumber::ERR) << "Error on accept";
            return nullptr;
        }
        // A connection reset before it could be taken is nobody's: wait on for a real one
        // in the time left, so that a peer that connects and vanishes cannot end the wait.
        if (msecs != 0) {
            const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (rest.count() <= 0) {
                LOG(Logging::loggerNetwork, lumber::ERR) << "Timeout on accept";
                return nullptr;
            }
            left = static_cast<unsigned long>(rest.count());
        }
    }
}

bool TcpClient::connect_to(const std::string& address, uint16_t port) {
    if (m_sock != INVALID_SOCKET) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "Connect failed, socket already open";
        return false;
    }
    addrinfo hints{};
    hints.ai_flags = 0;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = 0;
    addrinfo* results = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &results) != 0) {
        LOG(Logging::loggerNetwork, lumber::ERR)
            << "Unable to resolve address " << address << " (port " << port << ")";
        return false;
    }
    const AddrInfoGuard guard(results);
    for (const addrinfo* candidate = results; candidate != nullptr;
         candidate = candidate->ai_next) {
        const SOCKET sock = ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC,
                                     candidate->ai_protocol);
        if (sock == INVALID_SOCKET) {
            continue;
        }
        if (::connect(sock, candidate->ai_addr, candidate->ai_addrlen) == 0) {
            setNoDelay(sock);
            m_sock = sock;
            return true;
        }
        // A failed attempt is closed at once, so no address leaves a socket behind.
        ::close(sock);
    }
    LOG(Logging::loggerNetwork, lumber::ERR) << "Connect failed";
    return false;
}
