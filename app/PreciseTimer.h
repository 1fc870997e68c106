#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <memory>

// A one-shot timer on the kernel's monotonic clock (timerfd), delivered on the
// event loop like any socket event. It fires within a fraction of a
// millisecond, where a Qt timer may be late by a millisecond or more, and
// the rhythm of the ringing is made of these.
class PreciseTimer {
public:
    explicit PreciseTimer(std::function<void()> onTimeout);
    ~PreciseTimer();
    PreciseTimer(const PreciseTimer&) = delete;
    PreciseTimer& operator=(const PreciseTimer&) = delete;

    // Arming a running timer replaces its period.
    void start(int milliseconds);
    void stop();
    bool isActive() const { return active; }

private:
    void expired();

    int fd = -1;
    bool active = false;
    std::unique_ptr<QSocketNotifier> notifier;
    // Where the kernel offers no timerfd, Qt's precise timer stands in.
    std::unique_ptr<QTimer> fallback;
    std::function<void()> onTimeout;
};
