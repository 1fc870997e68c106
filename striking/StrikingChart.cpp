// The striking chart as plain SVG text: a file any browser opens, with no
// library behind it. Ringer names and titles come from the network, so every
// text written here goes through xmlText().

#include "striking/StrikingAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace striking {
namespace {

constexpr double kRowHeight = 16;
constexpr double kDotRadius = 6.2;
constexpr double kTop = 92;
constexpr double kRowLabelWidth = 44;
constexpr double kFaultColumnWidth = 28;
constexpr double kPanelGap = 28;
constexpr double kPanelWidth = 560;
constexpr double kPanelRowHeight = 24;
constexpr int kMaxNameCharacters = 18;

constexpr const char* kBandColour = "#8d99a6";
constexpr const char* kFaultColour = "#a61e4d";
constexpr const char* kHighlightColours[] = {"#e8590c", "#1c7ed6", "#2b8a3e", "#7048e8"};
constexpr const char* kUncountedOpacity = "0.35";

// Bell numbers as ringers write them: 0, E and T for ten to twelve.
std::string bellSymbol(int bell)
{
    static const char* const symbols[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "E", "T"};
    return bell >= 1 && bell <= kMaxBells ? symbols[bell - 1] : "?";
}

std::size_t utf8SequenceLength(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                                           : lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = at + 1; i < at + length; ++i)
        if ((byte(i) & 0xc0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    if ((lead == 0xe0 && byte(at + 1) < 0xa0) || (lead == 0xed && byte(at + 1) >= 0xa0) ||
        (lead == 0xf0 && byte(at + 1) < 0x90) || (lead == 0xf4 && byte(at + 1) >= 0x90))
        return 0;
    return length;
}

// U+FFFE and U+FFFF are well-formed UTF-8 but no XML 1.0 character (the
// surrogates and the controls are caught elsewhere): a reader refuses the file.
bool forbiddenInXml(const std::string& text, std::size_t at, std::size_t length)
{
    return length == 3 && text.compare(at, 2, "\xef\xbf") == 0 &&
           (text[at + 2] == '\xbe' || text[at + 2] == '\xbf');
}

// Text safe inside an element or a quoted attribute: markup characters are
// escaped, control characters, U+FFFE, U+FFFF and broken UTF-8 (which would
// make the file unreadable) become "?", and long names are cut to `maxCharacters`.
std::string xmlText(const std::string& text, int maxCharacters = 200)
{
    std::string out;
    int characters = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (characters == maxCharacters) {
            out += "\xe2\x80\xa6";  // an ellipsis
            break;
        }
        ++characters;
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0) {
            out += '?';
            ++at;
            continue;
        }
        const char c = text[at];
        if (forbiddenInXml(text, at, length))
            out += '?';
        else if (length > 1)
            out.append(text, at, length);
        else if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&apos;";
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            out += '?';
        else
            out += c;
        at += length;
    }
    return out;
}

std::string number(double value, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::isfinite(value) ? value : 0.0);
    return text;
}

std::string signedNumber(double value)
{
    const std::string text = number(value);
    return text == "-0.0" ? "+0.0" : value >= 0 ? "+" + text : text;
}

// The smallest of 1, 2, 5 times a power of ten at or above `value`.
double niceCeiling(double value)
{
    if (!(value > 0) || !std::isfinite(value))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0})
        if (step * power >= value)
            return step * power;
    return 10 * power;
}

// The blows the analysis judged: the same limits, and the first blow in each row and place.
std::vector<bool> drawnBlows(const std::vector<Blow>& blows, const StrikingReport& report)
{
    std::vector<bool> drawn(blows.size());
    std::set<std::pair<int, int>> taken;
    for (std::size_t i = 0; i < blows.size(); ++i) {
        const Blow& blow = blows[i];
        drawn[i] = std::abs(blow.timeMs) <= kMaxTimeMs && std::isfinite(report.errorMs[i]) && blow.bell >= 1 &&
                   blow.bell <= kMaxBells && blow.place >= 1 && blow.place <= kMaxBells && blow.row >= 0 &&
                   blow.row <= kMaxRow && taken.emplace(blow.row, blow.place).second;
    }
    return drawn;
}

