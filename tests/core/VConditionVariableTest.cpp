#include "core/VConditionVariable.h"
#include "core/VCriticalSection.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vela {
namespace {

TEST(VConditionVariable, BroadcastReleasesTheWholeWave) {
    VCriticalSection section;
    VConditionVariable condition;
    bool ready = false;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            section.Lock();
            bool broadcast = false;
            while (!ready)
                broadcast = condition.Wait(section, test::kWaitBoundMs);
            EXPECT_TRUE(section.IsHeldByCurrentTask());
            section.Unlock();
            if (broadcast) ++released;
        });
    }
    ASSERT_TRUE(test::WaitUntil([&] { return condition.GetWaiterCount() == 3; }));
    section.Lock();
    ready = true;
    EXPECT_TRUE(condition.Broadcast());
    section.Unlock();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(condition.GetWaiterCount(), 0);
}

TEST(VConditionVariable, AnotherSectionThanTheWavesIsRefusedAtOnce) {
    VCriticalSection first;
    VCriticalSection second;
    VConditionVariable condition;
    std::atomic<bool> release{false};
    std::thread waiter([&] {
        first.Lock();
        while (!release)
            condition.Wait(first, test::kWaitBoundMs);
        first.Unlock();
    });
    ASSERT_TRUE(test::WaitUntil([&] { return condition.GetWaiterCount() == 1; }));
    second.Lock();
    EXPECT_FALSE(condition.Wait(second, test::kWaitBoundMs)); // would wait the whole bound otherwise
    EXPECT_TRUE(second.IsHeldByCurrentTask());
    second.Unlock();
    EXPECT_EQ(condition.GetWaiterCount(), 1);
    first.Lock();
    release = true;
    condition.Broadcast();
    first.Unlock();
    waiter.join();
}

TEST(VConditionVariable, ATimedWaitWithoutBroadcastAnswersFalse) {
    VCriticalSection section;
    VConditionVariable condition;
    section.Lock();
    EXPECT_FALSE(condition.Wait(section, 1));
    EXPECT_FALSE(condition.Wait(section, 0));
    EXPECT_TRUE(section.IsHeldByCurrentTask());
    section.Unlock();
    EXPECT_EQ(condition.GetWaiterCount(), 0);
}

} // namespace
} // namespace vela
