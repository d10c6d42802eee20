#include "core/VTextConverters.h"

#include "core/VMemoryBuffer.h"
#include "core/VString.h"
#include "core/VTextConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::string Narrow(const VString& text) {
    std::string out;
    for (int32 i = 0; i < text.GetLength(); ++i)
        out.push_back(char(text.GetCPointer()[i]));
    return out;
}

const uchar* U(const char* bytes) {
    return reinterpret_cast<const uchar*>(bytes);
}

VTextConverters& Registry() {
    return *VTextConverters::Get();
}

// ---- Registry

TEST(VTextConvertersRegistry, GetAnswersOneInstanceToEveryThread) {
    std::vector<VTextConverters*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = VTextConverters::Get(); });
    for (std::thread& thread : threads)
        thread.join();
    for (VTextConverters* instance : seen)
        EXPECT_EQ(instance, VTextConverters::Get());
}

TEST(VTextConvertersRegistry, SharedUnicodeConvertersAreRetained) {
    VToUnicodeConverter* utf8 = Registry().GetStdLibToUnicodeConverter();
    int32 before = utf8->GetRefCount();
    VToUnicodeConverter* retained = Registry().RetainToUnicodeConverter(VTC_UTF_8);
    EXPECT_EQ(retained, utf8);
    EXPECT_EQ(utf8->GetRefCount(), before + 1);
    retained->Release();
    EXPECT_EQ(utf8->GetRefCount(), before);

    VFromUnicodeConverter* from = Registry().RetainFromUnicodeConverter(VTC_UTF_8);
    EXPECT_EQ(from, Registry().GetStdLibFromUnicodeConverter());
    from->Release();

    for (CharSet shared :
         {VTC_UTF_16_BigEndian, VTC_UTF_16_LittleEndian, VTC_UTF_32_LittleEndian, VTC_UTF_32_Raw_LittleEndian}) {
        VToUnicodeConverter* a = Registry().RetainToUnicodeConverter(shared);
        VToUnicodeConverter* b = Registry().RetainToUnicodeConverter(shared);
        EXPECT_EQ(a, b) << shared;
        a->Release();
        b->Release();
    }
    for (CharSet fresh : {VTC_UTF_32_BigEndian, VTC_UTF_32_Raw_BigEndian, VTC_SystemDefault, VTC_Win1252}) {
        VToUnicodeConverter* a = Registry().RetainToUnicodeConverter(fresh);
        VToUnicodeConverter* b = Registry().RetainToUnicodeConverter(fresh);
        EXPECT_NE(a, b) << fresh;
        EXPECT_TRUE(a->IsValid()) << fresh;
        a->Release();
        b->Release();
    }
}

