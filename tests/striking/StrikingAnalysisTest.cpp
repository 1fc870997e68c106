#include "striking/StrikingAnalysis.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>

using namespace striking;

namespace {

// The rows of a plain course of Plain Bob on an even `stage` (rounds first and last).
std::vector<std::vector<int>> plainCourse(int stage)
{
    std::vector<int> row(stage);
    for (int i = 0; i < stage; ++i)
        row[i] = i + 1;
    std::vector<std::vector<int>> rows{row};
    for (int change = 0;; ++change) {
        const bool cross = change % 2 == 0;
        const bool leadEnd = change % (2 * stage) == 2 * stage - 1;
        const int from = cross ? 0 : leadEnd ? 2 : 1;
        for (int i = from; i + 1 < stage; i += 2)
            std::swap(row[i], row[i + 1]);
        rows.push_back(row);
        if (std::is_sorted(row.begin(), row.end()))
            return rows;
    }
}

struct Touch {
    int stage = 8;
    double intervalMs = 200;
    double gapBlows = 1;
    double sdMs = 0;
    double driftPercent = 0;  // the pace wanders sinusoidally within this over the touch
    std::map<int, double> biasMs = {};  // bell -> steady bias
    std::vector<int> clientBells{7, 8};
    unsigned seed = 1;
};

// Blows at known errors about a known rhythm: the position of each blow (in
// intervals, with the handstroke gap) is turned into a time through the pace.
std::vector<Blow> synthesise(const Touch& touch)
{
    std::mt19937 random(touch.seed);
    std::normal_distribution<double> noise(0, touch.sdMs);
    const auto rows = plainCourse(touch.stage);
    const double positions = rows.size() * (touch.stage + touch.gapBlows / 2);
    std::vector<Blow> blows;
    double clock = 0;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const bool handstroke = r % 2 == 0;
        for (int place = 1; place <= touch.stage; ++place) {
            const double steps = place == 1 && handstroke && r > 0 ? 1 + touch.gapBlows : place == 1 && r == 0 ? 0 : 1;
            const double phase = 2 * std::numbers::pi * (r * touch.stage + place) / positions;
            clock += steps * touch.intervalMs * (1 + touch.driftPercent / 100 * std::sin(phase));
            const int bell = rows[r][place - 1];
            const bool client = std::count(touch.clientBells.begin(), touch.clientBells.end(), bell) > 0;
            const double bias = touch.biasMs.count(bell) ? touch.biasMs.at(bell) : 0.0;
            blows.push_back({r, place, bell, handstroke, client ? "Tolvane" : "Band", clock + bias + noise(random)});
        }
    }
    return blows;
}

double maxAbsError(const StrikingReport& report)
{
    double worst = 0;
    for (const double e : report.errorMs)
        worst = std::max(worst, std::abs(e));
    return worst;
}

}  // namespace

TEST(StrikingAnalysis, PerfectTouchHasNoErrorAndTheTrueInterval)
{
    for (const int stage : {6, 8, 12}) {
        const auto report = analyseStriking(synthesise({.stage = stage, .intervalMs = 180}));
        EXPECT_LT(maxAbsError(report), 1e-6) << stage;
        EXPECT_NEAR(report.intervalMs, 180, 1e-6);
        EXPECT_EQ(report.bells.size(), static_cast<std::size_t>(stage));
        EXPECT_EQ(report.band.faults, 0);
    }
}

struct BiasCase {
    int stage;
    double sdMs;
    std::map<int, double> biasMs;
    unsigned seed;
};

// A bell's steady bias is measured against the rest of the band, so the
// others read the biased bells' average share the other way.
double expectedMean(const BiasCase& c, int bell)
{
    double others = 0;
    for (const auto& [b, bias] : c.biasMs)
        others += b == bell ? 0 : bias;
    return (c.biasMs.count(bell) ? c.biasMs.at(bell) : 0.0) - others / (c.stage - 1);
}

