#include "EngineProbe.h"
#include "SimulatedTower.h"

#include "method/Calling.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <cmath>
#include <limits>
#include <map>
#include <queue>
#include <set>

namespace {

const std::vector<std::string> kPlainBobMinorLead = {"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"};

MethodSettings plainBobMinor(int mode = 0, std::string composition = {})
{
    MethodSettings s;
    s.placeNotation = "x16x16x16,12";
    s.bobNotation = "14";
    s.singleNotation = "1234";
    s.goAndStopMode = mode;
    s.composition = std::move(composition);
    return s;
}

std::vector<std::string> withStart(int bells, std::vector<std::string> rows)
{
    rows.insert(rows.begin(), 2, roundsOf(bells));
    return rows;
}

// ---------------------------------------------------------------------------
// Start rows

struct StartRowCase {
    int bells;
    const char* startChange;
    const char* expected;
};

std::ostream& operator<<(std::ostream& out, const StartRowCase& c)
{
    return out << c.bells << " bells, start change \"" << c.startChange << '"';
}

class StartRow : public testing::TestWithParam<StartRowCase> {};

TEST_P(StartRow, ComesFromTheStartChange)
{
    const auto& c = GetParam();
    MethodSettings settings;
    settings.startChange = c.startChange;
    SimulatedTower tower(c.bells, "", settings);
    tower.call("Here's treble");
    EXPECT_EQ(tower.engine().currentRow, c.expected);
    EXPECT_TRUE(tower.host.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, StartRow, testing::Values(
    StartRowCase{6, "", "123456"},
    StartRowCase{8, "14", "14263857"},
    StartRowCase{8, "125", "12537468"},
    StartRowCase{8, "18", "18674523"},
    StartRowCase{8, "127", "12756348"},
    StartRowCase{8, "123", "12345678"},
    StartRowCase{5, "17", "12345"},
    StartRowCase{5, "15", "12345"},
    StartRowCase{5, "13", "13425"},
    StartRowCase{8, "21436587", "21436587"},
    // Too few working bells to course: they stay, or there are none at all.
    StartRowCase{5, "124", "12345"},
    StartRowCase{5, "125", "12345"},
    StartRowCase{4, "124", "1234"},
    StartRowCase{3, "123", "123"},
    StartRowCase{2, "12", "12"},
    // Not a true row of the tower: rounds.
    StartRowCase{4, "1123", "1234"},
    StartRowCase{4, "1235", "1234"},
    StartRowCase{4, "21e4", "1234"},
    StartRowCase{8, "2143658", "12345678"}));

// ---------------------------------------------------------------------------
// Following the band through whole courses

TEST(Ringing, RobotOnTheTenorRingsAPlainCourseAndStopsAtRounds)
{
    SimulatedTower tower(6, "6", plainBobMinor());
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    ASSERT_EQ(rows.size(), 62u);
    tower.ringRows(rows);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_FALSE(tower.host.timerArmed());
    EXPECT_EQ(tower.robotStrikes.size(), 62u);
    EXPECT_EQ(tower.host.printedRows, rows);
    EXPECT_TRUE(tower.host.shown.empty());
}

TEST(Ringing, FirstRobotStrikeIsOneIntervalAfterTheBellBefore)
{
    SimulatedTower tower(6, "6", plainBobMinor());
    for (char bell : std::string("12345"))
        tower.bandStrike(bell, true);
    ASSERT_TRUE(tower.host.armedFor);
    EXPECT_EQ(*tower.host.armedFor, 336);
}

class RobotBells : public testing::TestWithParam<const char*> {};

TEST_P(RobotBells, RingsThePlainCourseWithTheBand)
{
    SimulatedTower tower(6, GetParam(), plainBobMinor());
    if (std::string(GetParam()).find('1') != std::string::npos)
        tower.call("Here's treble");
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows(rows);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_EQ(tower.host.printedRows, rows);
}

INSTANTIATE_TEST_SUITE_P(Bells, RobotBells, testing::Values("6", "56", "1", "25", "123456"));

TEST(Ringing, MethodWrittenInBlocksRingsTheSameCourse)
{
    MethodSettings settings = plainBobMinor();
    settings.placeNotation = "x16x16|x16x16x16x12";
    SimulatedTower tower(6, "34", settings);
    EXPECT_EQ(tower.controller.compiled().blockEnds.size(), 2u);
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows(rows);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_EQ(tower.host.printedRows, rows);
}

TEST(Ringing, FromAStartChangeItStopsWhenRoundsComeUp)
{
    // 142635 is a lead head of the plain course: rounds come after one lead,
    // long before the start row would come back.
    MethodSettings settings = plainBobMinor();
    settings.startChange = "14";
    SimulatedTower tower(6, "6", settings);
    std::vector<std::string> rows{"142635", "142635"};
    std::string row = rows.back();
    for (const auto& token : kPlainBobMinorLead)
        rows.push_back(row = applyChange(row, token, 6));
    ASSERT_EQ(rows.back(), "123456");
    tower.ringRows(rows);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_EQ(tower.host.printedRows, rows);
}

// A calling from a short-form start change is expanded and proved from the
// row the engine starts at: the engine, ringing every bell, comes round after
// exactly the changes the proof gives, and the touch is not the one from rounds.
TEST(Ringing, CallingFromAShortStartChangeComesRoundWhereItsProofSays)
{
    struct Case {
        MethodSettings settings;
        int bells;
        const char* calling;
    };
    MethodSettings major = plainBobMinor();
    major.placeNotation = "x18x18x18x18,12";
    for (Case c : {Case{plainBobMinor(), 6, "W H"}, Case{major, 8, "W sH"}}) {
        c.settings.startChange = "15";
        c.settings.calling = c.calling;
        const TouchPlan plan = planTouch(c.settings);
        ASSERT_EQ(plan.error, "") << c.calling;
        ASSERT_TRUE(plan.proof.comesRound) << c.calling;
        c.settings.composition = plan.composition;
        SimulatedTower tower(c.bells, roundsOf(c.bells), c.settings);
        tower.call("Here's treble");
        EXPECT_EQ(tower.engine().currentRow, plan.startRow) << c.calling;
        EXPECT_NE(plan.startRow, roundsOf(c.bells));
        for (int blow = 0; blow < 2 * c.bells * (kMaxTouchChanges + 2) && tower.host.timerArmed(); ++blow)
            tower.robotStrike();
        EXPECT_FALSE(tower.engine().ringing) << c.calling;
        // The start row at hand and back, then the touch's changes.
        ASSERT_EQ(tower.host.printedRows.size(), 2u + static_cast<std::size_t>(plan.proof.changes)) << c.calling;
        EXPECT_EQ(tower.host.printedRows.back(), roundsOf(c.bells)) << c.calling;
    }
}

TEST(Ringing, WithoutAMethodRoundsGoOnUntilStand)
{
    SimulatedTower tower(5, "5");
    tower.ringRows(std::vector<std::string>(6, "12345"));
    tower.call("Stand");
    EXPECT_TRUE(tower.engine().ringing);
    tower.ringRows({"12345", "12345"});
    EXPECT_FALSE(tower.engine().ringing);
}

TEST(Ringing, StopButtonStopsAtTheEndOfTheNextBackstroke)
{
    SimulatedTower tower(6, "6", plainBobMinor());
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows({rows.begin(), rows.begin() + 5});
    tower.controller.stopPressed();
    tower.ringRow(rows[5], false);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_FALSE(tower.host.timerArmed());
}

// ---------------------------------------------------------------------------
// Go-and-stop mode 1

TEST(GoAndStop, ModeOneWaitsForGoAndRoundsAfterThatsAllUntilStand)
{
    SimulatedTower tower(6, "6", plainBobMinor(1));
    const std::string rounds = roundsOf(6);
    tower.ringRows({rounds, rounds, rounds, rounds});
    EXPECT_TRUE(tower.engine().inRounds);
    tower.call("Go");
    tower.ringRows({rounds});  // handstroke
    tower.ringRows({rounds});  // backstroke: the method starts after it
    EXPECT_FALSE(tower.engine().inRounds);
    const auto course = plainCourse(kPlainBobMinorLead, 6);
    tower.ringRows({course.begin(), course.end() - 1});
    tower.call("That's All");
    tower.ringRows({course.back()});
    EXPECT_TRUE(tower.engine().inRounds);
    EXPECT_TRUE(tower.engine().ringing);
    tower.ringRows({rounds, rounds});
    ASSERT_EQ(tower.rowsRung % 2, 0) << "the next row is a handstroke";
    tower.call("Stand");
    EXPECT_TRUE(tower.engine().ringing);
    tower.ringRows({rounds, rounds});
    EXPECT_FALSE(tower.engine().ringing);
}

TEST(GoAndStop, ModeOneWithoutThatsAllRingsOnThroughRounds)
{
    SimulatedTower tower(6, "6", plainBobMinor(1));
    tower.call("Here's treble");
    tower.call("Go");
    const auto course = plainCourse(kPlainBobMinorLead, 6);
    tower.ringRows(withStart(6, course));
    tower.ringRows({course[0], course[1]});
    EXPECT_TRUE(tower.engine().ringing);
    EXPECT_FALSE(tower.engine().inRounds);
}

TEST(GoAndStop, GoAndThatsAllMeanNothingInModeZero)
{
    SimulatedTower tower(6, "", plainBobMinor(0));
    tower.call("Here's treble");
    tower.call("Go");
    EXPECT_EQ(tower.engine().goState, 0);
    tower.call("That's All");
    EXPECT_EQ(tower.engine().goState, 0);
}

TEST(Calls, HeresTrebleMidMethodRestartsFromTheStartRow)
{
    SimulatedTower tower(6, "6", plainBobMinor());
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows({rows.begin(), rows.begin() + 9});
    tower.call("Stand");
    tower.call("Here's treble");
    const auto& e = tower.engine();
    EXPECT_EQ(e.currentRow, "123456");
    EXPECT_TRUE(e.inRounds);
    EXPECT_TRUE(e.handstroke);
    EXPECT_FALSE(e.stopRequested);
    EXPECT_EQ(e.changesRung, 0);
    EXPECT_EQ(e.changeInLead, 0);
}

TEST(Calls, BellAssignmentMidRingingStopsAndDropsThePendingStrike)
{
    SimulatedTower tower(6, "6", plainBobMinor());
    for (char bell : std::string("12345"))
        tower.bandStrike(bell, true);
    ASSERT_TRUE(tower.host.timerArmed());
    tower.deliver(makeBellAssignment(6, "Other", "3"));
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_FALSE(tower.host.timerArmed()) << "the pending strike is never made";
}

TEST(Calls, EmptyBellListChangesOnlyTheCount)
{
    SimulatedTower tower(6, "6", plainBobMinor());
    for (char bell : std::string("12345"))
        tower.bandStrike(bell, true);
    tower.deliver(makeBellAssignment(6, "Other", ""));
    EXPECT_TRUE(tower.engine().ringing);
    EXPECT_TRUE(tower.host.timerArmed());
    tower.deliver(makeBellAssignment(8, "Other", ""));
    EXPECT_FALSE(tower.engine().ringing) << "rows of six cannot be rung on eight";
    EXPECT_FALSE(tower.host.timerArmed());
}

// ---------------------------------------------------------------------------
// Calls heard from the tower

std::string leadEnd(const SimulatedTower& tower)
{
    return tower.engine().currentLead.rbegin()->second;
}

TEST(Calls, BobHeardUpToTheLeadEndPositionReplacesThisLeadEnd)
{
    SimulatedTower tower(6, "", plainBobMinor());
    tower.call("Here's treble");
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows({rows.begin(), rows.begin() + 2 + 10});
    ASSERT_EQ(tower.engine().changeInLead, 11);
    tower.call("Bob");
    EXPECT_EQ(tower.engine().callStart, 11);
    EXPECT_EQ(leadEnd(tower), "14");
}

TEST(Calls, BobHeardAfterTheLeadEndLandsAtTheEndOfTheNewLead)
{
    SimulatedTower tower(6, "", plainBobMinor());
    tower.call("Here's treble");
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows({rows.begin(), rows.begin() + 2 + 11});
    ASSERT_EQ(tower.engine().changeInLead, 0);
    tower.call("Bob");
    EXPECT_EQ(leadEnd(tower), "14");
    tower.call("Single");
    EXPECT_EQ(leadEnd(tower), "1234") << "a later call overwrites the earlier one";
    tower.call("Extreme");
    EXPECT_EQ(leadEnd(tower), "1234") << "an extreme has no changes";
    EXPECT_EQ(tower.engine().pendingCall, kExtreme);
}

TEST(Calls, InABlockMethodACallHeardAtTheBlockPositionGoesToTheNextBlock)
{
    MethodSettings settings = plainBobMinor();
    settings.placeNotation = "x16x16|x16x16x16x12";
    settings.bobNotation = "14";
    SimulatedTower tower(6, "", settings);
    tower.call("Here's treble");
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows({rows.begin(), rows.begin() + 2 + 2});
    ASSERT_EQ(tower.engine().changeInLead, 3);
    tower.call("Bob");
    EXPECT_EQ(tower.engine().callStart, 11);
    EXPECT_EQ(tower.engine().currentLead.at(3), "16");
    EXPECT_EQ(tower.engine().currentLead.at(11), "14");
}

TEST(Calls, EachBlockOfACallGoesToItsOwnBlockEnd)
{
    MethodSettings settings = plainBobMinor();
    settings.placeNotation = "x16x16|x16x16x16x12";
    settings.bobNotation = "14|16";
    SimulatedTower early(6, "", settings);
    early.call("Here's treble");
    early.call("Bob");
    EXPECT_EQ(early.engine().currentLead.at(3), "14") << "the first block's change";

    SimulatedTower late(6, "", settings);
    late.call("Here's treble");
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    late.ringRows({rows.begin(), rows.begin() + 2 + 2});
    late.call("Bob");
    EXPECT_EQ(late.engine().callStart, 11);
    EXPECT_EQ(late.engine().currentLead.at(3), "16");
    EXPECT_EQ(late.engine().currentLead.at(11), "16") << "the second block's change";
}

TEST(Calls, ACallRunningPastTheLeadEndIsWrittenIntoTheFollowingLead)
{
    MethodSettings settings = plainBobMinor();
    settings.bobNotation = "+1.3.1";
    SimulatedTower tower(6, "", settings);
    tower.call("Here's treble");
    tower.call("Bob");
    const auto& e = tower.engine();
    EXPECT_EQ(e.currentLead.at(11), "3");
    EXPECT_EQ(e.followingLead.at(0), "1");
}

TEST(Calls, ARobotBobIsRungWhereTheBandRingsIt)
{
    SimulatedTower tower(6, "6", plainBobMinor());
    auto rows = withStart(6, {});
    std::string row = roundsOf(6);
    for (std::size_t i = 0; i < kPlainBobMinorLead.size(); ++i) {
        row = applyChange(row, i == 11 ? "14" : kPlainBobMinorLead[i], 6);
        rows.push_back(row);
    }
    tower.ringRows({rows.begin(), rows.begin() + 6});
    tower.call("Bob");
    tower.ringRows({rows.begin() + 6, rows.end()});
    EXPECT_EQ(tower.host.printedRows.at(13), "123564");
}

// ---------------------------------------------------------------------------
// The robot as conductor

TEST(Composition, RobotAnnouncesTheBobTwoRowsBeforeTheRowItChanges)
{
    SimulatedTower tower(6, "", plainBobMinor(0, "b"));
    tower.call("Here's treble");
    std::vector<std::string> rows = withStart(6, {});
    std::string row = roundsOf(6);
    for (int lead = 0; lead < 3; ++lead)
        for (std::size_t i = 0; i < kPlainBobMinorLead.size(); ++i)
            rows.push_back(row = applyChange(row, i == 11 ? "14" : kPlainBobMinorLead[i], 6));
    std::vector<int> announcedAt;
    for (std::size_t r = 0; r < rows.size() && tower.engine().ringing; ++r) {
        tower.ringRows({rows[r]});
        for (const auto& m : tower.host.takeSent()) {
            EXPECT_EQ(m.getText(6, 86), "Bob");
            announcedAt.push_back(tower.engine().changeInLead);
        }
    }
    EXPECT_EQ(announcedAt, (std::vector<int>{10, 10, 10}));
    EXPECT_EQ(tower.host.printedRows.back(), "123456") << "bobbed every lead, the course is three leads";
    EXPECT_FALSE(tower.engine().ringing);
}

TEST(Composition, RobotCallsATrue720AndComesRound)
{
    const std::string calling = "ppppbppppbppppsppppbppppbpppbppppbppspppssppppsppsppppssspbs";
    SimulatedTower tower(6, "246", plainBobMinor(0, calling));
    tower.call("Here's treble");
    std::vector<std::string> rows = withStart(6, {});
    std::string row = roundsOf(6);
    for (char call : calling)
        for (std::size_t i = 0; i < kPlainBobMinorLead.size(); ++i) {
            const std::string token = i < 11 ? kPlainBobMinorLead[i] : call == 'b' ? "14" : call == 's' ? "1234" : "12";
            rows.push_back(row = applyChange(row, token, 6));
        }
    ASSERT_EQ(rows.size(), 722u);
    ASSERT_EQ(std::set<std::string>(rows.begin() + 2, rows.end()).size(), 720u) << "the test's own rows are true";
    int bobs = 0;
    int singles = 0;
    for (const auto& r : rows) {
        tower.ringRows({r});
        for (const auto& m : tower.host.takeSent()) {
            bobs += m.getText(6, 86) == "Bob";
            singles += m.getText(6, 86) == "Single";
        }
    }
    EXPECT_EQ(bobs, 7);
    EXPECT_EQ(singles, 10);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_EQ(tower.engine().changesRung, 721) << "the last row is advanced once as it stops";
}

TEST(Composition, AnExtremeHeardWhileConductingIsAnnouncedWithAnEmptyText)
{
    SimulatedTower tower(6, "", plainBobMinor(0, "p"));
    tower.call("Here's treble");
    tower.call("Extreme");
    EXPECT_EQ(tower.engine().callStart, 12) << "no changes and no shift: the position after the lead end";
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    std::vector<NetMessage> sent;
    for (std::size_t r = 0; r < 13; ++r) {
        tower.ringRows({rows[r]});
        for (auto& m : tower.host.takeSent())
            sent.push_back(m);
    }
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes(), makeCall("").bytes());
}

// ---------------------------------------------------------------------------
// Timing and displays

struct SpeedCase {
    int bells;
    int adjustment;
    int interval;
    const char* peal;
};

std::ostream& operator<<(std::ostream& out, const SpeedCase& c)
{
    return out << c.bells << " bells, adjustment " << c.adjustment;
}

class Speed : public testing::TestWithParam<SpeedCase> {};

TEST_P(Speed, IntervalAndPealSpeed)
{
    const auto& c = GetParam();
    SimulatedTower tower(c.bells, "1");
    for (int i = 0; i < c.adjustment; ++i)
        tower.controller.fasterPressed();
    for (int i = 0; i > c.adjustment; --i)
        tower.controller.slowerPressed();
    EXPECT_EQ(tower.engine().strikeInterval, c.interval);
    EXPECT_EQ(tower.host.pealText, c.peal);
    EXPECT_EQ(tower.host.speedText, std::to_string(c.adjustment));
}

INSTANTIATE_TEST_SUITE_P(Table, Speed, testing::Values(
    SpeedCase{5, 0, 390, "3 hours 0 minutes"},
    SpeedCase{6, 0, 336, "3 hours 3 minutes"},
    SpeedCase{8, 0, 270, "3 hours 12 minutes"},
    SpeedCase{10, 0, 230, "3 hours 22 minutes"},
    SpeedCase{12, 0, 203, "3 hours 33 minutes"},
    SpeedCase{8, 1, 263, "3 hours 7 minutes"},
    SpeedCase{8, -1, 276, "3 hours 17 minutes"},
    SpeedCase{8, 10, 207, "2 hours 27 minutes"},
    SpeedCase{12, -1000, 4370, "76 hours 28 minutes"}));

TEST(Speed, FasterStopsAtTheIntervalFloor)
{
    SimulatedTower tower(8, "1");
    for (int i = 0; i < 100; ++i)
        tower.controller.fasterPressed();
    EXPECT_GE(tower.engine().strikeInterval, RingingEngine::kMinStrikeInterval);
    EXPECT_EQ(tower.engine().speedAdjustment, 40);
    EXPECT_EQ(tower.host.speedText, "40");
    for (int i = 0; i < 5000; ++i)
        tower.controller.slowerPressed();
    EXPECT_EQ(tower.engine().speedAdjustment, -RingingEngine::kMaxSpeedAdjustment);
}

TEST(Speed, ATowerOfFewerBellsFloorsTheIntervalButKeepsTheAdjustment)
{
    SimulatedTower tower(12, "1");
    for (int i = 0; i < 37; ++i)
        tower.controller.fasterPressed();
    tower.deliver(makeBellAssignment(4, "Band", "234"));
    EXPECT_EQ(tower.engine().strikeInterval, RingingEngine::kMinStrikeInterval);
    EXPECT_EQ(tower.host.pealText, "0 hours 7 minutes");
    tower.deliver(makeBellAssignment(12, "Band", "234"));
    EXPECT_EQ(tower.engine().speedAdjustment, 37);
    EXPECT_EQ(tower.engine().strikeInterval, (840 + 1600 - 50 * 37) / 12);
}

TEST(Speed, WithNoBellsFasterChangesOnlyTheAdjustment)
{
    FakeHost host;
    RingerController controller(host, "Tolvane");
    controller.fasterPressed();
    EXPECT_EQ(controller.ringing().speedAdjustment, 1);
    EXPECT_EQ(host.speedText, "");
}

TEST(Striking, ThirdStrikeCarriesTheCounterAndTheMeasuredDelay)
{
    SimulatedTower tower(6, "5");
    tower.call("Here's treble");
    tower.ringRow("123456", true);
    auto& engine = EngineProbe::state(tower.controller);
    engine.strikeCounter = 2;
    engine.echoDelay = 40;
    for (char bell : std::string("1234"))
        tower.bandStrike(bell, false);
    tower.controller.strikeTimerFired();
    const auto sent = tower.host.takeSent();
    ASSERT_EQ(sent.size(), 1u);
    const auto& m = sent[0];
    EXPECT_EQ((std::vector<int>{m.getWord(0), m.getWord(2), m.getWord(4), m.getWord(6), m.getWord(8), m.getWord(10),
                                m.getWord(12)}),
              (std::vector<int>{14, 4, 1, 5, 0, 3, 40}));
    EXPECT_EQ(engine.echoDelay, 0);
    EXPECT_EQ(engine.pendingBell, 0);
}

TEST(Striking, CounterWrapsAndItsEchoStillMatches)
{
    SimulatedTower tower(6, "6");
    auto& engine = EngineProbe::state(tower.controller);
    engine.strikeCounter = 65535;
    for (char bell : std::string("12345"))
        tower.bandStrike(bell, true);
    tower.host.now = 5000;
    tower.controller.strikeTimerFired();
    const auto sent = tower.host.takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].getWord(10), 0);
    tower.host.now = 5025;
    tower.deliver(sent[0]);
    EXPECT_EQ(engine.echoDelay, 25);
}

