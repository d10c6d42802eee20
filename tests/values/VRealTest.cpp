#include "values/VReal.h"

#include "core/VString.h"
#include "files/VPtrStream.h"
#include "values/VCompareOptions.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace vela {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::u16string Text(const VString& s) {
    return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

TEST(VReal, TextXMLAndJSONFormsArePinned) {
    struct Case {
        double value;
        const char16_t* text; // GetString: "%.14G"
        const char16_t* xml;
        const char16_t* json;
    };
    const Case cases[] = {
        {2.5, u"2.5", u"2.5", u"2.5"},
        {4.0, u"4", u"4", u"4"},
        {-0.0, u"-0", u"0", u"0"},
        {1e300, u"1E+300", u"1E+300", u"1E+300"},
        {0.1, u"0.1", u"0.1", u"0.1"},
        {1.0 / 3, u"0.33333333333333", u"0.33333333333333", u"0.33333333333333"},
        {9007199254740991.0, u"9.007199254741E+15", u"9007199254740991", u"9007199254740991"},
        {9007199254740992.0, u"9.007199254741E+15", u"9.007199254741E+15", u"9.007199254741E+15"},
        {-123456789012.0, u"-123456789012", u"-123456789012", u"-123456789012"},
        {kNaN, u"NAN", u"NaN", u"null"},
        {kInf, u"INF", u"INF", u"null"},
        {-kInf, u"-INF", u"-INF", u"null"},
    };
    for (const Case& c : cases) {
        VReal value(c.value);
        VString text, xml, json;
        value.GetString(text);
        value.GetXMLString(xml);
        EXPECT_EQ(value.GetJSONString(json), VE_OK);
        EXPECT_EQ(Text(text), c.text) << c.value;
        EXPECT_EQ(Text(xml), c.xml) << c.value;
        EXPECT_EQ(Text(json), c.json) << c.value;
        VString stat;
        VReal::RealToJSONString(c.value, stat);
        EXPECT_EQ(Text(stat), c.json);
    }
}

TEST(VReal, FromXMLStringTakesOnlyTextConsumedWhole) {
    struct Case {
        const char* text;
        bool accepted;
        double value;
    };
    const Case cases[] = {
        {"1,5", true, 1.5},  {"1.5", true, 1.5}, {"-2e3", true, -2000.0}, {"", true, 0.0},   {"  7", true, 7.0},
        {"inf", true, kInf}, {"1.5x", false, 0}, {"1.5 ", false, 0},      {"abc", false, 0}, {"1,5,", false, 0},
    };
    for (const Case& c : cases) {
        VReal value(42.0);
        value.SetNull(true);
        EXPECT_EQ(value.FromXMLString(VString(c.text)), c.accepted) << c.text;
        EXPECT_EQ(value.Get(), c.accepted ? c.value : 42.0) << c.text;
        EXPECT_EQ(value.IsNull(), !c.accepted) << c.text;
    }
    VReal nan;
    EXPECT_TRUE(nan.FromXMLString(VString("nan")));
    EXPECT_TRUE(std::isnan(nan.Get()));

    std::string longText = "1." + std::string(300, '0');
    VReal value(3.0);
    EXPECT_FALSE(value.FromXMLString(VString(longText.c_str()))); // beyond the 255-byte buffer
    EXPECT_EQ(value.Get(), 3.0);
    EXPECT_FALSE(value.FromXMLString(VString(u"1\u00B75")));
}

TEST(VReal, FromJSONStringGivesZeroForOtherText) {
    VReal value(5.0);
    EXPECT_EQ(value.FromJSONString(VString("abc")), VE_OK);
    EXPECT_EQ(value.Get(), 0.0);
    EXPECT_FALSE(value.IsNull());
    value.FromJSONString(VString("1,25"));
    EXPECT_EQ(value.Get(), 1.25);
}

TEST(VReal, FromStringParsesWithVStringAndFollowsTheNullFlag) {
    VReal value;
    value.FromString(VString("1e-3"));
    EXPECT_EQ(value.Get(), 0.001);
    value.FromString(VString(true));
    EXPECT_TRUE(value.IsNull());
    EXPECT_EQ(value.Get(), 0.001); // a null text leaves the datum
}

