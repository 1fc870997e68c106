#include "app/PreciseTimer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

PreciseTimer::PreciseTimer(std::function<void()> onTimeout) : onTimeout(std::move(onTimeout))
{
    fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
        fallback = std::make_unique<QTimer>();
        fallback->setSingleShot(true);
        fallback->setTimerType(Qt::PreciseTimer);
        QObject::connect(fallback.get(), &QTimer::timeout, [this] {
            active = false;
            this->onTimeout();
        });
        return;
    }
    notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { expired(); });
}

PreciseTimer::~PreciseTimer()
{
    notifier.reset();
    if (fd >= 0)
        ::close(fd);
}

void PreciseTimer::start(int milliseconds)
{
    active = true;
    if (fallback) {
        fallback->start(std::max(milliseconds, 0));
        return;
    }
    itimerspec spec{};
    const long nanoseconds = static_cast<long>(std::max(milliseconds, 0)) * 1000000L;
    spec.it_value.tv_sec = nanoseconds / 1000000000L;
    spec.it_value.tv_nsec = nanoseconds % 1000000000L;
    if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0)
        spec.it_value.tv_nsec = 1;  // all zeros would disarm it
    timerfd_settime(fd, 0, &spec, nullptr);
}

void PreciseTimer::stop()
{
    active = false;
    if (fallback) {
        fallback->stop();
        return;
    }
    const itimerspec disarm{};
    timerfd_settime(fd, 0, &disarm, nullptr);
}

void PreciseTimer::expired()
{
    std::uint64_t expirations = 0;
    // A timer stopped after the loop saw it ready reads nothing: no tick.
    if (::read(fd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations))
        return;
    active = false;
    onTimeout();
}
