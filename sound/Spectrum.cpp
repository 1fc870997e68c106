#include "sound/Spectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sound {
namespace {

std::vector<double> blackmanHarris(std::span<const float> samples)
{
    const auto n = static_cast<double>(samples.size());
    std::vector<double> windowed(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / n;
        const double w = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
        windowed[i] = samples[i] * w;
    }
    return windowed;
}

// One bin of the DFT at any frequency (Goertzel).
double magnitudeAt(const std::vector<double>& windowed, int sampleRate, double hz)
{
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / sampleRate);
    double s1 = 0, s2 = 0;
    for (const double x : windowed) {
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2));
}

} // namespace

std::vector<Peak> spectralPeaks(std::span<const float> samples, int sampleRate, double lowHz, double highHz,
                                double stepHz, double threshold)
{
    const std::vector<double> windowed = blackmanHarris(samples);
    std::vector<double> magnitudes;
    for (double hz = lowHz; hz <= highHz; hz += stepHz)
        magnitudes.push_back(magnitudeAt(windowed, sampleRate, hz));
    const double strongest = magnitudes.empty() ? 0 : *std::max_element(magnitudes.begin(), magnitudes.end());
    std::vector<Peak> peaks;
    for (std::size_t i = 1; i + 1 < magnitudes.size(); ++i) {
        const double a = magnitudes[i - 1], b = magnitudes[i], c = magnitudes[i + 1];
        if (!(b > a && b >= c) || b < threshold * strongest)
            continue;
        // A parabola through the logarithms of the three places the peak's top.
        const double la = std::log(a), lb = std::log(b), lc = std::log(c);
        const double bend = la - 2 * lb + lc;
        const double offset = bend < 0 ? 0.5 * (la - lc) / bend : 0.0;
        peaks.push_back({lowHz + (static_cast<double>(i) + offset) * stepHz, b / strongest});
    }
    return peaks;
}

} // namespace sound
