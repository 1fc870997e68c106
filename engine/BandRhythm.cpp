#include "engine/BandRhythm.h"

#include <algorithm>
#include <cmath>

namespace {

// The fewest band blows that give a rhythm worth following.
constexpr int kBandBlowsToFollow = 3;
// After a bell in front that held up, the gap before the next blow, as a
// share of the interval.
constexpr double kGapAfterHoldUp = 0.5;
// A ringer in front later than this, in intervals, has held up: the blows
// after take up the delay rather than hurry back into the rhythm. Less
// late is a ringer's scatter, which the rhythm rides over.
constexpr double kHeldUp = 1.0;
// After a ringer who held up, how much of the delay each blow takes back at
// most, as a share of the interval.
constexpr double kTakenUpPerBlow = 0.25;
// How far past the interval rule's time a blow may be put, as a share of the
// interval, before the rhythm is taken to have lost the band's pace.
constexpr double kFarPastTheRule = 0.25;
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
    const double blows = afterGap ? 1 + settings.handstrokeGap : 1.0;
    const auto due = followsBand() ? rhythm.due(row, place) : std::nullopt;
    const std::int64_t arrival =
        due ? arrivalAfterFront(*due, row, place, frontHeardUs, blows)
            : frontHeardUs.value_or(nowUs) + static_cast<std::int64_t>(std::llround(blows * static_cast<double>(steadyIntervalUs)));
    // Heard blows reach us a one-way delay after the server heard them, and
    // ours reach the server a one-way delay after we send: a round trip early.
    return std::clamp<std::int64_t>(arrival - roundTripUs() - nowUs, 0, kLongestWaitUs);
}

// Where a blow that the rhythm puts at `due` is heard, given when the bell in
// front was (or will be) heard. Never within half an interval of it. After a
// ringer in front who held up, later by most of their delay, as a ringer
// would take it: the pace comes back over a row or so rather than rushing
// in behind them. And where the rhythm puts a blow far past the interval
// rule's time, its pace has just jumped away from the band's: that blow
// goes at the interval rule, in its place.
std::int64_t BandRhythm::arrivalAfterFront(std::int64_t due, int row, int place, std::optional<std::int64_t> frontUs,
                                           double blows) const
{
    if (!frontUs)
        return due;
    const double interval = rhythm.intervalUs();
    const double front = static_cast<double>(*frontUs);
    double arrival = static_cast<double>(due);
    const auto frontDue = place > 1 ? rhythm.due(row, place - 1) : row > 0 ? rhythm.due(row - 1, rhythm.bells()) : std::nullopt;
    const double late = frontDue ? front - static_cast<double>(*frontDue) : 0;
    if (late > kHeldUp * interval)
        arrival += late - std::min(late / rhythm.bells(), kTakenUpPerBlow * interval);
    const double rule = front + blows * interval;
    if (arrival > rule + kFarPastTheRule * interval)
        arrival = rule;
    return std::llround(std::max(arrival, front + kGapAfterHoldUp * interval));
}
