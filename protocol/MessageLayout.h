#pragma once

// The wire layout of every protocol message, in one place for the program and
// the server. Every word is 16-bit little-endian; a text field is the byte
// range [begin, end), 0-terminated when shorter than its width.
//
//   0-1 length (the whole message)   2-3 type   4-5 tag (1 in what we send)
//   6-  type-specific fields, below

#include <cstddef>

enum class MessageType : unsigned {
    Hello = 1,
    BellAssignment = 2,
    Call = 3,
    Strike = 4,
    Ignored5 = 5,
    Ignored6 = 6,
    TowerEntry = 7,
    JoinTower = 9,
    ServerText = 10,
};

struct TextField {
    std::size_t begin;
    std::size_t end;
};

namespace layout {

constexpr std::size_t kLengthOffset = 0;
constexpr std::size_t kTypeOffset = 2;
constexpr std::size_t kTagOffset = 4;
constexpr std::size_t kHeaderSize = 6;
constexpr int kTag = 1;

// The connection takes a message out only once this many bytes are buffered.
constexpr std::size_t kFrameThreshold = 8;
// The smallest declared length that still holds a type word.
constexpr std::size_t kSmallestFrame = 4;

constexpr int kHelloLength = 6;

namespace bellAssignment {
constexpr std::size_t kBellCount = 6;
constexpr TextField kRingerName{8, 88};
constexpr TextField kBells{88, 168};
}

namespace call {
constexpr int kLength = 86;
constexpr TextField kText{6, 86};
}

namespace strike {
constexpr int kLength = 14;
constexpr std::size_t kBell = 6;
constexpr std::size_t kStroke = 8;
constexpr std::size_t kStamp = 10;
constexpr std::size_t kEchoDelay = 12;
// The stamp is read only from a message at least this long.
constexpr int kLengthWithStamp = 12;
}

namespace towerEntry {
constexpr std::size_t kTowerCount = 6;
constexpr TextField kName{8, 88};
constexpr TextField kDescription{88, 168};
}

namespace joinTower {
constexpr int kLength = 166;
constexpr TextField kTowerName{6, 86};
constexpr TextField kRingerName{86, 166};
}

namespace serverText {
constexpr TextField kText{6, 86};
}

} // namespace layout
