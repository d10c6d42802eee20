#include "core/VMemCppImpl.h"
#include "core/VCppMemMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace vela {
namespace {

constexpr int32 kTestTag = FourCCTag("test");
constexpr size_t kRegion = size_t(4) << 20;

VMemStats StatsOf(const VMemCppImpl& impl) {
    VMemStats stats;
    impl.GetStats(stats, 0);
    return stats;
}

// One implementation with a 4 MiB region.
class VMemCppImplTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fImpl.AddAllocation(kRegion, nullptr, 0)); }

    void* Alloc(size_t size, bool isObject = false) {
        void* block = fImpl.Malloc(size, 0, isObject ? 1 : 0, kTestTag);
        EXPECT_NE(block, nullptr) << size;
        return block;
    }

    VMemCppImpl fImpl{0};
};

TEST(VMemThreadImpl, SmallStepsBlockAndPageSizes) {
    struct Case {
        size_t size; // header included
        int32 step;
        size_t blockSize;
        size_t pageSize;
    };
    const Case cases[] = {
        {9, 1, 16, 8168},          {16, 1, 16, 8168},         {17, 2, 32, 8168},         {240, 15, 240, 8168},
        {241, 16, 256, 16360},     {1008, 63, 1008, 16360},   {1024, 64, 1024, 65512},   {1025, 66, 1088, 65512},
        {4096, 113, 4096, 131048}, {4097, 115, 4352, 131048}, {8199, 131, 8448, 131048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        int32 granule = 0;
        EXPECT_EQ(VMemThreadImpl::GetStepFromSize(c.size, &granule), c.step);
        EXPECT_EQ(c.blockSize % size_t(granule), 0u);
        EXPECT_EQ(VMemThreadImpl::GetBlockSize(c.size), c.blockSize);
        EXPECT_EQ(VMemThreadImpl::GetPageSize(c.blockSize), c.pageSize);
        EXPECT_LT(c.step, VMemThreadImpl::kStepCount);
    }
}

TEST(VMemCppImplSteps, BigSteps) {
    int32 granule = -1;
    EXPECT_EQ(VMemCppImpl::GetStepFromSize(1025, &granule), 2);
    EXPECT_EQ(granule, 1024);
    EXPECT_EQ(VMemCppImpl::GetStepFromSize(1048576, &granule), 1024);
    EXPECT_EQ(VMemCppImpl::GetStepFromSize(1048577, &granule), 1025);
    EXPECT_EQ(granule, 0);
    EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(2047), 1);
    EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(1048576), 1024);
    EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(1048577), 1025);
}

TEST_F(VMemCppImplTest, UsableSizesAtTheSmallAndBigLimits) {
    struct Case {
        size_t request;
        size_t usable;
    };
    const Case cases[] = {
        {1, 8},                  // a 16-byte small block
        {100, 104},              // 112-byte small block less its header
        {8191, 8448 - 8},        // the largest small block
        {8192, 9 * 1024 - 24},   // the smallest big block: 9 KiB
        {1048552, 1048576 - 24}, // 1 MiB, step 1,024
        {1048553, 1048592 - 24}, // above: size + 24 rounded to 16
        {0, 8},                  // nothing asked is still a block
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        void* block = Alloc(c.request);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(fImpl.GetPtrSize(block), c.usable);
        std::memset(block, 0xA5, c.usable);
        fImpl.Free(block);
    }
    EXPECT_EQ(fImpl.GetPtrSize(nullptr), 0u);
    EXPECT_EQ(fImpl.GetUsed(), 0u);
    EXPECT_TRUE(fImpl.Check(nullptr));
}

TEST_F(VMemCppImplTest, RequestsAboveTheLimitFail) {
    EXPECT_EQ(fImpl.Malloc(VMemCppImpl::kMaxRequest + 1, 0, 0, kTestTag), nullptr);
    EXPECT_EQ(fImpl.Malloc(SIZE_MAX, 0, 0, kTestTag), nullptr);
    // More than the region holds, with auto allocation off.
    EXPECT_EQ(fImpl.Malloc(kRegion, 0, 0, kTestTag), nullptr);
}

