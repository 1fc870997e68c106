#include "engine/BandRhythm.h"

#include <algorithm>
#include <cmath>

namespace {

// The fewest band blows that give a rhythm worth following.
constexpr int kBandBlowsToFollow = 3;
// After a bell in front that held up, the gap before the next blow, as a
// share of the interval.
constexpr double kGapAfterHoldUp = 0.5;
// However far off the rhythm seems, no blow waits longer than this.
constexpr std::int64_t kLongestWaitUs = 5'000'000;

} // namespace

BandRhythm::BandRhythm(const RhythmSettings& settings)
    : settings(settings), rhythm({.handstrokeGap = settings.handstrokeGap, .inertia = settings.inertia})
{
}

void BandRhythm::startTouch(int bells, bool ringsEveryBell)
{
    rhythm.reset(bells);
    alone = ringsEveryBell;
    bandBlows = 0;
}

void BandRhythm::blowHeard(int row, int place, bool own, std::int64_t timeUs)
{
    // Only the band's blows make the rhythm: following our own would only
    // echo our own errors back.
    if (own)
        return;
    rhythm.addBlow(row, place, timeUs);
    ++bandBlows;
}

bool BandRhythm::holdingUp(int row, int place, std::int64_t nowUs) const
{
    const auto due = followsBand() ? rhythm.due(row, place) : std::nullopt;
    return due && static_cast<double>(nowUs - *due) > kGapAfterHoldUp * rhythm.intervalUs();
}

bool BandRhythm::followsBand() const
{
    return !alone && bandBlows >= kBandBlowsToFollow;
}

std::int64_t BandRhythm::delayUs(int row, int place, std::int64_t nowUs, std::optional<std::int64_t> frontHeardUs,
                                 std::int64_t steadyIntervalUs, bool afterGap) const
{
    const auto steady = [&] {
        const double blows = afterGap ? 1 + settings.handstrokeGap : 1.0;
        return frontHeardUs.value_or(nowUs) +
               static_cast<std::int64_t>(std::llround(blows * static_cast<double>(steadyIntervalUs)));
    };
    const auto due = followsBand() ? rhythm.due(row, place) : std::nullopt;
    std::int64_t arrival = due ? *due : steady();
    if (due && frontHeardUs) {
        const double gap = kGapAfterHoldUp * rhythm.intervalUs();
        arrival = std::max(arrival, *frontHeardUs + static_cast<std::int64_t>(gap));
    }
    // Heard blows reach us a one-way delay after the server heard them, and
    // ours reach the server a one-way delay after we send: a round trip early.
    const std::int64_t sendAt = arrival - (echo.known() ? echo.roundTripUs() : 0);
    return std::clamp<std::int64_t>(sendAt - nowUs, 0, kLongestWaitUs);
}
