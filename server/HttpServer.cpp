#include "server/HttpServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace {

// What one request has sent so far.
struct Upload {
    std::string body;
    bool tooLarge = false;
};

std::optional<std::string> lookup(MHD_Connection* connection, MHD_ValueKind kind, const char* key)
{
    const char* value = MHD_lookup_connection_value(connection, kind, key);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

MHD_Result respond(MHD_Connection* connection, const HttpResponse& answer)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    // Nothing the page shows may run or load from anywhere but the page itself.
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'self'; img-src 'self'; frame-ancestors 'none'");
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void* self, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* data, std::size_t* size, void** context)
{
    auto* upload = static_cast<Upload*>(*context);
    if (upload == nullptr) {
        *context = new Upload;
        return MHD_YES;
    }
    if (*size > 0) {
        if (upload->body.size() + *size > HttpServer::kMaxBody) {
            upload->tooLarge = true;
            upload->body.clear();
        } else if (!upload->tooLarge) {
            upload->body.append(data, *size);
        }
        *size = 0;
        return MHD_YES;
    }
    HttpRequest request;
    request.method = method;
    request.path = url;
    request.body = std::move(upload->body);
    request.bodyTooLarge = upload->tooLarge;
    request.query = [connection](const char* key) { return lookup(connection, MHD_GET_ARGUMENT_KIND, key); };
    request.header = [connection](const char* key) { return lookup(connection, MHD_HEADER_KIND, key); };
    // Whatever goes wrong in one answer stays in that answer.
    try {
        return respond(connection, static_cast<const HttpServer*>(self)->handle(request));
    } catch (const std::exception&) {
        return respond(connection, {500, "application/json", R"({"error": "the server could not answer"})"});
    }
}

void completed(void* /*self*/, MHD_Connection* /*connection*/, void** context, MHD_RequestTerminationCode /*why*/)
{
    delete static_cast<Upload*>(*context);
    *context = nullptr;
}

}  // namespace

HttpServer::HttpServer(Handler handler) : handler_(std::move(handler)) {}

HttpServer::~HttpServer()
{
    if (daemon_ != nullptr)
        MHD_stop_daemon(daemon_);
}

bool HttpServer::open(const std::string& address, int port, std::string& error)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL, static_cast<std::uint16_t>(port), nullptr, nullptr,
        &answer, this,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&where),
        MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(64 * 1024),
        MHD_OPTION_NOTIFY_COMPLETED, &completed, this,
        MHD_OPTION_END);
    if (daemon_ == nullptr) {
        error = "cannot listen on " + address + ":" + std::to_string(port) +
                (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }
    const MHD_DaemonInfo* bound = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = bound != nullptr ? bound->port : port;
    return true;
}

int HttpServer::pollFd() const
{
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
    return info != nullptr ? info->epoll_fd : -1;
}

std::optional<long long> HttpServer::timeoutMillis() const
{
    MHD_UNSIGNED_LONG_LONG millis = 0;
    if (MHD_get_timeout(daemon_, &millis) != MHD_YES)
        return std::nullopt;
    return static_cast<long long>(millis);
}

void HttpServer::run()
{
    MHD_run(daemon_);
}

