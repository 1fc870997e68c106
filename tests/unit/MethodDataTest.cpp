// Checks the shipped method library against the reference tables kept in
// tests/data: every lead, every plain course, and where the bobs and singles
// land when they are placed the way the ringing engine places them.

#include "method/Method.h"
#include "method/MethodLibrary.h"
#include "method/PlaceNotation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = TOLVANE_SOURCE_DIR;
const fs::path kLibraryFile = kSourceDir / "data" / kMethodLibraryFileName;
const fs::path kMethodsReference = kSourceDir / "tests" / "data" / "methods-reference.tsv";
const fs::path kCallsReference = kSourceDir / "tests" / "data" / "calls-reference.tsv";

// No permutation of 12 bells has an order above 60, so a course that is not
// round by then never will be.
constexpr int kMaxCourseLeads = 60;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.push_back(line);
    }
    return result;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    for (const auto& [column, part] : splitFields(text, separator)) parts.push_back(part);
    return parts;
}

// A tab-separated table whose first line names the columns.
using TableRow = std::map<std::string, std::string>;

std::vector<TableRow> readTable(const fs::path& path) {
    std::vector<TableRow> rows;
    const auto all = lines(readFile(path));
    if (all.empty()) return rows;
    const auto header = split(all.front(), '\t');
    for (std::size_t i = 1; i < all.size(); ++i) {
        if (all[i].empty()) continue;
        const auto cells = split(all[i], '\t');
        TableRow row;
        for (std::size_t c = 0; c < header.size() && c < cells.size(); ++c) row[header[c]] = cells[c];
        rows.push_back(row);
    }
    return rows;
}

struct LibraryRecord {
    MethodDef def;
    int stage = 0;  // column 2, which MethodDef does not carry
};

std::vector<LibraryRecord> loadRecords() {
    const std::string text = readFile(kLibraryFile);
    std::map<std::string, int> stageByName;
    for (const auto& line : lines(text)) {
        const auto columns = split(line, '\t');
        if (columns.size() >= 3) stageByName[columns[0]] = std::atoi(columns[1].c_str());
    }
    std::istringstream in(text);
    std::vector<LibraryRecord> records;
    for (const auto& [number, def] : readMethodLibrary(in)) records.push_back({def, stageByName[def.name]});
    return records;
}

const std::vector<LibraryRecord>& library() {
    static const std::vector<LibraryRecord> records = loadRecords();
    return records;
}

const LibraryRecord* findRecord(const std::string& name) {
    for (const auto& record : library())
        if (record.def.name == name) return &record;
    return nullptr;
}

std::string rounds(int stage) { return std::string(kBellSymbols.substr(0, stage)); }

CompiledMethod compile(const MethodDef& def) {
    MethodSettings settings;
    settings.placeNotation = def.placeNotation;
    settings.bobNotation = def.bobNotation;
    settings.singleNotation = def.singleNotation;
    CompiledMethod method;
    MessageList messages;
    compileMethod(method, settings, messages);
    EXPECT_TRUE(messages.texts.empty()) << def.name << ": " << (messages.texts.empty() ? "" : messages.texts.front());
    return method;
}

using Lead = std::vector<std::string>;

Lead plainLead(const CompiledMethod& method) {
    Lead lead;
    for (const auto& [number, token] : method.plainLead) lead.push_back(token);
    return lead;
}

// Every row after each change of the lead, the lead head last.
std::vector<std::string> ringLead(std::string row, const Lead& lead, int stage) {
    std::vector<std::string> rows;
    for (const auto& token : lead) {
        row = applyChange(row, token, stage);
        rows.push_back(row);
    }
    return rows;
}

struct Course {
    int leads = 0;
    bool cameRound = false;
    bool isTrue = true;
};

// Rings lead after lead from rounds, each lead given by `leadAt`, until rounds.
template <typename LeadAt>
Course ringCourse(int stage, LeadAt leadAt) {
    Course course;
    std::set<std::string> seen;
    std::string row = rounds(stage);
    while (course.leads < kMaxCourseLeads) {
        for (const auto& next : ringLead(row, leadAt(course.leads), stage)) {
            if (!seen.insert(row).second) course.isTrue = false;
            row = next;
        }
        ++course.leads;
        if (row == rounds(stage)) {
            course.cameRound = true;
            break;
        }
    }
    return course;
}

