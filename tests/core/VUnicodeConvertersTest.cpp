#include "core/VUnicodeConverters.h"

#include "core/VString.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vela {
namespace {

using Bytes = std::string;

struct Decoded {
    std::u16string units;
    size_t consumed = 0;
    bool ok = false;
};

Decoded Decode(VToUnicodeConverter& converter, const Bytes& bytes, int32 room = 64) {
    // A copy without terminator or slack, so that reading past the source is caught.
    std::vector<char> source(bytes.begin(), bytes.end());
    std::vector<UniChar> out(size_t(room) + 1, u'#');
    Decoded result;
    int32 produced = -1;
    result.ok = converter.Convert(source.data(), source.size(), &result.consumed, out.data(), room, &produced);
    EXPECT_EQ(out[size_t(room)], u'#') << "wrote past the room";
    result.units.assign(out.data(), size_t(produced));
    return result;
}

struct Encoded {
    Bytes bytes;
    int32 consumed = 0;
    bool ok = false;
};

Encoded Encode(VFromUnicodeConverter& converter, const std::u16string& units, size_t room = 64) {
    std::vector<UniChar> source(units.begin(), units.end());
    Bytes out(room + 1, '#');
    Encoded result;
    size_t produced = 0;
    result.ok = converter.Convert(source.data(), int32(source.size()), &result.consumed, out.data(), room, &produced);
    EXPECT_EQ(out[room], '#') << "wrote past the room";
    result.bytes = out.substr(0, produced);
    return result;
}

// ---- UTF-8 decoding

TEST(VUTF8Decoding, DecodesTheLenientTable) {
    struct Case {
        Bytes bytes;
        std::u16string units;
        size_t consumed;
        bool ok;
    };
    const Case cases[] = {
        {"A", u"A", 1, true},
        {"\xC3\xA9", u"\u00E9", 2, true},
        {"\xE2\x82\xAC", u"\u20AC", 3, true},
        {"\xF0\x9F\x98\x80", u"\U0001F600", 4, true},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", 4, true},
        {"\x80", u"\u0080", 1, true}, // a stray continuation byte stands for itself
        {"\xBF", u"\u00BF", 1, true},
        {"\xC3\x41", u"\u0081", 2, true},                // trailing bytes are not checked: the 'A' is swallowed
        {"\xC0\x80", std::u16string(1, u'\0'), 2, true}, // an overlong form is accepted
        {"\xED\xA0\x80", u"\xD800", 3, true},            // an encoded surrogate is kept as a unit
        {"\xF4\x90\x80\x80", u"?", 4, false},            // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", u"?", 5, false},
        {"\xFC\x84\x80\x80\x80\x80", u"?", 6, false},
        {"\xE2\x82", u"", 0, true}, // cut by the end: left for later
        {"a\xF0\x9F\x98", u"a", 1, true},
        {"\xF4\x90\x80\x80z", u"?z", 5, false}, // conversion goes on after a substitution
    };
    VToUnicodeConverter_UTF8 converter;
    for (const Case& c : cases) {
        Decoded d = Decode(converter, c.bytes);
        EXPECT_EQ(d.units, c.units) << c.bytes;
        EXPECT_EQ(d.consumed, c.consumed) << c.bytes;
        EXPECT_EQ(d.ok, c.ok) << c.bytes;
    }
}

TEST(VUTF8Decoding, ASequenceThatDoesNotFitStaysUnconsumed) {
    VToUnicodeConverter_UTF8 converter;
    Decoded pair = Decode(converter, "\xF0\x9F\x98\x80", 1);
    EXPECT_EQ(pair.units, u"");
    EXPECT_EQ(pair.consumed, 0u);

    Decoded after = Decode(converter, "ab\xF0\x9F\x98\x80", 3);
    EXPECT_EQ(after.units, u"ab");
    EXPECT_EQ(after.consumed, 2u);

    Decoded ascii = Decode(converter, Bytes(40, 'x'), 20);
    EXPECT_EQ(ascii.units, std::u16string(20, u'x'));
    EXPECT_EQ(ascii.consumed, 20u);
}

TEST(VUTF8Decoding, NonAsciiAnywhereInLongAsciiRuns) {
    // Exercises the block path at every alignment of the multi-byte sequences.
    VToUnicodeConverter_UTF8 converter;
    for (const auto& [insert, unit] : {std::pair<Bytes, std::u16string>{"\xC3\xA9", u"\u00E9"},
                                       {"\xE4\xB8\xAD", u"\u4E2D"},
                                       {"\xF0\x9F\x98\x80", u"\U0001F600"}}) {
        for (size_t at = 0; at <= 40; ++at) {
            Bytes bytes = Bytes(at, 'a') + insert + Bytes(40 - at, 'b');
            Decoded d = Decode(converter, bytes, 128);
            EXPECT_EQ(d.units, std::u16string(at, u'a') + unit + std::u16string(40 - at, u'b')) << at;
            EXPECT_EQ(d.consumed, bytes.size());
        }
    }
}

TEST(VUTF8Decoding, EmptyOrNullSourceAndNoRoom) {
    VToUnicodeConverter_UTF8 converter;
    size_t consumed = 1;
    int32 produced = 1;
    EXPECT_TRUE(converter.Convert(nullptr, 0, &consumed, nullptr, 0, &produced));
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(produced, 0);
    EXPECT_EQ(Decode(converter, "abc", 0).consumed, 0u);
}

// ---- UTF-8 encoding

TEST(VUTF8Encoding, EncodesCharactersAndSurrogates) {
    struct Case {
        std::u16string units;
        Bytes bytes;
        int32 consumed;
    };
    const Case cases[] = {
        {u"A", "A", 1},
        {u"\u00E9", "\xC3\xA9", 1},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80", 2},
        {u"\u20AC", "\xE2\x82\xAC", 1},
        {u"\U0001F600", "\xF0\x9F\x98\x80", 2},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF", 2},
        // A high surrogate pairs only with a real low one; otherwise it goes alone and the next unit stays.
        {u"\xD800"
         u"A",
         "\xED\xA0\x80"
         "A",
         2},
        {u"\xD800\xD83D\xDE00", "\xED\xA0\x80\xF0\x9F\x98\x80", 3},
        {u"\xDC00"
         u"A",
         "\xED\xB0\x80"
         "A",
         2},
        // A high surrogate as the last unit is written like one inside: a whole text has no pair to wait for.
        {u"A\xD800", "A\xED\xA0\x80", 2},
        {u"\xD800", "\xED\xA0\x80", 1},
    };
    VFromUnicodeConverter_UTF8 converter;
    for (const Case& c : cases) {
        Encoded e = Encode(converter, c.units);
        EXPECT_EQ(e.bytes, c.bytes) << e.bytes.size();
        EXPECT_EQ(e.consumed, c.consumed);
        EXPECT_TRUE(e.ok);
    }
}

TEST(VUTF8Encoding, ASequenceThatDoesNotFitStopsTheConversion) {
    VFromUnicodeConverter_UTF8 converter;
    Encoded e = Encode(converter, u"a\u20AC", 3);
    EXPECT_EQ(e.bytes, "a");
    EXPECT_EQ(e.consumed, 1);

    Encoded ascii = Encode(converter, std::u16string(40, u'x'), 20);
    EXPECT_EQ(ascii.bytes, Bytes(20, 'x'));
    EXPECT_EQ(ascii.consumed, 20);
}

TEST(VUTF8Encoding, NullDestinationCountsWithinTheLimit) {
    VFromUnicodeConverter_UTF8 converter;
    std::u16string text = u"a\u00E9\u20AC\U0001F600" + std::u16string(30, u'z');
    int32 consumed = 0;
    size_t produced = 0;
    EXPECT_TRUE(converter.Convert(text.data(), int32(text.size()), &consumed, nullptr, 0x7FFFFFFF, &produced));
    EXPECT_EQ(consumed, int32(text.size()));
    EXPECT_EQ(produced, 10u + 30u);

    EXPECT_TRUE(converter.Convert(text.data(), int32(text.size()), &consumed, nullptr, 5, &produced));
    EXPECT_EQ(consumed, 2);
    EXPECT_EQ(produced, 3u);
}

TEST(VUTF8Encoding, RoundTripsNonAsciiAnywhereInLongAsciiRuns) {
    VFromUnicodeConverter_UTF8 encoder;
    VToUnicodeConverter_UTF8 decoder;
    for (const std::u16string& insert :
         {std::u16string(u"\u00E9"), std::u16string(u"\u4E2D"), std::u16string(u"\U0001F600")}) {
        for (size_t at = 0; at <= 40; ++at) {
            std::u16string text = std::u16string(at, u'a') + insert + std::u16string(40 - at, u'b');
            Encoded e = Encode(encoder, text, 128);
            EXPECT_EQ(e.consumed, int32(text.size()));
            EXPECT_EQ(Decode(decoder, e.bytes, 128).units, text) << at;
        }
    }
}

// ---- UTF-8 against a plain restatement of the rules, on random texts and output sizes

struct Reference {
    std::u16string units;
    std::string bytes;
    size_t consumed = 0;
    bool ok = true;
};

Reference ReferenceDecode(const Bytes& bytes, size_t room) {
    static constexpr uint32 kOffsetsByLength[6] = {0, 0x3080, 0xE2080, 0x3C82080, 0xFA082080, 0x82082080};
    Reference r;
    size_t i = 0;
    while (i < bytes.size() && r.units.size() < room) {
        uint32 lead = uchar(bytes[i]);
        size_t trailing = lead < 0xC0 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF8 ? 3 : lead < 0xFC ? 4 : 5;
        if (i + trailing >= bytes.size()) break;
        uint32 value = 0;
        for (size_t k = 0; k <= trailing; ++k)
            value = (value << 6) + uchar(bytes[i + k]);
        value -= kOffsetsByLength[trailing];
        if (value <= 0xFFFF) {
            r.units.push_back(char16_t(value));
        } else if (value <= 0x10FFFF) {
            if (room - r.units.size() < 2) break;
            r.units.push_back(char16_t(0xD800 + ((value - 0x10000) >> 10)));
            r.units.push_back(char16_t(0xDC00 + (value & 0x3FF)));
        } else {
            r.units.push_back(u'?');
            r.ok = false;
        }
        i += trailing + 1;
    }
    r.consumed = i;
    return r;
}

Reference ReferenceEncode(const std::u16string& units, size_t room) {
    Reference r;
    size_t i = 0;
    while (i < units.size()) {
        uint32 c = units[i];
        uint32 value = c;
        size_t taken = 1;
        std::string seq;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size()) {
            uint32 next = units[i + 1];
            if (next >= 0xDC00 && next < 0xE000) {
                value = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                taken = 2;
            }
        }
        if (value < 0x80) {
            seq = {char(value)};
        } else if (value < 0x800) {
            seq = {char(0xC0 | (value >> 6)), char(0x80 | (value & 0x3F))};
        } else if (value < 0x10000) {
            seq = {char(0xE0 | (value >> 12)), char(0x80 | ((value >> 6) & 0x3F)), char(0x80 | (value & 0x3F))};
        } else {
            seq = {char(0xF0 | (value >> 18)), char(0x80 | ((value >> 12) & 0x3F)), char(0x80 | ((value >> 6) & 0x3F)),
                   char(0x80 | (value & 0x3F))};
        }
        if (r.bytes.size() + seq.size() > room) break;
        r.bytes += seq;
        i += taken;
    }
    r.consumed = i;
    return r;
}