TEST(StrikingAnalysis, RecoversKnownBiasAndSd)
{
    const std::vector<BiasCase> cases{
        {8, 20, {}, 1},
        {8, 20, {{7, 30}}, 1},
        {8, 20, {{3, -25}, {8, 15}}, 2},
        {8, 30, {{1, 20}}, 3},
        {12, 20, {{11, 30}}, 4},
        {6, 25, {{4, -30}}, 5},
    };
    for (const BiasCase& c : cases) {
        const auto blows = synthesise({.stage = c.stage, .sdMs = c.sdMs, .biasMs = c.biasMs, .seed = c.seed});
        const auto report = analyseStriking(blows);
        SCOPED_TRACE(::testing::Message() << "stage " << c.stage << " seed " << c.seed);
        double spread = 0;
        for (int bell = 1; bell <= c.stage; ++bell)
            spread += expectedMean(c, bell) * expectedMean(c, bell) / c.stage;
        EXPECT_NEAR(report.band.sdMs, std::sqrt(c.sdMs * c.sdMs + spread), c.sdMs * 0.08);
        for (const BellStats& bell : report.bells) {
            const double standardError = c.sdMs / std::sqrt(bell.stats.count);
            EXPECT_NEAR(bell.stats.meanMs, expectedMean(c, bell.bell), 3 * standardError + 1) << "bell " << bell.bell;
            // Sampling spread of an SD, and a few percent for the ideal being fitted from noisy blows too.
            EXPECT_NEAR(bell.stats.sdMs, c.sdMs, c.sdMs * (3 / std::sqrt(2.0 * bell.stats.count) + 0.06))
                << "bell " << bell.bell;
        }
    }
}

