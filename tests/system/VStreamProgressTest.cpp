#include "files/VStream.h"

#include "core/StStringConverter.h"
#include "files/VPtrStream.h"
#include "support/RecordingRaiser.h"
#include "system/VProgressIndicator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vela {
namespace {

VRefPtr<VProgressIndicator> NewIndicator() {
    return VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator());
}

// The current level of an indicator: message, value and max.
struct Level {
    std::string message;
    int64 value = 0;
    int64 max = 0;
};

Level Current(VProgressIndicator& indicator) {
    VProgressSessionInfo info;
    indicator.GetProgressInfo(info);
    if (info.fLevels.empty()) return {};
    const VProgressIndicatorInfo& level = info.fLevels.back();
    return {to_string(level.GetMessage()), level.GetValue(), level.GetMax()};
}

TEST(VStreamProgress, ReadingReportsThePositionWithinOneSession) {
    std::vector<uint8> bytes(10000, 7);
    VConstPtrStream stream(bytes.data(), bytes.size());
    auto indicator = NewIndicator();
    stream.SetProgressIndicator(indicator.Get());
    EXPECT_EQ(stream.GetProgressIndicator(), indicator.Get());
    EXPECT_EQ(indicator->GetRefCount(), 2);

    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(indicator->GetSessionCount(), 1);
    Level level = Current(*indicator);
    EXPECT_EQ(level.message, "Reading From Stream");
    EXPECT_EQ(level.max, 10000);
    EXPECT_EQ(level.value, 0);

    std::vector<uint8> buffer(4000);
    ASSERT_EQ(stream.GetData(buffer.data(), 4000), VE_OK);
    EXPECT_EQ(Current(*indicator).value, 4000);
    uint32 word = 0;
    ASSERT_EQ(stream.GetLong(word), VE_OK);
    EXPECT_EQ(Current(*indicator).value, 4004);
    size_t got = 0;
    EXPECT_EQ(stream.GetData(buffer.data(), 4000, &got), VE_OK);
    EXPECT_EQ(stream.GetData(buffer.data(), 4000, &got), VE_STREAM_EOF);
    EXPECT_EQ(got, 1996u);
    EXPECT_EQ(Current(*indicator).value, 10000);
    EXPECT_FLOAT_EQ(indicator->ComputePercentDone(), 1.0f);

    stream.CloseReading();
    EXPECT_EQ(indicator->GetSessionCount(), 0);
}

TEST(VStreamProgress, WritingIsUndeterminedAndNestsInTheCallersSession) {
    VPtrStream stream;
    auto indicator = NewIndicator();
    indicator->BeginSession(3, VString("saving the document"));
    stream.SetProgressIndicator(indicator.Get());

    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(indicator->GetSessionCount(), 2);
    Level level = Current(*indicator);
    EXPECT_EQ(level.message, "Writing to Stream");
    EXPECT_EQ(level.max, -1);
    ASSERT_EQ(stream.PutLong(5), VE_OK);
    ASSERT_EQ(stream.PutData("abcdef", 6), VE_OK);
    EXPECT_EQ(Current(*indicator).value, 10);
    ASSERT_EQ(stream.CloseWriting(), VE_OK);

    // Only the stream's own session ended.
    EXPECT_EQ(indicator->GetSessionCount(), 1);
    EXPECT_EQ(Current(*indicator).message, "saving the document");
    // Closing a closed stream ends nothing more.
    stream.CloseWriting();
    EXPECT_EQ(indicator->GetSessionCount(), 1);
    indicator->EndSession();
}

TEST(VStreamProgress, AStoppedIndicatorStopsTheTransferWithItsError) {
    test::RecordingRaiser raised;
    struct Case {
        const char* name;
        bool reading;
    };
    for (const Case c : {Case{"reading", true}, Case{"writing", false}}) {
        SCOPED_TRACE(c.name);
        std::vector<uint8> bytes(64, 1);
        VConstPtrStream source(bytes.data(), bytes.size());
        VPtrStream sink;
        VStream& stream = c.reading ? static_cast<VStream&>(source) : sink;
        auto indicator = NewIndicator();
        stream.SetProgressIndicator(indicator.Get());
        ASSERT_EQ(c.reading ? stream.OpenReading() : stream.OpenWriting(), VE_OK);
        uint8 buffer[8] = {};
        auto transfer = [&] { return c.reading ? stream.GetData(buffer, 8) : stream.PutData(buffer, 8); };
        ASSERT_EQ(transfer(), VE_OK);

        indicator->UserAbort();
        EXPECT_EQ(transfer(), VE_STREAM_USER_ABORTED);
        EXPECT_EQ(stream.GetLastError(), VE_STREAM_USER_ABORTED);
        EXPECT_EQ(raised.Codes().back(), VE_STREAM_USER_ABORTED);
        // The error is sticky: nothing moves any more.
        const int64 position = stream.GetPos();
        EXPECT_EQ(transfer(), VE_STREAM_USER_ABORTED);
        EXPECT_EQ(stream.GetPos(), position);
        if (c.reading)
            stream.CloseReading();
        else
            stream.CloseWriting();
        EXPECT_EQ(indicator->GetSessionCount(), 0);
    }
}

TEST(VStreamProgress, CopyingReportsOnBothSidesAndClosesTheSource) {
    std::vector<uint8> bytes(10000, 3);
    VConstPtrStream source(bytes.data(), bytes.size());
    VPtrStream destination;
    auto reading = NewIndicator();
    auto writing = NewIndicator();
    source.SetProgressIndicator(reading.Get());
    destination.SetProgressIndicator(writing.Get());
    ASSERT_EQ(destination.OpenWriting(), VE_OK);
    ASSERT_EQ(source.PutContentInto(&destination), VE_OK);
    EXPECT_EQ(reading->GetSessionCount(), 0);
    EXPECT_EQ(Current(*writing).value, 10000);
    ASSERT_EQ(destination.CloseWriting(), VE_OK);
    EXPECT_EQ(writing->GetSessionCount(), 0);
}

TEST(VStreamProgress, TheSessionFollowsTheIndicatorAndEndsWithTheStream) {
    std::vector<uint8> bytes(100, 9);
    auto first = NewIndicator();
    auto second = NewIndicator();
    {
        auto stream = std::make_unique<VConstPtrStream>(bytes.data(), bytes.size());
        stream->SetProgressIndicator(first.Get());
        ASSERT_EQ(stream->OpenReading(), VE_OK);
        uint8 buffer[10];
        ASSERT_EQ(stream->GetData(buffer, 10), VE_OK);

        // Replaced while open: the session leaves the first indicator for the second.
        stream->SetProgressIndicator(second.Get());
        EXPECT_EQ(first->GetSessionCount(), 0);
        EXPECT_EQ(first->GetRefCount(), 1);
        EXPECT_EQ(second->GetSessionCount(), 1);
        ASSERT_EQ(stream->GetData(buffer, 10), VE_OK);
        EXPECT_EQ(Current(*second).value, 20);
        // Dropped while open: its session ends and its reference goes.
    }
    EXPECT_EQ(second->GetSessionCount(), 0);
    EXPECT_EQ(second->GetRefCount(), 1);

    // No indicator: nothing is reported, nothing fails.
    VConstPtrStream plain(bytes.data(), bytes.size());
    plain.SetProgressIndicator(first.Get());
    plain.SetProgressIndicator(nullptr);
    ASSERT_EQ(plain.OpenReading(), VE_OK);
    EXPECT_EQ(first->GetSessionCount(), 0);
    plain.CloseReading();
}

} // namespace
} // namespace vela
