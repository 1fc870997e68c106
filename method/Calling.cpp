#include "method/Calling.h"

#include "method/PlaceNotation.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

namespace {

constexpr std::string_view kPositionLetters = "HWMIBOTFVXSEN";
constexpr std::string_view kBlanks = " \t\r\n\v\f";

// User text echoed in a message: whatever cannot be shown safely becomes "?".
std::string shown(std::string_view text)
{
    constexpr std::size_t kMaxShown = 40;
    std::string out;
    for (char c : text.substr(0, kMaxShown))
        out.push_back(c >= ' ' && c < 127 ? c : '?');
    if (text.size() > kMaxShown)
        out += "...";
    return out;
}

std::vector<std::string_view> splitAtBlanks(std::string_view text)
{
    std::vector<std::string_view> words;
    while (true) {
        const std::size_t start = text.find_first_not_of(kBlanks);
        if (start == std::string_view::npos)
            return words;
        text.remove_prefix(start);
        const std::size_t end = std::min(text.find_first_of(kBlanks), text.size());
        words.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
}

// The leading decimal digits of `word` as a count, removed from it; 1 when
// there are none, nullopt when they are out of range.
std::optional<int> takeCount(std::string_view& word)
{
    const std::size_t digits = std::min(word.find_first_not_of("0123456789"), word.size());
    if (digits == 0)
        return 1;
    int count = 0;
    for (char c : word.substr(0, digits)) {
        count = count * 10 + (c - '0');
        if (count > kMaxCallingRepeat)
            return std::nullopt;
    }
    word.remove_prefix(digits);
    return count >= 1 ? std::optional<int>(count) : std::nullopt;
}

// "2x" at the front of a calling: how often the rest is rung, or 0 when `word`
// is no multiplier.
int multiplierOf(std::string_view word)
{
    if (word.size() < 2 || word.back() != 'x')
        return 0;
    word.remove_suffix(1);
    const std::optional<int> count = takeCount(word);
    return word.empty() && count ? *count : 0;
}

std::string parseEntry(std::string_view word, std::vector<CallingEntry>& entries)
{
    const std::string_view written = word;
    const std::optional<int> count = takeCount(word);
    if (!count)
        return "The count in '" + shown(written) + "' must be from 1 to " + std::to_string(kMaxCallingRepeat);
    int kind = kBob;
    if (word.starts_with('s')) {
        kind = kSingle;
        word.remove_prefix(1);
    }
    if (word.size() != 1 || kPositionLetters.find(word[0]) == std::string_view::npos)
        return "Unknown calling position '" + shown(written) + "': a position is one of H W M I B O T F V X S E N, "
               "after an optional count and s for a single, e.g. H, sW, 3H";
    if (word[0] == 'O' && kind == kSingle)
        return "O is a bob's position; a single in 3rds is T";
    if (word[0] == 'T')
        kind = kSingle;
    entries.insert(entries.end(), static_cast<std::size_t>(*count), CallingEntry{kind, word[0]});
    return {};
}

std::string placeName(int place)
{
    if (place == 1)
        return "lead";
    const char* suffix = place == 2 ? "nds" : place == 3 ? "rds" : "ths";
    return std::to_string(place) + suffix;
}

bool makesSeconds(const ParsedNotation& call)
{
    for (const auto& [number, block] : call)
        for (const auto& [index, token] : block.changes)
            if (token.find(kBellSymbols[1]) != std::string::npos)
                return true;
    return false;
}

// Where the observation bell lies in the lead head after a call at `position`.
int placeOf(char position, bool seconds, int stage)
{
    const bool even = stage % 2 == 0;
    switch (position) {
    case 'H': return stage;
    case 'W': return even ? stage - 1 : stage - 2;
    case 'M': return even ? stage - 2 : stage - 1;
    case 'I': return 2;
    case 'B': return seconds ? 2 : 3;
    case 'O':
    case 'T': return 3;
    default: return 4 + static_cast<int>(std::string_view("FVXSEN").find(position));
    }
}

bool hasCallChanges(const CompiledMethod& method, int kind)
{
    const ParsedNotation& slot = method.callBlocks[static_cast<std::size_t>(kind)];
    return slot.size() == 1 && !slot.begin()->second.changes.empty();
}

// Rings leads the way the ringing engine does for a method whose calls come at
// the lead end: each lead is the plain lead with the lead's call written over
// it, a call reaching past the lead end carrying into the next lead.
class TouchRinger {
public:
    TouchRinger(const CompiledMethod& method, std::string startRow)
        : method(&method), row(std::move(startRow)), following(method.plainLead)
    {
    }

    void beginLead(int callKind)
    {
        current = std::exchange(following, method->plainLead);
        changeInLead = 0;
        writeCall(callKind);
    }
    bool leadOver() const { return changeInLead >= static_cast<int>(current.size()); }
    void ringChange()
    {
        row = applyChange(row, current.at(changeInLead), static_cast<int>(row.size()));
        ++changeInLead;
    }
    void ringLead(int callKind)
    {
        beginLead(callKind);
        while (!leadOver())
            ringChange();
    }
    const std::string& currentRow() const { return row; }
    int placeOfBell(char symbol) const { return static_cast<int>(row.find(symbol)) + 1; }

private:
    void writeCall(int callKind) { placeCall(*method, callKind, 0, current, following); }

    const CompiledMethod* method;
    std::string row;
    ChangeMap current;
    ChangeMap following;
    int changeInLead = 0;
};

// Why a calling cannot be rung on this method, or nothing.
std::string unsupportedMethod(const CompiledMethod& method, const std::vector<CallingEntry>& entries, int stage)
{
    if (method.plainLead.empty())
        return "A calling needs a method: there is no place notation";
    if (method.blockEnds.size() != 1)
        return "Callings work only for methods whose calls come at the lead end; this method has calls "
               "at more than one place in the lead";
    for (int kind : {kBob, kSingle}) {
        const bool used = std::any_of(entries.begin(), entries.end(),
                                      [kind](const CallingEntry& entry) { return entry.callKind == kind; });
        if (used && !hasCallChanges(method, kind))
            return kind == kBob ? "The calling has bobs, but the method has no bob"
                                : "The calling has singles, but the method has no single";
    }
    for (const CallingEntry& entry : entries) {
        const bool seconds = makesSeconds(method.callBlocks[static_cast<std::size_t>(entry.callKind)]);
        const int place = placeOf(entry.position, seconds, stage);
        if (place < 1 || place > stage)
            return std::string("Position ") + entry.position + " is " +
                   (place < 1 ? std::string("no place") : placeName(place)) + ", which " + std::to_string(stage) +
                   " bells do not have";
    }
    return {};
}

enum class Reach { Called, Never, TooLong };

std::size_t maxLeads(const CompiledMethod& method)
{
    return static_cast<std::size_t>(kMaxTouchChanges) / method.plainLead.size() + 1;
}

// Rings plain leads until the entry's call brings the bell to its place, then
// the called lead.
Reach ringToEntry(TouchRinger& ringer, const CompiledMethod& method, const CallingEntry& entry, int place, char bell,
                  std::string& leads)
{
    std::set<std::string> plainLeadHeads;
    while (leads.size() < maxLeads(method)) {
        TouchRinger called = ringer;
        called.ringLead(entry.callKind);
        if (called.placeOfBell(bell) == place) {
            ringer = std::move(called);
            leads += entry.callKind == kBob ? 'b' : 's';
            return Reach::Called;
        }
        ringer.ringLead(kPlainCall);
        leads += 'p';
        // Plain leads from the same row go round the same way for ever.
        if (!plainLeadHeads.insert(ringer.currentRow()).second)
            return Reach::Never;
    }
    return Reach::TooLong;
}

// Rings plain leads until the bell is in `place` at a lead head. When plain
// leads never bring it there (a call made it a hunt bell), nothing is rung.
Reach ringPlainToPlace(TouchRinger& ringer, const CompiledMethod& method, int place, char bell, std::string& leads)
{
    TouchRinger plain = ringer;
    std::string more;
    std::set<std::string> plainLeadHeads;
    while (plain.placeOfBell(bell) != place) {
        if (leads.size() + more.size() >= maxLeads(method))
            return Reach::TooLong;
        plain.ringLead(kPlainCall);
        more += 'p';
        if (!plainLeadHeads.insert(plain.currentRow()).second)
            return Reach::Never;
    }
    ringer = std::move(plain);
    leads += more;
    return Reach::Called;
}

std::string tooLong()
{
    return "The calling is longer than " + std::to_string(kMaxTouchChanges) + " changes";
}

bool isBlank(std::string_view text)
{
    return text.find_first_not_of(kBlanks) == std::string_view::npos;
}

}  // namespace

ParsedCalling parseCalling(std::string_view calling)
{
    ParsedCalling parsed;
    std::vector<std::string_view> words = splitAtBlanks(calling);
    int repeat = 1;
    if (!words.empty() && multiplierOf(words.front()) > 0) {
        repeat = multiplierOf(words.front());
        words.erase(words.begin());
    }
    for (std::string_view word : words) {
        if (multiplierOf(word) > 0) {
            parsed.error = "A multiplier such as 2x goes only at the front of a calling";
            return parsed;
        }
        parsed.error = parseEntry(word, parsed.entries);
        if (!parsed.error.empty())
            return parsed;
        if (parsed.entries.size() > kMaxCallingEntries)
            break;
    }
    if (parsed.entries.empty())
        parsed.error = "The calling has no positions";
    else if (parsed.entries.size() * static_cast<std::size_t>(repeat) > kMaxCallingEntries)
        parsed.error = "The calling has more than " + std::to_string(kMaxCallingEntries) + " calls";
    else
        parsed.passes = repeat;
    return parsed;
}

int methodStage(const CompiledMethod& method)
{
    int stage = 0;
    bool cross = false;
    const auto look = [&](const ChangeMap& changes) {
        for (const auto& [index, token] : changes) {
            int highest = 0;
            for (char c : token)
                if (const std::size_t place = kBellSymbols.find(c); place != std::string_view::npos)
                    highest = std::max(highest, static_cast<int>(place) + 1);
            cross = cross || highest == 0;
            stage = std::max(stage, highest);
        }
    };
    look(method.plainLead);
    for (int kind : {kBob, kSingle})
        for (const auto& [number, block] : method.callBlocks[static_cast<std::size_t>(kind)])
            look(block.changes);
    if (cross && stage % 2 == 1)
        ++stage;
    return stage;
}

int parseBell(std::string_view text)
{
    if (text.size() == 1 && kBellSymbols.find(text[0]) != std::string_view::npos)
        return static_cast<int>(kBellSymbols.find(text[0])) + 1;
    if (text == "10" || text == "11" || text == "12")
        return 10 + (text[1] - '0');
    return 0;
}

CallingExpansion expandCalling(const CompiledMethod& method, std::string_view calling, int observationBell,
                               const std::string& startRow)
{
    CallingExpansion expansion;
    const ParsedCalling parsed = parseCalling(calling);
    const int stage = methodStage(method);
    if (!parsed.error.empty()) {
        expansion.error = parsed.error;
        return expansion;
    }
    expansion.error = unsupportedMethod(method, parsed.entries, stage);
    if (!expansion.error.empty())
        return expansion;
    const int bell = observationBell == 0 ? stage : observationBell;
    if (bell < 1 || bell > stage || bell > static_cast<int>(startRow.size())) {
        expansion.error = "Bell " + std::to_string(bell) + " is not one of the method's " + std::to_string(stage) +
                          " bells";
        return expansion;
    }
    TouchRinger ringer(method, startRow);
    const char symbol = kBellSymbols[static_cast<std::size_t>(bell - 1)];
    const int home = ringer.placeOfBell(symbol);
    for (int pass = 0; pass < parsed.passes; ++pass) {
        for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
            const CallingEntry& entry = parsed.entries[i];
            const bool seconds = makesSeconds(method.callBlocks[static_cast<std::size_t>(entry.callKind)]);
            const int place = placeOf(entry.position, seconds, stage);
            const Reach reach = ringToEntry(ringer, method, entry, place, symbol, expansion.composition);
            if (reach == Reach::Called)
                continue;
            expansion.error = reach == Reach::TooLong
                                  ? tooLong()
                                  : std::string("Position ") + entry.position + " (call " + std::to_string(i + 1) +
                                        ") is never reached: bell " + std::to_string(bell) + " does not come to " +
                                        placeName(place) + " at a " + (entry.callKind == kBob ? "bob" : "single");
            expansion.composition.clear();
            return expansion;
        }
        // The part rings on to the course end, the bell back where it began,
        // or ends at its last call when plain leads never bring it back.
        if (ringPlainToPlace(ringer, method, home, symbol, expansion.composition) == Reach::TooLong) {
            expansion.error = tooLong();
            expansion.composition.clear();
            return expansion;
        }
        if (pass == 0)
            expansion.partLeads = static_cast<int>(expansion.composition.size());
    }
    return expansion;
}

