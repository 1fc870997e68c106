#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// An offset or position outside the message.
class NetMessageRangeError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// A length that a message cannot hold (negative as a signed 16-bit number).
class NetMessageLengthError : public std::length_error {
public:
    using std::length_error::length_error;
};

// One protocol message as a byte string: 16-bit little-endian words at byte
// offsets and fixed-width text fields. Also serves as the connection's
// receive and send buffers, which hold any number of messages back to back.
class NetMessage {
public:
    NetMessage() = default;
    explicit NetMessage(std::string bytes) : data(std::move(bytes)) {}

    // Becomes `length` zero bytes with the header words written. Every message
    // is at least 6 bytes: a shorter length fails when the tag is written.
    void init(int length, int type, int tag);

    // REQUIRES: offset + 1 < size(), else NetMessageRangeError.
    std::uint16_t getWord(std::size_t offset) const;
    void putWord(std::size_t offset, unsigned value);

    // The bytes from `start` up to the first 0 byte, at most end - start of them.
    std::string getText(std::size_t start, std::size_t end) const;
    // Copies at most end - start bytes; a shorter text is followed by one 0 byte.
    void putText(std::size_t start, std::size_t end, std::string_view text);

    std::size_t size() const { return data.size(); }
    bool empty() const { return data.empty(); }
    void append(const NetMessage& other) { data += other.data; }
    void append(std::string_view bytes) { data += bytes; }
    NetMessage substr(std::size_t pos, std::size_t count = std::string::npos) const;
    // Drops the first `count` bytes in place. REQUIRES: count <= size().
    void eraseFront(std::size_t count) { data.erase(0, count); }
    void clear() { data.clear(); }
    const std::string& bytes() const { return data; }

    friend bool operator==(const NetMessage&, const NetMessage&) = default;

private:
    void requireWord(std::size_t offset) const;

    std::string data;
};
