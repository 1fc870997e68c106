#pragma once

#include "method/MethodLibrary.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The stage a library record rings: its own, or the highest place its
// notation names.
int stageOf(const MethodDef& record);

// Finds methods of a library by what a ringer types: any part of the title,
// the stage name ("Major") or the class ("Treble Bob"), in any case, every
// word of the text somewhere. Built once per library, asked per keystroke.
class MethodSearch {
public:
    // REQUIRES: `library` outlives the search and does not change.
    explicit MethodSearch(const MethodLibrary& library);

    // Record numbers of the matches, best first: titles that start with the
    // text, then the library's own methods before imported ones, then words
    // that start with the text before text found inside a word; then by
    // stage and title. Not for use from two threads at once.
    std::vector<int> find(std::string_view text, std::size_t limit) const;

    // Up to `limit` titles close to a title not found: the best matches of
    // the text, or else the titles fewest typing mistakes away.
    std::vector<std::string> closeTitles(std::string_view text, std::size_t limit) const;

private:
    struct Entry {
        int record;
        int stage;
        bool imported;
        std::string title;     // lower case
        std::string haystack;  // lower case: title, class and stage name, between blanks
    };
    std::vector<Entry> entries;
    const MethodLibrary& library;
    // Typing on only narrows: a text that starts with the last one can only
    // match among the last one's matches, so they are all that is searched.
    mutable std::string lastTyped;
    mutable std::vector<std::size_t> lastMatches;  // indices into entries
};

// The name of a stage ("Major" for 8), empty for none.
std::string_view stageName(int stage);
