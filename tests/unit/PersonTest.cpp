// A person rings one of Tolvane's bells at the keyboard: key presses go
// through the engine as time-stamped events, the rest of Tolvane's bells
// ring on around them.

#include "SimulatedTower.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

using Key = KeyEvent::Key;

MethodSettings plainBobMinor()
{
    MethodSettings s;
    s.placeNotation = "x16x16x16,12";
    s.bobNotation = "14";
    s.singleNotation = "1234";
    return s;
}

struct SentStrike {
    int bell = 0;
    bool handstroke = false;
};

// Band on 1-3, Tolvane given 4-6, the person ringing 4.
class PersonRings : public testing::Test {
protected:
    PersonRings() { tower.controller.setPersonBells({4, 0}); }

    // Presses (and releases) a key; returns the strikes that went out.
    std::vector<SentStrike> press(Key key = Key::J, bool echo = true)
    {
        tower.host.now += SimulatedTower::kBandGap;
        tower.controller.keyPressed(key, true, false);
        tower.controller.keyPressed(key, false, false);
        return takeStrikes(echo);
    }

    std::vector<SentStrike> takeStrikes(bool echo)
    {
        std::vector<SentStrike> strikes;
        for (const NetMessage& sent : tower.host.takeSent()) {
            if (sent.getWord(2) != 4)
                continue;
            strikes.push_back({sent.getWord(6), sent.getWord(8) != 0});
            if (echo)
                tower.deliver(sent);
        }
        return strikes;
    }

    // Rings a row: the band's bells, the person's at a key press, Tolvane's
    // own when its timer runs out.
    void ringRow(const std::string& row, bool handstroke)
    {
        for (char symbol : row) {
            if (symbol == '4') {
                // In the band's rhythm Tolvane's next bell is planned ahead.
                if (!bandRhythm) {
                    EXPECT_FALSE(tower.host.timerArmed()) << "Tolvane would strike before the person, row " << row;
                }
                const auto sent = press();
                ASSERT_EQ(sent.size(), 1u);
                EXPECT_EQ(sent[0].bell, 4);
                EXPECT_EQ(sent[0].handstroke, handstroke) << "row " << row;
            } else if (tower.isRobots(symbol)) {
                const RobotStrike strike = tower.robotStrike();
                EXPECT_EQ(strike.bell, symbol - '0') << "row " << row;
            } else {
                tower.bandStrike(symbol, handstroke);
            }
        }
    }

    SimulatedTower tower{6, "456", plainBobMinor()};
    bool bandRhythm = false;
};

std::vector<std::string> plainCourseWithStart()
{
    std::vector<std::string> rows(2, "123456");
    for (const std::string& row : plainCourse({"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"}, 6))
        rows.push_back(row);
    return rows;
}

TEST_F(PersonRings, TolvaneRingsAPlainCourseAroundThePersonsBell)
{
    tower.host.judgesStriking = true;
    const auto rows = plainCourseWithStart();
    for (std::size_t i = 0; i < rows.size(); ++i)
        ringRow(rows[i], i % 2 == 0);
    EXPECT_FALSE(tower.engine().ringing) << "the course should come round and stop";
    for (const RobotStrike& strike : tower.robotStrikes)
        EXPECT_NE(strike.bell, 4);
    EXPECT_EQ(tower.robotStrikes.size(), 2 * rows.size());

    // The person is judged apart from Tolvane and the band, from the method
    // on, and the touch's chart is made.
    const std::size_t methodRows = rows.size() - 2;
    ASSERT_FALSE(tower.host.striking.empty());
    const StrikingSummary& last = tower.host.striking.back();
    ASSERT_TRUE(last.touchEnded);
    EXPECT_EQ(last.ownBells, "5,6");
    EXPECT_EQ(last.touch.person.count, static_cast<int>(methodRows));
    EXPECT_EQ(last.touch.own.count, static_cast<int>(2 * methodRows));
    EXPECT_EQ(last.touch.band.count, static_cast<int>(3 * methodRows));
    EXPECT_NE(last.chartSvg.find("<svg"), std::string::npos);
    EXPECT_NE(last.chartSvg.find("You"), std::string::npos);
}

