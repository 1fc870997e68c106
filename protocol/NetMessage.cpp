#include "protocol/NetMessage.h"

#include <algorithm>
#include <cstdint>

void NetMessage::init(int length, int type, int tag)
{
    if (length < 0 || length > INT16_MAX)
        throw NetMessageLengthError("NetMessage length " + std::to_string(length) + " cannot be held");
    data.assign(static_cast<std::size_t>(length), '\0');
    putWord(0, static_cast<unsigned>(length));
    putWord(2, static_cast<unsigned>(type));
    putWord(4, static_cast<unsigned>(tag));
}

void NetMessage::requireWord(std::size_t offset) const
{
    if (offset >= data.size() || offset + 1 >= data.size())
        throw NetMessageRangeError("NetMessage word at " + std::to_string(offset) + " outside "
                                   + std::to_string(data.size()) + " bytes");
}

std::uint16_t NetMessage::getWord(std::size_t offset) const
{
    requireWord(offset);
    const auto low = static_cast<unsigned char>(data[offset]);
    const auto high = static_cast<unsigned char>(data[offset + 1]);
    return static_cast<std::uint16_t>(low + 256u * high);
}

void NetMessage::putWord(std::size_t offset, unsigned value)
{
    requireWord(offset);
    data[offset] = static_cast<char>(value & 0xFFu);
    data[offset + 1] = static_cast<char>((value >> 8) & 0xFFu);
}

std::string NetMessage::getText(std::size_t start, std::size_t end) const
{
    if (end <= start)
        return {};
    if (start >= data.size())
        throw NetMessageRangeError("NetMessage text at " + std::to_string(start) + " outside message");
    const std::size_t width = end - start;
    const std::size_t available = data.size() - start;
    const std::size_t zero = data.find('\0', start);
    const std::size_t textEnd = zero == std::string::npos ? data.size() : zero;
    const std::size_t length = textEnd - start;
    if (length >= width)
        return data.substr(start, width);
    if (zero == std::string::npos && length == available)
        throw NetMessageRangeError("NetMessage text at " + std::to_string(start) + " runs past the message");
    return data.substr(start, length);
}

void NetMessage::putText(std::size_t start, std::size_t end, std::string_view text)
{
    if (end <= start)
        return;
    const std::size_t width = end - start;
    const std::size_t copied = std::min(text.size(), width);
    const std::size_t written = copied < width ? copied + 1 : copied;
    if (start > data.size() || written > data.size() - start)
        throw NetMessageRangeError("NetMessage text field " + std::to_string(start) + "-" + std::to_string(end)
                                   + " outside " + std::to_string(data.size()) + " bytes");
    std::copy_n(text.begin(), copied, data.begin() + static_cast<std::ptrdiff_t>(start));
    if (copied < width)
        data[start + copied] = '\0';
}

NetMessage NetMessage::substr(std::size_t pos, std::size_t count) const
{
    if (pos > data.size())
        throw NetMessageRangeError("NetMessage substr at " + std::to_string(pos) + " outside message");
    return NetMessage(data.substr(pos, count));
}
