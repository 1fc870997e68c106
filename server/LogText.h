#pragma once

// Pieces of the server's log lines, shared by every file that writes them,
// so that a time or a bell reads the same in each.

#include "method/PlaceNotation.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Milliseconds with three decimals, from microseconds.
inline std::string millis(std::int64_t timeUs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(timeUs) / 1000.0);
    return text;
}

// 1..12 for a bell's symbol; 0 for any other character.
inline int bellOf(char symbol)
{
    return static_cast<int>(kBellSymbols.find(symbol) + 1);
}
