#include "striking/StrikingAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

namespace striking {
namespace {

// Tukey's biweight constant: 95 % efficient on normal errors, and a blow more
// than this many robust SDs from its first-pass ideal gets no say in the rhythm.
constexpr double kBiweightC = 4.685;
// Noise-free touches have a zero spread; the floor keeps the weights defined.
constexpr double kMinScaleMs = 1.0;
// Passes after the first, unweighted one: each refits with the weights from the last.
constexpr int kReweightPasses = 2;

bool isUsable(const Blow& blow)
{
    return std::abs(blow.timeMs) <= kMaxTimeMs && blow.bell >= 1 && blow.bell <= kMaxBells && blow.place >= 1 &&
           blow.place <= kMaxBells && blow.row >= 0 && blow.row <= kMaxRow;
}

// The touch reduced to what the fit needs: where each usable blow lies on the
// band's time line, measured in blows from the first, and when it sounded.
struct Layout {
    std::vector<int> used;               // indexes into the input of the usable blows
    std::map<int, std::vector<int>> byRow;  // row -> positions in `used`
    int firstRow = 0;
    int lastRow = 0;
    int stage = 0;
    bool evenRowsAreHandstrokes = true;
    double originMs = 0;  // subtracted from every time so that large clock values keep their precision
};

// Rows alternate strokes, so one vote over all blows decides which parity is
// the handstroke and a single mislabelled blow cannot shift its row.
bool evenRowsAreHandstrokes(const std::vector<Blow>& blows, const std::vector<int>& used)
{
    int agree = 0;
    for (const int i : used)
        agree += (blows[i].row % 2 == 0) == blows[i].handstroke ? 1 : -1;
    return agree >= 0;
}

Layout layOut(const std::vector<Blow>& blows)
{
    Layout layout;
    std::set<std::pair<int, int>> taken;  // (row, place): a second blow in one place is dropped
    for (int i = 0; i < static_cast<int>(blows.size()); ++i)
        if (isUsable(blows[i]) && taken.emplace(blows[i].row, blows[i].place).second)
            layout.used.push_back(i);
    if (layout.used.empty())
        return layout;
    layout.originMs = blows[layout.used.front()].timeMs;
    layout.firstRow = layout.lastRow = blows[layout.used.front()].row;
    for (int k = 0; k < static_cast<int>(layout.used.size()); ++k) {
        const Blow& blow = blows[layout.used[k]];
        layout.byRow[blow.row].push_back(k);
        layout.firstRow = std::min(layout.firstRow, blow.row);
        layout.lastRow = std::max(layout.lastRow, blow.row);
        layout.stage = std::max(layout.stage, blow.place);
        layout.originMs = std::min(layout.originMs, blow.timeMs);
    }
    layout.evenRowsAreHandstrokes = evenRowsAreHandstrokes(blows, layout.used);
    return layout;
}

bool isHandstrokeRow(const Layout& layout, int row)
{
    return (row % 2 == 0) == layout.evenRowsAreHandstrokes;
}

// Handstroke rows in [firstRow, row].
int handstrokeRowsUpTo(const Layout& layout, int row)
{
    const int rows = row - layout.firstRow + 1;
    return rows / 2 + (rows % 2 == 1 && isHandstrokeRow(layout, layout.firstRow) ? 1 : 0);
}

double blowPosition(const Layout& layout, const Blow& blow, double gapBlows)
{
    return double(blow.row - layout.firstRow) * layout.stage + (blow.place - 1) +
           gapBlows * handstrokeRowsUpTo(layout, blow.row);
}

struct Point {
    double position = 0;
    double timeMs = 0;
    double weight = 1;
};

struct Line {
    double interceptMs = 0;  // at position 0
    double slopeMs = 0;      // per blow
    double at(double position) const { return interceptMs + slopeMs * position; }
};

// Weighted least squares, centred for precision. Needs two distinct positions
// with weight; otherwise there is no line.
std::optional<Line> fitLine(const std::vector<Point>& points)
{
    double w = 0, sx = 0, sy = 0;
    for (const Point& p : points) {
        w += p.weight;
        sx += p.weight * p.position;
        sy += p.weight * p.timeMs;
    }
    if (w <= 0)
        return std::nullopt;
    const double mx = sx / w, my = sy / w;
    double sxx = 0, sxy = 0;
    for (const Point& p : points) {
        sxx += p.weight * (p.position - mx) * (p.position - mx);
        sxy += p.weight * (p.position - mx) * (p.timeMs - my);
    }
    if (!(sxx > 1e-9 * w))
        return std::nullopt;
    const double slope = sxy / sxx;
    return Line{my - slope * mx, slope};
}

struct Fit {
    std::vector<double> position;  // per used blow
    std::vector<double> time;      // per used blow, relative to originMs
    std::vector<double> weight;    // per used blow
    std::vector<double> ideal;     // per used blow, relative to originMs
    std::vector<double> slope;     // per used blow: the interval of the line its ideal came from
};

// The points a blow's ideal is fitted through: the blows of its own row and
// `reach` rows either side, leaving out its own bell so that a bad blow (or a
// bell that is always late) does not pull its own ideal towards itself.
std::vector<Point> windowPoints(const Layout& layout, const Fit& fit, const std::vector<Blow>& blows, int k,
                                int reach, bool withOwnBell)
{
    const Blow& blow = blows[layout.used[k]];
    std::vector<Point> points;
    const auto from = layout.byRow.lower_bound(blow.row - reach);
    const auto to = layout.byRow.upper_bound(blow.row + reach);
    for (auto row = from; row != to; ++row)
        for (const int j : row->second)
            if (withOwnBell || blows[layout.used[j]].bell != blow.bell)
                points.push_back({fit.position[j], fit.time[j], fit.weight[j]});
    return points;
}

// A line through every blow, for the windows too thin to fit (a lone row, a
// touch of one bell); the mean time when even that has no slope.
Line wholeTouchLine(const Fit& fit)
{
    std::vector<Point> points;
    for (std::size_t k = 0; k < fit.time.size(); ++k)
        points.push_back({fit.position[k], fit.time[k], 1.0});
    if (const auto line = fitLine(points))
        return *line;
    double sum = 0;
    for (const double t : fit.time)
        sum += t;
    return Line{sum / fit.time.size(), 0};
}

void fitIdeals(const Layout& layout, const std::vector<Blow>& blows, int reach, Fit& fit)
{
    const Line fallback = wholeTouchLine(fit);
    for (int k = 0; k < static_cast<int>(layout.used.size()); ++k) {
        auto line = fitLine(windowPoints(layout, fit, blows, k, reach, false));
        if (!line)
            line = fitLine(windowPoints(layout, fit, blows, k, reach, true));
        fit.ideal[k] = line.value_or(fallback).at(fit.position[k]);
        fit.slope[k] = line.value_or(fallback).slopeMs;
    }
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

// Down-weights the blows far from their last ideal (Tukey's biweight on a
// robust spread), so that a wild blow has no say in its neighbours' ideals.
void reweight(Fit& fit)
{
    std::vector<double> absResiduals;
    for (std::size_t k = 0; k < fit.time.size(); ++k)
        absResiduals.push_back(std::abs(fit.time[k] - fit.ideal[k]));
    const double scale = std::max(kMinScaleMs, 1.4826 * median(absResiduals));
    for (std::size_t k = 0; k < fit.time.size(); ++k) {
        const double u = absResiduals[k] / (kBiweightC * scale);
        fit.weight[k] = u < 1 ? (1 - u * u) * (1 - u * u) : 0;
    }
}

Fit fitTouch(const Layout& layout, const std::vector<Blow>& blows, const StrikingOptions& options, double gapBlows)
{
    const std::size_t n = layout.used.size();
    Fit fit{std::vector<double>(n), std::vector<double>(n), std::vector<double>(n, 1.0), std::vector<double>(n),
            std::vector<double>(n)};
    for (std::size_t k = 0; k < n; ++k) {
        const Blow& blow = blows[layout.used[k]];
        fit.position[k] = blowPosition(layout, blow, gapBlows);
        fit.time[k] = blow.timeMs - layout.originMs;
    }
    const int reach = std::clamp(options.neighbourRows, 0, kMaxNeighbourRows);
    fitIdeals(layout, blows, reach, fit);
    for (int pass = 0; pass < kReweightPasses; ++pass) {
        reweight(fit);
        fitIdeals(layout, blows, reach, fit);
    }
    return fit;
}

// The gap into each row from a line through that row alone: how many blows
// later than one interval after the previous row's last ideal it starts. The
// gap into handstrokes less the gap into backstrokes is the handstroke gap;
// taking the difference cancels whatever bias the row lines share.
std::optional<double> estimateHandstrokeGap(const Layout& layout, const std::vector<Blow>& blows, const Fit& fit)
{
    std::map<int, Line> rowLines;
    for (const auto& [row, members] : layout.byRow) {
        std::vector<Point> points;
        for (const int k : members)
            points.push_back({double(blows[layout.used[k]].place - 1), fit.time[k], fit.weight[k]});
        if (const auto line = fitLine(points); line && line->slopeMs > 0)
            rowLines[row] = *line;
    }
    std::vector<double> intoHand, intoBack;
    for (const auto& [row, line] : rowLines) {
        const auto previous = rowLines.find(row - 1);
        if (previous == rowLines.end())
            continue;
        const double interval = (line.slopeMs + previous->second.slopeMs) / 2;
        const double expected = previous->second.at(layout.stage);
        const double extra = (line.interceptMs - expected) / interval;
        (isHandstrokeRow(layout, row) ? intoHand : intoBack).push_back(extra);
    }
    if (intoHand.size() < 2 || intoBack.size() < 2)
        return std::nullopt;
    return std::clamp(median(intoHand) - median(intoBack), 0.0, 3.0);
}

Stats statsOf(const std::vector<double>& errors, double faultMs)
{
    Stats stats;
    stats.count = static_cast<int>(errors.size());
    if (errors.empty())
        return stats;
    double sum = 0;
    for (const double e : errors) {
        sum += e;
        stats.faults += std::abs(e) > faultMs ? 1 : 0;
    }
    stats.meanMs = sum / stats.count;
    double squares = 0;
    for (const double e : errors)
        squares += e * e;
    stats.rmsMs = std::sqrt(squares / stats.count);
    if (stats.count > 1) {
        double spread = 0;
        for (const double e : errors)
            spread += (e - stats.meanMs) * (e - stats.meanMs);
        stats.sdMs = std::sqrt(spread / (stats.count - 1));
    }
    return stats;
}

// One ringer's, one bell's or the band's errors, apart by stroke too.
struct ErrorList {
    std::vector<double> all, hand, back;

    void add(double error, bool handstroke)
    {
        all.push_back(error);
        (handstroke ? hand : back).push_back(error);
    }
    Stats stats(double faultMs) const { return statsOf(all, faultMs); }
    StrokeStats strokes(double faultMs) const { return {statsOf(hand, faultMs), statsOf(back, faultMs)}; }
};

void summarise(const std::vector<Blow>& blows, const Layout& layout, const StrikingOptions& options,
               StrikingReport& report)
{
    std::map<int, ErrorList> bellErrors;
    std::map<int, std::string> bellRinger;
    std::vector<std::string> ringerOrder;
    std::map<std::string, ErrorList> ringerErrors;
    std::map<std::string, std::vector<int>> ringerBells;
    ErrorList all;
    report.rowFaults.assign(layout.lastRow - layout.firstRow + 1, 0);
    for (const int i : layout.used) {
        const Blow& blow = blows[i];
        const double error = report.errorMs[i];
        const bool handstroke = isHandstrokeRow(layout, blow.row);
        all.add(error, handstroke);
        bellErrors[blow.bell].add(error, handstroke);
        bellRinger.try_emplace(blow.bell, blow.ringer);
        if (ringerErrors.find(blow.ringer) == ringerErrors.end())
            ringerOrder.push_back(blow.ringer);
        ringerErrors[blow.ringer].add(error, handstroke);
        auto& bells = ringerBells[blow.ringer];
        if (std::find(bells.begin(), bells.end(), blow.bell) == bells.end())
            bells.push_back(blow.bell);
        if (std::abs(error) > options.faultMs)
            ++report.rowFaults[blow.row - layout.firstRow];
    }
    report.band = all.stats(options.faultMs);
    report.bandStrokes = all.strokes(options.faultMs);
    for (const auto& [bell, errors] : bellErrors)
        report.bells.push_back({bell, bellRinger[bell], errors.stats(options.faultMs), errors.strokes(options.faultMs)});
    for (const std::string& ringer : ringerOrder) {
        std::vector<int> bells = ringerBells[ringer];
        std::sort(bells.begin(), bells.end());
        const ErrorList& errors = ringerErrors[ringer];
        report.ringers.push_back({ringer, bells, errors.stats(options.faultMs), errors.strokes(options.faultMs)});
    }
}

// One decimal with the sign always shown; a value that rounds to zero is "+0.0".
std::string signedOneDecimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%+.1f", value);
    return std::string(text) == "-0.0" ? "+0.0" : text;
}

std::string oneDecimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string counted(int count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

StrikingReport analyseTouch(const std::vector<Blow>& blows, const StrikingOptions& options)
{
    StrikingReport report;
    report.handstrokeGapBlows = options.handstrokeGapBlows;
    report.faultMs = options.faultMs;
    report.idealMs.resize(blows.size());
    report.errorMs.assign(blows.size(), 0.0);
    for (std::size_t i = 0; i < blows.size(); ++i)
        report.idealMs[i] = std::isfinite(blows[i].timeMs) ? blows[i].timeMs : 0.0;
    const Layout layout = layOut(blows);
    if (layout.used.size() < 2)
        return report;

    const double givenGap = std::isfinite(options.handstrokeGapBlows) ? std::clamp(options.handstrokeGapBlows, 0.0, 3.0) : 1.0;
    Fit fit = fitTouch(layout, blows, options, givenGap);
    report.handstrokeGapBlows = givenGap;
    if (options.fitHandstrokeGap) {
        if (const auto gap = estimateHandstrokeGap(layout, blows, fit)) {
            fit = fitTouch(layout, blows, options, *gap);
            report.handstrokeGapBlows = *gap;
        }
    }
    for (std::size_t k = 0; k < layout.used.size(); ++k) {
        const int i = layout.used[k];
        report.idealMs[i] = fit.ideal[k] + layout.originMs;
        report.errorMs[i] = fit.time[k] - fit.ideal[k];
    }
    report.intervalMs = median(fit.slope);
    summarise(blows, layout, options, report);
    return report;
}

std::optional<int> firstUsableRow(const std::vector<Blow>& blows)
{
    std::optional<int> first;
    for (const Blow& blow : blows)
        if (isUsable(blow))
            first = std::min(first.value_or(blow.row), blow.row);
    return first;
}

}  // namespace

// The rows not counted are judged apart, so that a ragged start neither
// counts nor bends the ideals of the first rows that do.
StrikingReport analyseStriking(const std::vector<Blow>& blows, const StrikingOptions& options)
{
    std::vector<Blow> parts[2];  // not counted, counted
    std::vector<std::size_t> from[2];
    for (std::size_t i = 0; i < blows.size(); ++i) {
        const int part = blows[i].row >= options.countFromRow ? 1 : 0;
        parts[part].push_back(blows[i]);
        from[part].push_back(i);
    }
    if (parts[0].empty())
        return analyseTouch(blows, options);
    const StrikingReport judged[2] = {analyseTouch(parts[0], options), analyseTouch(parts[1], options)};
    StrikingReport report = judged[1];
    report.countedFromRow = options.countFromRow;
    report.idealMs.resize(blows.size());
    report.errorMs.resize(blows.size());
    for (int part = 0; part < 2; ++part)
        for (std::size_t k = 0; k < parts[part].size(); ++k) {
            report.idealMs[from[part][k]] = judged[part].idealMs[k];
            report.errorMs[from[part][k]] = judged[part].errorMs[k];
        }
    const auto first = firstUsableRow(blows), firstCounted = firstUsableRow(parts[1]);
    if (first && firstCounted)
        report.rowFaults.insert(report.rowFaults.begin(), static_cast<std::size_t>(*firstCounted - *first), 0);
    return report;
}

TrueRhythmStats judgeAgainstIdeals(const std::vector<Blow>& blows, const std::vector<double>& idealMs,
                                   const std::string& ringer, int lagRows)
{
    std::map<int, std::pair<double, int>> byRow;  // row -> sum of errors, count
    TrueRhythmStats stats;
    double sumSquares = 0;
    for (std::size_t i = 0; i < blows.size() && i < idealMs.size(); ++i) {
        const double error = blows[i].timeMs - idealMs[i];
        if (blows[i].ringer != ringer || !std::isfinite(error) || std::abs(error) > kMaxTimeMs)
            continue;
        stats.meanMs += error;
        sumSquares += error * error;
        ++stats.count;
        auto& [sum, count] = byRow[blows[i].row];
        sum += error;
        ++count;
    }
    if (stats.count == 0)
        return {};
    stats.meanMs /= stats.count;
    stats.rmsMs = std::sqrt(sumSquares / stats.count);
    stats.sdMs = std::sqrt(std::max(0.0, sumSquares / stats.count - stats.meanMs * stats.meanMs));
    const int lastRow = byRow.rbegin()->first;
    for (auto first = byRow.begin(); first != byRow.end(); ++first) {
        // A stretch cut short by the end of the touch is no measure of lag,
        // unless the whole touch is shorter than one stretch.
        if (first != byRow.begin() && first->first + lagRows - 1 > lastRow)
            break;
        double sum = 0;
        int count = 0;
        for (auto it = first; it != byRow.end() && it->first < first->first + lagRows; ++it) {
            sum += it->second.first;
            count += it->second.second;
        }
        stats.lagMs = std::max(stats.lagMs, std::abs(sum / count));
    }
    return stats;
}

namespace {

// When a row began and ended as heard, if it holds each place once.
struct RowSpan {
    double firstMs = 0;
    double lastMs = 0;
    bool whole = false;
};

RowLengths lengthsOf(const std::vector<double>& values)
{
    RowLengths lengths;
    lengths.count = static_cast<int>(values.size());
    if (values.empty())
        return lengths;
    const Stats stats = statsOf(values, 0);
    lengths.meanMs = stats.meanMs;
    lengths.sdMs = stats.sdMs;
    return lengths;
}

std::map<int, RowSpan> rowSpans(const std::map<int, std::vector<const Blow*>>& rows, int stage)
{
    std::map<int, RowSpan> spans;
    for (const auto& [row, blows] : rows) {
        std::set<int> places;
        RowSpan span{blows.front()->timeMs, blows.front()->timeMs, false};
        for (const Blow* blow : blows) {
            places.insert(blow->place);
            span.firstMs = std::min(span.firstMs, blow->timeMs);
            span.lastMs = std::max(span.lastMs, blow->timeMs);
        }
        span.whole = static_cast<int>(blows.size()) == stage && static_cast<int>(places.size()) == stage;
        spans[row] = span;
    }
    return spans;
}

} // namespace

RowFigures rowFigures(const std::vector<Blow>& blows, int countFromRow)
{
    RowFigures figures;
    std::map<int, std::vector<const Blow*>> rows;
    std::vector<int> used;
    int stage = 0;
    for (int i = 0; i < static_cast<int>(blows.size()); ++i) {
        const Blow& blow = blows[static_cast<std::size_t>(i)];
        if (!isUsable(blow) || blow.row < countFromRow)
            continue;
        rows[blow.row].push_back(&blow);
        used.push_back(i);
        stage = std::max(stage, blow.place);
    }
    if (rows.empty())
        return figures;
    const bool evenAtHand = evenRowsAreHandstrokes(blows, used);
    const auto atHand = [evenAtHand](int row) { return (row % 2 == 0) == evenAtHand; };
    const std::map<int, RowSpan> spans = rowSpans(rows, stage);
    const auto whole = [&spans](int row) {
        const auto span = spans.find(row);
        return span != spans.end() && span->second.whole;
    };
    const int firstRow = rows.begin()->first, lastRow = rows.rbegin()->first;
    double inside = 0;
    int steps = 0;
    for (int row = firstRow; row <= lastRow; ++row) {
        if (!whole(row)) {
            ++figures.rowsSkipped;
            continue;
        }
        inside += spans.at(row).lastMs - spans.at(row).firstMs;
        steps += stage - 1;
    }
    figures.intervalMs = steps > 0 ? inside / steps : 0;
    std::vector<double> hand, back, gaps;
    for (int row = firstRow; row <= lastRow; ++row) {
        if (!whole(row))
            continue;
        const double first = spans.at(row).firstMs;
        if (whole(row + 1))
            (atHand(row) ? hand : back).push_back(spans.at(row + 1).firstMs - first);
        if (atHand(row) && whole(row + 1) && whole(row + 2)) {
            const double pull = spans.at(row + 2).firstMs - first;
            if (figures.quickestPull.row < 0 || pull < figures.quickestPull.lengthMs)
                figures.quickestPull = {row, pull};
            if (figures.slowestPull.row < 0 || pull > figures.slowestPull.lengthMs)
                figures.slowestPull = {row, pull};
        }
        if (atHand(row) && row > firstRow && whole(row - 1) && figures.intervalMs > 0)
            gaps.push_back((first - spans.at(row - 1).lastMs) / figures.intervalMs - 1);
    }
    figures.handstrokeRows = lengthsOf(hand);
    figures.backstrokeRows = lengthsOf(back);
    const RowLengths gap = lengthsOf(gaps);
    figures.gapMean = gap.meanMs;
    figures.gapSd = gap.sdMs;
    figures.gaps = gap.count;
    return figures;
}

std::string describeRows(const RowFigures& rows)
{
    const auto lengths = [](const char* stroke, const RowLengths& row) {
        return std::string(stroke) + " " + oneDecimal(row.meanMs) + " ms sd " + oneDecimal(row.sdMs);
    };
    const auto pull = [](const char* which, const Pull& pull) {
        return pull.row < 0 ? std::string(which) + " pull none"
                            : std::string(which) + " pull " + oneDecimal(pull.lengthMs) + " ms at row " +
                                  std::to_string(pull.row);
    };
    return "rows: " + lengths("handstroke", rows.handstrokeRows) + ", " + lengths("backstroke", rows.backstrokeRows) +
           ", " + pull("quickest", rows.quickestPull) + ", " + pull("slowest", rows.slowestPull) + ", " +
           counted(rows.rowsSkipped, "row") + " skipped";
}

std::string describeGap(const RowFigures& rows)
{
    char text[128];
    std::snprintf(text, sizeof text, "handstroke gap: mean %.2f sd %.2f blows over %s", rows.gapMean, rows.gapSd,
                  counted(rows.gaps, "row").c_str());
    return text;
}

std::string describeStrokes(const std::string& who, const Stats& all, const StrokeStats& strokes)
{
    const auto stroke = [](const char* name, const Stats& stats) {
        return std::string(name) + " rms " + oneDecimal(stats.rmsMs) + " mean " + signedOneDecimal(stats.meanMs) +
               " sd " + oneDecimal(stats.sdMs) + " ms";
    };
    return who + ": rms " + oneDecimal(all.rmsMs) + " ms; " + stroke("handstroke", strokes.hand) + "; " +
           stroke("backstroke", strokes.back);
}

std::string describeWho(const RingerStats& ringer)
{
    std::string bells;
    for (const int bell : ringer.bells)
        bells += (bells.empty() ? "" : ",") + std::to_string(bell);
    return ringer.ringer + (ringer.bells.size() == 1 ? " bell " : " bells ") + bells;
}

std::string describeRinger(const RingerStats& ringer)
{
    return describeWho(ringer) + ": mean " +
           signedOneDecimal(ringer.stats.meanMs) + " ms, sd " + oneDecimal(ringer.stats.sdMs) + " ms, " +
           counted(ringer.stats.count, "blow");
}

std::string describeBand(const Stats& stats)
{
    return "band: sd " + oneDecimal(stats.sdMs) + " ms, " + counted(stats.count, "blow") + ", " +
           counted(stats.faults, "fault");
}

}  // namespace striking
