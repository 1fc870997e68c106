#include "server/ServerLoop.h"

#include "files/AtomicFile.h"
#include "protocol/MessageLayout.h"
#include "protocol/Messages.h"
#include "server/Framing.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

// Timers are bounded so that a band that keeps being due cannot starve the sockets.
constexpr int kMaxTimerRounds = 64;

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
}

// A client no longer read is polled only while it has bytes to write:
// its peer's hang-up would otherwise wake every poll.
pollfd pollEntry(int fd, bool reading, bool writing)
{
    const short out = writing ? POLLOUT : 0;
    if (reading)
        return {fd, static_cast<short>(POLLIN | out), 0};
    return {writing ? fd : -1, out, 0};
}

std::string peerAddress(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

// ---------------------------------------------------------------------------
// Lifetime

ServerLoop::ServerLoop(ServerSetup setup, std::ostream& log)
    : setup_(std::move(setup)), log_(log), start_(std::chrono::steady_clock::now()),
      network_(setup_.latency, setup_.jitter, setup_.networkSeed), page_(*this, setup_.captainKey)
{
    for (const TowerSetup& tower : setup_.towers)
        towers_.push_back(
            std::make_unique<Tower>(static_cast<TowerHost&>(*this), static_cast<int>(towers_.size()), tower,
                                    setup_.ringerBells));
    setup_.towers.clear();
}

ServerLoop::~ServerLoop()
{
    closeAll();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    if (signalFd_ >= 0)
        ::close(signalFd_);
}

bool ServerLoop::open(std::string& error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(setup_.port));
    if (inet_pton(AF_INET, setup_.listenAddress.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: " + setup_.listenAddress;
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        error = "cannot listen on " + setup_.listenAddress + ":" + std::to_string(setup_.port) + ": " +
                std::strerror(errno);
        return false;
    }
    setNonBlocking(listenFd_);
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    signalFd_ = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    return openPage(error);
}

bool ServerLoop::openPage(std::string& error)
{
    if (setup_.httpPort < 0)
        return true;
    http_ = std::make_unique<HttpServer>([this](const HttpRequest& request) { return page_.handle(request); });
    if (http_->open(setup_.httpAddress, setup_.httpPort, httpError_))
        return true;
    http_.reset();
    if (setup_.httpOptional)
        return true;
    error = "tower page: " + httpError_;
    return false;
}

std::optional<int> ServerLoop::httpPort() const
{
    return http_ ? std::optional<int>(http_->port()) : std::nullopt;
}

void ServerLoop::run()
{
    while (!stopping_) {
        pollOnce();
        if (setup_.exitWhenDone && finished()) {
            log("the touch is done: closing");
            stopping_ = true;
        }
    }
    closeAll();
}

void ServerLoop::closeAll()
{
    for (auto& [id, client] : clients_) {
        for (const NetMessage& message : client.outbox.takeAll())
            client.out += message.bytes();
        if (!client.out.empty())
            ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(client.fd, SHUT_RDWR);
        ::close(client.fd);
    }
    clients_.clear();
}

bool ServerLoop::finished() const
{
    const auto done = [](const auto& tower) { return tower->band->done(); };
    const auto ringing = [](const auto& tower) { return tower->band->ringing(); };
    return std::any_of(towers_.begin(), towers_.end(), done) &&
           std::none_of(towers_.begin(), towers_.end(), ringing);
}

Micros ServerLoop::now() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_)
        .count();
}

// Names and call texts come from the network: a byte outside printable
// ASCII is written as \xNN, so no client can break or forge a log line.
void ServerLoop::log(const std::string& line)
{
    std::string safe;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            safe += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        safe += escaped;
    }
    log_ << safe << '\n' << std::flush;
}

void ServerLoop::logIgnored(int id, Client& client, const std::string& what)
{
    if (client.ignoredLogged < kMaxIgnoredLogLines)
        log("client " + std::to_string(id) + ": ignored " + what);
    if (++client.ignoredLogged == kMaxIgnoredLogLines)
        log("client " + std::to_string(id) + ": further ignored messages are not logged");
}

// ---------------------------------------------------------------------------
// Polling