// Random texts of runs: ASCII, 2-, 3- and 4-byte characters, stray and cut sequences.
Bytes RandomBytes(std::mt19937& random) {
    static const Bytes kPieces[] = {"\xC3\xA9",
                                    "\xD0\x96",
                                    "\xE4\xB8\xAD",
                                    "\xE2\x82\xAC",
                                    "\xF0\x9F\x98\x80",
                                    "\xF4\x8F\xBF\xBF",
                                    "\x80",
                                    "\xE2\x82",
                                    "\xF8\x88\x80\x80\x80",
                                    "\xFF",
                                    "\xC3\x41",
                                    "\xED\xA0\x80",
                                    "\xF4\x90\x80\x80",
                                    "\xC0\x80"};
    Bytes bytes;
    size_t pieces = random() % 24;
    for (size_t p = 0; p < pieces; ++p) {
        if (random() % 3 == 0) {
            bytes += Bytes(random() % 40, char('a' + random() % 26));
        } else {
            const Bytes& piece = kPieces[random() % std::size(kPieces)];
            for (size_t k = random() % 6 + 1; k > 0; --k)
                bytes += piece;
        }
    }
    return bytes;
}

std::u16string RandomUnits(std::mt19937& random) {
    static const std::u16string kPieces[] = {u"\u00E9", u"\u0416", u"\u4E2D", u"\uFFFF", u"\U0001F600", u"\xD800",
                                             u"\xDBFF", u"\xDC00", u"\xDFFF", u"\u07FF", u"\u0800",     u"\uE000"};
    std::u16string units;
    size_t pieces = random() % 24;
    for (size_t p = 0; p < pieces; ++p) {
        if (random() % 3 == 0) {
            units += std::u16string(random() % 40, char16_t('a' + random() % 26));
        } else {
            const std::u16string& piece = kPieces[random() % std::size(kPieces)];
            for (size_t k = random() % 6 + 1; k > 0; --k)
                units += piece;
        }
    }
    return units;
}

