#include "HttpServer.h"

#include "HttpConnection.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/// Workers answer requests; a client holds at most `connectionsPerAddress` of them, each for a
/// bounded time.
constexpr size_t workerThreads = 32;
constexpr int listenBacklog = 256;

// Pages load their scripts and styles from this server alone and talk only to it; nothing
// inline runs, so text that slipped into a page unescaped could still not execute.
const char* const contentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t");
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

/// The credentials of "Authorization: Bearer T"; the scheme's name is case-insensitive.
std::string bearerOf(const std::string& authorization) {
    const std::string value = trimmed(authorization);
    const size_t space = value.find_first_of(" \t");
    if (space == std::string::npos || lower(value.substr(0, space)) != "bearer") {
        return "";
    }
    return trimmed(value.substr(space));
}

std::string remoteOf(const httplib::Request& in, const HttpLimits& limits) {
    if (limits.behindProxy && in.has_header("X-Forwarded-For")) {
        const std::string chain = in.get_header_value("X-Forwarded-For");
        return trimmed(chain.substr(chain.rfind(',') + 1));
    }
    return in.remote_addr;
}

HttpRequest toRequest(const httplib::Request& in, const HttpLimits& limits) {
    HttpRequest out;
    out.method = in.method;
    out.path = in.path;
    for (size_t i = 1; i < in.matches.size(); ++i) {
        out.captures.push_back(in.matches[i].str());
    }
    for (const auto& [name, value] : in.params) {
        out.query.emplace(name, value);
    }
    out.bearer = bearerOf(in.get_header_value("Authorization"));
    out.ifNoneMatch = in.get_header_value("If-None-Match");
    const std::string type = in.get_header_value("Content-Type");
    out.contentType = lower(trimmed(type.substr(0, type.find(';'))));
    out.remote = remoteOf(in, limits);
    out.body = in.body;
    return out;
}

const char* statusText(int status) {
    switch (status) {
    case 400:
        return "bad request";
    case 404:
        return "no such page";
    case 405:
        return "method not allowed";
    case 413:
        return "the request is too large";
    default:
        return "the request failed";
    }
}

void send(const HttpReply& reply, const HttpRequest& request, httplib::Response& out) {
    if (reply.retryAfter > 0) {
        out.set_header("Retry-After", std::to_string(reply.retryAfter));
    }
    if (!reply.etag.empty()) {
        out.set_header("ETag", reply.etag);
        out.set_header("Cache-Control", "no-cache");
        if (request.ifNoneMatch == reply.etag) {
            out.status = 304;
            return;
        }
    }
    out.status = reply.status;
    out.set_content(reply.body, reply.contentType);
}

/// Reads a POST body: the raw bytes, or the first file field of a form; false with the
/// refusal when it is past the limit, cut off, or a form without a file.
bool readBody(const httplib::Request& in, const httplib::ContentReader& reader, size_t limit,
              HttpRequest& request, HttpReply& refusal) {
    bool tooLarge = false;
    const auto append = [&](const char* data, size_t size) {
        if (request.body.size() + size > limit) {
            tooLarge = true;
            return false;
        }
        request.body.append(data, size);
        return true;
    };
    bool read = false;
    if (in.is_multipart_form_data()) {
        request.fromForm = true;
        int part = -1;
        int filePart = -1;
        read = reader(
            [&](const httplib::MultipartFormData& field) {
                ++part;
                if (filePart < 0 && !field.filename.empty()) {
                    filePart = part;
                }
                return true;
            },
            [&](const char* data, size_t size) { return part != filePart || append(data, size); });
        // The library stops at a field it cannot take; a form with no file field is the
        // sender's mistake either way.
        if (filePart < 0) {
            refusal = HttpReply::error(400, "the form holds no file: send the archive as the "
                                            "form's file field (curl -F file=@bot.tar.gz)");
            return false;
        }
    } else {
        read = reader(append);
    }
    if (tooLarge) {
        refusal = HttpReply::error(413, "the request is too large: at most " +
                                            std::to_string(limit >> 20) + " MiB");
    } else if (!read) {
        refusal = HttpReply::error(400, "the request's body was cut off");
    }
    return read && !tooLarge;
}

/// How many connections each address holds open.
class AddressCount {
public:
    bool enter(const std::string& address, size_t cap) {
        std::lock_guard<std::mutex> hold(m_lock);
        size_t& open = m_open[address];
        if (cap != 0 && open >= cap) {
            return false;
        }
        ++open;
        return true;
    }
    void leave(const std::string& address) {
        std::lock_guard<std::mutex> hold(m_lock);
        const auto at = m_open.find(address);
        if (at != m_open.end() && --at->second == 0) {
            m_open.erase(at);
        }
    }

private:
    std::mutex m_lock;
    std::map<std::string, size_t> m_open;
};

