#include "core/VMessage.h"
#include "core/VTask.h"
#include "support/TaskTestSupport.h"
#include "json/VStorageLocker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vela {
namespace {

using test::kWaitBoundMs;
using test::StartTask;
using VStorageLockerUse = test::TaskTest;
using test::WaitUntil;

VRefPtr<VStorageLocker> NewLocker() {
    return VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
}

TEST_F(VStorageLockerUse, UseWaitsUntilEveryUseOfTheOwnerEnded) {
    auto locker = NewLocker();
    ASSERT_TRUE(locker->Use());
    ASSERT_TRUE(locker->Use()); // twice: two ends needed
    std::atomic<bool> tried{false};
    std::atomic<bool> took{false};
    VRefPtr<VTask> waiter = StartTask([&] {
        EXPECT_FALSE(locker->TryToUse()); // owned elsewhere: false at once
        tried = true;
        took = locker->Use();
        EXPECT_EQ(locker->GetOwner(), uint32(VTask::GetCurrent()->GetID()));
        locker->EndUse();
    });
    ASSERT_TRUE(WaitUntil([&] { return tried.load() && waiter->GetWaitReason() == eTaskWaitMessages; }));
    locker->EndUse();
    EXPECT_EQ(locker->GetUseCount(), 1);
    EXPECT_FALSE(took.load());
    locker->EndUse();
    ASSERT_TRUE(waiter->WaitForDeath(kWaitBoundMs));
    EXPECT_TRUE(took.load());
    EXPECT_EQ(locker->GetOwner(), 0u);
}

TEST_F(VStorageLockerUse, AWaitingTaskKeepsExecutingItsMessages) {
    auto locker = NewLocker();
    ASSERT_TRUE(locker->Use());
    std::atomic<bool> took{false};
    VRefPtr<VTask> waiter = StartTask([&] {
        took = locker->Use();
        locker->EndUse();
    });
    ASSERT_TRUE(WaitUntil([&] { return waiter->GetWaitReason() == eTaskWaitMessages; }));
    std::atomic<bool> ranThere{false};
    EXPECT_TRUE(VFunctionMessage::PostToAndWait(waiter.Get(), [&] { ranThere = VTask::GetCurrent() == waiter.Get(); }));
    EXPECT_TRUE(ranThere.load());
    locker->EndUse();
    ASSERT_TRUE(waiter->WaitForDeath(kWaitBoundMs));
    EXPECT_TRUE(took.load());
}

TEST_F(VStorageLockerUse, UseAnswersFalseWhenTheWaitingTaskIsKilled) {
    auto locker = NewLocker();
    ASSERT_TRUE(locker->Use());
    std::atomic<int> answer{-1};
    VRefPtr<VTask> waiter = StartTask([&] { answer = locker->Use() ? 1 : 0; });
    ASSERT_TRUE(WaitUntil([&] { return waiter->GetWaitReason() == eTaskWaitMessages; }));
    waiter->Kill();
    ASSERT_TRUE(waiter->WaitForDeath(kWaitBoundMs));
    EXPECT_EQ(answer.load(), 0);
    EXPECT_EQ(locker->GetUseCount(), 1);
    locker->EndUse();
}

TEST(VStorageLocker, ThreadsThatAreNotTasksWaitToo) {
    auto locker = NewLocker();
    ASSERT_TRUE(locker->Use());
    std::atomic<bool> took{false};
    std::thread waiter([&] {
        took = locker->Use();
        locker->EndUse();
    });
    locker->EndUse(); // whether the thread waits already or not, it gets the locker
    waiter.join();
    EXPECT_TRUE(took.load());
    EXPECT_EQ(locker->GetOwner(), 0u);
}

} // namespace
} // namespace vela