TEST(VUTF8Decoding, AgreesWithThePlainRulesOnRandomTexts) {
    std::mt19937 random(1234);
    VToUnicodeConverter_UTF8 converter;
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = RandomBytes(random);
        for (size_t room : {bytes.size() + 8, size_t(random() % (bytes.size() + 1))}) {
            Reference expected = ReferenceDecode(bytes, room);
            Decoded d = Decode(converter, bytes, int32(room));
            ASSERT_EQ(d.units, expected.units) << round;
            ASSERT_EQ(d.consumed, expected.consumed) << round;
            ASSERT_EQ(d.ok, expected.ok) << round;
        }
    }
}

TEST(VUTF8Encoding, AgreesWithThePlainRulesOnRandomTexts) {
    std::mt19937 random(5678);
    VFromUnicodeConverter_UTF8 converter;
    for (int round = 0; round < 3000; ++round) {
        std::u16string units = RandomUnits(random);
        for (size_t room : {units.size() * 3 + 8, size_t(random() % (units.size() * 3 + 1))}) {
            Reference expected = ReferenceEncode(units, room);
            Encoded e = Encode(converter, units, room);
            ASSERT_EQ(e.bytes, expected.bytes) << round;
            ASSERT_EQ(size_t(e.consumed), expected.consumed) << round;

            int32 counted = 0;
            size_t produced = 0;
            converter.Convert(units.data(), int32(units.size()), &counted, nullptr, room, &produced);
            ASSERT_EQ(size_t(counted), expected.consumed) << round;
            ASSERT_EQ(produced, expected.bytes.size()) << round;
        }
    }
}

