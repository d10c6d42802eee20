#include "core/VMemoryBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace vela {
namespace {

using Buffer = VMemoryBuffer<1024, 2, 1048576>;

std::string Contents(const Buffer& buffer) {
    return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
}

TEST(VMemoryBuffer, AmortisedGrowthAddsHalfCappedAtOneMebibyteInKibibyteSteps) {
    struct Case {
        size_t needed;
        size_t capacity;
    };
    for (Case c : {Case{1, 1024}, Case{100, 1024}, Case{683, 1024}, Case{684, 2048}, Case{5000, 8192},
                   Case{10000000, 11048960}}) {
        Buffer buffer;
        ASSERT_TRUE(buffer._EnlargeAmortized(c.needed)) << c.needed;
        EXPECT_EQ(buffer.GetAllocatedSize(), c.capacity) << c.needed;
        EXPECT_EQ(buffer.GetDataSize(), 0u) << "growth never changes the size in use";
    }
}

TEST(VMemoryBuffer, GrowingKeepsContentAndSize) {
    Buffer buffer;
    ASSERT_TRUE(buffer.AddData("abc", 3));
    EXPECT_EQ(buffer.GetAllocatedSize(), 1024u);
    ASSERT_TRUE(buffer._EnlargeAmortized(5000));
    EXPECT_EQ(buffer.GetAllocatedSize(), 8192u);
    EXPECT_EQ(Contents(buffer), "abc");
}

TEST(VMemoryBuffer, AppendingGrowsOnlyWhenTheBlockIsFull) {
    Buffer buffer;
    std::string chunk(1000, 'x');
    ASSERT_TRUE(buffer.AddData(chunk.data(), chunk.size()));
    EXPECT_EQ(buffer.GetAllocatedSize(), 2048u); // 1000 + 500 rounded up
    ASSERT_TRUE(buffer.AddData(chunk.data(), chunk.size()));
    EXPECT_EQ(buffer.GetAllocatedSize(), 2048u);
    ASSERT_TRUE(buffer.AddData(chunk.data(), chunk.size()));
    EXPECT_EQ(buffer.GetAllocatedSize(), 5120u); // 3000 + 1500 rounded up
    EXPECT_EQ(Contents(buffer), chunk + chunk + chunk);
}

TEST(VMemoryBuffer, NewBytesAreZeroNeverStale) {
    Buffer buffer;
    ASSERT_TRUE(buffer.AddData("ABCDEFGH", 8));
    ASSERT_TRUE(buffer.SetSize(2));
    ASSERT_TRUE(buffer.SetSize(8));
    EXPECT_EQ(Contents(buffer), std::string("AB\0\0\0\0\0\0", 8));

    ASSERT_TRUE(buffer.SetSize(1));
    ASSERT_TRUE(buffer.PutData(4, "Z", 1)); // a write past the end fills the gap with zeros
    EXPECT_EQ(Contents(buffer), std::string("A\0\0\0Z", 5));
}

TEST(VMemoryBuffer, OffsetPlusCountThatWrapsIsRefused) {
    Buffer buffer;
    ASSERT_TRUE(buffer.AddData("abc", 3));
    EXPECT_FALSE(buffer.PutData(2, "x", SIZE_MAX));
    EXPECT_EQ(Contents(buffer), "abc");
}

TEST(VMemoryBuffer, ExactCapacityAndRelease) {
    Buffer buffer;
    ASSERT_TRUE(buffer.AddData("abcdef", 6));
    ASSERT_TRUE(buffer.SetCapacity(4));
    EXPECT_EQ(buffer.GetAllocatedSize(), 4u);
    EXPECT_EQ(Contents(buffer), "abcd");

    ASSERT_TRUE(buffer.SetCapacity(0));
    EXPECT_EQ(buffer.GetDataPtr(), nullptr);
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    EXPECT_EQ(buffer.GetAllocatedSize(), 0u);
}

TEST(VMemoryBuffer, ForgetHandsTheBlockOver) {
    Buffer buffer;
    ASSERT_TRUE(buffer.AddData("xyz", 3));
    void* block = buffer.Forget();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::memcmp(block, "xyz", 3), 0);
    EXPECT_EQ(buffer.GetDataPtr(), nullptr);
    EXPECT_EQ(buffer.GetAllocatedSize(), 0u);
    VMemory::DisposePtr(block);
}

TEST(VMemoryBuffer, MovingTakesTheBlock) {
    Buffer source;
    ASSERT_TRUE(source.AddData("moved", 5));
    const void* block = source.GetDataPtr();
    Buffer target(std::move(source));
    EXPECT_EQ(target.GetDataPtr(), block);
    EXPECT_EQ(Contents(target), "moved");
    EXPECT_EQ(source.GetDataPtr(), nullptr);
    EXPECT_EQ(source.GetDataSize(), 0u);
}

} // namespace
} // namespace vela