// What the drawing needs to know about the touch, worked out once.
struct ChartLayout {
    int stage = 0;
    double placeWidth = 44;
    double pxPerMs = 0;
    std::map<int, int> rowLine;                 // row -> line down the page
    std::map<int, const char*> highlightColour;  // bell -> colour
    std::vector<bool> drawn;                    // per blow
    double chartLeft() const { return kRowLabelWidth + placeWidth / 2; }
    double placeX(int place) const { return chartLeft() + (place - 1) * placeWidth; }
    double chartRight() const { return placeX(stage) + placeWidth / 2; }
    double rowY(int row) const { return kTop + 14 + rowLine.at(row) * kRowHeight; }
    double chartBottom() const { return kTop + 14 + rowLine.size() * kRowHeight; }
    double panelLeft() const { return chartRight() + kFaultColumnWidth + kPanelGap; }
};

ChartLayout layOutChart(const std::vector<Blow>& blows, const StrikingReport& report,
                        const std::vector<std::string>& highlightRingers)
{
    ChartLayout layout;
    layout.drawn = drawnBlows(blows, report);
    std::set<int> rows;
    std::map<std::string, const char*> ringerColour;
    for (std::size_t i = 0; i < blows.size(); ++i) {
        const Blow& blow = blows[i];
        if (!layout.drawn[i])
            continue;
        layout.stage = std::max(layout.stage, blow.place);
        rows.insert(blow.row);
        if (std::find(highlightRingers.begin(), highlightRingers.end(), blow.ringer) == highlightRingers.end())
            continue;
        const auto [it, added] = ringerColour.try_emplace(blow.ringer, nullptr);
        if (added)
            it->second = kHighlightColours[(ringerColour.size() - 1) % std::size(kHighlightColours)];
        layout.highlightColour.try_emplace(blow.bell, it->second);
    }
    for (const int row : rows)
        layout.rowLine.emplace(row, static_cast<int>(layout.rowLine.size()));
    layout.placeWidth = layout.stage <= 8 ? 48 : 38;
    // One interval of error moves a blow one place across, so a blow struck a
    // whole interval late sits where the next bell should be.
    const double interval = report.intervalMs > 1 && std::isfinite(report.intervalMs) ? report.intervalMs : 250;
    layout.pxPerMs = layout.placeWidth / interval;
    return layout;
}

class Svg {
public:
    void text(double x, double y, const std::string& escaped, const std::string& attributes = {})
    {
        out_ << "<text x=\"" << number(x) << "\" y=\"" << number(y) << '"' << (attributes.empty() ? "" : " ")
             << attributes << '>' << escaped << "</text>\n";
    }
    void rect(double x, double y, double w, double h, const std::string& fill, const std::string& extra = {})
    {
        out_ << "<rect x=\"" << number(x) << "\" y=\"" << number(y) << "\" width=\"" << number(std::max(0.0, w))
             << "\" height=\"" << number(std::max(0.0, h)) << "\" fill=\"" << fill << '"'
             << (extra.empty() ? "" : " ") << extra << "/>\n";
    }
    void line(double x1, double y1, double x2, double y2, const std::string& stroke, double width = 1)
    {
        out_ << "<line x1=\"" << number(x1) << "\" y1=\"" << number(y1) << "\" x2=\"" << number(x2) << "\" y2=\""
             << number(y2) << "\" stroke=\"" << stroke << "\" stroke-width=\"" << number(width) << "\"/>\n";
    }
    void raw(const std::string& markup) { out_ << markup; }
    std::string str() const { return out_.str(); }

private:
    std::ostringstream out_;
};

bool hasUncountedRows(const ChartLayout& layout, const StrikingReport& report)
{
    return !layout.rowLine.empty() && layout.rowLine.begin()->first < report.countedFromRow;
}

