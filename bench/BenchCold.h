// Internal to the benchmarks: the state of a process that never did the work about to be measured.
#pragma once

#include <benchmark/benchmark.h>

#include <malloc.h>

namespace vela::bench {

// Gives the C library's free memory back to the system: what is allocated next comes from fresh pages, each
// faulted in on first touch, as in a process that never did the work before. Without it the later repetitions
// of a cold benchmark would reuse the pages the first one freed.
inline void ForgetFreeMemory() noexcept {
    malloc_trim(0);
}

// Makes a benchmark cold (through Apply): one timed operation per repetition, five repetitions.
inline void Cold(benchmark::internal::Benchmark* benchmark) {
    benchmark->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
}

} // namespace vela::bench