NetMessage strikeOfLength(int bell, bool handstroke, int stamp, int length)
{
    NetMessage full = makeStrike(bell, handstroke, static_cast<std::uint16_t>(stamp), 0);
    NetMessage cut = full.substr(0, static_cast<std::size_t>(length));
    cut.putWord(0, static_cast<unsigned>(length));
    return cut;
}

struct EchoCase {
    const char* what;
    int bell;
    int stamp;
    int length;
    int now;
    int expected;
};

std::ostream& operator<<(std::ostream& out, const EchoCase& c)
{
    return out << c.what;
}

class EchoDelay : public testing::TestWithParam<EchoCase> {};

TEST_P(EchoDelay, IsMeasuredOnlyFromOurOwnLatestStrike)
{
    const auto& c = GetParam();
    SimulatedTower tower(6, "6");
    auto& engine = EngineProbe::state(tower.controller);
    engine.strikeCounter = 9;
    engine.strikeSentAt = 5000 * 1000;
    engine.echoDelay = 7;
    tower.host.now = c.now;
    tower.deliver(strikeOfLength(c.bell, true, c.stamp, c.length));
    EXPECT_EQ(engine.echoDelay, c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Rules, EchoDelay, testing::Values(
    EchoCase{"measured", 6, 9, 14, 5040, 40},
    EchoCase{"twelve bytes carry the stamp", 6, 9, 12, 5040, 40},
    EchoCase{"same millisecond counts as one", 6, 9, 14, 5000, 1},
    EchoCase{"largest kept", 6, 9, 14, 5000 + 32766, 32766},
    EchoCase{"too long ago", 6, 9, 14, 5000 + 32767, 7},
    EchoCase{"an echo timed before the strike", 6, 9, 14, 4000, 7},
    EchoCase{"an older strike", 6, 8, 14, 5040, 7},
    EchoCase{"no stamp in ten bytes", 6, 9, 10, 5040, 7},
    EchoCase{"not our bell", 5, 9, 14, 5040, 7}));

TEST(Display, PanelKeepsTheLastTenRows)
{
    SimulatedTower tower(6, "", plainBobMinor());
    tower.call("Here's treble");
    EXPECT_EQ(tower.host.changes.lastChanges, "123456\r\n123456");
    const auto rows = withStart(6, plainCourse(kPlainBobMinorLead, 6));
    tower.ringRows({rows.begin(), rows.begin() + 2 + 8});
    std::string expected = rows[1];
    for (int i = 2; i < 11; ++i)
        expected += "\r\n" + rows[static_cast<std::size_t>(i)];
    EXPECT_EQ(tower.host.changes.lastChanges, expected);
    EXPECT_EQ(tower.host.changes.changesRung, 9);
    EXPECT_EQ(tower.host.changes.changeInLead, 9);
    tower.ringRows({rows.begin() + 10, rows.begin() + 30});
    const std::string panel = tower.host.changes.lastChanges;
    EXPECT_EQ(std::count(panel.begin(), panel.end(), '\n'), 9);
    EXPECT_EQ(panel.substr(panel.size() - 6), rows[30]);
}

} // namespace

