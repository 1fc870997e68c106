#pragma once

// Reads arbitrary bytes as a method library file.

#include "method/MethodLibrary.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace fuzzcheck {

inline std::string checkField(const std::string& field)
{
    if (field.size() > kMaxLibraryLineLength)
        return "a field longer than a line";
    if (field.find('\n') != std::string::npos || field.find('\t') != std::string::npos)
        return "a field holds a line feed or a tab";
    return {};
}

inline std::string runLibrary(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream input(text);
    const MethodLibrary library = readMethodLibrary(input);

    // Each record comes from a line or a piece of one and uses two tabs of it.
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1
        + size / kMaxLibraryLineLength;
    const std::size_t tabs = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\t'));
    if (library.size() > lines || 2 * library.size() > tabs)
        return "more records than the text has lines or tabs for";

    int expected = 0;
    std::size_t bytes = 0;
    for (const auto& [number, record] : library) {
        if (number != expected++)
            return "record numbers are not 0..n-1";
        if (library.methodAt(number) != &record)
            return "methodAt does not find record " + std::to_string(number);
        for (const std::string* field :
             {&record.name, &record.placeNotation, &record.bobNotation, &record.singleNotation}) {
            const std::string broken = checkField(*field);
            if (!broken.empty())
                return broken;
            bytes += field->size();
        }
    }
    if (bytes > size)
        return "the records hold more bytes than the file";
    if (library.methodAt(-1) != nullptr || library.methodAt(static_cast<int>(library.size())) != nullptr)
        return "methodAt finds a record outside 0..n-1";
    return {};
}

}  // namespace fuzzcheck
