#include "values/VStoredData.h"

#include "files/VPtrStream.h"
#include "support/RecordingRaiser.h"
#include "values/RealToInteger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vela {
namespace {

TEST(VStoredData, ByteSizesAreSixtyFourBitAndRefuseNegativeAndOverflowingCounts) {
    struct Case {
        int64 count;
        uint64 elementSize;
        bool ok;
        uint64 bytes;
    };
    const Case cases[] = {
        {0, 8, true, 0},
        {3, 2, true, 6},
        {int64(INT32_MAX), 8, true, uint64(INT32_MAX) * 8}, // beyond 32 bits, no wrap
        {-1, 1, false, 0},
        {INT64_MIN, 2, false, 0},
        {INT64_MAX / 2 + 1, 2, false, 0}, // the product leaves 63 bits
        {INT64_MAX, 0, true, 0},
    };
    for (const Case& c : cases) {
        uint64 bytes = 99;
        EXPECT_EQ(StoredByteSize(c.count, c.elementSize, bytes), c.ok) << c.count << " x " << c.elementSize;
        EXPECT_EQ(bytes, c.bytes) << c.count << " x " << c.elementSize;
    }
}

TEST(VStoredData, StreamCanDeliverOnlyWhatIsLeftAfterThePosition) {
    const uint8 bytes[10] = {};
    VConstPtrStream stream(bytes, sizeof(bytes));
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    ASSERT_EQ(stream.SetPos(4), VE_OK);
    EXPECT_TRUE(CanStillDeliver(&stream, 0));
    EXPECT_TRUE(CanStillDeliver(&stream, 6));
    EXPECT_FALSE(CanStillDeliver(&stream, 7));
    EXPECT_FALSE(CanStillDeliver(&stream, UINT64_MAX));
    EXPECT_EQ(stream.GetLastError(), VE_OK); // asking leaves the stream alone
}

TEST(VStoredData, RefusedCountMarksTheStreamCorruptedAndRaisesOnce) {
    const uint8 bytes[8] = {};
    struct Case {
        int64 count;
        uint64 elementSize;
        VError expected;
    };
    const Case cases[] = {
        {4, 2, VE_OK},
        {5, 2, VE_STREAM_CORRUPTED},
        {-1, 1, VE_STREAM_CORRUPTED},
        {INT64_MAX, 8, VE_STREAM_CORRUPTED},
    };
    for (const Case& c : cases) {
        test::RecordingRaiser raiser;
        VConstPtrStream stream(bytes, sizeof(bytes));
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        EXPECT_EQ(CheckStoredCount(&stream, c.count, c.elementSize), c.expected) << c.count;
        EXPECT_EQ(stream.GetLastError(), c.expected);
        std::vector<VError> raised = raiser.Codes();
        EXPECT_EQ(raised.size(), c.expected == VE_OK ? 0u : 1u);
    }
}

TEST(VStoredData, AnEarlierStreamErrorStays) {
    const uint8 bytes[2] = {};
    VConstPtrStream stream(bytes, sizeof(bytes));
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    stream.ResetLastError(VE_STREAM_EOF);
    test::RecordingRaiser raiser;
    EXPECT_EQ(SetStreamCorrupted(&stream), VE_STREAM_EOF);
    EXPECT_EQ(stream.GetLastError(), VE_STREAM_EOF);
    EXPECT_TRUE(raiser.Codes().empty());
}

TEST(VStoredData, PointerFormsCheckAgainstTheEndOfTheData) {
    const uint8 bytes[16] = {};
    const uint8* end = bytes + sizeof(bytes);
    EXPECT_TRUE(CanStillDeliver(bytes, end, 2, 8));
    EXPECT_FALSE(CanStillDeliver(bytes, end, 3, 8));
    EXPECT_FALSE(CanStillDeliver(bytes + 8, end, 9, 1));
    EXPECT_FALSE(CanStillDeliver(bytes, end, -1, 1));
    EXPECT_FALSE(CanStillDeliver(end, bytes, 1, 1)); // end before the data
    EXPECT_TRUE(CanStillDeliver(end, end, 0, 4));

    test::RecordingRaiser raiser;
    EXPECT_EQ(ThrowStoredDataCorrupted(), VE_STREAM_CORRUPTED);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_STREAM_CORRUPTED});
}

// Follows nested levels the way a recursive reader does, stopping where the guard says so.
int32 DescendUntilRefused(int32 levels) {
    StStoredDataDepth depth;
    if (depth.IsTooDeep()) return depth.GetDepth();
    if (levels == 0) return 0;
    return DescendUntilRefused(levels - 1);
}

TEST(VStoredData, DepthGuardBoundsNestingAndUnwinds) {
    EXPECT_EQ(DescendUntilRefused(kStoredDataMaxDepth - 1), 0); // the limit itself is allowed
    EXPECT_EQ(DescendUntilRefused(100000), kStoredDataMaxDepth + 1);
    StStoredDataDepth outer; // every guard above has unwound
    EXPECT_EQ(outer.GetDepth(), 1);
}

TEST(RealToInteger, TruncatesInRangeAndGivesTheMinimumOtherwise) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double x;
        int32 asLong;
        int64 asLong8;
    };
    const Case cases[] = {
        {2.9, 2, 2},
        {-2.9, -2, -2},
        {-0.0, 0, 0},
        {2147483647.9, INT32_MAX, 2147483647},
        {-2147483648.9, INT32_MIN, -2147483648LL}, // truncates into range
        {2147483648.0, INT32_MIN, 2147483648LL},
        {3e10, INT32_MIN, 30000000000LL},
        {-3e10, INT32_MIN, -30000000000LL},
        {9223372036854775807.0, INT32_MIN, INT64_MIN}, // the double is 2^63, out of range
        {-9223372036854775808.0, INT32_MIN, INT64_MIN},
        {1e300, INT32_MIN, INT64_MIN},
        {nan, INT32_MIN, INT64_MIN},
        {inf, INT32_MIN, INT64_MIN},
        {-inf, INT32_MIN, INT64_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RealToLong(c.x), c.asLong) << c.x;
        EXPECT_EQ(RealToLong8(c.x), c.asLong8) << c.x;
    }
    EXPECT_EQ(RealToInteger<uint64>(-1.0), 0u);
    EXPECT_EQ(RealToInteger<uint64>(18446744073709549568.0), 18446744073709549568ull);
    EXPECT_EQ(RealToInteger<int16>(40000.0), INT16_MIN);
}

} // namespace
} // namespace vela
