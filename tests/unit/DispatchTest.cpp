#include "EngineProbe.h"
#include "FakeHost.h"
#include "SimulatedTower.h"

#include "protocol/Messages.h"
#include "ringer/RingerController.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cerrno>

namespace {

NetMessage raw(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return NetMessage(bytes);
}

// A message with the given declared length and type, zero-filled.
NetMessage message(int length, int type, std::size_t size = 0)
{
    NetMessage m(std::string(size ? size : static_cast<std::size_t>(length), '\0'));
    m.putWord(0, static_cast<unsigned>(length));
    if (m.size() >= 4)
        m.putWord(2, static_cast<unsigned>(type));
    return m;
}

class Dispatch : public testing::Test {
protected:
    void SetUp() override
    {
        controller.connected();
        host.takeSent();
    }
    void deliver(const NetMessage& m) { controller.bytesReceived(m.bytes()); }
    void deliver(const std::string& bytes) { controller.bytesReceived(bytes); }

    FakeHost host;
    RingerController controller{host, "Tolvane"};
};

// ---------------------------------------------------------------------------
// Framing

TEST_F(Dispatch, ConnectingSendsTheGreeting)
{
    FakeHost fresh;
    RingerController c(fresh, "Tolvane");
    c.connected();
    EXPECT_EQ(fresh.wire, raw({6, 0, 1, 0, 1, 0}).bytes());
}

TEST_F(Dispatch, TwoMessagesInOneReadAreHandledInOrder)
{
    deliver(makeBellAssignment(6, "Band", "12345").bytes() + makeBellAssignment(8, "Tolvane", "6").bytes());
    EXPECT_EQ(controller.ringing().bellCount, 8);
    EXPECT_TRUE(controller.ringing().bellTable[5].ownBell);
}

TEST_F(Dispatch, AMessageSplitOverReadsIsHandledOnceWhole)
{
    deliver(makeBellAssignment(6, "Band", "123456"));
    const std::string strike = makeStrike(1, true, 0, 0).bytes();
    deliver(strike.substr(0, 5));
    EXPECT_FALSE(controller.ringing().ringing);
    deliver(strike.substr(5));
    EXPECT_TRUE(controller.ringing().ringing);
    EXPECT_EQ(controller.ringing().struckBells, "1");
}

TEST_F(Dispatch, AShortMessageWaitsForEightBytesBehindIt)
{
    NetMessage shortCall = message(7, 3);
    shortCall.putText(6, 7, "");
    deliver(shortCall);
    EXPECT_EQ(controller.link().pendingReceive().size(), 7u);
    deliver(raw({6, 0}));
    EXPECT_EQ(controller.link().pendingReceive().size(), 2u) << "the short one went, the next waits";
}

// ---------------------------------------------------------------------------
// Messages that cannot be handled

TEST_F(Dispatch, ADeclaredLengthBelowFourLosesTheConnection)
{
    for (int length : {0, 1, 2, 3}) {
        FakeHost h;
        RingerController c(h, "Tolvane");
        c.connected();
        c.bytesReceived(message(length, 4, 14).bytes());
        EXPECT_TRUE(h.ended) << length;
        EXPECT_TRUE(h.socketClosed) << length;
        ASSERT_EQ(h.shown.size(), 1u) << length;
        EXPECT_EQ(h.shown[0].rfind("Connection to Server Lost.", 0), 0u);
        EXPECT_TRUE(c.link().pendingReceive().empty());
    }
}

TEST_F(Dispatch, IgnoredTypesAreDroppedSilentlyAtAnyLength)
{
    for (int type : {1, 5, 6})
        for (int length : {4, 5, 6, 200}) {
            deliver(message(length, type));
        }
    deliver(message(4, 1).bytes() + message(4, 5).bytes());
    EXPECT_TRUE(host.shown.empty());
    EXPECT_FALSE(host.ended);
}

TEST_F(Dispatch, UnexpectedTypesAreReportedAndDropped)
{
    for (int type : {0, 8, 11, 65535})
        deliver(message(8, type));
    EXPECT_EQ(host.shown, (std::vector<std::string>{
                              "Incoming message has unexpected message type : 0",
                              "Incoming message has unexpected message type : 8",
                              "Incoming message has unexpected message type : 11",
                              "Incoming message has unexpected message type : 65535"}));
    EXPECT_FALSE(host.ended);
}

TEST_F(Dispatch, MessagesTooShortForTheirFieldsChangeNothing)
{
    deliver(makeBellAssignment(6, "Band", "123456"));
    // Every byte after the type is non-zero, so each text runs off the end.
    for (int type : {2, 3, 4, 7, 9, 10})
        for (int length : {4, 5, 6, 7, 8, 9}) {
            std::string bytes(static_cast<std::size_t>(length), '\x01');
            bytes[0] = static_cast<char>(length);
            bytes[1] = 0;
            bytes[2] = static_cast<char>(type);
            bytes[3] = 0;
            deliver(bytes);
        }
    deliver(message(8, 1));  // pushes the last short ones through
    const auto& e = controller.ringing();
    EXPECT_FALSE(e.ringing);
    EXPECT_EQ(e.bellCount, 6);
    EXPECT_TRUE(controller.towers().empty());
    EXPECT_TRUE(host.offered.empty());
    EXPECT_TRUE(host.shown.empty());
    EXPECT_TRUE(controller.joinedTower().empty());
    EXPECT_TRUE(controller.link().pendingReceive().empty());
}

TEST_F(Dispatch, ATextMayEndTheMessageWhenItsTerminatorIsInside)
{
    host.towerChoice = [](const TowerList&) { return std::optional<std::string>("Ash"); };
    NetMessage shortText = makeServerText("Hi").substr(0, 9);
    shortText.putWord(0, 9);
    deliver(shortText.bytes() + message(8, 1).bytes());
    EXPECT_EQ(host.shown, (std::vector<std::string>{"Hi"}));
}

TEST_F(Dispatch, StrikesOfBellsTheTowerLacksDoNotStartTheRinging)
{
    deliver(makeStrike(1, true, 0, 0));
    EXPECT_FALSE(controller.ringing().ringing) << "no bells assigned yet";
    deliver(makeBellAssignment(6, "Band", "123456"));
    for (int bell : {7, 12, 13, -1, -32768}) {
        deliver(makeStrike(bell, true, 0, 0));
        EXPECT_FALSE(controller.ringing().ringing) << bell;
    }
    deliver(makeStrike(6, true, 0, 0));
    EXPECT_TRUE(controller.ringing().ringing);
}

TEST_F(Dispatch, EveryStrikeReportedIsHeardAsItArrives)
{
    deliver(makeBellAssignment(6, "Band", "123456"));
    for (int bell : {1, 7, 13, -1, 0, 12})
        deliver(makeStrike(bell, bell != 7, 0, 0));
    EXPECT_EQ(host.heard, (std::vector<std::pair<int, bool>>{{1, true}, {7, false}, {0, true}, {12, true}}));
}

TEST_F(Dispatch, ABellCountOutsideTheAlphabetIsRefused)
{
    deliver(makeBellAssignment(6, "Tolvane", "6"));
    for (int count : {13, -1, 32767}) {
        deliver(makeBellAssignment(count, "Tolvane", "12"));
        EXPECT_EQ(controller.ringing().bellCount, 6);
        EXPECT_FALSE(controller.ringing().bellTable[0].ownBell);
    }
    ASSERT_EQ(host.shown.size(), 3u);
    EXPECT_EQ(host.shown[0], "Bell assignment ignored: the tower has 13 bells, but Tolvane rings from 0 to 12.");
}

// ---------------------------------------------------------------------------
// Bell assignments

TEST_F(Dispatch, OwnBellsAreRecognisedByTheExactName)
{
    deliver(makeBellAssignment(12, "Tolvane", "2E"));
    const auto& table = controller.ringing().bellTable;
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(table[static_cast<std::size_t>(i)].ownBell, i == 1 || i == 10) << i;
    deliver(makeBellAssignment(12, "tolvane", "2E"));
    EXPECT_FALSE(table[1].ownBell);
    EXPECT_FALSE(table[10].ownBell);
}

TEST_F(Dispatch, UnknownBellSymbolsAreReportedAfterTheWholeAssignmentIsApplied)
{
    deliver(makeBellAssignment(6, "Band", "123456"));
    deliver(makeStrike(1, true, 0, 0));
    ASSERT_TRUE(controller.ringing().ringing);
    std::vector<bool> ownWhenShown;
    host.onMessage = [&](const std::string&) {
        ownWhenShown.push_back(controller.ringing().bellTable[2].ownBell);
        EXPECT_FALSE(controller.ringing().ringing);
    };
    deliver(makeBellAssignment(6, "Tolvane", "1e3"));
    EXPECT_EQ(host.shown, (std::vector<std::string>{"Unknown bell - e"}));
    EXPECT_EQ(ownWhenShown, (std::vector<bool>{true}));
    EXPECT_TRUE(controller.ringing().bellTable[0].ownBell);
}

TEST_F(Dispatch, ALongRingerNameGetsItsBellsByTheNameItSent)
{
    const std::string name(100, 'n');
    FakeHost h;
    h.towerChoice = [](const TowerList&) { return std::optional<std::string>("Ash"); };
    RingerController c(h, name);
    c.connected();
    h.takeSent();
    c.bytesReceived(makeTowerEntry(1, "Ash", "").bytes());
    const auto sent = h.takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].getText(86, 166), name.substr(0, 80));
    c.bytesReceived(makeBellAssignment(6, name.substr(0, 80), "3").bytes());
    EXPECT_TRUE(c.ringing().bellTable[2].ownBell);
}

