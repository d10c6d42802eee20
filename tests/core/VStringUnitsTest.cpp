#include "core/VStringUnits.h"

#include <gtest/gtest.h>

#include <climits>

namespace vela {
namespace {

using Private::CountedBufferCountOffset;
using Private::CountedBufferUnits;

// The count lies behind the units and their terminator, on a 4-byte boundary, and ends the buffer; the capacities
// at the top of the range must not wrap.
TEST(VStringUnits, CountedBuffersHoldUnitsTerminatorAndCount) {
    struct Case {
        int32 capacity;
        int64 units;
    };
    const Case cases[] = {
        {0, 4}, {1, 4}, {2, 6}, {3, 6}, {1000, 1004}, {INT32_MAX - 3, 2147483648}, {INT32_MAX, 2147483650},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        int64 offset = CountedBufferCountOffset(c.capacity);
        EXPECT_EQ(CountedBufferUnits(c.capacity), c.units);
        EXPECT_GE(offset, int64(c.capacity) + 1);
        EXPECT_EQ(offset % 2, 0); // units are 2 bytes: an even offset is a 4-byte boundary
        EXPECT_EQ(offset + 2, c.units);
    }
}

} // namespace
} // namespace vela