int ServerLoop::pollTimeoutMicros() const
{
    std::optional<Micros> next;
    for (const auto& tower : towers_)
        if (const auto due = tower->band->deadline())
            next = next ? std::min(*next, *due) : *due;
    if (acceptPausedUntil_ > now())
        next = next ? std::min(*next, acceptPausedUntil_) : acceptPausedUntil_;
    if (const auto due = nextDelivery())
        next = next ? std::min(*next, *due) : *due;
    if (const auto millis = http_ ? http_->timeoutMillis() : std::nullopt) {
        const Micros due = now() + static_cast<Micros>(std::min<long long>(*millis, 60'000)) * 1000;
        next = next ? std::min(*next, due) : due;
    }
    if (!next)
        return -1;
    return static_cast<int>(std::clamp<Micros>(*next - now(), 0, 60'000'000));
}

void ServerLoop::pollOnce()
{
    std::vector<pollfd> fds{{signalFd_, POLLIN, 0},
                            {listenFd_, static_cast<short>(accepting() ? POLLIN : 0), 0},
                            {http_ ? http_->pollFd() : -1, POLLIN, 0}};
    constexpr std::size_t kFirstClient = 3;
    std::vector<int> ids;
    for (const auto& [id, client] : clients_) {
        fds.push_back(pollEntry(client.fd, client.reading, !client.out.empty()));
        ids.push_back(id);
    }
    const int timeout = pollTimeoutMicros();
    timespec wait{timeout / 1'000'000, (timeout % 1'000'000) * 1000L};
    if (::ppoll(fds.data(), fds.size(), timeout < 0 ? nullptr : &wait, nullptr) < 0 && errno != EINTR)
        return;
    if (fds[0].revents & POLLIN) {
        signalfd_siginfo info{};
        if (::read(signalFd_, &info, sizeof info) > 0 && info.ssi_signo == SIGUSR1) {
            // A network failure on demand: every client is cut off, the server stays.
            for (auto& [id, client] : clients_)
                drop(id, client, "SIGUSR1");
            removeDeadClients();
            return;
        }
        log("signal " + std::to_string(info.ssi_signo) + ": closing");
        stopping_ = true;
        return;
    }
    if (fds[1].revents & POLLIN)
        acceptClients();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto found = clients_.find(ids[i]);
        if (found == clients_.end() || found->second.dead)
            continue;
        // A client no longer read also hears of its peer's failure here.
        const short writable = found->second.reading ? POLLOUT : (POLLOUT | POLLERR | POLLHUP);
        if (fds[i + kFirstClient].revents & writable)
            writeClient(found->second);
        if (!found->second.dead && found->second.reading && (fds[i + kFirstClient].revents & (POLLIN | POLLHUP | POLLERR)))
            readClient(ids[i], found->second);
    }
    runTimers();
    removeDeadClients();
    // The page comes after the ringing: its requests wait for the strikes due now.
    if (http_ && (fds[2].revents & POLLIN || http_->timeoutMillis() == 0)) {
        http_->run();
        removeDeadClients();
    }
    applyPendingBands();
}

void ServerLoop::runTimers()
{
    for (int round = 0; round < kMaxTimerRounds; ++round) {
        bool acted = deliverDue();
        for (auto& tower : towers_) {
            const auto due = tower->band->deadline();
            const Micros time = now();
            if (due && *due <= time) {
                tower->band->onTime(time);
                acted = true;
            }
        }
        if (!acted)
            return;
    }
}

// Messages whose simulated trip is over arrive: at the client's socket, or
// at the server as if just read.
bool ServerLoop::deliverDue()
{
    bool acted = false;
    for (auto& [id, client] : clients_) {
        for (std::optional<NetMessage> message; !client.dead && (message = client.outbox.takeDue(now()));) {
            deliver(id, client, *message);
            acted = true;
        }
        for (std::optional<NetMessage> message; !client.dead && (message = client.inbox.takeDue(now()));) {
            client.inboxBytes -= message->size();
            handleMessage(id, client, *message);
            acted = true;
        }
        if (!client.reading && !client.inbox.nextDue())
            client.dead = true;
    }
    return acted;
}

std::optional<Micros> ServerLoop::nextDelivery() const
{
    std::optional<Micros> next;
    for (const auto& [id, client] : clients_)
        for (const auto due : {client.inbox.nextDue(), client.outbox.nextDue()})
            if (due && !client.dead)
                next = next ? std::min(*next, *due) : *due;
    return next;
}

bool ServerLoop::accepting() const
{
    return clients_.size() < kMaxClients && acceptPausedUntil_ <= now();
}

void ServerLoop::acceptClients()
{
    while (clients_.size() < kMaxClients) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // The connection stays queued and the socket readable: wait a
            // little rather than spin on it.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                log(std::string("accept failed: ") + std::strerror(errno));
                acceptPausedUntil_ = now() + kAcceptBackoff;
            }
            return;
        }
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        const int id = nextClientId_++;
        Client& client = clients_[id];
        client.fd = fd;
        client.address = peerAddress(address);
        log("client " + std::to_string(id) + " connected from " + clients_[id].address);
    }
}

