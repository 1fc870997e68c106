#pragma once

#include "app/CommandLine.h"

#include <string>
#include <vector>

// The options dialog's choices between runs, kept with QSettings in
// $XDG_CONFIG_HOME/tolvane/tolvane.conf (~/.config when that is unset). The
// file is the user's to edit: a value that is not good is left out and said.
struct LoadedSettings {
    SavedSettings settings;
    std::vector<std::string> problems;  // one line for each value left out
};

LoadedSettings loadSettings();
void saveSettings(const SavedSettings& settings);