// ---------------------------------------------------------------------------
// The tower list and joining

TEST_F(Dispatch, TheTowerChoiceOpensWhenTheListIsCompleteInNameOrder)
{
    std::vector<std::vector<std::string>> offered;
    host.towerChoice = [&](const TowerList& towers) {
        std::vector<std::string> names;
        for (const auto& [name, description] : towers)
            names.push_back(name);
        offered.push_back(names);
        return std::optional<std::string>("Beech");
    };
    deliver(makeTowerEntry(3, "Elm", "e"));
    deliver(makeTowerEntry(3, "Ash", "a"));
    EXPECT_TRUE(offered.empty());
    deliver(makeTowerEntry(3, "Beech", "b"));
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], (std::vector<std::string>{"Ash", "Beech", "Elm"}));
    const auto sent = host.takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes(), makeJoinTower("Beech", "Tolvane").bytes());

    deliver(makeTowerEntry(3, "Elm", "new"));
    EXPECT_EQ(offered.size(), 2u) << "a list sent again opens the choice again";
    EXPECT_EQ(controller.towers().at("Elm"), "new");
}

TEST_F(Dispatch, TowerCountsThatNeverMatch)
{
    deliver(makeTowerEntry(5, "Ash", ""));
    deliver(makeTowerEntry(-1, "Beech", ""));
    deliver(makeTowerEntry(0, "", ""));
    EXPECT_TRUE(host.offered.empty());
    FakeHost h;
    RingerController c(h, "Tolvane");
    c.connected();
    c.bytesReceived(makeTowerEntry(0, "", "").bytes());
    EXPECT_EQ(h.offered.size(), 1u) << "an empty list still opens the choice";
}

