#pragma once

// A simulated network link: each message sent is due some time later, never
// before the message sent ahead of it, as on one TCP connection.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <utility>
#include <vector>

using Micros = std::int64_t;

// How long each message takes: a latency plus a jitter uniform either side.
class NetworkDelay {
public:
    NetworkDelay(Micros latency, Micros jitter, std::uint32_t seed)
        : latency_(latency), jitter_(jitter), random_(seed)
    {
    }
    bool active() const { return latency_ > 0 || jitter_ > 0; }
    Micros next()
    {
        const Micros jitter = jitter_ > 0 ? std::uniform_int_distribution<Micros>(-jitter_, jitter_)(random_) : 0;
        return std::max<Micros>(0, latency_ + jitter);
    }

private:
    Micros latency_;
    Micros jitter_;
    std::mt19937 random_;
};

template <typename Message>
class DelayQueue {
public:
    // Due at `due`, or with the message before it if that is due later.
    void push(Message message, Micros due)
    {
        lastDue_ = std::max(lastDue_, due);
        queue_.emplace_back(lastDue_, std::move(message));
    }
    std::optional<Micros> nextDue() const
    {
        return queue_.empty() ? std::nullopt : std::optional<Micros>(queue_.front().first);
    }
    std::optional<Message> takeDue(Micros now)
    {
        if (queue_.empty() || queue_.front().first > now)
            return std::nullopt;
        Message message = std::move(queue_.front().second);
        queue_.pop_front();
        return message;
    }
    std::vector<Message> takeAll()
    {
        std::vector<Message> all;
        for (auto& entry : queue_)
            all.push_back(std::move(entry.second));
        queue_.clear();
        return all;
    }

private:
    std::deque<std::pair<Micros, Message>> queue_;
    Micros lastDue_ = 0;
};