void drawHeader(Svg& svg, const ChartLayout& layout, const StrikingReport& report, const std::string& title)
{
    svg.text(16, 28, xmlText(title), "font-size=\"18\" font-weight=\"bold\"");
    const std::string facts = std::to_string(layout.stage) + " bells, " + std::to_string(layout.rowLine.size()) +
                              " rows, interval " + number(report.intervalMs) + " ms, handstroke gap " +
                              number(report.handstrokeGapBlows, 2) + " blows; " + describeBand(report.band);
    svg.text(16, 48, xmlText(facts), "font-size=\"12\" fill=\"#495057\"");
    std::string key = "Each dot is a blow at its ideal place moved by its error (one place = one interval); "
                      "shaded: within the fault limit; ringed: a fault.";
    if (hasUncountedRows(layout, report))
        key += " Rows above the line (before row " + std::to_string(report.countedFromRow) +
               ") are pale and not counted.";
    svg.text(16, 66, key, "font-size=\"11\" fill=\"#868e96\"");
}

// Rows alternate strokes: one vote over the blows, as the analysis takes it.
bool evenRowsAreHandstrokes(const std::vector<Blow>& blows, const ChartLayout& layout)
{
    int agree = 0;
    for (std::size_t i = 0; i < blows.size(); ++i)
        if (layout.drawn[i])
            agree += (blows[i].row % 2 == 0) == blows[i].handstroke ? 1 : -1;
    return agree >= 0;
}

void drawGrid(Svg& svg, const ChartLayout& layout, const StrikingReport& report, double faultMs,
              bool evenHandstrokes)
{
    const int firstRow = layout.rowLine.begin()->first;
    const double top = kTop + 14 - kRowHeight / 2;
    const double height = layout.chartBottom() - top;
    for (const auto& [row, line] : layout.rowLine) {
        const bool handstroke = (row % 2 == 0) == evenHandstrokes;
        if (handstroke)
            svg.rect(layout.chartLeft() - layout.placeWidth / 2, layout.rowY(row) - kRowHeight / 2,
                     layout.chartRight() - layout.chartLeft() + layout.placeWidth / 2, kRowHeight, "#f1f3f5");
        svg.text(kRowLabelWidth - 6, layout.rowY(row) + 3.5, std::to_string(row),
                 "font-size=\"9\" fill=\"#adb5bd\" text-anchor=\"end\"");
    }
    const double band = std::min(layout.placeWidth / 2, faultMs * layout.pxPerMs);
    for (int place = 1; place <= layout.stage; ++place) {
        svg.rect(layout.placeX(place) - band, top, 2 * band, height, "#e7f5ff", "fill-opacity=\"0.7\"");
        svg.line(layout.placeX(place), top, layout.placeX(place), top + height, "#d0ebff");
        svg.text(layout.placeX(place), kTop, std::to_string(place),
                 "font-size=\"10\" fill=\"#868e96\" text-anchor=\"middle\"");
    }
    if (hasUncountedRows(layout, report)) {
        const auto counted = layout.rowLine.lower_bound(report.countedFromRow);
        if (counted != layout.rowLine.end()) {
            const double y = layout.rowY(counted->first) - kRowHeight / 2;
            svg.line(layout.chartLeft() - layout.placeWidth / 2, y, layout.chartRight(), y, "#495057", 1.2);
        }
    }
    svg.text(layout.chartRight() + kFaultColumnWidth / 2, kTop, "faults",
             "font-size=\"9\" fill=\"#868e96\" text-anchor=\"middle\"");
    for (const auto& [row, line] : layout.rowLine) {
        const std::size_t index = static_cast<std::size_t>(row - firstRow);
        if (index < report.rowFaults.size() && report.rowFaults[index] > 0)
            svg.text(layout.chartRight() + kFaultColumnWidth / 2, layout.rowY(row) + 3.5,
                     std::to_string(report.rowFaults[index]),
                     "font-size=\"10\" font-weight=\"bold\" fill=\"" + std::string(kFaultColour) +
                         "\" text-anchor=\"middle\"");
    }
}

double blowX(const ChartLayout& layout, const Blow& blow, double errorMs)
{
    const double x = layout.placeX(blow.place) + errorMs * layout.pxPerMs;
    return std::clamp(x, layout.chartLeft() - layout.placeWidth / 2 + kDotRadius,
                      layout.chartRight() - kDotRadius);
}

