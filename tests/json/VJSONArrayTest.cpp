#include "json/VJSONArray.h"

#include "support/RecordingRaiser.h"
#include "values/VCompareOptions.h"
#include "json/IJSONValueComparator.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONStamp.h"

#include "JSONTestSupport.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::TextOf;
using test::Units;

VRefPtr<VJSONArray> NewArray(std::initializer_list<VJSONValue> values = {}) {
    auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
    for (const VJSONValue& value : values)
        array->Push(value);
    return array;
}

std::vector<double> Numbers(const VJSONArray* array) {
    std::vector<double> numbers;
    for (size_t i = 0; i < array->GetCount(); ++i)
        numbers.push_back(array->GetAt(i).GetNumber());
    return numbers;
}

std::u16string TextOfRanges(const VJSONValue& result) {
    VJSONValue ranges = result.GetProperty("ranges");
    std::u16string text;
    for (size_t i = 0; i < ranges.GetArrayPtr()->GetCount(); ++i) {
        VJSONValue range = ranges.GetArrayPtr()->GetAt(i);
        text += u"[" + TextOf(range.GetProperty("start")) + u"," + TextOf(range.GetProperty("end")) + u"]";
    }
    return text;
}

TEST(VJSONArray, GetAtPastTheEndIsUndefined) {
    auto array = NewArray({VJSONValue(1.0)});
    EXPECT_TRUE(array->GetAt(1).IsUndefined());
    VJSONValue out(5.0);
    EXPECT_FALSE(array->GetAt(7, out));
    EXPECT_TRUE(out.IsUndefined());
    EXPECT_TRUE(array->GetAt(0, out));
    EXPECT_EQ(out.GetNumber(), 1.0);
}

TEST(VJSONArray, SetAtGrowsOnlyWhenAsked) {
    auto array = NewArray();
    EXPECT_TRUE(array->SetAt(5, VJSONValue(9.0), true));
    ASSERT_EQ(array->GetCount(), 6u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_TRUE(array->GetAt(i).IsUndefined());
    EXPECT_EQ(array->GetAt(5).GetNumber(), 9.0);

    test::RecordingRaiser raiser;
    EXPECT_FALSE(array->SetAt(6, VJSONValue(1.0)));
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_INDEX_PAST_END});
    EXPECT_EQ(array->GetCount(), 6u);
}

TEST(VJSONArray, SetAtWithAnImpossibleIndexFailsAndKeepsTheElements) {
    auto array = NewArray({VJSONValue(1.0), VJSONValue(2.0)});
    test::RecordingRaiser raiser;
    EXPECT_FALSE(array->SetAt(SIZE_MAX, VJSONValue(3.0), true));
    EXPECT_FALSE(array->Resize(SIZE_MAX / 2));
    EXPECT_EQ(raiser.Codes(), (std::vector<VError>{VE_MEMORY_FULL, VE_MEMORY_FULL}));
    EXPECT_EQ(Numbers(array.Get()), (std::vector<double>{1.0, 2.0}));
}

TEST(VJSONArray, RemoveAtClipsAtTheEnd) {
    struct Case {
        size_t index;
        size_t count;
        std::vector<double> left;
    } cases[] = {
        {2, 100, {0, 1}}, {4, 1, {0, 1, 2, 3}}, {1, 2, {0, 3}}, {0, 4, {}}, {3, 0, {0, 1, 2, 3}},
    };
    for (const Case& each : cases) {
        auto array = NewArray({VJSONValue(0.0), VJSONValue(1.0), VJSONValue(2.0), VJSONValue(3.0)});
        EXPECT_TRUE(array->RemoveAt(each.index, each.count));
        EXPECT_EQ(Numbers(array.Get()), each.left) << each.index << " " << each.count;
    }
}

