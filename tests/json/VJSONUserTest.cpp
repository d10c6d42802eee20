#include "json/VJSONUser.h"

#include "support/TaskTestSupport.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vela {
namespace {

using test::WaitUntil;

TEST(VJSONUser, WithoutLockerThereIsNothingToTake) {
    VJSONValue object(JSON_object);
    VJSONValue number(1.0);
    EXPECT_TRUE(VJSONUser(object.GetObjectPtr()).IsInUse());
    EXPECT_TRUE(VJSONUser(number).IsInUse());
    EXPECT_TRUE(VJSONUser(static_cast<VStorageLocker*>(nullptr), true).IsInUse());
}

TEST(VJSONUser, UsesTheLockerForItsScope) {
    auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray(true));
    VRefPtr<VStorageLocker> locker = array->GetStorageLocker();
    {
        VJSONUser user(array.Get());
        EXPECT_TRUE(user.IsInUse());
        EXPECT_EQ(locker->GetUseCount(), 1);
        EXPECT_TRUE(array->Push(VJSONValue(1.0))); // writes need the use
        VJSONUser again{VJSONValue(array.Get())};
        EXPECT_EQ(locker->GetUseCount(), 2);
    }
    EXPECT_EQ(locker->GetUseCount(), 0);
    EXPECT_EQ(locker->GetOwner(), 0u);
    EXPECT_EQ(locker->GetRefCount(), 2); // the guards gave their references back
}

TEST(VJSONUser, TryModeFailsWhileAnotherThreadUsesTheLocker) {
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
    VRefPtr<VStorageLocker> locker = object->GetStorageLocker();
    std::atomic<bool> taken{false};
    std::atomic<bool> release{false};
    std::thread other([&] {
        locker->Use();
        taken = true;
        WaitUntil([&] { return release.load(); });
        locker->EndUse();
    });
    EXPECT_TRUE(WaitUntil([&] { return taken.load(); }));
    {
        VJSONUser user(object.Get(), true);
        EXPECT_FALSE(user.IsInUse());
    } // ends no use it did not take
    EXPECT_EQ(locker->GetUseCount(), 1);
    release = true;
    other.join();
    EXPECT_EQ(locker->GetUseCount(), 0);
    VJSONUser user(object.Get(), true);
    EXPECT_TRUE(user.IsInUse());
}

} // namespace
} // namespace vela