TEST(VTextConvertersRegistry, ConvertersServeSeveralThreadsAtOnce) {
    // The shared converters keep no state between calls; the others are made per request.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures, t] {
            CharSet charSet = t % 2 == 0 ? VTC_UTF_8 : VTC_SystemDefault;
            std::u16string expected;
            for (int i = 0; i < 200; ++i)
                expected += u"caf\u00E9 \u65E5\U0001F600 ";
            for (int round = 0; round < 50; ++round) {
                VString text(expected.c_str());
                VMemoryBuffer<1024, 2, 1048576> bytes;
                if (!text.ToBuffer(bytes, charSet)) ++failures;
                VString back;
                if (!Registry().ConvertToVString(bytes.GetDataPtr(), bytes.GetDataSize(), charSet, back) ||
                    Units(back) != expected)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(VTextConvertersRegistry, UnknownSetsGiveAVoidConverterNeverNull) {
    for (CharSet charSet : {VTC_Unknown, CharSet(12), CharSet(99999), VTC_MacArabic, VTC_MacHebrew}) {
        VToUnicodeConverter* to = Registry().RetainToUnicodeConverter(charSet);
        VFromUnicodeConverter* from = Registry().RetainFromUnicodeConverter(charSet);
        ASSERT_NE(to, nullptr);
        ASSERT_NE(from, nullptr);
        EXPECT_FALSE(to->IsValid()) << charSet;
        EXPECT_FALSE(from->IsValid()) << charSet;
        VString text;
        EXPECT_FALSE(to->ConvertString("abc", 3, nullptr, text));
        EXPECT_TRUE(text.IsEmpty());
        to->Release();
        from->Release();
    }
}

TEST(VTextConvertersRegistry, EveryByteOrderRoundTrips) {
    const std::u16string text = u"A\u00E9\U0001F600";
    struct Case {
        CharSet charSet;
        std::string bytes;
    };
    const Case cases[] = {
        {VTC_UTF_16_BigEndian, std::string("\0A\0\xE9\xD8\x3D\xDE\x00", 8)},
        {VTC_UTF_16_LittleEndian, std::string("A\0\xE9\0\x3D\xD8\x00\xDE", 8)},
        {VTC_UTF_32_BigEndian, std::string("\0\0\0A\0\0\0\xE9\0\x01\xF6\x00", 12)},
        {VTC_UTF_32_LittleEndian, std::string("A\0\0\0\xE9\0\0\0\x00\xF6\x01\0", 12)},
        {VTC_UTF_32_Raw_BigEndian, std::string("\0\0\0A\0\0\0\xE9\0\0\xD8\x3D\0\0\xDE\x00", 16)},
        {VTC_UTF_32_Raw_LittleEndian, std::string("A\0\0\0\xE9\0\0\0\x3D\xD8\0\0\x00\xDE\0\0", 16)},
        {VTC_UTF_8, "A\xC3\xA9\xF0\x9F\x98\x80"},
        {VTC_SystemDefault, "A\xC3\xA9\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        VString decoded;
        EXPECT_TRUE(Registry().ConvertToVString(c.bytes.data(), c.bytes.size(), c.charSet, decoded)) << c.charSet;
        EXPECT_EQ(Units(decoded), text) << c.charSet;

        VString source(text.c_str());
        std::string out(32, '\0');
        int32 consumed = 0;
        size_t produced = 0;
        EXPECT_TRUE(Registry().ConvertFromVString(source, &consumed, out.data(), out.size(), &produced, c.charSet));
        EXPECT_EQ(consumed, int32(text.size())) << c.charSet;
        EXPECT_EQ(out.substr(0, produced), c.bytes) << c.charSet;
    }
}

TEST(VTextConvertersRegistry, ConvertToVStringEmptiesTheTextFirst) {
    VString text("old");
    EXPECT_FALSE(Registry().ConvertToVString("A\0B", 3, VTC_UTF_16, text)); // an odd byte count
    EXPECT_EQ(Units(text), u"A");
    EXPECT_TRUE(Registry().ConvertToVString("", 0, VTC_UTF_8, text));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(VTextConvertersRegistry, WideLiteralsGoThroughTheRawForm) {
    VString wide(L"w\u00E9");
    EXPECT_EQ(Units(wide), u"w\u00E9");
}

TEST(VTextConvertersRegistry, StringsDecodeSplitUTF8ThroughTheSharedConverter) {
    VString text;
    EXPECT_EQ(text.FromBlock("ab\xE2\x82", 4, VTC_UTF_8), 2u);
    EXPECT_EQ(Units(text), u"ab");
    EXPECT_EQ(text.AppendBlock("\xE2\x82\xAC", 3, VTC_UTF_8), 3u);
    EXPECT_EQ(Units(text), u"ab\u20AC");

    VMemoryBuffer<1024, 2, 1048576> buffer;
    EXPECT_TRUE(text.ToBuffer(buffer, VTC_UTF_8));
    EXPECT_EQ(std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize()), "ab\xE2\x82\xAC");
}

// ---- Table lookups

TEST(VTextConvertersTable, LooksUpNamesSetsAndMIBNumbers) {
    struct NameCase {
        const char* name;
        CharSet charSet;
        int32 mib;
    };
    const NameCase byName[] = {
        {"latin1", VTC_ISO8859_1, 4},
        {"LATIN1", VTC_ISO8859_1, 4},
        {"utf-8", VTC_UTF_8, 106},
        {"Shift_JIS", VTC_ShiftJIS, 17},
        {"csShiftJIS", VTC_ShiftJIS, 17},
        {"x-mac-ce", VTC_MacCE, 1250},           // the first of two rows wins
        {"x-mac-chinesesimp", VTC_GB2312, 2025}, // likewise
        {"windows-936", VTC_GBK, 113},
        {"ucs-4be", VTC_UTF_32_BigEndian, 1018},
        {"ISO_8859-1:1987", VTC_ISO8859_1, 4},
        {"nothing", VTC_Unknown, 0},
        {"", VTC_Unknown, 0},
        {"UTF-", VTC_Unknown, 0},
        {"UTF-88", VTC_Unknown, 0},
    };
    for (const NameCase& c : byName) {
        EXPECT_EQ(Registry().GetCharSetFromName(VString(c.name)), c.charSet) << c.name;
        EXPECT_EQ(Registry().GetMIBEnumFromName(VString(c.name)), c.mib) << c.name;
    }

    struct SetCase {
        CharSet charSet;
        const char* name;
        int32 mib;
    };
    const SetCase bySet[] = {
        {VTC_ISO8859_1, "ISO-8859-1", 4},
        {VTC_UTF_8, "UTF-8", 106},
        {VTC_UTF_32_LittleEndian, "UCS4", 1017},
        {VTC_MacCE2, "x-mac-ce", 1257},
        {VTC_MacChineseSimplified, "x-mac-chinesesimp", 2025},
        {VTC_US_ASCII, "US-ASCII", 3},
        {VTC_MacChineseTraditional, "", 0}, // not in the table
    };
    for (const SetCase& c : bySet) {
        VString name("previous");
        Registry().GetNameFromCharSet(c.charSet, name);
        EXPECT_EQ(Narrow(name), c.name) << c.charSet;
        EXPECT_EQ(Registry().GetMIBEnumFromCharSet(c.charSet), c.mib) << c.charSet;
    }

    EXPECT_EQ(Registry().GetCharSetFromMIBEnum(2025), VTC_GB2312);
    EXPECT_EQ(Registry().GetCharSetFromMIBEnum(39), VTC_ISO2022JP);
    EXPECT_EQ(Registry().GetCharSetFromMIBEnum(424242), VTC_Unknown);
    VString name("previous");
    Registry().GetNameFromMIBEnum(106, name);
    EXPECT_EQ(Narrow(name), "UTF-8");
    Registry().GetNameFromMIBEnum(0, name);
    EXPECT_TRUE(name.IsEmpty());
}

TEST(VTextConvertersTable, WebCharsetsComeInTableOrder) {
    std::vector<VString> names{VString("stale")};
    std::vector<CharSet> charSets{VTC_UTF_7};
    Registry().EnumWebCharsets(names, charSets);
    ASSERT_EQ(names.size(), 21u);
    ASSERT_EQ(charSets.size(), names.size());
    EXPECT_EQ(Narrow(names[0]), "UTF-8");
    EXPECT_EQ(charSets[0], VTC_UTF_8);
    EXPECT_EQ(Narrow(names[3]), "Shift_JIS");
    EXPECT_EQ(Narrow(names.back()), "GBK");
    EXPECT_EQ(charSets.back(), VTC_GBK);
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(Registry().GetCharSetFromName(names[i]), charSets[i]);
}

TEST(VTextConvertersTable, AllCharsetsAreSortedWithTheirSets) {
    std::vector<VString> names;
    std::vector<CharSet> charSets;
    Registry().EnumCharsets(names, charSets);
    ASSERT_EQ(names.size(), 56u); // one entry per run of rows of the same set
    ASSERT_EQ(charSets.size(), names.size());
    auto lower = [](const VString& text) {
        std::string s = Narrow(text);
        std::transform(s.begin(), s.end(), s.begin(), [](char c) { return char(std::tolower(uchar(c))); });
        return s;
    };
    for (size_t i = 1; i < names.size(); ++i)
        EXPECT_LE(lower(names[i - 1]), lower(names[i])) << i;
    EXPECT_EQ(Narrow(names[0]), "Big5");
    auto find = [&](const char* wanted) {
        for (size_t i = 0; i < names.size(); ++i)
            if (Narrow(names[i]) == wanted) return int32(charSets[i]);
        return -1;
    };
    EXPECT_EQ(find("MacCE"), VTC_MacCE);
    EXPECT_EQ(find("x-mac-ce"), VTC_MacCE2);
    EXPECT_EQ(find("x-mac-chinesesimp"), VTC_MacChineseSimplified);
    EXPECT_EQ(find("ISO-8859-1"), VTC_ISO8859_1);
    EXPECT_EQ(find("latin1"), -1); // an alias inside a run
}

// ---- Byte-order marks

TEST(VTextConvertersBOM, ParsesMarksLongestFirst) {
    struct Case {
        std::string bytes;
        bool found;
        CharSet charSet;
        size_t length;
    };
    const Case cases[] = {
        {std::string("\xFF\xFE\0\0A\0", 6), true, VTC_UTF_32_LittleEndian, 4},
        {std::string("\xFF\xFE"
                     "A\0",
                     4),
         true, VTC_UTF_16_LittleEndian, 2},
        {std::string("\xFF\xFE\0", 3), true, VTC_UTF_16_LittleEndian, 2},
        {std::string("\0\0\xFE\xFF", 4), true, VTC_UTF_32_BigEndian, 4},
        {"\xFE\xFF", true, VTC_UTF_16_BigEndian, 2},
        {"\xEF\xBB\xBFx", true, VTC_UTF_8, 3},
        {"\xEF\xBB", false, VTC_Unknown, 0},
        {"abc", false, VTC_Unknown, 0},
        {"", false, VTC_Unknown, 0},
    };
    for (const Case& c : cases) {
        size_t length = 99;
        CharSet charSet = VTC_MacRoman;
        EXPECT_EQ(VTextConverters::ParseBOM(c.bytes.data(), c.bytes.size(), &length, &charSet), c.found);
        EXPECT_EQ(charSet, c.charSet) << c.bytes.size();
        EXPECT_EQ(length, c.length) << c.bytes.size();
    }
}

TEST(VTextConvertersBOM, GivesTheMarkOfEachSet) {
    struct Case {
        CharSet charSet;
        std::string bytes;
    };
    const Case cases[] = {
        {VTC_UTF_16_BigEndian, "\xFE\xFF"},
        {VTC_UTF_16_LittleEndian, "\xFF\xFE"},
        {VTC_UTF_32_BigEndian, std::string("\0\0\xFE\xFF", 4)},
        {VTC_UTF_32_LittleEndian, std::string("\xFF\xFE\0\0", 4)},
        {VTC_UTF_8, "\xEF\xBB\xBF"},
        {VTC_ISO8859_1, ""},
        {VTC_UTF_32_Raw_LittleEndian, ""},
    };
    for (const Case& c : cases) {
        size_t length = 99;
        const uchar* bom = VTextConverters::GetBOMForCharSet(c.charSet, &length);
        ASSERT_EQ(length, c.bytes.size()) << c.charSet;
        EXPECT_EQ(bom == nullptr, c.bytes.empty());
        if (!c.bytes.empty()) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(bom), length), c.bytes);
            CharSet parsed = VTC_Unknown;
            EXPECT_TRUE(VTextConverters::ParseBOM(bom, length, &length, &parsed));
            EXPECT_EQ(parsed, c.charSet);
        }
    }
}

