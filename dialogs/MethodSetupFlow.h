#pragma once

#include "method/Method.h"
#include "method/MethodLibrary.h"

#include <optional>
#include <string>

class QWidget;

// The "Set Method" flow: Method Setup, or Advanced Method Setup straight away
// while a start change or composition is set, with Advanced reachable from
// Method Setup. Gives the six settings to store, or nothing when the user
// cancelled anywhere along the way; storing and compiling them is the
// caller's.
// `towerBells` and `highestOwnBell` (0 when not known) put the tower's stage
// first in Method Setup and have it ask before taking a method that does not fit.
std::optional<MethodSettings> runMethodSetup(QWidget* parent, const MethodSettings& current,
                                             const MethodLibrary& library, int towerBells = 0,
                                             int highestOwnBell = 0);

// Runs Advanced Method Setup showing the given method and go-and-stop index
// with the current start change and composition.
std::optional<MethodSettings> advancedSetup(QWidget* parent, const MethodSettings& current,
                                            const std::string& placeNotation,
                                            const std::string& bobNotation,
                                            const std::string& singleNotation, int goAndStopIndex);
