#pragma once

// Builders for every message of the protocol, in both directions, so that the
// program, the server and the tests write each layout the same way; and the
// readers of every message the program takes in, the one place that knows
// their fields.

#include "protocol/MessageLayout.h"
#include "method/PlaceNotation.h"
#include "protocol/NetMessage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

NetMessage makeHello();
NetMessage makeJoinTower(std::string_view towerName, std::string_view ringerName);
NetMessage makeStrike(int bellNumber, bool handstroke, std::uint16_t stamp, int echoDelay);
NetMessage makeCall(std::string_view text);

// What a server sends.
NetMessage makeTowerEntry(int towerCount, std::string_view name, std::string_view description);
NetMessage makeJoinConfirmation(std::string_view towerName);
NetMessage makeBellAssignment(int bellCount, std::string_view ringerName, std::string_view bells);
NetMessage makeServerText(std::string_view text);

// The type word of a whole message, or 0 when it is too short to carry one.
unsigned messageType(const NetMessage& message);

// What the program reads from each message it takes in. Every reader reads
// all its fields before it returns, so that a message too short for them
// (NetMessageRangeError) is dropped without a trace.

struct BellAssignmentReport {
    int bellCount = 0;  // signed on the wire
    std::string ringerName;
    std::string bells;
};

// Small enough to come back in registers, for the many strikes of a band.
struct StrikeReport {
    std::int16_t bell = 0;  // 0..12
    bool handstroke = false;
    std::optional<std::uint16_t> stamp;  // only a message of 12 bytes or more carries it
};

struct TowerEntryReport {
    int towerCount = 0;  // signed on the wire
    std::string name;
    std::string description;
};

BellAssignmentReport readBellAssignment(const NetMessage& message);
std::string readCall(const NetMessage& message);
TowerEntryReport readTowerEntry(const NetMessage& message);
// The name of the tower joined.
std::string readJoinConfirmation(const NetMessage& message);
std::string readServerText(const NetMessage& message);

// Nothing for a bell no tower has: such a report must not even start the
// ringing. Inline: a band's every strike is read here.
inline std::optional<StrikeReport> readStrike(const NetMessage& message)
{
    using namespace layout::strike;
    const int length = static_cast<std::int16_t>(message.getWord(layout::kLengthOffset));
    const int bell = static_cast<std::int16_t>(message.getWord(kBell));
    const bool handstroke = message.getWord(kStroke) != 0;
    const auto stamp = length >= kLengthWithStamp ? std::optional(message.getWord(kStamp)) : std::nullopt;
    if (bell < 0 || bell > kMaxBells)
        return std::nullopt;
    return StrikeReport{static_cast<std::int16_t>(bell), handstroke, stamp};
}
