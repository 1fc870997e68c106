#include "method/Method.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ChangeMap changesOf(const std::vector<std::string>& tokens)
{
    ChangeMap changes;
    for (const auto& token : tokens)
        changes[static_cast<int>(changes.size())] = token;
    return changes;
}

std::vector<int> kindsOf(const CompiledMethod& method)
{
    std::vector<int> kinds;
    for (const auto& [number, step] : method.compositionSteps)
        kinds.push_back(step.callKind);
    return kinds;
}

MethodSettings settingsFor(std::string place, std::string bob = "", std::string single = "")
{
    MethodSettings settings;
    settings.placeNotation = std::move(place);
    settings.bobNotation = std::move(bob);
    settings.singleNotation = std::move(single);
    return settings;
}

class CompileMethod : public testing::Test {
protected:
    void compile(const MethodSettings& settings) { compileMethod(method, settings, messages); }
    const ParsedNotation& bob() const { return method.callBlocks[kBob]; }
    const ParsedNotation& single() const { return method.callBlocks[kSingle]; }

    CompiledMethod method;
    MessageList messages;
};

TEST_F(CompileMethod, PalindromicLeadWithOneChangeCalls)
{
    compile(settingsFor("x16x16x16,12", "14", "1234"));
    EXPECT_EQ(method.plainLead,
              changesOf({"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"}));
    EXPECT_EQ(method.blockEnds, (std::map<int, int>{{0, 12}}));
    EXPECT_EQ(bob(), (ParsedNotation{{0, NotationBlock{changesOf({"14"}), -1}}}));
    EXPECT_EQ(single(), (ParsedNotation{{0, NotationBlock{changesOf({"1234"}), -1}}}));
    EXPECT_TRUE(method.callBlocks[kPlainCall].empty());
    EXPECT_TRUE(method.callBlocks[kExtreme].empty());
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(CompileMethod, BlocksRunOnInOneLead)
{
    compile(settingsFor("x14x|x16x"));
    EXPECT_EQ(method.plainLead, changesOf({"x", "14", "x", "x", "16", "x"}));
    EXPECT_EQ(method.blockEnds, (std::map<int, int>{{0, 3}, {1, 6}}));
}

TEST_F(CompileMethod, TrailingBarAddsAnEmptyBlock)
{
    compile(settingsFor("x14x|", "14|16"));
    EXPECT_EQ(method.blockEnds, (std::map<int, int>{{0, 3}, {1, 3}}));
    EXPECT_EQ(bob().size(), 2u);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(CompileMethod, EmptyNotationsGiveOneEmptyBlock)
{
    compile(settingsFor(""));
    EXPECT_TRUE(method.plainLead.empty());
    EXPECT_EQ(method.blockEnds, (std::map<int, int>{{0, 0}}));
    EXPECT_EQ(bob(), (ParsedNotation{{0, NotationBlock{}}}));
    EXPECT_EQ(single(), (ParsedNotation{{0, NotationBlock{}}}));
    EXPECT_TRUE(messages.texts.empty());
}

struct CallBlocksCase {
    std::string bobNotation;
    std::size_t blocksKept;
    bool reported;
};

void PrintTo(const CallBlocksCase& c, std::ostream* out)
{
    *out << testing::PrintToString(c.bobNotation);
}

class CallBlockCount : public CompileMethod, public testing::WithParamInterface<CallBlocksCase> {};

TEST_P(CallBlockCount, MustBeOneOrOnePerPlainBlock)
{
    compile(settingsFor("x14x|x16x", GetParam().bobNotation));
    EXPECT_EQ(bob().size(), GetParam().blocksKept);
    EXPECT_EQ(messages.texts.size(), GetParam().reported ? 1u : 0u);
    if (GetParam().reported) {
        EXPECT_EQ(messages.texts.front(), kCallBlockMismatchText);
    }
}

INSTANTIATE_TEST_SUITE_P(TwoBlockMethod, CallBlockCount, testing::Values(
    CallBlocksCase{"14", 1, false},
    CallBlocksCase{"14|16", 2, false},
    CallBlocksCase{"14|16|12", 0, true},
    CallBlocksCase{"14||", 0, true}));

TEST_F(CompileMethod, BothCallsCanFailInOneCompile)
{
    compile(settingsFor("x14x", "14|16", "12|1234"));
    EXPECT_TRUE(bob().empty());
    EXPECT_TRUE(single().empty());
    EXPECT_EQ(messages.texts, (std::vector<std::string>{kCallBlockMismatchText, kCallBlockMismatchText}));
    EXPECT_EQ(method.plainLead.size(), 3u);
}

TEST_F(CompileMethod, RecompileKeepsNothingOfThePreviousMethod)
{
    compile(settingsFor("x14x|x16x|x12x", "14|16|12", "1234"));
    compile(settingsFor("x16", "14|16|12"));
    EXPECT_EQ(method.plainLead, changesOf({"x", "16"}));
    EXPECT_EQ(method.blockEnds, (std::map<int, int>{{0, 2}}));
    EXPECT_TRUE(bob().empty());
    EXPECT_EQ(single(), (ParsedNotation{{0, NotationBlock{}}}));
}

TEST_F(CompileMethod, OnlyBobAndSingleSlotsAreBuilt)
{
    buildPlainLead(method, "x16", messages);
    for (int kind : std::vector<int>{kPlainCall, kExtreme, -1, 4, 1000})
        buildCall(method, kind, "14", messages);
    for (const auto& slot : method.callBlocks)
        EXPECT_TRUE(slot.empty());
}

TEST_F(CompileMethod, MismatchIsReportedAndLeavesTheSlotEmpty)
{
    buildPlainLead(method, "x14x", messages);
    buildCall(method, kBob, "14|16", messages);
    EXPECT_EQ(messages.texts, std::vector<std::string>{kCallBlockMismatchText});
    EXPECT_TRUE(bob().empty());
}

// --- Compositions --------------------------------------------------------------

struct CompositionCase {
    std::string composition;
    std::vector<int> kinds;
};

void PrintTo(const CompositionCase& c, std::ostream* out)
{
    *out << testing::PrintToString(c.composition);
}

class ParseComposition : public testing::TestWithParam<CompositionCase> {};

TEST_P(ParseComposition, LowerCaseLettersAreSteps)
{
    CompiledMethod method;
    method.compositionSteps[0] = CompositionStep{kSingle};  // left from an earlier setup
    method.compositionSteps[7] = CompositionStep{kBob};
    parseComposition(method, GetParam().composition);
    EXPECT_EQ(kindsOf(method), GetParam().kinds);
    if (!method.compositionSteps.empty()) {
        EXPECT_EQ(method.compositionSteps.rbegin()->first, static_cast<int>(GetParam().kinds.size()) - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, ParseComposition, testing::Values(
    CompositionCase{"bpp", {kBob, kPlainCall, kPlainCall}},
    CompositionCase{"2b3s", {kBob, kSingle}},
    CompositionCase{"bp-s!", {kBob, kPlainCall, kSingle}},
    CompositionCase{"BPS", {}},
    CompositionCase{"", {}},
    CompositionCase{std::string("b\0s", 3), {kBob, kSingle}}));

}  // namespace
