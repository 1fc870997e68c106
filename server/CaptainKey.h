#pragma once

// The captain's key: anyone who can reach the tower page may look, but only
// a request carrying this key may change anything.

#include <string>

// A fresh random key, 32 hex digits.
std::string newCaptainKey();

// The key kept in `path`; a missing file is made, readable only by its
// owner, with a fresh key. Empty, with `error` set, when the file cannot be
// made or read, is empty, or can be read by others.
std::string captainKeyFrom(const std::string& path, std::string& error);
