#include "server/Band.h"

#include "ChangeRule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <array>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kSymbols = "1234567890ET";

struct StrikeRecord {
    int bell;
    bool handstroke;
    Micros at;
};

class Recorder : public BandOutput {
public:
    explicit Recorder(const Micros& clock) : clock(clock) {}
    void strike(int bell, bool handstroke) override { strikes.push_back({bell, handstroke, clock}); }
    void call(const std::string& text) override { calls.push_back({text, strikes.size()}); }
    void text(const std::string& text) override { texts.push_back(text); }
    void log(const std::string& line) override { logs.push_back(line); }

    // The rows as rung, each struck bell's symbol in strike order.
    std::vector<std::string> rows(int bells) const
    {
        std::vector<std::string> result;
        std::string row;
        for (const StrikeRecord& strike : strikes) {
            row += kSymbols[static_cast<std::size_t>(strike.bell - 1)];
            if (row.size() == static_cast<std::size_t>(bells)) {
                result.push_back(row);
                row.clear();
            }
        }
        return result;
    }
    std::vector<std::string> callTexts() const
    {
        std::vector<std::string> result;
        for (const auto& call : calls)
            result.push_back(call.first);
        return result;
    }
    std::size_t callAt(const std::string& text) const
    {
        const auto found = std::find_if(calls.begin(), calls.end(), [&](const auto& c) { return c.first == text; });
        return found == calls.end() ? SIZE_MAX : found->second;
    }
    bool logged(const std::string& part) const
    {
        return std::any_of(logs.begin(), logs.end(),
                           [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }

    const Micros& clock;
    std::vector<StrikeRecord> strikes;
    std::vector<std::pair<std::string, std::size_t>> calls;  // text, strikes made before it
    std::vector<std::string> texts;
    std::vector<std::string> logs;
};

class BandTest : public ::testing::Test {
protected:
    static constexpr Micros kInterval = 100'000;
    static constexpr Micros kWait = 1'000'000;
    static constexpr Micros kStartDelay = 500'000;

    BandSettings settings(int bells = 6) const
    {
        BandSettings band;
        band.bells = bells;
        band.interval = kInterval;
        band.errorSd = 0;
        band.biasBound = 0;
        band.wait = kWait;
        band.startDelay = kStartDelay;
        return band;
    }

    void makeBand(const BandSettings& band, const std::string& notation = "x16x16x16,12",
                  const std::string& composition = "")
    {
        MethodSettings method;
        method.placeNotation = notation;
        method.bobNotation = "14";
        method.singleNotation = "1234";
        method.goAndStopMode = band.mode;
        auto compiled = std::make_shared<CompiledMethod>();
        MessageList messages;
        compileMethod(*compiled, method, messages);
        parseComposition(*compiled, composition);
        this->band = std::make_unique<Band>(band, compiled, out);
    }

    // Moves the clock from deadline to deadline, up to `limit`.
    void runUntil(Micros limit)
    {
        for (int guard = 0; guard < 100000; ++guard) {
            const auto due = band->deadline();
            if (!due || *due > limit)
                break;
            now = std::max(now, *due);
            band->onTime(now);
        }
    }
    void runToEnd() { runUntil(1'000'000'000'000); }
    // Moves the clock on until the band has struck `count` times in all.
    void runUntilStrikes(std::size_t count)
    {
        while (out.strikes.size() < count && band->deadline()) {
            now = std::max(now, *band->deadline());
            band->onTime(now);
        }
    }

    void clientStrike(int bell, bool handstroke, const std::string& ringer = "Tester")
    {
        band->onStrike(bell, handstroke, ringer, now);
    }

    Micros now = 0;
    Recorder out{now};
    std::unique_ptr<Band> band;
};

// ---------------------------------------------------------------------------
// Row stepping

TEST_F(BandTest, RingsAPlainCourseFromRoundsAndStandsAtRounds)
{
    makeBand(settings());
    band->setClients({}, true, now);
    runToEnd();

    std::vector<std::string> expected{"123456", "123456"};
    const auto plain = course("123456", {kPlainBobMinor});
    expected.insert(expected.end(), plain.begin(), plain.end());
    EXPECT_EQ(out.rows(6), expected);
    EXPECT_EQ(out.strikes.size(), expected.size() * 6) << "no strikes after the touch stands";
    EXPECT_EQ(out.callTexts(), std::vector<std::string>{"Here's treble"});
    EXPECT_FALSE(band->ringing());
    EXPECT_TRUE(band->done());
    const std::size_t methodBlows = out.strikes.size() - 2 * 6;
    EXPECT_TRUE(out.logged("striking touch 1: band: sd 0.0 ms, " + std::to_string(methodBlows) + " blows"))
        << "judged from the method on";
}

// A band striking exactly on its beat, 100 ms apart and one more interval
// before each handstroke row: its rows and gap, as the lines scripts read.
TEST_F(BandTest, TheRowsAndTheHandstrokeGapOfATouchAreWrittenForScripts)
{
    makeBand(settings());
    band->setClients({}, true, now);
    runToEnd();
    const auto line = [&](const std::string& part) {
        const auto found = std::find_if(out.logs.begin(), out.logs.end(),
                                        [&](const std::string& l) { return l.find(part) != std::string::npos; });
        return found == out.logs.end() ? std::string() : found->substr(found->find(part));
    };
    double hand = 0, handSd = -1, back = 0, backSd = -1, quickest = 0, slowest = 0, gap = 0, gapSd = -1;
    int quickestRow = 0, slowestRow = 0, skipped = -1, gaps = 0;
    ASSERT_EQ(std::sscanf(line("striking touch 1: rows: ").c_str(),
                          "striking touch 1: rows: handstroke %lf ms sd %lf, backstroke %lf ms sd %lf, quickest pull "
                          "%lf ms at row %d, slowest pull %lf ms at row %d, %d rows skipped",
                          &hand, &handSd, &back, &backSd, &quickest, &quickestRow, &slowest, &slowestRow, &skipped),
              9)
        << line("rows: ");
    ASSERT_EQ(std::sscanf(line("striking touch 1: handstroke gap: ").c_str(),
                          "striking touch 1: handstroke gap: mean %lf sd %lf blows over %d rows", &gap, &gapSd, &gaps),
              3)
        << line("handstroke gap: ");
    // Six blows to the next row's first at handstroke, seven with the gap at backstroke.
    EXPECT_DOUBLE_EQ(hand, 600.0);
    EXPECT_DOUBLE_EQ(back, 700.0);
    EXPECT_DOUBLE_EQ(handSd, 0.0);
    EXPECT_DOUBLE_EQ(quickest, 1300.0);
    EXPECT_DOUBLE_EQ(slowest, 1300.0);
    EXPECT_EQ(quickestRow, 2) << "the method's first row";
    EXPECT_EQ(skipped, 0);
    EXPECT_DOUBLE_EQ(gap, 1.0);
    EXPECT_EQ(gaps, 29) << "the method's handstroke rows after its first";
    EXPECT_TRUE(out.logged("striking touch 1: strokes: band: rms 0.0 ms; handstroke rms 0.0 mean +0.0 sd 0.0 ms;"));
}

TEST_F(BandTest, BobsOfTheCompositionAreCalledTwoRowsAheadAndRung)
{
    makeBand(settings(), "x16x16x16,12", "b");
    band->setClients({}, true, now);
    runToEnd();

    std::vector<std::string> bobLead = kPlainBobMinor;
    bobLead.back() = "14";
    const auto rows = out.rows(6);
    const auto expected = course("123456", {bobLead});
    ASSERT_EQ(rows.size(), expected.size() + 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), rows.begin() + 2));

