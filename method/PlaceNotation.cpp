#include "method/PlaceNotation.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

namespace {

// Far beyond any real call position, yet small enough that doubling and adding
// can never overflow an int.
constexpr long long kShiftLimit = 1'000'000;

// Tokens are copied by every palindrome; a notation of long tokens must not be
// able to ask for gigabytes even while staying under the change limit.
constexpr std::size_t kMaxNotationBytes = 16u * 1024u * 1024u;

int clampShift(long long value)
{
    return static_cast<int>(std::clamp(value, -kShiftLimit, kShiftLimit));
}

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, start)) {
        out.append(text, start, hit - start);
        out.append(to);
        start = hit + from.size();
    }
    out.append(text, start, std::string::npos);
    text = std::move(out);
}

void collapseDotRuns(std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '.' || out.empty() || out.back() != '.')
            out.push_back(c);
    }
    text = std::move(out);
}

void trimDots(std::string& text)
{
    const std::size_t first = text.find_first_not_of('.');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    const std::size_t last = text.find_last_not_of('.');
    text = text.substr(first, last - first + 1);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A decimal whole number as typed after "+" or "~": leading blanks, one sign,
// digits up to the first non-digit; saturated so long digit runs cannot overflow.
long long readWholeNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(value * 10 + (text[i] - '0'), kShiftLimit);
    return negative ? -value : value;
}

// Splits the normalised text at "."; text after the last "." cannot be a token.
std::vector<std::string_view> splitTokens(std::string_view text, MessageSink& messages)
{
    std::vector<std::string_view> tokens;
    while (!text.empty()) {
        const std::size_t dot = text.find('.');
        if (dot == std::string_view::npos) {
            messages.showMessage(kFormattingErrorText);
            break;
        }
        tokens.push_back(text.substr(0, dot));
        text.remove_prefix(dot + 1);
    }
    return tokens;
}

// The working state of one parse: the block being built and what is already stored.
class BlockBuilder {
public:
    // False when the token would take the notation past its size limits.
    bool take(std::string_view token)
    {
        if (token == "/")
            return mirror();
        if (token == "|") {
            endBlock();
            return true;
        }
        if (token.starts_with('+')) {
            shift = clampShift(shift + readWholeNumber(token.substr(1)));
            return true;
        }
        if (token.starts_with('~')) {
            shift = clampShift(shift - readWholeNumber(token.substr(1)));
            return true;
        }
        return addChange(token);
    }

    ParsedNotation finish()
    {
        storeBlock();
        return std::move(parsed);
    }

private:
    bool fits(int extraChanges, std::size_t extraBytes) const
    {
        return storedChanges + count + extraChanges <= kMaxNotationChanges
            && storedBytes + extraBytes <= kMaxNotationBytes;
    }

    // With nothing before it a palindrome point has nothing to mirror; counting
    // it would number the next change -1, so it is passed over.
    bool mirror()
    {
        if (count == 0)
            return true;
        std::size_t extraBytes = 0;
        for (const auto& [number, token] : changes)
            if (number < count - 1)
                extraBytes += token.size();
        if (!fits(count - 1, extraBytes))
            return false;
        // Changes 0..count-2 again, last first, after the change mirrored about;
        // walked in order rather than looked up, as a lead may be thousands long.
        auto source = std::prev(changes.end());
        for (int number = count; number <= 2 * count - 2; ++number)
            changes.emplace_hint(changes.end(), number, (--source)->second);
        storedBytes += extraBytes;
        count = 2 * count - 1;
        shift = clampShift(2LL * shift + 1);
        return true;
    }

    bool addChange(std::string_view token)
    {
        if (!fits(1, token.size()))
            return false;
        changes[count] = std::string(token);
        storedBytes += token.size();
        ++count;
        shift = clampShift(shift - 1LL);
        return true;
    }

    void storeBlock() { parsed[blockNumber] = NotationBlock{std::move(changes), shift}; }

    void endBlock()
    {
        storeBlock();
        ++blockNumber;
        storedChanges += count;
        changes.clear();
        count = 0;
        shift = 0;
    }

    ParsedNotation parsed;
    ChangeMap changes;
    int count = 0;
    int shift = 0;
    int blockNumber = 0;
    int storedChanges = 0;
    std::size_t storedBytes = 0;
};

}  // namespace

std::string normaliseNotation(std::string_view notation)
{
    std::string text(notation);
    replaceAll(text, "-", "x");
    replaceAll(text, ",", "/");
    replaceAll(text, "x", ".x.");
    replaceAll(text, "/", "./.");
    replaceAll(text, "|", ".|.");
    replaceAll(text, "+", ".+");
    replaceAll(text, "~", ".~");
    collapseDotRuns(text);
    trimDots(text);
    if (!text.empty())
        text.push_back('.');
    return text;
}

ParsedNotation parsePlaceNotation(std::string_view notation, MessageSink& messages)
{
    const std::string normalised = normaliseNotation(notation);
    BlockBuilder builder;
    for (std::string_view token : splitTokens(normalised, messages)) {
        if (!builder.take(token)) {
            messages.showMessage(kFormattingErrorText);
            break;
        }
    }
    return builder.finish();
}

std::string applyChange(std::string_view row, std::string_view token, int stage)
{
    const std::size_t positions =
        std::min({static_cast<std::size_t>(std::max(stage, 0)), row.size(), kBellSymbols.size()});
    std::string next;
    next.reserve(positions);
    std::size_t i = 0;
    while (i < positions) {
        const bool makesPlace = token.find(kBellSymbols[i]) != std::string_view::npos;
        if (makesPlace || i + 1 == positions) {
            next.push_back(row[i]);
            i += 1;
        } else {
            next.push_back(row[i + 1]);
            next.push_back(row[i]);
            i += 2;
        }
    }
    return next;
}
