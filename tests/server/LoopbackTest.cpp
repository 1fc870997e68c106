#include "ChangeRule.h"
#include "LoopbackHarness.h"
#include "server/ServerLoop.h"

#include <algorithm>

namespace {

constexpr int kWaitMs = 3000;
const std::string kTower = "Ash";
const std::string kSixBells = "Ash:Six bells:6";

bool isStrikeOf(const NetMessage& message, int bell)
{
    return messageType(message) == static_cast<unsigned>(MessageType::Strike) &&
           wordOf(message, layout::strike::kBell) == bell;
}

bool isCall(const NetMessage& message, const std::string& text)
{
    return messageType(message) == static_cast<unsigned>(MessageType::Call) &&
           textOf(message, layout::call::kText) == text;
}

// Every bell assignment up to the next message of another type, or a quiet spell.
std::vector<NetMessage> takeAssignments(RawClient& client, std::size_t count)
{
    std::vector<NetMessage> result;
    while (result.size() < count) {
        auto message = client.nextOfType(MessageType::BellAssignment, kWaitMs);
        if (!message)
            break;
        result.push_back(*message);
    }
    return result;
}

std::vector<NetMessage> assignments(int bells, const std::vector<std::pair<std::string, std::string>>& ringers)
{
    std::vector<NetMessage> result;
    for (const auto& [ringer, symbols] : ringers)
        result.push_back(makeBellAssignment(bells, ringer, symbols));
    return result;
}

// ---------------------------------------------------------------------------
// Towers and joining

TEST(LoopbackTest, SendsOneTowerEntryPerTowerAndNothingElseBeforeAJoin)
{
    ServerProcess server({"--tower", kSixBells, "--tower", "Elm:Eight bells:8"});
    ASSERT_NE(server.port(), 0);
    RawClient client(server.port());
    ASSERT_TRUE(client.connected());
    client.send(makeHello());
    EXPECT_EQ(client.next(kWaitMs), makeTowerEntry(2, "Ash", "Six bells"));
    EXPECT_EQ(client.next(kWaitMs), makeTowerEntry(2, "Elm", "Eight bells"));
    EXPECT_FALSE(client.next(300).has_value()) << "no server text before the client asks to join";
}

TEST(LoopbackTest, ConfirmsAJoinAndAssignsBellsAsRingersComeAndGo)
{
    ServerProcess server({"--tower", kSixBells, "--ringer", "Alice=2,3", "--conductor", "off"});
    auto alice = std::make_unique<RawClient>(server.port());
    alice->send(makeJoinTower(kTower, "Alice"));
    EXPECT_EQ(alice->next(kWaitMs), makeJoinConfirmation(kTower));
    EXPECT_EQ(takeAssignments(*alice, 2), assignments(6, {{"Alice", "23"}, {"Band", "1456"}}));

    RawClient bob(server.port());
    bob.send(makeJoinTower(kTower, "Bob"));
    EXPECT_EQ(bob.next(kWaitMs), makeJoinConfirmation(kTower));
    const auto both = assignments(6, {{"Alice", "23"}, {"Bob", ""}, {"Band", "1456"}});
    EXPECT_EQ(takeAssignments(bob, 3), both);
    EXPECT_EQ(takeAssignments(*alice, 3), both);

    alice.reset();
    EXPECT_EQ(takeAssignments(bob, 2), assignments(6, {{"Bob", ""}, {"Band", "123456"}}));
    EXPECT_TRUE(server.waitForLine("[Ash] leave Alice", kWaitMs));
}

TEST(LoopbackTest, RefusesAnUnknownTowerAndATakenNameWithAServerText)
{
    ServerProcess server({"--tower", kSixBells, "--conductor", "off"});
    RawClient alice(server.port());
    alice.join(kTower, "Alice");

    RawClient other(server.port());
    other.send(makeJoinTower("Nowhere", "Carol"));
    auto refusal = other.next(kWaitMs);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(messageType(*refusal), static_cast<unsigned>(MessageType::ServerText));
    EXPECT_NE(textOf(*refusal, layout::serverText::kText).find("Nowhere"), std::string::npos);

    other.send(makeJoinTower(kTower, "Alice"));
    refusal = other.next(kWaitMs);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(messageType(*refusal), static_cast<unsigned>(MessageType::ServerText));

    other.join(kTower, "Carol");  // a refused client may try again
}

// ---------------------------------------------------------------------------
// Relaying

TEST(LoopbackTest, RelaysEachStrikeToEveryRingerAsSent)
{
    ServerProcess server({"--tower", kSixBells, "--ringer", "Alice=1", "--conductor", "off", "--wait-ms", "60000"});
    RawClient alice(server.port());
    RawClient bob(server.port());
    alice.join(kTower, "Alice");
    bob.join(kTower, "Bob");

    const NetMessage stamped = makeStrike(1, true, 0xBEEF, 0x1234);
    NetMessage unstamped(stamped.bytes().substr(0, 10));
    unstamped.putWord(layout::kLengthOffset, 10);
    unstamped.putWord(layout::strike::kStroke, 0);
    alice.send(stamped);
    alice.send(unstamped);
    for (RawClient* client : {&alice, &bob}) {
        EXPECT_EQ(client->nextMatching([](const NetMessage& m) { return isStrikeOf(m, 1); }, kWaitMs), stamped);
        EXPECT_EQ(client->nextMatching([](const NetMessage& m) { return isStrikeOf(m, 1); }, kWaitMs), unstamped);
    }
    EXPECT_TRUE(server.waitForLine("strike bell 1 H stamp 48879 at ", kWaitMs));
    EXPECT_TRUE(server.waitForLine("strike bell 1 B stamp - at ", kWaitMs));
}

TEST(LoopbackTest, RelaysEachCallToEveryRingerAnEmptyOneIncluded)
{
    ServerProcess server({"--tower", kSixBells, "--conductor", "off"});
    RawClient alice(server.port());
    RawClient bob(server.port());
    alice.join(kTower, "Alice");
    bob.join(kTower, "Bob");
    for (const std::string text : {"Bob", ""}) {
        alice.send(makeCall(text));
        for (RawClient* client : {&alice, &bob})
            EXPECT_EQ(client->nextOfType(MessageType::Call, kWaitMs), makeCall(text)) << "'" << text << "'";
    }
    EXPECT_TRUE(server.waitForLine("call \"Bob\" by Alice", kWaitMs));
}

// ---------------------------------------------------------------------------
// Clients that send nonsense

TEST(LoopbackErrorTest, DropsAClientSendingNonsenseAndServesTheRest)
{
    ServerProcess server({"--tower", kSixBells, "--conductor", "off"});
    RawClient steady(server.port());
    steady.join(kTower, "Steady");
    takeAssignments(steady, 2);

    NetMessage shortStrike = makeStrike(1, true, 0, 0);
    shortStrike = shortStrike.substr(0, 8);
    shortStrike.putWord(0, 8);
    NetMessage type8 = makeHello();
    type8.putWord(2, 8);
    NetMessage huge = makeHello();
    huge.putWord(0, 60000);
    const std::pair<const char*, std::string> garbage[] = {
        {"length 2", std::string("\x02\x00\x01\x00\x01\x00", 6)},
        {"length 5", std::string("\x05\x00\x04\x00\x01\x00", 6)},
        {"type 8", type8.bytes()},
        {"type 0", std::string("\x06\x00\x00\x00\x01\x00", 6)},
        {"strike of 8 bytes", shortStrike.bytes()},
        {"length 60000", huge.bytes()},
        {"random bytes", std::string("\xff\xfe\x13\x37garbage!", 12)},
    };
    for (const auto& [what, bytes] : garbage) {
        RawClient bad(server.port());
        bad.join(kTower, "Bad");
        bad.sendBytes(bytes);
        EXPECT_TRUE(bad.waitClosed(kWaitMs)) << what << ": the server closes the connection";
        // The dropped ringer leaves the tower, and the others hear of it.
        // Steady, Bad and Band on the join; Steady and Band once Bad is gone.
        EXPECT_EQ(takeAssignments(steady, 5).back(), makeBellAssignment(6, "Band", "123456")) << what;
    }
    const auto lines = server.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("drop client", 0) == 0; }),
              static_cast<long>(std::size(garbage)));

    steady.send(makeHello());
    EXPECT_EQ(steady.nextOfType(MessageType::TowerEntry, kWaitMs), makeTowerEntry(1, "Ash", "Six bells"));
}

