#pragma once

#include "method/MessageSink.h"

#include <map>
#include <string>
#include <string_view>

// The place and bell symbols: symbol k (from 0) is place and bell k + 1.
inline constexpr std::string_view kBellSymbols = "1234567890ET";
inline constexpr int kMaxBells = 12;

// No notation may expand to more changes than this; far above any real method.
inline constexpr int kMaxNotationChanges = 10000;

inline constexpr const char* kFormattingErrorText = "Formatting error in place notation";

using ChangeMap = std::map<int, std::string>;

struct NotationBlock {
    ChangeMap changes;  // change number (from 0, in the order rung) -> change token
    int shift = 0;      // where a call's first change falls relative to its block end
    friend bool operator==(const NotationBlock&, const NotationBlock&) = default;
};

using ParsedNotation = std::map<int, NotationBlock>;  // block number -> block; never empty

// Rewrites a notation so that every token is followed by exactly one ".".
std::string normaliseNotation(std::string_view notation);

// Parses one notation into blocks. Nothing is rejected; a notation that would
// expand past kMaxNotationChanges is reported with kFormattingErrorText and
// parsing ends with what was collected.
ParsedNotation parsePlaceNotation(std::string_view notation, MessageSink& messages);

// The row after one change. Only the first min(stage, row length, 12) positions
// take part (a negative stage counts as 0); the result has that many symbols.
std::string applyChange(std::string_view row, std::string_view token, int stage);
