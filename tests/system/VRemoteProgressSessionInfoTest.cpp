#include "system/VRemoteProgressSessionInfo.h"

#include "core/StStringConverter.h"
#include "files/VPtrStream.h"
#include "system/VProgressIndicator.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vela {
namespace {

VRefPtr<VProgressIndicator> NewIndicator() {
    return VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator());
}

// The messages and values of an indicator's open levels, outermost first.
std::vector<std::pair<std::string, int64>> Levels(VProgressIndicator& indicator) {
    VProgressSessionInfo info;
    indicator.GetProgressInfo(info);
    std::vector<std::pair<std::string, int64>> out;
    for (const VProgressIndicatorInfo& level : info.fLevels)
        out.emplace_back(to_string(level.GetMessage()), level.GetValue());
    return out;
}

// A record through a bag, as it travels: saved against previous, loaded onto receiver.
void Travel(const VRemoteProgressSessionInfo& record, const VRemoteProgressSessionInfo* previous,
            VRemoteProgressSessionInfo& receiver) {
    VValueBag bag;
    VString kind;
    record.SaveToBag(bag, kind, previous);
    EXPECT_EQ(to_string(kind), "DistantSessionInfo");
    receiver.LoadFromBag(bag);
}

TEST(VRemoteProgressSession, AMirrorFollowsTheSessionsThroughBags) {
    auto source = NewIndicator();
    auto mirror = NewIndicator();
    source->BeginSession(4, 1, VString("outer"), true, nullptr);
    source->BeginSession(100, 20, VString("inner"), true, nullptr);

    // First record: the whole stack.
    VRemoteProgressSessionInfo sent;
    source->GetProgressInfo(sent, nullptr);
    EXPECT_NE(sent.GetFlags() & VRemoteProgressSessionInfo::kSessionStack, 0u);
    VRemoteProgressSessionInfo received;
    Travel(sent, nullptr, received);
    EXPECT_EQ(received.GetSessionCount(), 2);
    EXPECT_EQ(received.GetChangesVersion(), source->GetChangeCounter());
    mirror->UpdateFromRemoteInfo(received);
    using Expected = std::vector<std::pair<std::string, int64>>;
    EXPECT_EQ(Levels(*mirror), (Expected{{"outer", 1}, {"inner", 20}}));
    EXPECT_FLOAT_EQ(mirror->ComputePercentDone(), source->ComputePercentDone());
    VProgressSessionInfo mirrored;
    mirror->GetProgressInfo(mirrored);
    for (const VProgressIndicatorInfo& level : mirrored.fLevels) {
        EXPECT_TRUE(level.IsRemote());
        EXPECT_FALSE(level.GetMetricsFlag());
    }

    // Same count: only the current level travels, as a delta.
    source->Progress(60);
    VRemoteProgressSessionInfo next;
    source->GetProgressInfo(next, &sent);
    EXPECT_EQ(next.GetFlags() & VRemoteProgressSessionInfo::kSessionStack, 0u);
    EXPECT_NE(next.GetFlags() & VRemoteProgressSessionInfo::kCurrent, 0u);
    VValueBag bag;
    VString kind;
    next.SaveToBag(bag, kind, &sent);
    VBagArray* current = bag.GetElements(StPackedDictionaryKey("fCurrent"));
    ASSERT_NE(current, nullptr);
    EXPECT_TRUE(current->GetNth(1)->AttributeExists(StPackedDictionaryKey("fValue")));
    EXPECT_FALSE(current->GetNth(1)->AttributeExists(StPackedDictionaryKey("fMessage")));
    EXPECT_FALSE(bag.AttributeExists(StPackedDictionaryKey("fSessionCount")));
    received.LoadFromBag(bag);
    mirror->UpdateFromRemoteInfo(received);
    EXPECT_EQ(Levels(*mirror), (Expected{{"outer", 1}, {"inner", 60}}));

    // A closed level changes the count: the stack travels again and the mirror drops the level.
    source->EndSession();
    VRemoteProgressSessionInfo after;
    source->GetProgressInfo(after, &next);
    Travel(after, &next, received);
    mirror->UpdateFromRemoteInfo(received);
    EXPECT_EQ(Levels(*mirror), (Expected{{"outer", 1}}));
    source->EndSession();
}

