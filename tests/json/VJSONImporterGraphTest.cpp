// The tree the importer reads must carry the same reference graph as the same tree built by hand, property by
// property and element by element: same members, counts and flags, and nothing left alive once it is released.

#include "json/VJSONImporter.h"

#include "json/VJSONArray.h"
#include "json/VJSONGraph.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"

#include "JSONTestSupport.h"
#include "JSONTextTestSupport.h"

#include <set>
#include <string>

namespace vela {
namespace {

using test::StLiveCounters;
using test::Text;

// A copy of value's tree made with SetProperty and Push.
VJSONValue Rebuild(const VJSONValue& value) {
    if (VJSONObject* object = value.GetObjectPtr(); object != nullptr) {
        VJSONValue copy(JSON_object);
        for (size_t i = 0; i < object->GetPropertyCount(); ++i) {
            VString name;
            object->GetPropertyNameAt(i, name);
            copy.GetObjectPtr()->SetProperty(name, Rebuild(object->GetOwnProperty(name)));
        }
        return copy;
    }
    if (VJSONArray* array = value.GetArrayPtr(); array != nullptr) {
        VJSONValue copy(JSON_array);
        for (size_t i = 0; i < array->GetCount(); ++i)
            copy.GetArrayPtr()->Push(Rebuild(array->GetAt(i)));
        return copy;
    }
    return value;
}

// The graph facts of a tree: per node in walk order its kind, whether it has a graph, its incoming references and
// reference count; then the counts and flags of the one graph all nodes share ("mixed" when they do not).
struct Shape {
    std::string fNodes;
    std::set<const VJSONGraph*> fGraphs;

    void Walk(const VJSONValue& value) {
        VJSONObject* object = value.GetObjectPtr();
        VJSONArray* array = value.GetArrayPtr();
        if (object == nullptr && array == nullptr) return;
        const VJSONGraph* graph = object != nullptr ? object->GetGraph() : array->GetGraph();
        int32 incoming = object != nullptr ? object->GetIncomingReferences() : array->GetIncomingReferences();
        // The walk's own copies hold one reference each; they are not counted.
        int32 count = (object != nullptr ? object->GetRefCount() : array->GetRefCount()) - 1;
        fNodes += (object != nullptr ? "O" : "A") + std::to_string(graph != nullptr) + "," + std::to_string(incoming) +
                  "," + std::to_string(count) + " ";
        if (graph != nullptr) fGraphs.insert(graph);
        if (object != nullptr) {
            for (size_t i = 0; i < object->GetPropertyCount(); ++i) {
                VString name;
                object->GetPropertyNameAt(i, name);
                Walk(object->GetOwnProperty(name));
            }
        } else {
            for (size_t i = 0; i < array->GetCount(); ++i)
                Walk(array->GetAt(i));
        }
    }

    static std::string Of(const VJSONValue& value, bool withShared = true) {
        Shape shape;
        shape.Walk(value);
        std::string text = shape.fNodes;
        if (shape.fGraphs.size() > 1) return text + "mixed";
        if (shape.fGraphs.empty()) return text + "no graph";
        const VJSONGraph* graph = *shape.fGraphs.begin();
        // The root's holder is the one reference from outside the graph; the walk's copies add to the total.
        text += "objects " + std::to_string(graph->CountObjects()) + " arrays " + std::to_string(graph->CountArrays()) +
                " internal " + std::to_string(graph->GetInternalReferences()) + " cycles " +
                std::to_string(graph->MayHoldCycles());
        if (withShared) text += " shared " + std::to_string(graph->IsShared());
        return text;
    }
};

class VJSONImporterGraphTest : public test::JSONTextFixture {};

TEST_F(VJSONImporterGraphTest, ReadTreeHasTheGraphOfTheSameTreeBuiltByHand) {
    struct Case {
        std::u16string text;
        bool fails;
    };
    const Case cases[] = {
        {u"{}", false},
        {u"[1,\"a\",null,{}]", false},
        {u"{\"a\":[{\"b\":1}],\"c\":{}}", false},
        {u"[[[]],[{}],{\"x\":[1,{\"y\":[]}]},[]]", false},
        // A repeated name drops the earlier subtree, which never stays in the graph.
        {u"{\"a\":{\"x\":[1,{}]},\"b\":[],\"a\":{\"y\":{}}}", false},
        // A failure keeps what was read; the subtree being read when it failed is dropped.
        {u"{\"a\":[{\"b\":1}],\"c\":{\"d\":[{},", true},
        {u"[{\"a\":[]},[{\"b\":{\"c\":[1,}", true},
    };
    for (const Case& c : cases) {
        StLiveCounters live;
        {
            VJSONValue read;
            EXPECT_EQ(Parse(c.text, read), c.fails ? VE_JSON_MALFORMED : VE_OK);
            const std::string shape = Shape::Of(read);
            EXPECT_EQ(shape.find("cycles 1"), std::string::npos) << shape;
            int32 objects = StLiveCounters::LiveObjects();
            int32 arrays = StLiveCounters::LiveArrays();
            VJSONValue built = Rebuild(read);
            EXPECT_EQ(shape, Shape::Of(built));
            // Nothing but the tree itself is alive: dropped subtrees are gone.
            EXPECT_EQ(StLiveCounters::LiveObjects(), 2 * objects);
            EXPECT_EQ(StLiveCounters::LiveArrays(), 2 * arrays);

            // Under a shared locker the graph is the same, marked shared when there is one.
            VJSONValue shared;
            EXPECT_EQ(Parse(c.text, shared, VJSONImporter::kSharedLocker), c.fails ? VE_JSON_MALFORMED : VE_OK);
            EXPECT_EQ(Shape::Of(shared, false), Shape::Of(read, false));
            if (const VJSONObject* root = shared.GetObjectPtr(); root != nullptr && root->GetGraph() != nullptr) {
                EXPECT_TRUE(root->GetGraph()->IsShared());
            }
        }
        EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
        EXPECT_EQ(StLiveCounters::LiveArrays(), 0);
    }
}

TEST_F(VJSONImporterGraphTest, ReadTreeBehavesAsAnyTreeWhenChangedAfterwards) {
    // Cutting a subtree off and closing a cycle work on the read tree as on a built one.
    StLiveCounters live;
    {
        VJSONValue read;
        ASSERT_EQ(Parse(u"{\"keep\":{\"x\":[1]},\"drop\":[{\"y\":{}},[]]}", read), VE_OK);
        VJSONObject* root = read.GetObjectPtr();
        root->RemoveProperty(Text(u"drop"));
        EXPECT_EQ(StLiveCounters::LiveObjects(), 2);
        EXPECT_EQ(StLiveCounters::LiveArrays(), 1);
        VJSONValue keep = root->GetProperty(Text(u"keep"));
        keep.GetObjectPtr()->SetProperty(Text(u"back"), read);
        EXPECT_TRUE(root->GetGraph()->MayHoldCycles());
    }
    EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
    EXPECT_EQ(StLiveCounters::LiveArrays(), 0);
}

} // namespace
} // namespace vela
