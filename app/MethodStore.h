#pragma once

// Where the methods imported from the Central Council's collection are kept
// for this user, and the library the program rings from: methods.txt first,
// the imported methods after it for the titles it does not hold.

#include "method/MethodCollection.h"
#include "method/MethodLibrary.h"

#include <filesystem>
#include <string>
#include <vector>

inline constexpr const char* kImportedMethodsFileName = "imported-methods.txt";

// $XDG_DATA_HOME/tolvane/imported-methods.txt, ~/.local/share when that is
// unset or not absolute.
std::filesystem::path importedMethodsPath();

struct LoadedLibrary {
    MethodLibrary library;
    std::filesystem::path libraryFile;   // the methods.txt read, empty when none
    std::filesystem::path importedFile;  // empty when nothing was imported
};

LoadedLibrary loadLibraryWithImports(const std::vector<std::filesystem::path>& candidates);

struct ImportOutcome {
    bool imported = false;
    std::string summary;  // one line for the user
};

// Reads the collection and, when it holds methods, replaces the user's
// imported methods with them; a failed reading keeps the old ones.
ImportOutcome importMethods(const std::filesystem::path& collection, const CollectionProgress& progress = {});

// What --method-info prints for `title`, one item a line; empty when no
// record has that title. Text goes to a terminal: UTF-8, no control bytes.
std::string methodInfo(const LoadedLibrary& loaded, const std::string& title);

// The record of a title as typed: the library's own bytes, or the Latin-1 of
// a UTF-8 title. nullptr when there is none.
const MethodDef* methodOfTitle(const MethodLibrary& library, const std::string& typed);

// The message for a title not found, with up to three close titles.
std::string methodNotFoundText(const MethodLibrary& library, const std::string& typed);
