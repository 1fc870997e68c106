#pragma once

// Whole recordings made with the bells' synthesis, for a ringer without a
// sound device and for checking the synthesis: a pull of rounds, or one bell.

#include <cstdint>
#include <vector>

namespace sound {

// The interval between blows in rounds at a peal speed of about three hours
// for 5040 changes on eight bells.
constexpr double kRoundsIntervalSeconds = 0.25;

// A handstroke and a backstroke row of rounds on `stage` bells, each bell's sound left to die away at the end.
std::vector<std::int16_t> recordRounds(int stage, double tenorHz);
// Bell `bell` of `stage` struck once.
std::vector<std::int16_t> recordBell(int bell, int stage, double tenorHz);

} // namespace sound
