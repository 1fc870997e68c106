#pragma once

// A tower for driving the controller as a server would: a band strikes its
// bells in row order, the robot's strikes are taken off the wire when its
// timer runs out and are echoed back, as the server reports every strike to
// every ringer.

#include "FakeHost.h"

#include "method/PlaceNotation.h"
#include "protocol/Messages.h"
#include "ringer/RingerController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline std::string roundsOf(int bells)
{
    return std::string(kBellSymbols.substr(0, static_cast<std::size_t>(bells)));
}

// Rows of the plain course after the start, from rounds, up to and including
// the return to rounds; computed from the tokens alone.
inline std::vector<std::string> plainCourse(const std::vector<std::string>& lead, int bells)
{
    std::vector<std::string> rows;
    std::string row = roundsOf(bells);
    do {
        for (const auto& token : lead) {
            row = applyChange(row, token, bells);
            rows.push_back(row);
        }
    } while (row != roundsOf(bells) && rows.size() < 100000);
    return rows;
}

struct RobotStrike {
    int bell = 0;
    bool handstroke = false;
    int period = 0;  // how long the strike timer was armed for
};

class SimulatedTower {
public:
    static constexpr int kBandGap = 100;  // ms between the band's strikes

    SimulatedTower(int bells, const std::string& robotBells, const MethodSettings& settings = {})
        : bells(bells), robotBells(robotBells)
    {
        controller.connected();
        host.takeSent();
        controller.applySettings(settings);
        std::string band;
        for (char symbol : roundsOf(bells))
            if (robotBells.find(symbol) == std::string::npos)
                band += symbol;
        if (!band.empty())
            deliver(makeBellAssignment(bells, "Band", band));
        if (!robotBells.empty())
            deliver(makeBellAssignment(bells, "Tolvane", robotBells));
    }

    void deliver(const NetMessage& message) { controller.bytesReceived(message.bytes()); }
    void call(const std::string& words) { deliver(makeCall(words)); }

    bool isRobots(char symbol) const { return robotBells.find(symbol) != std::string::npos; }

    void bandStrike(char symbol, bool handstroke)
    {
        host.now += kBandGap;
        deliver(makeStrike(static_cast<int>(kBellSymbols.find(symbol)) + 1, handstroke, 0, 0));
    }

    // Lets the strike timer run out, takes the robot's strike off the wire and
    // echoes it back. Fails the test when nothing is armed or sent.
    RobotStrike robotStrike()
    {
        RobotStrike strike;
        if (!host.armedFor) {
            ADD_FAILURE() << "the robot's strike timer is not armed";
            return strike;
        }
        strike.period = *host.armedFor;
        host.now = host.armedAt + strike.period;
        host.armedFor.reset();
        controller.strikeTimerFired();
        const auto sent = host.takeSent();
        if (sent.size() != 1 || sent[0].getWord(2) != 4) {
            ADD_FAILURE() << "expected one strike on the wire, got " << sent.size() << " messages";
            return strike;
        }
        strike.bell = sent[0].getWord(6);
        strike.handstroke = sent[0].getWord(8) != 0;
        robotStrikes.push_back(strike);
        deliver(sent[0]);
        return strike;
    }

    // Rings one row: band bells strike in order, the robot's when its timer
    // runs out. Checks each robot strike's bell, stroke and timing.
    void ringRow(const std::string& row, bool handstroke)
    {
        const int interval = controller.ringing().strikeInterval;
        for (std::size_t place = 0; place < row.size(); ++place) {
            const char symbol = row[place];
            if (!isRobots(symbol)) {
                bandStrike(symbol, handstroke);
                continue;
            }
            const RobotStrike strike = robotStrike();
            EXPECT_EQ(strike.bell, static_cast<int>(kBellSymbols.find(symbol)) + 1) << "row " << row;
            EXPECT_EQ(strike.handstroke, handstroke) << "row " << row;
            const bool leadsAtHand = place == 0 && handstroke && rowsRung > 0;
            if (rowsRung > 0 || place > 0) {
                EXPECT_EQ(strike.period, leadsAtHand ? 2 * interval : interval)
                    << "row " << row << " place " << place;
            }
        }
        ++rowsRung;
    }

    // Rings rows alternately from handstroke, continuing the stroke count.
    void ringRows(const std::vector<std::string>& rows)
    {
        for (const auto& row : rows)
            ringRow(row, rowsRung % 2 == 0);
    }

    const EngineState& engine() const { return controller.ringing(); }

    FakeHost host;
    RingerController controller{host, "Tolvane"};
    int bells;
    std::string robotBells;
    int rowsRung = 0;
    std::vector<RobotStrike> robotStrikes;
};
