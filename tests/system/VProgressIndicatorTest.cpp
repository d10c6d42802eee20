#include "system/VProgressIndicator.h"

#include "core/StStringConverter.h"
#include "support/TaskTestSupport.h"
#include "system/VProgressManager.h"
#include "system/VSystem.h"
#include "values/VBagArray.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include "support/ProgressTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace vela {
namespace {

std::string Text(const VString& text) {
    return to_string(text);
}

VRefPtr<VProgressIndicator> NewIndicator() {
    return VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator());
}

// Records each call and answers a JSON object naming the level's message and whether it was first.
class RecordingCollector : public IProgressInfoCollector {
public:
    VJSONObject* RetainProgressInfo(VProgressIndicator* indicator, bool first) override {
        VString message;
        indicator->GetMessage(message);
        fCalls.push_back(first);
        auto* info = new VJSONObject();
        info->SetProperty(VString("first"), VJSONValue(first ? 1 : 0));
        return info;
    }
    std::vector<bool> fCalls;
};

TEST(VProgressIndicatorSessions, ProgressWithoutASessionAnswersTrueAndChangesNothing) {
    auto indicator = NewIndicator();
    const uint32 changes = indicator->GetChangeCounter();
    EXPECT_TRUE(indicator->Progress(42));
    EXPECT_TRUE(indicator->Increment(3));
    EXPECT_TRUE(indicator->SetMessageAndValue(VString("ignored"), 7));
    EXPECT_EQ(indicator->GetChangeCounter(), changes);
    EXPECT_EQ(indicator->GetSessionCount(), 0);
    EXPECT_EQ(indicator->GetMaxValue(), 0);
    EXPECT_EQ(indicator->ComputePercentDone(), 0.0f);
    VString message("left alone");
    indicator->GetMessage(message);
    EXPECT_TRUE(message.IsEmpty());
}

TEST(VProgressIndicatorSessions, NestedSessionsRestoreTheOuterLevel) {
    auto indicator = NewIndicator();
    EXPECT_EQ(indicator->GetSessionNumber(), 0);

    indicator->BeginSession(4, VString("copying"));
    EXPECT_EQ(indicator->GetSessionNumber(), 1);
    EXPECT_TRUE(indicator->Progress(2));
    indicator->BeginSession(100, 10, VString("file 3"), false, nullptr);
    EXPECT_EQ(indicator->GetSessionCount(), 2);
    EXPECT_TRUE(indicator->Increment(40));

    VProgressSessionInfo info;
    indicator->GetProgressInfo(info);
    ASSERT_EQ(info.fLevels.size(), 2u);
    EXPECT_EQ(Text(info.fLevels[0].GetMessage()), "copying");
    EXPECT_EQ(info.fLevels[0].GetValue(), 2);
    EXPECT_EQ(info.fLevels[0].GetMax(), 4);
    EXPECT_TRUE(info.fLevels[0].GetCanInterrupt());
    EXPECT_EQ(Text(info.fLevels[1].GetMessage()), "file 3");
    EXPECT_EQ(info.fLevels[1].GetValue(), 50);
    EXPECT_FALSE(info.fLevels[1].GetCanInterrupt());
    EXPECT_NE(info.fLevels[0].GetUUID(), info.fLevels[1].GetUUID());
    EXPECT_LE(info.fLevels[0].GetStartTime(), info.fLevels[1].GetStartTime());

    // The level with a UUID is found among the open ones.
    VProgressIndicatorInfo found;
    ASSERT_TRUE(indicator->GetProgressInfo(info.fLevels[0].GetUUID(), found));
    EXPECT_EQ(Text(found.GetMessage()), "copying");

    indicator->EndSession();
    EXPECT_EQ(indicator->GetSessionCount(), 1);
    VString message;
    indicator->GetMessage(message);
    EXPECT_EQ(Text(message), "copying");
    EXPECT_EQ(indicator->GetMaxValue(), 4);
    EXPECT_FALSE(indicator->GetProgressInfo(info.fLevels[1].GetUUID(), found));
    // The outer level has not ended: it is still to be reported.
    indicator->GetProgressInfo(info);
    ASSERT_EQ(info.fLevels.size(), 1u);
    EXPECT_TRUE(info.fLevels[0].GetMetricsFlag());
    EXPECT_EQ(info.fLevels[0].GetValue(), 2);

    // Closing the last session empties the stack; closing more does nothing.
    indicator->EndSession();
    EXPECT_EQ(indicator->GetSessionCount(), 0);
    EXPECT_EQ(indicator->GetSessionNumber(), 2);
    const uint32 changes = indicator->GetChangeCounter();
    indicator->EndSession();
    indicator->EndSession();
    EXPECT_EQ(indicator->GetSessionCount(), 0);
    EXPECT_EQ(indicator->GetSessionNumber(), 2);
    EXPECT_EQ(indicator->GetChangeCounter(), changes);
    indicator->GetProgressInfo(info);
    EXPECT_TRUE(info.fLevels.empty());

    // A new run starts from an empty stack.
    indicator->BeginUndeterminedSession(VString("again"));
    EXPECT_EQ(indicator->GetSessionNumber(), 3);
    EXPECT_EQ(indicator->GetMaxValue(), -1);
    indicator->EndSession();
}

