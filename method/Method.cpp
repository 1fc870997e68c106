#include "method/Method.h"

#include <algorithm>
#include <climits>
#include <string_view>

namespace {

constexpr std::string_view kCompositionLetters = "pbs";  // position = call kind

bool isBuildableCall(int kind)
{
    return kind == kBob || kind == kSingle;
}

// A call is either used at every block end alike, or has one block per plain block.
bool callFitsBlocks(const ParsedNotation& call, const std::map<int, int>& blockEnds)
{
    return call.size() == 1 || call.size() == blockEnds.size();
}

}  // namespace

void buildPlainLead(CompiledMethod& method, std::string_view notation, MessageSink& messages)
{
    const ParsedNotation parsed = parsePlaceNotation(notation, messages);
    method.plainLead.clear();
    method.blockEnds.clear();
    int changeCount = 0;
    for (const auto& [blockNumber, block] : parsed) {
        for (const auto& [changeNumber, token] : block.changes)
            method.plainLead[changeCount++] = token;
        method.blockEnds[blockNumber] = changeCount;
    }
}

void buildCall(CompiledMethod& method, int kind, std::string_view notation, MessageSink& messages)
{
    // Plain and extreme slots never hold changes; other numbers name no slot.
    if (!isBuildableCall(kind))
        return;
    ParsedNotation& slot = method.callBlocks[static_cast<std::size_t>(kind)];
    slot = parsePlaceNotation(notation, messages);
    if (!callFitsBlocks(slot, method.blockEnds)) {
        // A call that does not fit the blocks is never rung. The controller
        // shows the text only once the compiled method is in place, so
        // nothing sees the failing call while the box is open.
        slot.clear();
        messages.showMessage(kCallBlockMismatchText);
    }
}

void compileMethod(CompiledMethod& method, const MethodSettings& settings, MessageSink& messages)
{
    method.callBlocks[kPlainCall].clear();
    method.callBlocks[kExtreme].clear();
    buildPlainLead(method, settings.placeNotation, messages);
    buildCall(method, kBob, settings.bobNotation, messages);
    buildCall(method, kSingle, settings.singleNotation, messages);
}

void parseComposition(CompiledMethod& method, std::string_view composition)
{
    method.compositionSteps.clear();
    int stepCount = 0;
    for (char letter : composition) {
        const std::size_t kind = kCompositionLetters.find(letter);
        if (kind != std::string_view::npos)
            method.compositionSteps[stepCount++] = CompositionStep{static_cast<int>(kind)};
    }
}

std::optional<int> placeCall(const CompiledMethod& method, int kind, int changeInLead, ChangeMap& currentLead,
                             ChangeMap& followingLead)
{
    if (kind <= 0 || kind > kExtreme)
        return std::nullopt;
    const std::size_t blocks = method.blockEnds.size();
    static const ParsedNotation kNoCall{{0, NotationBlock{}}};
    const ParsedNotation& slot = method.callBlocks[static_cast<std::size_t>(kind)];
    // A slot that does not fit the method is about to be emptied by its compile.
    const bool fits = slot.size() == 1 || (slot.size() >= 2 && slot.size() == blocks);
    const ParsedNotation& call = fits ? slot : kNoCall;
    const NotationBlock& firstBlock = call.begin()->second;

    const long long lead = static_cast<long long>(method.plainLead.size());
    const long long count = changeInLead;
    long long position = 0;
    const ChangeMap* changes = &firstBlock.changes;
    if (call.size() >= 2 || blocks >= 2) {
        bool found = false;
        for (const auto& [j, end] : method.blockEnds) {
            const NotationBlock& block = call.size() >= 2 ? call.at(j) : firstBlock;
            if (count < end + static_cast<long long>(block.shift)) {
                position = end + static_cast<long long>(block.shift);
                changes = &block.changes;
                found = true;
                break;
            }
        }
        if (!found)
            position = method.blockEnds.begin()->second + static_cast<long long>(firstBlock.shift) + lead;
    } else {
        position = lead + firstBlock.shift;
        if (count > position)
            position += lead;
    }

    const long long current = static_cast<long long>(currentLead.size());
    const long long following = static_cast<long long>(followingLead.size());
    long long p = position;
    for (const auto& [index, token] : *changes) {
        if (p >= 0 && p < current)
            currentLead[static_cast<int>(p)] = token;
        else if (p >= current && p < current + following)
            followingLead[static_cast<int>(p - current)] = token;
        ++p;
    }
    return static_cast<int>(std::clamp<long long>(position, INT_MIN, INT_MAX));
}
