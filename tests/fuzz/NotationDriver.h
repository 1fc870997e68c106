#pragma once

// Compiles arbitrary method settings and rings a few leads of them on the
// method's own stage (or a tower up to four bells smaller or three larger)
// with the robot on every bell, the server echoing each strike and call. One
// stage and a bounded number of rows per input keep it at thousands of inputs
// a second.
// The input is split at 0 bytes into:
//
//   0 place notation   1 bob   2 single   3 composition   4 start change
//   5 control: byte 0 picks the go-and-stop mode (bit 0) and the tower's
//     bells against the method's (bits 1-3: 0..3 more, or 1..4 fewer); each
//     further byte is a call heard in the tower (low 2 bits:
//     Go/Bob/Single/Extreme) after a row (the other bits)
//   6 a row and 7 a change token for applyChange, 8 its stage (first byte)

#include "EngineInvariants.h"
#include "../unit/FakeHost.h"

#include "method/Calling.h"
#include "method/Method.h"
#include "method/PlaceNotation.h"
#include "protocol/Messages.h"
#include "ringer/RingerController.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzcheck {

inline std::vector<std::string> splitFuzzFields(const std::uint8_t* data, std::size_t size, std::size_t count)
{
    std::vector<std::string> fields(count);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size && field < count; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field].push_back(static_cast<char>(data[i]));
    }
    return fields;
}

template <typename Map>
bool hasKeysFromZero(const Map& map)
{
    int expected = 0;
    for (const auto& entry : map)
        if (entry.first != expected++)
            return false;
    return true;
}

// The compiled form the engine relies on, whatever the notation said.
inline std::string checkCompiled(const CompiledMethod& method)
{
    if (!hasKeysFromZero(method.plainLead) || !hasKeysFromZero(method.blockEnds) || method.blockEnds.empty())
        return "plain lead or block ends are not numbered from 0";
    if (method.plainLead.size() > static_cast<std::size_t>(kMaxNotationChanges))
        return "plain lead longer than the notation limit";
    int previous = 0;
    for (const auto& [block, end] : method.blockEnds) {
        if (end < previous)
            return "block ends decrease";
        previous = end;
    }
    if (previous != static_cast<int>(method.plainLead.size()))
        return "the last block end is not the lead length";
    if (!method.callBlocks[kPlainCall].empty() || !method.callBlocks[kExtreme].empty())
        return "a plain or extreme call slot holds blocks";
    for (int kind : {kBob, kSingle}) {
        const ParsedNotation& slot = method.callBlocks[static_cast<std::size_t>(kind)];
        if (slot.size() > 1 && slot.size() != method.blockEnds.size())
            return "a call slot's blocks do not match the method's";
        if (!hasKeysFromZero(slot))
            return "a call slot's blocks are not numbered from 0";
        for (const auto& [number, block] : slot)
            if (!hasKeysFromZero(block.changes))
                return "a call block's changes are not numbered from 0";
    }
    if (!hasKeysFromZero(method.compositionSteps))
        return "composition steps are not numbered from 0";
    for (const auto& [number, step] : method.compositionSteps)
        if (step.callKind < kPlainCall || step.callKind > kSingle)
            return "a composition step has call kind " + std::to_string(step.callKind);
    return {};
}

// A change swaps neighbours chosen by the token and the stage alone, never by
// the bells: it is a permutation of the row's first positions and undoes itself.
inline std::string checkApplyChange(const std::string& row, const std::string& token, int stage)
{
    const std::size_t positions =
        std::min({static_cast<std::size_t>(std::max(stage, 0)), row.size(), kBellSymbols.size()});
    const std::string once = applyChange(row, token, stage);
    if (once.size() != positions)
        return "applyChange gave " + std::to_string(once.size()) + " symbols for " + std::to_string(positions);
    std::string a = once;
    std::string b = row.substr(0, positions);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (a != b)
        return "applyChange did not permute the row";
    if (applyChange(once, token, stage) != row.substr(0, positions))
        return "applyChange twice did not give the row back";
    return {};
}

class StageRinger {
public:
    // Two leads of a Minor method; longer leads are cut short, so that one
    // input costs at most a few hundred strikes.
    static constexpr int kMaxRows = 24;

