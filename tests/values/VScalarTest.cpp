#include "values/VScalar.h"

#include "core/VString.h"
#include "files/VPtrStream.h"
#include "values/VCompareOptions.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VUUID.h"
#include "values/VValueInfo.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace vela {
namespace {

std::u16string Text(const VString& s) {
    return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

template <class V> std::u16string TextOf(const V& value) {
    VString out;
    value.GetString(out);
    return Text(out);
}

// Writes the value with the given byte order, then answers the bytes.
std::vector<uint8> StreamForm(const VValue& value, bool swap) {
    VPtrStream stream;
    stream.SetNeedSwap(swap);
    EXPECT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(value.WriteToStream(&stream), VE_OK);
    stream.CloseWriting();
    const auto* bytes = static_cast<const uint8*>(stream.GetDataPtr());
    return std::vector<uint8>(bytes, bytes + stream.GetDataSize());
}

VError ReadBack(VValue& value, const std::vector<uint8>& bytes, bool swap) {
    VConstPtrStream stream(bytes.data(), bytes.size());
    stream.SetNeedSwap(swap);
    EXPECT_EQ(stream.OpenReading(), VE_OK);
    return value.ReadFromStream(&stream);
}

// ---- Registry and descriptors

TEST(VScalarKinds, AreRegisteredAndGenerateZeroValuesOfTheirClass) {
    struct Case {
        uint16 kind;
        size_t size;
    };
    const Case cases[] = {{1, 1}, {2, 1}, {3, 2}, {4, 4}, {5, 8}, {6, 8}};
    for (const Case& c : cases) {
        const VValueInfo* info = VValue::ValueInfoFromValueKind(c.kind);
        ASSERT_NE(info, nullptr) << c.kind;
        EXPECT_EQ(info->GetAvgSpace(), c.size);
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(c.kind));
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->GetValueKind(), c.kind);
        EXPECT_FALSE(value->IsNull());
        EXPECT_EQ(value->IsVValueSingle()->GetLong8(), 0);
        EXPECT_EQ(value->GetSpace(), c.size);
    }
    EXPECT_EQ(VValue::ValueInfoFromValueKind(6), &VReal::sInfo);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(7), nullptr);
}

TEST(VScalarKinds, DescriptorsLoadSwapAndOrderStoredData) {
    const uint8 two = 2;
    std::unique_ptr<VValue> raw(VBoolean::sInfo.LoadFromPtr(&two));
    EXPECT_EQ(static_cast<VBoolean*>(raw.get())->Get(), 2); // the descriptor keeps the byte raw

    int32 big = 0x01020304;
    EXPECT_EQ(VLong::sInfo.ByteSwapPtr(&big, true), reinterpret_cast<char*>(&big) + 4);
    EXPECT_EQ(big, 0x04030201);

    const uint8 bytes[2] = {0x80, 0x01};
    EXPECT_EQ(VBoolean::sInfo.CompareTwoPtrToData(&bytes[0], &bytes[1]), CR_BIGGER); // unsigned
    EXPECT_EQ(VByte::sInfo.CompareTwoPtrToData(&bytes[0], &bytes[1]), CR_SMALLER);   // signed
    const int64 a = -5, b = 7;
    EXPECT_EQ(VLong8::sInfo.CompareTwoPtrToData(&a, &b), CR_SMALLER);
    EXPECT_EQ(VLong8::sInfo.CompareTwoPtrToDataWithOptions(&b, &a, VCompareOptions()), CR_BIGGER);
}

// ---- Integer setters cut to the datum's width

TEST(VIntegerScalars, SettersCutToTheWidth) {
    VByte byte;
    byte.FromLong(300);
    EXPECT_EQ(byte.Get(), 44);
    byte.FromBoolean(200);
    EXPECT_EQ(byte.Get(), -56);
    byte.FromReal(300.7); // truncated to 300, then the low 8 bits
    EXPECT_EQ(byte.Get(), 44);

    VWord word;
    word.FromLong8(0x12345678);
    EXPECT_EQ(word.Get(), 0x5678);
    word.FromReal(-70000.9);
    EXPECT_EQ(word.Get(), int16(-70000));

    VLong value;
    value.FromLong8(0x1'0000'0005);
    EXPECT_EQ(value.Get(), 5);
    value.FromReal(-2.9);
    EXPECT_EQ(value.Get(), -2);

    VLong8 wide;
    wide.FromBoolean(255);
    EXPECT_EQ(wide.Get(), 255); // zero-extended
    wide.FromByte(-1);
    EXPECT_EQ(wide.Get(), -1); // sign-extended
    wide.FromReal(3e10);
    EXPECT_EQ(wide.Get(), 30000000000);
}

