#pragma once

#include "engine/RhythmModel.h"
#include "engine/RhythmSettings.h"

#include <cstdint>
#include <optional>

// When to send each of Tolvane's blows in the band's rhythm: at the moment
// the fitted rhythm says the blow is due at the server, less the time the
// blow takes to get there. It never strikes before the bell in front has
// been heard (the caller asks only then), and a bell in front that held up
// is followed by a short gap rather than crunched into. With no band to
// follow, Tolvane keeps its own steady pace.
class BandRhythm {
public:
    explicit BandRhythm(const RhythmSettings& settings = {});

    // A new touch on `bells` bells; `ringsEveryBell` when no band bell rings.
    void startTouch(int bells, bool ringsEveryBell);
    // Every blow heard, Tolvane's own echoes included.
    void blowHeard(int row, int place, bool own, std::int64_t timeUs);
    void echoHeard(std::int64_t roundTripUs) { echo.addRoundTrip(roundTripUs); }

    // How long after `nowUs` to send the blow at `place` of `row`.
    // `frontHeardUs` is when the bell in front was heard, if it has been;
    // `steadyIntervalUs` the pace of the speed setting; `afterGap` when the
    // blow leads a handstroke row.
    std::int64_t delayUs(int row, int place, std::int64_t nowUs, std::optional<std::int64_t> frontHeardUs,
                         std::int64_t steadyIntervalUs, bool afterGap) const;
    // Whether a band blow expected at `place` of `row` is so late by `nowUs`
    // that its ringer is holding up.
    bool holdingUp(int row, int place, std::int64_t nowUs) const;
    // Whether there is a band rhythm to follow, rather than our own pace.
    bool followsBand() const;
    // The band's interval between blows, 0 while there is none to follow.
    double intervalUs() const { return followsBand() ? rhythm.intervalUs() : 0; }
    // The round trip of our strikes' echoes, 0 until one is heard.
    std::int64_t roundTripUs() const { return echo.known() ? echo.roundTripUs() : 0; }

private:
    std::int64_t arrivalAfterFront(std::int64_t due, int row, int place, std::optional<std::int64_t> frontUs,
                                   double blows) const;

    RhythmSettings settings;
    RhythmModel rhythm;
    EchoDelayEstimate echo;
    bool alone = false;
    int bandBlows = 0;
};