TEST(LoopbackErrorTest, IgnoresStrikesOfBellsTheTowerHasNot)
{
    ServerProcess server({"--tower", kSixBells, "--conductor", "off"});
    RawClient alice(server.port());
    alice.join(kTower, "Alice");
    takeAssignments(alice, 2);
    for (int bell : {0, 7, -1, 13})
        alice.send(makeStrike(bell, true, 1, 0));
    EXPECT_FALSE(alice.nextOfType(MessageType::Strike, 300).has_value());
    EXPECT_TRUE(server.waitForLine("ignored strike of bell 7 by Alice", kWaitMs));
    for (int i = 0; i < 20; ++i)
        alice.send(makeStrike(9, true, 1, 0));
    ASSERT_TRUE(server.waitForLine("further ignored messages are not logged", kWaitMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto lines = server.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find(": ignored ") != std::string::npos; }),
              5) << "a flood of ignored messages cannot flood the log";
}

TEST(LoopbackErrorTest, NamesFromTheNetworkCannotForgeLogLines)
{
    ServerProcess server({"--tower", kSixBells, "--conductor", "off"});
    RawClient evil(server.port());
    evil.join(kTower, "Evil\n[Ash] row 1 H 123456");
    evil.send(makeCall("Bob\rStand\\x0a"));
    // The backslash is escaped too, or a name could spell an escape of its own.
    EXPECT_TRUE(server.waitForLine("call \"Bob\\x0dStand\\x5cx0a\" by Evil\\x0a[Ash] row 1 H 123456", kWaitMs));
    for (const std::string& line : server.lines())
        EXPECT_NE(line.rfind("[Ash] row", 0), 0u) << line;
}

