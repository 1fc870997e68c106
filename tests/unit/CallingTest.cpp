// Callings by position and the proof of touches. The expected strings and
// lengths were worked out from the definitions of the positions, lead by lead,
// apart from this code.

#include "method/Calling.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Notations {
    const char* place;
    const char* bob;
    const char* single;
};

// As data/methods.txt has them.
constexpr Notations kPlainBobMinor{"x16x16x16,12", "14", "1234"};
constexpr Notations kPlainBobMajor{"x18x18x18x18,12", "14", "1234"};
constexpr Notations kGrandsireDoubles{"3.1.5.1.5.1.5.1.5.1", "3.1", "3.123"};
constexpr Notations kGrandsireTriples{"3.1.7.1.7.1.7.1.7.1.7.1.7.1", "3.1", "3.123"};
constexpr Notations kCambridgeMajor{"x38x14x1258x36x14x58x16x78,12", "14", "1234"};
constexpr Notations kStedmanTriples{"3.1.7.3.1.3|1.3.7.1.3.1", "~3.5", "~3.567"};

MethodSettings settingsOf(const Notations& method, std::string calling = "", std::string composition = "")
{
    MethodSettings settings;
    settings.placeNotation = method.place;
    settings.bobNotation = method.bob;
    settings.singleNotation = method.single;
    settings.calling = std::move(calling);
    settings.composition = std::move(composition);
    return settings;
}

struct ExpansionCase {
    const char* name;
    Notations method;
    const char* calling;
    int observation;
    const char* composition;
    int changes;
    int parts;
    bool isTrue = true;
};

class Expansion : public testing::TestWithParam<ExpansionCase> {};

// A part runs from the start to the observation bell's return home after the
// last call; a calling that ends at Home ends there.
TEST_P(Expansion, GivesTheLeadsAndTheProof)
{
    const ExpansionCase& c = GetParam();
    MethodSettings settings = settingsOf(c.method, c.calling);
    settings.observationBell = c.observation;
    const TouchPlan plan = planTouch(settings);
    ASSERT_EQ(plan.error, "");
    EXPECT_EQ(plan.composition, c.composition);
    EXPECT_TRUE(plan.proof.comesRound);
    EXPECT_EQ(plan.proof.isTrue, c.isTrue);
    EXPECT_EQ(plan.proof.changes, c.changes);
    EXPECT_EQ(plan.proof.parts, c.parts);
}

INSTANTIATE_TEST_SUITE_P(
    Callings, Expansion,
    testing::Values(
        // Ending at Home.
        ExpansionCase{"PlainBobMinorWH", kPlainBobMinor, "W H", 0, "bpppb", 120, 2},
        ExpansionCase{"PlainBobMajorWsH", kPlainBobMajor, "W sH", 0, "bppppps", 448, 4},
        ExpansionCase{"PlainBobMajorMWH", kPlainBobMajor, "M W H", 0, "pppppbpbpppppb", 448, 2},
        ExpansionCase{"PlainBobMajorCount", kPlainBobMajor, "3H", 0, "ppppppbppppppbppppppb", 336, 1},
        ExpansionCase{"PlainBobMinorMultiplier", kPlainBobMinor, "2x W H", 0, "bpppbbpppb", 120, 2},
        ExpansionCase{"GrandsireTriplesHome", kGrandsireTriples, "H", 0, "pppb", 168, 3},
        ExpansionCase{"GrandsireTriplesMultiplier", kGrandsireTriples, "2x W sH", 7, "ppppbppsppppbpps", 448, 4},
        ExpansionCase{"CambridgeMajorMWH", kCambridgeMajor, "M W H", 0, "ppbbppb", 448, 2},
        ExpansionCase{"CambridgeMajorSingles", kCambridgeMajor, "sW sH", 0, "pppspps", 448, 2},
        // Ending elsewhere: plain leads to the course end, then the next part.
        ExpansionCase{"PlainBobMajorWrong", kPlainBobMajor, "W", 0, "bpppppp", 336, 3},
        ExpansionCase{"PlainBobMajorMiddleWrong", kPlainBobMajor, "M W", 0, "pppppbpbpppppp", 1120, 5, false},
        ExpansionCase{"PlainBobMajorEachPassToTheCourseEnd", kPlainBobMajor, "2x W", 0, "bppppppbpppppp", 336, 3},
        ExpansionCase{"PlainBobMajorBeforeIsThirds", kPlainBobMajor, "B S", 0, "pppbppppbpppppp", 720, 3, false},
        ExpansionCase{"PlainBobMinorSingleIn", kPlainBobMinor, "sI", 0, "ppspp", 120, 2},
        ExpansionCase{"GrandsireTriplesBefore", kGrandsireTriples, "B", 0, "pbppp", 350, 5},
        ExpansionCase{"CambridgeMajorWrong", kCambridgeMajor, "W", 0, "pppbppp", 672, 3},
        // A single Before makes the fifth a hunt bell, which plain leads
        // never bring home: the part ends at the call.
        ExpansionCase{"GrandsireDoublesSingleBeforeIsSeconds", kGrandsireDoubles, "sB", 0, "s", 40, 4}),
    [](const testing::TestParamInfo<ExpansionCase>& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    Notations method;
    const char* calling;
    int observation;
    const char* message;
};

class Refusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, SaysWhyAndLeavesTheCompositionAlone)
{
    const RefusalCase& c = GetParam();
    MethodSettings settings = settingsOf(c.method, c.calling, "bpp");
    settings.observationBell = c.observation;
    const TouchPlan plan = planTouch(settings);
    EXPECT_EQ(plan.error, c.message);
    EXPECT_EQ(plan.composition, "bpp");
}

