#include "server/Framing.h"

#include "protocol/MessageLayout.h"

namespace framing {

namespace {

unsigned wordAt(const std::string& bytes, std::size_t offset)
{
    return static_cast<unsigned char>(bytes[offset]) + 256u * static_cast<unsigned char>(bytes[offset + 1]);
}

bool isKnownType(unsigned type)
{
    return (type >= 1 && type <= 7) || type == 9 || type == 10;
}

// The text field is readable: it starts inside the message and is 0-terminated
// there unless it runs to its full width.
bool textReadable(const NetMessage& message, TextField field)
{
    try {
        message.getText(field.begin, field.end);
        return true;
    } catch (const NetMessageRangeError&) {
        return false;
    }
}

}  // namespace

Frame takeFrame(std::string& buffer)
{
    Frame frame;
    if (buffer.size() < layout::kHeaderSize)
        return frame;
    const unsigned length = wordAt(buffer, layout::kLengthOffset);
    if (length < layout::kHeaderSize || length > kMaxMessageLength) {
        frame.status = Status::Bad;
        frame.reason = "length " + std::to_string(length) + " outside " +
                       std::to_string(layout::kHeaderSize) + ".." + std::to_string(kMaxMessageLength);
        return frame;
    }
    if (buffer.size() < length)
        return frame;
    NetMessage message(buffer.substr(0, length));
    frame.reason = checkMessage(message);
    if (!frame.reason.empty()) {
        frame.status = Status::Bad;
        return frame;
    }
    buffer.erase(0, length);
    frame.status = Status::Message;
    frame.message = std::move(message);
    return frame;
}

std::string checkMessage(const NetMessage& message)
{
    const unsigned type = message.getWord(layout::kTypeOffset);
    if (!isKnownType(type))
        return "unknown message type " + std::to_string(type);
    const auto tooShort = [&] { return "message of type " + std::to_string(type) + " too short (" +
                                       std::to_string(message.size()) + " bytes)"; };
    switch (static_cast<MessageType>(type)) {
    case MessageType::Strike:
        return message.size() < kMinStrikeLength ? tooShort() : std::string();
    case MessageType::Call:
        return textReadable(message, layout::call::kText) ? std::string() : tooShort();
    case MessageType::JoinTower:
        return textReadable(message, layout::joinTower::kTowerName) &&
                       textReadable(message, layout::joinTower::kRingerName)
                   ? std::string()
                   : tooShort();
    default:
        return {};
    }
}

}  // namespace framing
