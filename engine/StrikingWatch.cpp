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
    const striking::Stats& own = summary.touch.own;
    const striking::Stats& band = summary.touch.band;
    const std::string bells = (summary.ownBells.find(',') == std::string::npos ? "bell " : "bells ") + summary.ownBells;
    std::string text = "striking: own " + bells + ": ";
    text += own.count == 0 ? "no blows"
                           : formatText("mean %+.1f ms, sd %.1f ms, %d blows", own.meanMs, own.sdMs, own.count);
    if (band.count > 0)
        text += formatText("; band: sd %.1f ms, %d blows", band.sdMs, band.count);
    return text;
}

StrikingFigures StrikingWatch::judge(const std::vector<striking::Blow>& stretch, int countFromRow)
{
    StrikingFigures figures;
    const striking::StrikingReport report = striking::analyseStriking(stretch, {.countFromRow = countFromRow});
    for (const striking::RingerStats& ringer : report.ringers)
        (ringer.ringer == kOwn ? figures.own : ringer.ringer == kPerson ? figures.person : figures.band) = ringer.stats;
    std::copy_if(report.bells.begin(), report.bells.end(), std::back_inserter(figures.personBells),
                 [](const striking::BellStats& bell) { return bell.ringer == kPerson; });
    return figures;
}
