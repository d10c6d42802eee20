#include "system/VMetricsManager.h"

#include "core/StStringConverter.h"
#include "support/ProgressTestSupport.h"
#include "system/VProgressIndicator.h"
#include "system/VProgressManager.h"
#include "values/VScalar.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

std::string Text(const VJSONValue& value) {
    VString text;
    value.GetString(text);
    return to_string(text);
}

VRefPtr<VJSONArray> Collection() {
    return VRefPtr<VJSONArray>::Adopt(VMetricsManager::sMetricsSingleton.CreateCollection());
}

// The record at index of the collection, or null.
VJSONObject* RecordAt(const VJSONArray& records, size_t index) {
    return index < records.GetCount() ? records.GetAt(index).GetObjectPtr() : nullptr;
}

VJSONObject* ActivityOf(const VJSONObject& record) {
    return record.GetProperty(VString("activityData")).GetObjectPtr();
}

// Answers one JSON object {"done": 3} and keeps it to change it afterwards.
class FixedCollector : public IProgressInfoCollector {
public:
    VJSONObject* RetainProgressInfo(VProgressIndicator*, bool) override {
        fInfo = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        fInfo->SetProperty(VString("done"), VJSONValue(3));
        return RetainRefCountable(fInfo.Get());
    }
    VRefPtr<VJSONObject> fInfo;
};

// Every test leaves the process's collector without a session, as it found it.
class VMetricsManagerTest : public test::ProgressManagerTest {
protected:
    void TearDown() override {
        VMetricsManager::sMetricsSingleton.EndSession();
        test::ProgressManagerTest::TearDown();
    }
    VMetricsManager& fMetrics = VMetricsManager::sMetricsSingleton;
};

TEST_F(VMetricsManagerTest, OnlyTheChosenKindsAtOrAboveTheMinimumAreBound) {
    struct Case {
        bool progresses, first, second;
        uint64 minimum;
        EMetricsKindBit kind;
        uint64 duration;
        bool bound;
    };
    const Case cases[] = {
        {true, false, false, 0, eMetricsKindProgress, 0, true},
        {true, false, false, 10, eMetricsKindProgress, 9, false},
        {true, false, false, 10, eMetricsKindProgress, 10, true},
        {true, false, false, 0, eMetricsKindFirst, 5, false},
        {false, true, false, 0, eMetricsKindFirst, 5, true},
        {false, true, false, 0, eMetricsKindSecond, 5, false},
        {false, false, true, 0, eMetricsKindSecond, 5, true},
        {false, false, true, 0, eMetricsKindProgress, 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " duration " << c.duration);
        fMetrics.StartSession(c.minimum, c.progresses, c.first, c.second);
        EXPECT_EQ(fMetrics.IsProgressesCollected(), c.progresses);
        auto record = VRefPtr<VJSONObject>::Adopt(fMetrics.CreateBind(c.kind, c.duration));
        EXPECT_EQ(bool(record), c.bound);
        if (record) {
            EXPECT_EQ(record->GetProperty(VString("activityKind")).GetNumber(), double(1u << c.kind));
            EXPECT_EQ(record->GetProperty(VString("activityDuration")).GetNumber(), double(c.duration) / 1000.0);
        }
        fMetrics.EndSession();
    }
}

TEST_F(VMetricsManagerTest, NothingIsCollectedWithoutASession) {
    EXPECT_FALSE(fMetrics.IsProgressesCollected());
    EXPECT_EQ(fMetrics.CreateBind(eMetricsKindProgress, 1000), nullptr);
    VProgressIndicator indicator;
    indicator.BeginSession(10, VString("unwatched"));
    indicator.EndSession();
    EXPECT_EQ(Collection()->GetCount(), 0u);
}

