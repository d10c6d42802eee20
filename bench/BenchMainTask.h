// Internal to the benchmarks: the task manager for the life of one benchmark.
#pragma once

#include "core/VTaskMgr.h"

namespace vela::bench {

// Makes the calling thread the main task, and at the end kills the tasks left and takes the manager down, so that
// no benchmark runs on another's tasks or manager. IsInited is false when the manager was already up: a benchmark
// left it so, and this one must not measure in that state.
class StMainTask {
public:
    StMainTask() : fInited(VTaskMgr::Get()->Init()) {}
    ~StMainTask() {
        if (!fInited) return;
        VTaskMgr::Get()->KillAllTasks(kKillWaitMs);
        VTaskMgr::Get()->DeInit();
    }
    StMainTask(const StMainTask&) = delete;
    StMainTask& operator=(const StMainTask&) = delete;

    bool IsInited() const noexcept { return fInited; }

private:
    static constexpr int32 kKillWaitMs = 10000;
    bool fInited;
};

} // namespace vela::bench
