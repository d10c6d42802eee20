#include "core/CVSTR.h"
#include "core/StStringConverter.h"
#include "core/VMemoryBuffer.h"
#include "core/VOsTypeString.h"
#include "core/VString.h"
#include "support/RecordingRaiser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vela {
namespace {

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

VString Make(const std::u16string& units) {
    VString text;
    text.FromUniString(units.data(), int32(units.size()));
    return text;
}

// ---- XML

TEST(VStringXML, TranscodeToXMLEscapesMarkupAndOptionallyControls) {
    struct Case {
        std::u16string text;
        bool controls;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"a<b & 'c'", false, u"a&lt;b &amp; &apos;c&apos;"},
        {u"\"x>y\"", false, u"&quot;x&gt;y&quot;"},
        {u"\u0001", false, u"\u0001"},
        {u"\u0001", true, u"&#x01;"},
        {u"a\u001Fb\u007F", true, u"a&#x1F;b&#x7F;"},
        {std::u16string(1, u'\0'), true, u"&#x00;"},
        {u"\t\n\r", true, u"\t\n\r"},
        {u"\u00E9\U0001F600", true, u"\u00E9\U0001F600"},
        {u"", true, u""},
    };
    for (const Case& c : cases) {
        VString text = Make(c.text);
        text.TranscodeToXML(c.controls);
        EXPECT_EQ(Units(text), c.expected);
    }
}

TEST(VStringXML, TextWithoutEscapesIsLeftUntouched) {
    VString original("plain text that needs no escape at all");
    VString text(original);
    text.TranscodeToXML(true);
    text.TranscodeFromXML();
    EXPECT_EQ(text.GetCPointer(), original.GetCPointer()); // still sharing: nothing was rebuilt
    EXPECT_EQ(original.GetSharedBufferRefCount(), 2);
}

TEST(VStringXML, TranscodeFromXMLResolvesKnownReferencesOnly) {
    struct Case {
        std::u16string text, expected;
    };
    const Case cases[] = {
        {u"&lt;&#x41;&#x0;&foo;", u"<A&#x0;&foo;"},
        {u"&apos;&quot;&amp;&gt;", u"'\"&>"},
        {u"&amp;lt;", u"&lt;"}, // one level only
        {u"&#x00000041;&#xe9;", u"A\u00E9"},
        {u"&#x41", u"&#x41"},             // unterminated
        {u"&#x;", u"&#x;"},               // no digit
        {u"&#X41;&#65;", u"&#X41;&#65;"}, // only "&#x" is decoded
        {u"&amp", u"&amp"},
        {u"a & b &", u"a & b &"},
        {u"&&lt;", u"&<"},
    };
    for (const Case& c : cases) {
        VString text = Make(c.text);
        text.TranscodeFromXML();
        EXPECT_EQ(Units(text), c.expected) << std::string(c.text.begin(), c.text.end());
    }
}

// References beyond U+FFFF become a surrogate pair; values no character has stay as written (no modulo 65536).
TEST(VStringXML, HexReferencesGiveScalarValuesOrStayAsText) {
    struct Case {
        std::u16string text, expected;
    };
    const Case cases[] = {
        {u"&#x1F600;", u"\U0001F600"},
        {u"&#x10000;", u"\U00010000"},
        {u"&#x10FFFF;", u"\U0010FFFF"},
        {u"&#x10041;", u"\U00010041"},
        {u"&#x110000;", u"&#x110000;"},
        {u"&#x110041;", u"&#x110041;"},
        {u"&#xFFFFFFFFFFFFFFFF00041;", u"&#xFFFFFFFFFFFFFFFF00041;"},
        {u"&#xD800;", u"&#xD800;"},
        {u"&#xDFFF;", u"&#xDFFF;"},
        {u"&#x10000000;", u"&#x10000000;"},
        {u"&#xFFFF;", u"\uFFFF"},
    };
    for (const Case& c : cases) {
        VString text = Make(c.text);
        text.TranscodeFromXML();
        EXPECT_EQ(Units(text), c.expected) << std::string(c.text.begin(), c.text.end());
    }
}