// ---- UTF-8 detection and guessing

TEST(VTextConvertersDetect, AcceptsExactlyWellFormedUTF8) {
    struct Case {
        std::string bytes;
        bool utf8;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii text that is longer than a block", true},
        {"\xC3\xA9", true},
        {"\xE2\x82\xAC", true},
        {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},
        {"\xEF\xBF\xBF", true},
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {std::string("a\0b", 3), true},
        {"\xC0\x80", false}, // overlong
        {"\xC1\xBF", false},
        {"\xE0\x80\x80", false},     // overlong
        {"\xED\xA0\x80", false},     // a surrogate
        {"\xF0\x80\x80\x80", false}, // overlong
        {"\xF4\x90\x80\x80", false}, // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\x80", false},
        {"\xC3\x41", false},
        {"\xE2\x82", false}, // ends inside a character
        {"abcdefghijklmnop\xE2\x82", false},
        {"abcdefghijklmnop\xFF", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VTextConverters::DetectUTF8(U(c.bytes.data()), int32(c.bytes.size())), c.utf8) << c.bytes;
    EXPECT_TRUE(VTextConverters::DetectUTF8(nullptr, 0));
    EXPECT_TRUE(VTextConverters::DetectUTF8(U("\xFF"), -1));
}

TEST(VTextConvertersGuess, GuessesFromTheLeadingBytes) {
    struct Case {
        std::string bytes;
        CharSet start;
        bool testUTF8;
        bool guessed;
        CharSet result;
    };
    const Case cases[] = {
        {"abcd", VTC_UTF_16_LittleEndian, false, true, VTC_UTF_8},
        {"abcd", VTC_UTF_16_BigEndian, false, true, VTC_UTF_8},
        {"abcd", VTC_ISO8859_1, false, false, VTC_ISO8859_1},
        {"abc", VTC_UTF_16_LittleEndian, false, false, VTC_UTF_16_LittleEndian},
        {std::string("\0A\0B", 4), VTC_ISO8859_1, false, true, VTC_UTF_16_BigEndian},
        {std::string("A\0B\0", 4), VTC_ISO8859_1, false, true, VTC_UTF_16_LittleEndian},
        {"", VTC_ISO8859_1, true, false, VTC_ISO8859_1},
        {"h\xC3\xA9llo", VTC_ISO8859_1, true, true, VTC_UTF_8},
        {"h\xE9llo", VTC_ISO8859_1, true, false, VTC_ISO8859_1},
        {"ab", VTC_ISO8859_1, true, true, VTC_UTF_8},
        {std::string("A\0B\0", 4), VTC_ISO8859_1, true, true, VTC_UTF_8}, // NUL bytes are valid UTF-8
    };
    for (const Case& c : cases) {
        CharSet charSet = c.start;
        EXPECT_EQ(VTextConverters::GuessCharsetWithNoBom(c.bytes.data(), int32(c.bytes.size()), &charSet, c.testUTF8),
                  c.guessed)
            << c.bytes;
        EXPECT_EQ(charSet, c.result) << c.bytes;
    }
}

TEST(VTextConvertersGuess, ASampleCutInsideACharacterStillCountsAsUTF8) {
    // The test reads 2048 bytes; here the last character of the sample continues behind it.
    std::string cut = std::string(2047, 'a') + "\xC3\xA9zz";
    CharSet charSet = VTC_ISO8859_1;
    EXPECT_TRUE(VTextConverters::GuessCharsetWithNoBom(cut.data(), int32(cut.size()), &charSet, true));
    EXPECT_EQ(charSet, VTC_UTF_8);

    // A whole text that ends inside a character is not UTF-8.
    std::string truncated = std::string(2047, 'a') + "\xC3";
    charSet = VTC_ISO8859_1;
    EXPECT_FALSE(VTextConverters::GuessCharsetWithNoBom(truncated.data(), int32(truncated.size()), &charSet, true));
    EXPECT_EQ(charSet, VTC_ISO8859_1);

    // A rejected sample is not UTF-8, cut or not.
    std::string rejected = std::string(2046, 'a') + "\xFF\xC3\xA9";
    charSet = VTC_ISO8859_1;
    EXPECT_FALSE(VTextConverters::GuessCharsetWithNoBom(rejected.data(), int32(rejected.size()), &charSet, true));
    EXPECT_EQ(charSet, VTC_ISO8859_1);
}

} // namespace
} // namespace vela