// Where a call heard after `count` changes of the current lead is written, by
// the placement rules of the ringing engine: `start` counts from the start of
// the current lead and runs on into the following lead from L.
struct CallPlacement {
    int start = 0;
    Lead changes;
};

CallPlacement placeCall(const CompiledMethod& method, int kind, int count) {
    const ParsedNotation& call = method.callBlocks[kind];
    static const NotationBlock kNoBlock;
    const auto block = [&](int j) -> const NotationBlock& {
        const auto found = call.find(j);
        return found == call.end() ? kNoBlock : found->second;
    };
    const auto changesOf = [](const NotationBlock& b) {
        Lead changes;
        for (const auto& [number, token] : b.changes) changes.push_back(token);
        return changes;
    };
    const int leadLength = static_cast<int>(method.plainLead.size());
    std::vector<int> ends;
    for (const auto& [number, end] : method.blockEnds) ends.push_back(end);

    if (call.size() >= 2) {
        for (std::size_t j = 0; j < ends.size(); ++j) {
            const int at = ends[j] + block(static_cast<int>(j)).shift;
            if (count < at) return {at, changesOf(block(static_cast<int>(j)))};
        }
        return {ends[0] + block(0).shift + leadLength, changesOf(block(0))};
    }
    const int shift = block(0).shift;
    if (ends.size() >= 2) {
        for (const int end : ends)
            if (count < end + shift) return {end + shift, changesOf(block(0))};
        return {ends[0] + shift + leadLength, changesOf(block(0))};
    }
    int at = leadLength + shift;
    if (count > at) at += leadLength;
    return {at, changesOf(block(0))};
}

// One lead carrying a call whose first change falls at `index`, with the
// positions of that lead the call wrote.
struct CalledLead {
    bool found = false;
    Lead lead;
    std::vector<int> written;
};

CalledLead leadWithCallAt(const CompiledMethod& method, int kind, int index) {
    const Lead plain = plainLead(method);
    const int leadLength = static_cast<int>(plain.size());
    for (int count = 0; count < leadLength; ++count) {
        const CallPlacement placement = placeCall(method, kind, count);
        if (placement.start != index && placement.start != index + leadLength) continue;
        CalledLead called{true, plain, {}};
        const int leadStart = placement.start - index;
        for (std::size_t i = 0; i < placement.changes.size(); ++i) {
            const int position = placement.start + static_cast<int>(i) - leadStart;
            if (position >= leadLength) return {};  // a call split over a lead end
            called.lead[position] = placement.changes[i];
            called.written.push_back(position);
        }
        return called;
    }
    return {};
}

int callKind(const std::string& name) { return name == "bob" ? kBob : kSingle; }

bool isPrinciple(const std::string& name) {
    return name.starts_with("Stedman") || name.starts_with("Erin") || name.starts_with("Carter");
}

// The six-end changes of a Stedman or Erin lead: the only changes that make
// just the back place.
std::vector<int> sixEnds(const Lead& lead, int stage) {
    std::vector<int> ends;
    const std::string back(1, kBellSymbols[stage - 1]);
    for (std::size_t i = 0; i < lead.size(); ++i)
        if (lead[i] == back) ends.push_back(static_cast<int>(i));
    return ends;
}

