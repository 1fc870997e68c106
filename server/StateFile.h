#pragma once

// What a club sets up through the tower page, kept across restarts: each
// tower's bells by ringer name, its band and whether the server conducts.
// The file is JSON, written whole on every change and read whole at start;
// one that cannot be read whole is set aside, never half-applied.

#include "server/Tower.h"

#include <map>
#include <optional>
#include <set>
#include <string>

struct TowerSaved {
    std::map<std::string, std::set<int>> bells;  // ringer name -> bell numbers
    BandChoice band;
    friend bool operator==(const TowerSaved&, const TowerSaved&) = default;
};
using SavedState = std::map<std::string, TowerSaved>;  // by tower name

std::string stateText(const SavedState& state);
// The state in `text`, or nothing with `error` saying what is wrong.
std::optional<SavedState> parseState(const std::string& text, std::string& error);

struct LoadedState {
    SavedState state;
    std::string report;  // empty, or one line on a damaged or unreadable file
};
// A missing file is an empty state. A damaged one is renamed to
// PATH.damaged (replacing an older one) and the report says so.
LoadedState loadState(const std::string& path);
