#pragma once

// A recording RingerHost for driving the logic in tests: the socket takes
// every byte, the clock and the strike timer are the test's to move.

#include "protocol/Messages.h"
#include "protocol/NetMessage.h"
#include "ringer/RingerHost.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class FakeHost : public RingerHost {
public:
    void showMessage(const std::string& text) override
    {
        shown.push_back(text);
        if (onMessage)
            onMessage(text);
    }

    // Held back until the test looks, as the shell holds them until the
    // event being handled is done.
    void showMessageLater(const std::string& text) override { later.push_back(text); }

    long sendBytes(std::string_view bytes, int& error) override
    {
        if (sendError != 0) {
            error = sendError;
            return -1;
        }
        const auto taken = std::min(bytes.size(), sendLimit);
        wire.append(bytes.substr(0, taken));
        return static_cast<long>(taken);
    }
    void watchWritable(bool on) override { writeWatched = on; }
    void closeSocket() override { socketClosed = true; }

    void armStrikeTimer(int milliseconds) override
    {
        armedFor = milliseconds;
        armedAt = now;
        arms.push_back(milliseconds);
    }
    void killStrikeTimer() override { armedFor.reset(); }
    Micros monotonicMicros() override { return now * Micros{1000}; }

    void showSpeed(const std::string& adjustment, const std::string& pealSpeed) override
    {
        speedText = adjustment;
        pealText = pealSpeed;
    }
    void showChanges(const ChangeDisplay& display) override
    {
        changes = display;
        for (const auto& row : display.addedRows)
            printedRows.push_back(row);
    }

    bool showsStriking() const override { return judgesStriking; }
    void showStriking(const StrikingSummary& summary) override { striking.push_back(summary); }

    TowerChoice chooseTower(const TowerList& towers, bool) override
    {
        offered.push_back(towers);
        const auto chosen = towerChoice ? towerChoice(towers) : std::nullopt;
        return chosen ? TowerChoice::join(*chosen) : TowerChoice::cancel();
    }
    void endRun() override { ended = true; }
    void heardStrike(int bell, bool handstroke) override { heard.emplace_back(bell, handstroke); }

    // The messages written to the socket so far, taken off the wire.
    std::vector<NetMessage> takeSent()
    {
        std::vector<NetMessage> out;
        NetMessage rest(wire);
        while (rest.size() >= 2 && rest.size() >= rest.getWord(0) && rest.getWord(0) > 0) {
            out.push_back(rest.substr(0, rest.getWord(0)));
            rest = rest.substr(rest.getWord(0));
        }
        wire = rest.bytes();
        return out;
    }

    bool timerArmed() const { return armedFor.has_value(); }

    std::vector<std::string> shown;
    std::vector<std::string> later;
    std::function<void(const std::string&)> onMessage;
    std::string wire;
    std::size_t sendLimit = std::string::npos;
    int sendError = 0;
    bool writeWatched = false;
    bool socketClosed = false;
    std::optional<int> armedFor;
    int armedAt = 0;
    std::vector<int> arms;
    int now = 0;
    std::string speedText;
    std::string pealText;
    ChangeDisplay changes;
    std::vector<std::string> printedRows;
    std::vector<std::pair<int, bool>> heard;  // strikes reported, for the sound
    std::vector<TowerList> offered;
    std::function<std::optional<std::string>(const TowerList&)> towerChoice;
    bool ended = false;
    bool judgesStriking = false;
    std::vector<StrikingSummary> striking;
};
