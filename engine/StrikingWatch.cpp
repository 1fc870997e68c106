#include "engine/StrikingWatch.h"

#include "method/MessageSink.h"

#include <algorithm>

namespace {

const std::string kOwn = "own";
const std::string kBand = "band";
// More than a peal on twelve: a touch that never ends stops being recorded
// rather than growing without bound.
constexpr std::size_t kMaxBlows = 200'000;

} // namespace

void StrikingWatch::blowHeard(int row, int place, int bell, bool handstroke, bool own, Micros at)
{
    if (blows.size() >= kMaxBlows)
        return;
    blows.push_back({row, place, bell, handstroke, own ? kOwn : kBand, static_cast<double>(at) / 1000.0});
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

StrikingFigures StrikingWatch::judge(const std::vector<striking::Blow>& stretch)
{
    StrikingFigures figures;
    for (const striking::RingerStats& ringer : striking::analyseStriking(stretch).ringers)
        (ringer.ringer == kOwn ? figures.own : figures.band) = ringer.stats;
    return figures;
}
