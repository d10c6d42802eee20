#include "core/VCriticalSection.h"
#include "core/SpinLock.h"
#include "core/VTaskMgr.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

// Records misuse reports instead of aborting, while it lives.
class StMisuseRecorder {
public:
    StMisuseRecorder() : fPrevious(VCriticalSection::SetMisuseHandler(&Record)) { Reports().clear(); }
    ~StMisuseRecorder() { VCriticalSection::SetMisuseHandler(fPrevious); }
    static std::vector<std::string>& Reports() {
        static std::vector<std::string> sReports;
        return sReports;
    }

private:
    static void Record(const char* what) { Reports().emplace_back(what); }
    VCriticalSection::MisuseHandler fPrevious;
};

// Runs body on another thread and waits for it.
template <class Body> void OnOtherThread(Body body) {
    std::thread(body).join();
}

// threads × rounds increments of a plain counter under section; the count shows whether they excluded
// each other (and ThreadSanitizer sees the accesses).
int64 CountUnderSection(VCriticalSection& section, int threads, int rounds) {
    int64 counter = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                section.Lock();
                section.Lock(); // recursion on the way
                ++counter;
                section.Unlock();
                section.Unlock();
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    return counter;
}

TEST(VCriticalSection, ARecursiveHolderMustUnlockEveryLevel) {
    VCriticalSection section;
    ASSERT_TRUE(section.Lock());
    ASSERT_TRUE(section.Lock());
    ASSERT_TRUE(section.TryToLock()); // the holder's try raises the depth
    for (int level = 3; level > 0; --level) {
        bool otherTook = true;
        OnOtherThread([&] { otherTook = section.TryToLock(); });
        EXPECT_FALSE(otherTook) << "levels still held: " << level;
        EXPECT_TRUE(section.Unlock());
    }
    bool otherTook = false;
    OnOtherThread([&] {
        otherTook = section.TryToLock();
        if (otherTook) section.Unlock();
    });
    EXPECT_TRUE(otherTook);
    EXPECT_EQ(section.GetOwner(), 0);
}

TEST(VCriticalSection, ForeignAndUnbalancedUnlocksChangeNothing) {
    StMisuseRecorder recorder;
    VCriticalSection section;
    EXPECT_FALSE(section.Unlock()); // never locked
    section.Lock();
    bool foreign = true;
    OnOtherThread([&] { foreign = section.Unlock(); });
    EXPECT_FALSE(foreign);
    EXPECT_TRUE(section.IsHeldByCurrentTask());
    bool otherTook = true;
    OnOtherThread([&] { otherTook = section.TryToLock(); });
    EXPECT_FALSE(otherTook); // still excluded after the foreign unlock
    EXPECT_TRUE(section.Unlock());
    EXPECT_FALSE(section.Unlock()); // one more than taken: the depth does not go negative
    section.Lock();
    EXPECT_TRUE(section.IsHeldByCurrentTask());
    section.Unlock();
#ifndef NDEBUG
    EXPECT_EQ(StMisuseRecorder::Reports().size(), 3u);
#endif
}

TEST(VCriticalSection, ThreadsExcludeEachOtherAlsoBeforeTheTaskManagerStarts) {
    ASSERT_FALSE(VTaskMgr::IsInited());
    EXPECT_EQ(VTaskMgr::GetCurrentTaskID(), 0);
    EXPECT_NE(VTaskMgr::GetCurrentOwnerID(), 0);
    VCriticalSection section;
    EXPECT_EQ(CountUnderSection(section, 4, 2000), 4 * 2000);
    EXPECT_EQ(section.GetOwner(), 0);
}

TEST(VCriticalSection, TasksExcludeEachOther) {
    test::StTaskMgrScope scope;
    ASSERT_TRUE(scope.IsInited());
    VCriticalSection section;
    int64 counter = 0;
    std::vector<VRefPtr<VTask>> tasks;
    for (int t = 0; t < 4; ++t) {
        tasks.push_back(test::StartTask([&] {
            for (int i = 0; i < 2000; ++i) {
                StLocker<VCriticalSection> locker(section);
                ++counter;
            }
        }));
    }
    for (VRefPtr<VTask>& task : tasks)
        ASSERT_TRUE(task->WaitForDeath(test::kWaitBoundMs));
    EXPECT_EQ(counter, 4 * 2000);
}

TEST(VCriticalSection, DestroyingAHeldSectionReleasesAllItsLevels) {
    StMisuseRecorder recorder;
    auto section = std::make_unique<VCriticalSection>();
    section->Lock();
    section->Lock();
    section->Lock();
    section.reset(); // AddressSanitizer reports anything left behind
    EXPECT_TRUE(StMisuseRecorder::Reports().empty());
}

TEST(VCriticalSection, ServesStandardGuards) {
    VCriticalSection section;
    {
        std::lock_guard<VCriticalSection> guard(section);
        EXPECT_TRUE(section.IsHeldByCurrentTask());
        std::unique_lock<VCriticalSection> nested(section, std::try_to_lock);
        EXPECT_TRUE(nested.owns_lock());
    }
    EXPECT_EQ(section.GetOwner(), 0);
}

// ---- The spin strategy

// Restores the default strategy at the end of a test.
class SpinLockTest : public ::testing::Test {
protected:
    void TearDown() override { SpinLock::ResetToDefaults(); }
};

TEST_F(SpinLockTest, EveryStrategyExcludes) {
    struct Case {
        SpinLock::AcquireProc strategy;
        int32 maxSpins;
        bool yieldAfterCheckEvent;
    };
    const Case cases[] = {
        {&SpinLock::MaxSpinsThenLoopYields, 1, false},
        {&SpinLock::LoopMaxSpinsAndYields, 4, true},
        {&SpinLock::AlwaysSleep, 1, false},
        {&SpinLock::MaxSpinsThenLoopYields, 0, false}, // no spins asked: at least one is made
    };
    for (const Case& c : cases) {
        SpinLock::sLock.store(c.strategy);
        SpinLock::sMaxSpins.store(c.maxSpins);
        SpinLock::sYieldAfterCheckEvent.store(c.yieldAfterCheckEvent);
        VCriticalSection section;
        EXPECT_EQ(CountUnderSection(section, 4, 500), 4 * 500);
    }
}

TEST_F(SpinLockTest, ConfigureKeepsTheDefaultsWithoutParameterFile) {
    test::StTaskMgrScope scope; // Init configures
    ASSERT_TRUE(scope.IsInited());
    EXPECT_EQ(SpinLock::sLock.load(), &SpinLock::MaxSpinsThenLoopYields);
    EXPECT_EQ(SpinLock::sMaxSpins.load(), 1);
    EXPECT_FALSE(SpinLock::sYieldAfterCheckEvent.load());
}

} // namespace
} // namespace vela
