#pragma once

#include "core/ITaskProcess.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vela::test {

// The bound of every wait in the task tests: long enough for a loaded sanitizer build, short enough that a
// failure does not hang the run.
constexpr int32 kWaitBoundMs = 20000;

// Waits until condition holds, yielding meanwhile, for at most kWaitBoundMs; answers the condition.
template <class Condition> bool WaitUntil(Condition condition, int32 boundMs = kWaitBoundMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::yield();
    }
    return true;
}

// The process a task test hands the manager: threads or fibers, and no activity tokens.
class VTestTaskProcess : public ITaskProcess {
public:
    explicit VTestTaskProcess(bool fibered) : fFibered(fibered) {}
    bool IsFibered() const noexcept override { return fFibered; }
    IRefCountable* CreateActivityToken(const VString&) override { return nullptr; }

private:
    bool fFibered;
};

// The calling thread is the main task while the scope lives; at its end every other task is killed (and
// waited for, bounded) before the manager stops.
class StTaskMgrScope {
public:
    explicit StTaskMgrScope(bool fibered = false) : fProcess(fibered), fInited(VTaskMgr::Get()->Init(&fProcess)) {}
    ~StTaskMgrScope() {
        if (!fInited) return;
        VTaskMgr::Get()->KillAllTasks(kWaitBoundMs);
        VTaskMgr::Get()->DeInit();
    }
    StTaskMgrScope(const StTaskMgrScope&) = delete;
    StTaskMgrScope& operator=(const StTaskMgrScope&) = delete;

    bool IsInited() const noexcept { return fInited; }

private:
    VTestTaskProcess fProcess;
    bool fInited;
};

// A fixture whose tests run on the main task.
class TaskTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fScope.IsInited()); }

    StTaskMgrScope fScope;
};

// Starts a task that runs body; the reference is the caller's.
template <class Body> VRefPtr<VTask> StartTask(Body body, ETaskStyle style = eTaskStylePreemptive) {
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, style, std::function<void()>(std::move(body))));
    EXPECT_TRUE(task->Run());
    return task;
}

// Starts a task that executes its messages until it is killed.
inline VRefPtr<VTask> StartMessageLoop() {
    return StartTask([] {
        VTask* self = VTask::GetCurrent();
        while (!self->IsDying())
            self->WaitAndExecuteMessages();
    });
}

// Kills task and waits for its death (bounded); answers whether it died.
inline bool KillAndWait(VTask* task) {
    task->Kill();
    return task->WaitForDeath(kWaitBoundMs);
}

} // namespace vela::test
