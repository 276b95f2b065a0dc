#pragma once
// The HTTP side of the league's web site: a table of routes served by cpp-httplib.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

/// What a handler sees of a request; parsing is the library's.
struct HttpRequest {
    std::string method;
    std::string path;
    std::vector<std::string> captures;        ///< the route pattern's groups, in order
    std::map<std::string, std::string> query; ///< the first value of each parameter
    std::string bearer;                       ///< the token of "Authorization: Bearer T"
    std::string ifNoneMatch;
    std::string body;
};

/// What a handler answers.
struct HttpReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::string etag; ///< when set, a request that names it gets 304 and no body

    /// Every error, whatever its cause, has this one shape: {"error": message}.
    static HttpReply error(int status, const std::string& message);
};

/// One line of the route table: the method, a regular expression for the whole path (its
/// groups become the captures), and the handler.
struct HttpRoute {
    std::string method;
    std::string pattern;
    std::function<HttpReply(const HttpRequest&)> handler;
};

/// Serves a route table on one address. Every response carries a strict
/// Content-Security-Policy and no-sniff header; a request body past the limit is refused with
/// 413, an unknown path with 404, a handler that throws with 500, all as JSON errors.
class HttpServer {
public:
    HttpServer(const std::vector<HttpRoute>& routes, size_t maxBodyBytes);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Binds "HOST:PORT" (port 0: any free one); false with the reason.
    bool bind(const std::string& address, std::string& error);
    /// The port bound.
    int port() const;
    /// Answers requests until stop() is called (from any thread or a signal's watcher).
    void serve();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