TEST_F(VMemCppImplTest, EveryPayloadIs16ByteAligned) {
    // Blocks above 1 MiB of odd sizes come first, so the ones carved behind them see their alignment.
    std::vector<void*> blocks;
    for (size_t size : {1048553u, 1048561u, 8u, 24u, 100u, 1000u, 1024u, 3000u, 5000u, 8191u, 8192u, 20000u}) {
        void* block = Alloc(size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
        blocks.push_back(block);
    }
    for (void* block : blocks)
        fImpl.Free(block);
}

TEST_F(VMemCppImplTest, FreedNeighboursMergeAndTheLastBlockShrinksTheRegion) {
    void* a = Alloc(10000);
    void* b = Alloc(20000);
    void* c = Alloc(10000);
    size_t sizeA = fImpl.GetPtrSize(a) + 24;
    size_t sizeB = fImpl.GetPtrSize(b) + 24;
    fImpl.Free(a);
    fImpl.Free(b);
    VMemStats stats = StatsOf(fImpl);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 1);
    EXPECT_EQ(stats.fFreeMem, sizeA + sizeB);
    EXPECT_EQ(stats.fBiggestFreeBlock, sizeA + sizeB);
    EXPECT_EQ(stats.fNbUsedBigBlocks, 1);

    // The merged block serves a request of its summed size again, at the same place.
    void* again = Alloc(sizeA + sizeB - 24);
    EXPECT_EQ(again, a);
    fImpl.Free(again);

    // Freeing the block at the end gives everything back to the region: nothing is listed.
    fImpl.Free(c);
    stats = StatsOf(fImpl);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
    EXPECT_EQ(stats.fFreeMem, 0u);
    EXPECT_EQ(Alloc(10000), a);
    EXPECT_TRUE(fImpl.Check(nullptr));
}

TEST_F(VMemCppImplTest, ALargeFreeBlockIsSplitAndASmallExcessIsGivenWhole) {
    void* big = Alloc(100000);
    void* guard = Alloc(1000);
    size_t bigSize = fImpl.GetPtrSize(big) + 24;
    fImpl.Free(big);
    // The list of a larger step is used when carving is impossible: fill the region but for 1 KiB first (the
    // 98 KiB block and the 16 KiB page of the guard are carved).
    void* filler = fImpl.Malloc(kRegion - 64 - 98 * 1024 - 16 * 1024 - 24 - 1024, 0, 0, kTestTag);
    ASSERT_NE(filler, nullptr);
    void* part = Alloc(30000);
    EXPECT_EQ(part, big);
    VMemStats stats = StatsOf(fImpl);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 1);
    EXPECT_EQ(stats.fFreeMem, bigSize - (fImpl.GetPtrSize(part) + 24));
    fImpl.Free(part);

    // An excess below 8 KiB is not split off.
    void* whole = Alloc(bigSize - 24 - 5000);
    EXPECT_EQ(whole, big);
    EXPECT_EQ(fImpl.GetPtrSize(whole), bigSize - 24);
    fImpl.Free(whole);
    fImpl.Free(filler);
    fImpl.Free(guard);
    EXPECT_EQ(StatsOf(fImpl).fNbBigBlocks, 0);
    EXPECT_TRUE(fImpl.Check(nullptr));
}

TEST_F(VMemCppImplTest, TheLastSmallBlockOfAPageFreesThePage) {
    void* first = Alloc(100);
    void* second = Alloc(100);
    VMemStats stats = StatsOf(fImpl);
    EXPECT_EQ(stats.fNbPagesSmallBlocks, 1);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 2);
    EXPECT_EQ(stats.fNbSmallBlocks, (8168 - 56) / 112);
    EXPECT_EQ(fImpl.GetUsed(), 8192 - size_t((8168 - 56) / 112) * 112 + 2 * 112);
    fImpl.Free(first);
    EXPECT_EQ(StatsOf(fImpl).fNbPagesSmallBlocks, 1);
    fImpl.Free(second);
    stats = StatsOf(fImpl);
    EXPECT_EQ(stats.fNbPagesSmallBlocks, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
    EXPECT_EQ(fImpl.GetUsed(), 0u);
}

