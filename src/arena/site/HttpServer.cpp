#include "HttpServer.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace {

constexpr size_t workerThreads = 16;

// Pages load their scripts and styles from this server alone and talk only to it; nothing
// inline runs, so text that slipped into a page unescaped could still not execute.
const char* const contentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

HttpRequest toRequest(const httplib::Request& in) {
    HttpRequest out;
    out.method = in.method;
    out.path = in.path;
    for (size_t i = 1; i < in.matches.size(); ++i) {
        out.captures.push_back(in.matches[i].str());
    }
    for (const auto& [name, value] : in.params) {
        out.query.emplace(name, value);
    }
    const std::string authorization = in.get_header_value("Authorization");
    const std::string scheme = "Bearer ";
    if (authorization.compare(0, scheme.size(), scheme) == 0) {
        out.bearer = authorization.substr(scheme.size());
    }
    out.ifNoneMatch = in.get_header_value("If-None-Match");
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

} // namespace

HttpReply HttpReply::error(int status, const std::string& message) {
    return {status, "application/json", nlohmann::json{{"error", message}}.dump(), ""};
}

struct HttpServer::Impl {
    httplib::Server server;
    int port = 0;
};

HttpServer::HttpServer(const std::vector<HttpRoute>& routes, size_t maxBodyBytes)
    : m_impl(std::make_unique<Impl>()) {
    httplib::Server& server = m_impl->server;
    server.set_payload_max_length(maxBodyBytes);
    // A connection holds a worker while it is kept alive: pages poll every two seconds, so a
    // one-second keep-alive frees the workers between polls, and many pages share them.
    server.set_keep_alive_timeout(1);
    server.new_task_queue = [] { return new httplib::ThreadPool(workerThreads); };
    server.set_default_headers({{"Content-Security-Policy", contentSecurityPolicy},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"}});
    for (const HttpRoute& route : routes) {
        auto handler = [handle = route.handler](const httplib::Request& in,
                                                httplib::Response& out) {
            const HttpRequest request = toRequest(in);
            send(handle(request), request, out);
        };
        if (route.method == "GET") {
            server.Get(route.pattern, handler);
        } else if (route.method == "POST") {
            server.Post(route.pattern, handler);
        } else if (route.method == "DELETE") {
            server.Delete(route.pattern, handler);
        }
    }
    // Statuses the library sets itself (404, 413, 400 for a malformed request) get the same
    // JSON shape as the handlers' errors.
    server.set_error_handler([](const httplib::Request& in, httplib::Response& out) {
        if (!out.body.empty()) {
            return;
        }
        std::string text = statusText(out.status);
        // The library bounds form bodies far below the upload limit.
        if (out.status == 413 &&
            in.get_header_value("Content-Type").find("form") != std::string::npos) {
            text += ": send uploads as application/octet-stream";
        }
        out.set_content(HttpReply::error(out.status, text).body, "application/json");
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& out, const std::exception_ptr&) {
            out.status = 500;
            out.set_content(HttpReply::error(500, "internal error").body, "application/json");
        });
}

HttpServer::~HttpServer() = default;

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
    return true;
}

int HttpServer::port() const {
    return m_impl->port;
}

void HttpServer::serve() {
    m_impl->server.listen_after_bind();
}

void HttpServer::stop() {
    m_impl->server.stop();
}
