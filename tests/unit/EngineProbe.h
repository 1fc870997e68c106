#pragma once

// The engine's state opened up for tests that start from a state it would
// take too long to ring into (a strike counter about to wrap, a strike
// pending with the timer not yet armed), or that check the fuzzers' checks.

#include "ringer/RingerController.h"

class EngineProbe {
public:
    static EngineState& state(RingerController& controller) { return controller.engine; }
};
