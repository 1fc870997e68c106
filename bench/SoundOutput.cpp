// The bells through the real audio output, as the window plays them: strikes
// eight bells at peal speed through BellSound for a while, then prints how
// long after each strike its first sample reached the output (the wait for
// the next feed plus the audio queued ahead) and the CPU the process used.
// Needs an audio device; without one it says so and exits.
//
// Usage: sound_output [seconds, default 20]

#include "app/BellSound.h"

#include <QCoreApplication>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    constexpr int kBells = 8;
    const int intervalMs = static_cast<int>(3 * 3600.0 * 1000 / 5040 / (kBells + 0.5));
    BellSound bells;
    bells.setStage(kBells);
    bells.setEnabled(true);

    int place = 0;
    QTimer blows;
    blows.setTimerType(Qt::PreciseTimer);
    QObject::connect(&blows, &QTimer::timeout, [&] {
        bells.strike(place + 1);
        place = (place + 1) % kBells;
    });
    double cpuAtStart = 0;
    std::chrono::steady_clock::time_point wallAtStart;
    // A second to render the bells and settle the output before measuring.
    QTimer::singleShot(1000, [&] {
        cpuAtStart = cpuSeconds();
        wallAtStart = std::chrono::steady_clock::now();
        blows.start(intervalMs);
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] { app.quit(); });
    app.exec();

    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallAtStart).count();
    const BellSound::Latency latency = bells.latency();
    if (latency.strikes == 0) {
        std::printf("No strike reached the audio output (no audio device?)\n");
        return 1;
    }
    std::printf("%d strikes, one every %d ms: strike to first sample at the output mean %.1f ms, max %.1f ms\n",
                latency.strikes, intervalMs, latency.meanMs, latency.maxMs);
    std::printf("CPU while ringing: %.2f %% of one core\n", 100 * (cpuSeconds() - cpuAtStart) / wall);
}