TEST(LoopbackTest, ASlowNetworkDelaysEveryMessageBothWaysInOrder)
{
    ServerProcess server({"--tower", kSixBells, "--tower", "Elm:Eight bells:8", "--conductor", "off",
                          "--latency-ms", "150:20"});
    RawClient client(server.port());
    const auto sent = Clock::now();
    client.send(makeHello());
    EXPECT_EQ(client.next(kWaitMs), makeTowerEntry(2, "Ash", "Six bells"));
    // Only ever later under load: the trip there and back cannot be shorter.
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(2 * (150 - 20)));
    EXPECT_EQ(client.next(kWaitMs), makeTowerEntry(2, "Elm", "Eight bells"));
}

TEST(LoopbackTest, UnderLatencyWhatAClientSentBeforeClosingStillArrives)
{
    ServerProcess server({"--tower", kSixBells, "--conductor", "off", "--latency-ms", "300:100"});
    RawClient listener(server.port());
    listener.join(kTower, "Listener");
    auto caller = std::make_unique<RawClient>(server.port());
    caller->join(kTower, "Caller");
    caller->send(makeCall("Bob"));
    caller->send(makeStrike(1, true, 7, 0));
    caller.reset();

    EXPECT_EQ(listener.nextOfType(MessageType::Call, kWaitMs), makeCall("Bob"));
    EXPECT_EQ(listener.nextOfType(MessageType::Strike, kWaitMs), makeStrike(1, true, 7, 0));
    ASSERT_TRUE(server.waitForLine("[Ash] leave Caller", kWaitMs));
    const auto lines = server.lines();
    const auto at = [&](const std::string& part) {
        return std::find_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.find(part) != std::string::npos; });
    };
    EXPECT_LT(at("call \"Bob\" by Caller"), at("[Ash] leave Caller"));
    EXPECT_LT(at("strike bell 1 H stamp 7 at "), at("[Ash] leave Caller"));
}

