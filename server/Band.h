#pragma once

// The simulated band of one tower: it rings every bell no client holds, in row
// order, each at its place in the band's own rhythm give or take a human error,
// waits for the clients' bells, follows the calls, and (as conductor) starts,
// calls and stands each touch. It hears every strike and call in the same order the
// clients do, so it steps the rows exactly as they do. No sockets and no clock
// of its own: the caller passes the time in and asks when to call back.

#include "method/Method.h"
#include "server/RowStepper.h"
#include "striking/StrikingAnalysis.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

using Micros = std::int64_t;

// Where the band's actions go; the server sends them to every ringer of the tower.
class BandOutput {
public:
    virtual ~BandOutput() = default;
    virtual void strike(int bell, bool handstroke) = 0;
    virtual void call(const std::string& text) = 0;
    virtual void text(const std::string& text) = 0;
    virtual void log(const std::string& line) = 0;
    // A row is complete: each place's blow in ms after the row's first.
    virtual void rowRung(int /*number*/, bool /*handstroke*/, const std::string& /*row*/,
                         const std::vector<int>& /*offsetsMs*/)
    {
    }
    // A touch has stood: its blows as the server heard them, their analysis
    // and how its rows ran.
    virtual void struck(int /*touch*/, const std::vector<striking::Blow>& /*blows*/,
                        const striking::StrikingReport& /*report*/, const striking::RowFigures& /*rows*/)
    {
    }
};

struct BandSettings {
    int bells = 8;
    Micros interval = 250'000;    // between successive strikes; twice this before a handstroke row
    Micros errorSd = 20'000;      // each band blow lands this far from its ideal, normally distributed,
    bool uniformError = false;    // ... or up to maxError either side, uniformly
    Micros maxError = 3'000;
    Micros biasBound = 5'000;     // each band bell's steady bias, drawn once within this either side
    double tempoDrift = 0;        // the pace wanders within this fraction either side of the set speed
    enum class DriftShape { Eased, Sine, Ramp };
    DriftShape driftShape = DriftShape::Eased;  // eased random points, a sinusoid, or a ramp
    Micros driftPeriod = 60'000'000;            // of the sinusoid, at the set speed
    bool keepsRhythm = false;     // never moves its beat back for a late bell
    Micros wait = 3'000'000;      // how long past its time a client's bell is waited for
    std::uint32_t seed = 1;
    int mode = 0;                 // 0 start at once, stop at rounds; 1 start on "Go", stop on "Stand"
    bool conductor = true;
    Micros startDelay = 1'000'000;
    int touches = 1;
    int maxChanges = 5040;        // the conductor stands a touch that has not come round by then
};

// The interval that rings a peal of 5040 rows in `pealMinutes`: each row
// `bells` intervals and each handstroke row one more.
Micros strikeIntervalFor(double pealMinutes, int bells);

class Band {
public:
    // How many pairs of rounds the conductor rings before "Go", and after rounds return.
    static constexpr int kRoundsPairs = 2;
    // "That's All" is called once rounds are at most this many rows away.
    static constexpr int kThatsAllRows = 4;
    // The band times its next bell from when it meant to strike, not from when
    // it woke, unless it woke later than this.
    static constexpr Micros kLateWakeUp = 2'000;
    // No band blow comes sooner than this share of an interval after the blow
    // before it; when that holds a bell back, the band's beat moves back with it.
    static constexpr double kFollowFraction = 0.5;
    // The tempo drift passes through a fresh random point every this many rows.
    static constexpr int kDriftRows = 24;
    // A ramp quickens the pace by the whole drift over this many rows, then holds.
    static constexpr int kRampRows = 30;

    Band(BandSettings settings, std::shared_ptr<const CompiledMethod> method, BandOutput& output);

    // The tower's ringers changed (bell number -> ringer for the clients'
    // bells). The clients stop on the new assignments, so the band stops too;
    // the conductor starts again after the start delay when a client is there.
    void setClients(std::map<int, std::string> clientBells, bool anyClient, Micros now);
    // A strike or call from a client, already relayed to the tower.
    void onStrike(int bell, bool handstroke, const std::string& ringer, Micros now);
    void onCall(const std::string& text, const std::string& ringer, Micros now);