TEST(StrikingAnalysis, ReportsPerRingerInOrderOfFirstBlow)
{
    const auto report = analyseStriking(synthesise({.sdMs = 20, .biasMs = {{7, 30}, {8, 30}}}));
    ASSERT_EQ(report.ringers.size(), 2u);
    EXPECT_EQ(report.ringers[0].ringer, "Band");
    EXPECT_EQ(report.ringers[0].bells, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(report.ringers[1].ringer, "Tolvane");
    EXPECT_EQ(report.ringers[1].bells, (std::vector<int>{7, 8}));
    EXPECT_EQ(report.ringers[1].stats.count, 2 * 113);
    EXPECT_NEAR(report.ringers[1].stats.meanMs, 30, 6);
    EXPECT_EQ(report.band.count, 8 * 113);
    EXPECT_EQ(report.rowFaults.size(), 113u);
}

TEST(StrikingAnalysis, HandstrokeGapIsPartOfTheRhythm)
{
    for (const double gap : {0.0, 0.5, 1.0, 1.5}) {
        const auto blows = synthesise({.gapBlows = gap});
        EXPECT_LT(maxAbsError(analyseStriking(blows, {.handstrokeGapBlows = gap})), 1e-6) << gap;
        // The wrong gap shows as error: the rhythm is not a plain line of blows.
        EXPECT_GT(maxAbsError(analyseStriking(blows, {.handstrokeGapBlows = gap + 1})), 20) << gap;
        const auto noisy = synthesise({.gapBlows = gap, .sdMs = 20, .seed = 7});
        const auto fitted = analyseStriking(noisy, {.fitHandstrokeGap = true});
        EXPECT_NEAR(fitted.handstrokeGapBlows, gap, 0.1);
        EXPECT_NEAR(fitted.band.sdMs, 20, 2);
    }
}

TEST(StrikingAnalysis, WildBlowDoesNotWreckItsRow)
{
    for (const double sd : {0.0, 20.0}) {
        for (const double wild : {400.0, -300.0, 150.0}) {
            auto blows = synthesise({.sdMs = sd, .seed = 11});
            const auto clean = analyseStriking(blows);
            const std::size_t target = 50 * 8 + 3;  // row 50, place 4
            blows[target].timeMs += wild;
            const auto report = analyseStriking(blows);
            SCOPED_TRACE(::testing::Message() << "sd " << sd << " wild " << wild);
            EXPECT_NEAR(report.errorMs[target], clean.errorMs[target] + wild, 3);
            for (std::size_t i = 49 * 8; i < 52 * 8; ++i) {
                if (i != target) {
                    EXPECT_NEAR(report.errorMs[i], clean.errorMs[i], sd == 0 ? 0.5 : 3) << i;
                }
            }
            EXPECT_EQ(report.rowFaults[50], clean.rowFaults[50] + (std::abs(wild) > 50 ? 1 : 0));
        }
    }
}

TEST(StrikingAnalysis, AFaultIsEarlyOrLateBeyondTheLimit)
{
    auto blows = synthesise({});
    blows[10 * 8 + 2].timeMs -= 80;  // row 10: early
    blows[20 * 8 + 4].timeMs += 80;  // row 20: late
    blows[30 * 8 + 1].timeMs += 30;  // row 30: within the limit
    const auto report = analyseStriking(blows);
    EXPECT_EQ(report.band.faults, 2);
    EXPECT_EQ(report.rowFaults[10], 1);
    EXPECT_EQ(report.rowFaults[20], 1);
    EXPECT_EQ(report.rowFaults[30], 0);
}

TEST(StrikingAnalysis, JudgedAgainstKnownIdeals)
{
    // One blow a row by "T", 10 ms late for six rows then 2 ms early for six;
    // the band's blows, and a blow with no finite time, count elsewhere.
    std::vector<Blow> blows;
    std::vector<double> ideals;
    for (int row = 0; row < 12; ++row) {
        blows.push_back({row, 1, 1, row % 2 == 0, "T", row * 1000.0 + (row < 6 ? 10 : -2)});
        blows.push_back({row, 2, 2, row % 2 == 0, "Band", row * 1000.0 + 150});
        ideals.insert(ideals.end(), {row * 1000.0, row * 1000.0});
    }
    blows.push_back({12, 1, 1, true, "T", std::numeric_limits<double>::quiet_NaN()});
    ideals.push_back(12000);
    const TrueRhythmStats stats = judgeAgainstIdeals(blows, ideals, "T");
    EXPECT_EQ(stats.count, 12);
    EXPECT_NEAR(stats.meanMs, 4, 1e-9);
    EXPECT_NEAR(stats.rmsMs, std::sqrt(52.0), 1e-9);
    EXPECT_NEAR(stats.sdMs, 6, 1e-9);
    EXPECT_NEAR(stats.lagMs, 10, 1e-9);  // the first six rows
    EXPECT_NEAR(judgeAgainstIdeals(blows, ideals, "T", 20).lagMs, 4, 1e-9);  // shorter than one stretch
    EXPECT_NEAR(judgeAgainstIdeals(blows, ideals, "Band").meanMs, 150, 1e-9);
    EXPECT_EQ(judgeAgainstIdeals(blows, ideals, "nobody").count, 0);
}

TEST(StrikingAnalysis, SlowDriftIsNotError)
{
    const auto perfect = analyseStriking(synthesise({.driftPercent = 8}));
    EXPECT_LT(maxAbsError(perfect), 5);
    const auto noisy = analyseStriking(synthesise({.sdMs = 20, .driftPercent = 8, .seed = 3}));
    EXPECT_NEAR(noisy.band.sdMs, 20, 2);
    for (const BellStats& bell : noisy.bells)
        EXPECT_NEAR(bell.stats.meanMs, 0, 5) << bell.bell;
}

TEST(StrikingAnalysis, MissingBlowsAndEdgeRowsAreFitted)
{
    auto blows = synthesise({});
    blows.erase(blows.begin() + 8 * 20 + 2);  // a row with a blow missing
    blows.erase(blows.begin());                // and the first row short too
    blows.pop_back();
    const auto report = analyseStriking(blows);
    ASSERT_EQ(report.errorMs.size(), blows.size());
    EXPECT_LT(maxAbsError(report), 1e-6);
}

TEST(StrikingAnalysis, DegenerateInputsGiveFiniteOrEmptyReports)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<Blow>> inputs{
        {},
        {{0, 1, 1, true, "a", 5}},
        {{0, 1, 1, true, "a", 5}, {0, 1, 1, true, "a", 9}},        // one position only
        {{0, 1, 1, true, "a", 5}, {0, 2, 2, true, "b", 300}},      // one row of two
        {{0, 1, 1, true, "a", 5}, {3, 2, 1, false, "a", 3000}},    // one bell only
        {{0, 1, 1, true, "a", nan}, {0, 2, 2, true, "b", 1}, {0, 3, 0, true, "c", 2}, {-1, 1, 1, true, "", 3},
         {0, 40, 3, true, "d", 4}, {kMaxRow + 1, 1, 1, true, "e", 5}},
        {{0, 1, 1, true, "a", 1e15}, {kMaxRow, 2, 2, true, "b", 1e15 + 1}, {7, 3, 3, true, "c", -1e300}},
        std::vector<Blow>(5000, {kMaxRow, 1, 1, true, "a", 5}),  // one row and place over and over
    };
    for (std::size_t n = 0; n < inputs.size(); ++n) {
        const auto report = analyseStriking(inputs[n], {.neighbourRows = 1 << 30});
        ASSERT_EQ(report.errorMs.size(), inputs[n].size()) << n;
        ASSERT_EQ(report.idealMs.size(), inputs[n].size()) << n;
        for (std::size_t i = 0; i < inputs[n].size(); ++i) {
            EXPECT_TRUE(std::isfinite(report.errorMs[i]) && std::isfinite(report.idealMs[i])) << n << " " << i;
        }
        EXPECT_TRUE(std::isfinite(report.band.sdMs) && std::isfinite(report.intervalMs)) << n;
        if (report.band.count < 2) {
            EXPECT_TRUE(report.bells.empty() && report.ringers.empty() && report.rowFaults.empty()) << n;
        }
        EXPECT_LE(report.rowFaults.size(), static_cast<std::size_t>(kMaxRow) + 1);
        EXPECT_FALSE(strikingChartSvg(inputs[n], report, "t", {"a"}).empty());
    }
}