INSTANTIATE_TEST_SUITE_P(
    Callings, Refusal,
    testing::Values(
        RefusalCase{"NeverReached", kGrandsireDoubles, "H M", 0,
                    "Position M (call 2) is never reached: bell 5 does not come to 4ths at a bob"},
        RefusalCase{"TrebleNeverLeavesTheLead", kPlainBobMinor, "H", 1,
                    "Position H (call 1) is never reached: bell 1 does not come to 6ths at a bob"},
        RefusalCase{"PlaceBeyondTheStage", kPlainBobMajor, "W N", 0, "Position N is 9ths, which 8 bells do not have"},
        RefusalCase{"BellBeyondTheStage", kPlainBobMinor, "H", 7, "Bell 7 is not one of the method's 6 bells"},
        RefusalCase{"CallsInsideTheLead", kStedmanTriples, "H", 0,
                    "Callings work only for methods whose calls come at the lead end; this method has calls at "
                    "more than one place in the lead"},
        RefusalCase{"NoSingle", {"x16x16x16,12", "14", ""}, "W sH", 0,
                    "The calling has singles, but the method has no single"},
        RefusalCase{"SingleOut", kPlainBobMajor, "sO", 0, "O is a bob's position; a single in 3rds is T"},
        RefusalCase{"Unknown", kPlainBobMajor, "W Q", 0,
                    "Unknown calling position 'Q': a position is one of H W M I B O T F V X S E N, after an "
                    "optional count and s for a single, e.g. H, sW, 3H"},
        RefusalCase{"RunTogether", kPlainBobMajor, "WH", 0,
                    "Unknown calling position 'WH': a position is one of H W M I B O T F V X S E N, after an "
                    "optional count and s for a single, e.g. H, sW, 3H"},
        RefusalCase{"LowerCasePosition", kPlainBobMajor, "w", 0,
                    "Unknown calling position 'w': a position is one of H W M I B O T F V X S E N, after an "
                    "optional count and s for a single, e.g. H, sW, 3H"},
        RefusalCase{"ControlCharactersShownSafely", kPlainBobMajor, "W\x1b[2J", 0,
                    "Unknown calling position 'W?[2J': a position is one of H W M I B O T F V X S E N, after an "
                    "optional count and s for a single, e.g. H, sW, 3H"},
        RefusalCase{"MultiplierInside", kPlainBobMajor, "W 2x H", 0,
                    "A multiplier such as 2x goes only at the front of a calling"},
        RefusalCase{"CountOutOfRange", kPlainBobMajor, "100H", 0, "The count in '100H' must be from 1 to 99"},
        RefusalCase{"CountZero", kPlainBobMajor, "0H", 0, "The count in '0H' must be from 1 to 99"},
        RefusalCase{"TooManyCalls", kPlainBobMajor, "99x 99H", 0, "The calling has more than 1000 calls"},
        RefusalCase{"LongerThanAProofGoes", kPlainBobMajor, "40x 3H", 0, "The calling is longer than 10000 changes"},
        // 90 parts of 112 changes: 10,080, just past what a proof follows.
        RefusalCase{"RepeatedPastAProof", kPlainBobMajor, "90x W", 0, "The calling is longer than 10000 changes"},
        RefusalCase{"OnlyAMultiplier", kPlainBobMajor, "3x", 0, "The calling has no positions"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(Calling, ThirdsIsASingleAndCountsRepeat)
{
    const ParsedCalling parsed = parseCalling(" 2x  T 2sH\t");
    const CallingEntry thirds{kSingle, 'T'};
    const CallingEntry home{kSingle, 'H'};
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.entries, (std::vector<CallingEntry>{thirds, home, home}));
    EXPECT_EQ(parsed.passes, 2);
}

TEST(Calling, BellsByNumberOrSymbol)
{
    EXPECT_EQ(parseBell("8"), 8);
    EXPECT_EQ(parseBell("0"), 10);
    EXPECT_EQ(parseBell("10"), 10);
    EXPECT_EQ(parseBell("E"), 11);
    EXPECT_EQ(parseBell("12"), 12);
    EXPECT_EQ(parseBell("13"), 0);
    EXPECT_EQ(parseBell(""), 0);
    EXPECT_EQ(parseBell("x"), 0);
}

TEST(Calling, StageComesFromTheNotation)
{
    for (const auto& [notations, stage] : {std::pair{kPlainBobMinor, 6}, std::pair{kGrandsireTriples, 7},
                                           std::pair{kCambridgeMajor, 8}, std::pair{Notations{"x", "", ""}, 0},
                                           std::pair{Notations{"x3x", "", ""}, 4}}) {
        CompiledMethod method;
        MessageList messages;
        compileMethod(method, settingsOf(notations), messages);
        EXPECT_EQ(methodStage(method), stage) << notations.place;
    }
}

// ---------------------------------------------------------------------------
// Proof of compositions typed letter by letter

TEST(Proof, CompositionWithoutCallingIsKeptAsTyped)
{
    // Upper-case B and S are no call letters of a composition: "bp-S!" is b, p.
    const TouchPlan plan = planTouch(settingsOf(kPlainBobMinor, "", "bp-S!"));
    EXPECT_EQ(plan.error, "");
    EXPECT_EQ(plan.composition, "bp-S!");
    EXPECT_TRUE(plan.proof.comesRound);
    EXPECT_EQ(plan.proof.changes, 120);  // b p b p ... as "bp" would ring
}

TEST(Proof, FalseTouchGivesItsFirstRepeatedRow)
{
    const TouchPlan plan = planTouch(settingsOf(kPlainBobMinor, "", "bs"));
    EXPECT_TRUE(plan.proof.comesRound);
    EXPECT_FALSE(plan.proof.isTrue);
    EXPECT_EQ(plan.proof.changes, 108);
    EXPECT_EQ(plan.proof.firstRepeatedRow, "123564");
    EXPECT_EQ(describeProof(plan.proof), "108 changes, false: 123564 is the first row rung twice");
}

TEST(Proof, TouchThatNeverComesRound)
{
    MethodSettings settings = settingsOf(kPlainBobMinor);
    settings.startChange = "132456";  // outside the plain course's rows: only its own course follows
    const TouchPlan plan = planTouch(settings);
    EXPECT_FALSE(plan.proof.comesRound);
    EXPECT_EQ(plan.proof.changes, kMaxTouchChanges);
    EXPECT_EQ(plan.proof.firstRepeatedRow, "132456");
    EXPECT_EQ(describePlan(settings, plan),
              "Does not come round within 10000 changes; 132456 is the first row rung twice");
}

TEST(Proof, DescribesTheCallingAndWhereItStarts)
{
    MethodSettings settings = settingsOf(kPlainBobMajor, "W sH");
    EXPECT_EQ(describePlan(settings, planTouch(settings)), "Calling W sH rings bppppps; 448 changes in 4 parts, true");
    // A short form: expanded and proved from the row it gives, 15738264.
    settings.startChange = "15";
    EXPECT_EQ(describePlan(settings, planTouch(settings)), "Calling W sH rings pppppbpppppspp; 80 changes, true");
    settings.startChange = "123";  // gives rounds, and that is said
    EXPECT_EQ(describePlan(settings, planTouch(settings)),
              "Calling W sH rings bppppps; 448 changes in 4 parts, true (from rounds)");
}

TEST(Proof, CallsInsideTheLeadAreNotProved)
{
    const TouchPlan plan = planTouch(settingsOf(kStedmanTriples, "", "b"));
    EXPECT_FALSE(plan.proof.proved);
    EXPECT_EQ(describeProof(plan.proof), "Not proved: the method has calls at more than one place in the lead");
}

}  // namespace
