#include "method/MethodLibrary.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <system_error>

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

bool isOpenableFile(const std::filesystem::path& path)
{
    std::error_code error;
    return !std::filesystem::is_directory(path, error);
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

MethodLibrary loadMethodLibrary(const std::vector<std::filesystem::path>& candidates)
{
    for (const auto& path : candidates) {
        if (!isOpenableFile(path))
            continue;
        // Binary, so that CR LF is recognised the same way on every platform.
        std::ifstream file(path, std::ios::binary);
        if (file.is_open())
            return readMethodLibrary(file);
    }
    return {};
}
