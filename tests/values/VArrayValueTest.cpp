#include "values/VArrayValues.h"

#include "core/VCppMemMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

namespace vela {
namespace {

std::vector<int32> Elements(const VArrayLong& array) {
    std::vector<int32> out;
    for (int32 i = 1; i <= array.GetCount(); ++i)
        out.push_back(array.GetLong(i));
    return out;
}

VArrayLong Longs(const std::vector<int32>& values) {
    VArrayLong array;
    for (int32 v : values)
        array.AppendLong(v);
    return array;
}

// Counts the exchanges and comparisons a sort makes, over plain integers.
class CountingSortable : public ISortable {
public:
    explicit CountingSortable(std::vector<int32> values) : fValues(std::move(values)) {}
    void* LockAndGetData() const override { return const_cast<int32*>(fValues.data()); }
    void SwapElements(uint8*, int32 i, int32 j) override {
        ++fSwaps;
        std::swap(fValues[size_t(i)], fValues[size_t(j)]);
    }
    CompareResult CompareElements(uint8*, int32 i, int32 j) override {
        ++fCompares;
        int32 a = fValues[size_t(i)], b = fValues[size_t(j)];
        return a < b ? CR_SMALLER : (a > b ? CR_BIGGER : CR_EQUAL);
    }
    std::vector<int32> fValues;
    int64 fSwaps = 0;
    int64 fCompares = 0;
};

TEST(VArrayValueTest, SortsEveryRangeLengthAroundTheSelectionSortLimit) {
    std::mt19937 random(7);
    for (int32 n : {2, 3, 9, 10, 11, 17, 100, 1000}) {
        std::vector<int32> values(static_cast<size_t>(n));
        for (int32& v : values)
            v = int32(random() % 1000) - 500;
        for (bool descending : {false, true}) {
            CountingSortable sortable(values);
            ISortable* list[] = {&sortable, nullptr};
            uint8 flag = descending ? 1 : 0;
            ISortable::MultiCriteriaQSort(list, &flag, 1, 0, n - 1);
            std::vector<int32> expected = values;
            if (descending)
                std::sort(expected.begin(), expected.end(), std::greater<>());
            else
                std::sort(expected.begin(), expected.end());
            EXPECT_EQ(sortable.fValues, expected) << "n " << n << " descending " << descending;
        }
    }
}

TEST(VArrayValueTest, ARangeOfOneElementIsLeftAloneAndAllocatesNothing) {
    CountingSortable sortable({5, 4});
    ISortable* list[] = {&sortable, nullptr};
    uint8 flag = 0;
    VCppMemMgr::sFailAllocations.store(true);
    ISortable::MultiCriteriaQSort(list, &flag, 1, 1, 1);
    VCppMemMgr::sFailAllocations.store(false);
    EXPECT_EQ(sortable.fSwaps, 0);
    EXPECT_EQ(sortable.fCompares, 0);
}

// Two distinct keys used to peel one element per partition pass: quadratic. Equal keys now split the range.
TEST(VArrayValueTest, FewDistinctKeysSortInLogLinearComparisons) {
    const int32 n = 20000;
    std::mt19937 random(3);
    std::vector<int32> values(static_cast<size_t>(n));
    for (int32& v : values)
        v = int32(random() & 1);
    CountingSortable sortable(values);
    ISortable* list[] = {&sortable, nullptr};
    uint8 flag = 0;
    ISortable::MultiCriteriaQSort(list, &flag, 1, 0, n - 1);
    EXPECT_TRUE(std::is_sorted(sortable.fValues.begin(), sortable.fValues.end()));
    EXPECT_LT(sortable.fCompares, int64(n) * 40); // n log2 n is about 286,000; the old partition took n² / 4
}

// Arrays that are exactly integer arrays are sorted on their elements in place; a subclass goes through the
// interface. Both must leave every row, ties and the untouched partner column included, in the same place.
template <class Array> class Subclassed : public Array {};

template <class Array> void ExpectSameOrderBothWays() {
    std::mt19937 random(11);
    const int32 n = 500;
    Array direct[4], through[4];
    Subclassed<Array> sub[4];
    for (int32 row = 0; row < n; ++row) {
        const int64 values[4] = {int64(random() % 3), int64(random() % 4) - 2, int64(random() % 50), row};
        for (int k = 0; k < 4; ++k) {
            direct[k].SetCount(row + 1);
            sub[k].SetCount(row + 1);
            direct[k].SetAt(typename Array::Element(values[k]), row + 1);
            sub[k].SetAt(typename Array::Element(values[k]), row + 1);
        }
    }
    ISortable* directList[] = {&direct[0], &direct[1], &direct[2], &direct[3], nullptr};
    ISortable* subList[] = {&sub[0], &sub[1], &sub[2], &sub[3], nullptr};
    const uint8 flags[] = {0, 1, 0};
    ISortable::MultiCriteriaQSort(directList, flags, 3, 0, n - 1);
    ISortable::MultiCriteriaQSort(subList, flags, 3, 0, n - 1);
    for (int k = 0; k < 4; ++k)
        for (int32 row = 1; row <= n; ++row)
            ASSERT_EQ(direct[k].GetAt(row), sub[k].GetAt(row)) << "column " << k << " row " << row;
    for (int32 row = 2; row <= n; ++row)
        EXPECT_LE(direct[0].GetAt(row - 1), direct[0].GetAt(row));
}

TEST(VArrayValueTest, IntegerArraysSortInPlaceAsThroughTheInterface) {
    ExpectSameOrderBothWays<VArrayLong>();
    ExpectSameOrderBothWays<VArrayLong8>();
}

// Up to four integer columns are sorted as packed rows, descending criteria complemented: the extreme values,
// every column count around that limit, criteria fewer than the columns and each direction must still leave
// every row where the interface leaves it.
template <class Array> void ExpectPackedRowsAsThroughTheInterface() {
    using Element = typename Array::Element;
    const Element kValues[] = {std::numeric_limits<Element>::min(),
                               Element(std::numeric_limits<Element>::min() + 1),
                               Element(-1),
                               Element(0),
                               Element(1),
                               Element(std::numeric_limits<Element>::max() - 1),
                               std::numeric_limits<Element>::max()};
    std::mt19937 random(13);
    const int32 n = 300;
    for (int32 columns = 1; columns <= 5; ++columns) {
        for (int32 criteria = 1; criteria <= columns; ++criteria) {
            for (uint8 pattern : {0, 1, 2}) {
                std::vector<Array> direct(static_cast<size_t>(columns));
                std::vector<Subclassed<Array>> through(static_cast<size_t>(columns));
                for (int32 k = 0; k < columns; ++k) {
                    for (int32 row = 1; row <= n; ++row) {
                        Element value = kValues[random() % std::size(kValues)];
                        direct[size_t(k)].SetCount(row);
                        through[size_t(k)].SetCount(row);
                        direct[size_t(k)].SetAt(value, row);
                        through[size_t(k)].SetAt(value, row);
                    }
                }
                std::vector<ISortable*> directList, throughList;
                std::vector<uint8> flags;
                for (int32 k = 0; k < columns; ++k) {
                    directList.push_back(&direct[size_t(k)]);
                    throughList.push_back(&through[size_t(k)]);
                    flags.push_back(pattern == 2 ? uint8(k % 2) : pattern);
                }
                directList.push_back(nullptr);
                throughList.push_back(nullptr);
                ISortable::MultiCriteriaQSort(directList.data(), flags.data(), criteria, 0, n - 1);
                ISortable::MultiCriteriaQSort(throughList.data(), flags.data(), criteria, 0, n - 1);
                for (int32 k = 0; k < columns; ++k)
                    for (int32 row = 1; row <= n; ++row)
                        ASSERT_EQ(direct[size_t(k)].GetAt(row), through[size_t(k)].GetAt(row))
                            << "columns " << columns << " criteria " << criteria << " pattern " << int(pattern)
                            << " column " << k << " row " << row;
                for (int32 row = 2; row <= n; ++row) {
                    Element before = direct[0].GetAt(row - 1), after = direct[0].GetAt(row);
                    EXPECT_TRUE(flags[0] != 0 ? before >= after : before <= after) << "row " << row;
                }
            }
        }
    }
}

TEST(VArrayValueTest, PackedRowsSortAsThroughTheInterface) {
    ExpectPackedRowsAsThroughTheInterface<VArrayLong>();
    ExpectPackedRowsAsThroughTheInterface<VArrayLong8>();
}

TEST(VArrayValueTest, IntegerArraySortMatchesTheLibrarySort) {
    std::mt19937 random(17);
    for (int32 n : {2, 15, 16, 17, 1000}) {
        for (uint32 keys : {2u, 0u}) {
            std::vector<int32> values(static_cast<size_t>(n));
            for (int32& v : values)
                v = keys == 0 ? int32(random()) : int32(random() % keys);
            values[0] = INT32_MIN;
            for (bool descending : {false, true}) {
                VArrayLong array = Longs(values);
                array.Sort(1, n, descending);
                std::vector<int32> expected = values;
                if (descending)
                    std::sort(expected.begin(), expected.end(), std::greater<>());
                else
                    std::sort(expected.begin(), expected.end());
                EXPECT_EQ(Elements(array), expected) << "n " << n << " descending " << descending;
            }
        }
    }
}

TEST(VArrayValueTest, SynchronizedSortKeepsParallelArraysAligned) {
    VArrayLong keys = Longs({3, 1, 2});
    VArrayLong other = Longs({30, 10, 20});
    EXPECT_TRUE(VArrayValue::SynchronizedSort(false, &keys, &other, nullptr));
    EXPECT_EQ(Elements(keys), (std::vector<int32>{1, 2, 3}));
    EXPECT_EQ(Elements(other), (std::vector<int32>{10, 20, 30}));
}

TEST(VArrayValueTest, SynchronizedSortRefusesAShorterPartner) {
    std::vector<int32> values(50);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = int32(values.size() - i);
    VArrayLong keys = Longs(values);
    VArrayLong shorter = Longs({1, 2});
    EXPECT_FALSE(VArrayValue::SynchronizedSort(false, &keys, &shorter, nullptr));
    EXPECT_EQ(Elements(keys), values);
    EXPECT_EQ(Elements(shorter), (std::vector<int32>{1, 2}));
}

TEST(VArrayValueTest, SecondCriterionOrdersTiesAndItsDescendingByteReversesOnlyThem) {
    VArrayLong first = Longs({2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1});
    VArrayLong second = Longs({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    ISortable* list[] = {&first, &second, nullptr};
    uint8 flags[] = {0, 1};
    ISortable::MultiCriteriaQSort(list, flags, 2, 0, 11);
    EXPECT_EQ(Elements(first), (std::vector<int32>{1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(Elements(second), (std::vector<int32>{12, 10, 8, 6, 4, 2, 11, 9, 7, 5, 3, 1}));
}

// Elements without order (-1000) must still give a comparison of -1, 0 or 1.
class UnorderedSortable : public ISortable {
public:
    void SwapElements(uint8*, int32, int32) override {}
    CompareResult CompareElements(uint8*, int32, int32) override { return CR_UNRELEVANT; }
};

TEST(VArrayValueTest, CombinedComparisonAnswersOnlyMinusOneZeroOrOne) {
    UnorderedSortable unordered;
    ISortable* list[] = {&unordered, nullptr};
    uint8* data[] = {nullptr};
    const uint8 ascending = 0, descending = 1;
    EXPECT_EQ(ISortable::MultiCriteriaCompare(list, data, &ascending, 1, 0, 1), CR_SMALLER);
    EXPECT_EQ(ISortable::MultiCriteriaCompare(list, data, &descending, 1, 0, 1), CR_BIGGER);
    ISortable::MultiCriteriaQSort(list, &ascending, 1, 0, 40); // must end, and stay within the range
}

TEST(VArrayValueTest, UnsortIsAFixedScramble) {
    VArrayLong two = Longs({0, 1});
    two.Unsort();
    EXPECT_EQ(Elements(two), (std::vector<int32>{1, 0}));
    VArrayLong four = Longs({0, 1, 2, 3});
    four.Unsort();
    EXPECT_EQ(Elements(four), (std::vector<int32>{2, 1, 3, 0}));
}

TEST(VArrayValueTest, InsertAndDeleteMoveTheElements) {
    VArrayLong array = Longs({1, 2, 3});
    EXPECT_TRUE(array.Insert(4, 2));
    EXPECT_EQ(Elements(array), (std::vector<int32>{1, 2, 3, 0, 0}));
    EXPECT_TRUE(array.Insert(1, 1));
    EXPECT_EQ(Elements(array), (std::vector<int32>{0, 1, 2, 3, 0, 0}));
    EXPECT_TRUE(array.Delete(2, 2));
    EXPECT_EQ(Elements(array), (std::vector<int32>{0, 3, 0, 0}));
    EXPECT_TRUE(array.Delete(1, array.GetCount()));
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array.AppendLong(9), 1);
    EXPECT_EQ(Elements(array), (std::vector<int32>{9}));
}

TEST(VArrayValueTest, InsertAndDeleteOutsideTheArrayAreRefused) {
    struct Case {
        int32 at, n;
    };
    for (Case c : {Case{0, 1}, Case{5, 1}, Case{-3, 1}, Case{1, -1}, Case{2, 0x7FFFFFFF}}) {
        VArrayLong array = Longs({1, 2, 3});
        EXPECT_FALSE(array.Insert(c.at, c.n)) << c.at << " " << c.n;
        EXPECT_EQ(Elements(array), (std::vector<int32>{1, 2, 3}));
    }
    for (Case c : {Case{0, 1}, Case{4, 1}, Case{2, 3}, Case{1, 0}, Case{1, -2}, Case{2, 0x7FFFFFFF}}) {
        VArrayLong array = Longs({1, 2, 3});
        EXPECT_FALSE(array.Delete(c.at, c.n)) << c.at << " " << c.n;
        EXPECT_EQ(Elements(array), (std::vector<int32>{1, 2, 3}));
    }
}

TEST(VArrayValueTest, CountsWhoseByteSizePassesTheLimitAreRefused) {
    VArrayLong8 array(2);
    // 0x10000001 × 8 wraps to 8 bytes in 32 bits.
    EXPECT_FALSE(array.SetCount(0x10000001));
    EXPECT_FALSE(array.SetCount(0x7FFFFFFF));
    EXPECT_EQ(array.GetCount(), 2);
    array.FromLong8(5, 2);
    EXPECT_EQ(array.GetLong8(2), 5);
}

TEST(VArrayValueTest, SetCountEdgesAndZeroedGrowth) {
    VArrayLong array = Longs({4, 5, 6});
    EXPECT_TRUE(array.SetCount(3));
    EXPECT_TRUE(array.SetCount(-5));
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_TRUE(array.SetCount(3));
    EXPECT_EQ(Elements(array), (std::vector<int32>{0, 0, 0})); // the old elements do not come back
}

TEST(VArrayValueTest, FailedGrowthLeavesTheArrayAsItWas) {
    VArrayLong array = Longs({1, 2});
    VCppMemMgr::sFailAllocations.store(true);
    bool grown = array.SetCount(1000);
    int32 appended = array.AppendLong(3);
    VCppMemMgr::sFailAllocations.store(false);
    EXPECT_FALSE(grown);
    EXPECT_EQ(appended, 2);
    EXPECT_EQ(Elements(array), (std::vector<int32>{1, 2}));
}

TEST(VArrayValueTest, MoveElementsHandlesOverlapBothWaysAndRefusesOutside) {
    VArrayLong up = Longs({1, 2, 3, 4, 5});
    up.MoveElements(0, 1, 3);
    EXPECT_EQ(Elements(up), (std::vector<int32>{1, 1, 2, 3, 5}));
    VArrayLong down = Longs({1, 2, 3, 4, 5});
    down.MoveElements(1, 0, 3);
    EXPECT_EQ(Elements(down), (std::vector<int32>{2, 3, 4, 4, 5}));
    VArrayLong outside = Longs({1, 2, 3});
    outside.MoveElements(1, 2, 2);
    outside.MoveElements(-1, 0, 1);
    EXPECT_EQ(Elements(outside), (std::vector<int32>{1, 2, 3}));
}

TEST(VArrayValueTest, CopyAndCloneAreIndependent) {
    VArrayLong source = Longs({1, 2, 3});
    VArrayLong copy;
    copy = source;
    source.FromLong(9, 1);
    EXPECT_EQ(Elements(copy), (std::vector<int32>{1, 2, 3}));
    std::unique_ptr<VValue> clone(copy.Clone());
    auto* cloned = dynamic_cast<VArrayLong*>(clone.get());
    ASSERT_NE(cloned, nullptr);
    EXPECT_EQ(Elements(*cloned), (std::vector<int32>{1, 2, 3}));
    EXPECT_FALSE(cloned->IsNull());
}

} // namespace
} // namespace vela
