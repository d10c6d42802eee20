#include "json/VJSONCloner.h"

#include "support/RecordingRaiser.h"
#include "values/VCompareOptions.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

#include "JSONTestSupport.h"

#include <string>
#include <vector>

namespace vela {
namespace {

using test::StLiveCounters;
using test::TextOf;
using test::Units;

VJSONObject* Obj(const VJSONValue& value) {
    return value.GetObjectPtr();
}

VJSONArray* Arr(const VJSONValue& value) {
    return value.GetArrayPtr();
}

const void* NodeOf(const VJSONValue& value) {
    if (value.IsObject()) return Obj(value);
    return Arr(value);
}

std::vector<std::u16string> Names(const VJSONObject* object) {
    std::vector<std::u16string> names;
    for (VJSONPropertyConstOrderedIterator it(object, 0); it.IsValid(); ++it)
        names.push_back(Units(it.GetName()));
    return names;
}

bool DeepEqual(const VJSONValue& a, const VJSONValue& b) {
    VCompareOptions options;
    return a.DeepEqualTo(b, options);
}

// {"name": "n", "count": 2, "flag": true, "inner": {"x": 1}, "list": [1, "two", {"y": 3}]}
VJSONValue MakeSample() {
    VJSONValue root(JSON_object);
    Obj(root)->SetProperty("name", VJSONValue(VString("n")));
    Obj(root)->SetProperty("count", VJSONValue(2.0));
    Obj(root)->SetProperty("flag", VJSONValue(JSON_true));
    VJSONValue inner(JSON_object);
    Obj(inner)->SetProperty("x", VJSONValue(1.0));
    Obj(root)->SetProperty("inner", inner);
    VJSONValue list(JSON_array);
    Arr(list)->Push(VJSONValue(1.0));
    Arr(list)->Push(VJSONValue(VString("two")));
    VJSONValue last(JSON_object);
    Obj(last)->SetProperty("y", VJSONValue(3.0));
    Arr(list)->Push(last);
    Obj(root)->SetProperty("list", list);
    return root;
}

// Every test counts the objects and arrays it makes and must end with none alive: copies of cycles included.
class VJSONClonerTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
        EXPECT_EQ(StLiveCounters::LiveArrays(), 0);
    }
    StLiveCounters fCounters;
};

TEST_F(VJSONClonerTest, DeepCopyIsEqualInOrderAndSharesNoNode) {
    VJSONValue source = MakeSample();
    VJSONValue copy = source;
    {
        VJSONCloner cloner;
        ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    }
    ASSERT_TRUE(copy.IsObject());
    EXPECT_NE(Obj(copy), Obj(source));
    EXPECT_TRUE(DeepEqual(copy, source));
    EXPECT_EQ(Names(Obj(copy)), (std::vector<std::u16string>{u"name", u"count", u"flag", u"inner", u"list"}));
    VJSONValue inner = Obj(copy)->GetProperty("inner");
    VJSONValue list = Obj(copy)->GetProperty("list");
    EXPECT_NE(Obj(inner), Obj(Obj(source)->GetProperty("inner")));
    EXPECT_NE(Arr(list), Arr(Obj(source)->GetProperty("list")));
    EXPECT_NE(Obj(Arr(list)->GetAt(2)), Obj(Arr(Obj(source)->GetProperty("list"))->GetAt(2)));

    // Changing the copy leaves the source alone.
    Obj(inner)->SetProperty("x", VJSONValue(10.0));
    Arr(list)->Push(VJSONValue(4.0));
    EXPECT_EQ(Obj(Obj(source)->GetProperty("inner"))->GetProperty("x").GetNumber(), 1.0);
    EXPECT_EQ(Arr(Obj(source)->GetProperty("list"))->GetCount(), 3u);
}

TEST_F(VJSONClonerTest, ScalarsStayAndNullNodesGiveUndefined) {
    VJSONCloner cloner;
    VJSONValue values[] = {VJSONValue(JSON_null), VJSONValue(JSON_true), VJSONValue(2.5), VJSONValue(VString("s")),
                           VJSONValue(JSON_undefined)};
    for (VJSONValue& value : values) {
        VJSONValue before = value;
        EXPECT_EQ(cloner.CloneValue(value), VE_OK);
        EXPECT_EQ(value.GetType(), before.GetType());
        EXPECT_EQ(TextOf(value), TextOf(before));
    }
    VJSONValue out(1.0);
    EXPECT_EQ(cloner.CloneObject(nullptr, out), VE_OK);
    EXPECT_TRUE(out.IsUndefined());
    out.SetNumber(1.0);
    EXPECT_EQ(cloner.CloneArray(nullptr, out), VE_OK);
    EXPECT_TRUE(out.IsUndefined());
}