    // The first row the bob changes is the twelfth method row, row 14 of the
    // touch; the call goes out as row 12 begins.
    ASSERT_FALSE(out.calls.size() < 2);
    EXPECT_EQ(out.calls[1].first, "Bob");
    EXPECT_EQ(out.calls[1].second, 11u * 6);
}

TEST_F(BandTest, FollowsABobCalledByAClient)
{
    BandSettings band = settings();
    band.conductor = false;
    makeBand(band);
    this->band->setClients({}, true, now);
    this->band->onCall("Here's treble", "Tester", now);
    // Heard in the middle of the first lead, the bob lands at its lead end.
    runUntilStrikes(6 * 6);
    this->band->onCall("Bob", "Tester", now);
    runToEnd();

    std::vector<std::string> bobLead = kPlainBobMinor;
    bobLead.back() = "14";
    const auto rows = out.rows(6);
    ASSERT_GE(rows.size(), 14u);
    const std::vector<std::string> firstLead(rows.begin() + 2, rows.begin() + 14);
    const auto withBob = course("123456", {bobLead, kPlainBobMinor});
    EXPECT_EQ(firstLead, std::vector<std::string>(withBob.begin(), withBob.begin() + 12));
    EXPECT_NE(rows[13], course("123456", {kPlainBobMinor})[11]);
    EXPECT_TRUE(out.calls.empty()) << "the band makes no calls of its own with the conductor off";
}

