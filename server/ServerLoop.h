#pragma once

// The server's one thread: a listening socket, the clients, a signalfd for
// SIGINT and SIGTERM, the bands' timers and the tower page's HTTP server,
// all driven by ppoll.

#include "protocol/NetMessage.h"
#include "server/Band.h"
#include "server/DelayQueue.h"
#include "server/HttpServer.h"
#include "server/StateFile.h"
#include "server/Tower.h"
#include "server/TowerPage.h"
#include "server/TowerState.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// The method called `name` for a tower of `bells`, with the composition when
// the server conducts; nothing when the library has no such method.
struct LibraryMethod {
    std::string name;
    int stage = 0;  // 0: the library does not say
};

using MethodCompiler =
    std::function<std::shared_ptr<const CompiledMethod>(const std::string& name, int bells, bool conductor)>;

struct ServerSetup {
    std::string listenAddress = "127.0.0.1";
    int port = 0;
    std::vector<TowerSetup> towers;
    std::map<std::string, std::set<int>> ringerBells;
    bool exitWhenDone = false;
    Micros latency = 0;            // each way, for every client
    Micros jitter = 0;
    std::uint32_t networkSeed = 1;
    std::string strikingReport;    // SVG path for each touch's chart; empty: none
    // The tower page: off when httpPort is negative.
    std::string httpAddress = "127.0.0.1";
    int httpPort = -1;
    // When the page's address was not asked for, a busy port leaves the server
    // running without the page rather than not at all.
    bool httpOptional = false;
    std::string captainKey;
    std::string statePath;         // empty: what the page changes lasts while the server runs
    std::vector<LibraryMethod> methods;  // what the page may choose from
    MethodCompiler compileMethod;
};

class ServerLoop : private TowerHost, private TowerDesk {
public:
    // A client that queues more than this unsent is not reading and is dropped.
    static constexpr std::size_t kMaxSendBuffer = 256 * 1024;
    // Under a simulated latency, a client with more than this on its way to
    // the server is flooding it and is dropped. One client ringing all twelve
    // bells sends under 200 bytes a second: the longest delay (20 s) holds a
    // few KiB of that.
    static constexpr std::size_t kMaxHeldInbound = 64 * 1024;
    static constexpr std::size_t kReadChunk = 4096;
    // Beyond this many connections the server stops accepting until one closes.
    static constexpr std::size_t kMaxClients = 256;
    // After accept fails (no descriptors left), new connections wait this long.
    static constexpr Micros kAcceptBackoff = 100'000;
    // A client sending what the server ignores gets this many log lines, no more.
    static constexpr int kMaxIgnoredLogLines = 5;

    ServerLoop(ServerSetup setup, std::ostream& log);
    ~ServerLoop();  // closes every connection
    ServerLoop(const ServerLoop&) = delete;
    ServerLoop& operator=(const ServerLoop&) = delete;

    // Binds, listens and blocks SIGINT, SIGTERM and SIGUSR1 (cut every client
    // off) into a signalfd; opens the tower page unless it is off.
    bool open(std::string& error);
    int port() const { return port_; }
    // The page's port, or nothing when it is off; why it is off if it could not open.
    std::optional<int> httpPort() const;
    const std::string& httpError() const { return httpError_; }
    const std::string& captainKey() const { return setup_.captainKey; }
    // Applies a saved setup, as far as it fits the towers; returns lines to log.
    std::vector<std::string> restore(const SavedState& state);
    // Runs until signalled, or until the touches are done with exitWhenDone.
    void run();

    void log(const std::string& line) override;
    Micros now() const;

private:
    struct Client {
        int fd = -1;
        std::string address;
        std::string in;
        std::string out;
        int tower = -1;
        bool dead = false;
        // False once the peer has closed: what it sent before still arrives,
        // then the client is dropped.
        bool reading = true;
        int ignoredLogged = 0;
        DelayQueue<NetMessage> inbox;   // read, not yet arrived
        std::size_t inboxBytes = 0;
        DelayQueue<NetMessage> outbox;  // sent, not yet arrived
    };
    bool openPage(std::string& error);
    void pollOnce();
    int pollTimeoutMicros() const;
    bool accepting() const;
    void acceptClients();
    void readClient(int id, Client& client);
    void stopReading(Client& client);
    void writeClient(Client& client);
    void runTimers();
    bool deliverDue();
    std::optional<Micros> nextDelivery() const;
    void receive(int id, Client& client, const NetMessage& message);
    void deliver(int id, Client& client, const NetMessage& message);
    void applyPendingBands();
    void saveState();
    TowerSetup setupFor(const Tower& tower, const BandChoice& choice, std::shared_ptr<const CompiledMethod> method) const;
    void removeDeadClients();
    bool finished() const;

    void handleMessage(int id, Client& client, const NetMessage& message);
    void sendTowerList(int id);
    void handleJoin(int id, Client& client, const NetMessage& message);
    void handleStrike(int id, Client& client, const NetMessage& message);
    void handleCall(int id, Client& client, const NetMessage& message);
    void leaveTower(int id, Client& client);
    void announceAssignments(Tower& tower);

    void send(int id, const NetMessage& message);

    // TowerHost
    void broadcast(const Tower& tower, const NetMessage& message) override;
    void touchStood(const Tower& tower, const TouchStruck& touch) override;
    bool wantsCharts() const override { return showsTouches() || !setup_.strikingReport.empty(); }
    bool showsTouches() const override { return http_ != nullptr; }

    // TowerDesk
    const std::vector<std::unique_ptr<Tower>>& towers() const override { return towers_; }
    DeskAnswer assignBell(Tower& tower, int bell, const std::string& ringer) override;
    DeskAnswer setBand(Tower& tower, const BandChoice& choice) override;
    DeskAnswer call(Tower& tower, const std::string& text) override;
    std::vector<std::string> findMethods(const std::string& part, int bells, std::size_t most) const override;
    bool knowsMethod(const std::string& name) const override;

    void drop(int id, Client& client, const std::string& reason);
    void logIgnored(int id, Client& client, const std::string& what);
    void closeAll();

    ServerSetup setup_;
    std::ostream& log_;
    std::chrono::steady_clock::time_point start_;
    std::vector<std::unique_ptr<Tower>> towers_;
    std::map<int, Client> clients_;
    int nextClientId_ = 1;
    int listenFd_ = -1;
    int signalFd_ = -1;
    int port_ = 0;
    bool stopping_ = false;
    Micros acceptPausedUntil_ = 0;
    NetworkDelay network_;
    TowerPage page_;
    std::unique_ptr<HttpServer> http_;
    std::string httpError_;
};
