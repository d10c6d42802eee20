#include "core/IFiberScheduler.h"
#include "core/VSyncEvent.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixFiber.h"
#include "support/TaskTestSupport.h"
#include "system/VSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::kWaitBoundMs;
using test::StTaskMgrScope;

// Starts a fiber task (created with the calling task as the one to return to).
VRefPtr<VTask> NewFiberTask(std::function<void()> body) {
    return VRefPtr<VTask>::Adopt(new VTask(0, eTaskStyleFiber, std::move(body)));
}

TEST(VFiber, AFiberTaskRunsWhileItsCreatorWaits) {
    StTaskMgrScope scope(true);
    ASSERT_TRUE(scope.IsInited());
    VTask* main = VTask::GetCurrent();
    EXPECT_TRUE(main->IsFiber());
    std::atomic<bool> creatorRunning{true};
    std::atomic<VTask*> seen{nullptr};
    std::atomic<bool> creatorWasSuspended{false};
    VRefPtr<VTask> task = NewFiberTask([&] {
        seen = VTask::GetCurrent();
        creatorWasSuspended = !creatorRunning.load();
    });
    EXPECT_LT(task->GetID(), 0); // fibers are numbered by the manager
    EXPECT_TRUE(task->IsFiber());
    creatorRunning = false;
    ASSERT_TRUE(task->Run()); // hands control over until the fiber ends
    creatorRunning = true;
    EXPECT_EQ(seen.load(), task.Get());
    EXPECT_TRUE(creatorWasSuspended.load());
    EXPECT_EQ(task->GetState(), eTaskStateDead);
    EXPECT_EQ(VTask::GetCurrent(), main);
}

TEST(VFiber, ExitFromAFiberGoesBackToItsCreator) {
    StTaskMgrScope scope(true);
    ASSERT_TRUE(scope.IsInited());
    bool after = false;
    VRefPtr<VTask> task = NewFiberTask([&] {
        VTask::Exit();
        after = true;
    });
    ASSERT_TRUE(task->Run());
    EXPECT_FALSE(after);
    EXPECT_EQ(task->GetState(), eTaskStateDead);
}

TEST(VFiber, FreedFiberIDsAreReusedLastFreedFirst) {
    StTaskMgrScope scope(true);
    ASSERT_TRUE(scope.IsInited());
    VRefPtr<VTask> first = NewFiberTask([] {});
    VRefPtr<VTask> second = NewFiberTask([] {});
    int32 firstID = first->GetID();
    int32 secondID = second->GetID();
    EXPECT_NE(firstID, secondID);
    ASSERT_TRUE(first->Run());
    ASSERT_TRUE(second->Run());
    first.Clear();
    second.Clear();
    VTaskMgr::Get()->PurgeDeadTasks(); // frees first's ID, then second's
    VRefPtr<VTask> third = NewFiberTask([] {});
    VRefPtr<VTask> fourth = NewFiberTask([] {});
    EXPECT_EQ(third->GetID(), secondID);
    EXPECT_EQ(fourth->GetID(), firstID);
}

TEST(VFiber, FiberTasksNeedAFiberedProcess) {
    StTaskMgrScope scope(false);
    ASSERT_TRUE(scope.IsInited());
    VRefPtr<VTask> task = NewFiberTask([] { ADD_FAILURE() << "ran"; });
    EXPECT_FALSE(task->Run());
    EXPECT_EQ(task->GetState(), eTaskStateNotStarted);
}

TEST(VFiber, SiblingsHandControlToEachOther) {
    StTaskMgrScope scope(true);
    ASSERT_TRUE(scope.IsInited());
    std::vector<int> order;
    VRefPtr<VTask> second;
    VRefPtr<VTask> first = NewFiberTask([&] {
        order.push_back(1);
        VTask* self = VTask::GetCurrent();
        second = NewFiberTask([&, self] {
            order.push_back(2);
            VTaskMgr::Get()->YieldToFiber(self); // siblings: both return to the main task
            order.push_back(99);                 // never scheduled again
        });
        second->Run();
        order.push_back(3);
    });
    ASSERT_TRUE(first->Run());
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(first->GetState(), eTaskStateDead);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetState(), eTaskStateRunning);
    // The fiber that will never run again dies, although it never reached its end.
    VTaskMgr::Get()->FiberStoppedBeingScheduled(second.Get());
    EXPECT_EQ(second->GetState(), eTaskStateDead);
}

TEST(VFiber, FibersAlternateOnOneLogicalThread) {
    struct Shared {
        XPosixFiber* creator = nullptr;
        std::vector<int> trace;
    } shared;
    std::thread host([&shared] {
        shared.creator = ConvertThreadToFiber(nullptr);
        EXPECT_EQ(GetCurrentFiber(), shared.creator);
        SwitchToFiber(shared.creator); // to itself: returns at once
        XPosixFiber* fiber = CreateFiberEx(
            0, 2048 * 1024, 0,
            [](void* data) {
                auto* s = static_cast<Shared*>(data);
                for (int i = 0; i < 3; ++i) {
                    s->trace.push_back(2 * i + 1);
                    SwitchToFiber(s->creator);
                }
            },
            &shared);
        ASSERT_NE(fiber, nullptr);
        EXPECT_EQ(fiber->GetData(), &shared);
        for (int i = 0; i < 3; ++i) {
            shared.trace.push_back(2 * i);
            SwitchToFiber(fiber);
        }
        DeleteFiber(fiber); // suspended: aborted and joined
        DeleteFiber(nullptr);
        DeleteFiber(shared.creator);
        EXPECT_EQ(GetCurrentFiber(), nullptr);
    });
    host.join();
    EXPECT_EQ(shared.trace, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

// A scheduler under which the awaited event is set during the wait, and the wait lasts past its deadline.
class LateSettingScheduler : public VScheduler_void {
public:
    explicit LateSettingScheduler(VSyncEvent* event) : fEvent(event) {}
    void WaitFlagWithTimeout(std::atomic<int32>*, int32, int32 ms) override {
        uint32 start = VSystem::GetCurrentTime();
        fEvent->Set();
        test::WaitUntil([&] { return VSystem::GetCurrentTime() - start > uint32(ms); });
    }

private:
    VSyncEvent* fEvent;
};

TEST(VFiber, AnEventSetJustBeforeTheDeadlineWasSetInTime) {
    StTaskMgrScope scope(true);
    ASSERT_TRUE(scope.IsInited());
    auto event = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
    auto scheduler = VRefPtr<LateSettingScheduler>::Adopt(new LateSettingScheduler(event.Get()));
    VTaskMgr::Get()->SetFiberScheduler(scheduler.Get());
    EXPECT_TRUE(event->Lock(5)); // the main task is a fiber: the wait goes through the scheduler
    auto unset = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
    auto idle = VRefPtr<VScheduler_void>::Adopt(new VScheduler_void);
    VTaskMgr::Get()->SetFiberScheduler(idle.Get());
    EXPECT_FALSE(unset->Lock(5)); // nothing changes during the wait: timed out
}

} // namespace
} // namespace vela
