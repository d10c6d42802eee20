#include "json/VJSONGraph.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include "JSONTestSupport.h"

namespace vela {
namespace {

using test::StLiveCounters;

VJSONValue NewObject() {
    return VJSONValue(JSON_object);
}

VJSONObject* Obj(const VJSONValue& value) {
    return value.GetObjectPtr();
}

// Every test runs with the live counters on and must end with nothing alive.
class VJSONGraphTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
        EXPECT_EQ(StLiveCounters::LiveArrays(), 0);
    }
    StLiveCounters fCounters;
};

TEST_F(VJSONGraphTest, TreesFreeByCountsAlone) {
    {
        VJSONValue root = NewObject();
        VJSONValue child = NewObject();
        VJSONValue list(JSON_array);
        Obj(root)->SetProperty("child", child);
        Obj(child)->SetProperty("list", list);
        list.GetArrayPtr()->Push(NewObject());
        EXPECT_EQ(StLiveCounters::LiveObjects(), 3);
        VJSONGraph* graph = Obj(root)->GetGraph();
        ASSERT_NE(graph, nullptr);
        EXPECT_FALSE(graph->MayHoldCycles());
        EXPECT_EQ(graph->CountObjects(), 3);
        EXPECT_EQ(graph->CountArrays(), 1);
        EXPECT_EQ(graph->GetInternalReferences(), 3);
        // root: 1 outside; child: 1 outside + 1 inside; list: 1 outside + 1 inside; the pushed object: 1 inside.
        EXPECT_EQ(graph->GetTotalReferences(), 6);
    }
}

TEST_F(VJSONGraphTest, ObjectHoldingItselfIsFreedByItsLastHolder) {
    VJSONValue self = NewObject();
    Obj(self)->SetProperty("me", self);
    EXPECT_TRUE(Obj(self)->GetGraph()->MayHoldCycles());
    self.SetNull();
    EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
}

TEST_F(VJSONGraphTest, TwoObjectsReferringToEachOtherAreFreedWhenBothValuesGo) {
    VJSONValue a = NewObject();
    VJSONValue b = NewObject();
    Obj(a)->SetProperty("b", b);
    Obj(b)->SetProperty("a", a);
    a.SetNull();
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2); // b still holds a
    b.SetNull();
}

TEST_F(VJSONGraphTest, ReplacingTheOnlyReferenceToACycleFreesIt) {
    VJSONValue holder = NewObject();
    {
        VJSONValue b = NewObject();
        VJSONValue c = NewObject();
        Obj(b)->SetProperty("c", c);
        Obj(c)->SetProperty("b", b);
        Obj(holder)->SetProperty("cycle", b);
    }
    EXPECT_EQ(StLiveCounters::LiveObjects(), 3);
    Obj(holder)->SetProperty("cycle", VJSONValue(5.0));
    EXPECT_EQ(StLiveCounters::LiveObjects(), 1);
    EXPECT_EQ(Obj(holder)->GetProperty("cycle").GetNumber(), 5.0);
}

TEST_F(VJSONGraphTest, AnEdgeIsNotCountedTwiceWhenAPropertyIsReplaced) {
    // The caller holds A; A.p = B, A.r = B, B.q = A. Replacing A.p must leave A and B intact.
    VJSONValue a = NewObject();
    {
        VJSONValue b = NewObject();
        Obj(a)->SetProperty("p", b);
        Obj(a)->SetProperty("r", b);
        Obj(b)->SetProperty("q", a);
    }
    Obj(a)->SetProperty("p", VJSONValue(5.0));
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2);
    VJSONValue b = Obj(a)->GetProperty("r");
    ASSERT_TRUE(b.IsObject());
    EXPECT_EQ(Obj(b)->GetProperty("q").GetObjectPtr(), Obj(a));
    EXPECT_EQ(Obj(a)->GetProperty("p").GetNumber(), 5.0);
    b.SetNull();
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2);
    a.SetNull();
    EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
}

