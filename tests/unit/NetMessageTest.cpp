#include "protocol/Messages.h"
#include "protocol/NetMessage.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

TEST(NetMessage, InitWritesLittleEndianHeaderThenZeros)
{
    NetMessage m;
    m.init(14, 4, 1);
    EXPECT_EQ(m.bytes(), bytes({0x0E, 0, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NetMessage, PutWordIsLittleEndian)
{
    NetMessage m;
    m.init(8, 1, 1);
    m.putWord(6, 0x1234);
    EXPECT_EQ(m.bytes()[6], 0x34);
    EXPECT_EQ(m.bytes()[7], 0x12);
    EXPECT_EQ(m.getWord(6), 0x1234);
}

TEST(NetMessage, PutTextTerminatesShortTextAndKeepsRest)
{
    NetMessage m;
    m.init(86, 3, 1);
    m.putText(6, 86, "Single");
    EXPECT_EQ(m.bytes().substr(6, 7), std::string("Single\0", 7));
    EXPECT_EQ(m.bytes().substr(13), std::string(73, '\0'));
    EXPECT_EQ(m.getText(6, 86), "Single");

    m.putText(6, 86, "Bob");
    EXPECT_EQ(m.getText(6, 86), "Bob");
    EXPECT_EQ(m.bytes()[10], 'l') << "bytes after the terminator keep what they held";
}

TEST(NetMessage, FullWidthTextHasNoTerminatorAndLongerTextIsCut)
{
    NetMessage m;
    m.init(100, 3, 1);
    m.putWord(86, 0x7a7a);  // the byte after the field must keep what it holds
    const std::string eighty(80, 'a');
    m.putText(6, 86, eighty);
    EXPECT_EQ(m.bytes()[86], 'z');
    EXPECT_EQ(m.getText(6, 86), eighty);

    m.putText(6, 86, eighty + "bcd");
    EXPECT_EQ(m.getText(6, 86), eighty);
    EXPECT_EQ(m.bytes()[86], 'z') << "nothing written past the field";
}

TEST(NetMessage, GetTextNeedsItsTerminatorInsideTheMessage)
{
    NetMessage m(std::string(20, 'x'));
    EXPECT_THROW(m.getText(6, 86), NetMessageRangeError);
    std::string withZero(20, 'x');
    withZero[12] = '\0';
    EXPECT_EQ(NetMessage(withZero).getText(6, 86), "xxxxxx");
    EXPECT_THROW(NetMessage(withZero).getText(20, 30), NetMessageRangeError);
    EXPECT_EQ(NetMessage().getText(5, 5), "") << "an empty field is not looked at";
}

TEST(NetMessage, GetTextMayEndExactlyAtTheMessageEndWhenTheFieldIsFull)
{
    NetMessage m(std::string(6, '\0') + std::string(80, 'z'));
    EXPECT_EQ(m.getText(6, 86), std::string(80, 'z'));
}

TEST(NetMessage, WordAccessOutsideTheMessageIsARangeError)
{
    EXPECT_THROW(NetMessage(std::string(3, '\0')).getWord(2), NetMessageRangeError);
    EXPECT_EQ(NetMessage(bytes({6, 0, 9, 0})).getWord(2), 9);
    NetMessage m(std::string(4, '\0'));
    EXPECT_THROW(m.putWord(3, 1), NetMessageRangeError);
    EXPECT_THROW(m.putText(2, 10, "abc"), NetMessageRangeError);
}

TEST(NetMessage, InitRejectsLengthsItCannotHold)
{
    NetMessage m;
    EXPECT_THROW(m.init(-1, 1, 1), NetMessageLengthError);
    EXPECT_THROW(m.init(32768, 1, 1), NetMessageLengthError);
    EXPECT_THROW(m.init(5, 1, 1), NetMessageRangeError) << "the tag needs six bytes";
    EXPECT_NO_THROW(m.init(32767, 1, 1));
    EXPECT_EQ(m.size(), 32767u);
}

TEST(NetMessage, BufferOperationsHaveValueSemantics)
{
    NetMessage a(bytes({1, 2, 3}));
    NetMessage b = a;
    b.append(NetMessage(bytes({4})));
    EXPECT_EQ(a.size(), 3u);
    EXPECT_EQ(b.bytes(), bytes({1, 2, 3, 4}));
    EXPECT_EQ(b.substr(1).bytes(), bytes({2, 3, 4}));
    EXPECT_EQ(b.substr(1, 2).bytes(), bytes({2, 3}));
    EXPECT_EQ(b.substr(4).size(), 0u);
    EXPECT_THROW(b.substr(5), NetMessageRangeError);
    b.clear();
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(a.size(), 3u);
}

TEST(Messages, OutgoingLayoutsAreByteExact)
{
    EXPECT_EQ(makeHello().bytes(), bytes({6, 0, 1, 0, 1, 0}));
    EXPECT_EQ(makeStrike(5, false, 3, 40).bytes(), bytes({14, 0, 4, 0, 1, 0, 5, 0, 0, 0, 3, 0, 40, 0}));

    const NetMessage join = makeJoinTower("Ash", "Tolvane");
    EXPECT_EQ(join.size(), 166u);
    EXPECT_EQ(join.getWord(2), 9);
    EXPECT_EQ(join.getText(6, 86), "Ash");
    EXPECT_EQ(join.getText(86, 166), "Tolvane");

    const NetMessage bob = makeCall("Bob");
    EXPECT_EQ(bob.size(), 86u);
    EXPECT_EQ(bob.getText(6, 86), "Bob");
    EXPECT_EQ(makeCall("").bytes().substr(6), std::string(80, '\0'));
}

// ---------------------------------------------------------------------------
// Reading a strike report

struct StrikeReadCase {
    const char* what;
    int bell;
    int length;  // declared and actual
    bool read;
    std::optional<std::uint16_t> stamp;
};

std::ostream& operator<<(std::ostream& out, const StrikeReadCase& c)
{
    return out << c.what;
}

class StrikeRead : public testing::TestWithParam<StrikeReadCase> {};

TEST_P(StrikeRead, FollowsTheLengthAndTheBellRange)
{
    const auto& c = GetParam();
    NetMessage m = makeStrike(c.bell, true, 77, 0).substr(0, static_cast<std::size_t>(c.length));
    m.putWord(0, static_cast<unsigned>(c.length));
    const auto report = readStrike(m);
    ASSERT_EQ(report.has_value(), c.read);
    if (!report)
        return;
    EXPECT_EQ(report->bell, c.bell);
    EXPECT_TRUE(report->handstroke);
    EXPECT_EQ(report->stamp, c.stamp);
}

INSTANTIATE_TEST_SUITE_P(Rules, StrikeRead, testing::Values(
    StrikeReadCase{"whole", 5, 14, true, 77},
    StrikeReadCase{"twelve bytes carry the stamp", 5, 12, true, 77},
    StrikeReadCase{"ten bytes carry none", 5, 10, true, std::nullopt},
    StrikeReadCase{"bell 0 starts the ringing", 0, 14, true, 77},
    StrikeReadCase{"bell 12", 12, 14, true, 77},
    StrikeReadCase{"bell 13 no tower has", 13, 14, false, std::nullopt},
    StrikeReadCase{"a negative bell", -1, 14, false, std::nullopt}));

TEST(StrikeRead, ATooShortReportIsARangeError)
{
    NetMessage m = makeStrike(1, true, 0, 0).substr(0, 9);
    m.putWord(0, 9);
    EXPECT_THROW(readStrike(m), NetMessageRangeError);
}

} // namespace
