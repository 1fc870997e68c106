#include "app/BellSound.h"

#include "sound/BellMixer.h"
#include "sound/SoundSettings.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <span>
#include <vector>

namespace {

constexpr int kBytesPerFrame = 2;  // mono, 16-bit
constexpr int kBytesPerMs = sound::kSampleRate / 1000 * kBytesPerFrame;
// The audio stream's buffer: a strike is queued behind at most this much.
// The buffer is topped up every kFeedMs, and at once when a bell is struck.
// Smaller buffers or more frequent feeds cost more CPU in the audio server's
// client than they save in latency.
constexpr int kQueuedMs = 20;
constexpr int kFeedMs = 8;

using Clock = std::chrono::steady_clock;

} // namespace

struct BellSound::Output {
    sound::BellMixer mixer;
    bool on = false;
    std::string tenorNote = sound::kDefaultTenorNote;
    // The scale is rendered aside; strikes use the one in place until it is done.
    std::future<std::shared_ptr<const sound::BellScale>> rendering;
    double renderingHz = 0;

    std::unique_ptr<QAudioSink> sink;
    QIODevice* device = nullptr;
    bool unavailable = false;  // said once, then silent
    QTimer feedTimer;
    std::vector<std::int16_t> samples;

    std::optional<Clock::time_point> strikeWaiting;  // struck, not yet fed
    BellSound::Latency latency;

    void renderScaleOf(const std::string& note);
    void takeRenderedScale();
    bool openOutput();
    void feed();
};

void BellSound::Output::renderScaleOf(const std::string& note)
{
    const auto hz = sound::noteFrequency(note);
    if (!hz || *hz == renderingHz)
        return;
    renderingHz = *hz;
    // Waits for a render still running: the last note asked for is the one kept.
    rendering = std::async(std::launch::async,
                           [hz = *hz] { return std::make_shared<const sound::BellScale>(sound::renderScale(hz)); });
}

void BellSound::Output::takeRenderedScale()
{
    if (rendering.valid() && rendering.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        mixer.setScale(rendering.get());
}

bool BellSound::Output::openOutput()
{
    if (sink)
        return true;
    if (unavailable)
        return false;
    // Qt Multimedia says in lines of its own why it finds no device; the one
    // line the user needs is ours.
    const QtMessageHandler previousHandler =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const QAudioDevice outputDevice = QMediaDevices::defaultAudioOutput();
    qInstallMessageHandler(previousHandler);
    QAudioFormat format;
    format.setSampleRate(sound::kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (outputDevice.isNull() || !outputDevice.isFormatSupported(format)) {
        unavailable = true;
        std::fprintf(stderr, "tolvane: %s; the bells are not heard\n",
                     outputDevice.isNull() ? "no audio output device" : "the audio output cannot play 48 kHz 16-bit");
        return false;
    }
    sink = std::make_unique<QAudioSink>(outputDevice, format);
    sink->setBufferSize(kQueuedMs * kBytesPerMs);
    device = sink->start();
    if (!device || sink->error() != QAudio::NoError) {
        sink.reset();
        device = nullptr;
        unavailable = true;
        std::fprintf(stderr, "tolvane: the audio output cannot be opened; the bells are not heard\n");
        return false;
    }
    feedTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feedTimer, &QTimer::timeout, [this] { feed(); });
    return true;
}

// Fills the stream's buffer; once the sound is off and the last strike
// has faded, the output rests until it is turned on again.
void BellSound::Output::feed()
{
    takeRenderedScale();
    const qsizetype queued = std::max<qsizetype>(0, sink->bufferSize() - sink->bytesFree());
    const qsizetype room = sink->bytesFree();
    const std::size_t frames = room > 0 ? static_cast<std::size_t>(room / kBytesPerFrame) : 0;
    if (frames > 0) {
        if (strikeWaiting) {
            const double waitedMs = std::chrono::duration<double, std::milli>(Clock::now() - *strikeWaiting).count();
            const double total = waitedMs + static_cast<double>(queued) / kBytesPerMs;
            latency.meanMs += (total - latency.meanMs) / ++latency.strikes;
            latency.maxMs = std::max(latency.maxMs, total);
            strikeWaiting.reset();
        }
        samples.resize(frames);
        mixer.mix(std::span(samples));
        device->write(reinterpret_cast<const char*>(samples.data()), static_cast<qint64>(frames * kBytesPerFrame));
    }
    if (!on && mixer.voicesSounding() == 0) {
        feedTimer.stop();
        sink->suspend();
    }
}

BellSound::BellSound() : output(std::make_unique<Output>())
{
    output->mixer.setVolume(SoundSettings().volume);
}

BellSound::~BellSound()
{
    if (output->sink)
        output->sink->stop();
}

void BellSound::strike(int bell)
{
    if (!output->on || !output->sink)
        return;
    output->takeRenderedScale();
    if (!output->mixer.strike(bell))
        return;
    if (!output->strikeWaiting)
        output->strikeWaiting = Clock::now();
    output->feed();
}

void BellSound::setStage(int bells) { output->mixer.setStage(bells); }

void BellSound::setEnabled(bool on)
{
    Output& out = *output;
    if (on == out.on)
        return;
    out.on = on;
    if (!on) {
        out.mixer.silence();
        return;
    }
    out.renderScaleOf(out.tenorNote);
    if (!out.openOutput())
        return;
    if (out.sink->state() == QAudio::SuspendedState)
        out.sink->resume();
    if (!out.feedTimer.isActive())
        out.feedTimer.start(kFeedMs);
}

bool BellSound::enabled() const { return output->on; }

void BellSound::setVolume(double volume) { output->mixer.setVolume(volume); }

void BellSound::setTenorNote(const std::string& note)
{
    if (!sound::noteFrequency(note))
        return;
    output->tenorNote = note;
    if (output->on)
        output->renderScaleOf(note);
}

BellSound::Latency BellSound::latency() const { return output->latency; }