// The highlighted bells' paths down the touch, as ringers draw a method's blue line.
void drawHighlightPaths(Svg& svg, const ChartLayout& layout, const std::vector<Blow>& blows,
                        const StrikingReport& report)
{
    std::map<int, std::map<int, std::pair<double, double>>> paths;  // bell -> row -> point
    for (std::size_t i = 0; i < blows.size(); ++i) {
        const Blow& blow = blows[i];
        if (layout.drawn[i] && layout.highlightColour.count(blow.bell))
            paths[blow.bell].try_emplace(blow.row, blowX(layout, blow, report.errorMs[i]), layout.rowY(blow.row));
    }
    for (const auto& [bell, points] : paths) {
        std::string coordinates;
        for (const auto& [row, point] : points)
            coordinates += number(point.first) + "," + number(point.second) + " ";
        svg.raw("<polyline points=\"" + coordinates + "\" fill=\"none\" stroke=\"" +
                layout.highlightColour.at(bell) + "\" stroke-width=\"1.5\" stroke-opacity=\"0.45\"/>\n");
    }
}

void drawBlows(Svg& svg, const ChartLayout& layout, const std::vector<Blow>& blows, const StrikingReport& report,
               double faultMs)
{
    for (std::size_t i = 0; i < blows.size(); ++i) {
        const Blow& blow = blows[i];
        const double error = report.errorMs[i];
        if (!layout.drawn[i])
            continue;
        const auto highlight = layout.highlightColour.find(blow.bell);
        const std::string fill = highlight != layout.highlightColour.end() ? highlight->second : kBandColour;
        const bool counted = blow.row >= report.countedFromRow;
        const bool fault = counted && std::abs(error) > faultMs;
        const double x = blowX(layout, blow, error), y = layout.rowY(blow.row);
        svg.raw("<g><title>" + xmlText("row " + std::to_string(blow.row) + ", bell " + std::to_string(blow.bell) +
                                       " (" + blow.ringer + "): " + signedNumber(error) + " ms") +
                "</title><circle cx=\"" + number(x) + "\" cy=\"" + number(y) + "\" r=\"" + number(kDotRadius) +
                "\" fill=\"" + fill + "\"" +
                (counted ? "" : std::string(" fill-opacity=\"") + kUncountedOpacity + "\"") +
                (fault ? std::string(" stroke=\"") + kFaultColour + "\" stroke-width=\"2.4\"" : "") + "/>");
        svg.text(x, y + 3.2, bellSymbol(blow.bell),
                 "font-size=\"9\" font-weight=\"bold\" fill=\"#fff\" text-anchor=\"middle\"");
        svg.raw("</g>\n");
    }
}