TEST(VProgressIndicatorSessions, FractionDoneSpansAllLevels) {
    struct Level {
        int64 max;
        int64 value;
    };
    struct Case {
        const char* name;
        std::vector<Level> levels; // outermost first
        float expected;
    };
    const Case cases[] = {
        {"one level", {{10, 5}}, 0.5f},
        {"outer 2 of 4, inner 50 of 100", {{4, 2}, {100, 50}}, 0.625f},
        {"three levels", {{2, 1}, {4, 2}, {10, 5}}, 0.5f + 2.0f / 8 + 5.0f / 80},
        {"an undetermined current level gives its value", {{4, 2}, {-1, 7}}, 7.0f},
        {"an undetermined outer level gives 0", {{0, 3}, {100, 50}}, 0.0f},
        {"not clamped", {{10, 15}}, 1.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto indicator = NewIndicator();
        for (const Level& level : c.levels)
            indicator->BeginSession(level.max, level.value, VString("step"), true, nullptr);
        EXPECT_FLOAT_EQ(indicator->ComputePercentDone(), c.expected);
    }
}

TEST(VProgressIndicatorSessions, AnInterruptionRequestStopsTheNextReport) {
    auto indicator = NewIndicator();
    indicator->BeginSession(10, VString("work"));
    EXPECT_TRUE(indicator->Progress(1));
    indicator->UserAbort();
    EXPECT_FALSE(indicator->Progress(2));
    EXPECT_FALSE(indicator->Increment());
    EXPECT_FALSE(indicator->SetMessageAndIncrementValue(VString("more")));
    indicator->ClearUserAbort();
    EXPECT_TRUE(indicator->Progress(4));
    indicator->EndSession();
}

TEST(VProgressIndicatorSessions, AStoppingTaskStopsReportsWhileTheDefaultFlagIsSet) {
    test::StTaskMgrScope scope;
    ASSERT_TRUE(scope.IsInited());
    auto indicator = NewIndicator();
    std::atomic<int> stage{0};
    std::atomic<bool> whileSet{true};
    std::atomic<bool> afterClearing{false};
    VRefPtr<VTask> task = test::StartTask([&] {
        indicator->BeginSession(10, VString("task work"));
        stage.store(1);
        test::WaitUntil([] { return VTask::GetCurrent()->IsDying(); });
        whileSet.store(indicator->Progress(1));
        indicator->SetCanInterrupt(false);
        afterClearing.store(indicator->Progress(2));
        indicator->EndSession();
        stage.store(2);
    });
    ASSERT_TRUE(test::WaitUntil([&] { return stage.load() == 1; }));
    EXPECT_TRUE(test::KillAndWait(task.Get()));
    ASSERT_EQ(stage.load(), 2);
    EXPECT_FALSE(whileSet.load());
    EXPECT_TRUE(afterClearing.load());
}

TEST(VProgressIndicatorSessions, ExtraAttributesAreCopiedBeforeASharedBagChanges) {
    auto indicator = NewIndicator();
    indicator->BeginSession(10, VString("with attributes"));
    indicator->SetAttribute(VString("file"), VString("a.txt"));
    VProgressSessionInfo before;
    indicator->GetProgressInfo(before);
    ASSERT_EQ(before.fLevels.size(), 1u);
    const uint32 version = before.fLevels[0].GetExtraInfoVersion();

    indicator->SetAttribute(VString("file"), VString("b.txt"));
    indicator->RemoveAttribute(VString("missing"));
    VProgressSessionInfo after;
    indicator->GetProgressInfo(after);
    EXPECT_EQ(after.fLevels[0].GetExtraInfoVersion(), version + 2);

    auto text = [](const VProgressIndicatorInfo& level) {
        VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(level.RetainExtraInfoBag());
        VString value;
        if (bag) bag->GetString(StPackedDictionaryKey("file"), value);
        return Text(value);
    };
    // The copy taken before keeps the value it had.
    EXPECT_EQ(text(before.fLevels[0]), "a.txt");
    EXPECT_EQ(text(after.fLevels[0]), "b.txt");
    indicator->EndSession();
}

TEST(VProgressIndicatorSessions, ResetRestartsTheCurrentLevel) {
    auto indicator = NewIndicator();
    RecordingCollector collector;
    indicator->BeginSession(10, 3, VString("first"), true, &collector);
    VProgressSessionInfo info;
    indicator->GetProgressInfo(info);
    const VUUID firstUUID = info.fLevels[0].GetUUID();

    indicator->Reset(VString("second"), 20, 5);
    indicator->GetProgressInfo(info);
    ASSERT_EQ(info.fLevels.size(), 1u);
    EXPECT_EQ(Text(info.fLevels[0].GetMessage()), "second");
    EXPECT_EQ(info.fLevels[0].GetMax(), 20);
    EXPECT_EQ(info.fLevels[0].GetValue(), 5);
    EXPECT_NE(info.fLevels[0].GetUUID(), firstUUID);
    EXPECT_EQ(info.fLevels[0].GetCollector(), nullptr);

    IProgressInfoCollector* previous = &collector;
    RecordingCollector other;
    indicator->SetProgressInfoCollector(&other, &previous);
    EXPECT_EQ(previous, nullptr);
    indicator->EndSession();
}

TEST(VProgressIndicatorSnapshots, TakenAtTheNextReportWithEachLevelsCollector) {
    auto indicator = NewIndicator();
    RecordingCollector outer;
    RecordingCollector inner;
    indicator->SetDefaultProgressInfoCollector(&outer);
    indicator->BeginSession(4, VString("outer"));
    indicator->BeginSession(100, VString("inner"), &inner);
    EXPECT_EQ(indicator->RetainSessionsInfos(), nullptr);

    // The first report serves the pending request (none was served yet).
    EXPECT_TRUE(indicator->Progress(30));
    auto snapshot = VRefPtr<VRefCountedSessionInfo>::Adopt(indicator->RetainSessionsInfos());
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->GetCount(), 2);
    EXPECT_EQ(Text(snapshot->GetNth(1)->GetMessage()), "outer");
    EXPECT_EQ(Text(snapshot->GetNth(2)->GetMessage()), "inner");
    EXPECT_EQ(snapshot->GetNth(3), nullptr);
    EXPECT_EQ(outer.fCalls, std::vector<bool>{true});
    EXPECT_EQ(inner.fCalls, std::vector<bool>{false});
    auto collected = VRefPtr<VJSONObject>::Adopt(snapshot->GetNth(1)->RetainCollectedInfo());
    ASSERT_TRUE(collected);
    EXPECT_EQ(collected->GetProperty(VString("first")).GetNumber(), 1);

    // No request, no new snapshot; a request is served by the next report, which it sees before changing.
    EXPECT_TRUE(indicator->Progress(40));
    auto same = VRefPtr<VRefCountedSessionInfo>::Adopt(indicator->RetainSessionsInfos());
    EXPECT_EQ(same.Get(), snapshot.Get());
    indicator->UpdateSessionsInfos();
    EXPECT_TRUE(indicator->Progress(50));
    auto fresh = VRefPtr<VRefCountedSessionInfo>::Adopt(indicator->RetainSessionsInfos());
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh.Get(), snapshot.Get());
    EXPECT_EQ(fresh->GetNth(2)->GetValue(), 40);
    // The older snapshot did not change.
    EXPECT_EQ(snapshot->GetNth(2)->GetValue(), 0);
    indicator->EndSession();
    indicator->EndSession();
}

