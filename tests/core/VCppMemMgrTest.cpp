#include "core/VCppMemMgr.h"
#include "core/VObject.h"
#include "core/platform/XPosixStackCrawl.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace vela {
namespace {

constexpr int32 kTestTag = FourCCTag("test");

// Fills a block with a recognisable pattern and checks it.
void Fill(void* block, size_t size) {
    auto* bytes = static_cast<unsigned char*>(block);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
}

bool HasPattern(const void* block, size_t size) {
    auto* bytes = static_cast<const unsigned char*>(block);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != static_cast<unsigned char>(i * 7 + 3)) return false;
    return true;
}

TEST(VMemory, NewPtrGivesWritableBlockOfAtLeastTheSize) {
    void* block = VMemory::NewPtr(100, kTestTag);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(VMemory::GetPtrSize(block), 100u);
    Fill(block, 100);
    EXPECT_TRUE(HasPattern(block, 100));
    VMemory::DisposePtr(block);
}

TEST(VMemory, NewPtrClearZeroFills) {
    // malloc does not clear (and under AddressSanitizer fills new blocks with a pattern).
    auto* block = static_cast<unsigned char*>(VMemory::NewPtrClear(256, kTestTag));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < 256; ++i)
        ASSERT_EQ(block[i], 0) << "byte " << i;
    VMemory::DisposePtr(block);
}

TEST(VMemory, DisposePtrIgnoresNull) {
    VMemory::DisposePtr(nullptr);
    // The manager is still usable afterwards.
    void* block = VMemory::NewPtr(8, kTestTag);
    EXPECT_NE(block, nullptr);
    VMemory::DisposePtr(block);
}

TEST(VMemory, SetPtrSizeKeepsContent) {
    void* block = VMemory::NewPtr(32, kTestTag);
    ASSERT_NE(block, nullptr);
    Fill(block, 32);
    void* grown = VMemory::SetPtrSize(block, 4096);
    ASSERT_NE(grown, nullptr);
    EXPECT_TRUE(HasPattern(grown, 32));
    EXPECT_GE(VMemory::GetPtrSize(grown), 4096u);
    VMemory::DisposePtr(grown);
}

class VCppMemMgrTest : public ::testing::Test {
protected:
    VCppMemMgr* Manager() const { return VObject::GetMainMemMgr(); }
};

TEST_F(VCppMemMgrTest, MainManagerExistsAndUsesTheCLibraryOutsideABundle) {
    VCppMemMgr* manager = Manager();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager, VObject::sCppMemMgr.load());
    EXPECT_TRUE(manager->UsesStdlib());
}

TEST_F(VCppMemMgrTest, ReallocOfNullAllocates) {
    void* block = Manager()->Realloc(nullptr, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(Manager()->GetPtrSize(block), 100u);
    Fill(block, 100);
    Manager()->Free(block);
}

TEST_F(VCppMemMgrTest, ReallocToZeroFreesAndAnswersNull) {
    void* block = Manager()->Malloc(64, false, kTestTag);
    ASSERT_NE(block, nullptr);
    // AddressSanitizer reports a leak at exit if the block was not freed.
    EXPECT_EQ(Manager()->Realloc(block, 0), nullptr);
}

TEST_F(VCppMemMgrTest, ReallocMovesAndKeepsTheContent) {
    struct Case {
        size_t from;
        size_t to;
    };
    for (Case c : {Case{40, 40}, Case{40, 4000}, Case{4000, 40}, Case{1, 2}}) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        void* block = Manager()->Malloc(c.from, false, kTestTag);
        ASSERT_NE(block, nullptr);
        Fill(block, c.from);
        void* moved = Manager()->Realloc(block, c.to);
        ASSERT_NE(moved, nullptr);
        EXPECT_NE(moved, block);
        EXPECT_TRUE(HasPattern(moved, std::min(c.from, c.to)));
        EXPECT_GE(Manager()->GetPtrSize(moved), c.to);
        Manager()->Free(moved);
    }
}

TEST_F(VCppMemMgrTest, CallocRejectsNegativeCountsAndOverflow) {
    struct Case {
        int32 count;
        size_t size;
    };
    for (Case c : {Case{-1, 8}, Case{INT32_MIN, 1}, Case{2, SIZE_MAX / 2 + 1}, Case{INT32_MAX, SIZE_MAX / 1000},
                   Case{3, SIZE_MAX}}) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.size);
        EXPECT_EQ(Manager()->Calloc(c.count, c.size, kTestTag), nullptr);
    }
}

