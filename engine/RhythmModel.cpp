#include "engine/RhythmModel.h"

#include "engine/RhythmSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double kRestartAfter = 4.0;  // times the time the rhythm expected
constexpr double kLongestStepRows = 2.0;
// How far a human band's blows scatter about its rhythm. Held fixed: a
// scatter learnt from the misses grows whenever the rhythm falls behind a
// change of pace, and then follows it slower still.
constexpr double kScatterUs = 20'000;
// A blow more than this many expected misses off the rhythm is suspect, and
// left out ...
constexpr double kSuspectMisses = 3.0;
// ... unless this many in a row are off on the same side: then the band has
// moved, and the rhythm follows at once.
constexpr int kBlowsThatMoveTheBand = 3;
// A change of pace fades unless the blows keep it up, so that the rhythm
// does not run on past the end of a speeding up.
constexpr double kChangeFadeBlows = 100;
// The most the interval may change per blow, as a share of itself.
constexpr double kMostChange = 0.004;
// How sure the first rhythm is of its change of pace, per blow.
constexpr double kFirstChangeUs = 200;
// How freely the change of pace itself may change, at inertia 0.5 (the
// variance it gains per blow, in µs² per blow²): chosen by measurement
// (bench/RhythmTracking.cpp) between a steady band, which wants it small, and
// a band whose pace swings, which wants it large.
constexpr double kJerkNoise = 300.0;

using Matrix = double[3][3];

} // namespace

RhythmModel::RhythmModel(Parameters parameters) : params(parameters)
{
    params.handstrokeGap = std::clamp(params.handstrokeGap, 0.0, 2.0);
    params.inertia = std::clamp(params.inertia, 0.0, RhythmSettings::kMaxInertia);
    // Tenfold for each 0.4 of inertia: from 18 times as free at 0 to a tenth
    // at 0.9.
    jerkNoise = kJerkNoise * std::pow(10.0, (0.5 - params.inertia) * 2.5);
}

void RhythmModel::reset(int bells)
{
    bellCount = std::max(bells, 0);
    firstBlow.reset();
    tracking = false;
}

double RhythmModel::position(int row, int place) const
{
    // Every handstroke row after the first follows a gap.
    const double gaps = std::floor(row / 2.0);
    return static_cast<double>(row) * bellCount + (place - 1) + params.handstrokeGap * gaps;
}

void RhythmModel::addBlow(int row, int place, std::int64_t timeUs)
{
    if (bellCount <= 0 || place < 1 || place > bellCount)
        return;
    const double x = position(row, place);
    const double t = static_cast<double>(timeUs);
    // After a pause far longer than the rhythm allows (a stalled network, the
    // band resting) the old blows say nothing of the new pace.
    // So are blows that skip rows: the rhythm is not carried across them.
    if (tracking && (t - dueUs > kRestartAfter * interval * std::max(1.0, x - at) ||
                     x - at > kLongestStepRows * (bellCount + params.handstrokeGap)))
        reset(bellCount);
    if (tracking)
        correct(x, t);
    else if (!firstBlow || firstBlow->first == x)
        firstBlow = {x, t};
    else
        start(x, t);
}

// The first rhythm: the line through the first two blows, as sure of them
// as a band's blows are.
void RhythmModel::start(double x, double timeUs)
{
    auto [x1, t1] = *firstBlow;
    if (x < x1) {
        std::swap(x, x1);
        std::swap(timeUs, t1);
    }
    firstBlow.reset();
    const double span = x - x1;
    if ((timeUs - t1) / span <= 0)
        return;
    tracking = true;
    at = x;
    dueUs = timeUs;
    interval = (timeUs - t1) / span;
    change = 0;
    offSideRun = 0;
    const double r = kScatterUs * kScatterUs;
    const Matrix first = {{r, r / span, 0}, {r / span, 2 * r / (span * span), 0},
                          {0, 0, kFirstChangeUs * kFirstChangeUs}};
    std::copy(&first[0][0], &first[0][0] + 9, &cov[0][0]);
}

