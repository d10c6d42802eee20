#include "core/VCppMemMgr.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace vela {
namespace {

constexpr int32 kTestTag = FourCCTag("test");
constexpr size_t kMiB = size_t(1) << 20;
// The part of the start-up memory each implementation receives: the largest block accepted.
constexpr size_t kPart = VCppMemMgr::kStartupAllocation / 4;

std::unique_ptr<VCppMemMgr> MakeVelaManager() {
    return std::unique_ptr<VCppMemMgr>(new VCppMemMgr(VCppMemMgr::kAllocator_vela));
}

// What the purge handler saw, for the handler of the test that runs (handlers are plain functions).
struct VPurgeCall {
    int index;
    unsigned long size;
    bool first;
};

class VPurgeRecorder {
public:
    static unsigned long Handler(int index, unsigned long size, bool first) {
        VPurgeRecorder* recorder = sCurrent.load();
        if (recorder == nullptr) return 0;
        if (recorder->fInside.fetch_add(1) != 0) recorder->fOverlapped = true;
        {
            std::lock_guard<std::mutex> guard(recorder->fMutex);
            recorder->fCalls.push_back({index, size, first});
        }
        unsigned long freed = recorder->fOnPurge ? recorder->fOnPurge() : 0;
        recorder->fInside.fetch_sub(1);
        return freed;
    }

    explicit VPurgeRecorder(VCppMemMgr& manager) : fManager(manager) {
        sCurrent.store(this);
        fPrevious = fManager.SetPurgeHandlerProc(&Handler);
    }
    ~VPurgeRecorder() {
        fManager.SetPurgeHandlerProc(fPrevious);
        sCurrent.store(nullptr);
    }

    std::vector<VPurgeCall> Calls() {
        std::lock_guard<std::mutex> guard(fMutex);
        return fCalls;
    }

    std::function<unsigned long()> fOnPurge;
    std::atomic<bool> fOverlapped{false};

private:
    static inline std::atomic<VPurgeRecorder*> sCurrent{nullptr};
    VCppMemMgr& fManager;
    VCppMemMgr::PurgeHandlerProc fPrevious = nullptr;
    std::mutex fMutex;
    std::vector<VPurgeCall> fCalls;
    std::atomic<int> fInside{0};
};

// Fills every implementation with one block of most of its region; answers the blocks.
std::vector<void*> FillAll(VCppMemMgr& manager) {
    std::vector<void*> blocks;
    for (int i = 0; i < manager.CountImplementations(); ++i) {
        void* block = manager.Malloc(kPart - kMiB, false, kTestTag);
        EXPECT_NE(block, nullptr);
        blocks.push_back(block);
    }
    return blocks;
}

TEST(VCppMemMgrVela, ServesAtOnceFromItsStartUpRegions) {
    auto manager = MakeVelaManager();
    ASSERT_NE(manager, nullptr);
    EXPECT_FALSE(manager->UsesStdlib());
    EXPECT_EQ(manager->CountImplementations(), 4);
    EXPECT_EQ(manager->CountVirtualAllocations(), 4);
    EXPECT_EQ(manager->GetAllocatedMem(), VCppMemMgr::kStartupAllocation);
    for (size_t size : {size_t(1), size_t(100), size_t(8191), size_t(8192), kMiB}) {
        SCOPED_TRACE(size);
        void* block = manager->Malloc(size, false, kTestTag);
        ASSERT_NE(block, nullptr);
        EXPECT_GE(manager->GetPtrSize(block), size);
        std::memset(block, 0x5A, size);
        manager->Free(block);
    }
    manager->Free(nullptr);
}

TEST(VCppMemMgrVela, AddVirtualAllocationSplitsAmongTheImplementationsAndRaisesTheLargestBlock) {
    auto manager = MakeVelaManager();
    EXPECT_EQ(manager->Malloc(kPart + 1, false, kTestTag), nullptr);

    EXPECT_TRUE(manager->AddVirtualAllocation(9 * kMiB, nullptr, false));
    EXPECT_EQ(manager->CountVirtualAllocations(), 4) << "below 10 MiB nothing is added";

    EXPECT_TRUE(manager->AddVirtualAllocation(160 * kMiB, nullptr, false));
    EXPECT_EQ(manager->CountVirtualAllocations(), 8);
    EXPECT_EQ(manager->GetAllocatedMem(), VCppMemMgr::kStartupAllocation + 160 * kMiB);
    void* big = manager->Malloc(39 * kMiB, false, kTestTag);
    ASSERT_NE(big, nullptr);
    manager->Free(big);

    std::unique_ptr<VCppMemMgr> stdlib(new VCppMemMgr(VCppMemMgr::kAllocator_stdlib));
    EXPECT_FALSE(stdlib->AddVirtualAllocation(40 * kMiB, nullptr, false));
}

TEST(VCppMemMgrVela, ARequestAboveTheLargestBlockFailsWithoutPurging) {
    auto manager = MakeVelaManager();
    VPurgeRecorder recorder(*manager);
    EXPECT_EQ(manager->Malloc(kPart + 1, false, kTestTag), nullptr);
    EXPECT_TRUE(recorder.Calls().empty());
}

TEST(VCppMemMgrVela, WhenAllAreFullEachImplementationIsPurgedOnceInTurn) {
    auto manager = MakeVelaManager();
    std::vector<void*> blocks = FillAll(*manager);
    VPurgeRecorder recorder(*manager);
    EXPECT_EQ(manager->Malloc(kPart - kMiB, false, kTestTag), nullptr);
    std::vector<VPurgeCall> calls = recorder.Calls();
    ASSERT_EQ(calls.size(), 4u);
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].index, int(i));
        EXPECT_EQ(calls[i].size, kPart - kMiB);
        EXPECT_EQ(calls[i].first, i == 0);
    }
    // The next request starts where the turn ended, and succeeds once a block is back.
    manager->Free(blocks[2]);
    blocks[2] = manager->Malloc(kPart - kMiB, false, kTestTag);
    EXPECT_NE(blocks[2], nullptr);
    EXPECT_EQ(recorder.Calls().size(), 4u);
    for (void* block : blocks)
        manager->Free(block);
}