TEST(VProgressIndicatorInfoBags, DeltaBagsCarryOnlyWhatChanged) {
    VProgressIndicatorInfo first;
    first.SetMessage(VString("copy"));
    first.SetValue(5);
    first.SetMax(10);
    first.SetCanInterrupt(true);
    VProgressIndicatorInfo second = first;
    second.SetValue(6);
    second.SetAttribute(VString("file"), VString("x"));

    struct Case {
        const char* name;
        const VProgressIndicatorInfo* previous;
        uint32 flags;
    };
    const Case cases[] = {
        {"full", nullptr, VProgressIndicatorInfo::kAll},
        {"delta", &first,
         VProgressIndicatorInfo::kValue | VProgressIndicatorInfo::kExtraInfoVersion |
             VProgressIndicatorInfo::kExtraInfo},
        {"nothing changed", &second, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VValueBag bag;
        VString kind;
        second.SaveToBag(bag, kind, c.previous);
        EXPECT_EQ(Text(kind), "VProgressIndicatorInfo");
        int32 flags = -1;
        ASSERT_TRUE(bag.GetLong(StPackedDictionaryKey("fUpdateFlags"), flags));
        EXPECT_EQ(uint32(flags), c.flags);
        EXPECT_EQ(bag.AttributeExists(StPackedDictionaryKey("fMessage")), (c.flags & 1) != 0);
        EXPECT_EQ(bag.AttributeExists(StPackedDictionaryKey("fValue")), (c.flags & 2) != 0);
        EXPECT_EQ(bag.GetElements(StPackedDictionaryKey("ExtraInfo")) != nullptr, (c.flags & 64) != 0);

        // Loading the delta onto the previous level gives the saved level back.
        VProgressIndicatorInfo loaded = c.previous != nullptr ? *c.previous : VProgressIndicatorInfo();
        loaded.LoadFromBag(bag);
        EXPECT_EQ(Text(loaded.GetMessage()), "copy");
        EXPECT_EQ(loaded.GetValue(), 6);
        EXPECT_EQ(loaded.GetMax(), 10);
        EXPECT_EQ(loaded.GetStartTime(), second.GetStartTime());
        EXPECT_TRUE(loaded.GetCanInterrupt());
        EXPECT_EQ(loaded.GetExtraInfoVersion(), second.GetExtraInfoVersion());
        VRefPtr<VValueBag> extra = VRefPtr<VValueBag>::Adopt(loaded.RetainExtraInfoBag());
        ASSERT_TRUE(extra);
        VString file;
        EXPECT_TRUE(extra->GetString(StPackedDictionaryKey("file"), file));
        EXPECT_EQ(Text(file), "x");
    }
}

TEST(VProgressIndicatorInfoBags, StartTimesKeepSixtyFourBits) {
    // A start beyond 2^32 ms (49.7 days of uptime) survives the bag and the elapsed time stays small.
    const uint64 now = VSystem::GetCurrentTimeMs64();
    VProgressIndicatorInfo level;
    level.SetStartTime(now);
    EXPECT_LT(level.GetElapsed(), 60000u);

    VProgressIndicatorInfo far;
    far.SetStartTime((uint64(1) << 32) + 1234);
    VValueBag bag;
    VString kind;
    far.SaveToBag(bag, kind, nullptr);
    VProgressIndicatorInfo loaded;
    loaded.LoadFromBag(bag);
    EXPECT_EQ(loaded.GetStartTime(), (uint64(1) << 32) + 1234);
    // A start in the future (a clock from elsewhere) gives no elapsed time rather than a wrapped one.
    VProgressIndicatorInfo future;
    future.SetStartTime(now + 3600000);
    EXPECT_EQ(future.GetElapsed(), 0u);
}

TEST(VProgressIndicatorInfoBags, JSONFormHasItsPropertiesInOrder) {
    VProgressIndicatorInfo level;
    level.SetMessage(VString("saving"));
    level.SetMax(8);
    level.SetValue(3);
    level.SetCanInterrupt(true);
    level.SetStartTime(VSystem::GetCurrentTimeMs64() - 1500);
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    object->SetProperty(VString("stale"), VJSONValue(1));
    level.GetJSONObject(*object);

    const char* names[] = {"message", "maxValue", "currentValue", "interruptible", "remote",
                           "uuid",    "taskId",   "startTime",    "duration"};
    ASSERT_EQ(object->GetPropertyCount(), std::size(names));
    for (size_t i = 0; i < std::size(names); ++i) {
        VString name;
        ASSERT_TRUE(object->GetPropertyNameAt(i, name));
        EXPECT_EQ(Text(name), names[i]);
    }
    VString text;
    object->GetProperty(VString("message")).GetString(text);
    EXPECT_EQ(Text(text), "saving");
    EXPECT_EQ(object->GetProperty(VString("maxValue")).GetNumber(), 8);
    EXPECT_EQ(object->GetProperty(VString("currentValue")).GetNumber(), 3);
    EXPECT_TRUE(object->GetProperty(VString("interruptible")).GetBool());
    EXPECT_FALSE(object->GetProperty(VString("remote")).GetBool());
    object->GetProperty(VString("uuid")).GetString(text);
    VString uuid;
    level.GetUUID().GetString(uuid);
    EXPECT_EQ(Text(text), Text(uuid));
    double duration = object->GetProperty(VString("duration")).GetNumber();
    EXPECT_GE(duration, 1500);
    EXPECT_LT(duration, 61500);
    object->GetProperty(VString("startTime")).GetString(text);
    EXPECT_FALSE(text.IsEmpty());
}

// ---- Manager

class VProgressManagerTest : public test::ProgressManagerTest {};

TEST_F(VProgressManagerTest, RegistersIndicatorsForTheirLife) {
    const int32 count = VProgressManager::Get()->GetCount();
    auto indicator = NewIndicator();
    EXPECT_EQ(VProgressManager::Get()->GetCount(), count + 1);
    auto found = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::RetainProgress(indicator->GetUUID()));
    EXPECT_EQ(found.Get(), indicator.Get());
    VString uuidText;
    indicator->GetUUID().GetString(uuidText);
    auto byText = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::RetainProgress(uuidText));
    EXPECT_EQ(byText.Get(), indicator.Get());
    EXPECT_EQ(VProgressManager::RetainProgress(VString("not a uuid")), nullptr);
    EXPECT_EQ(VProgressManager::RetainProgress(VUUID(1)), nullptr);

    const VUUID uuid = indicator->GetUUID();
    found.Clear();
    byText.Clear();
    indicator.Clear();
    EXPECT_EQ(VProgressManager::RetainProgress(uuid), nullptr);
    EXPECT_EQ(VProgressManager::Get()->GetCount(), count);
}

