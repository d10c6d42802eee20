#include "core/platform/XICUTextConverter.h"

#include "core/VMemoryBuffer.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/VTextConverters.h"
#include "intl/platform/XPosixIntlMgr.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

using Buffer = VMemoryBuffer<1024, 2, 1048576>;

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

VRefPtr<VToUnicodeConverter> Decoder(CharSet charSet) {
    return VRefPtr<VToUnicodeConverter>::Adopt(VTextConverters::Get()->RetainToUnicodeConverter(charSet));
}

VRefPtr<VFromUnicodeConverter> Encoder(CharSet charSet) {
    return VRefPtr<VFromUnicodeConverter>::Adopt(VTextConverters::Get()->RetainFromUnicodeConverter(charSet));
}

std::string EncodeWhole(CharSet charSet, const std::u16string& text, bool* ok = nullptr) {
    Buffer buffer;
    bool done = Encoder(charSet)->ConvertToBuffer(text.data(), int32(text.size()), buffer, 0);
    if (ok != nullptr) *ok = done;
    return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
}

std::u16string DecodeWhole(CharSet charSet, const std::string& bytes, size_t* consumed = nullptr) {
    VString text;
    size_t used = 0;
    Decoder(charSet)->ConvertString(bytes.data(), bytes.size(), &used, text);
    if (consumed != nullptr) *consumed = used;
    return Units(text);
}

