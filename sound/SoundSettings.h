#pragma once

#include "sound/BellTone.h"

#include <string>

// Whether the bells are heard, how loud, and the tenor's note.
struct SoundSettings {
    bool on = false;  // silent unless the user asks
    double volume = 0.8;  // 0 to 1
    std::string tenorNote = sound::kDefaultTenorNote;
};
