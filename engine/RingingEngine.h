#pragma once

#include "engine/BandRhythm.h"
#include "engine/EngineEvents.h"
#include "engine/EngineOutput.h"
#include "engine/RhythmSettings.h"
#include "engine/StrikingWatch.h"
#include "method/Method.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct BellSlot {
    int number = 0;           // 1..12, written into our strike messages
    bool lastStroke = false;  // stroke of the last strike heard: true handstroke
    bool ownBell = false;     // we ring this bell
    bool byHand = false;      // one of ours that a person rings at the keyboard
};

// A bell a person rings at the keyboard, and their last press of it.
struct HandBell {
    int bell = 0;         // 0 none
    int row = -1;         // the row of this touch the last press was for
    Micros pressedAt = 0; // when that press was made
};

// The bells a person rings, the left hand's (F) first; 0 for none.
using PersonBells = std::array<int, 2>;

// Everything the engine knows, as one plain value: the window, the tests and
// the fuzzers read it through RingingEngine::state(); only the engine changes it.
struct EngineState {
    int bellCount = 0;
    std::array<BellSlot, 12> bellTable{};
    bool ringing = false;
    bool handstroke = true;
    bool inRounds = true;
    std::string currentRow;
    int changeInLead = 0;
    int changesRung = 0;
    std::string struckBells;
    int pendingBell = 0;
    int goState = 0;
    bool stopRequested = false;
    ChangeMap currentLead;
    ChangeMap followingLead;
    unsigned compositionIndex = 0;
    int pendingCall = 0;
    int callStart = 0;
    int strikeInterval = 0;
    int speedAdjustment = 0;
    std::uint16_t strikeCounter = 0;
    Micros strikeSentAt = 0;  // when our last strike went out
    int echoDelay = 0;
    std::string lastChanges;
    int rowIndex = 0;  // rows since the ringing started, the first a handstroke
    // In the band's rhythm our blows may go out before the bells in front are
    // heard: our bells sent in this row and the next whose reports are still
    // to come, and the stroke and row of the bell pending.
    std::string sentBells;
    std::string sentNextRow;
    bool pendingInNextRow = false;
    // The bells a person rings by hand, at most two, the left hand's first:
    // ours, which Tolvane then never strikes itself. From the next touch.
    std::array<HandBell, 2> hands{};
};

// The ringing engine: follows the strikes reported by the server, steps the
// rows through the compiled method, obeys and makes calls, and strikes our own
// bells through the strike timer. It reads the method settings and the
// compiled method owned by the controller, hears decoded events and answers
// through EngineOutput; it knows nothing of the wire.
//
// The state is inherited privately so that the steps read as plainly as the
// fields they change, while no one else can change them.
class RingingEngine : private EngineState {
public:
    // Faster never takes the interval below this; the server could not tell
    // strikes closer than this apart anyway.
    static constexpr int kMinStrikeInterval = 20;
    static constexpr int kMaxSpeedAdjustment = 1000;

    RingingEngine(EngineOutput& output, const MethodSettings& settings, const CompiledMethod& method);
    RingingEngine(const RingingEngine&) = delete;
    RingingEngine& operator=(const RingingEngine&) = delete;

    const EngineState& state() const { return *this; }

    void onBellAssignment(const AssignmentEvent& event);
    void onStrike(StrikeEvent event);
    void onCall(const CallEvent& event);
    // A key down strikes the person's bell at once, with the next stroke.
    void onKey(const KeyEvent& event);
    // A tower joined (0) or a bell assignment changes the number of bells.
    void setBellCount(int count);

    // The strike timer's expiry.
    void strikeOwnBell(Micros now);
    // Buttons.
    void stop(Micros) { stopRequested = true; }
    void faster(Micros now);
    void slower(Micros now);
    void setSpeedAdjustment(int adjustment);
    // Takes effect when the next touch starts (at once while none rings).
    void setRhythm(const RhythmSettings& settings);
    // The bells a person rings by hand, 0 for none; from the next touch (at
    // once while none is rung). A second bell the same as the first is none.
    void setPersonBells(PersonBells bells);

    std::string rounds() const;

private:
    friend class EngineProbe;  // tests put the engine into states it is hard to ring into

    void startRinging();
    void advanceRow(bool stopping);
    void startNextLead(bool first);
    void takeCompositionStep(bool first);
    void applyCall();
    void announceCall(int kind);
    void bellStruck(int index, bool stroke, Micros at);
    void updateSpeedDisplay();
    void updateChangeDisplay(bool startForm);

    void completeRow(bool& stopping);
    void chooseNextBell(bool rowStarted);
    // How long after the bell in front to strike at the interval rule.
    int strikeDelay(bool afterGap) const;
    bool followsRhythm() const { return rhythmSettings.rhythm == RhythmSettings::Rhythm::Band; }
    void planInRhythm(Micros now);
    std::optional<std::string> peekNextRow() const;
    std::size_t firstOwnToStrike(const std::string& row, const std::string& done) const;
    bool bandHoldingUp(Micros now) const;
    std::optional<Micros> frontTime(const std::string& row, std::size_t position, bool nextRow) const;
    void noteBlow(char symbol, Micros at);
    void startTouch();
    bool ringsEveryBell() const;
    void reportStriking(bool touchEnded);
    std::string ownBells() const;
    void measureEchoDelay(int bell, std::uint16_t stamp, Micros arrived);
    void armStrike(int milliseconds);
    // The interval an adjustment gives. REQUIRES: bellCount > 0.
    int intervalFor(int adjustment) const;
    void stopIfRowDoesNotFit();
    // Ours and not the person's: Tolvane strikes it.
    bool robotRings(int bell) const;
    static constexpr std::size_t kNoHand = 2;
    void applyPersonBells();
    std::size_t handOf(int bell) const;
    bool rungByHand(std::size_t hand) const;
    void forgetPresses();
    void strikeByHand(Micros at, std::size_t hand);
    int rowOfPress(Micros at, std::size_t hand) const;
    bool personStruckIn(int row, std::size_t hand) const;
    bool awaitsPerson(const std::string& row, std::size_t position, bool nextRow) const;
    std::int64_t intervalHeardUs() const;
    std::int64_t ownPaceUs() const;
    void showPersonPath();
    std::optional<std::string> rowAfterCurrent() const;
    std::vector<std::string> rowsOfCurrentLead() const;

    EngineOutput& output;
    RhythmSettings rhythmSettings;
    RhythmSettings nextRhythm;
    BandRhythm band;
    StrikingWatch watch;
    std::array<Micros, 12> heardAt{};  // when each bell was last heard
    Micros lastTouchPaceUs = 0;  // the band's interval when the last touch ended, 0 for none
    std::array<Micros, 12> sentAt{};   // when each of ours, or the person's, was last struck here
    PersonBells nextPersonBells{};
    std::array<bool, KeyEvent::kKeys> keysHeld{};
    std::string previousRow;  // the row before currentRow, for the person's path
    const MethodSettings& settings;
    const CompiledMethod& method;
};
