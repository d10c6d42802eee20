#include "json/VStorageLocker.h"

#include "support/RecordingRaiser.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"

#include "JSONTestSupport.h"

#include <thread>

namespace vela {
namespace {

VRefPtr<VJSONObject> NewSharedObject() {
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
}

// Ends a use of the locker at the end of the scope.
class StUse {
public:
    explicit StUse(VStorageLocker* locker) : fLocker(locker), fTaken(locker->TryToUse()) {}
    ~StUse() {
        if (fTaken) fLocker->EndUse();
    }
    bool IsTaken() const { return fTaken; }

private:
    VStorageLocker* fLocker;
    bool fTaken;
};

TEST(VStorageLocker, IDsFollowEachOtherAndFreshLockersReportThemNegated) {
    auto first = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
    auto second = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
    EXPECT_GE(first->GetID(), 1);
    EXPECT_EQ(second->GetID(), first->GetID() + 1);
    auto object = NewSharedObject();
    VRefPtr<VStorageLocker> locker = object->GetStorageLocker();
    ASSERT_TRUE(locker);
    EXPECT_TRUE(locker->IsFresh());
    EXPECT_EQ(object->GetSharedID(), -locker->GetID());
    EXPECT_EQ(object->GetProperty("__LockerID").GetNumber(), double(-locker->GetID()));
    EXPECT_TRUE(object->HasOwnProperty("__LockerID"));
    locker->SetFresh(false);
    EXPECT_EQ(object->GetSharedID(), locker->GetID());
}

TEST(VStorageLocker, UsesAreReentrantAndOwnedByOneTask) {
    auto locker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
    EXPECT_TRUE(locker->TryToUse());
    EXPECT_TRUE(locker->TryToUse());
    EXPECT_EQ(locker->GetUseCount(), 2);
    bool otherTook = true;
    std::thread([&] { otherTook = locker->TryToUse(); }).join();
    EXPECT_FALSE(otherTook);
    locker->EndUse();
    std::thread([&] { otherTook = locker->TryToUse(); }).join();
    EXPECT_FALSE(otherTook); // still used once
    locker->EndUse();
    EXPECT_EQ(locker->GetOwner(), 0u);
    std::thread([&] {
        otherTook = locker->TryToUse();
        locker->EndUse();
    }).join();
    EXPECT_TRUE(otherTook);
}

TEST(VStorageLocker, WritesToASharedObjectNeedTheLockerInUse) {
    auto object = NewSharedObject();
    VRefPtr<VStorageLocker> locker = object->GetStorageLocker();
    {
        test::RecordingRaiser raiser;
        EXPECT_FALSE(object->SetProperty("a", VJSONValue(1.0)));
        object->RemoveOwnProperty("a");
        object->ClearInternalProperties();
        EXPECT_EQ(raiser.Codes(), (std::vector<VError>{VE_JSON_OBJECT_NOT_IN_USE, VE_JSON_OBJECT_NOT_IN_USE,
                                                       VE_JSON_OBJECT_NOT_IN_USE}));
        EXPECT_EQ(object->GetPropertyCount(), 0u);
    }
    StUse use(locker.Get());
    ASSERT_TRUE(use.IsTaken());
    EXPECT_TRUE(object->SetProperty("a", VJSONValue(1.0)));
    EXPECT_FALSE(object->SetProperty("__LockerID", VJSONValue(1.0))); // refused without error
    EXPECT_EQ(object->GetPropertyCount(), 1u);
}

TEST(VStorageLocker, APlainNodeIsRefusedUntilMadeShared) {
    auto object = NewSharedObject();
    VRefPtr<VStorageLocker> locker = object->GetStorageLocker();
    StUse use(locker.Get());
    VJSONValue plain(JSON_object);
    plain.GetObjectPtr()->SetProperty("inner", VJSONValue(JSON_array));
    {
        test::RecordingRaiser raiser;
        EXPECT_FALSE(object->SetProperty("child", plain));
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_NOT_SHAREABLE});
    }
    object->MakeValueSharedIfNecessary(plain);
    EXPECT_FALSE(locker->IsFresh());
    EXPECT_EQ(plain.GetObjectPtr()->GetStorageLocker(), locker);
    EXPECT_EQ(plain.GetObjectPtr()->GetProperty("inner").GetArrayPtr()->GetStorageLocker(), locker);
    EXPECT_TRUE(object->SetProperty("child", plain));
    EXPECT_TRUE(object->GetGraph()->IsShared());
}