TEST(LoopbackErrorTest, UnderLatencyAFloodIsDroppedAtItsBoundAndTheOthersServed)
{
    ServerProcess server({"--tower", kSixBells, "--conductor", "off", "--latency-ms", "2000"});
    RawClient steady(server.port());
    const long memoryBefore = server.peakMemoryKiB();

    // Strikes outside a tower: each is held for two seconds, then ignored.
    constexpr std::size_t kLimit = 64 << 20;
    RawClient flood(server.port());
    const std::size_t sent = flood.flood(makeStrike(1, true, 0, 0).bytes(), kLimit, 20000);
    EXPECT_LT(sent, kLimit) << "the server stops taking a flood";
    ASSERT_TRUE(server.waitForLine("drop client 2", kWaitMs));
    const auto lines = server.lines();
    const auto drop = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.rfind("drop client 2", 0) == 0; });
    const auto held = drop->find("sending too fast (");
    ASSERT_NE(held, std::string::npos) << *drop;
    EXPECT_LE(std::stoul(drop->substr(held + 18)), ServerLoop::kMaxHeldInbound) << *drop;
    // Unbounded, the messages of the flood alone would take a hundred MiB.
    EXPECT_LT(server.peakMemoryKiB() - memoryBefore, 16 * 1024);

    const auto sentAt = Clock::now();
    steady.send(makeHello());
    EXPECT_EQ(steady.next(10000), makeTowerEntry(1, "Ash", "Six bells"));
    EXPECT_GE(Clock::now() - sentAt, std::chrono::milliseconds(4000)) << "still delayed both ways";
}