TEST(VStringXML, GetAndFromXMLStringRoundTrip) {
    VString text(u"<a href='x'>\u0001 & \U0001F600</a>");
    VString xml;
    text.GetXMLString(xml, 0xFFFF);
    EXPECT_EQ(Units(xml), u"&lt;a href=&apos;x&apos;&gt;\u0001 &amp; \U0001F600&lt;/a&gt;");
    VString back("previous");
    EXPECT_TRUE(back.FromXMLString(xml));
    EXPECT_EQ(Units(back), Units(text));
}

// ---- JSON

TEST(VStringJSON, GetJSONStringEscapesByOptions) {
    struct Case {
        std::u16string text;
        uint32 options;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"a\"b", 1, u"\"a\\\"b\""},
        {u"\u001F", 0, u"\\u001F"},
        {u"&'", 1024, u"\\u0026\\u0027"},
        {u"&'", 0, u"&'"},
        {u"\b\t\n\f\r\\/", 0, u"\\b\\t\\n\\f\\r\\\\/"},
        {std::u16string(u"\u0000\u000B\u007F\u0080\u00E9", 5), 0, u"\\u0000\\u000B\\u007F\u0080\u00E9"},
        {u"", 1, u"\"\""},
        {u"a\"\n", 16, u"a\"\n"},
        {u"a\"\n", 17, u"\"a\"\n\""},
    };
    for (const Case& c : cases) {
        VString text = Make(c.text);
        VString json("previous");
        EXPECT_EQ(text.GetJSONString(json, c.options), VE_OK);
        EXPECT_EQ(Units(json), c.expected) << c.options;
    }
}

TEST(VStringJSON, FromJSONStringResolvesEscapes) {
    struct Case {
        std::u16string json, expected;
    };
    const Case cases[] = {
        {u"\\u00e9x", u"\u00E9x"},
        {u"ab\\", u"ab"},
        {u"ab\\u12", u"abu"}, // fewer than four behind "\u": a plain "u" ends the text
        {u"ab\\u123", u"abu"},
        {u"\\u0g41z", u"Az"}, // a non-hexadecimal unit among the four is skipped
        {u"\\uzzzzq", std::u16string(1, u'\0') + u"q"},
        {u"\\\"\\\\\\/\\q", u"\"\\/q"},
        {u"\\b\\f\\n\\r\\t", u"\b\f\n\r\t"},
        {u"\\uD83D\\uDE00", u"\U0001F600"},
        {u"", u""},
    };
    for (const Case& c : cases) {
        VString text("previous");
        EXPECT_EQ(text.FromJSONString(Make(c.json)), VE_OK);
        EXPECT_EQ(Units(text), c.expected) << std::string(c.json.begin(), c.json.end());
        EXPECT_FALSE(text.IsNull());
    }
    VString raw;
    raw.FromJSONString(VString(u"a\\nb"), 16);
    EXPECT_EQ(Units(raw), u"a\\nb");
}

TEST(VStringJSON, WorksInPlaceAndRoundTrips) {
    VString text(u"line\n\"quoted\" \\ & '\u0001\u00E9");
    VString original(text);
    text.GetJSONString(text, 1024);
    EXPECT_EQ(Units(text), u"line\\n\\\"quoted\\\" \\\\ \\u0026 \\u0027\\u0001\u00E9");
    text.FromJSONString(text);
    EXPECT_EQ(Units(text), Units(original));
}

TEST(VStringJSON, GetCleanJSName) {
    struct Case {
        std::u16string text, expected;
    };
    const Case cases[] = {
        {u"1a-b$", u"_1ab$"}, {u"a b_c", u"ab_c"}, {u"\u00E9t\u00E9", u"t"}, {u"", u""}, {u"-9", u"9"},
    };
    for (const Case& c : cases) {
        VString text = Make(c.text);
        VString name("previous");
        text.GetCleanJSName(name);
        EXPECT_EQ(Units(name), c.expected);
        text.GetCleanJSName(text);
        EXPECT_EQ(Units(text), c.expected);
    }
}