TEST(VReal, JSONValues) {
    VReal value(3.0);
    value.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(value.IsNull());
    EXPECT_EQ(value.Get(), 3.0);
    VJSONValue json;
    value.GetJSONValue(json);
    EXPECT_TRUE(json.IsNull());
    value.FromJSONValue(VJSONValue(2.25));
    EXPECT_FALSE(value.IsNull());
    value.GetJSONValue(json);
    EXPECT_EQ(json.GetNumber(), 2.25);
}

TEST(VReal, IntegerGettersTruncateAndGiveTheMinimumOutOfRange) {
    struct Case {
        double value;
        int8 asByte;
        int16 asWord;
        int32 asLong;
        int64 asLong8;
    };
    const Case cases[] = {
        {-2.9, -2, -2, -2, -2},
        {300.5, 44, 300, 300, 300},
        {3e10, 0, 0, INT32_MIN, 30000000000},
        {kNaN, 0, 0, INT32_MIN, INT64_MIN},
        {-1e19, 0, 0, INT32_MIN, INT64_MIN},
    };
    for (const Case& c : cases) {
        VReal value(c.value);
        EXPECT_EQ(value.GetByte(), c.asByte) << c.value;
        EXPECT_EQ(value.GetWord(), c.asWord) << c.value;
        EXPECT_EQ(value.GetLong(), c.asLong) << c.value;
        EXPECT_EQ(value.GetLong8(), c.asLong8) << c.value;
    }
    EXPECT_TRUE(VReal(kNaN).GetBoolean());
    EXPECT_FALSE(VReal(-0.0).GetBoolean());
}

TEST(VReal, ComparisonsUseTheTolerance) {
    VReal one(1.0), near(1.0000005);
    EXPECT_EQ(one.CompareToSameKind(&near), CR_EQUAL);
    EXPECT_TRUE(one.EqualTo(near));
    EXPECT_EQ(one.CompareToSameKind(&near, true), CR_SMALLER); // diacritical: exact

    VCompareOptions options;
    EXPECT_EQ(one.CompareToSameKindWithOptions(&near, options), CR_EQUAL); // default epsilon 1e-06
    options.SetEpsilon(1e-9);
    EXPECT_EQ(one.CompareToSameKindWithOptions(&near, options), CR_SMALLER);
    EXPECT_EQ(near.CompareToSameKindWithOptions(&one, options), CR_BIGGER);
    EXPECT_FALSE(one.EqualToSameKindWithOptions(&near, options));
    options.SetEpsilon(1.0);
    options.SetDiacritical(true);
    EXPECT_EQ(one.CompareToSameKindWithOptions(&near, options), CR_SMALLER);

    const double stored = 1.0000005;
    EXPECT_TRUE(one.EqualToSameKindPtr(&stored));
    EXPECT_EQ(one.CompareTo(VLong(2)), CR_SMALLER);
}

TEST(VReal, NaNIsSmallerThanEverythingAndEqualToNothing) {
    VReal nan(kNaN), one(1.0);
    EXPECT_EQ(nan.CompareToSameKind(&one), CR_SMALLER);
    EXPECT_EQ(one.CompareToSameKind(&nan), CR_SMALLER); // so no order: never for std::sort
    EXPECT_EQ(nan.CompareToSameKind(&nan), CR_SMALLER);
    EXPECT_FALSE(nan.EqualToSameKind(&nan));
    EXPECT_FALSE(nan.EqualToSameKindWithOptions(&nan, VCompareOptions()));
}

TEST(VReal, DescriptorComparesWithToleranceAndOrdersNaN) {
    const VReal::VValueInfo_real& info = VReal::sInfo;
    const double one = 1.0, near = 1.0000005, nan = kNaN;
    EXPECT_EQ(info.CompareTwoPtrToData(&one, &near), CR_EQUAL);
    EXPECT_EQ(info.CompareTwoPtrToData(&one, &near, true), CR_SMALLER);
    EXPECT_EQ(info.CompareTwoPtrToDataBegining(&near, &one, true), CR_BIGGER);

    VCompareOptions options;
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&nan, &nan, options), CR_EQUAL);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&nan, &one, options), CR_SMALLER);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&one, &nan, options), CR_BIGGER);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&one, &near, options), CR_EQUAL);
    options.SetDiacritical(true);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&one, &near, options), CR_SMALLER);

    double swapped = 1.0;
    info.ByteSwapPtr(&swapped, true);
    info.ByteSwapPtr(&swapped, false);
    EXPECT_EQ(swapped, 1.0);
    EXPECT_EQ(info.GetSizeOfValueDataPtr(&one), 8u);
}

