#include "values/VArrayValues.h"
#include "values/VArrayBlob.h"
#include "values/VArrayImage.h"
#include "values/VArrayString.h"
#include "values/VValueInfo.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"
#include "values/StoredBytes.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace vela {
namespace {

using test::ReadBytes;
using test::StoredBytes;
using test::WrittenBytes;

constexpr int32 kVVAL = 0x5656414C;

VArrayLong Longs(std::initializer_list<int32> values) {
    VArrayLong array;
    for (int32 v : values)
        array.AppendLong(v);
    return array;
}

TEST(VArrayValuesTest, EveryTypedArrayButImagesCanBeEvaluated) {
    std::vector<std::unique_ptr<VArrayValue>> arrays;
    arrays.emplace_back(new VArrayByte);
    arrays.emplace_back(new VArrayWord);
    arrays.emplace_back(new VArrayLong);
    arrays.emplace_back(new VArrayLong8);
    arrays.emplace_back(new VArrayReal);
    arrays.emplace_back(new VArrayTime);
    arrays.emplace_back(new VArrayDuration);
    arrays.emplace_back(new VArrayBoolean);
    arrays.emplace_back(new VArrayString);
    arrays.emplace_back(new VArrayBlob);
    for (const auto& array : arrays)
        EXPECT_TRUE(array->CanBeEvaluated()) << array->GetElemValueKind();
    EXPECT_FALSE(VArrayImage().CanBeEvaluated());
}

TEST(VArrayValuesTest, FindFollowsTheMethodAndDirection) {
    struct Case {
        int32 value, start;
        bool forward;
        int32 method, expected;
    };
    const VArrayLong array = Longs({1, 5, 5});
    for (Case c : {Case{5, 1, true, kFindEqual, 2}, Case{5, 3, false, kFindEqual, 3}, Case{4, 1, true, kFindGreater, 2},
                   Case{9, 1, true, kFindEqual, -1}, Case{5, 4, true, kFindEqual, -1}, Case{5, 0, true, kFindEqual, -1},
                   Case{5, 1, true, kFindGreaterOrEqual, 2}, Case{5, 3, false, kFindLess, 1},
                   Case{1, 3, false, kFindLessOrEqual, 1}, Case{0, 2, true, 7, 2}}) {
        EXPECT_EQ(array.Find(c.value, c.start, c.forward, c.method), c.expected)
            << c.value << " from " << c.start << " method " << c.method;
    }
    EXPECT_EQ(array.Find(VLong(5), 1, true, kFindEqual), 2);
    EXPECT_EQ(VArrayLong().Find(5, 1, true, kFindEqual), -1);
}

TEST(VArrayValuesTest, QuickFindSearchesASortedArray) {
    VArrayLong8 array;
    for (int64 v : {-7, 0, 3, 9, 12})
        array.AppendLong8(v);
    EXPECT_EQ(array.QuickFind(9), 4);
    EXPECT_EQ(array.QuickFind(-7), 1);
    EXPECT_EQ(array.QuickFind(4), -1);
    EXPECT_EQ(VArrayLong8().QuickFind(0), -1);
}

TEST(VArrayValuesTest, RealStatisticsKeepTheVarianceAsStdDev) {
    VArrayReal array;
    for (double v : {1.0, 2.0, 3.0})
        array.AppendReal(v);
    EXPECT_DOUBLE_EQ(array.GetSum(), 6.0);
    EXPECT_DOUBLE_EQ(array.GetAverage(), 2.0);
    EXPECT_DOUBLE_EQ(array.GetSquareSum(), 2.0);
    EXPECT_DOUBLE_EQ(array.GetStdDev(), 2.0 / 3.0);
    EXPECT_EQ(VArrayReal().GetStdDev(), 0.0);
}

TEST(VArrayValuesTest, MaxAndMinOfEmptyArraysAreTheTypeLimits) {
    EXPECT_EQ(VArrayByte().GetMax(), -128);
    EXPECT_EQ(VArrayByte().GetMin(), 127);
    EXPECT_EQ(VArrayWord().GetMax(), -32768);
    EXPECT_EQ(VArrayLong().GetMin(), 2147483647);
    VArrayWord words;
    for (int16 v : {3, -4, 9})
        words.AppendWord(v);
    EXPECT_EQ(words.GetMax(), 9);
    EXPECT_EQ(words.GetMin(), -4);
}

TEST(VArrayValuesTest, AppendsWidenThroughTheChainOrAddAZero) {
    VArrayReal reals;
    reals.AppendLong(7);
    EXPECT_EQ(reals.GetReal(1), 7.0);
    VArrayLong longs;
    EXPECT_EQ(longs.AppendString(VString("12")), 1);
    EXPECT_EQ(longs.GetLong(1), 0);
    longs.AppendBoolean(1);
    EXPECT_EQ(longs.GetLong(2), 1);
}

// Through FromValue: the append chain does not reach every class's own setter from a long.
void Append(VArrayValue& array, int32 value) {
    array.Insert(array.GetCount() + 1, 1);
    array.FromValue(VLong(value), array.GetCount());
}

template <class Array> void ExpectSortOrders() {
    Array array;
    for (int32 v : {3, 1, 2})
        Append(array, v);
    array.Sort(1, 3, false);
    VLong value;
    for (int32 i = 1; i <= 3; ++i) {
        array.GetValue(value, i);
        EXPECT_EQ(value.GetLong(), i) << typeid(Array).name();
    }
    array.Sort(2, 3, true);
    array.GetValue(value, 2);
    EXPECT_EQ(value.GetLong(), 3) << typeid(Array).name();
    array.Sort(0, 3, false); // outside: nothing
    array.GetValue(value, 2);
    EXPECT_EQ(value.GetLong(), 3) << typeid(Array).name();
}

TEST(VArrayValuesTest, SortOrdersEveryNumericClass) {
    ExpectSortOrders<VArrayByte>();
    ExpectSortOrders<VArrayWord>();
    ExpectSortOrders<VArrayLong>();
    ExpectSortOrders<VArrayLong8>();
    ExpectSortOrders<VArrayReal>();
}

TEST(VArrayValuesTest, TypedSortMatchesTheStandardSortOnLargeInputs) {
    std::mt19937 random(11);
    for (int32 keys : {2, 3, 1000000}) {
        for (bool descending : {false, true}) {
            VArrayLong array(5000);
            std::vector<int32> expected;
            for (int32 i = 1; i <= 5000; ++i) {
                array.FromLong(int32(random() % uint32(keys)), i);
                expected.push_back(array.GetLong(i));
            }
            array.Sort(1, 5000, descending);
            if (descending)
                std::sort(expected.begin(), expected.end(), std::greater<>());
            else
                std::sort(expected.begin(), expected.end());
            for (int32 i = 1; i <= 5000; ++i)
                ASSERT_EQ(array.GetLong(i), expected[size_t(i - 1)]);
        }
    }
}

TEST(VArrayValuesTest, TimesAndDurationsBridgeThroughTheirValues) {
    VArrayDuration durations(2);
    durations.FromDuration(VDuration(1500), 1);
    VDuration out;
    durations.GetDuration(out, 1);
    EXPECT_EQ(out.ConvertToMilliseconds(), 1500);
    durations.GetDuration(out, 9);
    EXPECT_EQ(out.ConvertToMilliseconds(), 0);
    EXPECT_EQ(durations.CompareTo(VDuration(2000), false, 1), CR_SMALLER);
    EXPECT_EQ(durations.Find(VDuration(0), 1, true, kFindEqual), 2);

    VArrayTime times(1);
    VTime when(uint64(123456789));
    times.FromTime(when, 1);
    VTime read;
    times.GetTime(read, 1);
    EXPECT_EQ(read.GetStamp(), when.GetStamp());
    std::unique_ptr<VValueSingle> clone(times.CloneValue(1));
    EXPECT_EQ(clone->GetValueKind(), VTime::kKind);
}

TEST(VArrayValuesTest, CloneValueGivesTheElementKind) {
    VArrayWord words(1);
    words.FromWord(-3, 1);
    std::unique_ptr<VValueSingle> value(words.CloneValue(1));
    EXPECT_EQ(value->GetValueKind(), VWord::kKind);
    EXPECT_EQ(value->GetLong(), -3);
}

TEST(VArrayValuesTest, BooleansArePackedBitsTrueFirst) {
    VArrayBoolean array(9);
    array.FromBoolean(1, 1);
    array.FromBoolean(1, 9);
    std::string bytes = WrittenBytes([&](VStream* s) { array.WriteToStream(s, kVVAL); });
    EXPECT_EQ(bytes, StoredBytes().Long(65535).Long(9).Byte(0x01).Byte(0x01).Get());
    EXPECT_EQ(array.CompareTo(VBoolean(1), false, 2), CR_BIGGER);
    EXPECT_EQ(array.CompareTo(VBoolean(0), false, 1), CR_SMALLER);
    EXPECT_EQ(array.Find(true, 2, true), 9);

    array.Sort(1, 9, false);
    EXPECT_TRUE(array.GetBoolean(1) && array.GetBoolean(2) && !array.GetBoolean(3));
    array.Sort(1, 9, true);
    EXPECT_TRUE(!array.GetBoolean(7) && array.GetBoolean(8) && array.GetBoolean(9));

    EXPECT_TRUE(array.Delete(1, 8));
    EXPECT_TRUE(array.GetBoolean(1));
    EXPECT_TRUE(array.SetCount(3)); // grown bits read false, also in the byte already held
    EXPECT_FALSE(array.GetBoolean(2));
    EXPECT_FALSE(array.GetBoolean(3));
}

TEST(VArrayValuesTest, BooleanStreamSizesFollowTheCount) {
    VArrayBoolean eight(8);
    EXPECT_EQ(WrittenBytes([&](VStream* s) { eight.WriteToStream(s, kVVAL); }).size(), 4u + 4u + 2u);
    VArrayBoolean empty;
    std::string bytes = WrittenBytes([&](VStream* s) { empty.WriteToStream(s, kVVAL); });
    EXPECT_EQ(bytes.size(), 8u);
    VArrayBoolean back(3);
    EXPECT_EQ(ReadBytes(bytes.substr(4), [&](VStream* s) { return back.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(back.GetCount(), 0);
}

template <class Array> std::string RoundTrip(const Array& array, bool bigEndian) {
    std::string bytes = WrittenBytes([&](VStream* s) { array.WriteToStream(s); }, bigEndian);
    Array back(2);
    EXPECT_EQ(ReadBytes(
                  bytes, [&](VStream* s) { return back.ReadFromStream(s); }, bigEndian),
              VE_OK);
    return WrittenBytes([&](VStream* s) { back.WriteToStream(s); }, bigEndian);
}

TEST(VArrayValuesTest, EveryFixedClassStreamsAndReadsBackInBothByteOrders) {
    for (bool bigEndian : {false, true}) {
        VArrayByte bytes;
        VArrayWord words;
        VArrayLong longs;
        VArrayLong8 long8s;
        VArrayReal reals;
        VArrayDuration durations;
        VArrayTime times;
        VArrayBoolean booleans;
        for (int32 v : {-3, 0, 70, 1 << 20}) {
            Append(bytes, v);
            Append(words, v);
            longs.AppendLong(v);
            long8s.AppendLong8(int64(v) << 20);
            reals.AppendReal(v / 3.0);
            durations.AppendDuration(VDuration(v));
            times.AppendTime(VTime(uint64(v) & 0xFFFFFF));
            booleans.AppendBoolean(v > 0);
        }
        auto check = [&](const auto& array) {
            std::string once = WrittenBytes([&](VStream* s) { array.WriteToStream(s); }, bigEndian);
            EXPECT_EQ(RoundTrip(array, bigEndian), once);
        };
        check(bytes);
        check(words);
        check(longs);
        check(long8s);
        check(reals);
        check(durations);
        check(times);
        check(booleans);
    }
    std::string big = WrittenBytes([&](VStream* s) { Longs({1}).WriteToStream(s); }, true);
    EXPECT_EQ(big, std::string("\0\0\0\1\0\0\0\1", 8));
}

TEST(VArrayValuesTest, ANegativeStreamCountLeavesTheArrayAndReportsNoError) {
    VArrayLong array = Longs({4, 5});
    EXPECT_EQ(ReadBytes(StoredBytes().Long(-1).Get(), [&](VStream* s) { return array.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(array.GetCount(), 2);
    EXPECT_EQ(array.GetLong(2), 5);
}

// A count is a promise about the bytes that follow: one the stream cannot keep is refused before anything is
// allocated, and never reported as success.
TEST(VArrayValuesTest, StreamCountsTheStreamCannotBackAreRefused) {
    struct Case {
        int32 count;
        size_t bytesAfter;
    };
    for (Case c : {Case{3, 8}, Case{0x7FFFFFFF, 16}, Case{0x10000001, 64}}) {
        StoredBytes stored;
        stored.Long(c.count).Raw(std::string(c.bytesAfter, '\0').data(), c.bytesAfter);
        VArrayLong8 array(1);
        EXPECT_EQ(ReadBytes(stored.Get(), [&](VStream* s) { return array.ReadFromStream(s); }), VE_STREAM_CORRUPTED)
            << c.count;
        VArrayBoolean booleans;
        EXPECT_EQ(ReadBytes(StoredBytes().Long(c.count).Get(), [&](VStream* s) { return booleans.ReadFromStream(s); }),
                  VE_STREAM_CORRUPTED);
    }
}

TEST(VArrayValuesTest, StorageThatCannotBeHadWhileReadingIsMemoryFull) {
    std::string bytes = StoredBytes().Long(2).Long(7).Long(8).Get();
    VArrayLong array;
    VError error = ReadBytes(bytes, [&](VStream* s) {
        VCppMemMgr::sFailAllocations.store(true);
        VError read = array.ReadFromStream(s);
        VCppMemMgr::sFailAllocations.store(false);
        return read;
    });
    EXPECT_EQ(error, VE_MEMORY_FULL);
    EXPECT_EQ(array.GetCount(), 0);
}

TEST(VArrayValuesTest, KindsAreRegisteredAndGenerateEmptyArrays) {
    for (uint16 kind : {100, 101, 102, 103, 104, 105, 107, 108}) {
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
        auto* array = dynamic_cast<VArrayValue*>(value.get());
        ASSERT_NE(array, nullptr) << kind;
        EXPECT_EQ(array->GetCount(), 0);
        EXPECT_EQ(array->GetTrueValueKind(), kind);
        EXPECT_EQ(array->GetValueKind(), 65535);
        EXPECT_FALSE(array->IsNull());
    }
    EXPECT_EQ(VValue::NewValueFromValueKind(106), nullptr);
}

} // namespace
} // namespace vela

namespace vela {
namespace {

// A value of the image kind, which this program does not define: a text under kind 12.
class TestImage : public VString {
public:
    using VString::VString;
    static inline const VValueInfo* sInfo = nullptr;
    const VValueInfo* GetValueInfo() const override { return sInfo; }
    VValue* Clone() const override { return new TestImage(*this); }
};

// Copies own their elements: a copy that shared them, or took another array's, would delete them twice.
TEST(VArrayImageTest, CopiesOwnTheirElements) {
    const VValueInfo_default<TestImage, VArrayImage::kElemKind> info;
    TestImage::sInfo = &info;
    VArrayImage images(2);
    images.FromValue(TestImage("first"), 1);
    {
        VArrayImage copy(images);
        VArrayImage assigned;
        EXPECT_TRUE(assigned.Copy(images));
        std::unique_ptr<VValueSingle> element(assigned.CloneValue(1));
        ASSERT_NE(element, nullptr);
        EXPECT_TRUE(static_cast<VString&>(*element).EqualToStringRaw(VString("first")));
        EXPECT_EQ(copy.CloneValue(2), nullptr);
    }
    VArrayString strings(1);
    strings.FromString(VString("text"), 1);
    EXPECT_FALSE(images.Copy(strings));
    std::unique_ptr<VValueSingle> kept(images.CloneValue(1));
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(static_cast<VString&>(*kept).EqualToStringRaw(VString("first")));
    images.DeleteAllElements();
    TestImage::sInfo = nullptr;
}

TEST(VArrayImageTest, EmptySlotsStreamAsZerosAndCannotBeReadWithoutTheirKind) {
    VArrayImage images(2);
    std::string bytes = test::WrittenBytes([&](VStream* s) { images.WriteToStream(s, kVVAL); });
    EXPECT_EQ(bytes, test::StoredBytes().Long(2).Raw(std::string(16, '\0').data(), 16).Get());
    EXPECT_EQ(images.CloneValue(1), nullptr);
    EXPECT_EQ(images.CompareTo(VLong(1), false, 1), CR_UNRELEVANT);
    images.FromValue(VLong(3), 1); // not an image value
    EXPECT_EQ(images.CloneValue(1), nullptr);

    // No descriptor of kind 12 here: the count cannot stand without its elements.
    VArrayImage back(3);
    EXPECT_EQ(test::ReadBytes(bytes, [&](VStream* s) { return back.ReadFromStream(s); }), VE_STREAM_CORRUPTED);
    EXPECT_EQ(back.GetCount(), 0);
    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(111));
    EXPECT_NE(dynamic_cast<VArrayImage*>(generated.get()), nullptr);
}

// Another class's block is another layout: copying it would leave a 32-bit array on a byte or bit block that
// the next write overruns.
TEST(VArrayValuesTest, CopyTakesOnlyAnArrayOfTheSameClass) {
    VArrayByte bytes(5);
    VArrayBoolean booleans(9);
    VArrayLong longs = Longs({7});
    for (const VArrayValue* source :
         {static_cast<const VArrayValue*>(&bytes), static_cast<const VArrayValue*>(&booleans)}) {
        EXPECT_FALSE(longs.Copy(*source));
        ASSERT_EQ(longs.GetCount(), 1);
        longs.FromLong(9, longs.GetCount());
        EXPECT_EQ(longs.GetLong(1), 9);
    }
    EXPECT_TRUE(longs.Copy(Longs({1, 2, 3})));
    EXPECT_EQ(longs.GetCount(), 3);
    EXPECT_EQ(longs.GetLong(3), 3);
}

} // namespace
} // namespace vela
