#include "core/VCppMemMgr.h"
#include "core/VObject.h"
#include "core/VTaskMgr.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace vela {
namespace {

TEST(VMemoryHog, HogsBelongToTheRegisteringTask) {
    VCppMemMgr* manager = VObject::GetMainMemMgr();
    ASSERT_NE(manager, nullptr);
    test::StTaskMgrScope scope;
    ASSERT_TRUE(scope.IsInited());
    int32 before = manager->CountMemHogs();
    VMemoryHog* hog = manager->RegisterMemHog();
    ASSERT_NE(hog, nullptr);
    EXPECT_EQ(hog->GetTaskID(), VTaskMgr::GetCurrentTaskID());
    EXPECT_EQ(manager->CountMemHogs(), before + 1);
    EXPECT_TRUE(hog->GetLock().TryToLock());
    hog->GetLock().Unlock();
    EXPECT_TRUE(manager->UnRegisterMemHog(hog));
    EXPECT_EQ(manager->CountMemHogs(), before);
}

TEST(VMemoryHog, AnUnknownHogChangesNothingAndLeavesTheLockFree) {
    VCppMemMgr* manager = VObject::GetMainMemMgr();
    ASSERT_NE(manager, nullptr);
    VMemoryHog* registered = manager->RegisterMemHog();
    int32 count = manager->CountMemHogs();
    VMemoryHog stranger(42);
    EXPECT_TRUE(manager->UnRegisterMemHog(&stranger));
    EXPECT_TRUE(manager->UnRegisterMemHog(nullptr));
    EXPECT_EQ(manager->CountMemHogs(), count);
    EXPECT_EQ(manager->GetHogLock().GetOwner(), 0);
    VMemoryHog* other = nullptr;
    std::thread([&] { other = manager->RegisterMemHog(); }).join(); // would wait on a lock left held
    ASSERT_NE(other, nullptr);
    manager->UnRegisterMemHog(other);
    manager->UnRegisterMemHog(registered);
}

} // namespace
} // namespace vela