TEST(VIntegerScalars, RealsThatDoNotFitGiveTheMinimum) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double x : {3e10, -3e10, nan, std::numeric_limits<double>::infinity()}) {
        VLong value(7);
        value.FromReal(x);
        EXPECT_EQ(value.Get(), INT32_MIN) << x;
        VByte byte(7);
        byte.FromReal(x);
        EXPECT_EQ(byte.Get(), 0) << x; // the low 8 bits of INT32_MIN
        VLong8 wide(7);
        wide.FromReal(x == 3e10 || x == -3e10 ? x * 1e10 : x);
        EXPECT_EQ(wide.Get(), INT64_MIN) << x;
    }
}

TEST(VIntegerScalars, GettersSignExtendOrKeepLowBits) {
    VLong8 wide(0x1'2345'8081);
    EXPECT_EQ(wide.GetByte(), int8(0x81));
    EXPECT_EQ(wide.GetWord(), int16(0x8081));
    EXPECT_EQ(wide.GetLong(), int32(0x23458081));
    EXPECT_TRUE(wide.GetBoolean());
    VByte byte(-3);
    EXPECT_EQ(byte.GetWord(), -3);
    EXPECT_EQ(byte.GetLong8(), -3);
    EXPECT_EQ(byte.GetReal(), -3.0);
    EXPECT_FALSE(VWord(0).GetBoolean());
}

TEST(VIntegerScalars, SettersClearNullAndSetDirty) {
    VLong value;
    value.SetNull(true);
    value.SetDirty(false);
    value.FromWord(-4);
    EXPECT_FALSE(value.IsNull());
    EXPECT_TRUE(value.IsDirty());
    value.SetNull(true);
    value.Clear();
    EXPECT_FALSE(value.IsNull());
    EXPECT_EQ(value.Get(), 0);
}

// ---- Text

