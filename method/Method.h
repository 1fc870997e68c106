#pragma once

#include "method/MessageSink.h"
#include "method/PlaceNotation.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>

enum CallKind : int { kPlainCall = 0, kBob = 1, kSingle = 2, kExtreme = 3 };

inline constexpr const char* kCallBlockMismatchText =
    "Call contains multiple blocks, but number does not match number of blocks in method definition";

// The six settings in force, as the setup dialogs store them.
struct MethodSettings {
    std::string placeNotation;
    std::string bobNotation;
    std::string singleNotation;
    int goAndStopMode = 0;  // 0 stop at rounds; 1 start on "Go", stop after "That's All"
    std::string startChange;
    std::string composition;
    // A calling by positions ("W sH") that the composition above was expanded
    // from, kept so that it can be shown and edited again; empty otherwise.
    std::string calling;
    int observationBell = 0;  // whose positions the calling names; 0 the heaviest
    friend bool operator==(const MethodSettings&, const MethodSettings&) = default;
};

struct CompositionStep {
    int callKind = kPlainCall;
    friend bool operator==(const CompositionStep&, const CompositionStep&) = default;
};

// The method in the form the ringing engine steps through.
struct CompiledMethod {
    ChangeMap plainLead;                           // change number -> token, 0..L-1
    std::map<int, int> blockEnds;                  // block number -> changes up to its end
    std::array<ParsedNotation, 4> callBlocks;      // by call kind; 0 and 3 stay empty
    std::map<int, CompositionStep> compositionSteps;
};

void buildPlainLead(CompiledMethod& method, std::string_view notation, MessageSink& messages);
// REQUIRES: blockEnds already built for the current place notation.
void buildCall(CompiledMethod& method, int kind, std::string_view notation, MessageSink& messages);
// Rebuilds plainLead, blockEnds and the bob and single slots, in that order.
void compileMethod(CompiledMethod& method, const MethodSettings& settings, MessageSink& messages);
void parseComposition(CompiledMethod& method, std::string_view composition);

// Makes a call of `kind` at change `changeInLead` of the lead being rung: its
// changes go where the method's call rule puts them, into `currentLead` and
// `followingLead`. Returns the change, counted in the lead being rung, at
// which the call begins; nothing for a kind that is not a call. The ringing
// engine and the expansion of callings both ring calls through this.
std::optional<int> placeCall(const CompiledMethod& method, int kind, int changeInLead, ChangeMap& currentLead,
                             ChangeMap& followingLead);