TEST(MethodLibraryFile, IsWellFormedOrderedAndCompilesSilently) {
    const auto text = readFile(kLibraryFile);
    ASSERT_FALSE(text.empty()) << kLibraryFile;
    ASSERT_GE(library().size(), 150u);

    const std::map<std::string, int> stageNames = {
        {"Minimus", 4}, {"Doubles", 5}, {"Minor", 6},   {"Triples", 7}, {"Major", 8},
        {"Caters", 9},  {"Royal", 10},  {"Cinques", 11}, {"Maximus", 12}};
    for (const auto& line : lines(text)) {
        SCOPED_TRACE(line);
        EXPECT_EQ(split(line, '\t').size(), 5u);
        EXPECT_EQ(line.find('\r'), std::string::npos);
    }
    std::set<std::string> names;
    std::set<int> stages;
    int previousStage = 0;
    for (const auto& record : library()) {
        SCOPED_TRACE(record.def.name);
        EXPECT_TRUE(names.insert(record.def.name).second) << "listed twice";
        const auto lastWord = record.def.name.substr(record.def.name.rfind(' ') + 1);
        ASSERT_TRUE(stageNames.contains(lastWord));
        EXPECT_EQ(record.stage, stageNames.at(lastWord));
        EXPECT_GE(record.stage, previousStage) << "stages out of order";
        previousStage = record.stage;
        stages.insert(record.stage);
        EXPECT_FALSE(compile(record.def).plainLead.empty());
    }
    EXPECT_EQ(stages.size(), stageNames.size()) << "every stage from 4 to 12 has methods";
}

TEST(MethodLibraryFile, PlainLeadsAndCoursesMatchTheReference) {
    const auto reference = readTable(kMethodsReference);
    ASSERT_GE(reference.size(), 150u);
    std::map<std::string, TableRow> byName;
    for (const auto& row : reference) byName[row.at("name")] = row;

    for (const auto& row : reference)
        EXPECT_NE(findRecord(row.at("name")), nullptr) << row.at("name") << " is missing";

    int unreferenced = 0;
    for (const auto& record : library()) {
        SCOPED_TRACE(record.def.name);
        const int stage = record.stage;
        const Lead lead = plainLead(compile(record.def));
        const Course course = ringCourse(stage, [&](int) { return lead; });
        EXPECT_TRUE(course.cameRound);
        EXPECT_TRUE(course.isTrue);

        const auto found = byName.find(record.def.name);
        if (found == byName.end()) {
            ++unreferenced;
            continue;
        }
        const TableRow& expected = found->second;
        ASSERT_EQ(stage, std::stoi(expected.at("stage")));
        ASSERT_EQ(lead.size(), std::stoul(expected.at("lead_length")));
        Lead referenceLead;
        for (const auto& [number, token] : splitFields(expected.at("notation"), '.')) referenceLead.push_back(token);
        // Row by row, so a change that is spelt differently but rings the same still passes.
        EXPECT_EQ(ringLead(rounds(stage), lead, stage), ringLead(rounds(stage), referenceLead, stage));
        EXPECT_EQ(ringLead(rounds(stage), lead, stage).back(), expected.at("lead_head"));
        EXPECT_EQ(course.leads, std::stoi(expected.at("plain_course_leads")));
    }
    EXPECT_LE(unreferenced, 10) << "most of the library is checked against the reference";
}

TEST(MethodLibraryCalls, CalledLeadsMatchTheReference) {
    const auto reference = readTable(kCallsReference);
    ASSERT_FALSE(reference.empty());
    for (const auto& row : reference) {
        const std::string& name = row.at("method");
        SCOPED_TRACE(name + " " + row.at("call") + " at " + row.at("replaced_indices"));
        const LibraryRecord* record = findRecord(name);
        ASSERT_NE(record, nullptr);
        const int stage = record->stage;
        const CompiledMethod method = compile(record->def);

        std::vector<int> replaced;
        for (const auto& [n, index] : splitFields(row.at("replaced_indices"), ',')) replaced.push_back(std::stoi(index));
        const CalledLead called = leadWithCallAt(method, callKind(row.at("call")), replaced.front());
        ASSERT_TRUE(called.found) << "no call lands there";
        EXPECT_EQ(called.written, replaced);

        EXPECT_EQ(ringLead(rounds(stage), plainLead(method), stage).back(), row.at("lead_head_plain"));
        EXPECT_EQ(ringLead(rounds(stage), called.lead, stage).back(), row.at("lead_head_called"));
        const Course course = ringCourse(stage, [&](int) { return called.lead; });
        EXPECT_TRUE(course.cameRound);
        EXPECT_EQ(course.leads, std::stoi(row.at("leads_to_rounds_if_called_every_lead")));
    }
}

