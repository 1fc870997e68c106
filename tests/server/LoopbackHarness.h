#pragma once

// Runs the real server binary on a free loopback port with its log in a
// temporary file, and talks to it as a raw client. Every wait is bounded.

#include "protocol/MessageLayout.h"
#include "protocol/Messages.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

inline int millisLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

class ServerProcess {
public:
    explicit ServerProcess(const std::vector<std::string>& arguments)
    {
        char name[] = "/tmp/tolvane-server-log-XXXXXX";
        const int logFd = mkstemp(name);
        logPath_ = name;
        char errorName[] = "/tmp/tolvane-server-err-XXXXXX";
        const int errorFd = mkstemp(errorName);
        errorPath_ = errorName;
        std::vector<std::string> all{TOLVANE_SERVER_PATH, "--port", "0"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(logFd, STDOUT_FILENO);
            dup2(errorFd, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& argument : all)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(logFd);
        close(errorFd);
        if (waitForLine("listening on 127.0.0.1:", 5000)) {
            const std::string first = lines().front();
            port_ = std::stoi(first.substr(first.rfind(':') + 1));
        }
    }

    ~ServerProcess()
    {
        if (pid_ > 0 && !exitStatus_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        unlink(logPath_.c_str());
        unlink(errorPath_.c_str());
    }

    int port() const { return port_; }

    std::vector<std::string> lines() const
    {
        std::ifstream file(logPath_);
        std::vector<std::string> result;
        for (std::string line; std::getline(file, line);)
            result.push_back(line);
        return result;
    }

    bool logged(const std::string& part) const
    {
        const auto all = lines();
        return std::any_of(all.begin(), all.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }

    std::string errors() const
    {
        std::ifstream file(errorPath_);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // Peak resident memory in KiB, while the server runs.
    long peakMemoryKiB() const
    {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stol(line.substr(6));
        return -1;
    }

    // Whether the log holds `part` within the timeout; gives up once the server has exited.
    bool waitForLine(const std::string& part, int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!logged(part)) {
            if (exitStatus_ || waitExit(0))
                return logged(part);
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void signal(int number) const { kill(pid_, number); }

    // The exit status, or nothing if the server is still running after the timeout.
    std::optional<int> waitExit(int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!exitStatus_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (Clock::now() >= deadline)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return exitStatus_;
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::optional<int> exitStatus_;
    std::string logPath_;
    std::string errorPath_;
};

class RawClient {
public:
    explicit RawClient(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }

    void sendBytes(const std::string& bytes) const
    {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void send(const NetMessage& message) const { sendBytes(message.bytes()); }

    // Sends `unit` over and over as fast as the server takes it, until the
    // server closes the connection, `limit` bytes or the timeout; the bytes sent.
    std::size_t flood(const std::string& unit, std::size_t limit, int timeoutMs) const
    {
        std::string burst;
        while (burst.size() < 64 * 1024)
            burst += unit;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::size_t sent = 0;
        while (sent < limit && Clock::now() < deadline) {
            pollfd poller{fd_, POLLOUT, 0};
            if (poll(&poller, 1, std::min(100, millisLeft(deadline))) <= 0)
                continue;
            const std::size_t at = sent % burst.size();  // a part sent leaves the rest of its unit to go
            const ssize_t count = ::send(fd_, burst.data() + at, burst.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                break;
            sent += count > 0 ? static_cast<std::size_t>(count) : 0;
        }
        return sent;
    }

    // Sends Hello, takes the tower list, joins, and takes the confirmation.
    void join(const std::string& tower, const std::string& ringer)
    {
        send(makeJoinTower(tower, ringer));
        const auto reply = nextOfType(MessageType::JoinTower, 3000);
        ASSERT_TRUE(reply.has_value()) << ringer << " not confirmed in " << tower;
    }

    std::optional<NetMessage> next(int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            if (buffer_.size() >= 2) {
                const std::size_t length = static_cast<unsigned char>(buffer_[0]) +
                                           256u * static_cast<unsigned char>(buffer_[1]);
                if (length >= 2 && buffer_.size() >= length) {
                    NetMessage message(buffer_.substr(0, length));
                    buffer_.erase(0, length);
                    return message;
                }
            }
            if (closed_ || !receive(millisLeft(deadline)))
                return std::nullopt;
        }
    }

    std::optional<NetMessage> nextMatching(const std::function<bool(const NetMessage&)>& wanted, int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (auto message = next(millisLeft(deadline)))
            if (wanted(*message))
                return message;
        return std::nullopt;
    }

    std::optional<NetMessage> nextOfType(MessageType type, int timeoutMs)
    {
        return nextMatching([type](const NetMessage& m) { return messageType(m) == static_cast<unsigned>(type); },
                            timeoutMs);
    }

    // Reads and keeps every message until the server closes the connection.
    bool waitClosed(int timeoutMs, std::vector<NetMessage>* messages = nullptr)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            auto message = next(millisLeft(deadline));
            if (message && messages)
                messages->push_back(*message);
            if (!message && closed_)
                return true;
        }
        return closed_;
    }

private:
    bool receive(int timeoutMs)
    {
        pollfd poller{fd_, POLLIN, 0};
        if (poll(&poller, 1, timeoutMs) <= 0)
            return false;
        char chunk[4096];
        const ssize_t count = recv(fd_, chunk, sizeof chunk, 0);
        if (count <= 0) {
            closed_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(count));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string buffer_;
};

inline int wordOf(const NetMessage& message, std::size_t offset)
{
    return static_cast<std::int16_t>(message.getWord(offset));
}

inline std::string textOf(const NetMessage& message, TextField field)
{
    return message.getText(field.begin, field.end);
}
