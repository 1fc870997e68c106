#include "sound/BellTone.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>

namespace sound {
namespace {

// Semitones above the tonic of each degree of a major scale, over a twelfth.
constexpr std::array<int, kMaxBells> kMajorScale{0, 2, 4, 5, 7, 9, 11, 12, 14, 16, 17, 19};

constexpr double kAttackSeconds = 0.0015;
constexpr double kFadeOutSeconds = 0.5;
constexpr double kMaxLengthSeconds = 10.0;
constexpr double kStrikeNoiseAmplitude = 0.35;
constexpr double kStrikeNoiseSeconds = 0.004;  // time constant of its decay
constexpr double kPeak = 0.9;

// A small fixed-seed generator: every render of a bell gives the same samples.
struct NoiseSource {
    std::uint32_t state = 0x9e3779b9u;
    double next()
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / static_cast<double>(1u << 23) - 1.0;
    }
};

double decayScale(double nominalHz) { return std::sqrt(kReferenceNominalHz / nominalHz); }

// A raised-cosine ramp from 0 to 1 over `length` samples.
double ramp(std::size_t at, std::size_t length)
{
    if (at >= length)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(at) / static_cast<double>(length));
}

} // namespace

std::optional<double> noteFrequency(std::string_view name)
{
    constexpr std::array<int, 7> kLetterSemitones{9, 11, 0, 2, 4, 5, 7};  // A..G above C
    if (name.size() < 2 || name.size() > 3 || name[0] < 'A' || name[0] > 'G')
        return std::nullopt;
    int semitone = kLetterSemitones[static_cast<std::size_t>(name[0] - 'A')];
    if (name.size() == 3) {
        if (name[1] == '#')
            ++semitone;
        else if (name[1] == 'b')
            --semitone;
        else
            return std::nullopt;
    }
    const char octave = name.back();
    if (octave < '3' || octave > '6')
        return std::nullopt;
    const int midi = 12 * (octave - '0' + 1) + semitone;
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

double bellNominalHz(int bell, int stage, double tenorHz)
{
    const int degree = std::clamp(stage - bell, 0, kMaxBells - 1);
    return tenorHz * std::pow(2.0, kMajorScale[static_cast<std::size_t>(degree)] / 12.0);
}

std::vector<float> synthesiseBell(double nominalHz)
{
    const double scale = decayScale(nominalHz);
    const double longest = std::max_element(kEnglishBellPartials.begin(), kEnglishBellPartials.end(),
                                            [](const Partial& a, const Partial& b) {
                                                return a.t60Seconds < b.t60Seconds;
                                            })->t60Seconds;
    const auto length = static_cast<std::size_t>(std::min(longest * scale, kMaxLengthSeconds) * kSampleRate);
    std::vector<double> sum(length, 0.0);
    // Each partial a decaying phasor turned once a sample: one complex product
    // a sample instead of a sine and an exponential.
    for (const Partial& partial : kEnglishBellPartials) {
        const double hz = partial.ratio * nominalHz;
        if (hz >= 0.45 * kSampleRate)
            continue;
        const double perSample = std::pow(10.0, -3.0 / (partial.t60Seconds * scale * kSampleRate));
        const std::complex<double> turn = std::polar(perSample, 2.0 * std::numbers::pi * hz / kSampleRate);
        std::complex<double> phasor(partial.amplitude, 0.0);
        for (double& sample : sum) {
            sample += phasor.imag();
            phasor *= turn;
        }
    }
    // The clapper: white noise differenced (so mostly high), dying in milliseconds.
    NoiseSource noise;
    const double noiseDecay = std::exp(-1.0 / (kStrikeNoiseSeconds * kSampleRate));
    double level = kStrikeNoiseAmplitude;
    double previous = 0.0;
    for (std::size_t i = 0; i < length && level > 1e-6; ++i, level *= noiseDecay) {
        const double white = noise.next();
        sum[i] += level * 0.5 * (white - previous);
        previous = white;
    }
    double peak = 0.0;
    for (const double sample : sum)
        peak = std::max(peak, std::abs(sample));
    const double gain = peak > 0 ? kPeak / peak : 0.0;
    const auto attack = static_cast<std::size_t>(kAttackSeconds * kSampleRate);
    const auto fade = static_cast<std::size_t>(kFadeOutSeconds * kSampleRate);
    std::vector<float> samples(length);
    for (std::size_t i = 0; i < length; ++i)
        samples[i] = static_cast<float>(sum[i] * gain * ramp(i, attack) * ramp(length - 1 - i, fade));
    return samples;
}

const std::vector<float>* BellScale::bell(int bell, int stage) const
{
    if (stage < 1 || stage > kMaxBells || bell < 1 || bell > stage)
        return nullptr;
    const auto& tone = tones[static_cast<std::size_t>(stage - bell)];
    return tone.empty() ? nullptr : &tone;
}

BellScale renderScale(double tenorHz)
{
    BellScale scale;
    scale.tenorHz = tenorHz;
    for (int degree = 0; degree < kMaxBells; ++degree)
        scale.tones[static_cast<std::size_t>(degree)] = synthesiseBell(bellNominalHz(kMaxBells - degree, kMaxBells, tenorHz));
    return scale;
}

} // namespace sound
