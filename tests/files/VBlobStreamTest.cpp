#include "files/VBlobStream.h"

#include "core/VString.h"
#include "support/BlobBytes.h"
#include "support/RecordingRaiser.h"
#include "values/VBlob.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vela {
namespace {

std::string Content(const VBlob& blob) {
    return test::BlobBytes(blob);
}

TEST(VBlobStream, WritesIntoAnOwnedBlobAndReadsBack) {
    VBlobStream stream;
    ASSERT_NE(dynamic_cast<VBlobWithPtr*>(stream.GetBlob()), nullptr);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    stream.SetBigEndian();
    EXPECT_EQ(stream.PutLong(0x01020304), VE_OK);
    EXPECT_EQ(stream.PutData("xyz", 3), VE_OK);
    EXPECT_EQ(stream.PutValue(VString("t")), VE_OK);
    EXPECT_EQ(stream.CloseWriting(), VE_OK);
    EXPECT_EQ(Content(*stream.GetBlob()).substr(0, 7), std::string("\1\2\3\4xyz", 7));

    ASSERT_EQ(stream.OpenReading(), VE_OK);
    int32 number = 0;
    EXPECT_EQ(stream.GetLong(number), VE_OK);
    EXPECT_EQ(number, 0x01020304);
    char bytes[3];
    EXPECT_EQ(stream.GetData(bytes, 3), VE_OK);
    EXPECT_EQ(std::string(bytes, 3), "xyz");
    std::unique_ptr<VValue> text(stream.GetValue());
    ASSERT_NE(dynamic_cast<VString*>(text.get()), nullptr);
    EXPECT_EQ(*static_cast<VString*>(text.get()), VString("t"));
    EXPECT_EQ(stream.GetRemaining(), 0);
    EXPECT_EQ(stream.CloseReading(), VE_OK);
}

TEST(VBlobStream, ABorrowedBlobOutlivesTheStream) {
    VBlobWithPtr blob("abc", 3);
    {
        VBlobStream stream(&blob);
        EXPECT_EQ(stream.GetBlob(), &blob);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(stream.SetPos(3), VE_OK);
        EXPECT_EQ(stream.PutData("de", 2), VE_OK);
        stream.CloseWriting();
    }
    EXPECT_EQ(Content(blob), "abcde");
}

TEST(VBlobStream, ReadsCutAtTheEnd) {
    std::string hundred(100, '\0');
    for (size_t i = 0; i < hundred.size(); ++i)
        hundred[i] = char(i);
    VBlobWithPtr blob(hundred.data(), hundred.size());
    struct Case {
        int64 position;
        size_t count;
        size_t delivered;
        VError error;
    } cases[] = {
        {0, 10, 10, VE_OK},         {95, 10, 5, VE_STREAM_EOF},       {100, 0, 0, VE_OK},
        {100, 1, 0, VE_STREAM_EOF}, {98, SIZE_MAX, 2, VE_STREAM_EOF}, // a count whose sum with the position would wrap
    };
    for (const Case& c : cases) {
        VBlobStream stream(&blob);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        ASSERT_EQ(stream.SetPos(c.position), VE_OK);
        std::vector<char> out(16, '#');
        size_t got = 99;
        test::RecordingRaiser raised;
        EXPECT_EQ(stream.GetData(out.data(), c.count, &got), c.error) << c.position;
        EXPECT_EQ(got, c.delivered) << c.position;
        EXPECT_EQ(std::string(out.data(), got), hundred.substr(size_t(c.position), got));
        EXPECT_EQ(out[got], '#');
        EXPECT_EQ(stream.GetPos(), c.position + int64(got));
        EXPECT_EQ(raised.Codes().size(), c.error == VE_OK ? 0u : 1u);
    }
}

TEST(VBlobStream, PositionsPastTheEnd) {
    struct Case {
        bool writing;
        int64 position;
        VError error;
        size_t sizeAfter;
    } cases[] = {
        {true, 8, VE_OK, 8}, // a writer extends with zero bytes
        {true, 3, VE_OK, 3}, // within the blob: nothing changes
        {false, 3, VE_OK, 3},
        {false, 4, VE_STREAM_EOF, 3},                          // a reader is refused
        {true, int64(INT32_MAX) + 1, VE_INVALID_PARAMETER, 3}, // no 32-bit offset: refused, nothing allocated
        {false, int64(INT32_MAX) + 1, VE_INVALID_PARAMETER, 3},
        {true, INT64_MAX, VE_INVALID_PARAMETER, 3},
    };
    for (const Case& c : cases) {
        VBlobWithPtr blob("abc", 3);
        VBlobStream stream(&blob);
        ASSERT_EQ(c.writing ? stream.OpenWriting() : stream.OpenReading(), VE_OK);
        test::RecordingRaiser raised;
        EXPECT_EQ(stream.SetPos(c.position), c.error) << c.position;
        EXPECT_EQ(blob.GetSize(), c.sizeAfter) << c.position;
        EXPECT_EQ(Content(blob), (std::string("abc") + std::string(8, '\0')).substr(0, c.sizeAfter));
        EXPECT_EQ(raised.Codes(), c.error == VE_OK ? std::vector<VError>{} : std::vector<VError>{c.error});
    }
}

TEST(VBlobStream, SetSizeZeroFillsAndCutsThePosition) {
    VBlobWithPtr blob("abcdef", 6);
    VBlobStream stream(&blob);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.SetPos(5), VE_OK);
    EXPECT_EQ(stream.SetSize(2), VE_OK);
    EXPECT_EQ(stream.GetPos(), 2);
    EXPECT_EQ(stream.SetSize(5), VE_OK);
    EXPECT_EQ(Content(blob), std::string("ab\0\0\0", 5));
    EXPECT_EQ(stream.GetSize(), 5);
}

TEST(VBlobStream, AReadOnlyBlobRefusesWrites) {
    const char bytes[] = "fixed";
    VConstBlobWithPtr blob(bytes, 5);
    VBlobStream stream(&blob);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(stream.PutData("x", 1), VE_STREAM_CANNOT_WRITE);
    EXPECT_EQ(Content(blob), "fixed");
}

TEST(VBlobStream, BlobValuesRoundTripThroughABlobStream) {
    const std::vector<std::string> payloads = {"", "a", std::string("\0\1\2\3", 4), std::string(5000, 'q')};
    VBlobStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    for (const std::string& bytes : payloads)
        ASSERT_EQ(VBlobWithPtr(bytes.data(), bytes.size()).WriteToStream(&stream), VE_OK);
    stream.CloseWriting();
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    for (const std::string& bytes : payloads) {
        VBlobWithPtr back("stale", 5);
        EXPECT_EQ(back.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(Content(back), bytes);
    }
    EXPECT_EQ(stream.GetRemaining(), 0);
}

} // namespace
} // namespace vela
