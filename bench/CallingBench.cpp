// How long the Advanced Method Setup dialog's live proof takes: it plans the
// touch (expands the calling, proves the result) on every keystroke.

#include "method/Calling.h"

#include <benchmark/benchmark.h>

namespace {

MethodSettings plainBob(const char* place, std::string calling, std::string composition = "",
                        std::string startChange = "")
{
    MethodSettings settings;
    settings.placeNotation = place;
    settings.bobNotation = "14";
    settings.singleNotation = "1234";
    settings.calling = std::move(calling);
    settings.composition = std::move(composition);
    settings.startChange = std::move(startChange);
    return settings;
}

void planAndReport(benchmark::State& state, const MethodSettings& settings)
{
    int changes = 0;
    for (auto _ : state) {
        const TouchPlan plan = planTouch(settings);
        changes = plan.proof.changes;
        benchmark::DoNotOptimize(plan);
    }
    state.counters["changes"] = changes;
}

// A touch of 448 changes, from its calling.
void BM_PlainBobMajorWsH(benchmark::State& state)
{
    planAndReport(state, plainBob("x18x18x18x18,12", "W sH"));
}

// A peal of 5040 changes, typed as a composition.
void BM_PlainBobMajorPeal(benchmark::State& state)
{
    planAndReport(state, plainBob("x18x18x18x18,12", "", "pbpppppppbpspssppspppppppppppppsbpbpppppppspp"));
}

// The worst a proof can cost: 10,000 changes on twelve bells that never come round.
void BM_MaximusNeverRound(benchmark::State& state)
{
    planAndReport(state, plainBob("x1Tx1Tx1Tx1Tx1Tx1T,12", "", "", "1324567890ET"));
}

} // namespace

BENCHMARK(BM_PlainBobMajorWsH)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainBobMajorPeal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaximusNeverRound)->Unit(benchmark::kMillisecond);
