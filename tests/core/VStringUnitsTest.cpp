#include "core/VStringUnits.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace vela {
namespace {

using Private::CountedBufferCountOffset;
using Private::CountedBufferUnits;
using Private::IsAscii;
using Private::WidenASCII;

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

// Texts around the blocks that are checked and widened whole, with a byte above 0x7F in a block or in the rest.
TEST(VStringUnits, AsciiTextsAreMeasuredCheckedAndWidenedAtEveryLength) {
    for (size_t length : {size_t(0), size_t(1), size_t(15), size_t(16), size_t(17), size_t(33), size_t(46)}) {
        SCOPED_TRACE(length);
        std::string text;
        for (size_t i = 0; i < length; ++i)
            text.push_back(char(0x20 + i % 0x5F));
        size_t measured = SIZE_MAX;
        EXPECT_TRUE(IsAscii(text.c_str(), measured));
        EXPECT_EQ(measured, length);
        std::u16string units(length + 1, u'#');
        WidenASCII(text.c_str(), length, units.data());
        for (size_t i = 0; i < length; ++i)
            ASSERT_EQ(units[i], char16_t(text[i])) << i;
        EXPECT_EQ(units[length], u'#'); // nothing written past the text
        EXPECT_EQ(VString(text.c_str()).GetLength(), int32(length));
        for (size_t at = 0; at < length; at += 7) {
            std::string high = text;
            high[at] = char(0xC3);
            EXPECT_FALSE(IsAscii(high.c_str(), measured)) << at;
            EXPECT_EQ(measured, length);
        }
    }
}

} // namespace
} // namespace vela