// Each bell's mean error (a bar either side of zero) and SD (a bar from zero),
// then one line per ringer and one for the band.
double drawBellPanel(Svg& svg, const ChartLayout& layout, const StrikingReport& report)
{
    const double left = layout.panelLeft();
    const double meanAxis = left + 190, meanHalf = 80;
    const double sdLeft = left + 300, sdWidth = 100;
    double meanLimit = 1, sdLimit = 1;
    for (const BellStats& bell : report.bells) {
        meanLimit = std::max(meanLimit, std::abs(bell.stats.meanMs));
        sdLimit = std::max(sdLimit, bell.stats.sdMs);
    }
    meanLimit = niceCeiling(meanLimit);
    sdLimit = niceCeiling(sdLimit);

    double y = kTop;
    svg.text(left, y, "bell", "font-size=\"11\" font-weight=\"bold\"");
    svg.text(meanAxis, y, "mean (ms)", "font-size=\"11\" font-weight=\"bold\" text-anchor=\"middle\"");
    svg.text(sdLeft + sdWidth / 2, y, "sd (ms)", "font-size=\"11\" font-weight=\"bold\" text-anchor=\"middle\"");
    const double strokesLeft = sdLeft + sdWidth + 14;
    svg.text(strokesLeft, y, "hand / back: mean sd (ms)", "font-size=\"11\" font-weight=\"bold\"");
    y += 16;
    const double top = y;
    for (const BellStats& bell : report.bells) {
        const auto highlight = layout.highlightColour.find(bell.bell);
        const std::string colour = highlight != layout.highlightColour.end() ? highlight->second : kBandColour;
        const double middle = y + kPanelRowHeight / 2;
        svg.text(left, middle + 4, bellSymbol(bell.bell), "font-size=\"12\" font-weight=\"bold\"");
        svg.text(left + 18, middle + 4, xmlText(bell.ringer, kMaxNameCharacters), "font-size=\"11\" fill=\"#495057\"");
        const double meanPx = std::clamp(bell.stats.meanMs / meanLimit, -1.0, 1.0) * meanHalf;
        svg.rect(std::min(meanAxis, meanAxis + meanPx), middle - 6, std::abs(meanPx), 12, colour);
        svg.text(meanAxis + (meanPx >= 0 ? -4 : 4), middle + 4, signedNumber(bell.stats.meanMs),
                 std::string("font-size=\"9\" fill=\"#495057\" text-anchor=\"") + (meanPx >= 0 ? "end" : "start") +
                     "\"");
        const double sdPx = std::clamp(bell.stats.sdMs / sdLimit, 0.0, 1.0) * sdWidth;
        svg.rect(sdLeft, middle - 6, sdPx, 12, colour, "fill-opacity=\"0.55\"");
        svg.text(sdLeft + 3, middle + 4, number(bell.stats.sdMs), "font-size=\"9\" fill=\"#212529\"");
        svg.text(strokesLeft, middle + 4,
                 "H " + signedNumber(bell.strokes.hand.meanMs) + " " + number(bell.strokes.hand.sdMs) + "  B " +
                     signedNumber(bell.strokes.back.meanMs) + " " + number(bell.strokes.back.sdMs),
                 "font-size=\"10\" fill=\"#212529\"");
        y += kPanelRowHeight;
    }
    svg.line(meanAxis, top, meanAxis, y, "#495057");
    svg.line(sdLeft, top, sdLeft, y, "#495057");
    const std::string scale = "font-size=\"9\" fill=\"#868e96\" text-anchor=\"middle\"";
    svg.text(meanAxis - meanHalf, y + 12, "-" + number(meanLimit, 0), scale);
    svg.text(meanAxis, y + 12, "0", scale);
    svg.text(meanAxis + meanHalf, y + 12, "+" + number(meanLimit, 0), scale);
    svg.text(sdLeft, y + 12, "0", scale);
    svg.text(sdLeft + sdWidth, y + 12, number(sdLimit, 0), scale);
    y += 36;
    for (const RingerStats& ringer : report.ringers) {
        const auto highlight = layout.highlightColour.find(ringer.bells.front());
        svg.rect(left, y - 9, 10, 10, highlight != layout.highlightColour.end() ? highlight->second : kBandColour);
        RingerStats shown = ringer;
        shown.ringer = "";
        svg.text(left + 16, y, xmlText(ringer.ringer, 40) + xmlText(describeRinger(shown)), "font-size=\"11\"");
        y += 16;
    }
    svg.text(left + 16, y, xmlText(describeBand(report.band)), "font-size=\"11\" font-weight=\"bold\"");
    return y + 16;
}

}  // namespace

std::string strikingChartSvg(const std::vector<Blow>& blows, const StrikingReport& report, const std::string& title,
                             const std::vector<std::string>& highlightRingers)
{
    const bool matches = report.errorMs.size() == blows.size();
    const ChartLayout layout = layOutChart(matches ? blows : std::vector<Blow>{}, report, highlightRingers);
    const double faultMs = report.faultMs;
    Svg body;
    drawHeader(body, layout, report, title);
    double bottom = kTop + 40;
    if (layout.stage > 0) {
        drawGrid(body, layout, report, faultMs, evenRowsAreHandstrokes(blows, layout));
        drawHighlightPaths(body, layout, blows, report);
        drawBlows(body, layout, blows, report, faultMs);
        bottom = std::max(layout.chartBottom() + 20, drawBellPanel(body, layout, report));
    } else {
        body.text(16, kTop + 20, "No blows to show.", "font-size=\"13\" fill=\"#495057\"");
    }
    const double width = std::max(640.0, layout.stage > 0 ? layout.panelLeft() + kPanelWidth : 0.0);
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << number(width, 0) << "\" height=\""
        << number(bottom, 0) << "\" viewBox=\"0 0 " << number(width, 0) << ' ' << number(bottom, 0)
        << "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n"
        << "<title>" << xmlText(title) << "</title>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
        << body.str() << "</svg>\n";
    return svg.str();
}

}  // namespace striking
