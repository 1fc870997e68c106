#pragma once

// The tower page's HTTP side: a libmicrohttpd daemon with no thread of its
// own. It hands the server's poll loop one epoll descriptor and a timeout,
// and does its work only when the loop calls run(), so a slow or hostile
// browser can never hold up the strikes the loop relays.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

struct MHD_Daemon;

struct HttpRequest {
    std::string method;   // "GET", "POST", ...
    std::string path;     // decoded, without the query
    std::string body;
    bool bodyTooLarge = false;
    // A query argument or header, or nothing.
    std::function<std::optional<std::string>(const char*)> query;
    std::function<std::optional<std::string>(const char*)> header;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
};

class HttpServer {
public:
    // A request body past this is refused whole, unread.
    static constexpr std::size_t kMaxBody = 16 * 1024;
    // Bounds on what browsers, friendly or not, can hold of the server.
    static constexpr unsigned kMaxConnections = 64;
    static constexpr unsigned kMaxConnectionsPerAddress = 16;
    static constexpr unsigned kIdleTimeoutSeconds = 10;

    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit HttpServer(Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on an IPv4 address; port 0 picks a free one.
    bool open(const std::string& address, int port, std::string& error);
    int port() const { return port_; }

    // The descriptor to poll for reading, and how long until run() is due
    // regardless (nothing when only the descriptor matters).
    int pollFd() const;
    std::optional<long long> timeoutMillis() const;
    // Does whatever is ready, without blocking.
    void run();

    HttpResponse handle(const HttpRequest& request) const { return handler_(request); }

private:
    Handler handler_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
};