TEST_F(BandTest, GoAndStopModeCallsGoThatsAllAndStand)
{
    BandSettings band = settings();
    band.mode = 1;
    makeBand(band);
    this->band->setClients({}, true, now);
    runToEnd();

    EXPECT_EQ(out.callTexts(), (std::vector<std::string>{"Here's treble", "Go", "That's All", "Stand"}));
    const auto rows = out.rows(6);
    const auto plain = course("123456", {kPlainBobMinor});
    // Rounds until Go, the pair after it, then the method.
    const std::size_t roundsBefore = 2 * (Band::kRoundsPairs + 1);
    ASSERT_GT(rows.size(), roundsBefore + plain.size());
    for (std::size_t i = 0; i < roundsBefore; ++i)
        EXPECT_EQ(rows[i], "123456") << "row " << i;
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), rows.begin() + roundsBefore));
    EXPECT_LT(out.callAt("That's All"), (roundsBefore + plain.size()) * 6) << "That's All comes before rounds";
    // Rounds after the method, standing at a backstroke.
    for (std::size_t i = roundsBefore + plain.size(); i < rows.size(); ++i)
        EXPECT_EQ(rows[i], "123456");
    EXPECT_EQ(rows.size() % 2, 0u);
    EXPECT_FALSE(this->band->ringing());
}

TEST_F(BandTest, WithoutAMethodRingsRoundsAndStands)
{
    makeBand(settings(), "");
    band->setClients({}, true, now);
    runToEnd();
    const auto rows = out.rows(6);
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(std::all_of(rows.begin(), rows.end(), [](const std::string& r) { return r == "123456"; }));
    EXPECT_EQ(out.callTexts().back(), "Stand");
    EXPECT_FALSE(band->ringing());
}

TEST_F(BandTest, ATouchThatHasNotComeRoundIsStood)
{
    BandSettings band = settings();
    band.maxChanges = 10;
    makeBand(band);
    this->band->setClients({}, true, now);
    runToEnd();
    EXPECT_EQ(out.callTexts().back(), "Stand");
    // Stand is called as the tenth change begins, a backstroke row, whose end stands.
    EXPECT_EQ(out.rows(6).size(), 2u + 10u);
    EXPECT_FALSE(this->band->ringing());
}

TEST_F(BandTest, RingsSeveralTouchesWithAPauseBetween)
{
    BandSettings band = settings();
    band.touches = 2;
    makeBand(band);
    this->band->setClients({}, true, now);
    runToEnd();
    EXPECT_EQ(this->band->touchesRung(), 2);
    EXPECT_EQ(out.rows(6).size(), 2 * (2 + course("123456", {kPlainBobMinor}).size()));
}

// ---------------------------------------------------------------------------
// Timing

TEST(StrikeIntervalTest, RingsAPealOf5040RowsInTheTimeGiven)
{
    struct Row {
        double minutes;
        int bells;
        Micros expected;
    };
    const Row rows[] = {{180, 8, 252'101}, {180, 12, 171'429}, {180, 6, 329'670}, {60, 4, 158'730}};
    for (const Row& row : rows)
        EXPECT_EQ(strikeIntervalFor(row.minutes, row.bells), row.expected) << row.bells << " bells";
}

