// The band's conductor (starting, calling and standing each touch) and its
// record of the touch: each row logged and kept, and the striking judged
// once the touch stands.

#include "server/Band.h"
#include "server/LogText.h"

#include "method/PlaceNotation.h"
#include "server/TowerState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void Band::beginTouch(Micros now)
{
    standAtBackstroke();
    queueCall("Here's treble");
    flushCalls(now);
}

// Every touch starts at handstroke; a bell whose last strike was a handstroke
// is rung at backstroke first, outside any row.
void Band::standAtBackstroke()
{
    for (int bell = 1; bell <= settings_.bells; ++bell) {
        auto& stroke = lastStroke_[static_cast<std::size_t>(bell - 1)];
        if (stroke) {
            out_.strike(bell, false);
            stroke = false;
        }
    }
}

void Band::conductAfterRow()
{
    if (!settings_.conductor || phase_ != Phase::Ringing || standCalled_)
        return;
    const bool endOfPair = handstroke_;
    if (stepper_.changesRung() >= settings_.maxChanges ||
        (!stepper_.hasMethod() && endOfPair && rowsRung_ >= 2 * kRoundsPairs)) {
        standCalled_ = true;
        queueCall("Stand");
        return;
    }
    if (settings_.mode == 1)
        conductGoAndStop();
}

void Band::conductGoAndStop()
{
    const bool endOfPair = handstroke_;
    if (!methodStarted_) {
        if (!goCalled_ && endOfPair && rowsRung_ >= 2 * kRoundsPairs) {
            goCalled_ = true;
            queueCall("Go");
        }
    } else if (!inRounds_) {
        if (!thatsAllCalled_ && roundsWithin(kThatsAllRows)) {
            thatsAllCalled_ = true;
            queueCall("That's All");
        }
    } else if (endOfPair && rowsRung_ - roundsReachedAt_ >= 2) {
        standCalled_ = true;
        queueCall("Stand");
    }
}

// Whether the row now rung, or one of the next `rows`, is rounds.
bool Band::roundsWithin(int rows) const
{
    RowStepper ahead = stepper_;
    for (int row = 0; row <= rows; ++row) {
        if (ahead.row() == ahead.rounds())
            return true;
        ahead.advance();
    }
    return false;
}

void Band::touchEnded(Micros now)
{
    ++touchesRung_;
    out_.log("touch " + std::to_string(touchesRung_) + " stands after " + std::to_string(rowsRung_) + " rows");
    reportStriking();
    if (!settings_.conductor)
        return;
    phase_ = touchesRung_ < settings_.touches ? Phase::Settling : Phase::Done;
    phaseAt_ = now + settings_.startDelay;
}

void Band::logRow()
{
    const std::string& row = stepper_.row();
    const Micros first = strikeTime_[static_cast<std::size_t>(bellOf(row.front()) - 1)];
    std::string line = "row " + std::to_string(rowsRung_ + 1) + (handstroke_ ? " H " : " B ") + row +
                       " at " + millis(first) + " |";
    std::vector<int> offsetsMs;
    for (char symbol : row) {
        const Micros offset = strikeTime_[static_cast<std::size_t>(bellOf(symbol) - 1)] - first;
        offsetsMs.push_back(static_cast<int>(std::llround(offset / 1000.0)));
        char part[32];
        std::snprintf(part, sizeof part, " %c:%+d", symbol, offsetsMs.back());
        line += part;
    }
    out_.log(line);
    out_.rowRung(rowsRung_ + 1, handstroke_, row, offsetsMs);
}

void Band::recordRow()
{
    const std::string& row = stepper_.row();
    for (std::size_t place = 0; place < row.size(); ++place) {
        const auto index = static_cast<std::size_t>(bellOf(row[place]) - 1);
        blows_.push_back({rowsRung_, static_cast<int>(place) + 1, static_cast<int>(index) + 1, handstroke_,
                          struckBy_[index], static_cast<double>(strikeTime_[index]) / 1000.0});
        idealsMs_.push_back(static_cast<double>(rowIdeal_ + static_cast<Micros>(place) * pace_) / 1000.0);
    }
}

