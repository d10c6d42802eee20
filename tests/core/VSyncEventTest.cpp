#include "core/VSyncEvent.h"
#include "core/VRefPtr.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vela {
namespace {

TEST(VSyncEvent, TimedLockAnswersAtOnceWithoutTime) {
    struct Case {
        bool set;
        int32 timeoutMs;
        bool expected;
    };
    const Case cases[] = {
        {false, 0, false}, {false, -5, false}, {true, 0, true}, {true, -5, true}, {true, 100000, true}};
    for (const Case& c : cases) {
        auto event = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
        if (c.set) event->Set();
        EXPECT_EQ(event->Lock(c.timeoutMs), c.expected) << c.set << " " << c.timeoutMs;
    }
}

TEST(VSyncEvent, SetWakesEveryWaiterAndResetMakesLaterOnesWait) {
    auto event = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event->Lock(test::kWaitBoundMs)) ++woken;
        });
    event->Set();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_TRUE(event->Lock()); // stays set
    event->Reset();
    EXPECT_FALSE(event->IsSet());
    EXPECT_FALSE(event->Lock(1));
}

TEST(VSyncEvent, AWokenWaiterMayReleaseTheLastReference) {
    // The waiter drops the event as soon as it wakes, while Set may still be running on the other thread: a use
    // of the freed event is for AddressSanitizer to report; here every waiter must wake.
    int woken = 0;
    for (int round = 0; round < 200; ++round) {
        auto* event = new VSyncEvent;
        event->Retain();
        bool locked = false;
        std::thread waiter([event, &locked] {
            locked = event->Lock();
            event->Release();
        });
        event->Set();
        event->Release();
        waiter.join();
        if (locked) ++woken;
    }
    EXPECT_EQ(woken, 200);
}

TEST(VSyncEvent, TasksWaitOnTheirThreads) {
    test::StTaskMgrScope scope;
    ASSERT_TRUE(scope.IsInited());
    auto event = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
    std::atomic<bool> woken{false};
    VRefPtr<VTask> task = test::StartTask([&] { woken = event->Lock(test::kWaitBoundMs); });
    event->Set();
    ASSERT_TRUE(task->WaitForDeath(test::kWaitBoundMs));
    EXPECT_TRUE(woken.load());
}

} // namespace
} // namespace vela