TEST_F(Dispatch, CancellingTheChoiceEndsTheRunAndSendsNothing)
{
    deliver(makeTowerEntry(1, "Ash", ""));
    EXPECT_TRUE(host.ended);
    EXPECT_TRUE(host.takeSent().empty());
    EXPECT_FALSE(controller.running());
}

TEST_F(Dispatch, AServerTextReopensTheChoiceOnlyBeforeAConfirmation)
{
    host.towerChoice = [](const TowerList&) { return std::optional<std::string>("Ash"); };
    deliver(makeTowerEntry(1, "Ash", ""));
    deliver(makeServerText("Name in use"));
    EXPECT_EQ(host.shown, (std::vector<std::string>{"Name in use"}));
    EXPECT_EQ(host.offered.size(), 2u);
    deliver(makeJoinConfirmation("Ash"));
    EXPECT_EQ(controller.joinedTower(), "Ash");
    deliver(makeServerText("Welcome"));
    EXPECT_EQ(host.offered.size(), 2u);
}

TEST_F(Dispatch, AJoinConfirmationStopsRowsOfTheOldTower)
{
    SimulatedTower tower(6, "6");
    tower.bandStrike('1', true);
    ASSERT_TRUE(tower.engine().ringing);
    tower.deliver(makeJoinConfirmation("Elm"));
    EXPECT_EQ(tower.engine().bellCount, 0);
    EXPECT_FALSE(tower.engine().ringing);
    EXPECT_FALSE(tower.host.timerArmed());
}

