#pragma once
// One client's connection to the site, as the HTTP library reads and writes it.

#include "HttpServer.h"

#include <chrono>
#include <functional>
#include <httplib.h>
#include <string>

/// A stream over an accepted socket that reads each request's head whole, within its bounds
/// of size, lines and time, before the library parses it, and bounds every later read and
/// write by a deadline, so that no client holds a worker longer than its limits allow.
class HttpConnection : public httplib::Stream {
public:
    /// How reading a request's head ended.
    enum class Head { Ready, Closed, TooLarge, TooManyLines, TooSlow };

    /// `running` is asked between slices of every wait: once it says no, waits end at once.
    HttpConnection(int socket, const HttpLimits& limits, std::function<bool()> running);

    /// Reads the next request's head into the buffer (the first request may take the head's
    /// time to start, later ones the idle time). Range and If-Range lines are dropped from
    /// it: answers are always whole.
    Head readHead(bool first);
    /// Whether the head just read announces a body (a length above 0, or chunks).
    bool hasBody() const { return m_hasBody; }
    /// The peer's address.
    const std::string& remote() const { return m_remote; }
    /// Sends a JSON error that closes the connection (a refusal before the library parsed
    /// anything).
    void refuse(int status, const std::string& reason, const std::string& message);

    /// Before the connection closes after a refusal or a request with a body: stops sending,
    /// then reads and drops what the client still
    /// sends (a body refused unread) for a short while, so that it reads the answer instead
    /// of a reset. Nothing read is kept.
    void linger();

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_socket; }

private:
    using Clock = std::chrono::steady_clock;
    /// Waits until the socket is ready for `events` or the deadline (capped by the stall
    /// time) passes; false on time-out or error.
    bool waitFor(short events, Clock::time_point deadline) const;
    /// Appends what the socket has to the buffer; false when it closed or failed.
    bool receive();
    /// Checks and trims the head that ends at `end`; Ready or why it is refused.
    Head acceptHead(size_t end);

    int m_socket;
    const HttpLimits& m_limits;
    std::function<bool()> m_running;
    std::string m_remote;
    int m_remotePort = 0;
    std::string m_buffer;
    size_t m_offset = 0;
    bool m_hasBody = false;
    size_t m_announced = 0; ///< the body's announced length, at most the limit
    bool m_refused = false;
    Clock::time_point m_deadline;
};
