#pragma once

// Builders for every message of the protocol, in both directions, so that the
// program, the server and the tests write each layout the same way.

#include "protocol/MessageLayout.h"
#include "protocol/NetMessage.h"

#include <cstdint>
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
