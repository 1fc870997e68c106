// How close to its time does the real program strike? This benchmark plays
// the server on loopback: it rings a band's bells at a steady interval,
// echoes the program's strikes as a server does, and measures, for every
// strike of the program, the time from the report it follows to its arrival,
// against the interval the program means to keep (two before a handstroke
// lead). It prints the error's median, 95th and 99th percentiles and maximum,
// once on an idle machine and once with the other core kept busy.
//
// Usage: strike_timing [path to tolvane]

#include "method/PlaceNotation.h"
#include "protocol/Messages.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBells = 8;
constexpr int kSpeed = 30;  // the program's interval: (70 * 8 + 1600 - 50 * 30) / 8 = 82 ms
constexpr int kInterval = (70 * kBells + 1600 - 50 * kSpeed) / kBells;
const std::string kRobotBells = "358";

double millisecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

class Peer {
public:
    Peer()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        socklen_t length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Peer()
    {
        if (client >= 0)
            ::close(client);
        ::close(listener);
    }

    bool accept()
    {
        pollfd ready{listener, POLLIN, 0};
        if (poll(&ready, 1, 10000) != 1)
            return false;
        client = ::accept(listener, nullptr, nullptr);
        int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return client >= 0;
    }

    void send(const NetMessage& message) { ::send(client, message.bytes().data(), message.size(), MSG_NOSIGNAL); }

    std::optional<NetMessage> next(int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            if (buffer.size() >= 2) {
                const std::size_t length = NetMessage(buffer.substr(0, 2)).getWord(0);
                if (length >= 2 && buffer.size() >= length) {
                    NetMessage message(buffer.substr(0, length));
                    buffer.erase(0, length);
                    return message;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd ready{client, POLLIN, 0};
            if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) != 1)
                return std::nullopt;
            char chunk[1024];
            const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
            if (got <= 0)
                return std::nullopt;
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    int port = 0;

private:
    int listener = -1;
    int client = -1;
    std::string buffer;
};

std::vector<std::string> touchRows()
{
    const std::vector<std::string> lead = {"x", "18", "x", "18", "x", "18", "x", "18",
                                           "x", "18", "x", "18", "x", "18", "x", "12"};
    const std::string rounds(kBellSymbols.substr(0, kBells));
    std::vector<std::string> rows{rounds, rounds};
    std::string row = rounds;
    do {
        for (const auto& token : lead)
            rows.push_back(row = applyChange(row, token, kBells));
    } while (row != rounds);
    return rows;
}

pid_t startProgram(const std::string& program, int port)
{
    const std::string server = "127.0.0.1:" + std::to_string(port);
    std::vector<std::string> args = {program, "--headless", "--server", server, "--tower", "Bench",
                                     "--notation", "x18x18x18x18,12", "--speed", std::to_string(kSpeed)};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Rings the touch; returns each robot strike's error in ms, or nothing.
std::optional<std::vector<double>> ringTouch(const std::string& program)
{
    Peer peer;
    const pid_t pid = startProgram(program, peer.port);
    if (pid < 0 || !peer.accept() || !peer.next(5000))
        return std::nullopt;
    peer.send(makeTowerEntry(1, "Bench", "timing"));
    if (!peer.next(5000))
        return std::nullopt;
    peer.send(makeJoinConfirmation("Bench"));
    peer.send(makeBellAssignment(kBells, "Band", "12467"));
    peer.send(makeBellAssignment(kBells, "Tolvane", kRobotBells));

    std::vector<double> errors;
    auto lastReport = Clock::now();
    const auto rows = touchRows();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const bool handstroke = r % 2 == 0;
        for (std::size_t place = 0; place < rows[r].size(); ++place) {
            const char symbol = rows[r][place];
            const int bell = static_cast<int>(kBellSymbols.find(symbol)) + 1;
            const bool gap = handstroke && place == 0 && r > 0;
            if (kRobotBells.find(symbol) == std::string::npos) {
                std::this_thread::sleep_until(lastReport + std::chrono::milliseconds(gap ? 2 * kInterval : kInterval));
                peer.send(makeStrike(bell, handstroke, 0, 0));
                lastReport = Clock::now();
                continue;
            }
            const auto strike = peer.next(3000);
            if (!strike || strike->getWord(6) != bell)
                return std::nullopt;
            const bool first = r == 0 && place == 0;
            if (!first)
                errors.push_back(millisecondsSince(lastReport) - (gap ? 2 * kInterval : kInterval));
            peer.send(*strike);
            lastReport = Clock::now();
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return errors;
}

void report(const char* label, std::vector<double> errors)
{
    std::sort(errors.begin(), errors.end());
    const auto at = [&](double q) { return errors[static_cast<std::size_t>(q * (errors.size() - 1))]; };
    std::printf("%-22s strikes %4zu  error ms: median %6.3f  p95 %6.3f  p99 %6.3f  max %6.3f  min %6.3f\n", label,
                errors.size(), at(0.5), at(0.95), at(0.99), errors.back(), errors.front());
}

} // namespace

int main(int argc, char** argv)
{
    const std::string program = argc > 1 ? argv[1] : TOLVANE_PROGRAM;
    std::printf("Plain course of Plain Bob Major, the program on bells %s, interval %d ms\n", kRobotBells.c_str(),
                kInterval);
    const auto idle = ringTouch(program);
    if (!idle) {
        std::fprintf(stderr, "strike_timing: the program did not ring its bells\n");
        return 1;
    }
    report("idle", *idle);

    std::atomic<bool> busy{true};
    std::thread load([&busy] {
        volatile unsigned long spin = 0;
        while (busy.load(std::memory_order_relaxed))
            spin = spin + 1;
    });
    const auto loaded = ringTouch(program);
    busy = false;
    load.join();
    if (!loaded) {
        std::fprintf(stderr, "strike_timing: the program did not ring its bells under load\n");
        return 1;
    }
    report("other core busy", *loaded);
    return 0;
}