namespace {
TEST(Ringing, RobotOnTheTwoTenorsRingsPlainBobMajor)
{
    MethodSettings settings;
    settings.placeNotation = "x18x18x18x18,12";
    SimulatedTower tower(8, "78", settings);
    const std::vector<std::string> lead = {"x", "18", "x", "18", "x", "18", "x", "18", "x", "18", "x", "18", "x", "18", "x", "12"};
    const auto rows = withStart(8, plainCourse(lead, 8));
    tower.ringRows(rows);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_EQ(tower.host.printedRows, rows);
}

// ---------------------------------------------------------------------------
// Rhythms beyond the interval rule

TEST(Rhythm, TheBandRhythmFollowsAndShowsTheBandsPaceNotTheSpeedSetting)
{
    SimulatedTower tower(6, "6");
    tower.controller.setRhythm({.rhythm = RhythmSettings::Rhythm::Band});
    for (int row = 0; row < 6; ++row) {
        const bool handstroke = row % 2 == 0;
        if (handstroke && row > 0)
            tower.host.now += SimulatedTower::kBandGap;  // the band's handstroke gap
        for (char bell : std::string("12345"))
            tower.bandStrike(bell, handstroke);
        const RobotStrike strike = tower.robotStrike();
        EXPECT_EQ(strike.handstroke, handstroke);
        EXPECT_EQ(strike.period, SimulatedTower::kBandGap) << "row " << row;
    }
    // The peal speed shown is the pace heard: 13 x 100 ms x 2520 = 3,276 s.
    EXPECT_EQ(tower.host.pealText, "0 hours 54 minutes");
    EXPECT_EQ(tower.host.speedText, "0");
}

TEST(Rhythm, TheHandstrokeGapIsSettableAtTheIntervalRule)
{
    SimulatedTower tower(6, "1");
    tower.controller.setRhythm({.handstrokeGap = 0.5});
    tower.call("Here's treble");
    const int interval = tower.engine().strikeInterval;
    for (int row = 0; row < 3; ++row) {
        const bool handstroke = row % 2 == 0;
        const RobotStrike strike = tower.robotStrike();
        if (row > 0) {
            EXPECT_EQ(strike.period, handstroke ? (3 * interval + 1) / 2 : interval) << "row " << row;
        }
        for (char bell : std::string("23456"))
            tower.bandStrike(bell, handstroke);
    }
}

TEST(Rhythm, AChangeOfRhythmWaitsForTheNextTouch)
{
    // The robot leads; after one touch in the band's rhythm it is switched to
    // the interval rule halfway through a row, and must ring on with the right
    // strokes, then at the interval rule once "Here's treble" starts anew.
    SimulatedTower tower(6, "1");
    tower.controller.setRhythm({.rhythm = RhythmSettings::Rhythm::Band});
    tower.call("Here's treble");
    for (int row = 0; row < 4; ++row) {
        const bool handstroke = row % 2 == 0;
        if (row == 3)
            tower.controller.setRhythm({});
        EXPECT_EQ(tower.robotStrike().handstroke, handstroke) << "row " << row;
        for (char bell : std::string("23456"))
            tower.bandStrike(bell, handstroke);
    }
    tower.call("Stand");
    tower.call("Here's treble");
    tower.robotStrikes.clear();
    tower.rowsRung = 0;
    tower.ringRows(std::vector<std::string>(4, "123456"));
    EXPECT_EQ(tower.robotStrikes.size(), 4u);
}

} // namespace

