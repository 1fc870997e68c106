#pragma once

// Measuring a tone: the frequencies of the peaks of its spectrum. For the
// tests and the bench that check the synthesis against the partials aimed at.

#include <span>
#include <vector>

namespace sound {

struct Peak {
    double hz;
    double magnitude;  // relative to the strongest peak
};

// The local maxima of the magnitude spectrum of `samples` (at `sampleRate`,
// under a Blackman-Harris window) from `lowHz` to `highHz`, scanned every
// `stepHz` and refined between steps, that reach `threshold` of the
// strongest; in order of frequency.
std::vector<Peak> spectralPeaks(std::span<const float> samples, int sampleRate, double lowHz, double highHz,
                                double stepHz, double threshold);

} // namespace sound
