// Does the tower page cost the ringing anything? This benchmark runs the
// real server twice in one go, once with the page off and once with it on,
// under the same load: 10 towers of 6 bells with 5 ringers each (50 raw
// clients on loopback), one ringer in each tower striking every 100 ms. It
// measures the strike relay delay (a strike sent by one ringer until another
// in the tower has it back) and, with the page on, 10 browsers polling their
// tower's page as the page does (every 250 ms) while the latency of each kind
// of request is timed. It prints medians, 95th percentiles and maxima.
//
// Usage: page_bench [seconds per phase, default 10]

#include "protocol/MessageLayout.h"
#include "protocol/Messages.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTowers = 10;
constexpr int kRingersPerTower = 5;
constexpr auto kStrikeEvery = std::chrono::milliseconds(100);
constexpr auto kPollEvery = std::chrono::milliseconds(250);

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
    std::vector<double> values;
    void print(const char* what) const
    {
        if (values.empty()) {
            std::printf("  %-34s no samples\n", what);
            return;
        }
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double share) { return sorted[static_cast<std::size_t>(share * (sorted.size() - 1))]; };
        std::printf("  %-34s median %7.3f ms  p95 %7.3f ms  max %7.3f ms  (%zu)\n", what, at(0.5), at(0.95),
                    sorted.back(), sorted.size());
    }
};

class Server {
public:
    Server(const std::string& program, bool page)
    {
        char logName[] = "/tmp/tolvane-page-bench-XXXXXX";
        const int logFd = mkstemp(logName);
        logPath_ = logName;
        std::vector<std::string> arguments{program, "--port", "0", "--conductor", "off", "--wait-ms", "600000",
                                           "--http", page ? "127.0.0.1:0" : "off"};
        for (int tower = 0; tower < kTowers; ++tower)
            arguments.insert(arguments.end(), {"--tower", "T" + std::to_string(tower) + ":Bench:6"});
        for (const char* ringer : {"R0=1,2", "R1=3", "R2=4", "R3=5", "R4=6"})
            arguments.insert(arguments.end(), {"--ringer", ringer});
        pid_ = fork();
        if (pid_ == 0) {
            dup2(logFd, STDOUT_FILENO);
            dup2(logFd, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(logFd);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline && (port == 0 || (page && httpBase.empty()))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::ifstream log(logPath_);
            for (std::string line; std::getline(log, line);) {
                if (line.rfind("listening on ", 0) == 0)
                    port = std::stoi(line.substr(line.rfind(':') + 1));
                if (line.rfind("tower page on ", 0) == 0)
                    httpBase = line.substr(14, line.size() - 15);
                if (const auto at = line.find("?key="); at != std::string::npos)
                    key = line.substr(at + 5);
            }
        }
    }
    ~Server()
    {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        unlink(logPath_.c_str());
    }

    int port = 0;
    std::string httpBase;
    std::string key;

private:
    pid_t pid_ = -1;
    std::string logPath_;
};

int connectTo(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return fd;
}

struct Ringer {
    int fd = -1;
    int tower = 0;
    std::string buffer;
};

// Rings for `seconds` and returns each relayed strike's delay.
Figures relayDelays(int port, int seconds)
{
    std::vector<Ringer> ringers;
    for (int tower = 0; tower < kTowers; ++tower)
        for (int ringer = 0; ringer < kRingersPerTower; ++ringer) {
            Ringer r{connectTo(port), tower, {}};
            const std::string bytes =
                makeJoinTower("T" + std::to_string(tower), "R" + std::to_string(ringer)).bytes();
            ::send(r.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ringers.push_back(r);
        }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::map<std::pair<int, int>, Clock::time_point> sent;  // (tower, stamp) -> when
    Figures delays;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto nextStrike = start;
    std::uint16_t stamp = 0;
    while (Clock::now() < end) {
        if (Clock::now() >= nextStrike) {
            ++stamp;
            for (int tower = 0; tower < kTowers; ++tower) {
                const std::string bytes = makeStrike(1, stamp % 2 == 1, stamp, 0).bytes();
                sent[{tower, stamp}] = Clock::now();
                ::send(ringers[static_cast<std::size_t>(tower * kRingersPerTower)].fd, bytes.data(), bytes.size(),
                       MSG_NOSIGNAL);
            }
            nextStrike += kStrikeEvery;
        }
        std::vector<pollfd> fds;
        for (const Ringer& r : ringers)
            fds.push_back({r.fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 5);
        for (std::size_t i = 0; i < ringers.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            char chunk[4096];
            const ssize_t count = recv(ringers[i].fd, chunk, sizeof chunk, 0);
            if (count <= 0)
                continue;
            Ringer& r = ringers[i];
            r.buffer.append(chunk, static_cast<std::size_t>(count));
            while (r.buffer.size() >= 2) {
                const std::size_t length = static_cast<unsigned char>(r.buffer[0]) +
                                           256u * static_cast<unsigned char>(r.buffer[1]);
                if (length < 2 || r.buffer.size() < length)
                    break;
                const NetMessage message(r.buffer.substr(0, length));
                r.buffer.erase(0, length);
                // The second ringer of each tower is the one listening.
                if (i % kRingersPerTower != 1 || messageType(message) != static_cast<unsigned>(MessageType::Strike) ||
                    message.size() < static_cast<std::size_t>(layout::strike::kLengthWithStamp))
                    continue;
                const auto found = sent.find({r.tower, message.getWord(layout::strike::kStamp)});
                if (found != sent.end()) {
                    delays.values.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - found->second).count());
                    sent.erase(found);
                }
            }
        }
    }
    for (const Ringer& r : ringers)
        close(r.fd);
    return delays;
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

struct Browsers {
    Figures page, towers, tower, assign;
    int failures = 0;
};

double timed(CURL* curl, const std::string& url, const std::string* body, int& failures)
{
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (body != nullptr) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->c_str());
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
    const auto start = Clock::now();
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK ||
        (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status), status != 200))
        ++failures;
    return millisSince(start);
}

