#pragma once

#include <filesystem>
#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// One record of the method library.
struct MethodDef {
    std::string name;
    std::string placeNotation;
    std::string bobNotation;
    std::string singleNotation;
    // methods.txt names neither: known from an import only.
    int stage = 0;
    std::string classification{};  // "Surprise", "Little Bob", ...
    bool imported = false;       // from the Central Council's collection, not methods.txt
    friend bool operator==(const MethodDef&, const MethodDef&) = default;
};

inline constexpr const char* kMethodLibraryFileName = "methods.txt";
inline constexpr std::size_t kMaxLibraryLineLength = 1023;
// A line of the imported methods' store: longer than any the import writes,
// whose values (a notation of 4 KB written out in full) outgrow methods.txt's lines.
inline constexpr std::size_t kMaxImportedLineLength = 64 * 1024;

// The records of the library by record number, in file order.
class MethodLibrary {
public:
    using Records = std::map<int, MethodDef>;

    void add(MethodDef record);
    // The record stored under `recordNumber`, or nullptr when there is none.
    const MethodDef* methodAt(int recordNumber) const;
    // The first record that rings exactly this notation with these calls, or
    // nullptr: what a method set by its notation is called, if anything.
    const MethodDef* methodRinging(const std::string& placeNotation, const std::string& bobNotation,
                                   const std::string& singleNotation) const;
    std::size_t size() const { return records.size(); }
    bool empty() const { return records.empty(); }
    // The first record of this title, or nullptr.
    const MethodDef* methodTitled(std::string_view title) const;
    // The first record of this title in any case (Latin-1 letters folded),
    // when only one title matches; nullptr when none or several do.
    const MethodDef* methodTitledInAnyCase(std::string_view title) const;
    // Adds each record whose title no record here has: what is here keeps
    // priority, and only learns the class and stage of its title. Of
    // several records of one title in `extra`, only the first counts.
    void addMissing(std::vector<MethodDef> extra);
    Records::const_iterator begin() const { return records.begin(); }
    Records::const_iterator end() const { return records.end(); }

private:
    Records records;
};

// Column number (from 0) -> column text; every separator separates.
std::map<int, std::string> splitFields(std::string_view line, char separator);

// Reads records from a stream: lines cut at LF or CR LF, pieces of at most
// kMaxLibraryLineLength characters, lines of fewer than three columns skipped.
MethodLibrary readMethodLibrary(std::istream& input);

// The imported methods as stored for a user: methods.txt's columns and
// then the stage (in column 1, as the shipped file has it) and the class,
// after one comment line, without a tab, saying where they came from. A line
// is a record by its columns, so a title may begin with '#'; lines longer
// than kMaxImportedLineLength are skipped.
void writeImportedMethods(std::ostream& output, const std::vector<MethodDef>& methods, const std::string& origin);
std::vector<MethodDef> readImportedMethods(std::istream& input);

// The first of `candidates` that is a file that can be opened; empty when none is.
std::filesystem::path firstOpenableFile(const std::vector<std::filesystem::path>& candidates);
// Loads the first of `candidates` that can be opened; empty when none can.
MethodLibrary loadMethodLibrary(const std::vector<std::filesystem::path>& candidates);
