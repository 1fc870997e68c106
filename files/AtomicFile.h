#pragma once

// Files the programs write are there whole or not at all: the contents go to
// a temporary file beside the target, which replaces it only once written and
// synced. A failure leaves the old file as it was and nothing else behind.

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace files {

// Writes `contents` to `target`; returns why it could not (the system's
// error text), or an empty text. A target that is not a regular file (a
// device, a pipe) cannot be replaced, so it is written in place.
std::string writeFileAtomically(const std::filesystem::path& target, std::string_view contents);
// The same, with the contents written by `write`, which returns false, or
// leaves the stream failed, when it could not make them.
std::string writeFileAtomically(const std::filesystem::path& target,
                                const std::function<bool(std::ostream&)>& write);

// Whether a later write of `target` would be allowed, found out now by making
// and removing the temporary file it would need; nothing is left behind.
// Returns why not, or an empty text.
std::string checkFileWritable(const std::filesystem::path& target);

} // namespace files