TEST_F(BandTest, StrikesOneIntervalApartWithTheHandstrokeGap)
{
    makeBand(settings());
    band->setClients({}, true, now);
    runToEnd();
    ASSERT_GT(out.strikes.size(), 24u);
    EXPECT_EQ(out.strikes[0].at, kStartDelay + kInterval) << "the treble one interval after Here's treble";
    for (std::size_t i = 1; i < out.strikes.size(); ++i) {
        const bool leadsHandstroke = i % 12 == 0;
        EXPECT_EQ(out.strikes[i].at - out.strikes[i - 1].at, leadsHandstroke ? 2 * kInterval : kInterval)
            << "strike " << i;
    }
}

// Where each strike of a band that keeps time would fall, counted from the first.
std::vector<Micros> metronome(const std::vector<StrikeRecord>& strikes, int bells, Micros interval)
{
    std::vector<Micros> times;
    Micros at = strikes.empty() ? 0 : strikes.front().at;
    for (std::size_t i = 0; i < strikes.size(); ++i) {
        if (i > 0)
            at += i % static_cast<std::size_t>(2 * bells) == 0 ? 2 * interval : interval;
        times.push_back(at);
    }
    return times;
}

TEST_F(BandTest, UniformErrorsStayWithinTheirBoundAboutTheBeat)
{
    BandSettings band = settings();
    band.uniformError = true;
    band.maxError = 3'000;
    band.seed = 42;
    makeBand(band);
    this->band->setClients({}, true, now);
    runToEnd();
    const auto beat = metronome(out.strikes, 6, kInterval);
    bool varied = false;
    for (std::size_t i = 1; i < out.strikes.size(); ++i) {
        EXPECT_LE(std::abs(out.strikes[i].at - beat[i]), 3'000) << "strike " << i;
        varied = varied || out.strikes[i].at != beat[i];
    }
    EXPECT_TRUE(varied);
}

TEST_F(BandTest, ErrorsLieAboutTheBeatAndDoNotAddUp)
{
    BandSettings band = settings();
    band.errorSd = 10'000;
    band.seed = 3;
    band.touches = 3;
    makeBand(band);
    this->band->setClients({}, true, now);
    runToEnd();
    ASSERT_GT(out.strikes.size(), 1000u);
    // Each touch starts its own beat; the first is enough.
    const std::size_t count = 62 * 6;
    const std::vector<StrikeRecord> first(out.strikes.begin(), out.strikes.begin() + count);
    const auto beat = metronome(first, 6, kInterval);
    std::vector<double> off;
    for (std::size_t i = 0; i < count; ++i)
        off.push_back(static_cast<double>(first[i].at - beat[i]) / 1000.0);
    const auto meanOf = [](auto begin, auto end) { return std::accumulate(begin, end, 0.0) / double(end - begin); };
    const double mean = meanOf(off.begin(), off.end());
    double squares = 0;
    for (const double x : off)
        squares += (x - mean) * (x - mean);
    EXPECT_NEAR(std::sqrt(squares / count), 10.0, 1.5) << "the first blow sets the beat";
    const double drift = meanOf(off.end() - 100, off.end()) - meanOf(off.begin(), off.begin() + 100);
    EXPECT_LT(std::abs(drift), 5.0) << "a chained band would wander by tens of ms";
}

TEST_F(BandTest, EachBellsBiasLiesEitherSideOfTheBeatWithinItsBound)
{
    BandSettings band = settings();
    band.biasBound = 20'000;
    band.seed = 9;
    makeBand(band);
    this->band->setClients({}, true, now);
    runToEnd();
    // With no error, each bell is off the beat the first blow set by its bias
    // alone, every blow but that first one.
    const auto beat = metronome(out.strikes, 6, kInterval);
    std::array<Micros, 6> sum{};
    std::array<int, 6> count{};
    for (std::size_t i = 1; i < out.strikes.size(); ++i) {
        const auto bell = static_cast<std::size_t>(out.strikes[i].bell - 1);
        sum[bell] += out.strikes[i].at - beat[i];
        ++count[bell];
    }
    int early = 0;
    int late = 0;
    for (std::size_t bell = 0; bell < 6; ++bell) {
        ASSERT_GT(count[bell], 0);
        const Micros mean = sum[bell] / count[bell];
        EXPECT_LE(std::abs(mean), 20'000) << "bell " << bell + 1;
        early += mean < 0 ? 1 : 0;
        late += mean > 0 ? 1 : 0;
    }
    EXPECT_GT(early, 0);
    EXPECT_GT(late, 0);
}

TEST_F(BandTest, TheSameSeedRingsTheSameTouch)
{
    const auto strikeTimes = [this](std::uint32_t seed) {
        BandSettings band = settings();
        band.errorSd = 20'000;
        band.biasBound = 5'000;
        band.tempoDrift = 0.08;
        band.seed = seed;
        out.strikes.clear();
        now = 0;
        makeBand(band);
        this->band->setClients({}, true, now);
        runToEnd();
        std::vector<Micros> times;
        for (const StrikeRecord& strike : out.strikes)
            times.push_back(strike.at);
        return times;
    };
    const auto first = strikeTimes(5);
    EXPECT_EQ(strikeTimes(5), first);
    EXPECT_NE(strikeTimes(6), first);
}

TEST_F(BandTest, TheTempoDriftsSmoothlyWithinItsBound)
{
    BandSettings band = settings();
    band.tempoDrift = 0.08;
    band.seed = 11;
    band.touches = 4;
    band.startDelay = 0;
    makeBand(band);
    this->band->setClients({}, true, now);
    runToEnd();
    // The gap before each blow, leaving out each row's lead (a handstroke gap,
    // or the start of a touch).
    std::vector<double> paces;
    for (std::size_t i = 1; i < out.strikes.size(); ++i)
        if (i % 6 != 0)
            paces.push_back(static_cast<double>(out.strikes[i].at - out.strikes[i - 1].at) / kInterval);
    ASSERT_GT(paces.size(), 1000u);
    const auto [slowest, fastest] = std::minmax_element(paces.begin(), paces.end());
    EXPECT_GE(*slowest, 0.92 - 1e-4);
    EXPECT_LE(*fastest, 1.08 + 1e-4);
    EXPECT_GT(*fastest - *slowest, 0.04) << "the pace does wander";
    for (std::size_t i = 1; i < paces.size(); ++i)
        EXPECT_LT(std::abs(paces[i] - paces[i - 1]), 0.015) << "no jump at blow " << i;
}

TEST_F(BandTest, ALittleLateWakeUpDoesNotDelayTheNextBellButAStallDoes)
{
    makeBand(settings());
    band->setClients({}, true, now);
    runUntil(kStartDelay);  // Here's treble
    const Micros trebleDue = *band->deadline();
    now = trebleDue + Band::kLateWakeUp;
    band->onTime(now);
    EXPECT_EQ(band->deadline(), trebleDue + kInterval) << "timed from when the treble was due";

    // A short stall leaves the next bell on the beat; a long one holds it
    // half an interval clear, and the beat moves back with it.
    const Micros secondDue = *band->deadline();
    now = secondDue + 30'000;
    band->onTime(now);
    EXPECT_EQ(band->deadline(), secondDue + kInterval);
    const Micros thirdDue = *band->deadline();
    now = thirdDue + 80'000;
    band->onTime(now);
    EXPECT_EQ(band->deadline(), now + kInterval / 2);
    const Micros fourth = *band->deadline();
    now = fourth;
    band->onTime(now);
    EXPECT_EQ(band->deadline(), fourth + kInterval) << "and rings on at its pace from there";
}

TEST_F(BandTest, ABandThatKeepsItsRhythmDoesNotMoveBackForALateClient)
{
    for (const bool keeps : {false, true}) {
        BandSettings settings = this->settings();
        settings.keepsRhythm = keeps;
        makeBand(settings);
        now = 0;
        out.strikes.clear();
        band->setClients({{2, "Tester"}}, true, now);
        runUntil(kStartDelay + kInterval);
        const Micros treble = out.strikes.at(0).at;
        // Bell 2 comes 80 ms late: too close to bell 3's time for a band
        // that follows, which moves its beat back by 30 ms.
        now = treble + kInterval + 80'000;
        clientStrike(2, true);
        runUntilStrikes(3);
        const Micros shift = keeps ? 0 : 30'000;
        EXPECT_EQ(out.strikes.at(1).at, treble + 2 * kInterval + shift) << keeps;
        EXPECT_EQ(out.strikes.at(2).at, treble + 3 * kInterval + shift) << keeps;
    }
}

// Its true rhythm judges a flawless band flawless however late the server
// wakes for each blow; a bell a late client held back strikes when freed.
TEST_F(BandTest, ABandThatKeepsItsRhythmStrikesAtItsTimeHoweverLateItWakes)
{
    BandSettings settings = this->settings();
    settings.keepsRhythm = true;
    makeBand(settings);
    band->setClients({}, true, now);
    for (int guard = 0; guard < 100000 && band->deadline(); ++guard) {
        now = std::max(now, *band->deadline() + 5'000);
        band->onTime(now);
    }
    EXPECT_TRUE(out.logged("true rhythm: band rms 0.0 ms")) << out.logs.back();
}

TEST_F(BandTest, WaitsForAClientsBellThenFollowsItsStrike)
{
    makeBand(settings());
    band->setClients({{2, "Tester"}}, true, now);
    runUntil(kStartDelay + kInterval);
    ASSERT_EQ(out.strikes.size(), 1u);
    EXPECT_EQ(band->nextBell(), 2);
    runUntil(kStartDelay + 2 * kInterval + kWait - 1);
    EXPECT_EQ(out.strikes.size(), 1u) << "the band waits for bell 2";

    const Micros late = kStartDelay + 2 * kInterval + 400'000;
    now = late;
    clientStrike(2, true);
    runUntil(late + kInterval);
    ASSERT_EQ(out.strikes.size(), 2u);
    EXPECT_EQ(out.strikes[1].bell, 3);
    EXPECT_EQ(out.strikes[1].at, late + kInterval / 2) << "half an interval after the late bell";
    EXPECT_TRUE(out.texts.empty());
}

TEST_F(BandTest, RingsOnWithoutASilentClientAndSaysSo)
{
    makeBand(settings());
    band->setClients({{2, "Tester"}}, true, now);
    const Micros trebleAt = kStartDelay + kInterval;
    runUntil(trebleAt + kInterval + kWait);
    ASSERT_EQ(out.strikes.size(), 2u);
    EXPECT_EQ(out.strikes[1].bell, 2);
    EXPECT_EQ(out.strikes[1].at, trebleAt + kInterval + kWait);
    EXPECT_EQ(out.texts, std::vector<std::string>{"The band rings on for Tester"});
    EXPECT_TRUE(out.logged("band rings bell 2 for Tester"));

    // While the client stays silent its bell is rung on time, and said once.
    runUntil(now + 12 * kInterval);
    ASSERT_GE(out.strikes.size(), 8u);
    EXPECT_EQ(out.strikes[7].bell, 2);
    EXPECT_EQ(out.strikes[7].at - out.strikes[6].at, kInterval);
    EXPECT_EQ(out.texts.size(), 1u);
}

TEST_F(BandTest, AClientHeardAgainIsWaitedForAgainAndItsEarlyStrikeCounts)
{
    makeBand(settings());
    band->setClients({{2, "Tester"}}, true, now);
    runUntil(kStartDelay + 2 * kInterval + kWait);  // bell 2 rung for the silent client
    runUntilStrikes(6);
    clientStrike(2, false);                          // out of turn, before the treble's backstroke
    runUntilStrikes(8);
    EXPECT_EQ(out.strikes[6].bell, 1);
    EXPECT_EQ(out.strikes[7].bell, 3) << "bell 2 was already heard in this row";

    // The band's five strikes of the backstroke row complete it; bell 2 leads
    // the first method row, 214365, after the handstroke gap.
    runUntilStrikes(11);
    ASSERT_EQ(out.strikes[10].bell, 6);
    EXPECT_EQ(band->currentRow(), "214365");
    EXPECT_EQ(band->nextBell(), 2);
    EXPECT_EQ(band->deadline(), out.strikes[10].at + 2 * kInterval + kWait) << "waited for again";
}

TEST_F(BandTest, SaysItRingsOnForARingerOncePerTouch)
{
    BandSettings settings = this->settings();
    settings.touches = 2;
    makeBand(settings);
    band->setClients({{2, "Tester"}}, true, now);
    runUntil(kStartDelay + 2 * kInterval + kWait);  // rung for the silent client
    runUntilStrikes(6);
    clientStrike(2, false);  // heard again, then silent again: waited for and rung for once more
    while (band->touchesRung() < 1 && band->deadline()) {
        now = std::max(now, *band->deadline());
        band->onTime(now);
    }
    EXPECT_EQ(out.texts.size(), 1u) << "said once in the touch";
    runToEnd();
    EXPECT_EQ(out.texts.size(), 2u) << "and once in the next";
}

// ---------------------------------------------------------------------------
// Following what the clients do

TEST_F(BandTest, AClientStrikeStartsTheRingingWithTheConductorOff)
{
    BandSettings band = settings();
    band.conductor = false;
    makeBand(band);
    this->band->setClients({{1, "Tester"}}, true, now);
    runToEnd();
    EXPECT_TRUE(out.strikes.empty()) << "nothing happens until a client starts";
    now = 1'000;
    clientStrike(1, true);
    EXPECT_TRUE(this->band->ringing());
    runUntil(now + kInterval);
    ASSERT_EQ(out.strikes.size(), 1u);
    EXPECT_EQ(out.strikes[0].bell, 2);
    EXPECT_TRUE(out.calls.empty());
    // The client's blow sets the beat: the band's bells follow it one interval apart.
    runUntilStrikes(5);
    for (std::size_t i = 0; i < out.strikes.size(); ++i)
        EXPECT_EQ(out.strikes[i].at, 1'000 + static_cast<Micros>(i + 1) * kInterval) << "bell " << out.strikes[i].bell;
}

TEST_F(BandTest, RepeatedStrokesAreIgnored)
{
    BandSettings band = settings();
    band.conductor = false;
    makeBand(band);
    this->band->setClients({{1, "Tester"}}, true, now);
    this->band->onCall("Here's treble", "Tester", now);
    clientStrike(1, true);
    now += 10;
    clientStrike(1, true);
    EXPECT_EQ(this->band->nextBell(), 2);
    runUntil(now + kInterval - 10);
    ASSERT_EQ(out.strikes.size(), 1u);
    EXPECT_EQ(out.strikes[0].at, kInterval) << "timed from the first report, not the repeat";
}

TEST_F(BandTest, ABellLeftAtHandstrokeIsRungRoundBeforeItsHandstroke)
{
    BandSettings band = settings();
    band.conductor = false;
    makeBand(band);
    this->band->setClients({{2, "Tester"}}, true, now);
    clientStrike(2, true);                             // starts; bell 2 is now at handstroke
    this->band->onCall("Here's treble", "Tester", now);  // restarts with bell 2 still at handstroke
    runUntil(now + 2 * kInterval + kWait);
    ASSERT_GE(out.strikes.size(), 3u);
    EXPECT_EQ(out.strikes[1].bell, 2);
    EXPECT_FALSE(out.strikes[1].handstroke);
    EXPECT_EQ(out.strikes[2].bell, 2);
    EXPECT_TRUE(out.strikes[2].handstroke);
    EXPECT_EQ(this->band->nextBell(), 3);
}

TEST_F(BandTest, NewAssignmentsStopTheRingingAndTheConductorStartsAgain)
{
    makeBand(settings());
    band->setClients({}, true, now);
    runUntil(kStartDelay + 10 * kInterval);
    ASSERT_TRUE(band->ringing());
    const std::size_t before = out.strikes.size();
    const Micros changedAt = now;
    band->setClients({{3, "Other"}}, true, now);
    EXPECT_FALSE(band->ringing());
    runUntil(changedAt + kStartDelay - 1);
    EXPECT_EQ(out.strikes.size(), before);
    runUntil(changedAt + kStartDelay);
    EXPECT_EQ(out.callTexts().back(), "Here's treble");
    EXPECT_TRUE(band->ringing());
}

TEST_F(BandTest, LogsEachRowWithItsStrikeTimes)
{
    makeBand(settings(4), "x14x14,12");
    band->setClients({}, true, now);
    runUntil(kStartDelay + 4 * kInterval);
    EXPECT_TRUE(out.logged("row 1 H 1234 at 600.000 | 1:+0 2:+100 3:+200 4:+300")) << out.logs.back();
}

}  // namespace