TEST(VJSONArray, ResizeFillsWithFreshValues) {
    auto array = NewArray({VJSONValue(1.0)});
    ASSERT_TRUE(array->Resize(3, JSON_object));
    ASSERT_EQ(array->GetCount(), 3u);
    EXPECT_EQ(array->GetAt(0).GetNumber(), 1.0);
    ASSERT_TRUE(array->GetAt(1).IsObject());
    EXPECT_NE(array->GetAt(1).GetObjectPtr(), array->GetAt(2).GetObjectPtr());
    EXPECT_EQ(array->GetAt(1).GetObjectPtr()->GetGraph(), array->GetGraph());
    ASSERT_TRUE(array->Resize(1));
    EXPECT_EQ(Numbers(array.Get()), std::vector<double>{1.0});
    ASSERT_TRUE(array->Resize(2));
    EXPECT_TRUE(array->GetAt(1).IsNull());
}

TEST(VJSONArray, JoinAsStringKeepsEmptyAndNullOnlyWhenAsked) {
    auto array = NewArray({VJSONValue(1.0), VJSONValue(VString("")), VJSONValue(JSON_null), VJSONValue(VString("x")),
                           VJSONValue(JSON_undefined)});
    struct Case {
        bool keepEmpty;
        bool keepNull;
        std::u16string expected;
    } cases[] = {
        {false, false, u"1,x"},
        {true, false, u"1,,x"},
        {false, true, u"1,null,x,null"},
        {true, true, u"1,,null,x,null"},
    };
    for (const Case& each : cases) {
        VString out("old");
        array->JoinAsString(",", out, each.keepEmpty, each.keepNull);
        EXPECT_EQ(Units(out), each.expected);
    }
    VString out("old");
    NewArray()->JoinAsString(", ", out, true, true);
    EXPECT_EQ(Units(out), u"");
}

TEST(VJSONArray, SelectedRowsAreRunsOfMatchingElements) {
    auto array = NewArray({VJSONValue(10.0), VJSONValue(20.0), VJSONValue(30.0), VJSONValue(40.0)});
    struct Case {
        std::vector<double> selection;
        std::u16string ranges;
    } cases[] = {
        {{20, 30, 10}, u"[0,2]"},
        {{10, 40}, u"[0,0][3,3]"},
        {{40.0000001}, u"[3,3]"}, // within the tolerance
        {{}, u""},
        {{15}, u""},
    };
    for (const Case& each : cases) {
        auto selection = NewArray();
        for (double number : each.selection)
            selection->Push(VJSONValue(number));
        EXPECT_EQ(TextOfRanges(array->GetSelectedRows(VJSONValue(selection.Get()))), each.ranges);
    }
    EXPECT_EQ(TextOfRanges(array->GetSelectedRows(VJSONValue(10.0))), u""); // not an array: no range
}

TEST(VJSONArray, SelectedObjectsMatchByIdentity) {
    VJSONValue first(JSON_object);
    VJSONValue twin(JSON_object);
    auto array = NewArray({first, twin});
    auto selection = NewArray({first});
    EXPECT_EQ(TextOfRanges(array->GetSelectedRows(VJSONValue(selection.Get()))), u"[0,0]");
}

class VAscending : public IJSONValueComparator {
public:
    bool operator()(const VJSONValue& a, const VJSONValue& b) override { return a.GetNumber() < b.GetNumber(); }
};

TEST(VJSONArray, SortOrdersByTheComparator) {
    auto array = NewArray();
    std::vector<double> expected;
    std::mt19937 random(7);
    for (int i = 0; i < 500; ++i) {
        double number = double(random() % 100);
        array->Push(VJSONValue(number));
        expected.push_back(number);
    }
    VAscending ascending;
    ASSERT_TRUE(array->Sort(&ascending));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Numbers(array.Get()), expected);
    EXPECT_TRUE(NewArray()->Sort(&ascending));
}

// Answers at random, or always true: no order at all.
class VInconsistent : public IJSONValueComparator {
public:
    explicit VInconsistent(bool always) : fAlways(always) {}
    bool operator()(const VJSONValue&, const VJSONValue&) override { return fAlways || (fRandom() & 1) != 0; }

private:
    bool fAlways;
    std::mt19937 fRandom{42};
};