    // Rings in a tower of the method's own stage and `extraBells` more (fewer
    // when negative), from 0 to 12 bells.
    StageRinger(const MethodSettings& settings, int extraBells, const std::string& calls)
        : calls(calls)
    {
        controller.connected();
        controller.applySettings(settings);
        stage = std::clamp(methodStage(controller.compiled()) + extraBells, 0, kMaxBells);
        controller.bytesReceived(makeBellAssignment(stage, "Tolvane", roundsOf(stage)).bytes());
        host.takeSent();
    }

    std::string ring()
    {
        std::string broken = checkCompiled(controller.compiled());
        if (!broken.empty())
            return "stage " + std::to_string(stage) + ": " + broken;
        controller.bytesReceived(makeCall("Here's treble").bytes());
        const int lead = static_cast<int>(controller.compiled().plainLead.size());
        const int maxRows = std::min(2 * lead + 4, kMaxRows);
        for (int strikes = 0; strikes < maxRows * stage && broken.empty(); ++strikes) {
            if (!engine().ringing)
                break;
            broken = strikeNext(strikes == 0);
        }
        return broken.empty() ? broken : "stage " + std::to_string(stage) + ": " + broken;
    }

private:
    static std::string roundsOf(int bells) { return std::string(kBellSymbols.substr(0, static_cast<std::size_t>(bells))); }

    const EngineState& engine() const { return controller.ringing(); }

    // Every bell is ours and each is echoed before the next is due, so the
    // next bell is always the first one unstruck in the row; only the treble
    // opens the ringing whatever the start row.
    std::string strikeNext(bool first)
    {
        const EngineState& e = engine();
        if (!host.timerArmed() || e.pendingBell == 0)
            return "ringing on " + std::to_string(stage) + " bells but no strike is due";
        const std::size_t unstruck = e.currentRow.find_first_not_of(e.struckBells);
        const char due = kBellSymbols[static_cast<std::size_t>(e.pendingBell - 1)];
        if (unstruck == std::string::npos || (due != e.currentRow[unstruck] && !(first && due == '1')))
            return "bell " + std::string(1, due) + " due after '" + e.struckBells + "' in row '" + e.currentRow + "'";
        const bool stroke = e.handstroke;
        host.now = host.armedAt + *host.armedFor;
        host.armedFor.reset();
        controller.strikeTimerFired();
        for (const NetMessage& sent : host.takeSent()) {
            const unsigned type = messageType(sent);
            if (type == static_cast<unsigned>(MessageType::Strike)) {
                if (kBellSymbols[static_cast<std::size_t>(sent.getWord(6) - 1) % kBellSymbols.size()] != due
                    || (sent.getWord(8) != 0) != stroke)
                    return "struck the wrong bell or stroke in row '" + e.currentRow + "'";
            }
            controller.bytesReceived(sent.bytes());
        }
        std::string broken = checkController(controller);
        if (broken.empty() && e.struckBells.empty())
            hearCalls(++rowsDone);
        return broken;
    }

    void hearCalls(int row)
    {
        static const char* const kCalls[] = {"Go", "Bob", "Single", "Extreme"};
        for (unsigned char c : calls)
            if ((c >> 2) == row)
                controller.bytesReceived(makeCall(kCalls[c & 3u]).bytes());
        host.takeSent();
    }

    int stage = 0;
    std::string calls;
    int rowsDone = 0;
    FakeHost host;
    RingerController controller{host, "Tolvane"};
};

inline std::string runNotation(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> f = splitFuzzFields(data, size, 9);
    MethodSettings settings;
    settings.placeNotation = f[0];
    settings.bobNotation = f[1];
    settings.singleNotation = f[2];
    settings.composition = f[3];
    settings.startChange = f[4];
    settings.goAndStopMode = f[5].empty() ? 0 : f[5][0] & 1;
    // In go-and-stop mode 1 the method starts on "Go" after the first rows.
    const std::string calls = (settings.goAndStopMode == 1 ? std::string(1, '\x08') : std::string())
        + (f[5].empty() ? std::string() : f[5].substr(1));

    const int towerPick = f[5].empty() ? 0 : (f[5][0] >> 1) & 7;
    const int extraBells = towerPick < 4 ? towerPick : 3 - towerPick;
    if (const std::string broken = StageRinger(settings, extraBells, calls).ring(); !broken.empty())
        return broken;
    const int applyStage = f[8].empty() ? 8 : static_cast<signed char>(f[8][0]) % 20;
    return checkApplyChange(f[6], f[7], applyStage);
}

}  // namespace fuzzcheck