// ---------------------------------------------------------------------------
// Following a band that does not follow Tolvane
//
// The band rings by its own clock, whatever Tolvane does: each blow is
// struck at the time the test lays down and reaches Tolvane a one-way delay
// later; Tolvane's blows reach the server a one-way delay after they go out
// and come back as echoes a round trip after. Where each of Tolvane's blows
// lands at the server is judged against the band's own times.
namespace banddriver {

struct Blow {
    std::int64_t at = 0;  // ms, at the server
    int row = 0;
    int place = 0;
    int bell = 0;
};

struct Delivery {
    std::int64_t at;
    NetMessage message;
    bool operator>(const Delivery& other) const { return at > other.at; }
};

struct Outcome {
    std::vector<Blow> band;     // the band's blows as struck
    std::vector<Blow> tolvane;  // Tolvane's as they reach the server
};

// Rings `rows` with the band on every bell but Tolvane's; `blowTime(row,
// place)` is when the band would strike each place.
inline Outcome ringAgainstTheClock(SimulatedTower& tower, const std::vector<std::string>& rows,
                                   const std::function<std::int64_t(int, int)>& blowTime, int oneWayMs)
{
    Outcome outcome;
    std::priority_queue<Delivery, std::vector<Delivery>, std::greater<>> arrivals;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (int p = 1; p <= static_cast<int>(rows[static_cast<std::size_t>(r)].size()); ++p) {
            const char symbol = rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(p - 1)];
            const int bell = static_cast<int>(kBellSymbols.find(symbol)) + 1;
            if (tower.isRobots(symbol))
                continue;
            const std::int64_t at = blowTime(r, p);
            outcome.band.push_back({at, r, p, bell});
            arrivals.push({at + oneWayMs, makeStrike(bell, r % 2 == 0, 0, 0)});
        }
    std::array<int, 13> rung{};
    const std::int64_t end = blowTime(static_cast<int>(rows.size()), 1) + 10'000;
    while (tower.host.now < end) {
        const std::int64_t fires =
            tower.host.timerArmed() ? tower.host.armedAt + *tower.host.armedFor : std::numeric_limits<std::int64_t>::max();
        const std::int64_t next = arrivals.empty() ? std::numeric_limits<std::int64_t>::max() : arrivals.top().at;
        if (fires == std::numeric_limits<std::int64_t>::max() && arrivals.empty())
            break;
        if (fires <= next) {
            tower.host.now = fires;
            tower.host.armedFor.reset();
            tower.controller.strikeTimerFired();
            for (const NetMessage& sent : tower.host.takeSent()) {
                if (sent.getWord(2) != 4)
                    continue;
                const int bell = sent.getWord(6);
                const int row = rung[static_cast<std::size_t>(bell)]++;
                const std::string& symbols = rows[std::min(static_cast<std::size_t>(row), rows.size() - 1)];
                const int place = static_cast<int>(symbols.find(kBellSymbols[static_cast<std::size_t>(bell - 1)])) + 1;
                outcome.tolvane.push_back({fires + oneWayMs, row, place, bell});
                arrivals.push({fires + 2 * oneWayMs, sent});
            }
        } else {
            tower.host.now = next;
            tower.deliver(arrivals.top().message);
            arrivals.pop();
        }
    }
    return outcome;
}