TEST(VStorageLocker, NodesOfAnotherSettledLockerAreRefused) {
    auto parent = NewSharedObject();
    auto child = NewSharedObject();
    parent->GetStorageLocker()->SetFresh(false);
    child->GetStorageLocker()->SetFresh(false);
    auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray(true));
    array->GetStorageLocker()->SetFresh(false);
    StUse use(parent->GetStorageLocker().Get());
    test::RecordingRaiser raiser;
    EXPECT_FALSE(parent->SetProperty("o", VJSONValue(child.Get())));
    EXPECT_FALSE(parent->SetProperty("a", VJSONValue(array.Get())));
    EXPECT_EQ(raiser.Codes(), (std::vector<VError>{VE_JSON_OBJECT_OF_OTHER_LOCKER, VE_JSON_ARRAY_OF_OTHER_LOCKER}));
}

TEST(VStorageLocker, AFreshChildLockerJoinsTheParentsLocker) {
    auto parent = NewSharedObject();
    auto child = NewSharedObject();
    VRefPtr<VStorageLocker> locker = parent->GetStorageLocker();
    StUse use(locker.Get());
    EXPECT_TRUE(parent->SetProperty("child", VJSONValue(child.Get())));
    EXPECT_EQ(child->GetStorageLocker(), locker);
    EXPECT_FALSE(locker->IsFresh());
}

TEST(VStorageLocker, AFreshLockerUsedByAnotherTaskIsRefused) {
    auto parent = NewSharedObject();
    auto child = NewSharedObject();
    VRefPtr<VStorageLocker> childLocker = child->GetStorageLocker();
    bool taken = false;
    std::thread([&] { taken = childLocker->TryToUse(); }).join(); // that task never ends its use
    ASSERT_TRUE(taken);
    StUse use(parent->GetStorageLocker().Get());
    test::RecordingRaiser raiser;
    EXPECT_FALSE(parent->SetProperty("child", VJSONValue(child.Get())));
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_LOCKER_BUSY});
}

TEST(VStorageLocker, RestrictedLockersTakeOnlyNodesAndNull) {
    auto object = NewSharedObject();
    VRefPtr<VStorageLocker> locker = object->GetStorageLocker();
    locker->SetRestricted(true);
    StUse use(locker.Get());
    test::RecordingRaiser raiser;
    EXPECT_FALSE(object->SetProperty("n", VJSONValue(1.0)));
    EXPECT_TRUE(object->SetProperty("z", VJSONValue(JSON_null)));
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_SCALAR_IN_RESTRICTED});
}

TEST(VStorageLocker, WritesToASharedArrayNeedTheLockerInUse) {
    auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray(true));
    test::RecordingRaiser raiser;
    EXPECT_FALSE(array->Push(VJSONValue(1.0)));
    EXPECT_FALSE(array->Resize(3));
    EXPECT_EQ(array->GetCount(), 0u);
    EXPECT_EQ(raiser.Codes().size(), 2u);
    for (VError code : raiser.Codes())
        EXPECT_EQ(code, VE_JSON_ARRAY_NOT_IN_USE);
    StUse use(array->GetStorageLocker().Get());
    EXPECT_TRUE(array->Push(VJSONValue(1.0)));
    EXPECT_TRUE(array->SetAt(0, VJSONValue(2.0)));
    EXPECT_EQ(array->GetAt(0).GetNumber(), 2.0);
}

TEST(VStorageLocker, SharedCyclesAreFreedLikeOthers) {
    test::StLiveCounters counters;
    {
        auto object = NewSharedObject();
        VRefPtr<VStorageLocker> locker = object->GetStorageLocker();
        StUse use(locker.Get());
        VJSONValue child(JSON_object);
        object->MakeValueSharedIfNecessary(child);
        ASSERT_TRUE(object->SetProperty("child", child));
        ASSERT_TRUE(child.GetObjectPtr()->SetProperty("parent", VJSONValue(object.Get())));
        EXPECT_TRUE(object->GetGraph()->IsShared());
        EXPECT_EQ(test::StLiveCounters::LiveObjects(), 2);
    }
    EXPECT_EQ(test::StLiveCounters::LiveObjects(), 0);
}

} // namespace
} // namespace vela
