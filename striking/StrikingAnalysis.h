#pragma once

// Striking analysis: how far each blow of a touch lies from where the band's
// own rhythm put it, and what that says about each bell, each ringer and the
// band. The ideal is fitted from the blows themselves (see README, "Striking
// analysis"); nothing here knows about sockets, servers or Qt.

#include <string>
#include <vector>

namespace striking {

struct Blow {
    int row = 0;            // row number in the touch, counting from 0
    int place = 1;          // 1-based place in the row
    int bell = 1;           // 1..12
    bool handstroke = true;
    std::string ringer;     // who rang it, e.g. "Tolvane" or "Band"
    double timeMs = 0;      // when the judge heard it (ms, any origin)
};

struct StrikingOptions {
    double faultMs = 50;            // a blow further than this from its ideal is a fault
    int neighbourRows = 1;          // rows either side of a blow's row that its ideal is fitted through (0..16)
    double handstrokeGapBlows = 1;  // extra intervals before each handstroke row
    bool fitHandstrokeGap = false;  // estimate the gap from the touch instead of using handstrokeGapBlows
    // Blows of earlier rows (the rounds before the method, while a band is
    // still settling) get ideals and errors from a fit of their own, so that
    // a chart can show them, but count in no figure and shape no other ideal.
    int countFromRow = 0;
};

struct Stats {
    double meanMs = 0;  // mean error: early negative, late positive
    double sdMs = 0;    // sample standard deviation of the errors
    int count = 0;
    int faults = 0;
    double rmsMs = 0;   // root mean square of the errors: the mean and the spread in one figure
};
// The same figures for handstrokes alone and for backstrokes alone.
struct StrokeStats {
    Stats hand;
    Stats back;
};
struct BellStats {
    int bell = 0;
    std::string ringer;
    Stats stats;
    StrokeStats strokes;
};
struct RingerStats {
    std::string ringer;
    std::vector<int> bells;  // ascending
    Stats stats;
    StrokeStats strokes;
};

struct StrikingReport {
    std::vector<double> idealMs;       // per input blow, same order as the input
    std::vector<double> errorMs;       // per input blow: time - ideal (early negative, late positive)
    std::vector<BellStats> bells;      // ascending bell
    std::vector<RingerStats> ringers;  // in order of first appearance
    Stats band;                        // all blows together (the band's overall SD)
    StrokeStats bandStrokes;           // the same at handstroke and at backstroke
    std::vector<int> rowFaults;        // faults per row, index = row - first row (rows not counted: 0)
    double intervalMs = 0;             // the fitted mean interval between blows
    double handstrokeGapBlows = 1;     // the handstroke gap used or fitted, in blows
    double faultMs = 50;               // the fault limit the counts above used
    int countedFromRow = 0;            // blows of earlier rows count nowhere
};

// How the rows ran, from the blows' times as heard. A row's length runs from
// its first blow to the first blow of the next row; a backstroke row's
// length holds the gap before the next handstroke. A whole pull is a
// handstroke row and the backstroke row after it, from the first blow of the
// one to the first blow of the next handstroke row. The handstroke gap of a
// handstroke row is the time from the last blow of the backstroke row before
// it to its own first blow, in intervals (the touch's mean time between
// consecutive blows inside rows), less one: 1.0 is one whole blow's space.
// Rows with a missing or an extra blow are skipped, and with them every
// length and gap that needs them.
struct RowLengths {
    double meanMs = 0;
    double sdMs = 0;  // sample standard deviation
    int count = 0;
};
struct Pull {
    int row = -1;  // the handstroke row it starts with; -1 when there is none
    double lengthMs = 0;
};
struct RowFigures {
    RowLengths handstrokeRows;  // rows that start at handstroke
    RowLengths backstrokeRows;  // rows that start at backstroke, the gap after them included
    Pull quickestPull;
    Pull slowestPull;
    double gapMean = 0;  // the handstroke gap, in blows' spaces
    double gapSd = 0;
    int gaps = 0;
    double intervalMs = 0;  // the mean time between consecutive blows inside rows
    int rowsSkipped = 0;    // rows with a missing or an extra blow
};
// Rows before `countFromRow` (rounds before the method) are not judged.
RowFigures rowFigures(const std::vector<Blow>& blows, int countFromRow = 0);

// "rows: handstroke 1620.4 ms sd 12.3, backstroke 1805.1 ms sd 15.0, quickest pull 3401.2 ms at row 12,
// slowest pull 3490.0 ms at row 40, 0 rows skipped"
std::string describeRows(const RowFigures& rows);
// "handstroke gap: mean 1.02 sd 0.08 blows over 39 rows"
std::string describeGap(const RowFigures& rows);
// "Tolvane bells 7,8: rms 10.4 ms; handstroke rms 9.9 mean +0.5 sd 9.9 ms; backstroke rms 10.9 mean +0.7 sd 10.9 ms"
std::string describeStrokes(const std::string& who, const Stats& all, const StrokeStats& strokes);

// A blow is analysed when its time is within ±kMaxTimeMs, its bell and place
// are 1..12, its row is 0..kMaxRow and no earlier blow took its row and place;
// any other blow keeps ideal = its time (0 when not finite) and error 0 and
// counts nowhere. Fewer than two usable blows give an
// empty report (no rows, bells or ringers).
inline constexpr int kMaxBells = 12;
inline constexpr int kMaxRow = 1'000'000;
inline constexpr int kMaxNeighbourRows = 16;
inline constexpr double kMaxTimeMs = 1e13;  // some three centuries: any clock's milliseconds

StrikingReport analyseStriking(const std::vector<Blow>& blows, const StrikingOptions& options = {});

// One ringer's blows against ideal times known beforehand (a simulated band's
// true rhythm) rather than fitted: early negative, late positive.
struct TrueRhythmStats {
    double rmsMs = 0;
    double meanMs = 0;
    double sdMs = 0;  // population SD about the mean
    int count = 0;
    // The largest absolute mean error over any `lagRows` consecutive rows that
    // hold the ringer's blows: a steady lead or lag that one row's scatter hides.
    double lagMs = 0;
};
// `idealMs` holds one ideal per blow; blows of other ringers, and pairs
// whose time or ideal is not finite, are left out.
TrueRhythmStats judgeAgainstIdeals(const std::vector<Blow>& blows, const std::vector<double>& idealMs,
                                   const std::string& ringer, int lagRows = 6);

// "Tolvane bells 7,8: mean +3.1 ms, sd 6.2 ms, 224 blows" (sign always shown, one decimal;
// "bell 7" for a single bell).
std::string describeRinger(const RingerStats& ringer);
// "Tolvane bells 7,8", "Band bell 3": who a ringer's figures are of.
std::string describeWho(const RingerStats& ringer);

// "band: sd 21.4 ms, 672 blows, 12 faults"
std::string describeBand(const Stats& stats);

// A self-contained SVG picture of one touch: rows down the page, places across,
// each blow drawn at its ideal place shifted by its error, the highlighted
// ringers' bells in colour, and each bell's mean and SD as bars beside it.
// All embedded text is XML-escaped.
std::string strikingChartSvg(const std::vector<Blow>& blows, const StrikingReport& report, const std::string& title,
                             const std::vector<std::string>& highlightRingers);

}  // namespace striking