// Rows with one extra interval before every handstroke row after the first;
// `intervalOfRow` the band's interval in ms.
inline std::function<std::int64_t(int, int)> bandClock(std::function<double(int)> intervalOfRow, int bells,
                                                      double startMs = 1000)
{
    return [intervalOfRow, bells, startMs](int row, int place) {
        double t = startMs;
        for (int r = 0; r < row; ++r)
            t += intervalOfRow(r) * bells + (r % 2 == 1 ? intervalOfRow(r + 1) : 0);
        return static_cast<std::int64_t>(std::llround(t + intervalOfRow(row) * (place - 1)));
    };
}

} // namespace banddriver

// A band far quicker than Tolvane's speed setting rings two plain courses;
// the second starts at the first's pace, not the setting's.
TEST(Rhythm, ASecondTouchStartsAtThePaceOfTheFirst)
{
    MethodSettings pbMinor;
    pbMinor.placeNotation = "x16x16x16,12";
    SimulatedTower tower(6, "23", pbMinor);
    tower.controller.setRhythm({.rhythm = RhythmSettings::Rhythm::Band});
    ASSERT_GT(tower.engine().strikeInterval, 300);
    std::vector<std::string> rows(2, "123456");
    for (const auto& row : plainCourse({"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"}, 6))
        rows.push_back(row);
    const auto quick = [](int) { return 150.0; };
    banddriver::ringAgainstTheClock(tower, rows, banddriver::bandClock(quick, 6), 0);
    ASSERT_FALSE(tower.engine().ringing);
    const auto second = banddriver::bandClock(quick, 6, static_cast<double>(tower.host.now + 5000));
    const auto outcome = banddriver::ringAgainstTheClock(tower, rows, second, 0);
    ASSERT_EQ(outcome.tolvane.size(), 2 * rows.size());
    for (const auto& blow : outcome.tolvane) {
        if (blow.row < 4) {
            EXPECT_LT(std::abs(static_cast<double>(blow.at - second(blow.row, blow.place))), 0.25 * 150)
                << "bell " << blow.bell << " of row " << blow.row;
        }
    }
}

