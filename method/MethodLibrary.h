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
    friend bool operator==(const MethodDef&, const MethodDef&) = default;
};

inline constexpr const char* kMethodLibraryFileName = "methods.txt";
inline constexpr std::size_t kMaxLibraryLineLength = 1023;

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

// Loads the first of `candidates` that can be opened; empty when none can.
MethodLibrary loadMethodLibrary(const std::vector<std::filesystem::path>& candidates);