TEST_F(VMetricsManagerTest, TheCollectionIsACopyInOrderAndEndSessionDropsIt) {
    fMetrics.StartSession(0, false, true, true);
    for (EMetricsKindBit kind : {eMetricsKindSecond, eMetricsKindFirst}) {
        auto record = VRefPtr<VJSONObject>::Adopt(fMetrics.CreateBind(kind, 1500));
        auto data = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        data->SetProperty(VString("name"), VJSONValue(VString(kind == eMetricsKindFirst ? "first" : "second")));
        fMetrics.BindDatas(record.Get(), data.Get());
    }
    fMetrics.BindDatas(nullptr, nullptr);
    auto records = Collection();
    ASSERT_EQ(records->GetCount(), 2u);
    ASSERT_NE(ActivityOf(*RecordAt(*records, 0)), nullptr);
    EXPECT_EQ(Text(ActivityOf(*RecordAt(*records, 0))->GetProperty(VString("name"))), "second");
    EXPECT_EQ(Text(ActivityOf(*RecordAt(*records, 1))->GetProperty(VString("name"))), "first");
    EXPECT_EQ(RecordAt(*records, 1)->GetProperty(VString("activityDuration")).GetNumber(), 1.5);

    // Changing the copy leaves the kept records alone.
    ActivityOf(*RecordAt(*records, 0))->SetProperty(VString("name"), VJSONValue(VString("changed")));
    auto again = Collection();
    EXPECT_EQ(Text(ActivityOf(*RecordAt(*again, 0))->GetProperty(VString("name"))), "second");

    fMetrics.EndSession();
    EXPECT_FALSE(fMetrics.IsProgressesCollected());
    EXPECT_EQ(Collection()->GetCount(), 0u);
}

TEST_F(VMetricsManagerTest, AnEndedSessionIsRecordedWithItsLevelTitleAttributesAndDetails) {
    fMetrics.StartSession(0, true, false, false);
    auto indicator = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator());
    indicator->SetTitle(VString("Copying"));
    FixedCollector collector;
    indicator->BeginSession(4, 0, VString("outer"), true, &collector);
    indicator->SetAttribute(VString("file"), VString("a.txt"));
    ASSERT_TRUE(indicator->Progress(1));
    indicator->BeginSession(10, VString("inner"));
    indicator->EndSession();
    indicator->EndSession();
    ASSERT_TRUE(collector.fInfo);
    collector.fInfo->SetProperty(VString("done"), VJSONValue(4));

    auto records = Collection();
    ASSERT_EQ(records->GetCount(), 2u);
    // The inner session ends first; each level is recorded, not the level that becomes current again.
    const VJSONObject* inner = ActivityOf(*RecordAt(*records, 0));
    const VJSONObject* outer = ActivityOf(*RecordAt(*records, 1));
    ASSERT_NE(inner, nullptr);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(RecordAt(*records, 0)->GetProperty(VString("activityKind")).GetNumber(), 4);
    EXPECT_EQ(Text(inner->GetProperty(VString("message"))), "inner");
    EXPECT_EQ(Text(inner->GetProperty(VString("title"))), "Copying");
    EXPECT_TRUE(inner->GetProperty(VString("extraInfo")).IsUndefined());
    EXPECT_TRUE(inner->GetProperty(VString("subOperations")).IsUndefined());
    EXPECT_EQ(Text(outer->GetProperty(VString("message"))), "outer");
    EXPECT_EQ(outer->GetProperty(VString("maxValue")).GetNumber(), 4);
    EXPECT_EQ(outer->GetProperty(VString("currentValue")).GetNumber(), 1);
    const VJSONObject* extra = outer->GetProperty(VString("extraInfo")).GetObjectPtr();
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(Text(extra->GetProperty(VString("file"))), "a.txt");
    // The details as they were when the level ended, not as the collector changed them afterwards.
    const VJSONObject* details = outer->GetProperty(VString("subOperations")).GetObjectPtr();
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->GetProperty(VString("done")).GetNumber(), 3);
}

TEST_F(VMetricsManagerTest, ASessionShorterThanTheMinimumLeavesNoRecord) {
    fMetrics.StartSession(uint64(1) << 40, true, false, false);
    VProgressIndicator indicator;
    indicator.BeginSession(10, VString("quick"));
    indicator.EndSession();
    EXPECT_EQ(Collection()->GetCount(), 0u);
}

TEST_F(VMetricsManagerTest, AnIndicatorThatGoesAwayMidSessionIsRecordedOnce) {
    fMetrics.StartSession(0, true, false, false);
    {
        VProgressIndicator indicator;
        indicator.BeginSession(10, VString("left open"));
    }
    {
        // Ended first, then gone: the level is not recorded a second time.
        VProgressIndicator indicator;
        indicator.BeginSession(10, VString("ended"));
        indicator.EndSession();
        indicator.EndSession();
    }
    auto records = Collection();
    ASSERT_EQ(records->GetCount(), 2u);
    EXPECT_EQ(Text(ActivityOf(*RecordAt(*records, 0))->GetProperty(VString("message"))), "left open");
    EXPECT_EQ(Text(ActivityOf(*RecordAt(*records, 1))->GetProperty(VString("message"))), "ended");
}

} // namespace
} // namespace vela