TEST(VIntegerScalars, TextFormsAndParsing) {
    EXPECT_EQ(TextOf(VByte(-128)), u"-128");
    EXPECT_EQ(TextOf(VWord(-32768)), u"-32768");
    EXPECT_EQ(TextOf(VLong(INT32_MIN)), u"-2147483648");
    EXPECT_EQ(TextOf(VLong8(INT64_MIN)), u"-9223372036854775808");

    struct Case {
        const char* text;
        int64 asByte, asWord, asLong, asLong8;
    };
    const Case cases[] = {
        {"12", 12, 12, 12, 12},
        {"300", 44, 300, 300, 300},
        {"70000", 0, int16(70000), 70000, 70000}, // VByte reads a word: 0 when it does not fit 16 bits
        {"3000000000", 0, 0, 0, 3000000000},      // VWord and VLong read a long: 0 beyond 32 bits
        {"-1 234", int8(-1234), -1234, -1234, -1234},
        {"abc", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        VByte byte;
        VWord word;
        VLong value;
        VLong8 wide;
        byte.FromString(text);
        word.FromString(text);
        value.FromString(text);
        wide.FromString(text);
        EXPECT_EQ(byte.Get(), c.asByte) << c.text;
        EXPECT_EQ(word.Get(), c.asWord) << c.text;
        EXPECT_EQ(value.Get(), c.asLong) << c.text;
        EXPECT_EQ(wide.Get(), c.asLong8) << c.text;
    }
}

TEST(VIntegerScalars, NullTextGivesANullValue) {
    VString null(true);
    VLong value(5);
    value.FromString(null);
    EXPECT_TRUE(value.IsNull());
    EXPECT_EQ(value.Get(), 0);

    VLong8 wide(5); // VLong8 keeps its datum for a null text
    wide.FromString(null);
    EXPECT_TRUE(wide.IsNull());
    EXPECT_EQ(wide.Get(), 5);
    wide.FromString(VString("6"));
    EXPECT_FALSE(wide.IsNull());
    EXPECT_EQ(wide.Get(), 6);
}

// ---- Conversions through the value model

TEST(VIntegerScalars, ConvertToOtherKindsKeepsTheNullFlag) {
    VLong source(-300);
    std::unique_ptr<VValueSingle> byte(source.ConvertTo(VByte::kKind));
    ASSERT_NE(byte, nullptr);
    EXPECT_EQ(byte->GetLong(), int8(-300));
    std::unique_ptr<VValueSingle> text(source.ConvertTo(VString::kKind));
    EXPECT_EQ(Text(*static_cast<VString*>(text.get())), u"-300");
    std::unique_ptr<VValueSingle> real(source.ConvertTo(VReal::kKind));
    EXPECT_EQ(real->GetReal(), -300.0);

    source.SetNull(true);
    std::unique_ptr<VValueSingle> nullCopy(source.ConvertTo(VLong8::kKind));
    EXPECT_TRUE(nullCopy->IsNull());
}

TEST(VIntegerScalars, FromValueTakesTheSourcesNullFlag) {
    VReal source(70000.9);
    VWord word;
    word.FromValue(source); // VWord reads GetWord: the real truncated to int32, low 16 bits
    EXPECT_EQ(word.Get(), int16(70000));
    VByte byte;
    byte.FromValue(source);
    EXPECT_EQ(byte.Get(), int8(int16(70000)));
    source.SetNull(true);
    VLong8 wide(3);
    wide.FromValue(source);
    EXPECT_TRUE(wide.IsNull());
}

// ---- Comparison

TEST(VIntegerScalars, CompareAcrossKindsAndWithinTheKind) {
    EXPECT_EQ(VByte(-1).CompareTo(VLong(-1)), CR_EQUAL);
    EXPECT_EQ(VByte(-1).CompareTo(VLong(0)), CR_SMALLER);
    EXPECT_EQ(VLong(1).CompareTo(VReal(0.5)), CR_BIGGER);           // the real's GetLong is 0
    EXPECT_EQ(VLong(0).CompareTo(VLong8(0x1'0000'0000)), CR_EQUAL); // VLong compares with GetLong: low bits
    EXPECT_EQ(VLong8(0).CompareTo(VLong8(0x1'0000'0000)), CR_SMALLER);

    VWord a(-2), b(3);
    EXPECT_EQ(a.CompareToSameKind(&b), CR_SMALLER);
    EXPECT_EQ(b.CompareToSameKind(&a), CR_BIGGER);
    EXPECT_TRUE(a.EqualToSameKind(&a));
    const int16 stored = -2;
    EXPECT_TRUE(a.EqualToSameKindPtr(&stored));
    EXPECT_EQ(b.CompareToSameKindPtrWithOptions(&stored, VCompareOptions()), CR_BIGGER);
    EXPECT_EQ(b.Swap_CompareToSameKindPtr(&stored), CR_SMALLER);
}

// ---- Stored and stream forms

TEST(VIntegerScalars, StoredFormIsTheDatumInHostOrder) {
    uint8 buffer[9] = {};
    VLong8 wide(-2);
    EXPECT_EQ(wide.WriteToPtr(buffer + 1), buffer + 9); // unaligned
    VLong8 back;
    back.SetNull(true);
    EXPECT_EQ(back.LoadFromPtr(buffer + 1), buffer + 9);
    EXPECT_EQ(back.Get(), -2);
    EXPECT_FALSE(back.IsNull());

    int16 stored = 1234;
    VWord fromStorage(&stored, false);
    EXPECT_EQ(fromStorage.Get(), 1234);
    VWord initialised(&stored, true);
    EXPECT_EQ(initialised.Get(), 0);
}

TEST(VIntegerScalars, StreamFormsInBothByteOrders) {
    struct Case {
        std::unique_ptr<VValueSingle> value;
        std::vector<uint8> littleEndian;
    };
    std::vector<Case> cases;
    cases.push_back({std::make_unique<VByte>(-2), {0xFE, 0xFF}}); // 16 bits, sign-extended
    cases.push_back({std::make_unique<VWord>(0x1234), {0x34, 0x12}});
    cases.push_back({std::make_unique<VLong>(0x01020304), {4, 3, 2, 1}});
    cases.push_back({std::make_unique<VLong8>(-1), std::vector<uint8>(8, 0xFF)});
    for (const Case& c : cases) {
        for (bool swap : {false, true}) {
            std::vector<uint8> bytes = StreamForm(*c.value, swap);
            std::vector<uint8> expected = c.littleEndian;
            if (swap) expected.assign(c.littleEndian.rbegin(), c.littleEndian.rend());
            EXPECT_EQ(bytes, expected) << c.value->GetValueKind() << " swap " << swap;
            EXPECT_EQ(c.value->GetStreamSpace(), expected.size());

            std::unique_ptr<VValue> back(VValue::NewValueFromValueKind(c.value->GetValueKind()));
            back->SetNull(true); // reading leaves the flags alone
            EXPECT_EQ(ReadBack(*back, bytes, swap), VE_OK);
            EXPECT_TRUE(back->IsNull());
            EXPECT_EQ(back->IsVValueSingle()->GetLong8(), c.value->GetLong8());
        }
    }
}

TEST(VIntegerScalars, ShortStreamLeavesZeroAndAnswersTheStreamsError) {
    VLong value(9);
    EXPECT_EQ(ReadBack(value, {1, 2}, false), VE_STREAM_EOF);
    EXPECT_EQ(value.Get(), 0);
}

// ---- JSON

TEST(VIntegerScalars, FromJSONValueRoundsDownAndRefusesWhatDoesNotFit) {
    struct Case {
        double number;
        int32 asLong;
        int8 asByte;
        int64 asLong8;
    };
    const Case cases[] = {
        {2.7, 2, 2, 2},
        {-2.5, -3, -3, -3},
        {3e10, 0, 0, 30000000000},
        {-2147483648.0, INT32_MIN, 0, -2147483648LL},
        {200.0, 200, 0, 200},
        {-128.0, -128, -128, -128},
        {9223372036854775807.0, 0, 0, 0}, // 2^63 as a double
        {std::numeric_limits<double>::quiet_NaN(), 0, 0, 0},
    };
    for (const Case& c : cases) {
        VLong value(7);
        VByte byte(7);
        VLong8 wide(7);
        EXPECT_EQ(value.FromJSONValue(VJSONValue(c.number)), VE_OK);
        byte.FromJSONValue(VJSONValue(c.number));
        wide.FromJSONValue(VJSONValue(c.number));
        EXPECT_EQ(value.Get(), c.asLong) << c.number;
        EXPECT_EQ(byte.Get(), c.asByte) << c.number;
        EXPECT_EQ(wide.Get(), c.asLong8) << c.number;
        EXPECT_FALSE(value.IsNull());
    }
    VLong value(7);
    value.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(value.IsNull());
}

TEST(VIntegerScalars, JSONAndXMLForms) {
    VJSONValue json;
    EXPECT_EQ(VLong8(-12).GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsNumber());
    EXPECT_EQ(json.GetNumber(), -12.0);
    VLong null;
    null.SetNull(true);
    null.GetJSONValue(json);
    EXPECT_TRUE(json.IsNull());

    VString text;
    EXPECT_EQ(VWord(-7).GetJSONString(text), VE_OK);
    EXPECT_EQ(Text(text), u"-7");
    VLong value;
    EXPECT_TRUE(value.FromXMLString(VString("42")));
    EXPECT_EQ(value.Get(), 42);
}

// ---- VBoolean

TEST(VBoolean, SettersNormaliseExceptBooleanAndByte) {
    VBoolean value;
    value.FromBoolean(7);
    EXPECT_EQ(value.Get(), 7);
    value.FromByte(-1);
    EXPECT_EQ(value.Get(), 0xFF);
    value.FromLong8(0x1'0000'0000);
    EXPECT_EQ(value.Get(), 1);
    value.FromWord(0);
    EXPECT_EQ(value.Get(), 0);
    value.FromReal(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(value.Get(), 1);
    value.FromReal(-0.0);
    EXPECT_EQ(value.Get(), 0);
}

TEST(VBoolean, GettersExtendTheByte) {
    VBoolean value(0xFF);
    EXPECT_TRUE(value.GetBoolean());
    EXPECT_EQ(value.GetByte(), -1);
    EXPECT_EQ(value.GetWord(), 255);
    EXPECT_EQ(value.GetLong8(), 255);
    EXPECT_EQ(value.GetReal(), 255.0);
}

TEST(VBoolean, CompareUsesRawBytesWithinTheKind) {
    VBoolean two(2), one(1), zero(0);
    EXPECT_FALSE(two.EqualToSameKind(&one)); // raw bytes
    EXPECT_EQ(two.CompareToSameKind(&one), CR_BIGGER);
    EXPECT_EQ(zero.CompareToSameKind(&one), CR_SMALLER);
    EXPECT_EQ(two.CompareTo(VLong(5)), CR_BIGGER); // 2 against GetBoolean 1
    EXPECT_EQ(one.CompareTo(VLong(5)), CR_EQUAL);
    EXPECT_EQ(zero.CompareTo(VLong(5)), CR_SMALLER);
    EXPECT_EQ(one.CompareTo(VLong(0)), CR_BIGGER);
}

TEST(VBoolean, TextXMLAndJSONForms) {
    EXPECT_EQ(TextOf(VBoolean(1)), u"true");
    EXPECT_EQ(TextOf(VBoolean(0)), u"false");
    VBoolean null(1);
    null.SetNull(true);
    VString text;
    null.GetXMLString(text); // the null flag is not consulted
    EXPECT_EQ(Text(text), u"true");
    VBoolean(2).GetJSONString(text);
    EXPECT_EQ(Text(text), u"true");

    struct Case {
        const char* text;
        bool accepted;
        uint8 datum;
    };
    const Case cases[] = {{"TRUE", true, 1}, {"tRuE", true, 1},   {"1", true, 1}, {"0", true, 0},  {"False", true, 0},
                          {"yes", false, 9}, {"true ", false, 9}, {"", false, 9}, {"2", false, 9}, {"truex", false, 9}};
    for (const Case& c : cases) {
        VBoolean value(9);
        value.SetNull(true);
        EXPECT_EQ(value.FromXMLString(VString(c.text)), c.accepted) << c.text;
        EXPECT_EQ(value.Get(), c.datum) << c.text;
        EXPECT_EQ(value.IsNull(), !c.accepted) << c.text;

        VBoolean json(9);
        EXPECT_EQ(json.FromJSONString(VString(c.text)), VE_OK);
        EXPECT_EQ(json.Get(), c.accepted ? c.datum : 0) << c.text;
    }
}

TEST(VBoolean, JSONValues) {
    VBoolean value;
    value.FromJSONValue(VJSONValue(JSON_true));
    EXPECT_EQ(value.Get(), 1);
    value.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(value.IsNull());
    VJSONValue json;
    value.GetJSONValue(json);
    EXPECT_TRUE(json.IsNull());
    VBoolean(3).GetJSONValue(json);
    EXPECT_EQ(json.GetType(), JSON_true);
    VBoolean(0).GetJSONValue(json);
    EXPECT_EQ(json.GetType(), JSON_false);
}

TEST(VBoolean, StoredAndStreamFormsNormalise) {
    uint8 byte = 0;
    VBoolean(5).WriteToPtr(&byte);
    EXPECT_EQ(byte, 1);
    byte = 0x40;
    VBoolean loaded;
    loaded.LoadFromPtr(&byte);
    EXPECT_EQ(loaded.Get(), 1);
    EXPECT_EQ(VBoolean(&byte, false).Get(), 1);

    std::vector<uint8> bytes = StreamForm(VBoolean(5), true);
    EXPECT_EQ(bytes, (std::vector<uint8>{0, 5})); // the datum byte in a 16-bit integer
    VBoolean back;
    EXPECT_EQ(ReadBack(back, bytes, true), VE_OK);
    EXPECT_EQ(back.Get(), 1);
    EXPECT_EQ(VBoolean().GetStreamSpace(), 2u);
}

TEST(VBoolean, CloneKeepsTheFlagsAndSetsDirty) {
    VBoolean value(2);
    value.SetNull(true);
    value.SetDirty(false);
    std::unique_ptr<VValue> clone(value.Clone());
    EXPECT_TRUE(clone->IsNull());
    EXPECT_TRUE(clone->IsDirty());
    EXPECT_EQ(static_cast<VBoolean*>(clone.get())->Get(), 2);
}

// ---- JSON scalars of the value model

TEST(ConvertVValueToJSONScalar, IntegersBecomeRealsIdentifiersTextOthersClones) {
    VLong8 wide(5);
    wide.SetNull(true);
    std::unique_ptr<VValueSingle> real(VValueSingle::ConvertVValueToJSONScalar(wide));
    EXPECT_EQ(real->GetValueKind(), VReal::kKind);
    EXPECT_TRUE(real->IsNull());

    std::unique_ptr<VValueSingle> fromWord(VValueSingle::ConvertVValueToJSONScalar(VWord(-3)));
    EXPECT_EQ(fromWord->GetValueKind(), VReal::kKind);
    EXPECT_EQ(fromWord->GetReal(), -3.0);

    VUUID id("00112233445566778899AABBCCDDEEFF");
    std::unique_ptr<VValueSingle> text(VValueSingle::ConvertVValueToJSONScalar(id));
    ASSERT_EQ(text->GetValueKind(), VString::kKind);
    EXPECT_EQ(Text(*static_cast<VString*>(text.get())), u"00112233445566778899AABBCCDDEEFF");

    VDuration duration(1500);
    std::unique_ptr<VValueSingle> seconds(VValueSingle::ConvertVValueToJSONScalar(duration));
    ASSERT_EQ(seconds->GetValueKind(), VReal::kKind);
    EXPECT_EQ(seconds->GetReal(), 1.5);
    std::unique_ptr<VValueSingle> milliseconds(VValueSingle::ConvertVValueToJSONScalar(duration, true));
    EXPECT_EQ(milliseconds->GetReal(), 1500.0);
    duration.SetNull(true);
    std::unique_ptr<VValueSingle> none(VValueSingle::ConvertVValueToJSONScalar(duration, true));
    EXPECT_TRUE(none->IsNull());

    for (const VValueSingle* value :
         std::initializer_list<const VValueSingle*>{new VBoolean(1), new VReal(2.5), new VString("x")}) {
        std::unique_ptr<const VValueSingle> owned(value);
        std::unique_ptr<VValueSingle> clone(VValueSingle::ConvertVValueToJSONScalar(*value));
        EXPECT_EQ(clone->GetValueKind(), value->GetValueKind());
        EXPECT_TRUE(clone->EqualTo(*value));
    }
}

// Kinds that no class of the library has: a stand-in value answering a number and a text under any kind.
class VOtherKindInfo : public VValueInfo {
public:
    // Registered under a true kind far from the library's, so that it shadows none of them.
    explicit VOtherKindInfo(uint16 kind) : VValueInfo(kind, uint16(40000 + kind)) {}
    VValue* Generate() const override { return nullptr; }
    VValue* LoadFromPtr(const void*, bool) const override { return nullptr; }
    void* ByteSwapPtr(void* data, bool) const override { return data; }
};

class VOtherKindValue : public VValueSingle {
public:
    explicit VOtherKindValue(uint16 kind) : fInfo(kind) {}
    const VValueInfo* GetValueInfo() const override { return &fInfo; }
    double GetReal() const override { return 7.25; }
    void GetString(VString& out) const override { out.FromCString("other"); }
    VValue* Clone() const override { return nullptr; }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_UNRELEVANT; }

private:
    VOtherKindInfo fInfo;
};

TEST(ConvertVValueToJSONScalar, OtherNumericKindsBecomeRealsAndTextKindsStrings) {
    for (uint16 kind : {7, 16}) {
        VOtherKindValue value(kind);
        std::unique_ptr<VValueSingle> real(VValueSingle::ConvertVValueToJSONScalar(value));
        ASSERT_EQ(real->GetValueKind(), VReal::kKind) << kind;
        EXPECT_EQ(real->GetReal(), 7.25) << kind;
        EXPECT_FALSE(real->IsNull()) << kind;
        EXPECT_TRUE(real->IsDirty()) << kind;
        value.SetNull(true);
        std::unique_ptr<VValueSingle> none(VValueSingle::ConvertVValueToJSONScalar(value));
        EXPECT_TRUE(none->IsNull()) << kind;
    }
    for (uint16 kind : {14, 17, 19, 20}) {
        VOtherKindValue value(kind);
        std::unique_ptr<VValueSingle> text(VValueSingle::ConvertVValueToJSONScalar(value));
        ASSERT_EQ(text->GetValueKind(), VString::kKind) << kind;
        EXPECT_EQ(Text(*static_cast<VString*>(text.get())), u"other") << kind;
    }
}

} // namespace
} // namespace vela

namespace vela {
namespace {

// Numbers are seconds when they meet durations, both ways.
TEST(ScalarDurations, NumbersAreSeconds) {
    VDuration duration;
    VLong(5).GetDuration(duration);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 5000);
    VReal(1.5).GetDuration(duration);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 1500);

    VLong whole;
    whole.FromDuration(VDuration(90500));
    EXPECT_EQ(whole.Get(), 90);
    VReal real;
    real.FromDuration(VDuration(90500));
    EXPECT_EQ(real.GetReal(), 90.5);
    VBoolean flag;
    flag.FromDuration(VDuration(0));
    EXPECT_FALSE(flag.GetBoolean());
}

} // namespace
} // namespace vela
