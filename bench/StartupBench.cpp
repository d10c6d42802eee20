// Start-up and shut-down of a tool process, measured by spawning a small executable that does them, against the
// same executable returning from main at once.

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Runs the start-up tool to its end; false when it could not run or did not exit with 0.
bool RunStartupTool(const char* mode) {
    char* argv[] = {const_cast<char*>(VELA_STARTUP_TOOL), const_cast<char*>(mode), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, VELA_STARTUP_TOOL, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Measure(benchmark::State& state, const char* mode) {
    for (auto _ : state) {
        if (!RunStartupTool(mode)) {
            state.SkipWithError("the start-up tool failed");
            return;
        }
    }
}

void BM_StartupShutdownOurs(benchmark::State& state) {
    Measure(state, "init");
}

void BM_StartupShutdownPeer(benchmark::State& state) {
    Measure(state, "none");
}

} // namespace

BENCHMARK(BM_StartupShutdownOurs)->Name("startup_shutdown/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupShutdownPeer)->Name("startup_shutdown/peer")->UseRealTime()->Unit(benchmark::kMillisecond);
