#include "core/Base64Coder.h"

#include "core/VString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vela {
namespace {

std::string Text(const VMemoryBuffer<>& buffer) {
    return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
}

std::string Encode(const std::string& bytes, bool url, int32 lineLength = 0) {
    VMemoryBuffer<> out;
    EXPECT_TRUE(Base64Coder::_Encode(bytes.data(), bytes.size(), out, lineLength, url));
    return Text(out);
}

// The decoded bytes, or "<fail>" when the decoder refuses the text.
std::string Decode(const std::string& text, bool url, bool keepPartial = false) {
    VMemoryBuffer<> out;
    if (!Base64Coder::Decode(text.data(), text.size(), out, url, keepPartial)) return "<fail>:" + Text(out);
    return Text(out);
}

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

TEST(Base64CoderTables, InverseTablesMatchTheAlphabets) {
    for (bool url : {false, true}) {
        const char* alphabet = url ? Base64Coder::sBase64URLAlphabet : Base64Coder::sBase64Alphabet;
        const uchar* inverse = url ? Base64Coder::sBase64URLInverse : Base64Coder::sBase64Inverse;
        ASSERT_EQ(std::strlen(alphabet), 64u);
        int valid = 0;
        for (int c = 0; c < 256; ++c) {
            const char* at = c != 0 ? std::strchr(alphabet, c) : nullptr;
            EXPECT_EQ(inverse[c], at != nullptr ? uchar(at - alphabet) : 255) << "url " << url << " char " << c;
            valid += inverse[c] != 255;
        }
        EXPECT_EQ(valid, 64);
        EXPECT_EQ(inverse[uchar('=')], 255);
    }
}

TEST(Base64CoderEncode, GroupsAndPaddingByAlphabet) {
    struct Case {
        std::string bytes, standard, url;
    };
    const Case cases[] = {
        {"", "", ""},
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foo", "Zm9v", "Zm9v"},
        {"foob", "Zm9vYg==", "Zm9vYg"},
        {"fooba", "Zm9vYmE=", "Zm9vYmE"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        {"\xFB\xFF", "+/8=", "-_8"},
        {std::string("\x00\x00\x00", 3), "AAAA", "AAAA"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.bytes, false), c.standard) << c.bytes;
        EXPECT_EQ(Encode(c.bytes, true), c.url) << c.bytes;
    }
}

TEST(Base64CoderEncode, LineBreaksFollowFullLinesButNeverTheLastGroup) {
    std::string text57(57, 'a'), text60(60, 'a');
    std::string encoded57 = Encode(text57, false, 19);
    EXPECT_EQ(encoded57.size(), 76u);
    EXPECT_EQ(encoded57.find('\r'), std::string::npos);

    std::string encoded60 = Encode(text60, false, 19);
    ASSERT_EQ(encoded60.size(), 82u);
    EXPECT_EQ(encoded60.substr(76, 2), "\r\n");
    EXPECT_EQ(encoded60.substr(0, 76) + encoded60.substr(78), Encode(text60, false));

    // Several lines, the last one partial and padded.
    std::string encoded = Encode(std::string(20, 'x'), false, 2);
    EXPECT_EQ(encoded, "eHh4eHh4\r\neHh4eHh4\r\neHh4eHh4\r\neHg=");
    // The URL alphabet never breaks lines; a negative length is no length.
    EXPECT_EQ(Encode(text60, true, 19).find('\r'), std::string::npos);
    EXPECT_EQ(Encode(text60, false, -3), Encode(text60, false));
}

TEST(Base64CoderEncode, ReplacesPreviousContentAndRefusesNullData) {
    VMemoryBuffer<> out;
    ASSERT_TRUE(out.AddData("old content", 11));
    EXPECT_TRUE(Base64Coder::_Encode("ab", 2, out, 0, false));
    EXPECT_EQ(Text(out), "YWI=");
    // The output is allocated once at its final size.
    EXPECT_EQ(out.GetAllocatedSize(), 4u);

    EXPECT_FALSE(Base64Coder::_Encode(nullptr, 3, out, 0, false));
    EXPECT_EQ(out.GetDataSize(), 0u);
    EXPECT_TRUE(Base64Coder::_Encode(nullptr, 0, out, 0, false));
    EXPECT_EQ(out.GetDataSize(), 0u);
}

TEST(Base64CoderEncode, SizesThatOverflowAreRefusedBeforeAnyRead) {
    VMemoryBuffer<> out;
    const char byte = 'x'; // never read: the size is refused first
    EXPECT_FALSE(Base64Coder::_Encode(&byte, SIZE_MAX, out, 0, false));
    // The characters alone fit in a size_t, the line breaks do not.
    EXPECT_FALSE(Base64Coder::_Encode(&byte, SIZE_MAX / 4 * 3, out, 1, false));
    EXPECT_EQ(out.GetDataPtr(), nullptr);
}

TEST(Base64CoderDecode, StandardAlphabetCases) {
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"", ""},
        {"Zm9vYmFy", "foobar"},
        {"Zg==", "f"},
        {"Zm8=", "fo"},
        {" Zm9v\r\nYm\tFy \n", "foobar"}, // the four skipped characters, anywhere
        {"    ", ""},
        {"Zm9vYmF", "<fail>:"},         // not a multiple of 4
        {"Zg=", "<fail>:"},             // nor here
        {"ZR==", "<fail>:"},            // the second value, 17, leaves bits behind the byte
        {"Zm9=", "<fail>:"},            // the third value, 61, leaves bits behind the two bytes
        {"Z===", "<fail>:"},            // padding too early
        {"Zg=A", "<fail>:"},            // padding inside the quad
        {"Zm-_", "<fail>:"},            // URL characters
        {"Zm9vZm8=Zm8=", "<fail>:foo"}, // padding before the last quad: the quads before it stay
        {"Zm9v\x01Zm9v", "<fail>:"},    // other control characters are not skipped
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(c.text, false, true), c.expected) << c.text;
}

