#include "sound/BellMixer.h"

#include <algorithm>
#include <cmath>

namespace sound {
namespace {

// Several bells at full strength stay mostly below the limiter's knee.
constexpr float kHeadroom = 0.35f;
constexpr float kGainStepPerSample = 1.0f / (0.01f * kSampleRate);  // a whole change in 10 ms
constexpr float kCutFadeSamples = 0.005f * kSampleRate;             // a strike cut short: 5 ms
// Strikes faster than fading ones end are not started: a flood stays bounded.
constexpr std::size_t kMaxVoicesWithFading = 2 * BellMixer::kMaxVoices;

} // namespace

float softLimit(float sample)
{
    const float size = std::abs(sample);
    if (size <= kLimiterKnee)
        return sample;
    const float room = kLimiterCeiling - kLimiterKnee;
    return std::copysign(kLimiterKnee + room * std::tanh((size - kLimiterKnee) / room), sample);
}

BellMixer::BellMixer() { voices.reserve(kMaxVoicesWithFading); }

void BellMixer::setScale(std::shared_ptr<const BellScale> newScale) { scale = std::move(newScale); }

void BellMixer::setStage(int bells)
{
    if (bells >= 1 && bells <= kMaxBells)
        bellCount = bells;
}

void BellMixer::setVolume(double volume)
{
    const double clamped = std::clamp(std::isnan(volume) ? 0.0 : volume, 0.0, 1.0);
    // Loudness follows the square of the amplitude more nearly than the amplitude.
    targetGain = static_cast<float>(clamped * clamped) * kHeadroom;
}

void BellMixer::fadeOut(Voice& voice)
{
    if (voice.fadeStep == 0.0f)
        voice.fadeStep = 1.0f / kCutFadeSamples;
}

bool BellMixer::strike(int bell)
{
    const std::vector<float>* samples = scale ? scale->bell(bell, bellCount) : nullptr;
    if (!samples || voices.size() >= kMaxVoicesWithFading)
        return false;
    const auto sounding = std::count_if(voices.begin(), voices.end(), [](const Voice& v) { return v.fadeStep == 0.0f; });
    if (static_cast<std::size_t>(sounding) >= kMaxVoices) {
        // Voices are kept in the order struck: the first not yet fading is the oldest.
        fadeOut(*std::find_if(voices.begin(), voices.end(), [](const Voice& v) { return v.fadeStep == 0.0f; }));
    }
    voices.push_back({scale, samples});
    return true;
}

void BellMixer::silence()
{
    for (Voice& voice : voices)
        fadeOut(voice);
}

void BellMixer::mix(std::span<float> out)
{
    std::fill(out.begin(), out.end(), 0.0f);
    for (Voice& voice : voices) {
        const std::vector<float>& samples = *voice.samples;
        const std::size_t count = std::min(out.size(), samples.size() - voice.at);
        if (voice.fadeStep == 0.0f) {
            for (std::size_t i = 0; i < count; ++i)
                out[i] += samples[voice.at + i];
            voice.at += count;
            continue;
        }
        std::size_t i = 0;
        for (; i < count && voice.level > 0.0f; ++i) {
            out[i] += samples[voice.at + i] * voice.level;
            voice.level -= voice.fadeStep;
        }
        voice.at += i;
        if (voice.level <= 0.0f)
            voice.at = samples.size();
    }
    std::erase_if(voices, [](const Voice& v) { return v.at >= v.samples->size(); });
    for (float& sample : out) {
        if (gain != targetGain)
            gain = gain < targetGain ? std::min(targetGain, gain + kGainStepPerSample * kHeadroom)
                                     : std::max(targetGain, gain - kGainStepPerSample * kHeadroom);
        sample = softLimit(sample * gain);
    }
}

void BellMixer::mix(std::span<std::int16_t> out)
{
    scratch.resize(out.size());
    mix(std::span<float>(scratch));
    std::transform(scratch.begin(), scratch.end(), out.begin(),
                   [](float sample) { return static_cast<std::int16_t>(std::lround(sample * 32767.0f)); });
}

} // namespace sound
