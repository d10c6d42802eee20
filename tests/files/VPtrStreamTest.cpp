#include "files/VPtrStream.h"

#include "support/RecordingRaiser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vela {
namespace {

std::string Contents(const VPtrStream& stream) {
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

// ---- VConstPtrStream

TEST(VConstPtrStream, ReadingPastTheEndGivesWhatIsLeftAnd200) {
    std::vector<uint8> data(100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8(i);
    VConstPtrStream stream(data.data(), data.size());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    ASSERT_EQ(stream.SetPos(95), VE_OK);

    test::RecordingRaiser raised;
    uint8 out[10] = {};
    size_t got = 0;
    EXPECT_EQ(stream.GetData(out, sizeof(out), &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(out[0], 95);
    EXPECT_EQ(out[4], 99);
    EXPECT_EQ(stream.GetPos(), 100);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_EOF});
}

TEST(VConstPtrStream, HugeCountsAreComparedWithWhatIsLeftWithoutWrapping) {
    const char data[] = "abcd";
    VConstPtrStream stream(data, 4);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    ASSERT_EQ(stream.SetPos(2), VE_OK);
    char out[4] = {};
    size_t got = 0;
    // position + count wraps around to 1: only the two bytes left may be copied.
    EXPECT_EQ(stream.GetData(out, SIZE_MAX, &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(out, 2), "cd");
}

TEST(VConstPtrStream, IsReadOnly) {
    const char data[] = "abc";
    VConstPtrStream stream(data, 3);
    test::RecordingRaiser raised;
    EXPECT_EQ(stream.OpenWriting(), VE_STREAM_CANNOT_WRITE);
    EXPECT_FALSE(stream.IsWriting());
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_CANNOT_WRITE});
}

TEST(VConstPtrStream, PositionsPastTheEndAreRefused) {
    const char data[] = "abcdef";
    VConstPtrStream stream(data, 6);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.SetPos(6), VE_OK); // the end itself is a position
    EXPECT_EQ(stream.GetPos(), 6);
    EXPECT_EQ(stream.SetPos(7), VE_STREAM_EOF);
    EXPECT_EQ(stream.GetPos(), 6);
}

TEST(VConstPtrStream, ShowsTheCallersBlock) {
    const char data[] = "block";
    VConstPtrStream stream(data, 5);
    VStreamUnderlyingData underlying = stream.GetUnderlyingDataInfo();
    EXPECT_EQ(underlying.fKind, 1);
    EXPECT_EQ(underlying.fData, data);
    EXPECT_EQ(underlying.fSize, 5u);
    EXPECT_EQ(stream.GetSize(), 5);

    VConstPtrStream empty(nullptr, 12);
    EXPECT_EQ(empty.GetSize(), 0);
}

// ---- VPtrStream

TEST(VPtrStream, FirstByteMakesAKibibyteBlock) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutByte('x'), VE_OK);
    EXPECT_EQ(stream.GetDataSize(), 1u);
    EXPECT_EQ(stream.GetAllocatedSize(), 1024u);
    EXPECT_EQ(stream.GetPos(), 1);
}

TEST(VPtrStream, WritesOverwriteAndExtendButNeverShrink) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("abcdef", 6), VE_OK);
    ASSERT_EQ(stream.SetPos(2), VE_OK);
    ASSERT_EQ(stream.PutData("XY", 2), VE_OK);
    EXPECT_EQ(Contents(stream), "abXYef");
    ASSERT_EQ(stream.SetPos(5), VE_OK);
    ASSERT_EQ(stream.PutData("123", 3), VE_OK);
    EXPECT_EQ(Contents(stream), "abXYe123");
}

TEST(VPtrStream, PositionPastTheEndWhileWritingExtendsWithZeros) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.SetPos(100), VE_OK);
    EXPECT_EQ(stream.GetDataSize(), 100u);
    EXPECT_EQ(Contents(stream), std::string(100, '\0'));
}