TEST_F(VProgressManagerTest, TheFirstIndicatorOfAUUIDStaysRegistered) {
    const VUUID uuid(1);
    auto first = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator(uuid, 0));
    {
        auto second = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator(uuid, 5));
        auto found = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::RetainProgress(uuid));
        EXPECT_EQ(found.Get(), first.Get());
    }
    // The second one going away does not take the first one's entry with it.
    auto found = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::RetainProgress(uuid));
    EXPECT_EQ(found.Get(), first.Get());
}

TEST_F(VProgressManagerTest, SnapshotsOnlyOfIndicatorsWithAnOpenSession) {
    auto idle = NewIndicator();
    auto busy = NewIndicator();
    busy->BeginSession(10, VString("busy"));
    std::vector<VRefPtr<VRefCountedSessionInfo>> all;
    // Asked for, not yet taken.
    VProgressManager::Get()->GetAllProgressInfo(all);
    EXPECT_TRUE(all.empty());
    EXPECT_TRUE(busy->Progress(1));
    VProgressManager::Get()->GetAllProgressInfo(all);
    ASSERT_EQ(all.size(), 1u);
    ASSERT_EQ(all[0]->GetCount(), 1);
    EXPECT_EQ(Text(all[0]->GetNth(1)->GetMessage()), "busy");
    // The manager's call asked for a fresh one, served at the next report.
    EXPECT_TRUE(busy->Progress(2));
    all.clear();
    VProgressManager::Get()->GetAllProgressInfo(all);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]->GetNth(1)->GetValue(), 1);
    busy->EndSession();
    all.clear();
    VProgressManager::Get()->GetAllProgressInfo(all);
    EXPECT_TRUE(all.empty());
}

