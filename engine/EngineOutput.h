#pragma once

// What the engine asks of whoever runs it: strikes and calls to send, the
// strike timer, and what to show.

#include "engine/StrikingWatch.h"
#include "method/MessageSink.h"

#include <cstdint>
#include <string>
#include <vector>

// Where the person's bell goes, for the strip under the rows: refreshed at
// every row while a person rings.
struct PersonPath {
    int bell = 0;           // the bell asked for, 1..12 (the left hand's of two)
    bool assigned = false;  // the server has given us bells
    bool rung = false;      // false when the server gave us no bell of that number
    int secondBell = 0;     // the right hand's bell when the person rings two, else 0
    bool secondRung = false;
    bool ringing = false;   // a touch is under way: the rows below mean something
    bool handstroke = true; // the stroke of the current row
    std::string lastRow;    // empty before the second row
    std::string currentRow;
    std::string nextRow;    // empty when the ringing stops after this row
    // The current lead from its head to the next lead's head, as far as it is
    // known now (a call made later changes its end), and where the current
    // row is in it; empty outside a touch.
    std::vector<std::string> leadRows;
    int rowInLead = 0;
};

struct ChangeDisplay {
    int changesRung = 0;
    int changeInLead = 0;
    std::string lastChanges;             // the ten-line panel, "\r\n" between rows
    std::vector<std::string> addedRows;  // the rows this refresh added to the panel
};

class EngineOutput : public MessageSink {
public:
    // `bellNumber` from the bell's slot; `stamp` the strike counter that the
    // server's report of this strike will carry back.
    virtual void sendStrike(int bellNumber, bool handstroke, std::uint16_t stamp, int echoDelay) = 0;
    virtual void sendCall(const std::string& words) = 0;

    // Arming a running timer replaces its period.
    virtual void armStrikeTimer(int milliseconds) = 0;
    virtual void killStrikeTimer() = 0;

    virtual void showSpeed(const std::string& adjustment, const std::string& pealSpeed) = 0;
    virtual void showChanges(const ChangeDisplay& display) = 0;

    // Whether anyone looks at our striking; judging it costs a little each row.
    virtual bool showsStriking() const { return false; }
    // After each row, and once more when the touch ends.
    virtual void showStriking(const StrikingSummary&) {}
    // Only ever called while a person rings one of the bells.
    virtual void showPersonPath(const PersonPath&) {}
    // The person's key struck their bell, just before the strike is sent:
    // its sound is played now, not when the server reports it back.
    virtual void struckByHand(int) {}
};