TouchProof proveTouch(const CompiledMethod& method, const std::string& startRow, int partLeads)
{
    TouchProof proof;
    if (method.plainLead.empty() || startRow.empty()) {
        return proof;
    }
    if (!method.compositionSteps.empty() && method.blockEnds.size() != 1) {
        proof.reason = "the method has calls at more than one place in the lead";
        return proof;
    }
    proof.proved = true;
    const std::string rounds = roundsOn(static_cast<int>(startRow.size()));
    std::set<std::string> rung{startRow};
    TouchRinger ringer(method, startRow);
    const std::size_t steps = method.compositionSteps.size();
    const std::size_t leadsInPart = partLeads > 0 ? static_cast<std::size_t>(partLeads) : steps;
    for (std::size_t lead = 0; proof.changes < kMaxTouchChanges; ++lead) {
        const auto step = method.compositionSteps.find(steps == 0 ? 0 : static_cast<int>(lead % steps));
        ringer.beginLead(step == method.compositionSteps.end() ? kPlainCall : step->second.callKind);
        while (!ringer.leadOver() && proof.changes < kMaxTouchChanges) {
            ringer.ringChange();
            ++proof.changes;
            if (ringer.currentRow() == rounds) {
                proof.comesRound = true;
                if (ringer.leadOver() && leadsInPart > 0 && (lead + 1) % leadsInPart == 0)
                    proof.parts = static_cast<int>((lead + 1) / leadsInPart);
                return proof;
            }
            if (!rung.insert(ringer.currentRow()).second && proof.isTrue) {
                proof.isTrue = false;
                proof.firstRepeatedRow = ringer.currentRow();
            }
        }
    }
    return proof;
}

