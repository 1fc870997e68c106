#pragma once

#include "app/CommandLine.h"

#include <string>

// --write-sound: the bells' sound as a WAV file, made with the synthesis the
// window plays, written whole or not at all (an old file stays as it was).
// Returns what went wrong, or an empty text.
std::string writeSoundFile(const Options& options);
