#pragma once

// Mixes the strikes of bells into one stream of samples. Each bell is rendered
// once (a BellScale); a strike costs a copy of its samples into the output as
// the output is pulled, never a synthesis. Overlapping strikes add, a soft
// limiter keeps the sum within full scale, and every change of level (the
// volume, a strike cut short, silence) is a ramp, never a step.

#include "sound/BellTone.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace sound {

// Identity up to kLimiterKnee, then bending smoothly towards kLimiterCeiling,
// just below full scale.
constexpr float kLimiterKnee = 0.6f;
constexpr float kLimiterCeiling = 0.999f;
float softLimit(float sample);

class BellMixer {
public:
    // Strikes sounding at once; beyond this the oldest is faded out quickly.
    static constexpr std::size_t kMaxVoices = 32;

    BellMixer();

    // The bells' samples; strikes already sounding finish with the old ones.
    void setScale(std::shared_ptr<const BellScale> scale);
    const std::shared_ptr<const BellScale>& currentScale() const { return scale; }
    void setStage(int bells);
    int stage() const { return bellCount; }
    // 0 silent .. 1 full; reached over a few milliseconds.
    void setVolume(double volume);
    // Starts bell `bell` at the next sample pulled; false (and nothing
    // sounds) for a bell outside the stage or before a scale is set.
    bool strike(int bell);
    // Fades out every strike sounding.
    void silence();

    // The next samples of the stream, as floats in (-1, 1) or 16-bit.
    void mix(std::span<float> out);
    void mix(std::span<std::int16_t> out);
    std::size_t voicesSounding() const { return voices.size(); }

private:
    struct Voice {
        std::shared_ptr<const BellScale> scale;  // keeps `samples` alive
        const std::vector<float>* samples;
        std::size_t at = 0;
        float level = 1.0f;
        float fadeStep = 0.0f;  // above 0 while fading out
    };
    void fadeOut(Voice& voice);

    std::shared_ptr<const BellScale> scale;
    int bellCount = 8;
    float gain = 0.0f;
    float targetGain = 0.0f;
    std::vector<Voice> voices;
    std::vector<float> scratch;
};

} // namespace sound