TEST_F(PersonRings, AHeldKeyStrikesOnceAndStrokesAlternate)
{
    tower.controller.keyPressed(Key::Space, true, false);
    for (int repeat = 0; repeat < 5; ++repeat) {
        tower.controller.keyPressed(Key::Space, false, true);
        tower.controller.keyPressed(Key::Space, true, true);
    }
    // Down again without the repeat mark while still held: its release was lost.
    tower.controller.keyPressed(Key::Space, true, false);
    const auto held = takeStrikes(false);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_TRUE(held[0].handstroke);
    // Another key while the first is held strikes; so does the first again
    // once released. A row apart, so that neither is a double tap; with no
    // bell heard the ringing has not moved, and a blow can be no more than a
    // row ahead of it: the third repeats the second's stroke.
    tower.host.now += 2000;
    EXPECT_FALSE(press(Key::F, false).at(0).handstroke);
    tower.controller.keyPressed(Key::Space, false, false);
    tower.host.now += 2000;
    EXPECT_FALSE(press(Key::Space, false).at(0).handstroke);
}

TEST_F(PersonRings, AKeyPressOutOfTurnIsSentAtOnce)
{
    tower.call("Here's treble");
    tower.bandStrike('1', true);
    // The person clashes with the treble's place: 2 and 3 are still to come.
    const auto sent = press();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bell, 4);
    EXPECT_TRUE(sent[0].handstroke);
    tower.bandStrike('2', true);
    tower.bandStrike('3', true);
    // The person's blow counts in the row: Tolvane goes on with 5 and 6.
    EXPECT_EQ(tower.robotStrike().bell, 5);
    EXPECT_EQ(tower.robotStrike().bell, 6);
    EXPECT_EQ(tower.engine().rowIndex, 1);
    // Pressed again a row later: the next row's backstroke.
    tower.host.now += 2000;
    EXPECT_FALSE(press(Key::J, false).at(0).handstroke);
}

// New assignments cut a touch short and start every bell again at
// handstroke: the person's first blow of the next touch must be one too, or
// the engine takes it for a repeat and the row never completes.
TEST_F(PersonRings, AfterATouchCutShortThePersonStartsAtHandstroke)
{
    const auto rows = plainCourseWithStart();
    for (std::size_t i = 0; i < 3; ++i)
        ringRow(rows[i], i % 2 == 0);
    tower.deliver(makeBellAssignment(6, "Band", "123"));
    tower.deliver(makeBellAssignment(6, "Tolvane", "456"));
    ASSERT_FALSE(tower.engine().ringing);
    for (std::size_t i = 0; i < 2; ++i)
        ringRow(rows[i], i % 2 == 0);
    EXPECT_EQ(tower.engine().rowIndex, 2);
}

TEST_F(PersonRings, InTheBandsRhythmTolvaneWaitsForAPersonWhoHoldsUp)
{
    tower.controller.setRhythm({.rhythm = RhythmSettings::Rhythm::Band});
    bandRhythm = true;
    const auto rows = plainCourseWithStart();
    for (int row = 0; row < 5; ++row) {
        if (row % 2 == 0 && row > 0)
            tower.host.now += SimulatedTower::kBandGap;
        ringRow(rows[static_cast<std::size_t>(row)], row % 2 == 0);
    }
    // 462513: the person leads and is three blows late; Tolvane's 6 must not go before it.
    ASSERT_EQ(rows[5], "462513");
    tower.host.now += 3 * SimulatedTower::kBandGap;
    if (tower.host.armedFor) {
        tower.host.armedFor.reset();
        tower.controller.strikeTimerFired();
    }
    EXPECT_TRUE(takeStrikes(false).empty());
    ASSERT_EQ(press().size(), 1u);
    EXPECT_EQ(tower.robotStrike().bell, 6);
}