struct PaceJump {
    const char* name;
    double change;  // the interval after the jump, as a share of the one before
    int oneWayMs;
    const char* bells;  // Tolvane's
};

// Band on the treble, Tolvane on 2-6 of rounds, 40 ms each way between
// Tolvane and the server. The treble strikes one interval after the blow
// before it (two before a handstroke), as the server hears them, but in row
// 8 holds up 700 ms. Tolvane's blows never come within half an interval of
// the blow before, and by two rows on they are back at the pace of before.
class LateRinger : public testing::TestWithParam<bool> {};

TEST_P(LateRinger, TolvaneFollowsWithoutClashOrRush)
{
    constexpr std::int64_t kOneWay = 40;
    SimulatedTower tower(6, "23456");
    const bool band = GetParam();
    if (band)
        tower.controller.setRhythm({.rhythm = RhythmSettings::Rhythm::Band});
    const std::int64_t interval = band ? 250 : tower.engine().strikeInterval;
    std::vector<std::pair<int, std::int64_t>> blows;  // row, when the server hears it
    std::vector<std::pair<std::int64_t, NetMessage>> arrivals;
    const auto trebleAt = [&](int row, std::int64_t at) {
        blows.emplace_back(row, at);
        arrivals.emplace_back(at + kOneWay, makeStrike(1, row % 2 == 0, 0, 0));
    };
    trebleAt(0, 1000);
    int rung = 0;  // Tolvane's blows so far
    while (blows.size() < 14 * 6) {
        const auto first = std::min_element(arrivals.begin(), arrivals.end(),
                                            [](const auto& a, const auto& b) { return a.first < b.first; });
        const std::int64_t fires = tower.host.timerArmed() ? tower.host.armedAt + *tower.host.armedFor : INT64_MAX;
        if (first != arrivals.end() && first->first < fires) {
            tower.host.now = first->first;
            const NetMessage message = first->second;
            arrivals.erase(first);
            tower.deliver(message);
            continue;
        }
        ASSERT_NE(fires, INT64_MAX) << "Tolvane is waiting with nothing to come";
        tower.host.now = fires;
        tower.host.armedFor.reset();
        tower.controller.strikeTimerFired();
        for (const NetMessage& sent : tower.host.takeSent()) {
            const int row = rung++ / 5;
            ASSERT_EQ(sent.getWord(6), rung % 5 == 0 ? 6 : rung % 5 + 1) << "row " << row;
            blows.emplace_back(row, fires + kOneWay);
            arrivals.emplace_back(fires + 2 * kOneWay, sent);
            if (rung % 5 == 0) {
                const bool handstroke = (row + 1) % 2 == 0;
                trebleAt(row + 1, fires + kOneWay + interval * (handstroke ? 2 : 1) + (row + 1 == 8 ? 700 : 0));
            }
        }
    }
    // The pace Tolvane rang at before the hold-up, within rows.
    double before = 0;
    for (std::size_t i = 30; i < 48; ++i)
        before += i % 6 == 0 ? 0 : static_cast<double>(blows[i].second - blows[i - 1].second) / 15;
    for (std::size_t i = 7; i < blows.size(); ++i) {
        const std::int64_t gap = blows[i].second - blows[i - 1].second;
        EXPECT_GE(2 * gap, interval) << "blow " << i % 6 + 1 << " of row " << blows[i].first << " comes " << gap
                                     << " ms after the one before";
        if (blows[i].first >= 10 && i % 6 != 0) {
            EXPECT_NEAR(static_cast<double>(gap), before, 0.1 * before)
                << "blow " << i % 6 + 1 << " of row " << blows[i].first;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothRhythms, LateRinger, testing::Bool(),
                         [](const auto& info) { return info.param ? "InTheBandsRhythm" : "AtTheIntervalRule"; });

class ViolentPace : public testing::TestWithParam<PaceJump> {};

// From one row to the next the band's pace jumps; Tolvane, in the band's rhythm,
// must keep every blow between the band's blows in front of it and behind it.
TEST_P(ViolentPace, EveryBlowStaysInItsPlace)
{
    const PaceJump jump = GetParam();
    MethodSettings pbMinor;
    pbMinor.placeNotation = "x16x16x16,12";
    SimulatedTower tower(6, jump.bells, pbMinor);
    tower.controller.setRhythm({.rhythm = RhythmSettings::Rhythm::Band});
    std::vector<std::string> rows(2, "123456");
    for (const auto& row : plainCourse({"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"}, 6))
        rows.push_back(row);
    const auto interval = [&](int row) {
        const double before = 220, after = before * jump.change;
        return row < 6 ? before : after;
    };
    const auto ideal = banddriver::bandClock(interval, 6);
    // A band of people: every blow a little off its ideal, by up to 20 ms.
    const auto clock = [&](int row, int place) {
        const unsigned spread = static_cast<unsigned>(row * 16 + place) * 2654435761u;
        return ideal(row, place) + static_cast<std::int64_t>(spread % 41) - 20;
    };
    const auto outcome = banddriver::ringAgainstTheClock(tower, rows, clock, jump.oneWayMs);
    ASSERT_EQ(outcome.tolvane.size(), 2 * rows.size());
    // Each of Tolvane's blows must come after the blow in front of it and
    // before the blow behind it, as the server hears them. The first touch
    // starts at the speed setting's pace, until the band's is heard.
    std::map<std::pair<int, int>, std::int64_t> heard;
    for (const auto& blow : outcome.band)
        heard[{blow.row, blow.place}] = blow.at;
    for (const auto& blow : outcome.tolvane)
        heard[{blow.row, blow.place}] = blow.at;
    for (const auto& blow : outcome.tolvane) {
        if (blow.row < 2)
            continue;
        const auto here = heard.find({blow.row, blow.place});
        const auto front = std::prev(here);
        const auto behind = std::next(here);
        EXPECT_LT(front->second, blow.at) << "bell " << blow.bell << " of row " << blow.row << " in place " << blow.place
                                          << " comes before the blow in front of it";
        if (behind != heard.end()) {
            EXPECT_LT(blow.at, behind->second) << "bell " << blow.bell << " of row " << blow.row << " in place "
                                               << blow.place << " comes after the blow behind it";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Jumps, ViolentPace,
                         testing::Values(PaceJump{"ThirtyPerCentSlower", 1.3, 0, "34"},
                                         PaceJump{"FiftyPerCentSlower", 1.5, 0, "45"},
                                         PaceJump{"ThirtyPerCentFaster", 1 / 1.3, 0, "23"},
                                         PaceJump{"FiftyPerCentFaster", 1 / 1.5, 0, "45"},
                                         PaceJump{"FiftyPerCentFasterOnTheBack", 1 / 1.5, 0, "56"},
                                         PaceJump{"FiftyPerCentSlowerAt40ms", 1.5, 40, "23"},
                                         PaceJump{"FiftyPerCentFasterAt40ms", 1 / 1.5, 40, "45"}),
                         [](const auto& info) { return std::string(info.param.name); });
