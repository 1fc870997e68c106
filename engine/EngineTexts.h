#pragma once

// The fixed texts the engine shows, each exactly as the user sees it.

namespace text {

inline constexpr const char* kUnknownBell = "Unknown bell - ";
inline constexpr const char* kTooManyBells =
    "Bell assignment ignored: the tower has %d bells, but Tolvane rings from 0 to 12.";
inline constexpr const char* kNextBellNotFound = "Next bell not found";

} // namespace text
