// The bells' synthesis, measured: the partials of a synthesised bell found in
// its spectrum against the ones aimed at, what rendering the bells costs, and
// what mixing costs while eight bells ring at peal speed.
//
// Usage: sound_bench [tenor note, default F5]

#include "sound/BellMixer.h"
#include "sound/BellTone.h"
#include "sound/Spectrum.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <numbers>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void printPartials(double nominalHz)
{
    const std::vector<float> bell = sound::synthesiseBell(nominalHz);
    const auto from = static_cast<std::size_t>(0.02 * sound::kSampleRate);
    const auto length = static_cast<std::size_t>(0.5 * sound::kSampleRate);
    const auto peaks = sound::spectralPeaks(std::span(bell).subspan(from, length), sound::kSampleRate, 50,
                                            3.0 * nominalHz, 0.5, 0.001);
    std::printf("Partials of a bell with its nominal at %.2f Hz (spectrum of 0.02..0.52 s):\n", nominalHz);
    std::printf("  %-15s %10s %10s %9s %8s\n", "partial", "aimed Hz", "found Hz", "error", "level");
    for (const sound::Partial& partial : sound::kEnglishBellPartials) {
        const double aimed = partial.ratio * nominalHz;
        const auto nearest = std::min_element(peaks.begin(), peaks.end(), [aimed](const auto& a, const auto& b) {
            return std::abs(a.hz - aimed) < std::abs(b.hz - aimed);
        });
        if (nearest == peaks.end())
            continue;
        std::printf("  %-15s %10.2f %10.2f %8.3f%% %6.1f dB\n", partial.name, aimed, nearest->hz,
                    100.0 * (nearest->hz - aimed) / aimed, 20 * std::log10(nearest->magnitude));
    }
    std::printf("  peaks found above -60 dB: %zu (partials aimed: %zu)\n", peaks.size(),
                sound::kEnglishBellPartials.size());
}

// How far the hum and the nominal have fallen below their own level just
// after the strike, measured in the rendered sound, at a few times.
void printDecay(const char* which, double nominalHz)
{
    const std::vector<float> bell = sound::synthesiseBell(nominalHz);
    // The amplitude of one frequency over a quarter second, under a Hann
    // window: the partials lie far enough apart for it to hear one alone.
    const auto levelAt = [&](double seconds, double hz) -> std::optional<double> {
        const auto from = static_cast<std::size_t>(seconds * sound::kSampleRate);
        const auto length = static_cast<std::size_t>(0.25 * sound::kSampleRate);
        if (from + length > bell.size())
            return std::nullopt;
        std::complex<double> sum = 0;
        double weights = 0;
        for (std::size_t i = 0; i < length; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(length));
            sum += w * static_cast<double>(bell[from + i]) *
                   std::polar(1.0, -2 * std::numbers::pi * hz * static_cast<double>(i) / sound::kSampleRate);
            weights += w;
        }
        const double amplitude = 2 * std::abs(sum) / weights;
        return amplitude > 0 ? std::optional(20 * std::log10(amplitude)) : std::nullopt;
    };
    std::printf("  %-7s %7.1f Hz, %.1f s long:", which, nominalHz, static_cast<double>(bell.size()) / sound::kSampleRate);
    for (const auto& [name, ratio] : {std::pair{"hum", 0.25}, std::pair{"nominal", 1.0}}) {
        const auto start = levelAt(0.02, ratio * nominalHz);
        std::printf("  %s", name);
        for (const double at : {2.0, 4.0, 6.0}) {
            const auto level = levelAt(at, ratio * nominalHz);
            if (start && level)
                std::printf(" %gs -%.0f dB", at, *start - *level);
            else
                std::printf(" %gs gone", at);
        }
    }
    std::printf("\n");
}

void printRenderCost(double tenorHz)
{
    const auto start = Clock::now();
    const sound::BellScale scale = sound::renderScale(tenorHz);
    const double seconds = secondsSince(start);
    std::size_t samples = 0;
    for (const auto& tone : scale.tones)
        samples += tone.size();
    std::printf("Rendering the twelve bells once: %.1f ms (%.1f s of sound, %.1f MB)\n", 1000 * seconds,
                static_cast<double>(samples) / sound::kSampleRate, samples * sizeof(float) / 1e6);
}

// Peal speed: 5040 changes of eight bells in three hours, with the handstroke gap.
void printMixCost(double tenorHz)
{
    constexpr int kBells = 8;
    constexpr double kSecondsRung = 600;
    const double interval = 3 * 3600.0 / 5040 / (kBells + 0.5);
    sound::BellMixer mixer;
    mixer.setScale(std::make_shared<const sound::BellScale>(sound::renderScale(tenorHz)));
    mixer.setStage(kBells);
    mixer.setVolume(0.8);
    constexpr std::size_t kBlock = sound::kSampleRate * 4 / 1000;  // what one feed of the output asks for
    std::vector<std::int16_t> out(kBlock);
    double nextBlow = 0;
    int place = 0;
    long blows = 0;
    std::size_t mostVoices = 0;
    const auto start = Clock::now();
    for (double t = 0; t < kSecondsRung; t += static_cast<double>(kBlock) / sound::kSampleRate) {
        while (nextBlow <= t) {
            mixer.strike(place + 1);
            ++blows;
            place = (place + 1) % kBells;
            nextBlow += place == 0 && blows % (2 * kBells) == 0 ? 2 * interval : interval;
        }
        mixer.mix(std::span(out));
        mostVoices = std::max(mostVoices, mixer.voicesSounding());
    }
    const double seconds = secondsSince(start);
    std::printf("Mixing %g s of eight bells at peal speed (%ld blows, at most %zu sounding): %.1f ms, %.3f %% of a core\n",
                kSecondsRung, blows, mostVoices, 1000 * seconds, 100 * seconds / kSecondsRung);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string note = argc > 1 ? argv[1] : sound::kDefaultTenorNote;
    const auto tenorHz = sound::noteFrequency(note);
    if (!tenorHz) {
        std::fprintf(stderr, "sound_bench: '%s' is not a note (C3..B6)\n", note.c_str());
        return 2;
    }
    std::printf("Tenor %s: nominal %.2f Hz\n", note.c_str(), *tenorHz);
    printPartials(*tenorHz);
    printPartials(sound::bellNominalHz(1, 8, *tenorHz));
    std::printf("How the bells die away (below each partial's own level at the strike):\n");
    printDecay("treble", sound::bellNominalHz(1, 8, *tenorHz));
    printDecay("tenor", *tenorHz);
    printDecay("treble of 12", sound::bellNominalHz(1, 12, *tenorHz));
    printRenderCost(*tenorHz);
    printMixCost(*tenorHz);
}