// Carries the state forward `x - at` blows: the interval changes at its rate,
// the rate fades a little and may have wandered by the jerk noise.
void RhythmModel::advanceTo(double x)
{
    const double d = x - at;
    if (d <= 0)
        return;
    const double fade = std::exp(-d / kChangeFadeBlows);
    const Matrix f = {{1, d, d * d / 2}, {0, 1, d}, {0, 0, fade}};
    dueUs += d * interval + d * d / 2 * change;
    interval += d * change;
    change *= fade;
    Matrix fp{}, next{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                fp[i][j] += f[i][k] * cov[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                next[i][j] += fp[i][k] * f[j][k];
    const double q = jerkNoise;
    const Matrix noise = {{q * std::pow(d, 5) / 20, q * std::pow(d, 4) / 8, q * std::pow(d, 3) / 6},
                          {q * std::pow(d, 4) / 8, q * std::pow(d, 3) / 3, q * d * d / 2},
                          {q * std::pow(d, 3) / 6, q * d * d / 2, q * d}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            cov[i][j] = next[i][j] + noise[i][j];
    at = x;
}

void RhythmModel::correct(double x, double timeUs)
{
    advanceTo(x);
    // A blow heard after a later one (a ragged row) is a look back.
    const double back = x - at;
    const double h[3] = {1, back, back * back / 2};
    const double expected = dueUs + back * interval + back * back / 2 * change;
    const double miss = timeUs - expected;
    double ph[3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            ph[i] += cov[i][j] * h[j];
    const double known = h[0] * ph[0] + h[1] * ph[1] + h[2] * ph[2];
    const double s = known + kScatterUs * kScatterUs;
    const double limit = kSuspectMisses * std::sqrt(s);
    if (std::abs(miss) > limit) {
        const int side = miss > 0 ? 1 : -1;
        offSideRun = offSideRun * side > 0 ? offSideRun + side : side;
        if (std::abs(offSideRun) >= kBlowsThatMoveTheBand) {
            // The band has moved: the rhythm is no surer of when than of
            // this blow, nor of its pace than of the last few blows.
            // Whatever change of pace it had is forgotten.
            const double span = kBlowsThatMoveTheBand;
            cov[0][0] += miss * miss;
            cov[1][1] += miss * miss / (span * span);
            cov[2][2] = kFirstChangeUs * kFirstChangeUs;
            cov[0][2] = cov[2][0] = cov[1][2] = cov[2][1] = 0;
            change = 0;
            offSideRun = 0;
            correct(x, timeUs);
            return;
        }
        // Held back: one wild blow, or the first of a move, says nothing yet.
        return;
    } else {
        offSideRun = 0;
    }
    double gain[3];
    for (int i = 0; i < 3; ++i)
        gain[i] = ph[i] / s;
    dueUs += gain[0] * miss;
    interval += gain[1] * miss;
    // No band quickens or slows by more than a few per cent a row: a larger
    // change is the scatter of a few blows, and carried a row ahead it would
    // send blows far off.
    change = std::clamp(change + gain[2] * miss, -kMostChange * interval, kMostChange * interval);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            cov[i][j] -= gain[i] * ph[j];
    // Rounding must never leave the covariance unable to say "unsure".
    for (int i = 0; i < 3; ++i)
        cov[i][i] = std::max(cov[i][i], 1e-6);
}

std::optional<std::int64_t> RhythmModel::due(int row, int place) const
{
    if (!tracking || interval <= 0)
        return std::nullopt;
    const double d = position(row, place) - at;
    return static_cast<std::int64_t>(std::llround(dueUs + d * interval + d * d / 2 * change));
}

void EchoDelayEstimate::addRoundTrip(std::int64_t roundTripUs)
{
    // A clock that went backwards, or an echo after a stall or of a strike
    // we never sent, says nothing about the network.
    if (roundTripUs < 0 || roundTripUs > kLongestRoundTripUs)
        return;
    const double sample = static_cast<double>(roundTripUs);
    // Smoothed as a transport smooths its round-trip time: an eighth of each
    // new sample, after the first taken whole.
    smoothed = samples == 0 ? sample : smoothed + (sample - smoothed) / 8;
    ++samples;
    samples = std::min(samples, 1000);
}
