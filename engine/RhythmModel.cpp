#include "engine/RhythmModel.h"

#include "engine/RhythmSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Enough for the rows fitted on twelve bells, with room for a ragged row.
constexpr std::size_t kMaxSamples = 12 * 6;
constexpr double kMemoryRows = 1.5;
constexpr double kRestartAfter = 4.0;  // times the time the rhythm expected

struct Line {
    double intercept = 0;  // at x = 0 of the centred positions
    double slope = 0;
    bool valid = false;
};

// Weighted least squares of time on position; positions and times are given
// relative to a centre so that large clock values lose no precision.
template <typename Weights>
Line fitLine(const std::deque<double>& xs, const std::deque<double>& ts, Weights weightOf)
{
    double sw = 0, sx = 0, st = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double w = weightOf(i);
        sw += w;
        sx += w * xs[i];
        st += w * ts[i];
    }
    if (sw <= 0)
        return {};
    const double mx = sx / sw, mt = st / sw;
    double sxx = 0, sxt = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double w = weightOf(i);
        sxx += w * (xs[i] - mx) * (xs[i] - mx);
        sxt += w * (xs[i] - mx) * (ts[i] - mt);
    }
    if (sxx <= 1e-9)
        return {};
    const double slope = sxt / sxx;
    return {mt - slope * mx, slope, true};
}

} // namespace

RhythmModel::RhythmModel(Parameters parameters) : params(parameters)
{
    params.handstrokeGap = std::clamp(params.handstrokeGap, 0.0, 2.0);
    params.inertia = std::clamp(params.inertia, 0.0, RhythmSettings::kMaxInertia);
    params.rowsFitted = std::clamp(params.rowsFitted, 0, 4);
}

void RhythmModel::reset(int bells)
{
    bellCount = std::max(bells, 0);
    samples.clear();
    fitted = false;
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
    // After a pause far longer than the rhythm allows (a stalled network, the
    // band resting) the old blows say nothing of the new pace.
    const double x = position(row, place);
    if (fitted && !samples.empty()) {
        const double expected = slope * std::max(1.0, x - samples.back().x);
        if (static_cast<double>(timeUs - samples.back().timeUs) > kRestartAfter * expected) {
            samples.clear();
            fitted = false;
        }
    }
    samples.push_back({row, x, timeUs});
    const int oldest = row - params.rowsFitted;
    while (!samples.empty() && (samples.front().row < oldest || samples.size() > kMaxSamples))
        samples.pop_front();
    refit();
}

void RhythmModel::refit()
{
    const Sample& newest = samples.back();
    std::deque<double> xs, ts;
    for (const Sample& s : samples) {
        xs.push_back(s.x - newest.x);
        ts.push_back(static_cast<double>(s.timeUs - newest.timeUs));
    }
    // Older blows count for less, so that a change of pace is followed: a
    // blow a row and a half back counts for 1/e of the newest.
    const double memory = kMemoryRows * bellCount;
    auto recency = [&](std::size_t i) { return std::exp(xs[i] / memory); };
    Line line = fitLine(xs, ts, recency);
    if (!line.valid)
        return;
    // A second pass gives little weight to blows far off the rhythm as it
    // stood (or, for the first fit, off the first line), so one wild blow
    // moves the rhythm little.
    const double tolerance = std::max(0.15 * std::abs(fitted ? slope : line.slope), 5000.0);
    auto expected = [&](std::size_t i) {
        if (fitted)
            return anchorTime + slope * (samples[i].x - anchorX) - static_cast<double>(newest.timeUs);
        return line.intercept + line.slope * xs[i];
    };
    auto robust = [&](std::size_t i) {
        const double off = std::abs(ts[i] - expected(i));
        return recency(i) * (off <= tolerance ? 1.0 : tolerance / off);
    };
    if (const Line second = fitLine(xs, ts, robust); second.valid)
        line = second;

    const double fitNow = static_cast<double>(newest.timeUs) + line.intercept;
    if (fitted && params.inertia > 0) {
        const double before = anchorTime + slope * (newest.x - anchorX);
        anchorTime = params.inertia * before + (1 - params.inertia) * fitNow;
        slope = params.inertia * slope + (1 - params.inertia) * line.slope;
    } else {
        anchorTime = fitNow;
        slope = line.slope;
    }
    anchorX = newest.x;
    fitted = true;
}

std::optional<std::int64_t> RhythmModel::due(int row, int place) const
{
    if (!fitted || slope <= 0)
        return std::nullopt;
    return static_cast<std::int64_t>(std::llround(anchorTime + slope * (position(row, place) - anchorX)));
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
