#pragma once
// Stream sockets with time limits: one connected socket, a listening server socket and a
// connecting client socket. Every message goes to Logging::loggerNetwork. Times are in
// milliseconds; 0 means no limit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

/// The platform's socket handle (a POSIX file descriptor here).
using SOCKET = int;
/// No socket open (all bits set).
constexpr SOCKET INVALID_SOCKET = -1;

/// One stream socket. It does not close its socket when destroyed: the holder calls close().
class TcpSocket {
public:
    /// No socket (INVALID_SOCKET).
    TcpSocket() = default;
    /// Wraps an open socket; the caller stays responsible for closing it.
    explicit TcpSocket(SOCKET sock) : m_sock(sock) {}
    virtual ~TcpSocket() = default;

    // Socket layer

    /// Starts the socket layer; nothing to start on POSIX, so always true.
    static bool initialize();
    /// Stops the socket layer; always true on POSIX.
    static bool deinitialize();
    /// Runs a program's work between initialize() and deinitialize(), logging a failure of
    /// either; the exit status: 0 when the work returned true, else 1.
    static int runWithNetwork(const std::function<bool()>& work);

    // State

    /// True when the socket is connected to a peer whose address can be queried.
    bool alive() const;
    /// Closes the socket if one is open; afterwards no socket is held.
    void close();

    // Data

    /// True when data can be read (or the peer has closed) within msecs; 0 waits without limit.
    /// False after a time-out ("Timeout on select") or an error ("Error on select: " errno),
    /// both logged at DEBUG.
    bool wait(unsigned long msecs) const;
    /// Sends all len bytes. Returns how many were sent: len on success, fewer after an error.
    /// A peer that has closed its connection makes it fail; it never raises SIGPIPE.
    size_t send(const void* data, size_t len) const;
    /// Sends `firstLen` bytes from `first` followed by `secondLen` bytes from `second` as one
    /// stream, in as few system calls as the connection allows (one, unless it takes the bytes
    /// piecemeal). Returns how many bytes of both went out: the sum on success, fewer after an
    /// error, as send does.
    size_t send(const void* first, size_t firstLen, const void* second, size_t secondLen) const;
    /// Receives exactly len bytes, waiting without limit. False when the call fails or the
    /// connection is closed before all bytes came.
    bool receive(void* buf, size_t len) const;
    /// Receives exactly len bytes within msecs and reduces msecs by the whole milliseconds
    /// spent. On a time-out it returns false with msecs 0; on a broken or closed connection
    /// false with msecs above 0. msecs 0 on entry receives without limit and leaves it at 0.
    /// Bytes read before a failure are consumed.
    bool receive(void* buf, size_t len, unsigned long& msecs) const;

protected:
    SOCKET m_sock = INVALID_SOCKET;
};

/// A listening socket on all addresses, IPv6 and IPv4 alike.
class TcpServer : public TcpSocket {
public:
    /// Listens on port (backlog 10). False with no socket left open when the port cannot be
    /// bound or listened on, or when this object already holds a socket.
    bool open_port(uint16_t port);
    /// Accepts one connection within msecs (0: without limit). The new, blocking socket
    /// belongs to the caller, who closes and deletes it; a send on it fails when the peer takes
    /// in nothing for 5 seconds. A connection that was reset before it could be taken is
    /// skipped. Null on time-out or error.
    TcpSocket* accept(unsigned long msecs) const;
};

/// A socket connected to a named host.
class TcpClient : public TcpSocket {
public:
    /// Connects to address (name or numeric) and port, trying each resolved address in order.
    /// False, with no socket left open, when nothing connects; false also when this object
    /// already holds a socket.
    bool connect_to(const std::string& address, uint16_t port);
};