// How the person's key goes down in one row of a plain course.
enum class Press {
    InTime,  // at the bell's turn
    Early,   // before any bell of the row, a clash with the lead
    Double,  // at its turn, and again 30 ms later
    Late,    // a whole row late: the bells behind it in the row have had their turn
};

struct PressCase {
    const char* name;
    std::map<int, Press> rows;  // rows not named are pressed in time
    // The strokes of the person's blows as they go out over the first ten
    // rows, worked out by hand: a stray blow repeats the stroke of its row.
    const char* strokes;
};

class PressSequences : public PersonRings, public testing::WithParamInterface<std::tuple<PressCase, bool>> {
protected:
    // Rings a row with the person's key as `how`; Tolvane's bells never go
    // before the person's bell when it is in front of them.
    void ringRowWith(const std::string& row, bool handstroke, Press how)
    {
        if (how == Press::Early)
            pressKey();
        for (char symbol : row) {
            if (symbol == '4') {
                if (how != Press::Early) {
                    EXPECT_FALSE(tower.host.timerArmed()) << "Tolvane would strike before the person, row " << row;
                }
                if (how == Press::Late) {
                    tower.host.now += 6 * SimulatedTower::kBandGap;
                    EXPECT_FALSE(tower.host.timerArmed()) << "Tolvane went on without the person, row " << row;
                }
                if (how != Press::Early)
                    pressKey();
                if (how == Press::Double) {
                    tower.host.now += 30;
                    pressKey(0);
                }
            } else if (tower.isRobots(symbol)) {
                EXPECT_EQ(tower.robotStrike().bell, symbol - '0') << "row " << row;
            } else {
                tower.bandStrike(symbol, handstroke);
            }
        }
    }

    void pressKey(int after = SimulatedTower::kBandGap)
    {
        tower.host.now += after;
        tower.controller.keyPressed(Key::J, true, false);
        tower.controller.keyPressed(Key::J, false, false);
        for (const SentStrike& strike : takeStrikes(true))
            strokes += strike.handstroke ? 'H' : 'B';
    }

    std::string strokes;
};

TEST_P(PressSequences, AStrayPressCostsOneBlowAndTheTouchRingsOn)
{
    const auto& [c, band] = GetParam();
    if (band) {
        tower.controller.setRhythm({.rhythm = RhythmSettings::Rhythm::Band});
        bandRhythm = true;
    }
    tower.host.judgesStriking = true;
    const auto rows = plainCourseWithStart();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto how = c.rows.find(static_cast<int>(i));
        ringRowWith(rows[i], i % 2 == 0, how == c.rows.end() ? Press::InTime : how->second);
    }
    EXPECT_EQ(strokes.substr(0, std::string(c.strokes).size()), c.strokes);
    // After the first ten rows every press is in turn again.
    std::string rest;
    for (std::size_t i = 10; i < rows.size(); ++i)
        rest += i % 2 == 0 ? 'H' : 'B';
    EXPECT_EQ(strokes.substr(std::string(c.strokes).size()), rest);
    EXPECT_FALSE(tower.engine().ringing) << "the course should come round and stop";
    EXPECT_EQ(tower.robotStrikes.size(), 2 * rows.size());
    // Every blow of the person's from the method on is judged, the stray one apart.
    const std::size_t methodRows = rows.size() - 2;
    ASSERT_FALSE(tower.host.striking.empty());
    EXPECT_EQ(tower.host.striking.back().touch.person.count, static_cast<int>(methodRows));
}