// Fills several pages of several sizes and frees them in a shuffled order: each free must find its page from the
// block's back offset (a wrong sign lands outside the page and corrupts it).
TEST_F(VMemCppImplTest, ShuffledSmallBlocksReturnToTheirPages) {
    std::mt19937 random(7);
    struct Block {
        unsigned char* bytes;
        size_t size;
        unsigned char fill;
    };
    std::vector<Block> blocks;
    for (int i = 0; i < 2000; ++i) {
        size_t size = 1 + random() % 1500;
        auto* bytes = static_cast<unsigned char*>(Alloc(size, i % 3 == 0));
        ASSERT_NE(bytes, nullptr);
        auto fill = static_cast<unsigned char>(i);
        std::memset(bytes, fill, size);
        blocks.push_back({bytes, size, fill});
    }
    EXPECT_TRUE(fImpl.Check(nullptr));
    std::shuffle(blocks.begin(), blocks.end(), random);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block& block = blocks[i];
        ASSERT_TRUE(fImpl.CheckPtr(block.bytes));
        ASSERT_EQ(block.bytes[0], block.fill) << "overwritten";
        ASSERT_EQ(block.bytes[block.size - 1], block.fill) << "overwritten";
        fImpl.Free(block.bytes);
        if (i % 500 == 0) {
            ASSERT_TRUE(fImpl.Check(nullptr));
        }
    }
    EXPECT_EQ(fImpl.GetUsed(), 0u);
    EXPECT_EQ(StatsOf(fImpl).fNbBigBlocks, 0);
}

TEST_F(VMemCppImplTest, CheckPtrOfSmallBlocks) {
    auto* used = static_cast<char*>(Alloc(100, true));
    auto* freed = static_cast<char*>(Alloc(100));
    auto* keep = static_cast<char*>(Alloc(100));
    fImpl.Free(freed);
    EXPECT_TRUE(fImpl.CheckPtr(used)) << "an object block's back offset has bit 0 set";
    EXPECT_TRUE(fImpl.CheckPtr(keep));
    EXPECT_FALSE(fImpl.CheckPtr(freed));
    EXPECT_FALSE(fImpl.CheckPtr(nullptr));

    // Forged headers inside the payload of a used block.
    int32 usedOffset = 0;
    std::memcpy(&usedOffset, used - 8, 4);
    struct Case {
        const char* what;
        int32 backOffset;
    };
    const Case cases[] = {
        {"off a block boundary", (usedOffset & ~1) - 16},
        {"inside the page header", -8},
    };
    char* fake = used + 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memcpy(fake - 8, &c.backOffset, 4);
        EXPECT_FALSE(fImpl.CheckPtr(fake));
    }
    fImpl.Free(used);
    fImpl.Free(keep);
}

TEST_F(VMemCppImplTest, CheckPtrOfBigBlocks) {
    void* used = Alloc(20000);
    void* freed = Alloc(20000);
    void* last = Alloc(20000);
    fImpl.Free(freed);
    EXPECT_TRUE(fImpl.CheckPtr(used));
    EXPECT_TRUE(fImpl.CheckPtr(last));
    EXPECT_FALSE(fImpl.CheckPtr(freed));
    fImpl.Free(used);
    fImpl.Free(last);
}

TEST_F(VMemCppImplTest, StatisticsCountObjectsAndTags) {
    void* object = Alloc(40, true);
    void* tagged = fImpl.Malloc(50000, 0, 0, FourCCTag("big "));
    VMemStats stats = StatsOf(fImpl);
    EXPECT_EQ(stats.fNbObjects, 1);
    EXPECT_EQ(stats.fBlocksByTag[kTestTag].fCount, 1);
    EXPECT_EQ(stats.fBlocksByTag[kTestTag].fMemory, 48);
    EXPECT_EQ(stats.fBlocksByTag[FourCCTag("big ")].fCount, 1);
    EXPECT_EQ(stats.fBlocksByTag[FourCCTag("big ")].fMemory, 49 * 1024);
    EXPECT_EQ(stats.fUsedMem, 8192u + 49 * 1024);
    EXPECT_EQ(VMemCppImpl::GetTag(tagged), FourCCTag("big "));
    EXPECT_EQ(VMemCppImpl::GetTag(object), kTestTag);
    fImpl.Free(object);
    fImpl.Free(tagged);
}