TEST(VJSONArray, SortStaysInBoundsWithAnInconsistentComparator) {
    for (bool always : {false, true}) {
        auto array = NewArray();
        for (int i = 0; i < 2000; ++i)
            array->Push(VJSONValue(double(i)));
        VInconsistent comparator(always);
        ASSERT_TRUE(array->Sort(&comparator));
        std::vector<double> numbers = Numbers(array.Get());
        std::sort(numbers.begin(), numbers.end());
        for (int i = 0; i < 2000; ++i)
            ASSERT_EQ(numbers[size_t(i)], double(i)); // the same elements, in some order
    }
}

// Grows the array it sorts, or throws.
class VMeddling : public IJSONValueComparator {
public:
    VMeddling(VJSONArray* array, bool throws) : fArray(array), fThrows(throws) {}
    bool operator()(const VJSONValue& a, const VJSONValue& b) override {
        if (fThrows) throw std::runtime_error("comparator failure");
        fArray->Push(VJSONValue(-1.0));
        return a.GetNumber() < b.GetNumber();
    }

private:
    VJSONArray* fArray;
    bool fThrows;
};

TEST(VJSONArray, SortFailsWith917WhenTheComparatorMeddles) {
    for (bool throws : {false, true}) {
        auto array = NewArray({VJSONValue(3.0), VJSONValue(1.0), VJSONValue(2.0)});
        VMeddling comparator(array.Get(), throws);
        test::RecordingRaiser raiser;
        EXPECT_FALSE(array->Sort(&comparator));
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_SORT_FAILED});
        std::vector<double> numbers = Numbers(array.Get());
        ASSERT_GE(numbers.size(), 3u);
        EXPECT_EQ(std::vector<double>(numbers.begin(), numbers.begin() + 3), (std::vector<double>{3.0, 1.0, 2.0}));
    }
}

TEST(VJSONArray, ConcatenateAppendsCopies) {
    auto array = NewArray({VJSONValue(1.0), VJSONValue(2.0)});
    auto other = NewArray({VJSONValue(3.0)});
    EXPECT_TRUE(array->Concatenate(*other));
    EXPECT_TRUE(array->Concatenate(*NewArray()));
    EXPECT_TRUE(array->Concatenate(*array));
    EXPECT_EQ(Numbers(array.Get()), (std::vector<double>{1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(Numbers(other.Get()), std::vector<double>{3.0});
}

TEST(VJSONArray, GetValuesAndSwapValues) {
    auto array = NewArray({VJSONValue(1.0), VJSONValue(2.0)});
    std::vector<VJSONValue> values;
    array->GetValues(values);
    ASSERT_EQ(values.size(), 2u);
    values.push_back(VJSONValue(3.0));
    ASSERT_TRUE(array->SwapValues(values));
    EXPECT_EQ(Numbers(array.Get()), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(values.size(), 2u);
}

TEST(VJSONArray, StampsOfElementsAndOfTheArray) {
    auto array = NewArray({VJSONValue(1.0)});
    auto stamps = VRefPtr<VJSONStamp>::Adopt(new VJSONStamp);
    array->SetJSONStamp(stamps.Get());
    uint32 first = array->GetStampAt(0);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(array->GetStampAt(1), 0u);
    array->TouchStampAt(0);
    EXPECT_GT(array->GetStampAt(0), first);
    array->Push(VJSONValue(2.0));
    array->SetAt(0, VJSONValue(3.0));
    array->RemoveAt(1);
    array->Clear();
    EXPECT_EQ(stamps->GetStamp(), 4u);
}

TEST(VJSONArray, DeepEqualComparesElementsInOrder) {
    VCompareOptions options;
    auto a = NewArray({VJSONValue(1.0), VJSONValue(JSON_null)});
    auto b = NewArray({VJSONValue(1.0), VJSONValue(JSON_null)});
    auto c = NewArray({VJSONValue(JSON_null), VJSONValue(1.0)});
    auto d = NewArray({VJSONValue(1.0), VJSONValue(JSON_undefined)});
    EXPECT_TRUE(a->DeepEqualTo(b.Get(), options));
    EXPECT_FALSE(a->DeepEqualTo(c.Get(), options));
    EXPECT_FALSE(a->DeepEqualTo(d.Get(), options));
}

} // namespace
} // namespace vela