// For the records the call table does not cover: a call must do something,
// the bob and single must differ, and no call may disturb the treble's path,
// which would mean it lands somewhere other than the treble's lead.
TEST(MethodLibraryCalls, EveryCallChangesTheLeadAndKeepsTheTrebleHunting) {
    for (const auto& record : library()) {
        SCOPED_TRACE(record.def.name);
        const int stage = record.stage;
        const CompiledMethod method = compile(record.def);
        const Lead plain = plainLead(method);
        const auto plainRows = ringLead(rounds(stage), plain, stage);
        const bool hasHuntingTreble = plainRows.back().front() == '1';
        EXPECT_TRUE(hasHuntingTreble || isPrinciple(record.def.name));

        std::set<std::string> leadHeads = {plainRows.back()};
        for (const auto& [kind, notation] : {std::pair{kBob, record.def.bobNotation}, std::pair{kSingle, record.def.singleNotation}}) {
            if (notation.empty()) continue;
            SCOPED_TRACE(notation);
            for (int count = 0; count < static_cast<int>(plain.size()); ++count) {
                const CallPlacement placement = placeCall(method, kind, count);
                ASSERT_FALSE(placement.changes.empty());
                EXPECT_GE(placement.start, count) << "a call heard after " << count << " changes lands in the past";
            }
            const int index = placeCall(method, kind, 0).start % static_cast<int>(plain.size());
            const CalledLead called = leadWithCallAt(method, kind, index);
            ASSERT_TRUE(called.found);
            const auto calledRows = ringLead(rounds(stage), called.lead, stage);
            EXPECT_TRUE(leadHeads.insert(calledRows.back()).second) << "same lead head as another call or the plain lead";
            if (!hasHuntingTreble) continue;
            for (std::size_t i = 0; i < calledRows.size(); ++i)
                EXPECT_EQ(calledRows[i].find('1'), plainRows[i].find('1')) << "after change " << i;
        }
    }
}

// Stedman and Erin are rung in sixes: a call may only replace a six-end
// change, and each call must go to the next six end still to come.
TEST(MethodLibraryCalls, StedmanAndErinCallsFallOnlyAtSixEnds) {
    int checked = 0;
    for (const auto& record : library()) {
        const bool stedman = record.def.name.starts_with("Stedman");
        if (!stedman && !record.def.name.starts_with("Erin")) continue;
        SCOPED_TRACE(record.def.name);
        const int stage = record.stage;
        const CompiledMethod method = compile(record.def);
        const Lead lead = plainLead(method);
        const int leadLength = static_cast<int>(lead.size());
        const std::vector<int> ends = sixEnds(lead, stage);
        ASSERT_EQ(ends.size(), stedman ? 2u : 1u);
        // A composition steps once per block end, so blocks and sixes must pair up.
        EXPECT_EQ(method.blockEnds.size(), ends.size());

        std::vector<int> sixEndsAhead = ends;
        for (const int end : ends) sixEndsAhead.push_back(end + leadLength);
        for (const auto& [kind, notation] : {std::pair{kBob, record.def.bobNotation}, std::pair{kSingle, record.def.singleNotation}}) {
            if (notation.empty()) continue;
            SCOPED_TRACE(notation);
            for (int count = 0; count < leadLength; ++count) {
                const CallPlacement placement = placeCall(method, kind, count);
                const int nextSixEnd = *std::upper_bound(sixEndsAhead.begin(), sixEndsAhead.end(), count);
                EXPECT_EQ(placement.start, nextSixEnd) << "heard after " << count << " changes";
                EXPECT_EQ(placement.changes.size(), 1u) << "a call replaces the six-end change alone";
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 14);
}

// The copies in tests/data are what the tests read; they must not drift from
// the checked originals when those are at hand.
TEST(MethodReferenceCopies, MatchTheSharedOriginals) {
    const fs::path shared = TOLVANE_SHARED_DATA_DIR;
    if (!fs::exists(shared)) GTEST_SKIP() << "no shared reference data at " << shared;
    for (const auto& copy : {kMethodsReference, kCallsReference}) {
        const fs::path original = shared / copy.filename();
        if (!fs::exists(original)) continue;
        EXPECT_EQ(readFile(copy), readFile(original)) << copy.filename();
    }
}

}  // namespace