TEST_F(VJSONGraphTest, TheSameForAnArrayElement) {
    VJSONValue a(JSON_array);
    {
        VJSONValue b = NewObject();
        a.GetArrayPtr()->Push(b);
        a.GetArrayPtr()->Push(b);
        Obj(b)->SetProperty("q", a);
    }
    a.GetArrayPtr()->SetAt(0, VJSONValue(5.0));
    EXPECT_EQ(StLiveCounters::LiveObjects(), 1);
    EXPECT_EQ(StLiveCounters::LiveArrays(), 1);
    VJSONValue b = a.GetArrayPtr()->GetAt(1);
    ASSERT_TRUE(b.IsObject());
    EXPECT_EQ(Obj(b)->GetProperty("q").GetArrayPtr(), a.GetArrayPtr());
}

TEST_F(VJSONGraphTest, AReadValueKeepsTheCycleAliveUntilItGoes) {
    VJSONValue a = NewObject();
    VJSONValue b = NewObject();
    Obj(a)->SetProperty("b", b);
    Obj(b)->SetProperty("a", a);
    b.SetNull();
    VJSONValue read = Obj(a)->GetProperty("b");
    a.SetNull();
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2);
    EXPECT_TRUE(Obj(read)->GetProperty("a").IsObject());
    read.SetNull();
}

TEST_F(VJSONGraphTest, ALargeRingIsFreedByItsLastOutsideReference) {
    constexpr int kNodes = 20000;
    VJSONValue first = NewObject();
    {
        VJSONValue current = first;
        for (int i = 1; i < kNodes; ++i) {
            VJSONValue next(i % 2 == 0 ? JSON_object : JSON_array);
            if (current.IsObject()) {
                Obj(current)->SetProperty("next", next);
                Obj(current)->SetProperty("n", VJSONValue(double(i)));
            } else {
                current.GetArrayPtr()->Push(next);
            }
            current = next;
        }
        if (current.IsObject()) {
            Obj(current)->SetProperty("next", first);
        } else {
            current.GetArrayPtr()->Push(first);
        }
    }
    EXPECT_EQ(StLiveCounters::LiveObjects() + StLiveCounters::LiveArrays(), kNodes);
    VJSONGraph* graph = Obj(first)->GetGraph();
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->CountObjects() + graph->CountArrays(), kNodes);
    EXPECT_EQ(graph->GetTotalReferences(), graph->GetInternalReferences() + 1);
    first.SetNull();
}

TEST_F(VJSONGraphTest, ACycleBelowARemovedSubtreeIsFreedWhileTheRootStays) {
    VJSONValue root = NewObject();
    {
        VJSONValue subtree = NewObject();
        VJSONValue c = NewObject();
        VJSONValue d = NewObject();
        Obj(root)->SetProperty("sub", subtree);
        Obj(subtree)->SetProperty("c", c);
        Obj(c)->SetProperty("d", d);
        Obj(d)->SetProperty("c", c);
    }
    EXPECT_EQ(StLiveCounters::LiveObjects(), 4);
    Obj(root)->RemoveOwnProperty("sub");
    EXPECT_EQ(StLiveCounters::LiveObjects(), 1);
    Obj(root)->SetProperty("again", NewObject());
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2);
}

TEST_F(VJSONGraphTest, ClearingAnObjectFreesTheCyclesItHeld) {
    VJSONValue root = NewObject();
    VJSONValue keep = NewObject();
    Obj(root)->SetProperty("keep", keep);
    for (int i = 0; i < 3; ++i) {
        VJSONValue looped = NewObject();
        Obj(looped)->SetProperty("self", looped);
        Obj(root)->SetProperty(i == 0 ? "a" : (i == 1 ? "b" : "c"), looped);
    }
    EXPECT_EQ(StLiveCounters::LiveObjects(), 5);
    Obj(root)->ClearInternalProperties();
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2); // root and keep (still held by the test)
    EXPECT_EQ(Obj(root)->GetPropertyCount(), 0u);
}