    // When `onTime` next has something to do.
    std::optional<Micros> deadline() const;
    void onTime(Micros now);

    // The touches asked for have been rung and the band stands.
    bool done() const { return touchesRung_ >= settings_.touches && !ringing_; }

    bool ringing() const { return ringing_; }
    bool handstroke() const { return handstroke_; }
    bool inRounds() const { return inRounds_; }
    const std::string& currentRow() const { return stepper_.row(); }
    int rowsRung() const { return rowsRung_; }
    int touchesRung() const { return touchesRung_; }
    int nextBell() const { return nextBell_; }

private:
    enum class Phase { Idle, Settling, Ringing, Done };

    void startRinging(Micros now);
    void stopRinging();
    void hearStrike(int bell, bool stroke, Micros now, const std::string& ringer);
    void bellStruck(int bell, bool stroke, Micros now);
    bool completeRow();
    void recountStruck();
    void scheduleNext(Micros now);
    Micros plannedBlow(Micros ideal, int bell);
    void hearCall(const std::string& text, Micros now);
    void queueCall(const std::string& text);
    void flushCalls(Micros now);

    void ringNext(Micros now);
    Micros strikeTimeOnWaking(Micros now) const;
    void ringBell(int bell, Micros now);
    void coverFor(const std::string& ringer, int bell);
    Micros strikeError();
    Micros paceForRow(int row);
    double driftKnot(int index);
    void followBlow(std::size_t position, Micros now);
    void recordRow();
    void reportStriking();
    void logStrokesAndRows(const std::string& prefix, const striking::StrikingReport& report,
                           const striking::RowFigures& rows);
    void logAgainstTrueRhythm(const std::string& prefix, const striking::StrikingReport& report);

    void beginTouch(Micros now);
    void standAtBackstroke();
    void conductAfterRow();
    void conductGoAndStop();
    bool roundsWithin(int rows) const;
    void touchEnded(Micros now);
    void logRow();

    BandSettings settings_;
    std::shared_ptr<const CompiledMethod> method_;
    BandOutput& out_;
    RowStepper stepper_;
    std::mt19937 random_;
    std::mt19937 driftRandom_;
    std::vector<double> driftKnots_;
    std::array<Micros, 12> bias_{};

    std::map<int, std::string> clientBells_;
    std::set<std::string> covering_;  // silent ringers whose bells the band rings on time
    std::set<std::string> toldCovering_;  // ringers told so this touch

    // The ringing, as every client follows it.
    bool ringing_ = false;
    bool handstroke_ = true;
    bool inRounds_ = true;
    bool stopRequested_ = false;
    int goState_ = 0;
    std::string struck_;
    std::array<bool, 12> lastStroke_{};
    std::array<Micros, 12> strikeTime_{};
    std::array<std::string, 12> struckBy_{};
    int rowsRung_ = 0;
    std::vector<striking::Blow> blows_;  // of the touch so far
    std::vector<double> idealsMs_;       // each blow's place in the band's rhythm
    int methodFromRow_ = 0;              // the touch's first row after the rounds

    // The band's rhythm: when the current row's first blow is due, the pace
    // of this row, and the earliest the next band blow may come.
    bool anchored_ = false;
    Micros rowIdeal_ = 0;
    Micros pace_ = 0;
    Micros floor_ = 0;
    int driftRow_ = 0;  // rows rung since the band was formed, for the tempo drift

    // The bell due next, when the band acts on it, and since when nothing
    // but the clock holds it back.
    int nextBell_ = 0;
    Micros nextAt_ = 0;
    Micros nextFreeAt_ = 0;

    // The conductor.
    Phase phase_ = Phase::Idle;
    Micros phaseAt_ = 0;
    int touchesRung_ = 0;
    bool methodStarted_ = false;
    bool goCalled_ = false;
    bool thatsAllCalled_ = false;
    bool standCalled_ = false;
    int roundsReachedAt_ = 0;
    std::vector<std::string> callsToMake_;
};