// Ten browsers, each on its tower's page, polling as the page does; every
// tenth round also loads the page and the towers list, and hands a bell out.
void browse(const Server& server, std::atomic<bool>& stop, Browsers& figures)
{
    std::vector<CURL*> browsers;
    curl_slist* headers = curl_slist_append(nullptr, ("X-Captain-Key: " + server.key).c_str());
    headers = curl_slist_append(headers, "Expect:");
    for (int tower = 0; tower < kTowers; ++tower) {
        CURL* curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        browsers.push_back(curl);
    }
    const std::string assign = R"({"bell": 6, "ringer": "R4"})";
    for (int round = 0; !stop; ++round) {
        const auto roundStart = Clock::now();
        for (int tower = 0; tower < kTowers; ++tower) {
            CURL* curl = browsers[static_cast<std::size_t>(tower)];
            const std::string name = "T" + std::to_string(tower);
            figures.tower.values.push_back(
                timed(curl, server.httpBase + "/api/tower?tower=" + name, nullptr, figures.failures));
            if (round % 10 == tower % 10) {
                figures.page.values.push_back(timed(curl, server.httpBase + "/tower/" + name, nullptr, figures.failures));
                figures.towers.values.push_back(timed(curl, server.httpBase + "/api/towers", nullptr, figures.failures));
                figures.assign.values.push_back(
                    timed(curl, server.httpBase + "/api/bell?tower=" + name, &assign, figures.failures));
            }
        }
        std::this_thread::sleep_until(roundStart + kPollEvery);
    }
    for (CURL* curl : browsers)
        curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::printf("%d towers x %d ringers on loopback, a strike every %lld ms in each tower, %d s a phase\n", kTowers,
                kRingersPerTower, static_cast<long long>(kStrikeEvery.count()), seconds);

    Figures off;
    {
        Server server(TOLVANE_SERVER_PATH, false);
        if (server.port == 0) {
            std::fprintf(stderr, "the server did not start\n");
            return 1;
        }
        off = relayDelays(server.port, seconds);
    }
    Figures on;
    Browsers browsers;
    {
        Server server(TOLVANE_SERVER_PATH, true);
        if (server.port == 0 || server.httpBase.empty()) {
            std::fprintf(stderr, "the server or its page did not start\n");
            return 1;
        }
        std::atomic<bool> stop{false};
        std::thread browsing([&] { browse(server, stop, browsers); });
        on = relayDelays(server.port, seconds);
        stop = true;
        browsing.join();
    }
    std::printf("strike relay delay\n");
    off.print("page off");
    on.print("page on, 10 browsers polling");
    std::printf("page and API latency (page on, under the same ringing)\n");
    browsers.tower.print("GET /api/tower (the page's poll)");
    browsers.page.print("GET /tower/NAME (the page)");
    browsers.towers.print("GET /api/towers");
    browsers.assign.print("POST /api/bell");
    std::printf("  failed requests: %d\n", browsers.failures);
    curl_global_cleanup();
    return 0;
}