TEST_F(Dispatch, AfterJoiningAnotherTowerNothingIsRungBeforeTheBellsAreAssigned)
{
    deliver(makeBellAssignment(6, "Tolvane", "1"));
    deliver(makeJoinConfirmation("Elm"));
    deliver(makeStrike(0, true, 0, 0));
    deliver(makeCall("Here's treble"));
    EXPECT_FALSE(host.timerArmed()) << "the treble of the old tower is not ours here";
    controller.strikeTimerFired();
    EXPECT_TRUE(host.takeSent().empty());
}

TEST_F(Dispatch, ALostConnectionInsideARefusalBoxDoesNotReopenTheChoice)
{
    host.towerChoice = [](const TowerList&) { return std::optional<std::string>("Ash"); };
    deliver(makeTowerEntry(1, "Ash", ""));
    host.onMessage = [&](const std::string& text) {
        if (text == "No")
            controller.connectionLost();
    };
    deliver(makeServerText("No"));
    EXPECT_EQ(host.offered.size(), 1u);
    EXPECT_EQ(host.shown, (std::vector<std::string>{"No", "Connection to Server Lost."}));
    EXPECT_TRUE(host.ended);
}

TEST_F(Dispatch, AHandlerThatOpensABoxLetsTheNestedLoopTakeTheNextMessages)
{
    deliver(makeBellAssignment(6, "Band", "123456"));
    const std::string behind = makeStrike(1, true, 0, 0).bytes();
    bool nested = false;
    host.onMessage = [&](const std::string&) {
        if (nested)
            return;
        nested = true;
        controller.bytesReceived(behind);  // what the socket delivers while the box is open
        EXPECT_TRUE(controller.ringing().ringing);
    };
    deliver(message(8, 8).bytes() + makeStrike(2, true, 0, 0).bytes());
    // The nested loop went on with the bytes behind the box's message, in order.
    EXPECT_EQ(controller.ringing().struckBells, "21");
    EXPECT_TRUE(controller.link().pendingReceive().empty());
}

// ---------------------------------------------------------------------------
// Sending

TEST_F(Dispatch, APartialSendKeepsTheTailAndQueuesBehindIt)
{
    controller.connected();
    host.wire.clear();
    host.sendLimit = 4;
    deliver(makeBellAssignment(6, "Tolvane", "1"));
    controller.ringing();
    deliver(makeCall("Here's treble"));
    controller.strikeTimerFired();
    EXPECT_EQ(host.wire.size(), 4u);
    EXPECT_TRUE(host.writeWatched);
    EXPECT_EQ(controller.link().pendingSend().size(), 10u);
    host.sendLimit = std::string::npos;
    EngineProbe::state(controller).pendingBell = 1;
    controller.strikeTimerFired();
    EXPECT_EQ(host.wire.size(), 4u) << "nothing leaves before the waiting tail";
    controller.writable();
    EXPECT_EQ(host.wire.size(), 28u);
    EXPECT_FALSE(host.writeWatched);
}

