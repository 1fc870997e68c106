#include "server/Framing.h"

#include "protocol/Messages.h"

#include <gtest/gtest.h>

namespace {

using framing::Status;

std::string header(unsigned length, unsigned type)
{
    NetMessage message;
    message.init(6, 1, 1);
    message.putWord(0, length);
    message.putWord(2, type);
    return message.bytes();
}

// A message of `length` bytes and `type` whose body is all `fill`.
std::string raw(unsigned length, unsigned type, char fill = '\0')
{
    std::string bytes = header(length, type);
    bytes.resize(length, fill);
    return bytes;
}

TEST(FramingTest, TakesWholeMessagesOffTheFrontOneAtATime)
{
    const NetMessage strike = makeStrike(3, true, 7, 0);
    const NetMessage hello = makeHello();
    std::string buffer = strike.bytes() + hello.bytes() + hello.bytes().substr(0, 3);

    framing::Frame first = framing::takeFrame(buffer);
    ASSERT_EQ(first.status, Status::Message);
    EXPECT_EQ(first.message, strike);
    framing::Frame second = framing::takeFrame(buffer);
    ASSERT_EQ(second.status, Status::Message);
    EXPECT_EQ(second.message, hello);
    EXPECT_EQ(framing::takeFrame(buffer).status, Status::NeedMore);
    EXPECT_EQ(buffer.size(), 3u) << "a partial message waits for the rest";
}

TEST(FramingTest, WaitsForEveryByteOfAMessage)
{
    const std::string join = makeJoinTower("Tower", "Ringer").bytes();
    std::string buffer;
    for (std::size_t i = 0; i + 1 < join.size(); ++i) {
        buffer += join[i];
        ASSERT_EQ(framing::takeFrame(buffer).status, Status::NeedMore) << "after " << i + 1 << " bytes";
    }
    buffer += join.back();
    EXPECT_EQ(framing::takeFrame(buffer).status, Status::Message);
    EXPECT_TRUE(buffer.empty());
}

TEST(FramingTest, AcceptsEveryMessageAClientSends)
{
    const NetMessage messages[] = {
        makeHello(), makeJoinTower("T", "R"), makeStrike(12, false, 65535, 40), makeCall("Bob"), makeCall(""),
        NetMessage(raw(10, 4)),                 // a strike without a stamp
        NetMessage(raw(7, 3)),                  // an empty call text ended inside the message
        NetMessage(raw(6, 5)), NetMessage(raw(6, 6)), NetMessage(raw(6, 7)), NetMessage(raw(6, 10)),
    };
    for (const NetMessage& message : messages) {
        std::string buffer = message.bytes();
        EXPECT_EQ(framing::takeFrame(buffer).status, Status::Message) << "type " << messageType(message);
    }
}

// ---------------------------------------------------------------------------
// Every way a client's bytes can be nonsense

TEST(FramingErrorTest, RefusesWhatCannotBeRead)
{
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"length 0", raw(6, 1).replace(0, 2, std::string(2, '\0'))},
        {"length 5, below the header", header(5, 1)},
        {"length 2", header(2, 4)},
        {"length above the limit", header(framing::kMaxMessageLength + 1, 4)},
        {"length 65535", header(65535, 4)},
        {"type 0", raw(6, 0)},
        {"type 8", raw(6, 8)},
        {"type 11", raw(6, 11)},
        {"type 65535", raw(14, 65535)},
        {"strike of 8 bytes", raw(8, 4)},
        {"strike of 9 bytes", raw(9, 4)},
        {"call with no text field", raw(6, 3)},
        {"call text running off the end", raw(40, 3, 'x')},
        {"join with no ringer name", raw(86, 9, 'x').replace(10, 1, 1, '\0')},
        {"join with an unterminated ringer name", raw(120, 9, 'x').replace(10, 1, 1, '\0')},
        {"join of the header only", raw(6, 9)},
    };
    for (const Case& c : cases) {
        std::string buffer = c.bytes + makeHello().bytes();
        const std::string before = buffer;
        const framing::Frame frame = framing::takeFrame(buffer);
        EXPECT_EQ(frame.status, Status::Bad) << c.what;
        EXPECT_FALSE(frame.reason.empty()) << c.what;
        EXPECT_EQ(buffer, before) << c.what << ": the buffer is left as it was";
    }
}

TEST(FramingErrorTest, ABadLengthIsSeenBeforeTheBodyArrives)
{
    std::string buffer = header(3, 4);
    EXPECT_EQ(framing::takeFrame(buffer).status, Status::Bad);
    buffer = header(5000, 4);
    EXPECT_EQ(framing::takeFrame(buffer).status, Status::Bad) << "no waiting for 5000 bytes";
}

}  // namespace