TEST_F(VMemCppImplTest, ReallocMovesKeepsTheTagAndTheContent) {
    auto* block = static_cast<unsigned char*>(Alloc(100));
    for (int i = 0; i < 100; ++i)
        block[i] = static_cast<unsigned char>(i);
    auto* moved = static_cast<unsigned char*>(fImpl.Realloc(block, 20000));
    ASSERT_NE(moved, nullptr);
    EXPECT_NE(moved, block);
    EXPECT_EQ(VMemCppImpl::GetTag(moved), kTestTag);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(moved[i], i);
    // A request that cannot be had leaves the block as it was.
    EXPECT_EQ(fImpl.Realloc(moved, kRegion), nullptr);
    EXPECT_TRUE(fImpl.CheckPtr(moved));
    fImpl.Free(moved);
}

TEST(VMemCppImplRegions, RegionsBelow64KiBAreRefusedAndAutoAllocationGrows) {
    VMemCppImpl impl(2);
    EXPECT_FALSE(impl.AddAllocation(65535, nullptr, 0));
    EXPECT_EQ(impl.CountAllocations(), 0);
    EXPECT_EQ(impl.Malloc(10, 0, 0, kTestTag), nullptr) << "no region, no block";

    impl.SetAutoAllocationState(true);
    void* block = impl.Malloc(10, 0, 0, kTestTag);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(impl.CountAllocations(), 1);
    EXPECT_EQ(impl.GetTotalAllocation(), VMemCppImpl::kAutoRegion);
    EXPECT_EQ(VMemCppImpl::GetAllocationBlockNumber(block), 2);
    // An empty region goes back at once.
    impl.Free(block);
    EXPECT_EQ(impl.CountAllocations(), 0);
    EXPECT_EQ(impl.GetTotalAllocation(), 0u);
}

TEST(VMemCppImplRegions, ABlockReturnsToTheImplementationThatMadeIt) {
    VMemCppImpl first(0);
    VMemCppImpl second(1);
    ASSERT_TRUE(first.AddAllocation(kRegion, nullptr, 0));
    ASSERT_TRUE(second.AddAllocation(kRegion, nullptr, 0));
    void* small = second.Malloc(64, 0, 0, kTestTag);
    void* big = second.Malloc(64000, 0, 0, kTestTag);
    EXPECT_EQ(VMemCppImpl::GetAllocationBlockNumber(small), 1);
    EXPECT_EQ(VMemCppImpl::GetAllocationBlockNumber(big), 1);
    first.Free(small);
    first.Free(big);
    EXPECT_EQ(second.GetUsed(), 0u);
    EXPECT_EQ(first.GetUsed(), 0u);
    EXPECT_TRUE(first.Check(nullptr));
    EXPECT_TRUE(second.Check(nullptr));
}

// Two neighbours whose sum exceeds a size word cannot merge. When the block above them is freed at the region's
// end, both must leave their lists as the end is pulled back, or the next two requests get the same bytes.
TEST(VMemCppImplRegions, PullingTheEndBackUnlistsTheFreeBlocksBelow) {
    VMemCppImpl impl(0);
    const size_t huge = size_t(1100) << 20; // two of them exceed 2^31 - 1
    ASSERT_TRUE(impl.AddAllocation(2 * huge + (size_t(1) << 20), nullptr, 0));
    void* a = impl.Malloc(huge, 0, 0, kTestTag);
    void* b = impl.Malloc(huge, 0, 0, kTestTag);
    void* c = impl.Malloc(20000, 0, 0, kTestTag);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    impl.Free(a);
    impl.Free(b);
    EXPECT_EQ(StatsOf(impl).fNbFreeBigBlocks, 2) << "the merge is refused";
    impl.Free(c);
    VMemStats stats = StatsOf(impl);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
    EXPECT_TRUE(impl.Check(nullptr));

    void* again1 = impl.Malloc(huge, 0, 0, kTestTag);
    void* again2 = impl.Malloc(huge, 0, 0, kTestTag);
    ASSERT_NE(again1, nullptr);
    ASSERT_NE(again2, nullptr);
    EXPECT_NE(again1, again2);
    EXPECT_EQ(StatsOf(impl).fNbUsedBigBlocks, 2);
    impl.Free(again1);
    impl.Free(again2);
}

} // namespace
} // namespace vela