// The flood bound counts what is on its way, not what has arrived: a ringer
// sends far more than 64 KiB over a long touch, a little at a time.
TEST(LoopbackTest, UnderLatencyARingerSendingMuchSlowlyIsNotDropped)
{
    ServerProcess server({"--tower", kSixBells, "--ringer", "Alice=1,2,3,4,5,6", "--conductor", "off",
                          "--wait-ms", "60000", "--latency-ms", "50"});
    RawClient alice(server.port());
    alice.join(kTower, "Alice");
    std::size_t sent = 0;
    for (bool handstroke = true; sent < ServerLoop::kMaxHeldInbound + 8 * 1024; handstroke = !handstroke) {
        std::string row;
        for (int bell = 1; bell <= 6; ++bell)
            row += makeStrike(bell, handstroke, 0, 0).bytes();
        alice.sendBytes(row);
        sent += row.size();
        while (alice.next(0)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    alice.send(makeHello());
    EXPECT_TRUE(alice.nextOfType(MessageType::TowerEntry, 10000).has_value()) << "still served";
    EXPECT_FALSE(server.logged("drop client")) << sent << " bytes sent";
}

TEST(LoopbackErrorTest, AStrikingReportThatCannotBeWrittenIsRefusedAtOnce)
{
    char directory[] = "/tmp/tolvane-report-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string writable = std::string(directory) + "/chart.svg";
    struct Case {
        std::string path;
        bool starts;
    };
    const Case cases[] = {{writable, true},
                          {directory, false},  // a directory
                          {std::string(directory) + "/missing/chart.svg", false}};
    for (const Case& c : cases) {
        ServerProcess server({"--tower", kSixBells, "--striking-report", c.path});
        if (c.starts) {
            EXPECT_NE(server.port(), 0) << c.path;
            EXPECT_NE(access(c.path.c_str(), F_OK), 0) << "the check leaves no file behind";
            continue;
        }
        EXPECT_EQ(server.waitExit(kWaitMs), 2) << c.path;
        EXPECT_NE(server.errors().find("cannot write the striking report " + c.path), std::string::npos)
            << server.errors();
    }
    rmdir(directory);
}

// A touch's chart replaces an old one only whole, and a full disk is said
// rather than leaving part of a chart.
TEST(LoopbackErrorTest, TheStrikingChartReplacesAnOldOneWholeOrSaysWhyNot)
{
    char directory[] = "/tmp/tolvane-chart-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string chart = std::string(directory) + "/chart.svg";
    std::ofstream(chart) << "an old chart";
    for (const std::string& path : {chart, std::string("/dev/full")}) {
        ServerProcess server({"--tower", kSixBells, "--method", "Plain Bob Minor", "--methods",
                              TOLVANE_SOURCE_DIR "/data/methods.txt", "--peal-minutes", "5", "--max-changes", "12",
                              "--start-delay-ms", "50", "--exit-when-done", "--striking-report", path});
        RawClient listener(server.port());
        listener.join(kTower, "Listener");
        ASSERT_TRUE(listener.waitClosed(30000)) << path;
        EXPECT_EQ(server.waitExit(kWaitMs), 0) << path;
        const bool full = path == "/dev/full";
        EXPECT_EQ(server.logged("cannot write /dev/full: No space left on device"), full) << path;
        EXPECT_EQ(server.logged("striking chart written to " + path), !full) << path;
    }
    std::ifstream file(chart);
    const std::string svg(std::istreambuf_iterator<char>(file), {});
    EXPECT_NE(svg.find("<svg"), std::string::npos) << svg.substr(0, 40);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    std::remove(chart.c_str());
    EXPECT_EQ(rmdir(directory), 0) << "nothing but the chart was left in the folder";
}

// ---------------------------------------------------------------------------
// The band

TEST(LoopbackTest, TheBandRingsAPlainCourseWhenNoClientHoldsBells)
{
    ServerProcess server({"--tower", kSixBells, "--method", "Plain Bob Minor", "--methods",
                          TOLVANE_SOURCE_DIR "/data/methods.txt", "--peal-minutes", "5", "--error-ms", "1",
                          "--start-delay-ms", "50", "--exit-when-done"});
    RawClient listener(server.port());
    listener.join(kTower, "Listener");
    std::vector<NetMessage> heard;
    ASSERT_TRUE(listener.waitClosed(30000, &heard)) << "the server closes once the touch stands";
    EXPECT_EQ(server.waitExit(kWaitMs), 0);

    std::vector<std::string> rows;
    std::string row;
    bool firstCall = true;
    for (const NetMessage& message : heard) {
        if (messageType(message) == static_cast<unsigned>(MessageType::Call) && firstCall) {
            EXPECT_TRUE(isCall(message, "Here's treble"));
            firstCall = false;
        }
        if (messageType(message) != static_cast<unsigned>(MessageType::Strike))
            continue;
        EXPECT_EQ(wordOf(message, layout::strike::kStroke), rows.size() % 2 == 0 ? 1 : 0);
        row += static_cast<char>('0' + wordOf(message, layout::strike::kBell));
        if (row.size() == 6) {
            rows.push_back(row);
            row.clear();
        }
    }
    EXPECT_TRUE(row.empty());
    std::vector<std::string> expected{"123456", "123456"};
    const auto plain = course("123456", {kPlainBobMinor});
    expected.insert(expected.end(), plain.begin(), plain.end());
    EXPECT_EQ(rows, expected);
    EXPECT_TRUE(server.logged("[Ash] row 62 B 123456 at "));
}

TEST(LoopbackTest, TheBandWaitsForAClientsBell)
{
    ServerProcess server({"--tower", kSixBells, "--ringer", "Alice=2", "--wait-ms", "60000", "--peal-minutes", "30",
                          "--start-delay-ms", "50"});
    RawClient alice(server.port());
    alice.join(kTower, "Alice");
    ASSERT_TRUE(alice.nextMatching([](const NetMessage& m) { return isCall(m, "Here's treble"); }, kWaitMs));
    ASSERT_TRUE(alice.nextMatching([](const NetMessage& m) { return isStrikeOf(m, 1); }, kWaitMs));
    EXPECT_FALSE(alice.next(500).has_value()) << "nothing rings while bell 2 is awaited";

    alice.send(makeStrike(2, true, 1, 0));
    EXPECT_EQ(alice.next(kWaitMs), makeStrike(2, true, 1, 0));
    const auto after = alice.next(kWaitMs);
    ASSERT_TRUE(after.has_value());
    EXPECT_TRUE(isStrikeOf(*after, 3));
    EXPECT_EQ(wordOf(*after, layout::strike::kStroke), 1);
}

TEST(LoopbackTest, TheBandRingsOnForASilentClientAndSaysSo)
{
    ServerProcess server({"--tower", kSixBells, "--ringer", "Alice=2", "--wait-ms", "100", "--peal-minutes", "30",
                          "--start-delay-ms", "50"});
    RawClient alice(server.port());
    alice.join(kTower, "Alice");
    const auto text = alice.nextOfType(MessageType::ServerText, kWaitMs);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(textOf(*text, layout::serverText::kText), "The band rings on for Alice");
    EXPECT_TRUE(server.waitForLine("[Ash] band rings bell 2 for Alice", kWaitMs));
    EXPECT_TRUE(alice.nextMatching([](const NetMessage& m) { return isStrikeOf(m, 3); }, kWaitMs));
}

// A band that keeps its rhythm, with no error and no bias, strikes each blow
// exactly at its ideal however late the server wakes for it.
TEST(LoopbackTest, AFlawlessBandKeepingItsRhythmIsJudgedFlawless)
{
    ServerProcess server({"--tower", kSixBells, "--method", "Plain Bob Minor", "--methods",
                          TOLVANE_SOURCE_DIR "/data/methods.txt", "--peal-minutes", "15", "--band-keeps-rhythm",
                          "--band-sd-ms", "0", "--band-bias-ms", "0", "--max-changes", "24", "--start-delay-ms", "50",
                          "--exit-when-done"});
    RawClient listener(server.port());
    listener.join(kTower, "Listener");
    ASSERT_TRUE(listener.waitClosed(30000)) << "the server closes once the touch stands";
    const auto lines = server.lines();
    const auto judged = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("true rhythm: band rms") != std::string::npos;
    });
    ASSERT_NE(judged, lines.end());
    EXPECT_NE(judged->find("band rms 0.0 ms"), std::string::npos) << *judged;
}