TEST_F(VJSONGraphTest, RemovingArrayElementsFreesTheirCycles) {
    VJSONValue array(JSON_array);
    for (int i = 0; i < 4; ++i) {
        VJSONValue looped = NewObject();
        Obj(looped)->SetProperty("self", looped);
        array.GetArrayPtr()->Push(looped);
    }
    EXPECT_EQ(StLiveCounters::LiveObjects(), 4);
    array.GetArrayPtr()->RemoveAt(1, 2);
    EXPECT_EQ(StLiveCounters::LiveObjects(), 2);
    array.GetArrayPtr()->Clear();
    EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
    EXPECT_EQ(StLiveCounters::LiveArrays(), 1);
}

TEST_F(VJSONGraphTest, SwappedOutElementsStayIntactInTheCallersHands) {
    VJSONValue array(JSON_array);
    {
        VJSONValue looped = NewObject();
        Obj(looped)->SetProperty("self", looped);
        array.GetArrayPtr()->Push(looped);
    }
    std::vector<VJSONValue> values{VJSONValue(1.0)};
    ASSERT_TRUE(array.GetArrayPtr()->SwapValues(values));
    ASSERT_EQ(values.size(), 1u);
    ASSERT_TRUE(values[0].IsObject());
    EXPECT_EQ(Obj(values[0])->GetProperty("self").GetObjectPtr(), Obj(values[0]));
    EXPECT_EQ(array.GetArrayPtr()->GetAt(0).GetNumber(), 1.0);
    values.clear();
    array.SetNull();
}

TEST_F(VJSONGraphTest, SeparateGraphsMergeIntoOne) {
    VJSONValue left = NewObject();
    VJSONValue right = NewObject();
    for (int i = 0; i < 5; ++i) {
        Obj(left)->SetProperty(VString::ToString(i), NewObject());
        Obj(right)->SetProperty(VString::ToString(i), NewObject());
    }
    EXPECT_NE(Obj(left)->GetGraph(), Obj(right)->GetGraph());
    Obj(left)->SetProperty("right", right);
    VJSONGraph* graph = Obj(left)->GetGraph();
    EXPECT_EQ(Obj(right)->GetGraph(), graph);
    EXPECT_EQ(graph->CountObjects(), 12);
    EXPECT_EQ(graph->GetInternalReferences(), 11);
    Obj(right)->SetProperty("left", left); // closes a loop: the merged graph may hold cycles
    EXPECT_TRUE(graph->MayHoldCycles());
}

TEST_F(VJSONGraphTest, LongChainsAreFreedWithoutDeepRecursion) {
    constexpr int kDepth = 200000;
    VJSONValue head = NewObject();
    {
        VJSONValue current = head;
        for (int i = 0; i < kDepth; ++i) {
            VJSONValue next(i % 3 == 0 ? JSON_array : JSON_object);
            if (current.IsObject()) {
                Obj(current)->SetProperty("next", next);
            } else {
                current.GetArrayPtr()->Push(next);
            }
            current = std::move(next);
        }
    }
    EXPECT_EQ(StLiveCounters::LiveObjects() + StLiveCounters::LiveArrays(), kDepth + 1);
    head.SetNull();
}

TEST_F(VJSONGraphTest, ImplementationPropertiesCountAsHeldFromInside) {
    VJSONValue owner = NewObject();
    VJSONValue kept = NewObject();
    Obj(kept)->SetProperty("owner", owner);
    Obj(owner)->ConnectImplementationProperty(kept);
    EXPECT_EQ(Obj(kept)->GetIncomingReferences(), 1);
    EXPECT_EQ(Obj(owner)->GetGraph(), Obj(kept)->GetGraph());
    Obj(owner)->DisconnectImplementationProperty(kept);
    EXPECT_EQ(Obj(kept)->GetIncomingReferences(), 0);
}

} // namespace
} // namespace vela