// ---- UCS-4

Bytes LittleEndian32(std::initializer_list<uint32> values) {
    Bytes bytes;
    for (uint32 v : values)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(char(v >> (8 * i)));
    return bytes;
}

Bytes BigEndian32(std::initializer_list<uint32> values) {
    Bytes bytes;
    for (uint32 v : values)
        for (int i = 3; i >= 0; --i)
            bytes.push_back(char(v >> (8 * i)));
    return bytes;
}

TEST(VUCS4Decoding, JoinsPairsAndStopsAtSurrogates) {
    VToUnicodeConverter_UTF32 converter(false);
    struct Case {
        Bytes bytes;
        std::u16string units;
        size_t consumed;
        bool ok;
    };
    const Case cases[] = {
        {LittleEndian32({0x41, 0x1F600}), u"A\U0001F600", 8, true},
        {LittleEndian32({0x41, 0xD800, 0x42}), u"A", 4, false}, // a surrogate value stops
        {LittleEndian32({0x110000, 0x42}), u"B", 8, false},     // not a character: skipped
        {LittleEndian32({0x41}) + "\x42\x00", u"A", 4, true},   // a partial unit stays
    };
    for (const Case& c : cases) {
        Decoded d = Decode(converter, c.bytes);
        EXPECT_EQ(d.units, c.units);
        EXPECT_EQ(d.consumed, c.consumed);
        EXPECT_EQ(d.ok, c.ok);
    }
    Decoded noRoom = Decode(converter, LittleEndian32({0x1F600}), 1);
    EXPECT_EQ(noRoom.consumed, 0u);
    EXPECT_FALSE(noRoom.ok);

    VToUnicodeConverter_UTF32 swapped(true);
    EXPECT_EQ(Decode(swapped, BigEndian32({0x1F600, 0xE9})).units, u"\U0001F600\u00E9");
}