TEST(VReal, StoredAndStreamForms) {
    unsigned char buffer[9] = {};
    VReal(-1.5).WriteToPtr(buffer + 1);
    VReal back;
    EXPECT_EQ(back.LoadFromPtr(buffer + 1), buffer + 9);
    EXPECT_EQ(back.Get(), -1.5);

    for (bool swap : {false, true}) {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(VReal(0.1).WriteToStream(&stream), VE_OK);
        stream.CloseWriting();
        ASSERT_EQ(stream.GetDataSize(), 8u);
        double expected = 0.1;
        unsigned char bytes[8];
        std::memcpy(bytes, &expected, 8);
        EXPECT_EQ(static_cast<const unsigned char*>(stream.GetDataPtr())[0], swap ? bytes[7] : bytes[0]);

        ASSERT_EQ(stream.OpenReading(), VE_OK);
        VReal read;
        EXPECT_EQ(read.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(read.Get(), 0.1);
    }
}

TEST(VReal, ConversionsToAndFromOtherKinds) {
    VReal value;
    value.FromLong8(INT64_MAX);
    EXPECT_EQ(value.Get(), 9223372036854775807.0);
    value.FromBoolean(2);
    EXPECT_EQ(value.Get(), 2.0);
    VLong target;
    VReal(-7.9).GetValue(target);
    EXPECT_EQ(target.Get(), -7);
    VReal copy;
    VReal source(4.5);
    source.SetNull(true);
    copy.FromValue(source);
    EXPECT_TRUE(copy.IsNull());
    EXPECT_EQ(copy.Get(), 4.5);
}

// ---- Packed decimal numbers

std::vector<uint8> Packed(int32 exponent, int8 sign, int32 count, std::vector<uint8> digits) {
    std::vector<uint8> bytes(9);
    std::memcpy(bytes.data(), &exponent, 4);
    std::memcpy(bytes.data() + 4, &sign, 1);
    std::memcpy(bytes.data() + 5, &count, 4);
    bytes.insert(bytes.end(), digits.begin(), digits.end());
    return bytes;
}

TEST(MAPM_FloatToReal, ReadsPackedDigits) {
    struct Case {
        std::vector<uint8> number;
        double expected;
    };
    const Case cases[] = {
        {Packed(3, 1, 4, {12, 34}), 123.4},
        {Packed(3, -1, 3, {12, 34}), -123.0}, // odd count drops the last byte's second digit
        {Packed(0, 1, 2, {50}), 0.5},
        {Packed(-2, 5, 1, {70}), 0.007}, // any sign but 0 and -1 is positive
        {Packed(3, 0, 4, {12, 34}), 0.0},
        {Packed(3, 1, 0, {}), 0.0},    // no digits is zero, not "the first digit"
        {Packed(3, -1, -5, {}), 0.0},  // nor is a negative count
        {Packed(2, 1, 2, {200}), 0.0}, // a byte above 99 gives the digits 0 0
        {Packed(2, 1, 4, {12, 255}), 12.0},
        {Packed(400, 1, 1, {10}), kInf},
        {Packed(INT32_MIN, 1, 2, {99}), 0.0}, // exponent - 1 computed without overflow
    };
    for (const Case& c : cases)
        EXPECT_EQ(MAPM_FloatToReal(c.number.data()), c.expected);
}

TEST(MAPM_FloatToReal, HugeDigitCountsReadOnlyTheFirstFortyDigits) {
    // The count claims a billion digits; only the 20 bytes of the first 40 are there (ASan checks the reads).
    std::vector<uint8> digits(20, 11);
    std::vector<uint8> number = Packed(1, 1, 1000000000, digits);
    double value = MAPM_FloatToReal(number.data());
    EXPECT_NEAR(value, 1.1111111111111111, 1e-15);
}

} // namespace
} // namespace vela
