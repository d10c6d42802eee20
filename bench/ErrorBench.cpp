// Opening and closing an error context guard with no error raised, on the main task, against an empty loop. The
// guard's cost is the time per iteration (also printed as per_guard); the ratio says little, the empty loop
// costing next to nothing.
#include "BenchMainTask.h"

#include "core/VError.h"
#include "core/VErrorContext.h"
#include "core/VTask.h"

#include <benchmark/benchmark.h>

namespace {

using namespace vela;

void ReportPerGuard(benchmark::State& state) {
    // Seconds per iteration, shown with its SI prefix (23.1ns).
    state.counters["per_guard"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ErrorGuard(benchmark::State& state) {
    bench::StMainTask main;
    if (!main.IsInited() || VTask::GetCurrent() == nullptr) {
        state.SkipWithError("no main task");
        return;
    }
    constexpr VError kExpected = MakeLibraryError(600);
    for (auto _ : state) {
        StErrorContextInstaller guard(kExpected, 0);
        benchmark::DoNotOptimize(guard.GetContext());
    }
    ReportPerGuard(state);
}

void BM_EmptyLoop(benchmark::State& state) {
    for (auto _ : state)
        benchmark::ClobberMemory();
    ReportPerGuard(state);
}

} // namespace

BENCHMARK(BM_ErrorGuard)->Name("error_guard/ours");
BENCHMARK(BM_EmptyLoop)->Name("error_guard/peer");