TEST(StrikingDescribe, RingerAndBandLines)
{
    const std::vector<std::pair<RingerStats, std::string>> ringers{
        {{"Tolvane", {7, 8}, {3.14, 6.2, 224, 0, 0}, {}}, "Tolvane bells 7,8: mean +3.1 ms, sd 6.2 ms, 224 blows"},
        {{"Band", {1, 2, 3}, {-12.96, 21.0, 3, 1, 0}, {}}, "Band bells 1,2,3: mean -13.0 ms, sd 21.0 ms, 3 blows"},
        {{"X", {5}, {-0.04, 0, 1, 0, 0}, {}}, "X bell 5: mean +0.0 ms, sd 0.0 ms, 1 blow"},
    };
    for (const auto& [stats, text] : ringers)
        EXPECT_EQ(describeRinger(stats), text);
    EXPECT_EQ(describeBand({0.5, 21.44, 672, 12, 0}), "band: sd 21.4 ms, 672 blows, 12 faults");
    EXPECT_EQ(describeBand({0, 0, 1, 1}), "band: sd 0.0 ms, 1 blow, 1 fault");
}

namespace {

// What a real XML reader makes of the chart: whether it is well formed, and
// the number of each element and the text it holds.
struct ParsedXml {
    bool wellFormed = false;
    std::string error;
    std::map<std::string, int> elements;
    std::string text;
};

ParsedXml parseXml(const std::string& document)
{
    ParsedXml parsed;
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &parsed);
    XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char**) {
        ++static_cast<ParsedXml*>(data)->elements[name];
    });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
        static_cast<ParsedXml*>(data)->text.append(text, static_cast<std::size_t>(length));
    });
    parsed.wellFormed =
        XML_Parse(parser, document.data(), static_cast<int>(document.size()), XML_TRUE) == XML_STATUS_OK;
    if (!parsed.wellFormed)
        parsed.error = XML_ErrorString(XML_GetErrorCode(parser));
    XML_ParserFree(parser);
    return parsed;
}

}  // namespace

TEST(StrikingChart, IsWellFormedXmlWhateverTheNames)
{
    // Markup, controls, broken UTF-8, the two non-characters XML forbids, a
    // lone surrogate; and a name in plain Unicode that must come through.
    const std::string hostile = "<b>&\"x\x01\xff\xef\xbf\xbe\xef\xbf\xbf\xed\xa0\x80";
    const std::string kind = "Cl\xc3\xa9mence \xe2\x99\xab";
    auto blows = synthesise({.stage = 12, .sdMs = 20});
    for (Blow& blow : blows)
        if (blow.ringer == "Tolvane")
            blow.ringer = blow.bell == 7 ? hostile : kind;
    blows.push_back({5, 1, 1, true, "Band", std::numeric_limits<double>::infinity()});  // not drawn
    blows.push_back(blows[3]);                                                           // nor a second blow in a place
    const auto report = analyseStriking(blows);
    ParsedXml chart = parseXml(strikingChartSvg(blows, report, "Tower <script>\xef\xbf\xbf", {hostile, kind}));
    ASSERT_TRUE(chart.wellFormed) << chart.error;
    EXPECT_EQ(chart.elements["circle"], static_cast<int>(blows.size()) - 2);
    EXPECT_EQ(report.band.count, static_cast<int>(blows.size()) - 2);
    EXPECT_EQ(chart.elements.count("script"), 0u);
    EXPECT_EQ(chart.elements.count("b"), 0u);
    EXPECT_NE(chart.text.find("Tower <script>?"), std::string::npos);
    EXPECT_NE(chart.text.find("<b>&\"x?????"), std::string::npos);
    EXPECT_NE(chart.text.find(kind), std::string::npos);
}