const PressCase kPressCases[] = {
    {"InTime", {}, "HBHBHBHBHB"},
    {"FirstPressStartsTheRinging", {{0, Press::Early}}, "HBHBHBHBHB"},
    {"OneEarly", {{5, Press::Early}}, "HBHBHBHBHB"},
    {"DoubleAtHandstroke", {{2, Press::Double}}, "HBHHBHBHBHB"},
    {"DoubleAtBackstroke", {{5, Press::Double}}, "HBHBHBBHBHB"},
    {"TwoDoubles", {{3, Press::Double}, {4, Press::Double}}, "HBHBBHHBHBHB"},
    {"DoubleThenEarly", {{3, Press::Double}, {4, Press::Early}}, "HBHBBHBHBHB"},
    {"OneLate", {{6, Press::Late}}, "HBHBHBHBHB"},
    {"DoubleThenLate", {{6, Press::Double}, {7, Press::Late}}, "HBHBHBHHBHB"},
};

INSTANTIATE_TEST_SUITE_P(BothRhythms, PressSequences, testing::Combine(testing::ValuesIn(kPressCases), testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "InTheBandsRhythm" : "AtTheIntervalRule");
                         });

// The person rings 5 with the left hand (F) and 6 with the right (J); the
// band rings 1-3 and Tolvane 4.
TEST(TwoBells, EachKeyRingsItsOwnBellWithThatBellsStroke)
{
    SimulatedTower tower(6, "456", plainBobMinor());
    tower.controller.setPersonBells({5, 6});
    tower.host.judgesStriking = true;
    std::map<int, std::string> strokes;
    const auto press = [&](Key key, bool repeat = false) {
        tower.host.now += SimulatedTower::kBandGap;
        tower.controller.keyPressed(key, true, repeat);
        for (const NetMessage& sent : tower.host.takeSent()) {
            strokes[sent.getWord(6)] += sent.getWord(8) != 0 ? 'H' : 'B';
            tower.deliver(sent);
        }
    };
    const auto release = [&](Key key) { tower.controller.keyPressed(key, false, false); };
    const auto rows = plainCourseWithStart();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (char symbol : rows[i]) {
            if (symbol == '5' || symbol == '6') {
                const Key key = symbol == '5' ? Key::F : Key::J;
                press(Key::Space);  // rings neither of two bells
                press(key);
                press(key, true);  // held down: strikes once
                release(Key::Space);
                release(key);
            } else if (symbol == '4') {
                EXPECT_EQ(tower.robotStrike().bell, 4) << "row " << rows[i];
            } else {
                tower.bandStrike(symbol, i % 2 == 0);
            }
        }
    }
    EXPECT_FALSE(tower.engine().ringing) << "the course should come round and stop";
    std::string alternate;
    for (std::size_t i = 0; i < rows.size(); ++i)
        alternate += i % 2 == 0 ? 'H' : 'B';
    EXPECT_EQ(strokes[5], alternate);
    EXPECT_EQ(strokes[6], alternate);
    EXPECT_EQ(strokes.size(), 2u);
    const StrikingFigures& touch = tower.host.striking.back().touch;
    const std::size_t methodRows = rows.size() - 2;
    EXPECT_EQ(touch.person.count, static_cast<int>(2 * methodRows));
    ASSERT_EQ(touch.personBells.size(), 2u);
    EXPECT_EQ(touch.personBells[0].bell, 5);
    EXPECT_EQ(touch.personBells[1].stats.count, static_cast<int>(methodRows));
}

TEST(TwoBells, ASecondBellTheServerDidNotGiveLeavesItsKeyIdle)
{
    SimulatedTower tower(6, "56", plainBobMinor());
    tower.controller.setPersonBells({5, 3});
    tower.controller.keyPressed(Key::J, true, false);
    EXPECT_TRUE(tower.host.takeSent().empty());
    tower.controller.keyPressed(Key::F, true, false);
    ASSERT_EQ(tower.host.takeSent().size(), 1u);
    // Tolvane rings 6 itself, never 5.
    tower.call("Here's treble");
    tower.bandStrike('1', true);
    EXPECT_EQ(tower.engine().hands[0].bell, 5);
    EXPECT_EQ(tower.engine().hands[1].bell, 3);
}