TEST_F(VCppMemMgrTest, CallocZeroFills) {
    auto* block = static_cast<uint64*>(Manager()->Calloc(16, sizeof(uint64), kTestTag));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(block[i], 0u);
    Manager()->Free(block);

    // An empty request still gives a block that can be freed.
    void* empty = Manager()->Calloc(0, 8, kTestTag);
    EXPECT_NE(empty, nullptr);
    Manager()->Free(empty);
}

TEST_F(VCppMemMgrTest, FreeIgnoresNull) {
    Manager()->Free(nullptr);
    void* block = Manager()->Malloc(1, false, kTestTag);
    EXPECT_NE(block, nullptr) << "manager broken after Free(nullptr)";
    Manager()->Free(block);
}

TEST_F(VCppMemMgrTest, CLibraryBackEndStatistics) {
    VCppMemMgr* manager = Manager();
    EXPECT_EQ(manager->GetMaxFree(), 0u);
    EXPECT_EQ(manager->GetAllocatedMem(), 1048576u);
    EXPECT_EQ(manager->CountVirtualAllocations(), 1);
    EXPECT_EQ(manager->GetAllocationBlockNumber(nullptr), 0);

    size_t total = 7;
    size_t used = 7;
    manager->GetMemUsageInfo(total, used);
    EXPECT_EQ(total, 1048576u);
    EXPECT_EQ(used, 0u);

    size_t s[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
    manager->GetMemStatistics(s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8]);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(s[i], i == 2 ? 1048576u : 0u) << "statistic " << i + 1;
}

TEST_F(VCppMemMgrTest, CheckVObjectAnswersItsArgument) {
    int object = 0;
    EXPECT_EQ(VCppMemMgr::CheckVObject(&object), &object);
    EXPECT_EQ(VCppMemMgr::CheckVObject(nullptr), nullptr);
}

TEST_F(VCppMemMgrTest, SetPurgeHandlerProcAnswersThePreviousOne) {
    VCppMemMgr::PurgeHandlerProc handler = [](int, unsigned long, bool) -> unsigned long { return 0; };
    VCppMemMgr::PurgeHandlerProc original = Manager()->SetPurgeHandlerProc(handler);
    EXPECT_EQ(Manager()->SetPurgeHandlerProc(original), handler);
}