// ---- Base64

TEST(VStringBase64, EncodesBytesAndTextInACharacterSet) {
    VString text("previous");
    EXPECT_TRUE(text.EncodeBase64("\xFB\xFF", 2, false));
    EXPECT_EQ(Units(text), u"+/8=");
    EXPECT_TRUE(text.EncodeBase64("\xFB\xFF", 2, true));
    EXPECT_EQ(Units(text), u"-_8");
    EXPECT_FALSE(text.EncodeBase64(nullptr, 2, false));
    EXPECT_EQ(Units(text), u"-_8");

    VString word(u"h\u00E9");
    EXPECT_TRUE(word.EncodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(Units(word), u"aMOp");
    EXPECT_TRUE(word.DecodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(Units(word), u"h\u00E9");

    VString latin(u"h\u00E9");
    EXPECT_TRUE(latin.EncodeBase64(VTC_ISO8859_1, true));
    EXPECT_EQ(Units(latin), u"aOk");
    EXPECT_TRUE(latin.DecodeBase64(VTC_ISO8859_1, true));
    EXPECT_EQ(Units(latin), u"h\u00E9");

    VString empty, null(true);
    EXPECT_TRUE(empty.EncodeBase64(VTC_UTF_8));
    EXPECT_TRUE(null.DecodeBase64(VTC_UTF_8));
    EXPECT_TRUE(null.IsNull());
    EXPECT_EQ(empty.GetLength(), 0);
}

TEST(VStringBase64, DecodeRefusesNonASCIIWithError210) {
    test::RecordingRaiser raiser;
    VString text(u"Zm9v\u00E9");
    VMemoryBuffer<> out;
    EXPECT_FALSE(text.DecodeBase64(out, false));
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_STREAM_TEXT_CONVERSION_FAILURE});
    EXPECT_FALSE(text.DecodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(Units(text), u"Zm9v\u00E9");
}

TEST(VStringBase64, InvalidTextStaysAndDecodesIntoBuffers) {
    VString bad("Zm9v!");
    EXPECT_FALSE(bad.DecodeBase64(VTC_UTF_8));
    EXPECT_EQ(Units(bad), u"Zm9v!");

    VMemoryBuffer<> out;
    EXPECT_TRUE(VString("Zm9v\r\nYmFy").DecodeBase64(out, false));
    EXPECT_EQ(std::string(static_cast<const char*>(out.GetDataPtr()), out.GetDataSize()), "foobar");
}

// ---- Line ends

TEST(VStringLineEnds, GetCarriageReturnModeLooksAtTheFirstLineEnd) {
    struct Case {
        std::u16string text;
        ECarriageReturnMode expected;
    };
    const Case cases[] = {
        {u"a\rb", eCRM_CR},   {u"a\r\nb", eCRM_CRLF}, {u"a\nb\r\n", eCRM_LF}, {u"ab\r", eCRM_CR},
        {u"ab", eCRM_NATIVE}, {u"", eCRM_NATIVE},     {u"a\rb\r\n", eCRM_CR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Make(c.text).GetCarriageReturnMode(eCRM_NATIVE), c.expected);
    EXPECT_EQ(VString("no line end").GetCarriageReturnMode(eCRM_LF), eCRM_LF);
}

TEST(VStringLineEnds, ConvertCarriageReturnsOnStrings) {
    struct Case {
        std::u16string text;
        ECarriageReturnMode mode;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"a\nb\r\nc\rd", eCRM_CRLF, u"a\r\nb\r\nc\r\nd"},
        {u"a\nb\r\nc\rd", eCRM_LF, u"a\nb\nc\nd"},
        {u"a\nb\r\nc\rd", eCRM_CR, u"a\rb\rc\rd"},
        {u"a\nb\r\nc\rd", eCRM_NATIVE, u"a\nb\r\nc\rd"},
        {u"\n\r\r\n\n\r", eCRM_CRLF, u"\r\n\r\n\r\n\r\n\r\n"},
        {u"\n\r\r\n\n\r", eCRM_LF, u"\n\n\n\n\n"},
        {u"\r\n\r\n", eCRM_CR, u"\r\r"},
        {u"\n\r", eCRM_CRLF, u"\r\n\r\n"}, // LF then CR: two lone line ends
        {u"", eCRM_CRLF, u""},
        {u"no line end", eCRM_CRLF, u"no line end"},
    };
    for (const Case& c : cases) {
        VString text = Make(c.text);
        EXPECT_TRUE(text.ConvertCarriageReturns(c.mode));
        EXPECT_EQ(Units(text), c.expected) << int(c.mode);
    }
}

TEST(VStringLineEnds, ConversionNeverWritesIntoASharedBuffer) {
    VString original(u"line one\nline two\rline three\r\n");
    VString copy(original);
    EXPECT_TRUE(copy.ConvertCarriageReturns(eCRM_CRLF));
    EXPECT_EQ(Units(copy), u"line one\r\nline two\r\nline three\r\n");
    EXPECT_EQ(Units(original), u"line one\nline two\rline three\r\n");

    VString unchanged(original);
    EXPECT_TRUE(unchanged.ConvertCarriageReturns(eCRM_NATIVE));
    EXPECT_EQ(unchanged.GetCPointer(), original.GetCPointer());
}

TEST(VStringLineEnds, CRLFWithTooLittleRoomConvertsTheFirstLineEndsAndReportsTheNeed) {
    UniChar text[12] = {u'a', u'\n', u'b', u'\r', u'c', u'\n', u'd'};
    size_t needed = 0;
    size_t length = VString::_ConvertCarriageReturns(text, 7, 9, eCRM_CRLF, &needed);
    EXPECT_EQ(needed, 10u);
    ASSERT_EQ(length, 9u);
    EXPECT_EQ(std::u16string(text, length), u"a\r\nb\r\nc\nd");

    length = VString::_ConvertCarriageReturns(text, length, 12, eCRM_CRLF, &needed);
    EXPECT_EQ(needed, 10u);
    EXPECT_EQ(std::u16string(text, length), u"a\r\nb\r\nc\r\nd");

    size_t shrink = 0;
    EXPECT_EQ(VString::_ConvertCarriageReturns(text, length, 12, eCRM_LF, &shrink), 7u);
    EXPECT_EQ(shrink, 10u);
    EXPECT_EQ(VString::_ConvertCarriageReturns(text, 0, 12, eCRM_CRLF, &shrink), 0u);
    EXPECT_EQ(shrink, 0u);
}

std::vector<uchar> Encoded(const std::u16string& text, CharSet charSet) {
    VMemoryBuffer<> buffer;
    EXPECT_TRUE(Make(text).ToBuffer(buffer, charSet));
    const auto* bytes = static_cast<const uchar*>(buffer.GetDataPtr());
    return std::vector<uchar>(bytes, bytes + buffer.GetDataSize());
}

// Encoded text is converted by the set's code units: a unit such as U+0D0A or U+010D holds a byte 0x0D or 0x0A
// without being a line end, in either byte order.
TEST(VStringLineEnds, EncodedBuffersAreConvertedByCodeUnits) {
    const std::u16string text = u"\u0D0A\u010D\n\u0A0D\r\n\u0A00x\r";
    const CharSet sets[] = {VTC_UTF_8,
                            VTC_UTF_16_BigEndian,
                            VTC_UTF_16_LittleEndian,
                            VTC_UTF_32_BigEndian,
                            VTC_UTF_32_LittleEndian,
                            VTC_UTF_32_Raw_BigEndian,
                            VTC_UTF_32_Raw_LittleEndian,
                            VTC_ISO8859_1};
    struct Mode {
        ECarriageReturnMode mode;
        std::u16string expected;
    };
    const Mode modes[] = {
        {eCRM_CRLF, u"\u0D0A\u010D\r\n\u0A0D\r\n\u0A00x\r\n"},
        {eCRM_LF, u"\u0D0A\u010D\n\u0A0D\n\u0A00x\n"},
        {eCRM_CR, u"\u0D0A\u010D\r\u0A0D\r\u0A00x\r"},
        {eCRM_NATIVE, text},
    };
    for (CharSet charSet : sets) {
        // Latin-1 cannot hold the wide units: its test text is plain.
        std::u16string source = charSet == VTC_ISO8859_1 ? u"a\nb\r\nc\r" : text;
        for (const Mode& m : modes) {
            std::u16string expected = m.expected;
            if (charSet == VTC_ISO8859_1) {
                VString plain = Make(source);
                plain.ConvertCarriageReturns(m.mode);
                expected = Units(plain);
            }
            std::vector<uchar> bytes = Encoded(source, charSet);
            VMemoryBuffer<> buffer;
            ASSERT_TRUE(buffer.AddData(bytes.data(), bytes.size()));
            EXPECT_TRUE(VString::ConvertCarriageReturns(buffer, charSet, m.mode));
            const auto* out = static_cast<const uchar*>(buffer.GetDataPtr());
            EXPECT_EQ(std::vector<uchar>(out, out + buffer.GetDataSize()), Encoded(expected, charSet))
                << "set " << int(charSet) << " mode " << int(m.mode);
        }
    }
}

TEST(VStringLineEnds, EncodedBufferKeepsACutTrailingUnitAndIgnoresSetZero) {
    // UTF-16 LE "a", LF, "b", then one stray byte.
    const uchar bytes[] = {'a', 0, '\n', 0, 'b', 0, 0x0D};
    VMemoryBuffer<> buffer;
    ASSERT_TRUE(buffer.AddData(bytes, sizeof(bytes)));
    EXPECT_TRUE(VString::ConvertCarriageReturns(buffer, VTC_UTF_16_LittleEndian, eCRM_CRLF));
    const uchar expected[] = {'a', 0, '\r', 0, '\n', 0, 'b', 0, 0x0D};
    ASSERT_EQ(buffer.GetDataSize(), sizeof(expected));
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), expected, sizeof(expected)), 0);

    VMemoryBuffer<> unknown;
    ASSERT_TRUE(unknown.AddData("a\nb", 3));
    EXPECT_TRUE(VString::ConvertCarriageReturns(unknown, VTC_Unknown, eCRM_CRLF));
    EXPECT_EQ(unknown.GetDataSize(), 3u);

    VMemoryBuffer<> empty;
    EXPECT_TRUE(VString::ConvertCarriageReturns(empty, VTC_UTF_8, eCRM_CRLF));
    EXPECT_EQ(empty.GetDataSize(), 0u);
}

