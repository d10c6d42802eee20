#include "json/VJSONIter.h"

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

#include "JSONTestSupport.h"

#include <string>
#include <vector>

namespace vela {
namespace {

using test::TextOf;

VRefPtr<VJSONArray> ArrayOfIndexes(int count) {
    auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
    for (int i = 0; i < count; ++i)
        array->Push(VJSONValue(double(i)));
    return array;
}

std::vector<double> Walk(VJSONIter& iter) {
    std::vector<double> seen;
    VJSONValue value;
    while (iter.NextValue(value))
        seen.push_back(value.GetNumber());
    EXPECT_TRUE(value.IsUndefined()); // the end leaves undefined
    return seen;
}

TEST(VJSONIter, ArrayBoundsCountFromTheEndAndAreClipped) {
    struct Case {
        int32 start;
        int32 end;
        bool toEnd;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {-2, -1, false, {3}},
        {-2, -1, true, {3, 4}},
        {0, 5, false, {0, 1, 2, 3, 4}},
        {1, 3, false, {1, 2}},
        {0, 100, false, {0, 1, 2, 3, 4}}, // end capped at the size
        {-10, 2, false, {0, 1}},          // a start before the first element becomes 0
        {0, -10, false, {}},
        {3, 1, false, {}},
        {0, 0, true, {0, 1, 2, 3, 4}},
        {7, 0, true, {}},
        {INT32_MIN, INT32_MIN, true, {0, 1, 2, 3, 4}},
    };
    auto array = ArrayOfIndexes(5);
    for (const Case& c : cases) {
        VJSONIter iter(array.Get(), c.start, c.end, c.toEnd);
        EXPECT_EQ(Walk(iter), c.expected) << c.start << " " << c.end << " " << c.toEnd;
    }
}

TEST(VJSONIter, ArrayWalkStopsWhenTheArrayShrinks) {
    auto array = ArrayOfIndexes(5);
    VJSONIter iter(array.Get(), 0, 0, true);
    VJSONValue value;
    ASSERT_TRUE(iter.NextValue(value));
    ASSERT_TRUE(iter.NextValue(value));
    array->RemoveAt(1, 10);
    EXPECT_FALSE(iter.NextValue(value));
    EXPECT_TRUE(value.IsUndefined());
    array->Push(VJSONValue(7.0));
    array->Push(VJSONValue(8.0));
    ASSERT_TRUE(iter.NextValue(value)); // grown back past the place reached
    EXPECT_EQ(value.GetNumber(), 8.0);
}

TEST(VJSONIter, SharedArrayIsReadUnderAUseOfItsLocker) {
    auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray(true));
    VRefPtr<VStorageLocker> locker = array->GetStorageLocker();
    ASSERT_TRUE(locker->Use());
    array->Push(VJSONValue(1.0));
    array->Push(VJSONValue(2.0));
    locker->EndUse();
    VJSONIter iter(array.Get(), 0, 0, true);
    EXPECT_EQ(Walk(iter), (std::vector<double>{1, 2}));
    EXPECT_EQ(locker->GetUseCount(), 0);
    EXPECT_EQ(locker->GetOwner(), 0u);
}

TEST(VJSONIter, ObjectWalkGivesNamesInOrderOfAddition) {
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    object->SetProperty("a", VJSONValue(1.0));
    object->SetProperty("b", VJSONValue(2.0));
    object->SetProperty("c", VJSONValue(3.0));
    object->RemoveProperty("a");
    object->SetProperty("", VJSONValue(4.0));
    VJSONIter iter(object.Get(), 5, 1, false);    // bounds are not used for objects
    object->SetProperty("late", VJSONValue(5.0)); // names were taken at construction
    std::vector<std::u16string> names;
    VJSONValue value;
    while (iter.NextValue(value)) {
        EXPECT_TRUE(value.IsString());
        names.push_back(TextOf(value));
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"b", u"c", u""}));
    EXPECT_FALSE(iter.NextValue(value));
    EXPECT_TRUE(value.IsUndefined());
}

// Walks the array it was given instead of its object's names.
class VDelegatingImpl : public VObject, public IJSONObject {
public:
    explicit VDelegatingImpl(VJSONArray* array) : fArray(array) {}
    VJSONIter* IJSON_MakeIterator(const VJSONObject*, int32 start, int32 end, bool toEnd) override {
        fSeen = {start, end, toEnd ? 1 : 0};
        return new VJSONIter(fArray.Get(), start, end, toEnd);
    }
    VRefPtr<VJSONArray> fArray;
    std::vector<int32> fSeen;
};

TEST(VJSONIter, AnImplementationMayMakeTheWalk) {
    auto array = ArrayOfIndexes(4);
    auto implementation = VRefPtr<VDelegatingImpl>::Adopt(new VDelegatingImpl(array.Get()));
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get()));
    object->SetProperty("ignored", VJSONValue(1.0));
    VJSONIter iter(object.Get(), -3, -1, false);
    EXPECT_EQ(implementation->fSeen, (std::vector<int32>{-3, -1, 0}));
    EXPECT_EQ(Walk(iter), (std::vector<double>{1, 2}));
}

TEST(VJSONIter, AnIteratorServesAsAPlainImplementation) {
    auto array = ArrayOfIndexes(2);
    auto iter = VRefPtr<VJSONIter>::Adopt(new VJSONIter(array.Get(), 0, 0, true));
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, iter.Get()));
    EXPECT_TRUE(object->IsEmpty());
    object->SetProperty("x", VJSONValue(1.0));
    EXPECT_EQ(object->GetProperty("x").GetNumber(), 1.0);
    VString name;
    object->GetClassName(name);
    EXPECT_EQ(test::Units(name), u"Object");
    EXPECT_EQ(iter->GetRefCount(), 2);
    object = nullptr;
    EXPECT_EQ(iter->GetRefCount(), 1);
}

TEST(VJSONIter, NullSourcesGiveEmptyWalks) {
    VJSONIter overArray(static_cast<VJSONArray*>(nullptr), 0, 0, true);
    VJSONIter overObject(static_cast<VJSONObject*>(nullptr), 0, 0, true);
    VJSONValue value(1.0);
    EXPECT_FALSE(overArray.NextValue(value));
    EXPECT_FALSE(overObject.NextValue(value));
    EXPECT_TRUE(value.IsUndefined());
}

} // namespace
} // namespace vela