TEST_F(VJSONClonerTest, NodeMetTwiceIsCopiedOnce) {
    VJSONValue shared(JSON_object);
    Obj(shared)->SetProperty("v", VJSONValue(1.0));
    VJSONValue source(JSON_array);
    Arr(source)->Push(shared);
    Arr(source)->Push(shared);
    VJSONValue copy = source;
    VJSONCloner cloner;
    ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    VJSONObject* first = Obj(Arr(copy)->GetAt(0));
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, Obj(shared));
    EXPECT_EQ(Obj(Arr(copy)->GetAt(1)), first);

    // The cloner remembers across calls: the same node cloned again answers the same copy.
    VJSONValue again = shared;
    ASSERT_EQ(cloner.CloneValue(again), VE_OK);
    EXPECT_EQ(Obj(again), first);
}

TEST_F(VJSONClonerTest, CyclesCloseOnTheCopy) {
    {
        VJSONValue array(JSON_array);
        Arr(array)->Push(VJSONValue(1.0));
        Arr(array)->Push(array);
        VJSONValue copy = array;
        VJSONCloner cloner;
        ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
        EXPECT_NE(Arr(copy), Arr(array));
        EXPECT_EQ(Arr(Arr(copy)->GetAt(1)), Arr(copy));
        EXPECT_EQ(Arr(copy)->GetAt(0).GetNumber(), 1.0);
    }
    {
        // a.b.a through an object and an array, cloned by a direct call on the object.
        VJSONValue a(JSON_object);
        VJSONValue b(JSON_array);
        Obj(a)->SetProperty("b", b);
        Arr(b)->Push(a);
        VJSONValue copy;
        VJSONCloner cloner;
        ASSERT_EQ(Obj(a)->Clone(copy, cloner), VE_OK);
        ASSERT_TRUE(copy.IsObject());
        VJSONValue copyB = Obj(copy)->GetProperty("b");
        ASSERT_TRUE(copyB.IsArray());
        EXPECT_NE(Arr(copyB), Arr(b));
        EXPECT_EQ(Obj(Arr(copyB)->GetAt(0)), Obj(copy));
    }
}

// A chain of depth nodes, objects and arrays in turn, each holding the next ("next" or element 0).
VJSONValue MakeChain(int depth) {
    VJSONValue root(JSON_object);
    VJSONValue current = root;
    for (int i = 1; i < depth; ++i) {
        VJSONValue next(i % 2 == 0 ? JSON_object : JSON_array);
        if (current.IsObject()) {
            Obj(current)->SetProperty("next", next);
        } else {
            Arr(current)->Push(next);
        }
        current = std::move(next);
    }
    return root;
}

VJSONValue NextInChain(const VJSONValue& node) {
    return node.IsObject() ? Obj(node)->GetProperty("next") : Arr(node)->GetAt(0);
}

TEST_F(VJSONClonerTest, DeepChainsAreCopiedWithoutDeepRecursion) {
    // Deep enough to overflow the stack of a copy that recursed once per level.
    constexpr int kDepth = 100000;
    VJSONValue root = MakeChain(kDepth);
    VJSONValue copy = root;
    {
        VJSONCloner cloner;
        ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    }
    EXPECT_EQ(StLiveCounters::LiveObjects() + StLiveCounters::LiveArrays(), 2 * kDepth);
    int depth = 1;
    for (VJSONValue walk = copy, source = root;; ++depth) {
        ASSERT_EQ(walk.GetType(), source.GetType());
        ASSERT_NE(NodeOf(walk), NodeOf(source));
        VJSONValue next = NextInChain(walk);
        VJSONValue sourceNext = NextInChain(source);
        if (next.IsUndefined() && sourceNext.IsUndefined()) break;
        walk = std::move(next);
        source = std::move(sourceNext);
    }
    EXPECT_EQ(depth, kDepth);
}

TEST_F(VJSONClonerTest, DeepLockedCopiesAllGetTheLocker) {
    constexpr int kDepth = 500; // past the levels filled at once
    VJSONValue copy = MakeChain(kDepth);
    VJSONCloner cloner(VJSONCloner::eLockCopies);
    ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    const int32 id = Obj(copy)->GetSharedID();
    ASSERT_NE(id, 0);
    int depth = 0;
    for (VJSONValue walk = copy; !walk.IsUndefined(); walk = NextInChain(walk), ++depth)
        ASSERT_EQ(walk.IsObject() ? Obj(walk)->GetSharedID() : Arr(walk)->GetSharedID(), id) << depth;
    EXPECT_EQ(depth, kDepth);
}