TEST(VCppMemMgrVela, APurgeHandlerThatFreesMemoryLetsTheRequestSucceed) {
    auto manager = MakeVelaManager();
    std::vector<void*> blocks = FillAll(*manager);
    VPurgeRecorder recorder(*manager);
    // The handler runs with the allocation lock released and frees through the manager.
    recorder.fOnPurge = [&] {
        manager->Free(blocks[1]);
        blocks[1] = nullptr;
        return static_cast<unsigned long>(kPart);
    };
    void* block = manager->Malloc(kPart - kMiB, false, kTestTag);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(manager->GetAllocationBlockNumber(block), 1);
    EXPECT_EQ(recorder.Calls().size(), 1u);
    manager->Free(block);
    for (void* held : blocks)
        manager->Free(held);
}

TEST(VCppMemMgrVela, TryToMallocSearchesOnceWithoutPurging) {
    auto manager = MakeVelaManager();
    void* preferred = manager->TryToMalloc(1000, false, kTestTag, 3);
    ASSERT_NE(preferred, nullptr);
    EXPECT_EQ(manager->GetAllocationBlockNumber(preferred), 3);
    std::vector<void*> blocks = FillAll(*manager);
    VPurgeRecorder recorder(*manager);
    EXPECT_EQ(manager->TryToMalloc(kPart - kMiB, false, kTestTag, -1), nullptr);
    EXPECT_TRUE(recorder.Calls().empty());
    manager->Free(preferred);
    for (void* block : blocks)
        manager->Free(block);
}

TEST(VCppMemMgrVela, PurgeMemCallsTheHandlerForTheIndex) {
    auto manager = MakeVelaManager();
    VPurgeRecorder recorder(*manager);
    manager->PurgeMem(2);
    std::vector<VPurgeCall> calls = recorder.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].index, 2);
    EXPECT_EQ(calls[0].size, 0u);
    EXPECT_TRUE(calls[0].first);
    // Allocation still works afterwards: the purge ended.
    void* block = manager->Malloc(100, false, kTestTag);
    EXPECT_NE(block, nullptr);
    manager->Free(block);
}

TEST(VCppMemMgrVela, PreferredIndexAndBlockNumbers) {
    auto manager = MakeVelaManager();
    for (int32 index = 0; index < 4; ++index) {
        for (size_t size : {size_t(64), size_t(100000)}) {
            void* block = manager->Malloc(size, false, kTestTag, index);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(manager->GetAllocationBlockNumber(block), index) << size;
            manager->Free(block);
        }
    }
}

