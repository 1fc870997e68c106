#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

// The band's rhythm as Tolvane hears it, and the moment a given place of a
// given row is due in it. Blows are laid on one line of blow positions that
// counts the handstroke gap; along it the model tracks three things: when the
// newest blow was due, the interval between blows, and how fast that interval
// is changing. Each blow heard corrects all three by how far it came from
// where the model expected it, weighed against how sure the model is and how
// much a band's blows scatter (a Kalman filter); a blow far off the rhythm
// moves it little, unless the blows after it agree.
//
// How freely the pace may change is not known beforehand: a steady band is
// best followed by a rhythm that averages many rows, a band that speeds up
// and slows down by one that forgets quickly. So four such trackers run side
// by side, from one that holds the pace to one that follows a pace swinging
// by several per cent a minute, and each prediction weighs them by how well
// each foretold the last few rows of blows.
//
// Rows count from 0, the first row of the ringing, which is a handstroke;
// before every later handstroke row the band leaves a gap of `handstrokeGap`
// blows. Times are microseconds on any one monotonic clock.
class RhythmModel {
public:
    struct Parameters {
        double handstrokeGap = 1.0;  // in blows, 0 to 2
        // How steadily the rhythm is held, 0 to 0.9: at 0 a change of pace is
        // followed within a row or two, and every blow's scatter moves it
        // more; at 0.9 it takes several rows and moves least.
        double inertia = 0.5;
    };

    RhythmModel() : RhythmModel(Parameters{}) {}
    explicit RhythmModel(Parameters parameters);

    // Forgets every blow: a new touch, or a new number of bells.
    void reset(int bells);
    void addBlow(int row, int place, std::int64_t timeUs);

    // When place `place` (1-based) of row `row` is due, once two blows of
    // different positions have been heard; before that there is no rhythm.
    std::optional<std::int64_t> due(int row, int place) const;
    // The interval between blows at the newest blow, in microseconds (0
    // before there is a rhythm).
    double intervalUs() const;
    int bells() const { return bellCount; }

private:
    static constexpr std::size_t kTracks = 4;

    // One Kalman filter over blow positions, with its own freedom of the
    // pace. Its state is at position `at`: when that position was due, the
    // interval there and the interval's change per blow, with their
    // covariance. A track that holds the pace keeps that change at zero and
    // lets only the interval wander.
    struct Track {
        double jerkNoise = 0;  // how fast the change of pace itself may change
        double paceNoise = 0;  // how fast a held pace may wander
        bool holdsPace = false;
        double at = 0;
        double dueUs = 0;
        double interval = 0;
        double change = 0;
        double cov[3][3] = {};
        int offSideRun = 0;  // blows in a row far off the rhythm on the same side, signed
        double score = 0;    // how well it foretold the recent blows: a log likelihood that fades

        double dueAt(double x) const;
        void start(double x1, double t1, double x, double timeUs);
        void advanceTo(double x);
        void correct(double x, double timeUs);
    };

    // Where a blow lies on the band's time line, in blows from the first.
    double position(int row, int place) const;
    void start(double x, double timeUs);
    // The tracks' shares of a prediction, from their scores; they sum to 1.
    std::array<double, kTracks> shares() const;

    Parameters params;
    int bellCount = 0;
    std::optional<std::pair<double, double>> firstBlow;  // position and time, before there is a rhythm
    bool tracking = false;
    std::array<Track, kTracks> tracks;
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