TEST(StrikingChart, PicksOutTheHighlightedRingersBells)
{
    const auto blows = synthesise({.sdMs = 20});
    const std::string svg = strikingChartSvg(blows, analyseStriking(blows), "t", {"Tolvane"});
    EXPECT_NE(svg.find("#e8590c"), std::string::npos);
}

// A ragged start, while the band settles in the rounds, is drawn but counts
// nowhere: the figures are those of the rows from the method on, alone.
TEST(StrikingAnalysis, ARaggedStartBeforeTheMethodIsShownButNotCounted)
{
    constexpr int kMethodFrom = 4;
    constexpr std::size_t kStage = 8;
    auto blows = synthesise({.stage = kStage, .sdMs = 8, .seed = 5});
    std::mt19937 random(9);
    std::normal_distribution<double> ragged(0, 60);
    for (Blow& blow : blows)
        if (blow.row < kMethodFrom)
            blow.timeMs += ragged(random);
    const std::size_t roundsBlows = kMethodFrom * kStage;
    const std::vector<Blow> method(blows.begin() + roundsBlows, blows.end());
    const auto alone = analyseStriking(method);
    const auto report = analyseStriking(blows, {.countFromRow = kMethodFrom});
    ASSERT_GT(analyseStriking(blows).band.sdMs, alone.band.sdMs + 2) << "counted, the ragged start would show";

    const auto expectSame = [](const Stats& got, const Stats& want, const std::string& what) {
        EXPECT_EQ(got.count, want.count) << what;
        EXPECT_EQ(got.faults, want.faults) << what;
        EXPECT_DOUBLE_EQ(got.meanMs, want.meanMs) << what;
        EXPECT_DOUBLE_EQ(got.sdMs, want.sdMs) << what;
    };
    expectSame(report.band, alone.band, "band");
    ASSERT_EQ(report.ringers.size(), alone.ringers.size());
    for (std::size_t i = 0; i < alone.ringers.size(); ++i)
        expectSame(report.ringers[i].stats, alone.ringers[i].stats, alone.ringers[i].ringer);
    ASSERT_EQ(report.bells.size(), alone.bells.size());
    for (std::size_t i = 0; i < alone.bells.size(); ++i)
        expectSame(report.bells[i].stats, alone.bells[i].stats, "bell " + std::to_string(alone.bells[i].bell));
    EXPECT_DOUBLE_EQ(report.intervalMs, alone.intervalMs);
    for (std::size_t i = 0; i < method.size(); ++i)
        ASSERT_DOUBLE_EQ(report.errorMs[roundsBlows + i], alone.errorMs[i]) << "blow " << i;
    std::vector<int> rowFaults(kMethodFrom, 0);
    rowFaults.insert(rowFaults.end(), alone.rowFaults.begin(), alone.rowFaults.end());
    EXPECT_EQ(report.rowFaults, rowFaults);

    // Every blow is drawn; those of the rounds pale and never ringed as faults.
    const std::string svg = strikingChartSvg(blows, report, "t", {"Tolvane"});
    EXPECT_EQ(parseXml(svg).elements["circle"], static_cast<int>(blows.size()));
    std::size_t pale = 0;
    for (auto at = svg.find("fill-opacity=\"0.35\""); at != std::string::npos; at = svg.find("fill-opacity=\"0.35\"", at + 1))
        ++pale;
    EXPECT_EQ(pale, roundsBlows);
}

// A touch of rounds on four bells whose times are laid down by hand: 100 ms
// between blows, a handstroke gap of 245 ms (2.5 of the touch's mean
// interval of 98 ms: a gap of 1.5), row 4 slow (120 ms between its blows),
// the pull of rows 6 and 7 quick (80 ms), the third 30 ms late at every
// backstroke (never first or last, so no row's span moves), and a tenth row
// with a blow missing.
std::vector<Blow> handLaidTouch()
{
    const double spacing[10] = {100, 100, 100, 100, 120, 100, 80, 80, 100, 100};
    std::vector<Blow> blows;
    double t = 0;
    for (int row = 0; row <= 10; ++row) {
        const double step = row < 10 ? spacing[row] : 100;
        for (int place = 1; place <= (row < 10 ? 4 : 3); ++place) {
            const bool handstroke = row % 2 == 0;
            const double late = place == 3 && !handstroke ? 30 : 0;
            blows.push_back({row, place, place, handstroke, place == 3 ? "Late" : "Band", t + late});
            if (place < 4)
                t += step;
        }
        // To the next row: the gap before a handstroke, one interval before
        // a backstroke (the quick pull's own within it).
        t += row % 2 == 1 ? 245 : row == 6 ? 80 : 100;
    }
    return blows;
}