TEST(VCppMemMgrVela, UsageAndStatistics) {
    auto manager = MakeVelaManager();
    void* big = manager->Malloc(50000, true, kTestTag, 1);
    void* small = manager->Malloc(40, false, FourCCTag("smal"), 2);
    size_t total = 0;
    size_t used = 0;
    manager->GetMemUsageInfo(total, used);
    EXPECT_EQ(total, VCppMemMgr::kStartupAllocation);
    EXPECT_GE(used, 49u * 1024 + 48);

    VMemStats stats;
    manager->GetStatistics(stats, 1);
    EXPECT_EQ(stats.fNbUsedBigBlocks, 1);
    EXPECT_EQ(stats.fNbObjects, 1);
    EXPECT_EQ(stats.fNbPagesSmallBlocks, 0);
    manager->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fNbUsedBigBlocks, 2) << "the page of the small block is a big block";
    EXPECT_EQ(stats.fNbPagesSmallBlocks, 1);
    EXPECT_EQ(stats.fBlocksByTag[FourCCTag("smal")].fCount, 1);
    manager->GetStatistics(stats, 99);
    EXPECT_EQ(stats.fBlocksByTag[kTestTag].fCount, 1) << "a second call does not count twice";
    manager->Free(big);
    manager->Free(small);
    manager->ReleaseThreadCache();
    manager->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
}

VMemStats StatisticsOf(VCppMemMgr& manager) {
    VMemStats stats;
    manager.GetStatistics(stats, -1);
    return stats;
}

TEST(VCppMemMgrVela, FreedSmallBlocksWaitInTheThreadsCacheUntilReleased) {
    auto manager = MakeVelaManager();
    std::vector<void*> blocks;
    for (size_t size = 1; size <= 1200; size += 7)
        blocks.push_back(manager->Malloc(size, false, kTestTag));
    for (void* block : blocks)
        manager->Free(block);
    EXPECT_GT(StatisticsOf(*manager).fNbUsedSmallBlocks, 0) << "kept for the next requests";

    // A cached block comes back with the new request's tag and object flag.
    void* object = manager->Malloc(40, true, FourCCTag("obj "));
    VMemStats stats = StatisticsOf(*manager);
    EXPECT_EQ(stats.fBlocksByTag[FourCCTag("obj ")].fCount, 1);
    EXPECT_EQ(stats.fNbObjects, 1);
    manager->Free(object);

    manager->ReleaseThreadCache();
    stats = StatisticsOf(*manager);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
}

// A thread's cache holds blocks of a manager that is then destroyed: a later manager on that thread must not be
// handed the dead manager's blocks.
TEST(VCppMemMgrVela, ANewManagerDoesNotInheritTheCacheOfADestroyedOne) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto manager = MakeVelaManager();
        std::vector<void*> blocks;
        for (int i = 0; i < 20; ++i)
            blocks.push_back(manager->Malloc(64, false, kTestTag));
        for (void* block : blocks)
            manager->Free(block);
        void* again = manager->Malloc(64, false, kTestTag);
        ASSERT_NE(again, nullptr);
        std::memset(again, 0x3C, 64);
        VMemStats stats = StatisticsOf(*manager);
        EXPECT_EQ(stats.fNbPagesSmallBlocks, 1);
        manager->Free(again);
    }
}

TEST(VCppMemMgrVelaConcurrency, AThreadsCachedBlocksGoBackWhenItEnds) {
    auto manager = MakeVelaManager();
    std::thread([&] {
        std::vector<void*> blocks;
        for (int i = 0; i < 500; ++i)
            blocks.push_back(manager->Malloc(16 + size_t(i % 50) * 16, false, kTestTag));
        for (void* block : blocks)
            manager->Free(block);
    }).join();
    VMemStats stats = StatisticsOf(*manager);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
}

// Blocks made on one thread and freed on another land in the freeing thread's cache, and from there go back to
// the pages they came from.
TEST(VCppMemMgrVelaConcurrency, BlocksFreedOnAnotherThread) {
    auto manager = MakeVelaManager();
    std::mutex mutex;
    std::vector<unsigned char*> handed;
    std::atomic<bool> done{false};
    std::atomic<bool> corrupted{false};
    std::thread producer([&] {
        for (int i = 0; i < 4000; ++i) {
            auto* block = static_cast<unsigned char*>(manager->Malloc(1 + size_t(i % 300), false, kTestTag));
            if (block == nullptr) {
                corrupted = true;
                continue;
            }
            block[0] = static_cast<unsigned char>(i);
            std::lock_guard<std::mutex> guard(mutex);
            handed.push_back(block);
        }
        done = true;
    });
    std::thread consumer([&] {
        int expected = 0;
        for (;;) {
            std::vector<unsigned char*> taken;
            {
                std::lock_guard<std::mutex> guard(mutex);
                taken.swap(handed);
            }
            for (unsigned char* block : taken) {
                if (block[0] != static_cast<unsigned char>(expected++)) corrupted = true;
                manager->Free(block);
            }
            if (taken.empty() && done) {
                std::lock_guard<std::mutex> guard(mutex);
                if (handed.empty()) break;
            }
            if (taken.empty()) std::this_thread::yield();
        }
    });
    producer.join();
    consumer.join();
    EXPECT_FALSE(corrupted);
    VMemStats stats = StatisticsOf(*manager);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
}

