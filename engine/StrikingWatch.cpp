#include "engine/StrikingWatch.h"

#include "method/MessageSink.h"

#include <algorithm>
#include <iterator>

namespace {

// The ringers' names as the chart shows them.
const std::string kOwn = "Tolvane";
const std::string kPerson = "You";
const std::string kBand = "Band";
// More than a peal on twelve: a touch that never ends stops being recorded
// rather than growing without bound.
constexpr std::size_t kMaxBlows = 200'000;

} // namespace

void StrikingWatch::blowHeard(int row, int place, int bell, bool handstroke, Ringer ringer, Micros at)
{
    if (blows.size() >= kMaxBlows)
        return;
    const std::string& name = ringer == Ringer::Own ? kOwn : ringer == Ringer::Person ? kPerson : kBand;
    blows.push_back({row, place, bell, handstroke, name, static_cast<double>(at) / 1000.0});
}

std::string StrikingWatch::chartSvg(const std::string& title) const
{
    return striking::strikingChartSvg(blows, striking::analyseStriking(blows, {.countFromRow = methodFrom}), title,
                                      {kPerson});
}

StrikingFigures StrikingWatch::recent() const
{
    if (blows.empty())
        return {};
    const int from = blows.back().row - kRecentRows + 1;
    // Rows only grow through a touch.
    const auto first =
        std::partition_point(blows.begin(), blows.end(), [from](const striking::Blow& b) { return b.row < from; });
    return judge(std::vector<striking::Blow>(first, blows.end()));
}

std::string describeTouch(const StrikingSummary& summary)
{
    const auto figures = [](const striking::Stats& stats, const striking::StrokeStats& strokes) {
        if (stats.count == 0)
            return std::string("no blows");
        return formatText("mean %+.1f ms, sd %.1f ms, %d blows (hand rms %.1f ms, back rms %.1f ms)", stats.meanMs,
                          stats.sdMs, stats.count, strokes.hand.rmsMs, strokes.back.rmsMs);
    };
    const StrikingFigures& touch = summary.touch;
    std::string text = "striking: ";
    if (touch.person.count > 0)
        text += "you: " + figures(touch.person, touch.personStrokes) + "; ";
    const std::string bells = (summary.ownBells.find(',') == std::string::npos ? "bell " : "bells ") + summary.ownBells;
    text += "own " + bells + ": " + figures(touch.own, touch.ownStrokes);
    if (touch.band.count > 0)
        text += formatText("; band: sd %.1f ms, %d blows", touch.band.sdMs, touch.band.count);
    return text;
}

StrikingFigures StrikingWatch::judge(const std::vector<striking::Blow>& stretch, int countFromRow)
{
    StrikingFigures figures;
    const striking::StrikingReport report = striking::analyseStriking(stretch, {.countFromRow = countFromRow});
    for (const striking::RingerStats& ringer : report.ringers) {
        (ringer.ringer == kOwn ? figures.own : ringer.ringer == kPerson ? figures.person : figures.band) = ringer.stats;
        if (ringer.ringer == kOwn)
            figures.ownStrokes = ringer.strokes;
        else if (ringer.ringer == kPerson)
            figures.personStrokes = ringer.strokes;
    }
    std::copy_if(report.bells.begin(), report.bells.end(), std::back_inserter(figures.personBells),
                 [](const striking::BellStats& bell) { return bell.ringer == kPerson; });
    return figures;
}