struct SendErrorCase {
    int error;
    bool reported;
    bool watched;
};

std::ostream& operator<<(std::ostream& out, const SendErrorCase& c)
{
    return out << "errno " << c.error;
}

class SendError : public testing::TestWithParam<SendErrorCase> {};

TEST_P(SendError, IsReportedOnlyWhenTheConnectionIsNotGoing)
{
    const auto& c = GetParam();
    FakeHost host;
    RingerController controller(host, "Tolvane");
    host.sendError = c.error;
    controller.connected();
    EXPECT_EQ(controller.link().pendingSend().size(), 6u) << "the bytes are kept";
    EXPECT_EQ(host.writeWatched, c.watched);
    EXPECT_TRUE(host.shown.empty()) << "no box opens in the middle of sending";
    EXPECT_EQ(host.later.size(), c.reported ? 1u : 0u);
    if (c.reported) {
        EXPECT_EQ(host.later[0], "Failed to send data - error " + std::to_string(c.error));
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, SendError, testing::Values(
    SendErrorCase{EAGAIN, false, true},
    SendErrorCase{EPIPE, false, false},
    SendErrorCase{ECONNRESET, false, false},
    SendErrorCase{ECONNABORTED, false, false},
    SendErrorCase{EBADF, false, false},
    SendErrorCase{ENOTSOCK, false, false},
    SendErrorCase{EMSGSIZE, true, false}));

TEST_F(Dispatch, ASendBufferAtItsCapLosesTheConnection)
{
    host.sendError = EAGAIN;  // the server has stopped reading
    controller.connected();
    deliver(makeBellAssignment(6, "Tolvane", "123456"));
    deliver(makeCall("Here's treble"));
    for (int i = 0; i < 200000 && controller.running(); ++i) {
        EngineProbe::state(controller).pendingBell = 1;
        controller.strikeTimerFired();
    }
    EXPECT_FALSE(controller.running());
    EXPECT_TRUE(host.ended);
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0], "Connection to Server Lost. The server has stopped taking the messages Tolvane sends.");
}

TEST_F(Dispatch, NothingIsSentAfterTheConnectionIsLost)
{
    controller.connectionLost();
    EXPECT_EQ(host.shown, (std::vector<std::string>{"Connection to Server Lost."}));
    host.wire.clear();
    EngineProbe::state(controller).pendingBell = 1;
    controller.strikeTimerFired();
    EXPECT_TRUE(host.wire.empty());
    deliver(makeCall("Here's treble"));
    EXPECT_FALSE(controller.ringing().ringing);
}

TEST_F(Dispatch, WithReconnectingOnALostConnectionSendsNothingOfItsOwnOnTheNext)
{
    controller.setReconnect(true);
    host.sendLimit = 4;  // a strike goes out half, the rest waits
    deliver(makeBellAssignment(6, "Tolvane", "1"));
    deliver(makeCall("Here's treble"));
    controller.strikeTimerFired();
    ASSERT_FALSE(controller.link().pendingSend().empty());
    controller.connectionLost();
    EXPECT_TRUE(controller.running());
    EXPECT_TRUE(host.shown.empty());
    EXPECT_FALSE(controller.ringing().ringing);
    EXPECT_FALSE(host.timerArmed());
    host.wire.clear();
    host.sendLimit = std::string::npos;
    controller.connected();
    const auto sent = host.takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes(), makeHello().bytes());
}

// ---------------------------------------------------------------------------
// Method setup

TEST_F(Dispatch, ACompileMessageIsShownOnlyOnceTheNewMethodIsInPlace)
{
    MethodSettings settings;
    settings.placeNotation = "x14x|x16x";
    settings.bobNotation = "14|16|12";
    std::size_t bobBlocksWhenShown = 99;
    host.onMessage = [&](const std::string&) { bobBlocksWhenShown = controller.compiled().callBlocks[1].size(); };
    controller.applySettings(settings);
    EXPECT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(bobBlocksWhenShown, 0u);
    EXPECT_EQ(controller.settings(), settings);
}

} // namespace
