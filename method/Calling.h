#pragma once

// Touches as ringers write them: calling positions such as "W sH" or "2x M W H",
// turned into the per-lead composition string the engine rings, and the proof
// of a touch from its start row to rounds.
//
// A calling is written for one course: after its last call the part rings on
// plain leads until the observation bell is back in the place it started from
// (its home, from rounds), and the next part repeats it.
//
// The form of a calling: entries separated by blanks. Each entry is a position
// letter, optionally preceded by a count (3H: three calls at Home) and by "s"
// for a single (a bob otherwise), in that order: "2sH". A first entry "Nx"
// repeats the whole calling N times. Positions are upper case and name where
// the observation bell lies in the lead head after the call:
//   H n, W n-1 (even n) or n-2 (odd n), M n-2 (even n) or n-1 (odd n), I 2,
//   B 2 when the call makes 2nds and 3 otherwise, O 3 (a bob), T 3 (a single,
//   with or without "s"), F 4, V 5, X 6, S 7, E 8, N 9.

#include "method/Method.h"
#include "method/StartRow.h"

#include <string>
#include <string_view>
#include <vector>

// No touch is followed further than this when proving it.
inline constexpr int kMaxTouchChanges = 10000;
// Limits on what a calling may ask for, far beyond any real touch.
inline constexpr int kMaxCallingRepeat = 99;
inline constexpr std::size_t kMaxCallingEntries = 1000;

struct CallingEntry {
    int callKind = kBob;  // kBob or kSingle
    char position = 'H';
    friend bool operator==(const CallingEntry&, const CallingEntry&) = default;
};

struct ParsedCalling {
    std::vector<CallingEntry> entries;  // one pass of the calling, counts written out
    int passes = 1;                     // the multiplier in front: "2x" rings it twice
    std::string error;                  // empty when the calling is good
};

ParsedCalling parseCalling(std::string_view calling);

// The number of bells the method is written for: the highest place any change
// of the lead or its calls names, made even when a change is a cross. 0 for an
// empty method.
int methodStage(const CompiledMethod& method);

// A bell given as a number 1..12 or as its symbol ("0", "E", "T"); 0 when the
// text names no bell.
int parseBell(std::string_view text);

struct CallingExpansion {
    std::string composition;  // one letter per lead: p, b or s
    int partLeads = 0;        // leads in one pass of the calling
    std::string error;        // empty when the calling could be expanded
};

// Rings the method's leads from `startRow` and, at each lead end, makes the
// next entry's call when it brings `observationBell` to that entry's place;
// after each pass's last call, plain leads until the bell is back where it
// started. `observationBell` 0 stands for the heaviest bell of the method.
CallingExpansion expandCalling(const CompiledMethod& method, std::string_view calling, int observationBell,
                               const std::string& startRow);

struct TouchProof {
    bool proved = false;     // false when the touch cannot be rung in memory
    std::string reason;      // why not, when not proved; empty when there is no method
    int changes = 0;         // changes rung until rounds, or until given up
    bool comesRound = false;
    int parts = 0;           // whole parts rung when rounds came at the end of one; 0 otherwise
    bool isTrue = true;
    std::string firstRepeatedRow;  // empty for a true touch
};

// Rings the compiled touch as the engine does (its composition steps repeating)
// from `startRow` until rounds, at most kMaxTouchChanges changes. A part is
// `partLeads` leads, or the whole composition when that is 0.
TouchProof proveTouch(const CompiledMethod& method, const std::string& startRow, int partLeads = 0);

// One line for the user, e.g. "448 changes, true", "448 changes in 4 parts, true" or
// "108 changes, false: 123564 is the first row rung twice"; empty when there
// was no method to ring.
std::string describeProof(const TouchProof& proof);

// Where the engine starts these settings' touch, on the method's bells: the
// start change when it is a whole row of at least that many bells, else the
// row the engine builds from it (see startRowFor).
std::string proofStartRow(const MethodSettings& settings, const CompiledMethod& method);

// The touch the settings ring: the calling expanded (when there is one) or the
// composition as it stands, and its proof.
struct TouchPlan {
    std::string composition;  // what goes into the composition setting
    std::string error;        // a calling that cannot be expanded; nothing changes then
    std::string startRow;     // where the proof starts
    TouchProof proof;
};
TouchPlan planTouch(const MethodSettings& settings);

// True when the settings' calling holds no position, so the composition is
// rung as typed.
bool hasCalling(const MethodSettings& settings);

// The proof as the user reads it, saying when a start change gives no row and
// the touch starts from rounds; the calling's fault instead when it has one.
// Empty when there is no method.
std::string describeTouch(const MethodSettings& settings, const TouchPlan& plan);
// The same, after what the calling rings.
std::string describePlan(const MethodSettings& settings, const TouchPlan& plan);
