#pragma once

// What must hold of the controller between any two events, whatever the server
// sent. Each check returns a description of the first broken rule, or an empty
// text; the fuzz targets abort on it and the regression tests fail on it.

#include "method/PlaceNotation.h"
#include "protocol/Connection.h"
#include "ringer/RingerController.h"

#include <cstddef>
#include <string>

namespace fuzzcheck {

// The most the shell reads from the socket in one go.
inline constexpr std::size_t kReadSize = 1024;
// A declared length is a 16-bit word, so no complete frame is longer.
inline constexpr std::size_t kLargestFrame = 65535;

inline bool isBellOfTower(char symbol, int bellCount)
{
    const auto k = kBellSymbols.find(symbol);
    return k != std::string_view::npos && static_cast<int>(k) < bellCount;
}

inline bool isPermutationOfRounds(const std::string& row, int bellCount)
{
    if (bellCount < 0 || bellCount > kMaxBells || row.size() != static_cast<std::size_t>(bellCount))
        return false;
    unsigned seen = 0;
    for (char symbol : row) {
        if (!isBellOfTower(symbol, bellCount))
            return false;
        seen |= 1u << kBellSymbols.find(symbol);
    }
    return seen == (1u << bellCount) - 1;
}

inline std::string checkEngine(const EngineState& engine)
{
    if (engine.bellCount < 0 || engine.bellCount > kMaxBells)
        return "bellCount " + std::to_string(engine.bellCount) + " outside 0..12";
    for (std::size_t i = 0; i < engine.struckBells.size(); ++i) {
        const char symbol = engine.struckBells[i];
        if (kBellSymbols.find(symbol) == std::string_view::npos)
            return "struckBells holds a non-bell symbol";
        if (engine.struckBells.find(symbol, i + 1) != std::string::npos)
            return "struckBells holds " + std::string(1, symbol) + " twice";
    }
    for (int i = 0; i < kMaxBells; ++i)
        if (engine.bellTable[static_cast<std::size_t>(i)].number != i + 1)
            return "bellTable slot " + std::to_string(i) + " lost its number";
    if (engine.pendingBell < 0 || engine.pendingBell > kMaxBells)
        return "pendingBell " + std::to_string(engine.pendingBell) + " outside 0..12";
    if (!engine.ringing)
        return {};
    // A stopped engine may keep the row and counts of a smaller tower until it
    // starts again; a ringing one must fit the tower it rings in.
    for (char symbol : engine.struckBells)
        if (!isBellOfTower(symbol, engine.bellCount))
            return "struckBells holds " + std::string(1, symbol) + " beyond bell " + std::to_string(engine.bellCount);
    if (!isPermutationOfRounds(engine.currentRow, engine.bellCount))
        return "currentRow '" + engine.currentRow + "' is not a row of " + std::to_string(engine.bellCount) + " bells";
    if (engine.pendingBell != 0 && !engine.bellTable[static_cast<std::size_t>(engine.pendingBell - 1)].ownBell)
        return "pendingBell " + std::to_string(engine.pendingBell) + " is not our bell";
    return {};
}

inline std::string checkConnection(const Connection& link)
{
    if (link.pendingSend().size() >= Connection::kSendBufferCap)
        return "send buffer at " + std::to_string(link.pendingSend().size()) + " bytes";
    const std::size_t waiting = link.pendingReceive().size();
    if (waiting >= kLargestFrame + 1 + kReadSize)
        return "receive buffer holds " + std::to_string(waiting) + " bytes";
    // Every complete message has been taken out: what is left is one frame's start.
    if (link.frameState() == Connection::FrameState::Complete)
        return "a complete message was left in the receive buffer";
    return {};
}

inline std::string checkController(const RingerController& controller)
{
    std::string broken = checkEngine(controller.ringing());
    if (broken.empty())
        broken = checkConnection(controller.link());
    return broken;
}

}  // namespace fuzzcheck