/// The library's server with its connections taken over: each is read through an
/// HttpConnection, so every request is bounded before the library parses it. The library as
/// Debian ships it (0.11.4, built into a shared library, so its compile-time settings are
/// fixed) reads header lines of any length and number, applies its read time-out to each
/// read rather than to a request, answers any number of ranges, and reads ahead past a
/// request; its own loop over a connection is therefore not used.
class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(const HttpLimits& limits) : m_limits(limits) {}

    /// The library listens with a queue of 5 connections: a burst of clients would have its
    /// later connections dropped, and their visitors wait a second for the retry.
    void widenBacklog() { ::listen(svr_sock_, listenBacklog); }

    /// Closes the listening socket, which ends the library's loop of accepts; unlike the
    /// library's stop(), which does nothing until that loop has begun, also when called before
    /// (a signal's watcher may stop the site the moment its port is printed).
    void closeListener() {
        const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
        if (sock != INVALID_SOCKET) {
            ::shutdown(sock, SHUT_RDWR);
            ::close(sock);
        }
    }

protected:
    bool process_and_close_socket(socket_t sock) override {
        bool served = false;
        {
            HttpConnection connection(sock, m_limits, [this] { return is_running(); });
            const size_t cap = m_limits.behindProxy ? 0 : m_limits.connectionsPerAddress;
            if (m_addresses.enter(connection.remote(), cap)) {
                served = serveConnection(connection);
                m_addresses.leave(connection.remote());
            } else {
                connection.refuse(429, "Too Many Requests",
                                  "too many connections from your address at once (at most " +
                                      std::to_string(cap) + ")");
            }
            connection.linger();
        }
        shutdown(sock, SHUT_RDWR);
        close(sock);
        return served;
    }

private:
    bool serveConnection(HttpConnection& connection) {
        for (size_t left = m_limits.keepAliveRequests; left > 0 && is_running(); --left) {
            switch (connection.readHead(left == m_limits.keepAliveRequests)) {
            case HttpConnection::Head::Closed:
                return true;
            case HttpConnection::Head::TooLarge:
                connection.refuse(431, "Request Header Fields Too Large",
                                  "the request's head is larger than " +
                                      std::to_string(m_limits.headBytes) + " bytes");
                return false;
            case HttpConnection::Head::TooManyLines:
                connection.refuse(431, "Request Header Fields Too Large",
                                  "the request has more than " +
                                      std::to_string(m_limits.headerLines) + " header lines");
                return false;
            case HttpConnection::Head::TooSlow:
                connection.refuse(408, "Request Timeout",
                                  "the request's head took longer than " +
                                      std::to_string(m_limits.headSeconds) + " s");
                return false;
            case HttpConnection::Head::Ready:
                break;
            }
            // A request with a body closes its connection: a body left unread by a refusal
            // must never be taken for the next request.
            bool closed = false;
            const bool last = left == 1 || connection.hasBody();
            if (!process_request(connection, last, closed, nullptr) || closed || last) {
                return true;
            }
        }
        return true;
    }

    const HttpLimits& m_limits;
    AddressCount m_addresses;
};

struct CompiledRoute {
    std::regex pattern;
    const HttpRoute* route;
};

} // namespace

HttpReply HttpReply::error(int status, const std::string& message) {
    return {status, "application/json", nlohmann::json{{"error", message}}.dump(), "", 0};
}

struct HttpServer::Impl {
    explicit Impl(HttpLimits given) : limits(std::move(given)), server(limits) {}

    /// The checks made on a head before any body is read; the refusal, if any.
    std::optional<HttpReply> screen(const httplib::Request& in) const;
    void install(const HttpRoute& route);

    HttpLimits limits;
    GuardedServer server;
    std::vector<HttpRoute> routes;
    std::vector<CompiledRoute> posts;
    int port = 0;
};

std::optional<HttpReply> HttpServer::Impl::screen(const httplib::Request& in) const {
    if (in.has_header("Host") && !hostAllowed(in.get_header_value("Host"), limits.allowedHosts)) {
        return HttpReply::error(421, "this site does not answer for that host name");
    }
    const bool body =
        in.has_header("Transfer-Encoding") || in.get_header_value<uint64_t>("Content-Length") > 0;
    if (!body) {
        return std::nullopt;
    }
    if (in.method == "POST") {
        for (const CompiledRoute& post : posts) {
            std::smatch groups;
            if (std::regex_match(in.path, groups, post.pattern)) {
                if (in.get_header_value<uint64_t>("Content-Length") > limits.bodyBytes) {
                    return HttpReply::error(413, "the request is too large: at most " +
                                                     std::to_string(limits.bodyBytes >> 20) +
                                                     " MiB");
                }
                if (!post.route->gate) {
                    return std::nullopt;
                }
                HttpRequest request = toRequest(in, limits);
                for (size_t i = 1; i < groups.size(); ++i) {
                    request.captures.push_back(groups[i].str());
                }
                return post.route->gate(request);
            }
        }
    }
    return HttpReply::error(in.method == "POST" ? 404 : 405,
                            in.method == "POST" ? "no such page"
                                                : "a " + in.method + " request takes no body");
}

