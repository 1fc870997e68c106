#include "method/MethodSearch.h"

#include "method/Calling.h"
#include "method/Method.h"

#include <algorithm>
#include <array>
#include <tuple>

namespace {

constexpr std::array<std::string_view, 13> kStageNames{
    "", "", "", "Singles", "Minimus", "Doubles", "Minor", "Triples", "Major", "Caters", "Royal", "Cinques", "Maximus"};

std::string lowerCase(std::string_view text)
{
    std::string out(text);
    // Latin-1: A-Z and the accented capitals but the multiplication sign.
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7))
            c = static_cast<char>(byte + 0x20);
    }
    return out;
}

std::vector<std::string> wordsOf(std::string_view text)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        words.push_back(" " + lowerCase(text.substr(at, end - at)));
        at = end;
    }
    return words;
}

// 0 when every word starts a word of the haystack, 1 when some is only found
// inside one, 2 when some is not found at all. Each word comes with a blank
// before it, and the haystack starts with one.
int wordMatch(const std::string& haystack, const std::vector<std::string>& words)
{
    int worst = 0;
    for (const std::string& word : words) {
        if (haystack.find(word) != std::string::npos)
            continue;
        if (haystack.find(std::string_view(word).substr(1)) == std::string::npos)
            return 2;
        worst = 1;
    }
    return worst;
}

std::size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string_view stageName(int stage)
{
    return stage >= 0 && stage < static_cast<int>(kStageNames.size()) ? kStageNames[static_cast<std::size_t>(stage)]
                                                                      : std::string_view();
}

MethodSearch::MethodSearch(const MethodLibrary& library) : library(library)
{
    entries.reserve(library.size());
    for (const auto& [number, record] : library) {
        const int stage = record.imported ? record.stage : stageOf(record);
        std::string title = lowerCase(record.name);
        std::string haystack = " " + title + " " + lowerCase(record.classification) + " " +
                               lowerCase(stageName(stage)) + " ";
        entries.push_back(Entry{number, stage, record.imported, std::move(title), std::move(haystack)});
    }
}

std::vector<int> MethodSearch::find(std::string_view text, std::size_t limit) const
{
    const std::vector<std::string> words = wordsOf(text);
    if (words.empty())
        return {};
    const std::string typed = lowerCase(text.substr(std::min(text.find_first_not_of(' '), text.size())));
    using Rank = std::tuple<bool, bool, int, int, std::size_t, std::string_view, int>;
    const bool narrowing = !lastTyped.empty() && typed.starts_with(lastTyped);
    std::vector<std::size_t> matched;
    std::vector<Rank> ranked;
    const std::size_t candidates = narrowing ? lastMatches.size() : entries.size();
    for (std::size_t i = 0; i < candidates; ++i) {
        const std::size_t index = narrowing ? lastMatches[i] : i;
        const Entry& e = entries[index];
        const int match = wordMatch(e.haystack, words);
        if (match == 2)
            continue;
        matched.push_back(index);
        ranked.emplace_back(!e.title.starts_with(typed), e.imported, match, e.stage, e.title.size(), e.title,
                            e.record);
    }
    lastTyped = typed;
    lastMatches = std::move(matched);
    const std::size_t kept = std::min(limit, ranked.size());
    std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(kept), ranked.end());
    std::vector<int> found;
    for (std::size_t i = 0; i < kept; ++i)
        found.push_back(std::get<6>(ranked[i]));
    return found;
}

std::vector<std::string> MethodSearch::closeTitles(std::string_view text, std::size_t limit) const
{
    std::vector<std::string> titles;
    const std::vector<int> found = find(text, limit);
    if (!found.empty()) {
        for (int record : found)
            titles.push_back(library.methodAt(record)->name);
        return titles;
    }
    const std::string typed = lowerCase(text);
    // More mistakes than a third of the text is no longer a near miss.
    const std::size_t allowed = std::max<std::size_t>(2, typed.size() / 3);
    std::vector<std::pair<std::size_t, int>> near;
    for (const Entry& e : entries) {
        const std::size_t lengthGap = e.title.size() > typed.size() ? e.title.size() - typed.size()
                                                                    : typed.size() - e.title.size();
        if (lengthGap > allowed)
            continue;
        if (const std::size_t distance = editDistance(typed, e.title); distance <= allowed)
            near.emplace_back(distance, e.record);
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < near.size() && i < limit; ++i)
        titles.push_back(library.methodAt(near[i].second)->name);
    return titles;
}

int stageOf(const MethodDef& record)
{
    if (record.stage > 0)
        return record.stage;
    CompiledMethod compiled;
    MessageList ignored;
    buildPlainLead(compiled, record.placeNotation, ignored);
    return methodStage(compiled);
}