TEST(VCppMemMgrVela, ReallocAndCalloc) {
    auto manager = MakeVelaManager();
    auto* block = static_cast<unsigned char*>(manager->Malloc(100, false, kTestTag));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x77, 100);
    // Too large: null, and the block stays as it was.
    EXPECT_EQ(manager->Realloc(block, kPart + 1), nullptr);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(block[i], 0x77);
    auto* moved = static_cast<unsigned char*>(manager->Realloc(block, 5000));
    ASSERT_NE(moved, nullptr);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(moved[i], 0x77);
    EXPECT_EQ(manager->Realloc(moved, 0), nullptr);

    // A reused block is cleared.
    void* dirty = manager->Malloc(256, false, kTestTag);
    std::memset(dirty, 0xFF, 256);
    manager->Free(dirty);
    auto* clear = static_cast<unsigned char*>(manager->Calloc(32, 8, kTestTag));
    ASSERT_NE(clear, nullptr);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(clear[i], 0);
    manager->Free(clear);
}

// Threads share one manager and check that no block is handed out twice (each writes its own pattern and checks
// it before freeing).
TEST(VCppMemMgrVelaConcurrency, ThreadsChurnBlocksWithoutSharingBytes) {
    auto manager = MakeVelaManager();
    constexpr int kThreads = 4;
    std::atomic<bool> corrupted{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(unsigned(t) + 1);
            std::vector<std::pair<unsigned char*, size_t>> live;
            for (int i = 0; i < 3000; ++i) {
                if (live.size() > 50 || (!live.empty() && random() % 3 == 0)) {
                    size_t at = random() % live.size();
                    auto [block, size] = live[at];
                    for (size_t k = 0; k < size; ++k)
                        if (block[k] != static_cast<unsigned char>(t * 31 + size)) corrupted = true;
                    manager->Free(block);
                    live[at] = live.back();
                    live.pop_back();
                    continue;
                }
                size_t size = random() % 4 == 0 ? 8192 + random() % 40000 : 1 + random() % 600;
                auto* block = static_cast<unsigned char*>(manager->Malloc(size, false, kTestTag));
                if (block == nullptr) {
                    corrupted = true;
                    continue;
                }
                std::memset(block, t * 31 + int(size), size);
                live.emplace_back(block, size);
            }
            for (auto [block, size] : live)
                manager->Free(block);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(corrupted);
    VMemStats stats;
    manager->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
}

// While one thread's purge handler runs, another thread that finds every implementation full waits for the purge
// to end instead of starting one of its own, then searches again and finds what the handler freed.
TEST(VCppMemMgrVelaConcurrency, AFailingRequestWaitsForTheRunningPurge) {
    auto manager = MakeVelaManager();
    std::vector<void*> blocks = FillAll(*manager);
    VPurgeRecorder recorder(*manager);
    std::atomic<bool> secondStarted{false};
    recorder.fOnPurge = [&] {
        EXPECT_TRUE(test::WaitUntil([&] { return secondStarted.load(); }));
        for (void*& block : blocks) {
            manager->Free(block);
            block = nullptr;
        }
        return 0ul;
    };
    void* secondBlock = nullptr;
    std::thread first([&] {
        void* block = manager->Malloc(kPart - kMiB, false, kTestTag);
        EXPECT_NE(block, nullptr);
        manager->Free(block);
    });
    std::thread second([&] {
        ASSERT_TRUE(test::WaitUntil([&] { return !recorder.Calls().empty(); }));
        secondStarted = true;
        secondBlock = manager->Malloc(kPart - kMiB, false, kTestTag);
    });
    first.join();
    second.join();
    EXPECT_FALSE(recorder.fOverlapped) << "two purges ran at once";
    EXPECT_NE(secondBlock, nullptr);
    EXPECT_EQ(recorder.Calls().size(), 1u);
    manager->Free(secondBlock);
}

} // namespace
} // namespace vela