// One line per client ringer, then one for the band's own blows; scripts read them.
// Each ringer against the band's own rhythm, which the band knows exactly:
// "striking touch 1: true rhythm: Tolvane rms 9.8 ms, mean +0.4 ms, sd 9.8 ms,
// lag 4.1 ms, 0.49 x the band's", then "band rms 20.1 ms". Only a band that
// keeps its rhythm has one to judge by: a following band's beat moves.
void Band::logAgainstTrueRhythm(const std::string& prefix, const striking::StrikingReport& report)
{
    // From the method on: in the rounds before it a client is still finding
    // the band's rhythm, and the band waits for it.
    std::vector<striking::Blow> blows;
    std::vector<double> ideals;
    for (std::size_t i = 0; i < blows_.size() && i < idealsMs_.size(); ++i)
        if (blows_[i].row >= methodFromRow_) {
            blows.push_back(blows_[i]);
            ideals.push_back(idealsMs_[i]);
        }
    const striking::TrueRhythmStats band = striking::judgeAgainstIdeals(blows, ideals, kBandName);
    for (const striking::RingerStats& ringer : report.ringers) {
        if (ringer.ringer == kBandName)
            continue;
        const striking::TrueRhythmStats own = striking::judgeAgainstIdeals(blows, ideals, ringer.ringer);
        char text[160];
        std::snprintf(text, sizeof text, "rms %.1f ms, mean %+.1f ms, sd %.1f ms, lag %.1f ms, %.2f x the band's", own.rmsMs,
                      own.meanMs, own.sdMs, own.lagMs, band.rmsMs > 0 ? own.rmsMs / band.rmsMs : 0.0);
        out_.log(prefix + "true rhythm: " + ringer.ringer + " " + text);
    }
    char text[64];
    std::snprintf(text, sizeof text, "band rms %.1f ms, %d blows", band.rmsMs, band.count);
    out_.log(prefix + "true rhythm: " + text);
}

// After the lines scripts already read: each ringer's and the band's
// figures at handstroke and at backstroke, then how the rows ran and the
// handstroke gap, from the method on.
void Band::logStrokesAndRows(const std::string& prefix, const striking::StrikingReport& report,
                             const striking::RowFigures& rows)
{
    for (const striking::RingerStats& ringer : report.ringers)
        if (ringer.ringer != kBandName)
            out_.log(prefix + "strokes: " + striking::describeStrokes(striking::describeWho(ringer), ringer.stats, ringer.strokes));
    out_.log(prefix + "strokes: " + striking::describeStrokes("band", report.band, report.bandStrokes));
    out_.log(prefix + striking::describeRows(rows));
    out_.log(prefix + striking::describeGap(rows));
}

void Band::reportStriking()
{
    // From the method on, as the true rhythm judges: a ragged start in the
    // rounds would swamp the figures of an even touch. The chart still shows it.
    const striking::StrikingReport report = striking::analyseStriking(blows_, {.countFromRow = methodFromRow_});
    const std::string prefix = "striking touch " + std::to_string(touchesRung_) + ": ";
    for (const striking::RingerStats& ringer : report.ringers)
        if (ringer.ringer != kBandName)
            out_.log(prefix + striking::describeRinger(ringer));
    for (const striking::RingerStats& ringer : report.ringers)
        if (ringer.ringer == kBandName)
            out_.log(prefix + striking::describeBand(ringer.stats));
    if (settings_.keepsRhythm)
        logAgainstTrueRhythm(prefix, report);
    const striking::RowFigures rows = striking::rowFigures(blows_, methodFromRow_);
    logStrokesAndRows(prefix, report, rows);
    out_.struck(touchesRung_, blows_, report, rows);
    blows_.clear();
    idealsMs_.clear();
}
