#include "method/PlaceNotation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ExpectedBlock {
    std::vector<std::string> changes;
    int shift = 0;
};

NotationBlock toBlock(const ExpectedBlock& expected)
{
    NotationBlock block;
    for (const auto& token : expected.changes)
        block.changes[static_cast<int>(block.changes.size())] = token;
    block.shift = expected.shift;
    return block;
}

ParsedNotation toParsed(const std::vector<ExpectedBlock>& blocks)
{
    ParsedNotation parsed;
    for (const auto& block : blocks)
        parsed[static_cast<int>(parsed.size())] = toBlock(block);
    return parsed;
}

std::size_t totalChanges(const ParsedNotation& parsed)
{
    std::size_t total = 0;
    for (const auto& [number, block] : parsed)
        total += block.changes.size();
    return total;
}

std::string repeated(std::string_view piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

// --- Normalising ---------------------------------------------------------------

struct NormaliseCase {
    std::string notation;
    std::string normalised;
};

void PrintTo(const NormaliseCase& c, std::ostream* out)
{
    *out << testing::PrintToString(c.notation);
}

class NormaliseNotation : public testing::TestWithParam<NormaliseCase> {};

TEST_P(NormaliseNotation, EveryTokenEndsWithOneDot)
{
    EXPECT_EQ(normaliseNotation(GetParam().notation), GetParam().normalised);
}

INSTANTIATE_TEST_SUITE_P(Examples, NormaliseNotation, testing::Values(
    NormaliseCase{"x16x16x16,12", "x.16.x.16.x.16./.12."},
    NormaliseCase{"-16-16-16-12", "x.16.x.16.x.16.x.12."},
    NormaliseCase{"x14x|x16x", "x.14.x.|.x.16.x."},
    NormaliseCase{"+1.3.1", "+1.3.1."},
    NormaliseCase{"", ""},
    NormaliseCase{"....", ""},
    NormaliseCase{"12~3+4", "12.~3.+4."}));

// --- Parsing into blocks -------------------------------------------------------

struct ParseCase {
    std::string notation;
    std::vector<ExpectedBlock> blocks;
};

void PrintTo(const ParseCase& c, std::ostream* out)
{
    *out << testing::PrintToString(c.notation);
}

class ParsePlaceNotation : public testing::TestWithParam<ParseCase> {};

TEST_P(ParsePlaceNotation, BuildsBlocksWithoutMessages)
{
    MessageList messages;
    EXPECT_EQ(parsePlaceNotation(GetParam().notation, messages), toParsed(GetParam().blocks));
    EXPECT_TRUE(messages.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, ParsePlaceNotation, testing::Values(
    ParseCase{"x16x16x16,12",
              {{{"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"}, -12}}},
    ParseCase{"-16-16-16-12", {{{"x", "16", "x", "16", "x", "16", "x", "12"}, -8}}},
    ParseCase{"x14x|x16x", {{{"x", "14", "x"}, -3}, {{"x", "16", "x"}, -3}}},
    ParseCase{"+1.3.1", {{{"3", "1"}, -1}}}));

INSTANTIATE_TEST_SUITE_P(EdgeCases, ParsePlaceNotation, testing::Values(
    ParseCase{"", {{{}, 0}}},
    ParseCase{"...", {{{}, 0}}},
    ParseCase{"12,", {{{"12"}, -1}}},
    ParseCase{"~1.14", {{{"14"}, -2}}},
    ParseCase{"+x", {{{"x"}, -1}}},
    ParseCase{"x.x", {{{"x", "x"}, -2}}},
    ParseCase{"x..x", {{{"x", "x"}, -2}}},
    ParseCase{"xx", {{{"x", "x"}, -2}}},
    ParseCase{"x,12", {{{"x", "12"}, -2}}},
    ParseCase{"x14x|", {{{"x", "14", "x"}, -3}, {{}, 0}}},
    ParseCase{"|", {{{}, 0}, {{}, 0}}},
    ParseCase{"X14X", {{{"X14X"}, -1}}},
    ParseCase{"&x16x16x16,12",
              {{{"&", "x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "&", "12"}, -14}}},
    ParseCase{" 12", {{{" 12"}, -1}}},
    ParseCase{"12\n", {{{"12\n"}, -1}}},
    ParseCase{"12. .34", {{{"12", " ", "34"}, -3}}},
    ParseCase{"14|16,", {{{"14"}, -1}, {{"16"}, -1}}}));

INSTANTIATE_TEST_SUITE_P(ShiftNumbers, ParsePlaceNotation, testing::Values(
    ParseCase{"+2.14", {{{"14"}, 1}}},
    ParseCase{"+ 5.x", {{{"x"}, 4}}},
    ParseCase{"+\t5.x", {{{"x"}, 4}}},
    // A minus is a cross and a plus starts a token of its own, so neither can
    // be a sign here.
    ParseCase{"+-3.x", {{{"x", "3", "x"}, -3}}},
    ParseCase{"~+2.x", {{{"x"}, 1}}},
    ParseCase{"+3a.x", {{{"x"}, 2}}},
    ParseCase{"x+1,", {{{"x"}, 1}}}));

// A palindrome point with nothing before it in its block mirrors nothing.
INSTANTIATE_TEST_SUITE_P(LeadingPalindrome, ParsePlaceNotation, testing::Values(
    ParseCase{",x", {{{"x"}, -1}}},
    ParseCase{",,,", {{{}, 0}}},
    ParseCase{"+2,14", {{{"14"}, 1}}},
    ParseCase{"x|,14x,", {{{"x"}, -1}, {{"14", "x", "14"}, -3}}}));

// --- Untrusted input -----------------------------------------------------------

TEST(PlaceNotationLimits, ExactlyTheChangeLimitIsAccepted)
{
    MessageList messages;
    const auto parsed = parsePlaceNotation(repeated("x", kMaxNotationChanges), messages);
    EXPECT_EQ(totalChanges(parsed), static_cast<std::size_t>(kMaxNotationChanges));
    EXPECT_TRUE(messages.texts.empty());
}

TEST(PlaceNotationLimits, OneChangeTooManyIsReportedOnceAndDropped)
{
    MessageList messages;
    const auto parsed = parsePlaceNotation(repeated("x", kMaxNotationChanges + 5), messages);
    EXPECT_EQ(totalChanges(parsed), static_cast<std::size_t>(kMaxNotationChanges));
    EXPECT_EQ(messages.texts, std::vector<std::string>{kFormattingErrorText});
}

TEST(PlaceNotationLimits, RepeatedPalindromesStopBeforeDoubling)
{
    MessageList messages;
    const auto parsed = parsePlaceNotation("12" + repeated(",x", 40) + "|14", messages);
    ASSERT_EQ(parsed.size(), 1u);  // parsing stopped before the later block
    const NotationBlock& block = parsed.at(0);
    EXPECT_LE(block.changes.size(), static_cast<std::size_t>(kMaxNotationChanges));
    EXPECT_GT(block.changes.size(), static_cast<std::size_t>(kMaxNotationChanges / 2));
    // Change numbers stay contiguous from 0 after the stop.
    EXPECT_EQ(block.changes.rbegin()->first, static_cast<int>(block.changes.size()) - 1);
    EXPECT_EQ(messages.texts, std::vector<std::string>{kFormattingErrorText});
}

TEST(PlaceNotationLimits, LimitCountsChangesOfEveryBlock)
{
    MessageList messages;
    const std::string notation = repeated("x", 6000) + "|" + repeated("x", 6000);
    const auto parsed = parsePlaceNotation(notation, messages);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed.at(0).changes.size(), 6000u);
    EXPECT_EQ(parsed.at(1).changes.size(), static_cast<std::size_t>(kMaxNotationChanges - 6000));
    EXPECT_EQ(messages.texts.size(), 1u);
}

TEST(PlaceNotationLimits, LongTokensCannotBeMirroredWithoutBound)
{
    MessageList messages;
    const std::string longToken(100'000, 'a');
    const auto parsed = parsePlaceNotation(longToken + ".x" + repeated(",x", 20), messages);
    std::size_t bytes = 0;
    for (const auto& [number, token] : parsed.at(0).changes)
        bytes += token.size();
    EXPECT_LT(bytes, 64u * 1024u * 1024u);
    EXPECT_EQ(messages.texts, std::vector<std::string>{kFormattingErrorText});
}

TEST(PlaceNotationLimits, HugeShiftNumbersSaturateWithoutWrapping)
{
    MessageList messages;
    const std::string digits(40, '9');
    const auto up = parsePlaceNotation(repeated("+" + digits, 50) + "x" + repeated(",x", 10), messages);
    const auto down = parsePlaceNotation(repeated("~" + digits, 50) + "x" + repeated(",x", 10), messages);
    EXPECT_GT(up.at(0).shift, 1000);
    EXPECT_LT(down.at(0).shift, -1000);
    EXPECT_TRUE(messages.texts.empty());
}

// --- Applying a change ---------------------------------------------------------

struct ChangeCase {
    std::string row;
    std::string token;
    int stage;
    std::string next;
};

void PrintTo(const ChangeCase& c, std::ostream* out)
{
    *out << testing::PrintToString(c.row) << " " << testing::PrintToString(c.token) << " stage " << c.stage;
}

class ApplyChange : public testing::TestWithParam<ChangeCase> {};

TEST_P(ApplyChange, GivesNextRow)
{
    const auto& c = GetParam();
    EXPECT_EQ(applyChange(c.row, c.token, c.stage), c.next);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, ApplyChange, testing::Values(
    ChangeCase{"123456", "x", 6, "214365"},
    ChangeCase{"123456", "16", 6, "132546"},
    ChangeCase{"123456", "12", 6, "124365"},
    ChangeCase{"123456", "14", 6, "132465"},
    ChangeCase{"12345", "x", 5, "21435"},
    ChangeCase{"12345", "1", 5, "13254"},
    ChangeCase{"12345", "3", 5, "21354"},
    ChangeCase{"12345", "125", 5, "12435"},
    ChangeCase{"1234", "2", 4, "2143"},
    ChangeCase{"1234", "23", 4, "2134"},
    ChangeCase{"1234567890ET", "1T", 12, "132547698E0T"}));

INSTANTIATE_TEST_SUITE_P(EdgeCases, ApplyChange, testing::Values(
    ChangeCase{"1", "x", 1, "1"},
    ChangeCase{"123456", "123456", 6, "123456"},
    ChangeCase{"1234567890ET", "1234567890ET", 12, "1234567890ET"},
    ChangeCase{"123456", " 12", 6, "124365"},
    ChangeCase{"123456", "12\n", 6, "124365"},
    ChangeCase{"123456", "\n", 6, "214365"},
    ChangeCase{"123456", "X14X", 6, "132465"},
    ChangeCase{"1234", "18", 4, "1324"}));

// Only the first min(stage, row length, 12) positions take part.
INSTANTIATE_TEST_SUITE_P(OutOfRangeStage, ApplyChange, testing::Values(
    ChangeCase{"1234567890ET", "x", 20, "2143658709TE"},
    ChangeCase{"1234567890ETAB", "x", 14, "2143658709TE"},
    ChangeCase{"123", "x", 6, "213"},
    ChangeCase{"", "x", 6, ""},
    ChangeCase{"123456", "x", 4, "2143"},
    ChangeCase{"123456", "x", 0, ""},
    ChangeCase{"123456", "x", -3, ""}));

}  // namespace
