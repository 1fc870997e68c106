#pragma once

#include "method/Method.h"
#include "protocol/Connection.h"
#include "protocol/NetMessage.h"
#include "protocol/RingerHost.h"

#include <array>
#include <cstdint>
#include <string>

struct BellSlot {
    int number = 0;           // 1..12, written into our strike messages
    bool lastStroke = false;  // stroke of the last strike heard: true handstroke
    bool ownBell = false;     // we ring this bell
};

// The ringing engine: follows the strikes reported by the server, steps the
// rows through the compiled method, obeys and makes calls, and strikes our own
// bells through the strike timer. It reads the method settings and the
// compiled method owned by the controller.
class RingingEngine {
public:
    // Faster never takes the interval below this; the server could not tell
    // strikes closer than this apart anyway.
    static constexpr int kMinStrikeInterval = 20;
    static constexpr int kMaxSpeedAdjustment = 1000;

    RingingEngine(RingerHost& host, Connection& connection, const MethodSettings& settings,
                  const CompiledMethod& method);

    // Incoming messages. Each reads all its fields before it changes anything,
    // so a message too short for them (NetMessageRangeError) changes nothing.
    void onBellAssignment(const NetMessage& message, const std::string& ringerName);
    void onStrikeMessage(const NetMessage& message);
    void onCallMessage(const NetMessage& message);

    // The strike timer's expiry.
    void strikeOwnBell();
    // Buttons.
    void stop() { stopRequested = true; }
    void faster();
    void slower();
    void setSpeedAdjustment(int adjustment);

    // A tower joined (0) or a bell assignment changes the number of bells.
    void setBellCount(int count);

    void startRinging();
    std::string buildStartRow(int fixedBells, char target) const;
    void advanceRow(bool stopping);
    void startNextLead(bool first);
    void takeCompositionStep(bool first);
    void applyCall();
    void announceCall(int kind);
    void bellStruck(int index, bool stroke);
    void updateSpeedDisplay();
    void updateChangeDisplay(bool startForm);

    std::string rounds() const;

    // State, public so that the shell's tests and the fuzzers can check it.
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
    int strikeSentAt = 0;
    int echoDelay = 0;
    std::string lastChanges;

private:
    std::string startRowFromStartChange() const;
    bool isTrueRow(const std::string& row) const;
    void completeRow(bool& stopping);
    void chooseNextBell(bool rowStarted);
    // Only for a strike message long enough to carry the stamp.
    void measureEchoDelay(int bell, std::uint16_t stamp);
    void armStrike(int milliseconds);
    // The interval an adjustment gives. REQUIRES: bellCount > 0.
    int intervalFor(int adjustment) const;
    void stopIfRowDoesNotFit();

    RingerHost& host;
    Connection& connection;
    const MethodSettings& settings;
    const CompiledMethod& method;
};