TEST(XICUTextConverter, LegacyCodePagesRoundTrip) {
    struct Case {
        CharSet charSet;
        std::u16string text;
        std::string bytes;
    };
    const Case cases[] = {
        {VTC_Win1252, u"\u20ACt\u00E9\u2026", "\x80t\xE9\x85"},
        {VTC_ShiftJIS, u"a\u65E5\u672C\u8A9E", "a\x93\xFA\x96\x7B\x8C\xEA"},
        {VTC_Windows31J, u"\u65E5", "\x93\xFA"},
        {VTC_ISO8859_1, u"caf\u00E9", "caf\xE9"},
        {VTC_ISO8859_15, u"\u20AC", "\xA4"},
        {VTC_MacRoman, u"\u00E9\u2122", "\x8E\xAA"},
        {VTC_KOI8R, u"\u0416", "\xF6"},
        {VTC_EBCDIC_037, u"A1", "\xC1\xF1"},
        {VTC_UTF_7, u"\u00E9", "+AOk-"},
        {VTC_ISO2022JP, u"\u65E5a", "\x1B$BF|\x1B(Ba"},
        {VTC_ISO2022JP, u"a\u65E5", "a\x1B$BF|\x1B(B"}, // back to ASCII at the end of the text
        {VTC_SystemDefault, u"\u00E9\U0001F600", "\xC3\xA9\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        bool ok = false;
        EXPECT_EQ(EncodeWhole(c.charSet, c.text, &ok), c.bytes) << c.charSet;
        EXPECT_TRUE(ok) << c.charSet;
        size_t consumed = 0;
        EXPECT_EQ(DecodeWhole(c.charSet, c.bytes, &consumed), c.text) << c.charSet;
        EXPECT_EQ(consumed, c.bytes.size()) << c.charSet;
    }
}

TEST(XICUTextConverter, EveryMappedSetHasAConverter) {
    for (int32 value = -2; value <= 1100; ++value) {
        CharSet charSet = CharSet(value);
        if (GetICUConverterName(charSet) == nullptr) continue;
        EXPECT_TRUE(Decoder(charSet)->IsValid()) << value;
        EXPECT_TRUE(Encoder(charSet)->IsValid()) << value;
    }
    EXPECT_EQ(GetICUConverterName(VTC_MacArabic), nullptr);
    EXPECT_EQ(GetICUConverterName(VTC_UTF_8), nullptr); // served by the built-in converters
    EXPECT_EQ(XPosixIntlMgr::NewToUnicodeConverter(VTC_MacHebrew), nullptr);
    EXPECT_EQ(XPosixIntlMgr::NewFromUnicodeConverter(CharSet(4242)), nullptr);
}

TEST(XICUTextConverter, ConvertStringContinuesACharacterSplitBetweenCalls) {
    auto decoder = Decoder(VTC_ShiftJIS);
    VString text;
    size_t consumed = 0;
    EXPECT_TRUE(decoder->ConvertString("\x93\xFA\x96", 3, &consumed, text));
    EXPECT_EQ(consumed, 2u); // the lead byte of the second character waits
    EXPECT_EQ(Units(text), u"\u65E5");
    EXPECT_TRUE(decoder->ConvertString("\x96\x7B\x8C\xEA", 4, &consumed, text));
    EXPECT_EQ(consumed, 4u);
    EXPECT_EQ(Units(text), u"\u65E5\u672C\u8A9E");

    // A new text that does not take up the waiting byte starts afresh.
    EXPECT_TRUE(decoder->ConvertString("\x93", 1, &consumed, text));
    EXPECT_EQ(consumed, 0u);
    VString fresh;
    EXPECT_TRUE(decoder->ConvertString("abc", 3, &consumed, fresh));
    EXPECT_EQ(consumed, 3u);
    EXPECT_EQ(Units(fresh), u"abc");
}

TEST(XICUTextConverter, StatefulSetsKeepTheirShiftAcrossCalls) {
    auto decoder = Decoder(VTC_ISO2022JP);
    VString text;
    size_t consumed = 0;
    EXPECT_TRUE(decoder->ConvertString("\x1B$BF|", 5, &consumed, text));
    EXPECT_EQ(consumed, 5u);
    EXPECT_TRUE(decoder->ConvertString("K\\\x1B(Ba", 6, &consumed, text));
    EXPECT_EQ(Units(text), u"\u65E5\u672Ca");
}

TEST(XICUTextConverter, UndecodableBytesAreSubstitutedAndReported) {
    auto decoder = Decoder(VTC_US_ASCII);
    VString text;
    size_t consumed = 0;
    EXPECT_FALSE(decoder->ConvertString("a\x80z", 3, &consumed, text));
    EXPECT_EQ(consumed, 3u);
    ASSERT_EQ(text.GetLength(), 3);
    EXPECT_EQ(text.GetUniChar(1), u'a');
    EXPECT_NE(text.GetUniChar(2), u'\x80');
    EXPECT_EQ(text.GetUniChar(3), u'z');
}

TEST(XICUTextConverter, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(EncodeWhole(VTC_ISO8859_1, u"a\u20ACb\U0001F600c"), "a?b?c");
    EXPECT_EQ(EncodeWhole(VTC_Win1252, u"\u4E2D"), "?");
    // A complete text ending in a lone high surrogate: substituted, never an endless loop.
    bool ok = false;
    EXPECT_EQ(EncodeWhole(VTC_ISO8859_1, u"ok\xD800", &ok), "ok?");
    EXPECT_TRUE(ok);
}

TEST(XICUTextConverter, OnlyBytesReallyWrittenAreCounted) {
    auto encoder = Encoder(VTC_ShiftJIS);
    std::u16string text = u"a\u65E5";
    char out[4] = {'#', '#', '#', '#'};
    int32 consumed = 0;
    size_t produced = 0;
    EXPECT_TRUE(encoder->Convert(text.data(), int32(text.size()), &consumed, out, 2, &produced));
    EXPECT_EQ(produced, 2u);
    EXPECT_EQ(out[2], '#');
    // The byte that did not fit comes out first on the next call.
    size_t more = 0;
    EXPECT_TRUE(encoder->Convert(text.data() + consumed, int32(text.size()) - consumed, &consumed, out + 2, 2, &more));
    EXPECT_EQ(std::string(out, 2 + more), "a\x93\xFA");

    // No room: nothing done.
    auto latin = Encoder(VTC_ISO8859_1);
    EXPECT_TRUE(latin->Convert(text.data(), 1, &consumed, out, 0, &produced));
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(produced, 0u);
}

TEST(XICUTextConverter, NullDestinationCountsTheWholeText) {
    auto encoder = Encoder(VTC_ShiftJIS);
    std::u16string text = u"a\u65E5\u672C" + std::u16string(3000, u'x');
    int32 consumed = 0;
    size_t produced = 0;
    EXPECT_TRUE(encoder->Convert(text.data(), int32(text.size()), &consumed, nullptr, 0, &produced));
    EXPECT_EQ(consumed, int32(text.size()));
    EXPECT_EQ(produced, 5u + 3000u);
}

TEST(XICUTextConverter, LargeTextsGoThroughTheBufferLoop) {
    std::u16string text;
    std::string expected;
    for (int i = 0; i < 4000; ++i) {
        text += u"\u65E5a";
        expected += "\x93\xFA"
                    "a";
    }
    EXPECT_EQ(EncodeWhole(VTC_ShiftJIS, text), expected);
    EXPECT_EQ(DecodeWhole(VTC_ShiftJIS, expected), text);
}

} // namespace
} // namespace vela