TEST_F(VProgressManagerTest, BagFormOfOneOrEveryIndicator) {
    auto indicator = NewIndicator();
    indicator->SetTitle(VString("Backup"));
    indicator->BeginSession(2, VString("outer"));
    indicator->BeginSession(5, VString("inner"));
    VString uuidText;
    indicator->GetUUID().GetString(uuidText);

    VValueBag bag;
    VProgressManager::Get()->GetProgressInfo(bag, &uuidText);
    VBagArray* infos = bag.GetElements(StPackedDictionaryKey("ProgressInfo"));
    ASSERT_NE(infos, nullptr);
    ASSERT_EQ(infos->GetCount(), 1);
    VValueBag* info = infos->GetNth(1);
    int32 count = 0;
    EXPECT_TRUE(info->GetLong(StPackedDictionaryKey("SessionCount"), count));
    EXPECT_EQ(count, 2);
    VString title;
    EXPECT_TRUE(info->GetString(StPackedDictionaryKey("Title"), title));
    EXPECT_EQ(Text(title), "Backup");
    VBagArray* levels = info->GetElements(StPackedDictionaryKey("SessionInfo"));
    ASSERT_NE(levels, nullptr);
    ASSERT_EQ(levels->GetCount(), 2);
    VString message;
    levels->GetNth(1)->GetString(StPackedDictionaryKey("fMessage"), message);
    EXPECT_EQ(Text(message), "outer");
    levels->GetNth(2)->GetString(StPackedDictionaryKey("fMessage"), message);
    EXPECT_EQ(Text(message), "inner");

    auto other = NewIndicator();
    VValueBag everything;
    VProgressManager::Get()->GetProgressInfo(everything, nullptr);
    infos = everything.GetElements(StPackedDictionaryKey("ProgressInfo"));
    ASSERT_NE(infos, nullptr);
    EXPECT_EQ(infos->GetCount(), VProgressManager::Get()->GetCount());
    indicator->EndSession();
    indicator->EndSession();
}

TEST(VProgressManagerLife, NothingIsFoundWithoutAManager) {
    if (VProgressManager::Get() != nullptr) GTEST_SKIP() << "a manager is running";
    auto indicator = NewIndicator();
    EXPECT_EQ(VProgressManager::RetainProgress(indicator->GetUUID()), nullptr);
    EXPECT_EQ(VProgressManager::CreateStdProgress(1, 0), nullptr);
    // An indicator made before the manager is not registered once it exists.
    VProgressManager::Init();
    EXPECT_EQ(VProgressManager::RetainProgress(indicator->GetUUID()), nullptr);
    EXPECT_EQ(VProgressManager::CreateStdProgress(1, 0), nullptr);
    VProgressManager::Deinit();
    EXPECT_EQ(VProgressManager::Get(), nullptr);
}

} // namespace
} // namespace vela
