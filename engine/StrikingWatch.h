#pragma once

#include "engine/EngineEvents.h"
#include "striking/StrikingAnalysis.h"

#include <string>
#include <vector>

// How well one stretch of ringing was struck: our own bells against the
// band's rhythm, the bell a person rings at the keyboard, and the band's own
// spread (the person not counted in it).
struct StrikingFigures {
    striking::Stats own;
    striking::Stats band;
    striking::Stats person;
    std::vector<striking::BellStats> personBells;  // each bell the person rang, ascending
    striking::StrokeStats ownStrokes;              // our own at handstroke and at backstroke
    striking::StrokeStats personStrokes;
};

struct StrikingSummary {
    std::string ownBells;    // "7,8"
    StrikingFigures recent;  // the last few rows
    StrikingFigures touch;   // the touch so far
    bool touchEnded = false;
    std::string chartSvg;  // at the end of a touch a person rang in: its striking chart
};

// "striking: own bells 7,8: mean +3.1 ms, sd 6.2 ms, 224 blows (hand rms 6.0 ms, back rms 7.3 ms); band: sd
// 21.4 ms, 672 blows", the person's figure first when a person rang.
std::string describeTouch(const StrikingSummary& summary);

// The blows of one touch as Tolvane heard them, judged as a striking judge
// would: each against the rhythm fitted from its own and its neighbours' rows.
// Every blow reaches us a one-way delay after the server heard it, ours as
// well as the band's, so the times heard judge as well as the server's would.
class StrikingWatch {
public:
    static constexpr int kRecentRows = 6;
    enum class Ringer { Own, Person, Band };

    void startTouch()
    {
        blows.clear();
        methodFrom = 0;
    }
    // The touch's figures and chart count from this row on: the rounds
    // before the method, while a band settles, are shown but not judged.
    void methodStartsAt(int row) { methodFrom = row; }
    void blowHeard(int row, int place, int bell, bool handstroke, Ringer ringer, Micros at);
    StrikingFigures recent() const;
    StrikingFigures touch() const { return judge(blows, methodFrom); }
    // The touch so far as a striking chart, the person's bell in colour.
    std::string chartSvg(const std::string& title) const;
    bool empty() const { return blows.empty(); }

private:
    static StrikingFigures judge(const std::vector<striking::Blow>& stretch, int countFromRow = 0);

    std::vector<striking::Blow> blows;
    int methodFrom = 0;
};