TEST_F(VJSONClonerTest, NodesHeldOnlyByTheirContainersKeepTheirSharing) {
    // a -> {x: [b]}, b -> {back: a, again: s}, and s also held by a: no value of the test holds b or s.
    VJSONValue a(JSON_object);
    {
        VJSONValue list(JSON_array);
        VJSONValue b(JSON_object);
        VJSONValue s(JSON_object);
        Arr(list)->Push(b);
        Obj(a)->SetProperty("x", list);
        Obj(b)->SetProperty("back", a);
        Obj(b)->SetProperty("again", s);
        Obj(a)->SetProperty("s", s);
    }
    VJSONValue copy = a;
    VJSONCloner cloner;
    ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    VJSONValue copyB = Arr(Obj(copy)->GetProperty("x"))->GetAt(0);
    ASSERT_TRUE(copyB.IsObject());
    EXPECT_EQ(Obj(Obj(copyB)->GetProperty("back")), Obj(copy));
    VJSONValue copyS = Obj(copy)->GetProperty("s");
    ASSERT_TRUE(copyS.IsObject());
    EXPECT_NE(Obj(copyS), Obj(Obj(a)->GetProperty("s")));
    EXPECT_EQ(Obj(Obj(copyB)->GetProperty("again")), Obj(copyS));
}

TEST_F(VJSONClonerTest, KeepSharedModeReturnsSharedNodesThemselves) {
    VJSONValue sharedArray(VRefPtr<VJSONArray>::Adopt(new VJSONArray(true)).Get());
    VJSONValue sharedObject(VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true)).Get());
    VJSONValue plain(JSON_object);
    VJSONValue holder(JSON_array);
    Arr(holder)->Push(plain);
    Arr(holder)->Push(sharedObject);

    VJSONCloner keep(VJSONCloner::eKeepShared);
    VJSONValue out;
    ASSERT_EQ(keep.CloneArray(Arr(sharedArray), out), VE_OK);
    EXPECT_EQ(Arr(out), Arr(sharedArray));
    VJSONValue copy = holder;
    ASSERT_EQ(keep.CloneValue(copy), VE_OK);
    EXPECT_NE(Arr(copy), Arr(holder));
    EXPECT_NE(Obj(Arr(copy)->GetAt(0)), Obj(plain));
    EXPECT_EQ(Obj(Arr(copy)->GetAt(1)), Obj(sharedObject));

    // A plain copy copies shared nodes too, without their locker.
    VJSONCloner plainCloner;
    ASSERT_EQ(plainCloner.CloneArray(Arr(sharedArray), out), VE_OK);
    EXPECT_NE(Arr(out), Arr(sharedArray));
    EXPECT_EQ(Arr(out)->GetSharedID(), 0);
}

TEST_F(VJSONClonerTest, LockCopiesModePutsEveryCopyUnderOneLocker) {
    VJSONValue source = MakeSample();
    VJSONCloner cloner(VJSONCloner::eLockCopies);
    VJSONValue copy = source;
    ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    EXPECT_TRUE(DeepEqual(copy, source));
    VStorageLocker* locker = cloner.GetStorageLocker();
    ASSERT_NE(locker, nullptr);
    int32 id = Obj(copy)->GetSharedID();
    EXPECT_NE(id, 0);
    VJSONValue inner = Obj(copy)->GetProperty("inner");
    VJSONValue list = Obj(copy)->GetProperty("list");
    EXPECT_EQ(Obj(inner)->GetSharedID(), id);
    EXPECT_EQ(Arr(list)->GetSharedID(), id);
    EXPECT_EQ(Obj(Arr(list)->GetAt(2))->GetSharedID(), id);
    EXPECT_EQ(Obj(inner)->GetStorageLocker().Get(), locker);
    EXPECT_EQ(locker->GetUseCount(), 0); // the copy gave its uses back
}