TEST(RowFigures, FromATouchLaidDownByHand)
{
    const RowFigures rows = rowFigures(handLaidTouch());
    struct Expected {
        const char* what;
        double got, want, within;
    };
    const Expected figures[] = {
        // 400, 400, 460, 320, 400
        {"handstroke rows mean", rows.handstrokeRows.meanMs, 396, 1e-9},
        {"handstroke rows sd", rows.handstrokeRows.sdMs, std::sqrt(9920.0 / 4), 1e-9},
        {"handstroke rows", static_cast<double>(rows.handstrokeRows.count), 5, 0},
        // 545, 545, 545, 485: row 9 has no whole row after it
        {"backstroke rows mean", rows.backstrokeRows.meanMs, 530, 1e-9},
        {"backstroke rows sd", rows.backstrokeRows.sdMs, 30, 1e-9},
        {"backstroke rows", static_cast<double>(rows.backstrokeRows.count), 4, 0},
        {"quickest pull", rows.quickestPull.lengthMs, 805, 1e-9},
        {"quickest pull's row", static_cast<double>(rows.quickestPull.row), 6, 0},
        {"slowest pull", rows.slowestPull.lengthMs, 1005, 1e-9},
        {"slowest pull's row", static_cast<double>(rows.slowestPull.row), 4, 0},
        // 2940 ms over 30 steps inside the ten whole rows
        {"interval", rows.intervalMs, 98, 1e-9},
        {"gap mean", rows.gapMean, 1.5, 1e-9},
        {"gap sd", rows.gapSd, 0, 1e-9},
        {"gaps", static_cast<double>(rows.gaps), 4, 0},
        {"rows skipped", static_cast<double>(rows.rowsSkipped), 1, 0},
    };
    for (const Expected& figure : figures)
        EXPECT_NEAR(figure.got, figure.want, figure.within) << figure.what;

    // The rounds before the method are not judged.
    const RowFigures fromRow2 = rowFigures(handLaidTouch(), 2);
    EXPECT_EQ(fromRow2.handstrokeRows.count, 4);
    EXPECT_EQ(fromRow2.gaps, 3);
}

TEST(RowFigures, TheLinesScriptsRead)
{
    const RowFigures rows = rowFigures(handLaidTouch());
    EXPECT_EQ(describeRows(rows), "rows: handstroke 396.0 ms sd 49.8, backstroke 530.0 ms sd 30.0, quickest pull 805.0 "
                                  "ms at row 6, slowest pull 1005.0 ms at row 4, 1 row skipped");
    EXPECT_EQ(describeGap(rows), "handstroke gap: mean 1.50 sd 0.00 blows over 4 rows");
    EXPECT_EQ(describeGap(rowFigures({})), "handstroke gap: mean 0.00 sd 0.00 blows over 0 rows");
}

TEST(StrokeFigures, ABellLateOnlyAtBackstrokeShowsOnlyThere)
{
    const StrikingReport report = analyseStriking(handLaidTouch(), {.handstrokeGapBlows = 1.5});
    const auto late = std::find_if(report.ringers.begin(), report.ringers.end(),
                                   [](const RingerStats& ringer) { return ringer.ringer == "Late"; });
    ASSERT_NE(late, report.ringers.end());
    EXPECT_GT(late->strokes.back.meanMs, 15);
    EXPECT_LT(std::abs(late->strokes.hand.meanMs), 5);
    EXPECT_EQ(late->strokes.hand.count + late->strokes.back.count, late->stats.count);
    EXPECT_GT(report.bandStrokes.back.rmsMs, report.bandStrokes.hand.rmsMs);
    // The RMS holds the mean and the spread together.
    const Stats& back = late->strokes.back;
    EXPECT_NEAR(back.rmsMs * back.rmsMs, back.meanMs * back.meanMs + back.sdMs * back.sdMs * (back.count - 1) / back.count,
                1e-6);
}
