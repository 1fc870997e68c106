#pragma once

// What the engine hears, decoded and each stamped with the moment it reached
// the program on the monotonic clock. The engine never reads a clock itself:
// every time it works with comes in with an event.

#include <cstdint>
#include <optional>
#include <string>

using Micros = std::int64_t;  // microseconds on the monotonic clock

// Bells of the tower given to a ringer. `ours` when that ringer is us.
struct AssignmentEvent {
    int bellCount = 0;
    std::string bells;  // bell symbols, as the server sent them
    bool ours = false;
};

// A strike of any ringer, ours included, as the server reports it. Small
// enough to travel in registers: every strike of the band comes this way.
struct StrikeEvent {
    Micros at = 0;
    std::int16_t bell = 0;  // 1..12 of the tower; anything else is ignored
    bool handstroke = false;
    std::optional<std::uint16_t> stamp;  // only when the report carries one
};

// A key that strikes the bell the person rings, going down or up. `repeat`
// when the keyboard repeats a key held down: a held key strikes once.
struct KeyEvent {
    enum class Key : std::uint8_t { Space, J, F };
    static constexpr int kKeys = 3;
    Micros at = 0;
    Key key = Key::Space;
    bool down = true;
    bool repeat = false;
};

struct CallEvent {
    std::string words;
    Micros at = 0;
};
