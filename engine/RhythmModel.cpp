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
// How freely the pace may change in each track, at inertia 0.5. The first
// holds the pace, and its interval wanders by this variance per blow (µs²);
// in the others the change of pace itself wanders by this variance per blow
// (µs² per blow²), from a track that averages a steady band over many rows
// to one that follows a pace swinging 8 % a minute. Chosen by measurement
// (bench/RhythmTracking.cpp).
constexpr double kHeldPaceNoise = 10.0;
constexpr std::array<double, 3> kJerkNoise = {1.0, 100.0, 1000.0};
// No time a rhythm gives is further from the clock's zero than this (about
// three centuries in microseconds), so that it always fits the answer.
constexpr double kLatestUs = 1e16;
// How quickly a track's record of foretelling fades, per blow: the last few
// rows decide which tracks lead.
constexpr double kScoreFade = 0.98;
// A blow far off the rhythm counts against a track no more than this many
// expected misses, so that one wild blow does not hand the lead to the
// freest track.
constexpr double kWorstScoredMisses = 3.0;

using Matrix = double[3][3];

} // namespace

RhythmModel::RhythmModel(Parameters parameters) : params(parameters)
{
    params.handstrokeGap = std::clamp(params.handstrokeGap, 0.0, 2.0);
    params.inertia = std::clamp(params.inertia, 0.0, RhythmSettings::kMaxInertia);
    // Tenfold for each 0.4 of inertia: from 18 times as free at 0 to a tenth
    // at 0.9.
    const double freedom = std::pow(10.0, (0.5 - params.inertia) * 2.5);
    tracks[0].holdsPace = true;
    tracks[0].paceNoise = kHeldPaceNoise * freedom;
    for (std::size_t i = 1; i < tracks.size(); ++i)
        tracks[i].jerkNoise = kJerkNoise[i - 1] * freedom;
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
    if (tracking) {
        const Track& any = tracks[0];
        if (t - any.dueUs > kRestartAfter * intervalUs() * std::max(1.0, x - any.at) ||
            x - any.at > kLongestStepRows * (bellCount + params.handstrokeGap))
            reset(bellCount);
    }
    if (tracking) {
        for (Track& track : tracks)
            track.correct(x, t);
    } else if (!firstBlow || firstBlow->first == x) {
        firstBlow = {x, t};
    } else {
        start(x, t);
    }
}

void RhythmModel::start(double x, double timeUs)
{
    const auto [x1, t1] = *firstBlow;
    firstBlow.reset();
    if ((timeUs - t1) / (x - x1) <= 0)
        return;
    tracking = true;
    for (Track& track : tracks)
        track.start(x1, t1, x, timeUs);
}

std::array<double, RhythmModel::kTracks> RhythmModel::shares() const
{
    double best = tracks[0].score;
    for (const Track& track : tracks)
        best = std::max(best, track.score);
    std::array<double, kTracks> share{};
    double sum = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i)
        sum += share[i] = std::exp(tracks[i].score - best);
    for (double& s : share)
        s /= sum;
    return share;
}

std::optional<std::int64_t> RhythmModel::due(int row, int place) const
{
    if (!tracking)
        return std::nullopt;
    const double x = position(row, place);
    const auto share = shares();
    double due = 0, interval = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        due += share[i] * tracks[i].dueAt(x);
        interval += share[i] * tracks[i].interval;
    }
    // Times far off any clock's range (a peer's nonsense) give no rhythm.
    if (!(interval > 0) || !(std::abs(due) < kLatestUs))
        return std::nullopt;
    return static_cast<std::int64_t>(std::llround(due));
}

double RhythmModel::intervalUs() const
{
    if (!tracking)
        return 0.0;
    const auto share = shares();
    double interval = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i)
        interval += share[i] * tracks[i].interval;
    return interval;
}

double RhythmModel::Track::dueAt(double x) const
{
    const double d = x - at;
    return dueUs + d * interval + d * d / 2 * change;
}

// The first rhythm: the line through the first two blows, as sure of them
// as a band's blows are.
void RhythmModel::Track::start(double x1, double t1, double x, double timeUs)
{
    if (x < x1) {
        std::swap(x, x1);
        std::swap(timeUs, t1);
    }
    const double span = x - x1;
    at = x;
    dueUs = timeUs;
    interval = (timeUs - t1) / span;
    change = 0;
    offSideRun = 0;
    score = 0;
    const double r = kScatterUs * kScatterUs;
    const Matrix first = {{r, r / span, 0}, {r / span, 2 * r / (span * span), 0},
                          {0, 0, holdsPace ? 0 : kFirstChangeUs * kFirstChangeUs}};
    std::copy(&first[0][0], &first[0][0] + 9, &cov[0][0]);
}

// Carries the state forward `x - at` blows: the interval changes at its rate,
// the rate fades a little and may have wandered by the jerk noise.
void RhythmModel::Track::advanceTo(double x)
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
    const double q = jerkNoise, p = paceNoise;
    const Matrix noise = {
        {q * std::pow(d, 5) / 20 + p * std::pow(d, 3) / 3, q * std::pow(d, 4) / 8 + p * d * d / 2, q * std::pow(d, 3) / 6},
        {q * std::pow(d, 4) / 8 + p * d * d / 2, q * std::pow(d, 3) / 3 + p * d, q * d * d / 2},
        {q * std::pow(d, 3) / 6, q * d * d / 2, q * d}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            cov[i][j] = next[i][j] + noise[i][j];
    at = x;
}

void RhythmModel::Track::correct(double x, double timeUs)
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
    // Blows from a clock gone wild can leave nothing to weigh by.
    if (!std::isfinite(miss) || !std::isfinite(s) || s <= 0)
        return;
    const double misses = std::min(miss * miss / s, kWorstScoredMisses * kWorstScoredMisses);
    score = kScoreFade * score - (misses + std::log(s)) / 2;
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
            cov[2][2] = holdsPace ? 0 : kFirstChangeUs * kFirstChangeUs;
            cov[0][2] = cov[2][0] = cov[1][2] = cov[2][1] = 0;
            change = 0;
            offSideRun = 0;
            const double scored = score;  // this blow is scored once
            correct(x, timeUs);
            score = scored;
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
    const double most = kMostChange * std::abs(interval);
    change = std::clamp(change + gain[2] * miss, -most, most);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            cov[i][j] -= gain[i] * ph[j];
    // Rounding must never leave the covariance unable to say "unsure".
    for (int i = 0; i < (holdsPace ? 2 : 3); ++i)
        cov[i][i] = std::max(cov[i][i], 1e-6);
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
