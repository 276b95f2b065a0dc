#pragma once
// The HTTP side of the league's web site: a table of routes served by cpp-httplib, behind a
// guard that bounds what any one client may make the server hold.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/// What a handler sees of a request; parsing is the library's.
struct HttpRequest {
    std::string method;
    std::string path;
    std::vector<std::string> captures;        ///< the route pattern's groups, in order
    std::map<std::string, std::string> query; ///< the first value of each parameter
    std::string bearer; ///< the token of "Authorization: Bearer T" (any case of "Bearer")
    std::string ifNoneMatch;
    std::string contentType; ///< the media type alone, lower case, without its parameters
    std::string remote;      ///< the client's address (the proxy's client's, behind a proxy)
    std::string body;        ///< the body, or the file field's content of a form
    bool fromForm = false;   ///< the body came from a multipart/form-data file field
};

/// What a handler answers.
struct HttpReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::string etag;   ///< when set, a request that names it gets 304 and no body
    int retryAfter = 0; ///< seconds, sent as Retry-After when positive

    /// Every error, whatever its cause, has this one shape: {"error": message}.
    static HttpReply error(int status, const std::string& message);
};

/// One line of the route table: the method, a regular expression for the whole path (its
/// groups become the captures), and the handler. A POST route may have a gate: it sees the
/// request's head (everything but the body) before a byte of the body is read, and a reply
/// it returns is the answer; the body is then never read and the connection closes.
struct HttpRoute {
    using Handler = std::function<HttpReply(const HttpRequest&)>;
    using Gate = std::function<std::optional<HttpReply>(const HttpRequest&)>;
    HttpRoute(std::string method, std::string pattern, Handler handler, Gate gate = nullptr)
        : method(std::move(method)), pattern(std::move(pattern)), handler(std::move(handler)),
          gate(std::move(gate)) {}

    std::string method;
    std::string pattern;
    Handler handler;
    Gate gate;
};

/// What one client may make the server hold, and for how long. The defaults fit pages that
/// poll every two seconds and uploads of a few MiB over a slow line.
struct HttpLimits {
    size_t bodyBytes = size_t{16} << 20; ///< a request's body (POST only; others have none)
    size_t headBytes = 16384;            ///< the request line and headers together
    size_t headerLines = 64;             ///< header lines of one request
    int headSeconds = 10;                ///< to send a request's head, from its first byte
    int idleSeconds = 2;                 ///< a connection may wait this long for its next request
    int bodySeconds = 120;               ///< to send a body and read the answer
    int stallSeconds = 10;               ///< one read or write that makes no progress
    size_t keepAliveRequests = 100;      ///< requests on one connection
    size_t connectionsPerAddress = 8;    ///< open at once from one address; 0: no cap
    /// Host names the site answers for besides addresses and "localhost"; "*" for any.
    std::vector<std::string> allowedHosts;
    /// Behind a reverse proxy every connection comes from the proxy: connections are not
    /// capped per address and the client's address is the last of X-Forwarded-For.
    bool behindProxy = false;
};

/// Serves a route table on one address. Every response carries a strict
/// Content-Security-Policy and no-sniff header, and `Cache-Control: no-store` when the request
/// carried credentials. Refused with a JSON error and the connection closed: a head past its
/// size or line count (431), a head or body too slow (408), a body on anything but a POST
/// route (405) or past the limit (413), a Host not allowed (421), more connections from one
/// address than allowed (429). Range headers are ignored: answers are whole. An unknown path
/// gets 404, a handler that throws 500.
class HttpServer {
public:
    HttpServer(const std::vector<HttpRoute>& routes, HttpLimits limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Binds "HOST:PORT" (port 0: any free one); false with the reason.
    bool bind(const std::string& address, std::string& error);
    /// The port bound.
    int port() const;
    /// Answers requests until stop() is called (from any thread or a signal's watcher).
    void serve();
    /// Ends serve(), also one not begun yet: it then returns at once.
    void stop();

    /// Whether a Host header names this site: an address, "localhost", or an allowed name
    /// (the port, if any, is not compared).
    static bool hostAllowed(const std::string& host, const std::vector<std::string>& allowed);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