void ServerLoop::readClient(int id, Client& client)
{
    char buffer[kReadChunk];
    const ssize_t count = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        log("client " + std::to_string(id) + " closed");
        stopReading(client);
        return;
    }
    if (count < 0)
        return;
    client.in.append(buffer, static_cast<std::size_t>(count));
    while (!client.dead) {
        framing::Frame frame = framing::takeFrame(client.in);
        if (frame.status == framing::Status::NeedMore)
            return;
        if (frame.status == framing::Status::Bad) {
            drop(id, client, frame.reason);
            return;
        }
        receive(id, client, frame.message);
    }
}

// The peer has closed. As over a real network, what it sent before still
// reaches the server (a simulated delay may be holding some); then it goes.
void ServerLoop::stopReading(Client& client)
{
    client.reading = false;
    client.in.clear();
    if (!client.inbox.nextDue())
        client.dead = true;
}

void ServerLoop::receive(int id, Client& client, const NetMessage& message)
{
    if (!network_.active()) {
        handleMessage(id, client, message);
        return;
    }
    if (client.inboxBytes + message.size() > kMaxHeldInbound) {
        drop(id, client, "sending too fast (" + std::to_string(client.inboxBytes) + " bytes on the way)");
        return;
    }
    client.inboxBytes += message.size();
    client.inbox.push(message, now() + network_.next());
}

void ServerLoop::writeClient(Client& client)
{
    while (!client.out.empty()) {
        const ssize_t sent = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent <= 0) {
            // A failed peer is noticed and dropped by its next read; one no
            // longer read can never take these bytes.
            if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && !client.reading)
                client.out.clear();
            return;
        }
        client.out.erase(0, static_cast<std::size_t>(sent));
    }
}

void ServerLoop::drop(int id, Client& client, const std::string& reason)
{
    log("drop client " + std::to_string(id) + " (" + client.address + "): " + reason);
    client.dead = true;
}

// Leaving a tower is done here, outside any band's work: the band hears of
// the new assignments only between its own steps. Each leave may find more
// clients not reading, so the search starts over after each.
void ServerLoop::removeDeadClients()
{
    while (true) {
        const auto dead = std::find_if(clients_.begin(), clients_.end(),
                                       [](const auto& entry) { return entry.second.dead; });
        if (dead == clients_.end())
            return;
        leaveTower(dead->first, dead->second);
        ::close(dead->second.fd);
        clients_.erase(dead);
    }
}

// ---------------------------------------------------------------------------
// Sending

void ServerLoop::send(int id, const NetMessage& message)
{
    const auto found = clients_.find(id);
    if (found == clients_.end() || found->second.dead)
        return;
    if (network_.active())
        found->second.outbox.push(message, now() + network_.next());
    else
        deliver(id, found->second, message);
}

void ServerLoop::deliver(int id, Client& client, const NetMessage& message)
{
    if (client.out.size() + message.size() > kMaxSendBuffer) {
        drop(id, client, "not reading (" + std::to_string(client.out.size()) + " bytes unsent)");
        return;
    }
    client.out += message.bytes();
    writeClient(client);
}

void ServerLoop::broadcast(const Tower& tower, const NetMessage& message)
{
    for (int id : tower.state.clients())
        send(id, message);
}

// ---------------------------------------------------------------------------
// Striking charts

void ServerLoop::touchStood(const Tower& tower, const TouchStruck& touch)
{
    if (setup_.strikingReport.empty())
        return;
    const std::string path = strikingReportPath(setup_.strikingReport, tower.index, touch.number);
    const std::string where = "[" + tower.name() + "] ";
    if (const std::string why = files::writeFileAtomically(path, touch.svg); why.empty())
        log(where + "striking chart written to " + path);
    else
        log(where + "cannot write " + path + ": " + why);
}
