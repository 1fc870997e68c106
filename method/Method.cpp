#include "method/Method.h"

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
