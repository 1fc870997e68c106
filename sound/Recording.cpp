#include "sound/Recording.h"

#include "sound/BellMixer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>

namespace sound {
namespace {

constexpr double kLeadInSeconds = 0.1;

struct Strike {
    double atSeconds;
    int bell;
};

std::vector<std::int16_t> record(int stage, double tenorHz, const std::vector<Strike>& strikes)
{
    BellMixer mixer;
    auto scale = std::make_shared<const BellScale>(renderScale(tenorHz));
    std::size_t longest = 0;
    for (const auto& tone : scale->tones)
        longest = std::max(longest, tone.size());
    mixer.setScale(std::move(scale));
    mixer.setStage(stage);
    mixer.setVolume(1.0);
    const auto sampleAt = [](double seconds) { return static_cast<std::size_t>(std::lround(seconds * kSampleRate)); };
    const std::size_t end = (strikes.empty() ? 0 : sampleAt(strikes.back().atSeconds)) + longest;
    std::vector<std::int16_t> samples(end);
    std::size_t done = 0;
    for (const Strike& strike : strikes) {
        const std::size_t at = sampleAt(strike.atSeconds);
        mixer.mix(std::span(samples).subspan(done, at - done));
        done = at;
        mixer.strike(strike.bell);
    }
    mixer.mix(std::span(samples).subspan(done));
    return samples;
}

} // namespace

std::vector<std::int16_t> recordRounds(int stage, double tenorHz)
{
    std::vector<Strike> strikes;
    double at = kLeadInSeconds;
    // Backstroke follows handstroke without a gap; the gap comes before the next handstroke.
    for (int row = 0; row < 2; ++row)
        for (int bell = 1; bell <= stage; ++bell, at += kRoundsIntervalSeconds)
            strikes.push_back({at, bell});
    return record(stage, tenorHz, strikes);
}

std::vector<std::int16_t> recordBell(int bell, int stage, double tenorHz)
{
    return record(stage, tenorHz, {{kLeadInSeconds, bell}});
}

} // namespace sound