TEST(Base64CoderDecode, URLAlphabetTakesUnpaddedTails) {
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"Zm9vYmFy", "foobar"},
        {"Zg", "f"},
        {"Zm8", "fo"},
        {"-_8", "\xFB\xFF"},
        {"Zm9vY", "<fail>:foo"},
        {"Zg==", "<fail>:"},
        {"ZR", "<fail>:"},
        {"Zm9", "<fail>:"},
        {"Zm+/", "<fail>:"},
        {"Zm9v Zg", "<fail>:foo"},
        {"Zm9vYg!", "<fail>:foo"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(c.text, true, true), c.expected) << c.text;
}

TEST(Base64CoderDecode, FailureEmptiesTheOutputUnlessPartialIsKept) {
    VMemoryBuffer<> out;
    ASSERT_TRUE(out.AddData("old", 3));
    EXPECT_FALSE(Base64Coder::Decode("Zm9vYmFy!!!!", 12, out, false, false));
    EXPECT_EQ(out.GetDataSize(), 0u);
    EXPECT_EQ(out.GetDataPtr(), nullptr);

    EXPECT_FALSE(Base64Coder::Decode("Zm9vYmFy!!!!", 12, out, false, true));
    EXPECT_EQ(Text(out), "foobar");

    EXPECT_FALSE(Base64Coder::Decode(nullptr, 4, out, false, true));
    EXPECT_EQ(out.GetDataSize(), 0u);
}

TEST(Base64CoderRoundTrip, EveryByteValueAtEveryTailLength) {
    std::string bytes;
    for (int i = 0; i < 256 * 3 + 2; ++i)
        bytes.push_back(char(i * 7 + (i >> 8)));
    for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(255), size_t(256), bytes.size()}) {
        std::string part = bytes.substr(0, size);
        for (bool url : {false, true}) {
            EXPECT_EQ(Decode(Encode(part, url), url), part) << size << " url " << url;
        }
        EXPECT_EQ(Decode(Encode(part, false, 5), false), part) << size << " with line breaks";
    }
}

TEST(Base64CoderQuads, StopsAtTheFirstInvalidCharacterAndAdvances) {
    const uchar text[] = "Zm9vYm*yZm9v";
    uchar out[16] = {};
    size_t srcPos = 0, dstPos = 0;
    EXPECT_TRUE(Base64Coder::_DecodeQuads(Base64Coder::sBase64Inverse, text, 0, out, srcPos, dstPos));
    EXPECT_EQ(srcPos, 0u);

    EXPECT_FALSE(Base64Coder::_DecodeQuads(Base64Coder::sBase64Inverse, text, 3, out, srcPos, dstPos));
    EXPECT_EQ(srcPos, 4u);
    EXPECT_EQ(dstPos, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "foo");

    srcPos = 8;
    EXPECT_TRUE(Base64Coder::_DecodeQuads(Base64Coder::sBase64Inverse, text, 1, out, srcPos, dstPos));
    EXPECT_EQ(srcPos, 12u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), "foofoo");
}

TEST(Base64CoderChecksum, HexaIsLowercaseHighNibbleFirst) {
    VString out("previous");
    const uchar bytes[] = {0x00, 0xAB, 0xFF};
    Base64Coder::DO_EncodeChecksumHexa(bytes, 3, out);
    EXPECT_EQ(Units(out), u"00abff");

    // The four-bytes-per-step path and the byte-by-byte rule agree, whatever the tail.
    std::vector<uchar> all(256 + 3);
    std::u16string expected;
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = uchar(i * 37);
        expected += u"0123456789abcdef"[all[i] >> 4];
        expected += u"0123456789abcdef"[all[i] & 0xF];
    }
    Base64Coder::DO_EncodeChecksumHexa(all.data(), all.size(), out);
    EXPECT_EQ(Units(out), expected);

    Base64Coder::DO_EncodeChecksumHexa(bytes, 0, out);
    EXPECT_EQ(out.GetLength(), 0);
    EXPECT_FALSE(out.IsNull());
}

TEST(Base64CoderChecksum, Base64IsStandardWithoutLineBreaks) {
    VString out("previous");
    std::string bytes(100, '\x7F');
    Base64Coder::DO_EncodeChecksumBase64(reinterpret_cast<const uchar*>(bytes.data()), bytes.size(), out);
    std::string expected = Encode(bytes, false);
    EXPECT_EQ(Units(out), std::u16string(expected.begin(), expected.end()));

    Base64Coder::DO_EncodeChecksumBase64(nullptr, 0, out);
    EXPECT_EQ(out.GetLength(), 0);
}

} // namespace
} // namespace vela