// ---- Byte strings

TEST(VStringToString, GivesUTF8OfAnyLength) {
    EXPECT_EQ(to_string(VString()), "");
    EXPECT_EQ(to_string(VString(u"h\u00E9\U0001F600")), "h\xC3\xA9\xF0\x9F\x98\x80");
    std::u16string longText;
    std::string longUTF8;
    for (int i = 0; i < 300; ++i) {
        longText += u"\u00E9";
        longUTF8 += "\xC3\xA9";
    }
    EXPECT_EQ(to_string(Make(longText)), longUTF8);
    // 255 characters of 3 bytes each do not fit the short path's 512 bytes.
    EXPECT_EQ(to_string(Make(std::u16string(255, u'\u20AC'))).size(), 765u);
}

// ---- Strings with a built-in area

TEST(VStrFixed, InlineAreasHoldTheirCapacityWithoutHeap) {
    VStr4 four(u'x');
    EXPECT_EQ(four.GetInlineCapacity(), 4);
    EXPECT_EQ(Units(four), u"x");
    EXPECT_FALSE(four.IsNull());
    EXPECT_TRUE(four.IsDirty());

    VStr15 fifteen("fifteen letters");
    EXPECT_EQ(fifteen.GetLength(), 15);
    EXPECT_FALSE(fifteen.IsSharedBuffer());
    EXPECT_EQ(fifteen.GetCapacity(), 15);

    EXPECT_EQ(VStr50().GetInlineCapacity(), 50);
    EXPECT_EQ(VStr80().GetInlineCapacity(), 80);
    EXPECT_EQ(VStr100().GetInlineCapacity(), 100);
    VStr1000 big;
    EXPECT_EQ(big.GetInlineCapacity(), 1000);
    big.FromUniString(std::u16string(1000, u'z').data(), 1000);
    EXPECT_EQ(big.GetCapacity(), 1000);
    EXPECT_FALSE(big.IsSharedBuffer());
}

