#pragma once

#include <cstdint>
#include <deque>
#include <optional>

// The band's rhythm as Tolvane hears it: a line through the times of recent
// blows, in blow positions that count the handstroke gap, and the moment a
// given place of a given row is due on that line.
//
// Rows count from 0, the first row of the ringing, which is a handstroke;
// before every later handstroke row the band leaves a gap of `handstrokeGap`
// blows. Times are microseconds on any one monotonic clock.
class RhythmModel {
public:
    struct Parameters {
        double handstrokeGap = 1.0;  // in blows, 0 to 2
        // How much of the previous estimate each new fit keeps, 0 to 0.9.
        double inertia = 0.5;
        // The fit reaches back this many rows before the newest blow's row.
        int rowsFitted = 3;
    };

    RhythmModel() = default;
    explicit RhythmModel(Parameters parameters);

    // Forgets every blow: a new touch, or a new number of bells.
    void reset(int bells);
    void addBlow(int row, int place, std::int64_t timeUs);

    // When place `place` (1-based) of row `row` is due, once two blows of
    // different positions have been heard; before that there is no rhythm.
    std::optional<std::int64_t> due(int row, int place) const;
    // The fitted time between blows, in microseconds (0 before a fit).
    double intervalUs() const { return fitted ? slope : 0.0; }
    int bells() const { return bellCount; }

private:
    // Where a blow lies on the band's time line, in blows from the first.
    double position(int row, int place) const;

    struct Sample {
        int row;
        double x;
        std::int64_t timeUs;
    };
    void refit();

    Parameters params;
    int bellCount = 0;
    std::deque<Sample> samples;
    bool fitted = false;
    // The line: time = anchorTime + slope * (x - anchorX).
    double anchorX = 0;
    double anchorTime = 0;
    double slope = 0;
};

// The round trip of Tolvane's own strikes, from the echoes the server sends
// back, smoothed so that one slow echo does not move it much.
class EchoDelayEstimate {
public:
    static constexpr std::int64_t kLongestRoundTripUs = 2'000'000;

    void addRoundTrip(std::int64_t roundTripUs);
    void reset() { samples = 0; smoothed = 0; }
    bool known() const { return samples > 0; }
    std::int64_t roundTripUs() const { return static_cast<std::int64_t>(smoothed); }
    // Half the round trip: how long a strike takes to reach the server.
    std::int64_t oneWayUs() const { return roundTripUs() / 2; }

private:
    int samples = 0;
    double smoothed = 0;
};
