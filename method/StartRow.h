#pragma once

// The row a touch starts from. The ringing engine starts every touch from it
// and the proof of a touch follows it, so both must build it the same way.

#include <string>
#include <string_view>

// Rounds on `bells` bells (at most twelve).
std::string roundsOn(int bells);

// True when `row` holds each of the first row.size() bells exactly once.
bool isRow(std::string_view row);

// The first row on `bells` bells for a start change:
// - "1t" courses bells 2..n until t leads them, behind the treble;
// - "12t" courses bells 3..n-1 until t leads them, the tenor staying behind;
// - a whole row of `bells` bells is used as it stands;
// anything else, or a short form whose bell never comes to the front, gives
// rounds.
std::string startRowFor(std::string_view startChange, int bells);
