#pragma once

// A tower for timing the controller as a server drives it: a host whose
// socket takes every byte and whose displays cost nothing, and a band that
// strikes in the order of the rows the engine rings.

#include "method/PlaceNotation.h"
#include "protocol/MessageLayout.h"
#include "protocol/Messages.h"
#include "ringer/RingerController.h"
#include "ringer/RingerHost.h"

#include <string>
#include <string_view>

class BenchHost : public RingerHost {
public:
    void showMessage(const std::string&) override { ++messagesShown; }
    long sendBytes(std::string_view bytes, int&) override
    {
        wire.append(bytes);
        return static_cast<long>(bytes.size());
    }
    void watchWritable(bool) override {}
    void closeSocket() override {}
    void armStrikeTimer(int milliseconds) override
    {
        armed = true;
        now += milliseconds;
    }
    void killStrikeTimer() override { armed = false; }
    Micros monotonicMicros() override { return now * Micros{1000}; }
    void showSpeed(const std::string&, const std::string&) override {}
    void showChanges(const ChangeDisplay&) override {}
    TowerChoice chooseTower(const TowerList&, bool) override { return TowerChoice::cancel(); }
    void endRun() override {}

    std::string wire;
    bool armed = false;
    int now = 0;
    int messagesShown = 0;
};

class BenchTower {
public:
    BenchTower(int bells, const std::string& robotBells, const MethodSettings& settings) : bells(bells)
    {
        controller.connected();
        controller.applySettings(settings);
        std::string band;
        for (char symbol : kBellSymbols.substr(0, static_cast<std::size_t>(bells)))
            if (robotBells.find(symbol) == std::string::npos)
                band += symbol;
        for (int bell = 1; bell <= bells; ++bell)
            for (int stroke = 0; stroke < 2; ++stroke)
                bandStrikes[bell - 1][stroke] = makeStrike(bell, stroke == 1, 0, 0).bytes();
        controller.bytesReceived(makeBellAssignment(bells, "Band", band).bytes());
        controller.bytesReceived(makeBellAssignment(bells, "Tolvane", robotBells).bytes());
        host.wire.clear();
    }

    // Rings from "Here's treble" until the engine stops; returns the strikes
    // the controller handled.
    long ring()
    {
        controller.bytesReceived(makeCall("Here's treble").bytes());
        long strikes = 0;
        const EngineState& engine = controller.ringing();
        while (engine.ringing) {
            if (host.armed) {
                host.armed = false;
                controller.strikeTimerFired();
                echoWire();
            } else {
                const auto next = engine.currentRow.find_first_not_of(engine.struckBells);
                if (next == std::string::npos)
                    break;
                const auto bell = kBellSymbols.find(engine.currentRow[next]);
                controller.bytesReceived(bandStrikes[bell][engine.handstroke ? 1 : 0]);
            }
            ++strikes;
        }
        return strikes;
    }

    BenchHost host;
    RingerController controller{host, "Tolvane"};

private:
    // The server reports our strikes and calls back to us like any other.
    void echoWire()
    {
        controller.bytesReceived(host.wire);
        host.wire.clear();
    }

    int bells;
    std::string bandStrikes[kMaxBells][2];
};