TEST(VRemoteProgressSession, ADeltaReadOntoAFreshRecordChangesOnlyWhatItHolds) {
    auto source = NewIndicator();
    auto mirror = NewIndicator();
    source->BeginSession(100, 20, VString("inner"), true, nullptr);
    VRemoteProgressSessionInfo sent;
    source->GetProgressInfo(sent, nullptr);
    VRemoteProgressSessionInfo whole;
    Travel(sent, nullptr, whole);
    mirror->UpdateFromRemoteInfo(whole);

    source->Progress(60);
    VRemoteProgressSessionInfo next;
    source->GetProgressInfo(next, &sent);
    // Each delta arrives in a record of its own: it holds the value alone.
    VRemoteProgressSessionInfo fresh;
    Travel(next, &sent, fresh);
    mirror->UpdateFromRemoteInfo(fresh);
    EXPECT_EQ(Levels(*mirror), (std::vector<std::pair<std::string, int64>>{{"inner", 60}}));
    EXPECT_FLOAT_EQ(mirror->ComputePercentDone(), source->ComputePercentDone());
    source->EndSession();
}

TEST(VRemoteProgressSession, LevelsClosedElsewhereAreClosedByTheNextEndSession) {
    auto mirror = NewIndicator();
    for (const char* message : {"one", "two", "three"})
        mirror->BeginSession(10, VString(message));
    VRemoteProgressSessionInfo record;
    record.FromProgressInfo(nullptr, nullptr, 1, 7, 1, 0);
    mirror->UpdateFromRemoteInfo(record);
    EXPECT_EQ(mirror->GetSessionCount(), 3);
    // Down to the other side's count, then the one this call ends.
    mirror->EndSession();
    EXPECT_EQ(mirror->GetSessionCount(), 0);
    mirror->BeginSession(10, VString("again"));
    mirror->EndSession();
    EXPECT_EQ(mirror->GetSessionCount(), 0);
}

TEST(VRemoteProgressSession, AnInterruptionRequestTravelsBack) {
    auto source = NewIndicator();
    source->BeginSession(10, VString("long work"));
    EXPECT_TRUE(source->Progress(1));
    VRemoteProgressSessionInfo request;
    request.SetUserAbort(true);
    EXPECT_EQ(request.GetFlags(), uint32(VRemoteProgressSessionInfo::kUserAbort));
    VRemoteProgressSessionInfo received;
    Travel(request, nullptr, received);
    source->UpdateFromRemoteInfo(received);
    EXPECT_FALSE(source->Progress(2));
    // The levels stayed the source's own.
    EXPECT_EQ(source->GetSessionCount(), 1);
    source->EndSession();
}

TEST(VRemoteProgressSession, ResetAndCurrentOnlyRecords) {
    VProgressIndicatorInfo current;
    current.SetMessage(VString("only"));
    VRemoteProgressSessionInfo record;
    record.FromProgressInfo(&current, nullptr, 2, 1, 2, 3);
    EXPECT_EQ(record.GetFlags(), uint32(1 | 2 | 4 | 8 | 64));
    ASSERT_EQ(record.GetLevels().size(), 1u);
    record.FromProgressInfo(&current, nullptr, 0, 1, 2, 3);
    EXPECT_TRUE(record.GetLevels().empty());
    EXPECT_EQ(record.GetFlags() & 64, 0u);
    record.Reset();
    EXPECT_EQ(record.GetFlags(), 0u);
    EXPECT_EQ(record.GetSessionCount(), 0);
    EXPECT_EQ(record.GetMasterSessionVersion(), 0u);
}

TEST(VRemoteProgressSession, WhatAnotherProcessNeedsToFindTheIndicator) {
    auto indicator = NewIndicator();
    indicator->BeginSession(5, VString("x"));
    VValueBag bag;
    VString kind;
    indicator->WriteInfoForRemote(bag, kind);
    EXPECT_EQ(to_string(kind), "VProgressIndicator");
    VUUID uuid;
    ASSERT_TRUE(bag.GetVUUID(StPackedDictionaryKey("uuid"), uuid));
    EXPECT_EQ(uuid, indicator->GetUUID());
    int32 version = 0;
    ASSERT_TRUE(bag.GetLong(StPackedDictionaryKey("version"), version));
    EXPECT_EQ(uint32(version), indicator->GetChangeCounter());

    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(indicator->WriteInfoForRemote(stream), VE_OK);
    ASSERT_EQ(stream.CloseWriting(), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VUUID read;
    ASSERT_EQ(read.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(read, indicator->GetUUID());
    int32 readVersion = 0;
    ASSERT_EQ(stream.GetLong(readVersion), VE_OK);
    EXPECT_EQ(uint32(readVersion), indicator->GetChangeCounter());
    stream.CloseReading();
    indicator->EndSession();
}

} // namespace
} // namespace vela
