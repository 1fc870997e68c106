#include "method/MethodLibrary.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <system_error>
#include <unordered_map>

namespace {

constexpr char kFieldSeparator = '\t';
constexpr std::size_t kMinRecordColumns = 3;

using LineHandler = std::function<void(const std::string&)>;

void dropCarriageReturn(std::string& line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
}

// Hands each line to `handle`, cut at LF (a CR just before it is part of the
// terminator) and into pieces of at most kMaxLibraryLineLength characters.
// A piece is held back by one character so that a CR closing a full piece can
// still be dropped; no line, however long, is held in memory whole.
void forEachLibraryLine(std::istream& input, const LineHandler& handle)
{
    std::string piece;
    bool lineHadPiece = false;
    for (auto it = std::istreambuf_iterator<char>(input); it != std::istreambuf_iterator<char>(); ++it) {
        const char c = *it;
        if (c == '\n') {
            dropCarriageReturn(piece);
            if (!piece.empty() || !lineHadPiece)
                handle(piece);
            piece.clear();
            lineHadPiece = false;
            continue;
        }
        piece.push_back(c);
        if (piece.size() > kMaxLibraryLineLength) {
            handle(piece.substr(0, kMaxLibraryLineLength));
            piece.erase(0, kMaxLibraryLineLength);
            lineHadPiece = true;
        }
    }
    if (!piece.empty())
        handle(piece);
}

std::string columnOrEmpty(const std::map<int, std::string>& columns, int column)
{
    const auto it = columns.find(column);
    return it == columns.end() ? std::string() : it->second;
}

}  // namespace

void MethodLibrary::add(MethodDef record)
{
    const int recordNumber = static_cast<int>(records.size());
    records.emplace(recordNumber, std::move(record));
}

const MethodDef* MethodLibrary::methodRinging(const std::string& placeNotation, const std::string& bobNotation,
                                              const std::string& singleNotation) const
{
    for (const auto& [number, record] : records)
        if (record.placeNotation == placeNotation && record.bobNotation == bobNotation &&
            record.singleNotation == singleNotation)
            return &record;
    return nullptr;
}

const MethodDef* MethodLibrary::methodAt(int recordNumber) const
{
    const auto it = records.find(recordNumber);
    return it == records.end() ? nullptr : &it->second;
}

const MethodDef* MethodLibrary::methodTitled(std::string_view title) const
{
    for (const auto& [number, record] : records)
        if (record.name == title)
            return &record;
    return nullptr;
}

namespace {

// Latin-1's capitals fold onto its small letters, the signs between them aside.
unsigned char foldCase(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7))
        return static_cast<unsigned char>(byte + 0x20);
    return byte;
}

bool sameInAnyCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return foldCase(x) == foldCase(y); });
}

} // namespace

const MethodDef* MethodLibrary::methodTitledInAnyCase(std::string_view title) const
{
    const MethodDef* found = nullptr;
    for (const auto& [number, record] : records) {
        if (!sameInAnyCase(record.name, title))
            continue;
        if (found && found->name != record.name)
            return nullptr;
        if (!found)
            found = &record;
    }
    return found;
}

void MethodLibrary::addMissing(std::vector<MethodDef> extra)
{
    // A title's entry goes to nullptr once a record of `extra` has had its
    // say, so that a later one of the same title cannot change it.
    std::unordered_map<std::string, MethodDef*> titles;
    for (auto& [number, record] : records)
        titles.emplace(record.name, &record);
    for (MethodDef& record : extra) {
        const auto [it, isNew] = titles.emplace(record.name, nullptr);
        if (isNew) {
            add(std::move(record));
        } else if (it->second && it->second->classification.empty()) {
            // The record here rings as it always did; it is only found by
            // its class and stage as well.
            it->second->classification = record.classification;
            it->second->stage = record.stage;
        }
        it->second = nullptr;
    }
}

std::map<int, std::string> splitFields(std::string_view line, char separator)
{
    std::map<int, std::string> columns;
    int column = 0;
    for (std::size_t hit = line.find(separator); hit != std::string_view::npos; hit = line.find(separator)) {
        columns[column++] = std::string(line.substr(0, hit));
        line.remove_prefix(hit + 1);
    }
    columns[column] = std::string(line);
    return columns;
}

MethodLibrary readMethodLibrary(std::istream& input)
{
    MethodLibrary library;
    forEachLibraryLine(input, [&library](const std::string& line) {
        const auto columns = splitFields(line, kFieldSeparator);
        if (columns.size() < kMinRecordColumns)
            return;
        // Column 1 is a number the program has no use for.
        library.add(MethodDef{columnOrEmpty(columns, 0), columnOrEmpty(columns, 2),
                              columnOrEmpty(columns, 3), columnOrEmpty(columns, 4)});
    });
    return library;
}

std::filesystem::path firstOpenableFile(const std::vector<std::filesystem::path>& candidates)
{
    for (const auto& path : candidates) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error))
            continue;
        if (std::ifstream(path, std::ios::binary).is_open())
            return path;
    }
    return {};
}

MethodLibrary loadMethodLibrary(const std::vector<std::filesystem::path>& candidates)
{
    const std::filesystem::path path = firstOpenableFile(candidates);
    if (path.empty())
        return {};
    // Binary, so that CR LF is recognised the same way on every platform.
    std::ifstream file(path, std::ios::binary);
    return readMethodLibrary(file);
}

void writeImportedMethods(std::ostream& output, const std::vector<MethodDef>& methods, const std::string& origin)
{
    // A tab or a line end in the origin (it holds a file name) would make
    // the comment a record.
    std::string comment = origin;
    std::replace_if(comment.begin(), comment.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    output << "# " << comment << '\n';
    for (const MethodDef& m : methods)
        output << m.name << '\t' << m.stage << '\t' << m.placeNotation << '\t' << m.bobNotation << '\t'
               << m.singleNotation << '\t' << m.classification << '\n';
}

std::vector<MethodDef> readImportedMethods(std::istream& input)
{
    std::vector<MethodDef> methods;
    std::string line;
    std::vector<std::string_view> columns;
    while (std::getline(input, line)) {
        dropCarriageReturn(line);
        if (line.size() > kMaxImportedLineLength)
            continue;
        columns.clear();
        std::string_view rest(line);
        for (std::size_t tab = rest.find(kFieldSeparator); tab != std::string_view::npos; tab = rest.find(kFieldSeparator)) {
            columns.push_back(rest.substr(0, tab));
            rest.remove_prefix(tab + 1);
        }
        columns.push_back(rest);
        if (columns.size() < 5)
            continue;
        MethodDef m{std::string(columns[0]), std::string(columns[2]), std::string(columns[3]), std::string(columns[4])};
        const std::string_view stage = columns[1];
        if (stage.size() <= 2 && !stage.empty() && stage.find_first_not_of("0123456789") == std::string_view::npos)
            m.stage = std::stoi(std::string(stage));
        if (columns.size() > 5)
            m.classification = std::string(columns[5]);
        m.imported = true;
        methods.push_back(std::move(m));
    }
    return methods;
}