TEST(VOsTypeStringTest, DecodesTheFourBytesMostSignificantFirst) {
    VOsTypeString text(FourCC("TEXT"));
    EXPECT_EQ(Units(text), u"TEXT");
    EXPECT_EQ(text.GetInlineCapacity(), 4);
    EXPECT_EQ(text.GetCapacity(), 4);

    VOsTypeString accented(0x61C3A962); // "a", U+00E9 in UTF-8, "b"
    EXPECT_EQ(Units(accented), u"a\u00E9b");

    VOsTypeString copy(text);
    EXPECT_EQ(Units(copy), u"TEXT");
    EXPECT_NE(copy.GetCPointer(), text.GetCPointer());
}

const UniChar kLiteral[] = u"constant text";

TEST(CVSTRTest, WrapsTheLiteralWithoutCopying) {
    VString text = CVSTR("abc"); // a copy: the copy owns its text
    EXPECT_EQ(Units(text), u"abc");

    CVSTR_struct wrapped(kLiteral);
    EXPECT_EQ(wrapped.GetCPointer(), kLiteral);
    EXPECT_EQ(wrapped.GetLength(), 13);
    EXPECT_EQ(wrapped.GetCapacity(), 13);
    EXPECT_FALSE(wrapped.IsSharedBuffer());

    VString copy(wrapped);
    EXPECT_NE(copy.GetCPointer(), kLiteral);
    VString assigned;
    assigned = wrapped;
    EXPECT_NE(assigned.GetCPointer(), kLiteral);
    VString moved(std::move(wrapped));
    EXPECT_NE(moved.GetCPointer(), kLiteral);
    EXPECT_EQ(Units(moved), u"constant text");
}