TEST_F(VJSONClonerTest, LockedCopyLeavesOutTheReservedLockerName) {
    // On a plain object "__LockerID" is an ordinary name; a shared copy cannot hold it.
    VJSONValue source(JSON_object);
    Obj(source)->SetProperty("__LockerID", VJSONValue(5.0));
    Obj(source)->SetProperty("kept", VJSONValue(6.0));
    VJSONCloner cloner(VJSONCloner::eLockCopies);
    VJSONValue copy = source;
    test::RecordingRaiser raiser;
    ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    EXPECT_TRUE(raiser.Codes().empty());
    EXPECT_EQ(Obj(copy)->GetProperty("kept").GetNumber(), 6.0);
    EXPECT_EQ(Obj(copy)->GetPropertyCount(), 1u);
}

TEST_F(VJSONClonerTest, StorageLockerIsMadeOnceThenNoLongerFresh) {
    VJSONCloner cloner;
    EXPECT_EQ(cloner.GetStorageLocker(), nullptr);
    VStorageLocker* locker = cloner.GetStorageLockerAndAssignIfNecessary();
    ASSERT_NE(locker, nullptr);
    EXPECT_TRUE(locker->IsFresh());
    EXPECT_EQ(cloner.GetStorageLockerAndAssignIfNecessary(), locker);
    EXPECT_FALSE(locker->IsFresh());

    auto other = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
    cloner.SetStorageLocker(other.Get());
    EXPECT_EQ(cloner.GetStorageLocker(), other.Get());
    EXPECT_EQ(other->GetRefCount(), 2);
    cloner.SetStorageLocker(nullptr);
    EXPECT_EQ(other->GetRefCount(), 1);
}

TEST_F(VJSONClonerTest, CopiesOfASharedSourceAreReadUnderItsLocker) {
    auto shared = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
    VStorageLocker* locker = shared->GetStorageLocker().Get();
    ASSERT_TRUE(locker->Use());
    shared->SetProperty("a", VJSONValue(1.0));
    locker->EndUse();
    VJSONValue copy;
    VJSONCloner cloner;
    ASSERT_EQ(cloner.CloneObject(shared.Get(), copy), VE_OK);
    EXPECT_EQ(Obj(copy)->GetProperty("a").GetNumber(), 1.0);
    EXPECT_EQ(Obj(copy)->GetSharedID(), 0);
}

TEST_F(VJSONClonerTest, ClonerKeepsItsSourcesAliveUntilItGoes) {
    VJSONCloner* cloner = new VJSONCloner;
    {
        VJSONValue source(JSON_object);
        VJSONValue copy = source;
        ASSERT_EQ(cloner->CloneValue(copy), VE_OK);
    }
    // A source address is the cloner's key: it must not be reused by another node while the cloner lives.
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2);
    delete cloner;
    EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
}

TEST_F(VJSONClonerTest, ClonePropertiesReplacesTheTargetsProperties) {
    VJSONValue source = MakeSample();
    VJSONValue target(JSON_object);
    Obj(target)->SetProperty("old", VJSONValue(1.0));
    VJSONCloner cloner;
    ASSERT_EQ(Obj(source)->CloneProperties(cloner, Obj(target)), VE_OK);
    EXPECT_TRUE(DeepEqual(target, source));
    EXPECT_FALSE(Obj(target)->HasOwnProperty("old"));

    // Into itself: every property is replaced by its copy.
    VJSONValue inner = Obj(source)->GetProperty("inner");
    VJSONCloner second;
    ASSERT_EQ(Obj(source)->CloneProperties(second, Obj(source)), VE_OK);
    EXPECT_TRUE(DeepEqual(target, source));
    EXPECT_NE(Obj(Obj(source)->GetProperty("inner")), Obj(inner));
    EXPECT_EQ(Names(Obj(source)), Names(Obj(target)));
}

// ---- Implementations and cloning

// Tags its objects; copies itself with the tag plus one, makes the whole copy, fails, or does nothing, as asked.
class VCloneImpl : public VObject, public IJSONObject {
public:
    enum EHow { eCopyImpl, eWholeCopy, eFail, eNothing };
    VCloneImpl(EHow how, int tag) : fHow(how), fTag(tag) {}

    EJSONStatus IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>& out, VError* err) override {
        if (fHow == eCopyImpl) {
            out = VRefPtr<IJSONObject>::Adopt(new VCloneImpl(fHow, fTag + 1));
            return EJSONStatus_done;
        }
        if (fHow == eFail) {
            *err = VE_INVALID_PARAMETER;
            return EJSONStatus_failed;
        }
        return EJSONStatus_notHandled;
    }
    EJSONStatus IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*) override {
        if (fHow != eWholeCopy) return EJSONStatus_notHandled;
        out = VJSONValue(VString("made by the implementation"));
        return EJSONStatus_done;
    }

    EHow fHow;
    int fTag;
};

