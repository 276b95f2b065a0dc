#include "HttpConnection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr size_t receiveBytes = 4096;
/// How long, and how much beyond the body it announced, a closing connection drops of what
/// its client still sends.
constexpr auto lingerTime = std::chrono::seconds(2);
constexpr size_t lingerBytes = size_t{64} << 10;
/// A body sent in chunks announces no length: this much of it is dropped at most.
constexpr size_t chunkedLingerBytes = size_t{1} << 20;
/// A wait is cut into slices this long, so that a stopping server is not held up.
constexpr auto waitSlice = std::chrono::milliseconds(200);

void addressOf(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        port = ntohs(in->sin6_port);
    }
    ip = text;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

/// The header's name, lower case, of one line of a head; "" for the request line.
std::string headerName(const std::string& line) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? "" : lowered(line.substr(0, colon));
}

std::string headerValue(const std::string& line) {
    const size_t colon = line.find(':');
    const size_t start = line.find_first_not_of(" \t", colon + 1);
    const size_t end = line.find_last_not_of(" \t\r");
    return start == std::string::npos || end < start ? "" : line.substr(start, end - start + 1);
}

} // namespace

HttpConnection::HttpConnection(int socket, const HttpLimits& limits, std::function<bool()> running)
    : m_socket(socket), m_limits(limits), m_running(std::move(running)) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        addressOf(address, m_remote, m_remotePort);
    }
}

bool HttpConnection::waitFor(short events, Clock::time_point deadline) const {
    const auto stall = Clock::now() + std::chrono::seconds(m_limits.stallSeconds);
    const auto until = std::min(deadline, stall);
    for (;;) {
        const auto now = Clock::now();
        if (now >= until || !m_running()) {
            return false;
        }
        const auto slice = std::min<Clock::duration>(until - now, waitSlice);
        pollfd waiting{m_socket, events, 0};
        const int ready = poll(
            &waiting, 1,
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slice).count()) +
                1);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

bool HttpConnection::receive() {
    char bytes[receiveBytes];
    const ssize_t n = recv(m_socket, bytes, sizeof bytes, 0);
    if (n <= 0) {
        return false;
    }
    m_buffer.append(bytes, static_cast<size_t>(n));
    return true;
}

HttpConnection::Head HttpConnection::readHead(bool first) {
    m_buffer.erase(0, m_offset);
    m_offset = 0;
    m_hasBody = false;
    m_announced = 0;
    // A kept-alive connection waits for its next request the idle time only; once a request
    // has started, its whole head must come within the head's time.
    const auto start = Clock::now();
    auto deadline =
        start + std::chrono::seconds(first ? m_limits.headSeconds : m_limits.idleSeconds);
    bool started = !m_buffer.empty();
    if (started) {
        deadline = start + std::chrono::seconds(m_limits.headSeconds);
    }
    for (;;) {
        const size_t end = m_buffer.find("\r\n\r\n");
        if (end != std::string::npos && end + 4 <= m_limits.headBytes) {
            return acceptHead(end + 4);
        }
        if (m_buffer.size() >= m_limits.headBytes) {
            return Head::TooLarge;
        }
        if (std::count(m_buffer.begin(), m_buffer.end(), '\n') >
            static_cast<std::ptrdiff_t>(m_limits.headerLines + 1)) {
            return Head::TooManyLines;
        }
        if (!waitFor(POLLIN, deadline)) {
            return started && Clock::now() >= deadline ? Head::TooSlow : Head::Closed;
        }
        if (!receive()) {
            return Head::Closed;
        }
        if (!started) {
            started = true;
            deadline = Clock::now() + std::chrono::seconds(m_limits.headSeconds);
        }
    }
}

HttpConnection::Head HttpConnection::acceptHead(size_t end) {
    std::string head;
    size_t lines = 0;
    size_t at = 0;
    while (at < end - 2) {
        const size_t next = m_buffer.find("\r\n", at) + 2;
        const std::string line = m_buffer.substr(at, next - at);
        at = next;
        const std::string name = headerName(line);
        if (lines++ > 0 && (name == "range" || name == "if-range")) {
            continue;
        }
        if (name == "transfer-encoding") {
            m_hasBody = true;
            m_announced = chunkedLingerBytes;
        } else if (name == "content-length" && headerValue(line) != "0") {
            m_hasBody = true;
            m_announced = std::min<size_t>(std::strtoull(headerValue(line).c_str(), nullptr, 10),
                                           m_limits.bodyBytes);
        }
        head += line;
    }
    if (lines > m_limits.headerLines + 1) {
        return Head::TooManyLines;
    }
    head += "\r\n";
    m_buffer.replace(0, end, head);
    m_deadline = Clock::now() + std::chrono::seconds(m_limits.bodySeconds);
    return Head::Ready;
}

void HttpConnection::refuse(int status, const std::string& reason, const std::string& message) {
    m_refused = true;
    const std::string body = nlohmann::json{{"error", message}}.dump();
    const std::string answer =
        "HTTP/1.1 " + std::to_string(status) + " " + reason +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    m_deadline = Clock::now() + std::chrono::seconds(m_limits.stallSeconds);
    write(answer.data(), answer.size());
}

void HttpConnection::linger() {
    if (!m_hasBody && !m_refused) {
        return;
    }
    shutdown(m_socket, SHUT_WR);
    // A body is waited for a while; after a refusal on the head alone (too many connections,
    // a head too large or too slow) only what has already come is dropped: waiting would hand
    // a slow client its worker for longer.
    const bool wait = m_hasBody;
    const auto deadline = Clock::now() + lingerTime;
    char bytes[receiveBytes * 4];
    size_t dropped = 0;
    const size_t bound = lingerBytes + (m_hasBody ? m_announced : 0);
    while (dropped < bound && (!wait || waitFor(POLLIN, deadline))) {
        const ssize_t n = recv(m_socket, bytes, sizeof bytes, wait ? 0 : MSG_DONTWAIT);
        if (n <= 0) {
            return;
        }
        dropped += static_cast<size_t>(n);
    }
}

bool HttpConnection::is_readable() const {
    return m_offset < m_buffer.size() || waitFor(POLLIN, m_deadline);
}

bool HttpConnection::is_writable() const {
    return waitFor(POLLOUT, m_deadline);
}

ssize_t HttpConnection::read(char* ptr, size_t size) {
    if (m_offset < m_buffer.size()) {
        const size_t n = std::min(size, m_buffer.size() - m_offset);
        std::memcpy(ptr, m_buffer.data() + m_offset, n);
        m_offset += n;
        return static_cast<ssize_t>(n);
    }
    if (!waitFor(POLLIN, m_deadline)) {
        return -1;
    }
    return recv(m_socket, ptr, size, 0);
}

ssize_t HttpConnection::write(const char* ptr, size_t size) {
    size_t sent = 0;
    while (sent < size) {
        if (!waitFor(POLLOUT, m_deadline)) {
            return -1;
        }
        const ssize_t n = send(m_socket, ptr + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return -1;
        }
        sent += static_cast<size_t>(std::max<ssize_t>(n, 0));
    }
    return static_cast<ssize_t>(sent);
}

void HttpConnection::get_remote_ip_and_port(std::string& ip, int& port) const {
    ip = m_remote;
    port = m_remotePort;
}

void HttpConnection::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        addressOf(address, ip, port);
    }
}