// The literal lives in read-only memory: a write into it would crash; every change goes to a copy first.
TEST(CVSTRTest, ChangesCopyTheTextFirstAndLeaveTheLiteralIntact) {
    using Change = void (*)(VString&);
    const Change changes[] = {
        [](VString& s) { s.SetUniChar(1, u'C'); },
        [](VString& s) { s.Truncate(3); },
        [](VString& s) { s.AppendUniChar(u'!'); },
        [](VString& s) { s.GetCPointerForWrite(4)[0] = u'C'; },
        [](VString& s) { s.FromJSONString(VString("new")); },
        [](VString& s) { s.ConvertCarriageReturns(eCRM_CRLF); },
        [](VString& s) { s.ConvertCarriageReturns(eCRM_LF); },
        [](VString& s) { s.TranscodeFromXML(); },
        [](VString& s) { s.TranscodeToXML(true); },
        [](VString& s) { s.EncodeBase64("x", 1); },
        [](VString& s) { s.DecodeBase64(VTC_UTF_8, true); },
        [](VString& s) { s.SetNull(true); },
        [](VString& s) { s.Clear(); },
    };
    static const UniChar kLines[] = u"ab\ncd\r\n&amp;&#x41;";
    const std::u16string before(kLines);
    for (const Change& change : changes) {
        CVSTR_struct text(kLines);
        change(text);
        EXPECT_EQ(std::u16string(kLines), before);
        EXPECT_TRUE(text.GetCPointer() != kLines || Units(text) == before);
        VString copy(CVSTR("ab\ncd"));
        change(copy);
    }
}

} // namespace
} // namespace vela
