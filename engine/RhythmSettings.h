#pragma once

// How Tolvane times its blows: one interval after the bell before (the
// default), or in the band's rhythm, fitted from the blows it hears.
struct RhythmSettings {
    enum class Rhythm { Interval, Band };
    Rhythm rhythm = Rhythm::Interval;
    double handstrokeGap = 1.0;  // extra blows before each handstroke row, 0 to 2
    double inertia = 0.5;        // 0 to kMaxInertia
    // At 1 the rhythm would keep its first guess for good: the most it may be.
    static constexpr double kMaxInertia = 0.9;
};