VJSONValue ObjectWith(VCloneImpl::EHow how) {
    auto implementation = VRefPtr<VCloneImpl>::Adopt(new VCloneImpl(how, 1));
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get()));
    object->SetOwnProperty("p", VJSONValue(7.0));
    return VJSONValue(object.Get());
}

TEST_F(VJSONClonerTest, ImplementationsTakePartInTheCopy) {
    VJSONCloner cloner;
    {
        VJSONValue source = ObjectWith(VCloneImpl::eCopyImpl);
        VJSONValue copy = source;
        ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
        auto* implementation = dynamic_cast<VCloneImpl*>(Obj(copy)->GetImplementation());
        ASSERT_NE(implementation, nullptr);
        EXPECT_NE(implementation, Obj(source)->GetImplementation());
        EXPECT_EQ(implementation->fTag, 2);
        EXPECT_EQ(Obj(copy)->GetOwnProperty("p").GetNumber(), 7.0);
    }
    {
        VJSONValue source = ObjectWith(VCloneImpl::eWholeCopy);
        VJSONValue copy = source;
        ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
        EXPECT_EQ(TextOf(copy), u"made by the implementation");
    }
    {
        // Neither hook copies: a plain object with the same properties.
        VJSONValue source = ObjectWith(VCloneImpl::eNothing);
        VJSONValue copy = source;
        ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
        ASSERT_TRUE(copy.IsObject());
        EXPECT_NE(Obj(copy), Obj(source));
        EXPECT_EQ(Obj(copy)->GetImplementation(), nullptr);
        EXPECT_EQ(Obj(copy)->GetOwnProperty("p").GetNumber(), 7.0);
    }
}

// While its object is copied, stores a property on the copy under way of another node (fetched from the cloner).
class VTamperingImpl : public VObject, public IJSONObject {
public:
    explicit VTamperingImpl(const VJSONObject* victim) : fVictim(victim) {}

    EJSONStatus IJSON_CloneImpl(const VJSONObject*, VJSONCloner& cloner, VRefPtr<IJSONObject>&, VError*) override {
        VJSONValue copy;
        if (cloner.CloneObject(fVictim, copy) == VE_OK && copy.IsObject())
            Obj(copy)->SetOwnProperty("late", VJSONValue(VString("from the hook")));
        return EJSONStatus_notHandled;
    }

    const VJSONObject* fVictim;
};

TEST_F(VJSONClonerTest, NameAHookStoredOnTheCopyIsReplacedNotRepeated) {
    VJSONValue source(JSON_object);
    auto implementation = VRefPtr<VTamperingImpl>::Adopt(new VTamperingImpl(Obj(source)));
    auto child = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get()));
    Obj(source)->SetOwnProperty("child", VJSONValue(child.Get()));
    Obj(source)->SetOwnProperty("late", VJSONValue(2.0));
    VJSONValue copy = source;
    {
        VJSONCloner cloner;
        ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    }
    ASSERT_TRUE(copy.IsObject());
    // The hook ran while the child was copied, before the child was stored: its name came first.
    EXPECT_EQ(Names(Obj(copy)), (std::vector<std::u16string>{u"late", u"child"}));
    EXPECT_EQ(Obj(copy)->GetOwnProperty("late").GetNumber(), 2.0);
}

TEST_F(VJSONClonerTest, FirstFailureStopsTheCopy) {
    // The list is held by the root and by this test, then by the root alone: both ways of copying it stop at the
    // failing element.
    for (bool alsoHeldHere : {true, false}) {
        VJSONValue root(JSON_object);
        VJSONValue list(JSON_array);
        Arr(list)->Push(VJSONValue(1.0));
        Arr(list)->Push(ObjectWith(VCloneImpl::eFail));
        Arr(list)->Push(VJSONValue(3.0));
        Obj(root)->SetProperty("list", list);
        if (!alsoHeldHere) list.SetNull();
        VJSONValue copy = root;
        VJSONCloner cloner;
        EXPECT_EQ(cloner.CloneValue(copy), VE_INVALID_PARAMETER);
        VJSONValue copiedList;
        if (alsoHeldHere) {
            ASSERT_EQ(cloner.CloneArray(Arr(list), copiedList), VE_OK); // the copy begun, remembered
        } else {
            copiedList = Obj(copy)->GetProperty("list");
        }
        ASSERT_TRUE(copiedList.IsArray());
        EXPECT_EQ(Arr(copiedList)->GetCount(), 1u);
    }
}

} // namespace
} // namespace vela