TEST(LoopbackTest, RingsSeveralTowersAtOnce)
{
    ServerProcess server({"--tower", kSixBells, "--tower", "Elm:Eight bells:8", "--peal-minutes", "20",
                          "--start-delay-ms", "50"});
    RawClient ash(server.port());
    RawClient elm(server.port());
    ash.join("Ash", "A");
    elm.join("Elm", "E");
    int highestAsh = 0;
    int highestElm = 0;
    for (int i = 0; i < 24; ++i) {
        if (auto m = ash.nextOfType(MessageType::Strike, kWaitMs))
            highestAsh = std::max(highestAsh, wordOf(*m, layout::strike::kBell));
        if (auto m = elm.nextOfType(MessageType::Strike, kWaitMs))
            highestElm = std::max(highestElm, wordOf(*m, layout::strike::kBell));
    }
    EXPECT_EQ(highestAsh, 6);
    EXPECT_EQ(highestElm, 8);
}

// ---------------------------------------------------------------------------
// Shutting down

TEST(LoopbackTest, ASignalClosesEveryConnectionAndExitsZero)
{
    for (int number : {SIGTERM, SIGINT}) {
        ServerProcess server({"--tower", kSixBells, "--conductor", "off"});
        RawClient alice(server.port());
        alice.join(kTower, "Alice");
        server.signal(number);
        EXPECT_TRUE(alice.waitClosed(kWaitMs)) << "signal " << number;
        EXPECT_EQ(server.waitExit(kWaitMs), 0) << "signal " << number;
    }
}

}  // namespace
