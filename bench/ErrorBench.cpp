// Opening and closing an error context guard that filters one code, with no error raised, on the main task,
// against what a caller would otherwise write for the same guarantee: a thread-local stack of error frames, each
// holding the codes it filters and a std::vector of the errors raised in it, pushed on entry and merged into the
// enclosing frame when the scope ends. The guard's cost is also printed per iteration as per_guard.
#include "BenchMainTask.h"

#include "core/VError.h"
#include "core/VErrorContext.h"
#include "core/VTask.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

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

// The peer's record of an error and its frames.
struct VPeerError {
    VError fCode;
    std::string fText;
};

struct VPeerFrame {
    const VError* fFiltered;
    size_t fFilteredCount;
    std::vector<VPeerError> fErrors;
};

thread_local std::vector<VPeerFrame> tPeerFrames;

class StPeerGuard {
public:
    StPeerGuard(const VError* filtered, size_t count) { tPeerFrames.push_back({filtered, count, {}}); }
    ~StPeerGuard() {
        VPeerFrame frame = std::move(tPeerFrames.back());
        tPeerFrames.pop_back();
        if (tPeerFrames.empty()) return;
        std::vector<VPeerError>& outer = tPeerFrames.back().fErrors;
        for (VPeerError& error : frame.fErrors)
            outer.push_back(std::move(error));
    }
    StPeerGuard(const StPeerGuard&) = delete;
    StPeerGuard& operator=(const StPeerGuard&) = delete;

    VPeerFrame* GetFrame() const noexcept { return &tPeerFrames.back(); }
};

void BM_PeerGuard(benchmark::State& state) {
    static constexpr VError kExpected[] = {MakeLibraryError(600)};
    // The task's own frame, which the guards merge into as ours merge into the task's context.
    const StPeerGuard base(nullptr, 0);
    for (auto _ : state) {
        StPeerGuard guard(kExpected, 1);
        benchmark::DoNotOptimize(guard.GetFrame());
    }
    ReportPerGuard(state);
}

} // namespace

BENCHMARK(BM_ErrorGuard)->Name("error_guard/ours");
BENCHMARK(BM_PeerGuard)->Name("error_guard/peer");