// A host that keeps every path the engine shows.
struct PathRecorder : FakeHost {
    void showPersonPath(const PersonPath& path) override { paths.push_back(path); }
    std::vector<PersonPath> paths;
};

// Plain Bob Minor, the band on 1-5 and the person ringing Tolvane's 6.
class PersonPathOnTheTenor : public testing::Test {
protected:
    PersonPathOnTheTenor()
    {
        controller.applySettings(plainBobMinor());
        controller.setPersonBells({6, 0});
        controller.bytesReceived(makeBellAssignment(6, "Band", "12345").bytes());
        controller.bytesReceived(makeBellAssignment(6, "Tolvane", "6").bytes());
    }
    void strike(int bell, bool handstroke) { controller.bytesReceived(makeStrike(bell, handstroke, 0, 0).bytes()); }

    PathRecorder host;
    RingerController controller{host, "Tolvane"};
};

TEST(PersonBell, ABellTolvaneWasNotGivenIsNotRungByHandAndTolvaneRingsAllItsOwn)
{
    SimulatedTower tower(6, "56", plainBobMinor());
    tower.controller.setPersonBells({2, 0});
    tower.controller.keyPressed(Key::J, true, false);
    EXPECT_TRUE(tower.host.takeSent().empty());
    tower.ringRows({"123456", "123456"});
    EXPECT_EQ(tower.robotStrikes.size(), 4u);

    PathRecorder host;
    RingerController controller(host, "Tolvane");
    controller.setPersonBells({2, 0});
    controller.bytesReceived(makeBellAssignment(6, "Tolvane", "56").bytes());
    ASSERT_FALSE(host.paths.empty());
    EXPECT_TRUE(host.paths.back().assigned);
    EXPECT_FALSE(host.paths.back().rung);
}

TEST_F(PersonPathOnTheTenor, ThePathShowsTheLastCurrentAndNextRows)
{
    for (int row = 0; row < 2; ++row)
        for (int bell = 1; bell <= 6; ++bell)
            strike(bell, row == 0);
    // Rounds at backstroke are rung: the first change is now, the second to come.
    ASSERT_FALSE(host.paths.empty());
    const PersonPath& path = host.paths.back();
    EXPECT_TRUE(path.rung && path.ringing && path.handstroke);
    EXPECT_EQ(path.lastRow, "123456");
    EXPECT_EQ(path.currentRow, "214365");
    EXPECT_EQ(path.nextRow, "241635");
    // The whole first lead, its head the rounds the method started from.
    ASSERT_EQ(path.leadRows.size(), 13u);
    EXPECT_EQ(path.rowInLead, 1);
    EXPECT_EQ(path.leadRows.front(), "123456");
    EXPECT_EQ(path.leadRows[1], path.currentRow);
    EXPECT_EQ(path.leadRows[2], path.nextRow);
    EXPECT_EQ(path.leadRows.back(), "135264");
}

TEST_F(PersonPathOnTheTenor, TheLeadRowsFollowTheTouchIntoTheSecondLead)
{
    // Rounds, then the first lead whole and two rows of the second, each row
    // struck in the order the last path said it comes.
    std::string row = "123456";
    for (int rowIndex = 0; rowIndex < 2 + 12 + 2; ++rowIndex) {
        for (char symbol : row)
            strike(symbol - '0', rowIndex % 2 == 0);
        ASSERT_FALSE(host.paths.empty());
        row = host.paths.back().currentRow;
    }
    const PersonPath& path = host.paths.back();
    ASSERT_EQ(path.leadRows.size(), 13u);
    EXPECT_EQ(path.leadRows.front(), "135264");
    EXPECT_EQ(path.rowInLead, 3);
    EXPECT_EQ(path.leadRows[3], path.currentRow);
}

} // namespace