void HttpServer::Impl::install(const HttpRoute& route) {
    const HttpLimits* bounds = &limits;
    if (route.method == "POST") {
        posts.push_back({std::regex(route.pattern), &route});
        server.Post(route.pattern, [handle = route.handler,
                                    bounds](const httplib::Request& in, httplib::Response& out,
                                            const httplib::ContentReader& reader) {
            HttpRequest request = toRequest(in, *bounds);
            HttpReply refusal;
            if (!readBody(in, reader, bounds->bodyBytes, request, refusal)) {
                send(refusal, request, out);
                return;
            }
            send(handle(request), request, out);
        });
        return;
    }
    auto handler = [handle = route.handler, bounds](const httplib::Request& in,
                                                    httplib::Response& out) {
        const HttpRequest request = toRequest(in, *bounds);
        send(handle(request), request, out);
    };
    if (route.method == "GET") {
        server.Get(route.pattern, handler);
    } else if (route.method == "DELETE") {
        server.Delete(route.pattern, handler);
    }
}

HttpServer::HttpServer(const std::vector<HttpRoute>& routes, HttpLimits limits)
    : m_impl(std::make_unique<Impl>(std::move(limits))) {
    Impl& impl = *m_impl;
    httplib::Server& server = impl.server;
    server.set_payload_max_length(impl.limits.bodyBytes);
    // Only advertised to clients: the connection's own loop enforces both.
    server.set_keep_alive_timeout(impl.limits.idleSeconds);
    server.set_keep_alive_max_count(impl.limits.keepAliveRequests);
    server.new_task_queue = [] { return new httplib::ThreadPool(workerThreads); };
    server.set_default_headers({{"Content-Security-Policy", contentSecurityPolicy},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"}});
    impl.routes = routes;
    for (const HttpRoute& route : impl.routes) {
        impl.install(route);
    }
    // Host, body and gate are checked on the head alone, before the library reads a body;
    // a client that asked to be told first ("Expect: 100-continue") hears the refusal instead.
    server.set_pre_routing_handler([&impl](const httplib::Request& in, httplib::Response& out) {
        const std::optional<HttpReply> refusal = impl.screen(in);
        if (!refusal) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        send(*refusal, toRequest(in, impl.limits), out);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_expect_100_continue_handler(
        [&impl](const httplib::Request& in, httplib::Response& out) {
            const std::optional<HttpReply> refusal = impl.screen(in);
            if (!refusal) {
                return 100;
            }
            send(*refusal, toRequest(in, impl.limits), out);
            return refusal->status;
        });
    // Answers to a request that carried credentials are the team's alone: no cache keeps them.
    server.set_post_routing_handler([](const httplib::Request& in, httplib::Response& out) {
        if (in.has_header("Authorization")) {
            out.set_header("Cache-Control", "no-store");
        }
    });
    // Statuses the library sets itself (404, 413, 400 for a malformed request) get the same
    // JSON shape as the handlers' errors.
    server.set_error_handler([](const httplib::Request&, httplib::Response& out) {
        if (out.body.empty()) {
            out.set_content(HttpReply::error(out.status, statusText(out.status)).body,
                            "application/json");
        }
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& out, const std::exception_ptr&) {
            out.status = 500;
            out.set_content(HttpReply::error(500, "internal error").body, "application/json");
        });
}

HttpServer::~HttpServer() = default;

bool HttpServer::hostAllowed(const std::string& host, const std::vector<std::string>& allowed) {
    std::string name = lower(trimmed(host));
    if (!name.empty() && name.front() == '[') {
        name = name.substr(1, name.find(']') - 1); // an IPv6 address, its port after "]"
    } else {
        name = name.substr(0, name.find(':'));
    }
    // A name that resolves to this server by a stranger's DNS is what rebinding needs; a
    // literal address involves no DNS and is always answered.
    unsigned char address[sizeof(in6_addr)];
    if (name == "localhost" || inet_pton(AF_INET, name.c_str(), address) == 1 ||
        inet_pton(AF_INET6, name.c_str(), address) == 1) {
        return true;
    }
    for (const std::string& allowedName : allowed) {
        if (allowedName == "*" || lower(allowedName) == name) {
            return true;
        }
    }
    return false;
}

bool HttpServer::bind(const std::string& address, std::string& error) {
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos) {
        error = "--listen takes ADDRESS:PORT, not '" + address + "'";
        return false;
    }
    std::string host = address.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    int port = -1;
    try {
        port = std::stoi(address.substr(colon + 1));
    } catch (const std::exception&) {
    }
    if (port < 0 || port > 65535) {
        error = "'" + address.substr(colon + 1) + "' is not a port number";
        return false;
    }
    if (port == 0) {
        m_impl->port = m_impl->server.bind_to_any_port(host);
    } else if (m_impl->server.bind_to_port(host, port)) {
        m_impl->port = port;
    }
    if (m_impl->port <= 0) {
        error = "cannot listen on " + address;
        return false;
    }
    m_impl->server.widenBacklog();
    return true;
}

int HttpServer::port() const {
    return m_impl->port;
}

void HttpServer::serve() {
    m_impl->server.listen_after_bind();
}

void HttpServer::stop() {
    m_impl->server.closeListener();
}