TEST(VPtrStream, PositionPastTheEndWhileReadingIsRefused) {
    VPtrStream stream("abc", 3);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    test::RecordingRaiser raised;
    EXPECT_EQ(stream.SetPos(10), VE_STREAM_EOF);
    EXPECT_EQ(stream.GetPos(), 0);
    EXPECT_EQ(stream.GetDataSize(), 3u) << "a reader never grows the block";
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_EOF});
}

TEST(VPtrStream, RegrowingAfterShrinkingShowsZerosNotOldBytes) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("ABCDEFGH", 8), VE_OK);
    ASSERT_EQ(stream.SetSize(2), VE_OK);
    EXPECT_EQ(stream.GetPos(), 2) << "the position is lowered to the new size";
    EXPECT_EQ(stream.GetAllocatedSize(), 2u) << "sizes are exact";
    ASSERT_EQ(stream.SetSize(8), VE_OK);
    EXPECT_EQ(Contents(stream), std::string("AB\0\0\0\0\0\0", 8));
    ASSERT_EQ(stream.SetPos(2), VE_OK);
    ASSERT_EQ(stream.SetSize(4), VE_OK);
    ASSERT_EQ(stream.SetPos(6), VE_OK); // extension through the position
    EXPECT_EQ(Contents(stream), std::string("AB\0\0\0\0", 6));
}

TEST(VPtrStream, SizeZeroFreesTheBlock) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("abc", 3), VE_OK);
    ASSERT_EQ(stream.SetSize(0), VE_OK);
    EXPECT_EQ(stream.GetDataPtr(), nullptr);
    EXPECT_EQ(stream.GetAllocatedSize(), 0u);
    EXPECT_EQ(stream.GetPos(), 0);
}

TEST(VPtrStream, ReadingAtAndPastTheEnd) {
    VPtrStream stream("abcd", 4);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    char out[8] = {};
    size_t got = 0;
    ASSERT_EQ(stream.GetData(out, 4, &got), VE_OK);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(stream.GetData(out, 0, &got), VE_OK) << "an empty request at the end is no error";
    EXPECT_EQ(stream.GetData(out, 1, &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 0u);
}

TEST(VPtrStream, HugeCountsAreComparedWithWhatIsLeftWithoutWrapping) {
    VPtrStream stream("abcd", 4);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    ASSERT_EQ(stream.SetPos(3), VE_OK);
    char out[4] = {};
    size_t got = 0;
    EXPECT_EQ(stream.GetData(out, SIZE_MAX - 1, &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(out[0], 'd');
}

TEST(VPtrStream, WriteWhoseEndWrapsIsRefused) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("abc", 3), VE_OK);
    EXPECT_EQ(stream.PutData("x", SIZE_MAX), VE_MEMORY_FULL);
    EXPECT_EQ(Contents(stream), "abc");
    EXPECT_EQ(stream.GetPos(), 3);
}

TEST(VPtrStream, ReadsItsOwnCopy) {
    std::string source = "copied bytes";
    VPtrStream stream(source.data(), source.size());
    source[0] = 'X';
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    char out[12] = {};
    ASSERT_EQ(stream.GetData(out, sizeof(out)), VE_OK);
    EXPECT_EQ(std::string(out, sizeof(out)), "copied bytes");

    VStreamUnderlyingData underlying = stream.GetUnderlyingDataInfo();
    EXPECT_EQ(underlying.fKind, 1);
    EXPECT_EQ(underlying.fData, stream.GetDataPtr());
    EXPECT_EQ(underlying.fSize, 12u);
}

TEST(VPtrStream, WrittenBytesCanBeReadBack) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("round trip", 10), VE_OK);
    ASSERT_EQ(stream.CloseWriting(), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GetPos(), 0);
    EXPECT_EQ(stream.GetRemaining(), 10);
    char out[10] = {};
    ASSERT_EQ(stream.GetData(out, sizeof(out)), VE_OK);
    EXPECT_EQ(std::string(out, 10), "round trip");
}

} // namespace
} // namespace vela
