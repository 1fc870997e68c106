#pragma once

// Cuts the bytes a client sends into messages and decides, in one place, what
// is nonsense. The socket glue only moves bytes.

#include "protocol/NetMessage.h"

#include <cstddef>
#include <string>

namespace framing {

// No message a client sends needs more; a longer one is refused so that one
// client cannot make the server relay tens of kilobytes per strike.
inline constexpr std::size_t kMaxMessageLength = 1024;
// The shortest strike the server reads: the bell and stroke words.
inline constexpr std::size_t kMinStrikeLength = 10;

enum class Status { NeedMore, Message, Bad };

struct Frame {
    Status status = Status::NeedMore;
    NetMessage message;   // when Message
    std::string reason;   // when Bad
};

// Takes the first complete message off the front of `buffer`. A Bad result
// leaves the buffer as it was: the client is to be dropped.
Frame takeFrame(std::string& buffer);

// Why a whole message cannot be handled, or empty when it can.
std::string checkMessage(const NetMessage& message);

}  // namespace framing
