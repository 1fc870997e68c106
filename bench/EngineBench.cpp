// Times the controller ringing a whole peal: every strike of the band and
// every echo of our own goes through the receive path, the dispatcher and the
// engine, as in a real tower.

#include "BenchTower.h"

#include <benchmark/benchmark.h>

namespace {

// Plain Bob Major with a calling that first comes round after 5040 changes.
MethodSettings plainBobMajorPeal()
{
    MethodSettings settings;
    settings.placeNotation = "x18x18x18x18,12";
    settings.bobNotation = "14";
    settings.singleNotation = "1234";
    settings.composition = "pbpppppppbpspssppspppppppppppppsbpbpppppppspp";
    return settings;
}

void reportStrikes(benchmark::State& state, long strikes, int changes)
{
    state.counters["changes"] = changes;
    state.counters["strikes/s"] = benchmark::Counter(static_cast<double>(strikes), benchmark::Counter::kIsRate);
    state.counters["s/strike"] = benchmark::Counter(static_cast<double>(strikes),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void ringPeals(benchmark::State& state, const std::string& robotBells)
{
    long strikes = 0;
    int changes = 0;
    for (auto _ : state) {
        BenchTower tower(8, robotBells, plainBobMajorPeal());
        strikes += tower.ring();
        changes = tower.controller.ringing().changesRung;
        if (tower.host.messagesShown != 0)
            state.SkipWithError("the engine reported a fault while ringing");
    }
    reportStrikes(state, strikes, changes);
}

// The robot on the two back bells, the band on the rest.
void BM_PealOfPlainBobMajor(benchmark::State& state)
{
    ringPeals(state, "78");
}
BENCHMARK(BM_PealOfPlainBobMajor)->Unit(benchmark::kMillisecond);

// The robot rings every bell: each strike is also a timer expiry and a send.
void BM_PealRungByTheRobotAlone(benchmark::State& state)
{
    ringPeals(state, "12345678");
}
BENCHMARK(BM_PealRungByTheRobotAlone)->Unit(benchmark::kMillisecond);

}  // namespace
