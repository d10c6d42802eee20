#include "files/VStream.h"

#include "core/VString.h"
#include "files/VPtrStream.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

std::string Contents(const VPtrStream& stream) {
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

TEST(VStreamPrintf, WritesTheFormattedTextInTheStreamsCharSet) {
    VPtrStream stream;
    ASSERT_EQ(stream.SetCharSet(VTC_UTF_8), VE_OK);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    VString name(u"n\u00E9");
    EXPECT_EQ(stream.PutPrintf("%S=%d (%.1f)", &name, 5, 0.25), VE_OK);
    EXPECT_EQ(stream.PutPrintf("|%s", "end"), VE_OK);
    EXPECT_EQ(Contents(stream), "n\xC3\xA9=5 (0.2)|end");
}

TEST(VStreamPrintf, ASickStreamWritesNothingAndAnswersItsError) {
    VPtrStream stream;
    ASSERT_EQ(stream.SetCharSet(VTC_UTF_8), VE_OK);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    stream.ResetLastError(VE_STREAM_CANNOT_WRITE);
    EXPECT_EQ(stream.PutPrintf("%d", 1), VE_STREAM_CANNOT_WRITE);
    EXPECT_EQ(stream.GetDataSize(), 0u);

    VPtrStream closed;
    EXPECT_EQ(closed.PutPrintf("%d", 1), VE_STREAM_CANNOT_WRITE);
}

} // namespace
} // namespace vela
