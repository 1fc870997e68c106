#include "app/MethodStore.h"

#include "files/AtomicFile.h"

#include "method/Calling.h"
#include "method/Method.h"
#include "method/MethodSearch.h"
#include "method/PlaceNotation.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSuggestedTitles = 3;

fs::path xdgDataHome()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && fs::path(data).is_absolute())
        return data;
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "") / ".local" / "share";
}

// Latin-1 bytes as UTF-8, control characters as '?': the text is a file's.
std::string terminalText(const std::string& latin1)
{
    std::string out;
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0)) {
            out.push_back('?');
        } else if (byte >= 0x80) {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Two imports at once each replace the store whole, the later one last; a
// failed write leaves the store as it was. Returns why not, or nothing.
std::string writeStore(const fs::path& path, const std::vector<MethodDef>& methods, const std::string& origin)
{
    std::error_code ignored;  // a directory that cannot be made fails the write, which says why
    fs::create_directories(path.parent_path(), ignored);
    return files::writeFileAtomically(path, [&](std::ostream& out) {
        writeImportedMethods(out, methods, origin);
        return true;
    });
}

}  // namespace

fs::path importedMethodsPath()
{
    return xdgDataHome() / "tolvane" / kImportedMethodsFileName;
}

LoadedLibrary loadLibraryWithImports(const std::vector<fs::path>& candidates)
{
    LoadedLibrary loaded;
    loaded.libraryFile = firstOpenableFile(candidates);
    if (!loaded.libraryFile.empty())
        loaded.library = loadMethodLibrary({loaded.libraryFile});
    const fs::path imported = importedMethodsPath();
    std::ifstream in(imported, std::ios::binary);
    if (in.is_open()) {
        loaded.importedFile = imported;
        loaded.library.addMissing(readImportedMethods(in));
    }
    return loaded;
}

ImportOutcome importMethods(const fs::path& collection, const CollectionProgress& progress)
{
    CollectionRead read = readMethodCollection(collection, progress);
    if (read.error.empty() && read.methods.empty())
        read.error = "no methods in " + collection.filename().string();
    if (!read.error.empty())
        return {false, describeCollectionRead(read)};
    const fs::path store = importedMethodsPath();
    const std::string failure = writeStore(
        store, read.methods,
        "Methods of the Central Council of Church Bell Ringers, imported from " + collection.filename().string());
    if (!failure.empty())
        return {false, "Methods not imported: " + store.string() + " cannot be written: " + failure};
    return {true, describeCollectionRead(read) + "; stored in " + store.string()};
}

std::string methodInfo(const LoadedLibrary& loaded, const std::string& title)
{
    const MethodDef* record = methodOfTitle(loaded.library, title);
    if (!record)
        return {};
    CompiledMethod compiled;
    MessageList ignored;
    buildPlainLead(compiled, record->placeNotation, ignored);
    const int stage = record->stage > 0 ? record->stage : methodStage(compiled);
    std::string row(kBellSymbols.substr(0, static_cast<std::size_t>(std::clamp(stage, 0, kMaxBells))));
    for (const auto& [number, change] : compiled.plainLead)
        row = applyChange(row, change, stage);
    const auto orNone = [](const std::string& notation) { return notation.empty() ? "none" : terminalText(notation); };
    const std::string source =
        record->imported ? "the Central Council's methods collection, imported in " + loaded.importedFile.string()
                         : "the method library " + loaded.libraryFile.string();
    std::string named(stageName(stage));
    return "Title: " + terminalText(record->name) + "\n" + "Stage: " + std::to_string(stage) +
           (named.empty() ? "" : " (" + named + ")") + "\n" + "Lead length: " +
           std::to_string(compiled.plainLead.size()) + "\n" + "Lead head: " + row + "\n" + "Bob: " +
           orNone(record->bobNotation) + "\n" + "Single: " + orNone(record->singleNotation) + "\n" + "From: " +
           source + "\n";
}

const MethodDef* methodOfTitle(const MethodLibrary& library, const std::string& typed)
{
    const std::string latin1 = latin1FromUtf8(typed);
    for (const std::string& title : {typed, latin1})
        if (const MethodDef* record = library.methodTitled(title))
            return record;
    // "plain bob major" is plain enough, when only one title reads so.
    for (const std::string& title : {typed, latin1})
        if (const MethodDef* record = library.methodTitledInAnyCase(title))
            return record;
    return nullptr;
}

std::string methodNotFoundText(const MethodLibrary& library, const std::string& typed)
{
    std::string text = "Method not found: " + typed;
    const std::vector<std::string> close = MethodSearch(library).closeTitles(latin1FromUtf8(typed), kSuggestedTitles);
    for (std::size_t i = 0; i < close.size(); ++i)
        text += (i == 0 ? "\ntolvane: did you mean \"" : i + 1 == close.size() ? "\" or \"" : "\", \"") +
                terminalText(close[i]);
    return close.empty() ? text : text + "\"?";
}