// Task threads may outlive main: one that is allocating while main returns must find its manager still there
// (it holds the pointer between fetching it and using it, as the string buffers do).
TEST(VCppMemMgrDeathTest, OutlivesMainForThreadsStillAllocating) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static std::atomic<bool> sAllocating{false};
    EXPECT_EXIT(
        {
            std::thread([] {
                VCppMemMgr* manager = VObject::GetMainMemMgr();
                for (;;) {
                    manager->Free(manager->Malloc(64, false, kTestTag));
                    VMemory::DisposePtr(VMemory::NewPtr(64, kTestTag));
                    sAllocating.store(true);
                }
            }).detach();
            std::exit(test::WaitUntil([] { return sAllocating.load(); }) ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}

TEST(VCppMemMgrKind, AllocatorKindFromBundleValue) {
    struct Case {
        const char* value;
        VCppMemMgr::EAllocatorKind kind;
    };
    const Case cases[] = {
        {nullptr, VCppMemMgr::kAllocator_stdlib},  {"stdlib", VCppMemMgr::kAllocator_stdlib},
        {"STDLIB", VCppMemMgr::kAllocator_stdlib}, {"", VCppMemMgr::kAllocator_stdlib},
        {"velax", VCppMemMgr::kAllocator_stdlib},  {" vela", VCppMemMgr::kAllocator_stdlib},
        {"vela", VCppMemMgr::kAllocator_vela},     {"VeLa", VCppMemMgr::kAllocator_vela},
        {"VELA", VCppMemMgr::kAllocator_vela},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value != nullptr ? c.value : "(absent)");
        EXPECT_EQ(VCppMemMgr::AllocatorKindFromBundleValue(c.value), c.kind);
    }
}

TEST(VCppMemMgrKind, EveryKindGivesAWorkingManager) {
    for (auto kind : {VCppMemMgr::kAllocator_fromBundle, VCppMemMgr::kAllocator_stdlib, VCppMemMgr::kAllocator_vela}) {
        SCOPED_TRACE(int(kind));
        std::unique_ptr<VCppMemMgr> manager(new VCppMemMgr(kind, true, false));
        ASSERT_NE(manager, nullptr);
        // Outside a bundle kind 0 resolves to the C library; "vela" is served by the own allocator.
        EXPECT_EQ(manager->UsesStdlib(), kind != VCppMemMgr::kAllocator_vela);
        void* block = manager->Malloc(48, false, kTestTag);
        ASSERT_NE(block, nullptr);
        Fill(block, 48);
        EXPECT_TRUE(HasPattern(block, 48));
        manager->Free(block);
    }
}

// Counts constructions and destructions so the tests can see objects come and go.
class VCountedObject : public VObject {
public:
    static inline int sLive = 0;
    VCountedObject() { ++sLive; }
    ~VCountedObject() override { --sLive; }
    char fPayload[40] = {};
};

TEST(VObjectMemory, ObjectsAreAllocatedAndFreedThroughTheManager) {
    ASSERT_NE(VObject::GetMainMemMgr(), nullptr);
    auto* object = new VCountedObject;
    EXPECT_EQ(VCountedObject::sLive, 1);
    // A block of the manager: its usable size covers the whole object.
    EXPECT_GE(VMemory::GetPtrSize(object), sizeof(VCountedObject));
    std::memset(object->fPayload, 0x5A, sizeof(object->fPayload));
    delete object;
    EXPECT_EQ(VCountedObject::sLive, 0);
}

TEST(VObjectMemory, ArraysOfObjects) {
    auto* objects = new VCountedObject[5];
    EXPECT_EQ(VCountedObject::sLive, 5);
    delete[] objects;
    EXPECT_EQ(VCountedObject::sLive, 0);
}

TEST(VObjectMemory, DeleteThroughTheBaseRunsTheDerivedDestructor) {
    VObject* object = new VCountedObject;
    EXPECT_EQ(VCountedObject::sLive, 1);
    delete object;
    EXPECT_EQ(VCountedObject::sLive, 0);
}

TEST(VLeaksChecker, Headlines) {
    struct Case {
        int32 count;
        const char* text;
    };
    for (Case c : {Case{0, "No memory leaks.\n"}, Case{1, "You have one leak:\n\n"}, Case{2, "You have 2 leaks:\n\n"},
                   Case{1234, "You have 1234 leaks:\n\n"}}) {
        char buffer[64];
        EXPECT_STREQ(VLeaksChecker::LeaksHeadline(c.count, buffer, sizeof(buffer)), c.text);
    }
}

TEST(VLeaksChecker, SetLeaksCheckAnswersThePreviousSetting) {
    VLeaksChecker checker;
    EXPECT_FALSE(checker.SetLeaksCheck(true));
    EXPECT_TRUE(checker.SetLeaksCheck(false));
    EXPECT_FALSE(checker.SetLeaksCheck(false));
    EXPECT_EQ(checker.GetLeaksCount(), 0);
}

TEST(VLeaksChecker, RegisteredBlocksCountWhileEnabled) {
    VLeaksChecker checker;
    XPosixStackCrawl crawl;
    checker.RegisterBlock(crawl);
    EXPECT_EQ(crawl.GetCount(), 0) << "disabled: no frames are loaded";
    EXPECT_EQ(checker.GetLeaksCount(), 0);

    checker.SetLeaksCheck(true);
    checker.SetStackFramesToSkip(0);
    checker.RegisterBlock(crawl);
    EXPECT_GT(crawl.GetCount(), 0);
    EXPECT_LE(crawl.GetCount(), 8);
    EXPECT_EQ(checker.GetLeaksCount(), 1);
    XPosixStackCrawl second;
    checker.RegisterBlock(second);
    EXPECT_EQ(checker.GetLeaksCount(), 2);

    checker.UnregisterBlock(crawl);
    checker.UnregisterBlock(second);
    EXPECT_EQ(checker.GetLeaksCount(), 0);
    XPosixStackCrawl empty;
    checker.UnregisterBlock(empty);
    EXPECT_EQ(checker.GetLeaksCount(), 0) << "a crawl without frames was never counted";

    // Skipping more frames than the stack holds leaves the crawl empty and uncounted.
    checker.SetStackFramesToSkip(10000);
    checker.RegisterBlock(empty);
    EXPECT_EQ(empty.GetCount(), 0);
    EXPECT_EQ(checker.GetLeaksCount(), 0);
}

TEST(VLeaksCheckerConcurrency, ThreadsRegisterAndUnregisterTogether) {
    VLeaksChecker checker;
    checker.SetLeaksCheck(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                XPosixStackCrawl crawl;
                checker.RegisterBlock(crawl);
                checker.UnregisterBlock(crawl);
            }
            XPosixStackCrawl kept;
            checker.RegisterBlock(kept);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(checker.GetLeaksCount(), 4);
}

TEST(VLeaksChecker, NoDumpFileOutsideABundle) {
    // The test executable is not inside a bundle, so there is no place for the report.
    VLeaksChecker checker;
    EXPECT_EQ(checker.OpenDumpFile("test"), nullptr);
}

} // namespace
} // namespace vela