TEST(VUCS4Encoding, SplitsPairsAndStopsAtLoneSurrogates) {
    VFromUnicodeConverter_UTF32 converter(false);
    Encoded pair = Encode(converter, u"A\U0001F600");
    EXPECT_EQ(pair.bytes, LittleEndian32({0x41, 0x1F600}));
    EXPECT_EQ(pair.consumed, 3);
    EXPECT_TRUE(pair.ok);

    for (const std::u16string& lone : {std::u16string(u"A\xDC00"
                                                      u"B"),
                                       std::u16string(u"A\xD800"
                                                      u"B"),
                                       std::u16string(u"A\xD800")}) {
        Encoded e = Encode(converter, lone);
        EXPECT_EQ(e.bytes, LittleEndian32({0x41}));
        EXPECT_EQ(e.consumed, 1);
        EXPECT_FALSE(e.ok);
    }
    Encoded full = Encode(converter, u"AB", 7);
    EXPECT_EQ(full.consumed, 1);
    EXPECT_FALSE(full.ok);

    VFromUnicodeConverter_UTF32 swapped(true);
    EXPECT_EQ(Encode(swapped, u"\U0001F600").bytes, BigEndian32({0x1F600}));
}

// ---- Raw 32-bit units

TEST(VRaw32Converters, OneUnitPerUnitWithoutSurrogateLogic) {
    VToUnicodeConverter_UTF32_Raw decoder(false);
    Decoded d = Decode(decoder, LittleEndian32({0x10041, 0xD800}) + "\x01");
    EXPECT_EQ(d.units, u"A\xD800"); // the low 16 bits of each unit
    EXPECT_EQ(d.consumed, 8u);
    EXPECT_EQ(Decode(decoder, LittleEndian32({1, 2, 3}), 2).consumed, 8u);

    VFromUnicodeConverter_UTF32_Raw encoder(false);
    Encoded e = Encode(encoder, u"A\xD800");
    EXPECT_EQ(e.bytes, LittleEndian32({0x41, 0xD800}));
    EXPECT_EQ(Encode(encoder, u"ABC", 9).consumed, 2);

    VFromUnicodeConverter_UTF32_Raw swapped(true);
    EXPECT_EQ(Encode(swapped, u"A").bytes, BigEndian32({0x41}));
}

// ---- UTF-16 copies

TEST(VUTF16Converters, CopyWholeUnitsInEitherOrder) {
    VToUnicodeConverter_Null null;
    Decoded d = Decode(null, Bytes("A\0B\0C", 5));
    EXPECT_EQ(d.units, u"AB");
    EXPECT_EQ(d.consumed, 4u);
    EXPECT_EQ(Decode(null, Bytes("A\0B\0", 4), 1).consumed, 2u);

    VToUnicodeConverter_Swap swap;
    EXPECT_EQ(Decode(swap, Bytes("\0A\0B", 4)).units, u"AB");

    VFromUnicodeConverter_Swap swapOut;
    EXPECT_EQ(Encode(swapOut, u"AB").bytes, Bytes("\0A\0B", 4));
    Encoded partial = Encode(swapOut, u"AB", 3);
    EXPECT_EQ(partial.consumed, 1);
}

TEST(VUTF16Converters, ConvertStringAppendsWholeUnits) {
    VString text("x");
    size_t consumed = 0;
    VToUnicodeConverter_Swap swap;
    EXPECT_TRUE(swap.ConvertString("\0A\0B\0", 5, &consumed, text));
    EXPECT_EQ(consumed, 4u);
    EXPECT_EQ(std::u16string(text.GetCPointer(), size_t(text.GetLength())), u"xAB");

    VToUnicodeConverter_Null null;
    EXPECT_TRUE(null.ConvertString("C\0", 2, &consumed, text));
    EXPECT_EQ(std::u16string(text.GetCPointer(), size_t(text.GetLength())), u"xABC");
}

// ---- Void

TEST(VVoidConverters, AreInvalidAndConvertNothing) {
    VToUnicodeConverter_Void decoder;
    EXPECT_FALSE(decoder.IsValid());
    Decoded d = Decode(decoder, "abc");
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.consumed, 0u);
    EXPECT_EQ(decoder.GetCharSize(), 1);

    VFromUnicodeConverter_Void encoder;
    EXPECT_FALSE(encoder.IsValid());
    Encoded e = Encode(encoder, u"abc");
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.consumed, 0);
    EXPECT_EQ(encoder.GetCharSize(), 2);
}

} // namespace
} // namespace vela
