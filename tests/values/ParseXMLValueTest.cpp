#include "values/ParseXMLValue.h"

#include "core/VString.h"
#include "support/RecordingIntlMgr.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VUUID.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace vela {
namespace {

std::unique_ptr<VValueSingle> Parse(const std::u16string& text) {
    return std::unique_ptr<VValueSingle>(ParseXMLValue(VString(text.c_str())));
}

std::u16string TextOf(const VValueSingle& value) {
    VString text;
    value.GetString(text);
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

TEST(ParseXMLValue, KindsAndTexts) {
    struct Case {
        std::u16string text;
        uint16 kind;
        std::u16string expected; // the value's text
    } cases[] = {
        {u" 42 ", VLong::kKind, u"42"},
        {u"007", VLong::kKind, u"7"},
        {u"-0", VLong::kKind, u"0"},
        {u"2147483647", VLong::kKind, u"2147483647"},
        {u"\u22122147483647", VLong::kKind, u"-2147483647"},
        {u"-2147483648", VLong8::kKind, u"-2147483648"}, // a magnitude of 2^31 is no long, even negative
        {u"3000000000", VLong8::kKind, u"3000000000"},
        {u"+9223372036854775807", VLong8::kKind, u"9223372036854775807"},
        {u"9223372036854775808", VString::kKind, u"9223372036854775808"},
        {u"03000000000", VString::kKind, u"03000000000"},
        {u"1.5e3", VReal::kKind, u"1500"},
        {u"-2.5E\u22121", VReal::kKind, u"-0.25"},
        {u"1e+2", VReal::kKind, u"100"},
        {u"1e400", VString::kKind, u"1e400"},
        {u"1.", VString::kKind, u"1."},
        {u".5", VString::kKind, u".5"},
        {u"1e", VString::kKind, u"1e"},
        {u"1 2", VString::kKind, u"1 2"},
        {u"true", VBoolean::kKind, u"true"},
        {u"false", VBoolean::kKind, u"false"},
        {u"+true", VString::kKind, u"+true"},
        {u"True", VString::kKind, u"True"},
        {u"-NaN", VString::kKind, u"-NaN"},
        {u"+INF", VString::kKind, u"+INF"},
        {u"  hello ", VString::kKind, u"  hello "}, // kept as given
        {u"", VString::kKind, u""},
        {u"00112233445566778899AABBCCDDEEFF", VUUID::kKind, u"00112233445566778899AABBCCDDEEFF"},
        {u"f0112233445566778899aabbccddeeff", VUUID::kKind, u"F0112233445566778899AABBCCDDEEFF"},
        {u"{00112233-4455-6677-8899-AABBCCDDEEFF}", VUUID::kKind, u"00112233445566778899AABBCCDDEEFF"},
        {u"0\u22120112233445566778899AABBCCDDEEFF", VUUID::kKind, u"00112233445566778899AABBCCDDEEFF"},
        {u"a0112233445566778899AABBCCDDEEFF", VString::kKind, u"a0112233445566778899AABBCCDDEEFF"},
        {u"A0112233445566778899AABBCCDDEEFF", VString::kKind, u"A0112233445566778899AABBCCDDEEFF"},
        {u"-00112233445566778899AABBCCDDEEFF", VString::kKind, u"-00112233445566778899AABBCCDDEEFF"},
        {u"-0112233445566778899AABBCCDDEEFF0", VString::kKind, u"-0112233445566778899AABBCCDDEEFF0"},
        {u"00112233445566778899AABBCCDDEEFF-", VString::kKind, u"00112233445566778899AABBCCDDEEFF-"},
        {u"{00112233445566778899AABBCCDDEEFF", VString::kKind, u"{00112233445566778899AABBCCDDEEFF"},
        {u"00112233445566778899AABBCCDDEEFF0", VString::kKind, u"00112233445566778899AABBCCDDEEFF0"},
        {u"0011223344556677", VString::kKind, u"0011223344556677"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<VValueSingle> value = Parse(c.text);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->GetTrueValueKind(), c.kind) << "case " << (&c - cases);
        EXPECT_EQ(TextOf(*value), c.expected) << "case " << (&c - cases);
    }
}

TEST(ParseXMLValue, InfinitiesAndNaN) {
    struct Case {
        const char16_t* text;
        double expected; // NaN stands for NaN
    } cases[] = {
        {u"INF", HUGE_VAL},
        {u"-INF", -HUGE_VAL},
        {u"\u2212INF", -HUGE_VAL},
        {u"NaN", NAN},
    };
    for (const Case& c : cases) {
        std::unique_ptr<VValueSingle> value = Parse(c.text);
        ASSERT_EQ(value->GetTrueValueKind(), VReal::kKind) << "case " << (&c - cases);
        if (std::isnan(c.expected))
            EXPECT_TRUE(std::isnan(value->GetReal()));
        else
            EXPECT_EQ(value->GetReal(), c.expected);
    }
}

TEST(ParseXMLValue, LongNumbersAreReadWhole) {
    // 5 × 10^-221 × 10^221: a text cut anywhere before its end would read otherwise.
    const std::u16string text = u"0." + std::u16string(220, u'0') + u"5e221";
    std::unique_ptr<VValueSingle> value = Parse(text);
    ASSERT_EQ(value->GetTrueValueKind(), VReal::kKind);
    EXPECT_DOUBLE_EQ(value->GetReal(), 5.0);
}

TEST(ParseXMLValue, WhiteSpaceIsTheCurrentManagers) {
    EXPECT_EQ(Parse(u"\t42")->GetTrueValueKind(), VString::kKind); // tab is no white space by default

    test::FakeIntlMgrScope fake; // only "_" is white space
    std::unique_ptr<VValueSingle> value = Parse(u"__42_");
    EXPECT_EQ(value->GetTrueValueKind(), VLong::kKind);
    EXPECT_EQ(value->GetLong(), 42);
    EXPECT_EQ(Parse(u" 42")->GetTrueValueKind(), VString::kKind);
}

TEST(ParseXMLValue, UUIDTextParser) {
    VUUIDBuffer buffer;
    const std::u16string text = u"{0-1-2-3-4-5-6-7-8-9-a-b-c-d-e-f-00112233445566-77}";
    ASSERT_TRUE(ParseXMLUUID(text.data(), int32(text.size()), buffer));
    const uint8 expected[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    EXPECT_EQ(std::memcmp(buffer.fBytes, expected, 16), 0);

    for (const std::u16string& refused :
         {std::u16string(u"0011223344556677889"), // too short
          std::u16string(u"00112233445566778899AABBCCDDEEFG"), std::u16string(u"--00112233445566778899AABBCCDDEEFF"),
          std::u16string(u"{00112233445566778899AABBCCDDEEFF}}")})
        EXPECT_FALSE(ParseXMLUUID(refused.data(), int32(refused.size()), buffer)) << "length " << refused.size();
}

} // namespace
} // namespace vela