std::string describeProof(const TouchProof& proof)
{
    if (!proof.proved)
        return proof.reason.empty() ? std::string() : "Not proved: " + proof.reason;
    const std::string repeated =
        proof.isTrue ? std::string() : proof.firstRepeatedRow + " is the first row rung twice";
    if (!proof.comesRound)
        return "Does not come round within " + std::to_string(kMaxTouchChanges) + " changes" +
               (repeated.empty() ? "" : "; " + repeated);
    const std::string parts = proof.parts > 1 ? " in " + std::to_string(proof.parts) + " parts" : "";
    return std::to_string(proof.changes) + " changes" + parts + ", " + (proof.isTrue ? "true" : "false: " + repeated);
}

std::string proofStartRow(const MethodSettings& settings, const CompiledMethod& method)
{
    const int stage = methodStage(method);
    const std::string& start = settings.startChange;
    const int written = static_cast<int>(start.size());
    return startRowFor(start, written > stage && isRow(start) ? written : stage);
}

TouchPlan planTouch(const MethodSettings& settings)
{
    TouchPlan plan;
    CompiledMethod method;
    MessageList ignored;  // notation faults are reported when the settings are applied
    compileMethod(method, settings, ignored);
    const std::string start = proofStartRow(settings, method);
    plan.startRow = start;
    plan.composition = settings.composition;
    int partLeads = 0;
    if (hasCalling(settings)) {
        const CallingExpansion expansion = expandCalling(method, settings.calling, settings.observationBell, start);
        if (!expansion.error.empty()) {
            plan.error = expansion.error;
            return plan;
        }
        plan.composition = expansion.composition;
        partLeads = expansion.partLeads;
    }
    parseComposition(method, plan.composition);
    plan.proof = proveTouch(method, start, partLeads);
    return plan;
}

bool hasCalling(const MethodSettings& settings)
{
    return !isBlank(settings.calling);
}

std::string describeTouch(const MethodSettings& settings, const TouchPlan& plan)
{
    if (!plan.error.empty())
        return plan.error;
    std::string text = describeProof(plan.proof);
    const bool startIgnored = !settings.startChange.empty() && plan.startRow != settings.startChange &&
                              plan.startRow == roundsOn(static_cast<int>(plan.startRow.size()));
    if (startIgnored && plan.proof.proved)
        text += " (from rounds)";
    return text;
}

std::string describePlan(const MethodSettings& settings, const TouchPlan& plan)
{
    if (!plan.error.empty() || !hasCalling(settings))
        return describeTouch(settings, plan);
    return "Calling " + shown(settings.calling) + " rings " + plan.composition + "; " + describeTouch(settings, plan);
}
