#include "core/VStringFormat.h"

#include "intl/VIntlMgr.h"
#include "support/RecordingRaiser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace vela {
namespace {

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

// The ASCII text of a string (tests compare against C library output).
std::string Bytes(const VString& text) {
    std::string bytes;
    for (int32 i = 0; i < text.GetLength(); ++i)
        bytes += char(text.GetCPointer()[i]);
    return bytes;
}

template <class... Args> std::string CPrintf(const char* format, Args... args) {
    int size = std::snprintf(nullptr, 0, format, args...);
    std::string out(size_t(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, args...);
    out.resize(size_t(size));
    return out;
}

template <class... Args> std::string OurPrintf(const char* format, Args... args) {
    VString text;
    text.Printf(format, args...);
    return Bytes(text);
}

// An object that is neither a string nor a value.
class Plain : public VObject {
public:
    CharSet DebugDump(char* buffer, int& length) const override {
        static const char kText[] = "plain object";
        length = std::min<int>(length, int(sizeof(kText) - 1));
        std::memcpy(buffer, kText, size_t(length));
        return VTC_UTF_8;
    }
};

// ---- printf engine

TEST(VStringPrintf, StandardConversionsMatchTheCLibrary) {
    // Each line: a format and its arguments, as the C library writes them.
    EXPECT_EQ(OurPrintf("%d items", 3), "3 items");
    EXPECT_EQ(OurPrintf("[%5d|%-5d|%+d|% d|%05d]", 42, 42, 42, 42, -42),
              CPrintf("[%5d|%-5d|%+d|% d|%05d]", 42, 42, 42, 42, -42));
    EXPECT_EQ(OurPrintf("%x %X %#x %o %#o %u", 255u, 255u, 255u, 8u, 8u, 4000000000u),
              CPrintf("%x %X %#x %o %#o %u", 255u, 255u, 255u, 8u, 8u, 4000000000u));
    EXPECT_EQ(OurPrintf("%hhd %hhu %hd %hu", 300, 300, 70000, 70000),
              CPrintf("%hhd %hhu %hd %hu", 300, 300, 70000, 70000));
    EXPECT_EQ(OurPrintf("%lld %llu %ld", LLONG_MIN, ULLONG_MAX, LONG_MAX),
              CPrintf("%lld %llu %ld", LLONG_MIN, ULLONG_MAX, LONG_MAX));
    EXPECT_EQ(OurPrintf("%jd %zu %td %zd", INTMAX_MIN, SIZE_MAX, PTRDIFF_MIN, ptrdiff_t(-3)),
              CPrintf("%jd %zu %td %zd", INTMAX_MIN, SIZE_MAX, PTRDIFF_MIN, ptrdiff_t(-3)));
    EXPECT_EQ(OurPrintf("%.3d|%.0d|%8.3x", 7, 0, 10u), CPrintf("%.3d|%.0d|%8.3x", 7, 0, 10u));
    EXPECT_EQ(OurPrintf("%*d|%-*d|%*d", 5, 1, 5, 2, -5, 3), CPrintf("%*d|%-*d|%*d", 5, 1, 5, 2, -5, 3));
    EXPECT_EQ(OurPrintf("%.*d|%.*f|%*.*f", 4, 7, -1, 1.5, 8, 2, 3.14159),
              CPrintf("%.*d|%.*f|%*.*f", 4, 7, -1, 1.5, 8, 2, 3.14159));
    EXPECT_EQ(OurPrintf("%c%5c%-3c|", 'a', 'b', 'c'), CPrintf("%c%5c%-3c|", 'a', 'b', 'c'));
    EXPECT_EQ(OurPrintf("%s|%.2s|%10s|%-10s|%*s", "abc", "abc", "abc", "abc", 4, "x"),
              CPrintf("%s|%.2s|%10s|%-10s|%*s", "abc", "abc", "abc", "abc", 4, "x"));
    EXPECT_EQ(OurPrintf("%p %p", static_cast<void*>(nullptr), reinterpret_cast<void*>(uintptr_t(0x1234))),
              CPrintf("%p %p", static_cast<void*>(nullptr), reinterpret_cast<void*>(uintptr_t(0x1234))));
    EXPECT_EQ(OurPrintf("%e|%E|%.0e|%g|%G|%#g|%.0g|%a", 12345.678, 1e-10, 2.5, 1e-5, 1e20, 1.0, 0.5, 1.0),
              CPrintf("%e|%E|%.0e|%g|%G|%#g|%.0g|%a", 12345.678, 1e-10, 2.5, 1e-5, 1e20, 1.0, 0.5, 1.0));
    EXPECT_EQ(OurPrintf("%f|%F|%f|%e|%+.1f|%08.2f", INFINITY, -INFINITY, NAN, -0.0, 2.25, -3.5),
              CPrintf("%f|%F|%f|%e|%+.1f|%08.2f", INFINITY, -INFINITY, NAN, -0.0, 2.25, -3.5));
    EXPECT_EQ(OurPrintf("%Lf|%.3Le", 1.25L, 1e300L), CPrintf("%Lf|%.3Le", 1.25L, 1e300L));
    EXPECT_EQ(OurPrintf("100%% %d%%", 5), "100% 5%");
}

TEST(VStringPrintf, FastRealConversionsAgreeWithTheCLibraryOverManyValues) {
    std::mt19937_64 random(20240611);
    std::vector<double> values = {0.0,  -0.0,   0.5,     1.5,     2.5,     0.125,   0.375,    1e23,
                                  1e22, 5e-324, DBL_MAX, DBL_MIN, 1.0 / 3, 2.0 / 3, 999.9995, 0.05};
    for (int i = 0; i < 3000; ++i) {
        uint64 bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        if (std::isfinite(value)) values.push_back(value);
        values.push_back(double(int64(random() % 2000000) - 1000000) / 1000.0); // decimal ties and near-ties
    }
    const char* formats[] = {"%f", "%.3f", "%.0f", "%e", "%.10e", "%E", "%g", "%.17g", "%G", "%.0g", "%.1g"};
    for (const char* format : formats) {
        for (double value : values) {
            ASSERT_EQ(OurPrintf(format, value), CPrintf(format, value)) << format << " of " << CPrintf("%a", value);
        }
    }
}

TEST(VStringPrintf, ObjectConversionsInsertTheirTexts) {
    VString name("a");
    Plain plain;
    VString text;
    text.Printf("%S=%d", &name, 5);
    EXPECT_EQ(Units(text), u"a=5");
    text.Printf("%S=%d", &plain, 5);
    EXPECT_EQ(Units(text), u"@@invalid VString@@=5");
    text.Printf("%A|%A", &name, &plain);
    EXPECT_EQ(Units(text), u"a|@@invalid VValueSingle@@");
    text.Printf("%V|%V", &plain, &name);
    EXPECT_EQ(Units(text), u"plain object|a");
    text.Printf("%S|%A|%V", static_cast<VString*>(nullptr), static_cast<VObject*>(nullptr),
                static_cast<VObject*>(nullptr));
    EXPECT_EQ(Units(text), u"@@invalid VObject@@|@@invalid VObject@@|@@invalid VObject@@");
}

TEST(VStringPrintf, ArgumentsOfEveryTypeMayStandBeforeObjects) {
    VString a("first"), b(u"second \U0001F600");
    VString text;
    text.Printf("%.2f %S %d %S", 1.5, &a, 7, &b);
    EXPECT_EQ(Units(text), u"1.50 first 7 second \U0001F600");
    text.Printf("%.*f|%S|%*s|%S|%lld|%Lg|%S", 3, 2.0, &a, 4, "x", &b, LLONG_MIN, 0.5L, &a);
    EXPECT_EQ(Units(text), u"2.000|first|   x|second \U0001F600|-9223372036854775808|0.5|first");
    text.Printf("%S%e%S%c%S", &a, 1e100, &b, 'z', &a);
    EXPECT_EQ(Units(text), u"first1.000000e+100second \U0001F600zfirst");
}

TEST(VStringPrintf, MarkersInTextOrArgumentsStayLiteral) {
    VString name("a");
    VString text;
    text.Printf("%s %S %s", ";;;x;;;", &name, ";;;");
    EXPECT_EQ(Units(text), u";;;x;;; a ;;;");
    text.Printf(";;;%S;;;%p;;;", &name, static_cast<void*>(nullptr));
    EXPECT_EQ(Units(text), u";;;a;;;(nil);;;");
    VString markers(";;;%p;;;");
    text.Printf("%S-%S", &markers, &name);
    EXPECT_EQ(Units(text), u";;;%p;;;-a");
}

TEST(VStringPrintf, LongOutputsAreNeverCut) {
    std::string big(5000, 'b');
    std::string format(3000, 'f');
    format += "%s|%5000d|%S";
    VString object(std::string(4500, 'o').c_str());
    VString text;
    text.Printf(format.c_str(), big.c_str(), 7, &object);
    std::string expected = std::string(3000, 'f') + big + "|" + std::string(4999, ' ') + "7|" + std::string(4500, 'o');
    EXPECT_EQ(Bytes(text), expected);

    text.Printf("%.3000f", 1.0);
    EXPECT_EQ(text.GetLength(), 3002);
}

TEST(VStringPrintf, AppendKeepsPrintfReplaces) {
    VString text("start ");
    text.AppendPrintf("%d", 1);
    EXPECT_EQ(Units(text), u"start 1");
    text.Printf("%d", 2);
    EXPECT_EQ(Units(text), u"2");
    EXPECT_EQ(Units(Printf("%s-%d", "x", 3)), u"x-3");
}

TEST(VStringPrintf, TheStringItselfMayBeAnArgument) {
    VString text("old");
    text.Printf("%S/x", &text);
    EXPECT_EQ(Units(text), u"old/x");
    text.AppendPrintf("+%S", &text);
    EXPECT_EQ(Units(text), u"old/x+old/x");

    VString large(std::string(100, 'L').c_str());
    VString copy(large); // shares the buffer
    large.Printf("%A!", &large);
    EXPECT_EQ(Bytes(large), std::string(100, 'L') + "!");
    EXPECT_EQ(Bytes(copy), std::string(100, 'L'));
}

TEST(VStringPrintf, OutputBytesAreReadAsUTF8) {
    VString text;
    text.Printf("caf\xC3\xA9 %s %c", "\xE2\x82\xAC", 'x');
    EXPECT_EQ(Units(text), u"café € x");
    text.Printf("%ls", L"\u00E9t\u00E9");
    EXPECT_EQ(Units(text), u"été");
}

TEST(VStringPrintf, WritingThroughArgumentsIsRefused) {
    int count = 123;
    VString name("n");
    VString text;
    text.Printf("ab%n%S", &count, &name);
    EXPECT_EQ(Units(text), u"abn");
    EXPECT_EQ(count, 123);
}

TEST(VStringPrintf, UnknownOrIncompleteConversionsAreWrittenAsTheyStand) {
    EXPECT_EQ(OurPrintf("%y|%d|%", 4), "%y|4|%");
    EXPECT_EQ(OurPrintf("%1$d %d", 5), "%1$d 5");
    VString text(true);
    text.Printf("");
    EXPECT_FALSE(text.IsNull());
    EXPECT_TRUE(text.IsEmpty());
}

// Switches LC_NUMERIC to a locale whose decimal separator is a comma: an installed one, or one built for the
// test under a temporary folder when the system can build locales. False when neither works.
bool UseCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) return true;
    std::string folder = testing::TempDir() + "vela_locales";
    std::string command =
        "mkdir -p '" + folder + "' && localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    setenv("LOCPATH", folder.c_str(), 1);
    bool found = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH"); // the locale is loaded; later locale calls must not look there
    return found;
}

TEST(VStringPrintf, NumbersIgnoreTheCLocale) {
    std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma can be had";
    ASSERT_EQ(CPrintf("%.1f", 1.5), "1,5"); // the C library itself now writes a comma

    VString text;
    text.Printf("%.1f %g %5.2f %+.1e %a", 1.5, 0.25, 2.0, 3.0, 0.5);
    std::u16string written = Units(text);
    text.FromReal(1.5);
    std::u16string real = Units(text);
    double read = VString("2.5").GetReal();
    double readComma = VString("2,5").GetReal();
    std::setlocale(LC_NUMERIC, saved.c_str());

    EXPECT_EQ(written, u"1.5 0.25  2.00 +3.0e+00 0x1p-1");
    EXPECT_EQ(real, u"1.5");
    EXPECT_EQ(read, 2.5);
    EXPECT_EQ(readComma, 2.0);
}

// ---- Reset rule

TEST(VStringReset, LargeOrSharedBuffersAreGivenUpSmallOwnOnesKept) {
    VString large(std::string(100, 'x').c_str());
    large.FromLong(5);
    EXPECT_EQ(Units(large), u"5");
    EXPECT_LT(large.GetCapacity(), 33);

    VString small("abcdefgh"); // a 16-unit block, capacity 13
    const UniChar* buffer = small.GetCPointer();
    small.Printf("%d", 12);
    EXPECT_EQ(small.GetCPointer(), buffer);
    EXPECT_EQ(Units(small), u"12");

    VString shared("abcdefgh");
    VString copy(shared);
    shared.FromReal(0.5);
    EXPECT_EQ(Units(shared), u"0.5");
    EXPECT_EQ(Units(copy), u"abcdefgh");
}

// ---- Number writers

TEST(VStringNumbers, IntegerWriters) {
    struct Case {
        int64 value;
        const char16_t* text;
    };
    for (Case c : {Case{0, u"0"}, Case{-1, u"-1"}, Case{INT32_MIN, u"-2147483648"}, Case{INT32_MAX, u"2147483647"},
                   Case{1234567, u"1234567"}, Case{-10, u"-10"}, Case{99, u"99"}, Case{100, u"100"}}) {
        VString text("prefix ");
        text.AppendLong(int32(c.value));
        EXPECT_EQ(Units(text), u"prefix " + std::u16string(c.text));
        text.FromLong(int32(c.value));
        EXPECT_EQ(Units(text), c.text);
        EXPECT_EQ(Units(VString::ToString(int(c.value))), c.text);
    }
    VString text;
    text.FromLong8(INT64_MIN);
    EXPECT_EQ(Units(text), u"-9223372036854775808");
    text.AppendLong8(INT64_MAX);
    EXPECT_EQ(Units(text), u"-92233720368547758089223372036854775807");
    text.FromULong8(UINT64_MAX);
    EXPECT_EQ(Units(text), u"18446744073709551615");
    text.AppendULong8(0);
    EXPECT_EQ(Units(text), u"184467440737095516150");
    EXPECT_EQ(Units(VString::ToString(-5LL)), u"-5");
    EXPECT_EQ(Units(VString::ToString(int64(-6))), u"-6");
    EXPECT_EQ(Units(VString::ToString(7UL)), u"7");
    EXPECT_EQ(Units(VString::ToString(ULLONG_MAX)), u"18446744073709551615");
}

TEST(VStringNumbers, LongWriterMatchesToChars) {
    // Every magnitude and sign, appended to a text whose buffer a copy shares (the copy keeps its text).
    std::mt19937_64 random(11);
    VString text("head ");
    for (int i = 0; i < 5000; ++i) {
        int64 value = int64(random() >> (random() % 64));
        if (i % 2 == 1) value = -value;
        if (i == 0) value = INT64_MIN;
        VString before(text);
        text.AppendLong8(value);
        char bytes[24];
        std::string digits(bytes, std::to_chars(bytes, bytes + sizeof(bytes), value).ptr);
        ASSERT_EQ(Units(text), Units(before) + std::u16string(digits.begin(), digits.end())) << digits;
        if (text.GetLength() > 200) text.FromCString("head ");
    }
    text.FromByte(-128);
    EXPECT_EQ(Units(text), u"-128");
    text.FromWord(-32768);
    EXPECT_EQ(Units(text), u"-32768");
}

TEST(VStringNumbers, RealWriterIsCPercentPoint14G) {
    struct Case {
        double value;
        const char16_t* text;
    };
    for (Case c : {Case{0.1, u"0.1"}, Case{1e20, u"1E+20"}, Case{1.0 / 3, u"0.33333333333333"}, Case{0, u"0"},
                   Case{-0.0, u"-0"}, Case{1e15, u"1E+15"}, Case{123456789012345.0, u"1.2345678901234E+14"},
                   Case{1e-5, u"1E-05"}, Case{0.0001, u"0.0001"}, Case{INFINITY, u"INF"}, Case{-INFINITY, u"-INF"},
                   Case{NAN, u"NAN"}, Case{5e-324, u"4.9406564584125E-324"}, Case{-2.5, u"-2.5"}}) {
        VString text("before");
        text.FromReal(c.value);
        EXPECT_EQ(Units(text), c.text);
    }
    VString text("x=");
    text.AppendReal(1.25);
    EXPECT_EQ(Units(text), u"x=1.25");
}

TEST(VStringNumbers, RealWriterMatchesTheCLibraryOverManyValues) {
    std::mt19937_64 random(77);
    VString text;
    for (int i = 0; i < 20000; ++i) {
        uint64 bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        if (i % 2 == 1) value = double(int64(bits % 100000000)) / 1000.0;
        text.FromReal(value);
        ASSERT_EQ(Bytes(text), CPrintf("%.14G", value)) << CPrintf("%a", value);
    }
}

TEST(VStringNumbers, HexWriterPadsByWidth) {
    struct Case {
        int64 value;
        bool prefix;
        const char16_t* text;
    };
    for (Case c : {Case{0, true, u"0x0000"}, Case{0, false, u"0"}, Case{0xFF, true, u"0x00FF"},
                   Case{0x1234, true, u"0x1234"}, Case{0x12345, true, u"0x00012345"}, Case{0x12345, false, u"12345"},
                   Case{0x1234567, true, u"0x01234567"}, Case{0x123456789, true, u"0x0000000123456789"},
                   Case{-1, true, u"0xFFFFFFFFFFFFFFFF"}, Case{0xabcdef, false, u"ABCDEF"}}) {
        VString text("old text");
        text.FromHexLong(c.value, c.prefix);
        EXPECT_EQ(Units(text), c.text) << c.value;
    }
    struct Case32 {
        int32 value;
        bool prefix;
        const char16_t* text;
    };
    for (Case32 c : {Case32{0, true, u"0x0000"}, Case32{255, true, u"0x00FF"}, Case32{0x12345, true, u"0x00012345"},
                     Case32{-1, true, u"0xFFFFFFFF"}, Case32{-1, false, u"FFFFFFFF"}}) {
        VString text;
        text.FromHexLong(c.value, c.prefix);
        EXPECT_EQ(Units(text), c.text) << c.value;
    }
    VString text;
    text.FromHexLong(uchar(0), true);
    EXPECT_EQ(Units(text), u"0x00");
    text.FromHexLong(uchar(0xA), true);
    EXPECT_EQ(Units(text), u"0x0A");
    text.FromHexLong(char(-1), true);
    EXPECT_EQ(Units(text), u"0xFF");
    text.FromHexLong(char(-1), false);
    EXPECT_EQ(Units(text), u"FF");
}

TEST(VStringNumbers, BooleanOsTypeAndValueWriters) {
    VString text(true);
    text.FromBoolean(2);
    EXPECT_EQ(Units(text), u"true");
    EXPECT_FALSE(text.IsNull());
    text.FromBoolean(0);
    EXPECT_EQ(Units(text), u"false");

    text.FromOsType(FourCC("abcd"));
    EXPECT_EQ(Units(text), u"abcd");
    text.AppendOsType(0xC3A92020);
    EXPECT_EQ(Units(text), u"abcdé  ");

    VString value("value");
    text.FromString("v=");
    text.AppendValue(value);
    EXPECT_EQ(Units(text), u"v=value");
}

TEST(VStringNumbers, ValueModelGoesThroughTheStringRules) {
    VString text;
    VValueSingle& value = text;
    value.FromLong(-12);
    EXPECT_EQ(Units(text), u"-12");
    EXPECT_EQ(value.GetLong(), -12);
    value.FromReal(0.25);
    EXPECT_EQ(value.GetReal(), 0.25);
    value.FromBoolean(1);
    EXPECT_TRUE(value.GetBoolean());
    value.FromLong8(1LL << 40);
    EXPECT_EQ(value.GetLong8(), 1LL << 40);
    EXPECT_EQ(value.GetLong(), 0);
}

// ---- Number readers

TEST(VStringNumbers, IntegerReaderSkipsAndStops) {
    struct Case {
        const char* text;
        int64 value;
    };
    for (Case c : {Case{"", 0}, Case{"-12", -12}, Case{"1-2", 12}, Case{"abc", 0}, Case{"1 234", 1234},
                   Case{"12.7", 12}, Case{"12-3", 123}, Case{"0-5", -5}, Case{"--5", -5}, Case{"x-4y2", -42},
                   Case{"-9223372036854775808", INT64_MIN}, Case{"9223372036854775807", INT64_MAX},
                   Case{"18446744073709551617", 1}, Case{".5", 0}}) {
        EXPECT_EQ(VString(c.text).GetLong8(), c.value) << c.text;
    }
    EXPECT_EQ(VString("3000000000").GetLong(), 0);
    EXPECT_EQ(VString("-2147483648").GetLong(), INT32_MIN);
    EXPECT_EQ(VString("40000").GetWord(), 0);
    EXPECT_EQ(VString("-32768").GetWord(), -32768);
    EXPECT_EQ(VString("200").GetByte(), 0);
    EXPECT_EQ(VString("-128").GetByte(), -128);
}

// A manager with a chosen decimal separator that records the string comparisons asked of it.
class FakeIntlMgr : public VIntlMgr {
public:
    explicit FakeIntlMgr(const char* separator, bool equal = false) : fSeparator(separator), fEqual(equal) {}

    bool EqualString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                     bool diacritical) const override {
        fCalls.push_back({std::u16string(a, size_t(lengthA)), std::u16string(b, size_t(lengthB)), diacritical});
        return fEqual;
    }
    const VString& GetDecimalSeparator() const override { return fSeparator; }

    struct Call {
        std::u16string text, pattern;
        bool diacritical;
    };
    mutable std::vector<Call> fCalls;

private:
    VString fSeparator;
    bool fEqual;
};

TEST(VStringNumbers, IntegerReaderStopsAtTheManagersSeparator) {
    VRefPtr<FakeIntlMgr> comma = VRefPtr<FakeIntlMgr>::Adopt(new FakeIntlMgr(","));
    StCurrentIntlMgr current(comma.Get());
    EXPECT_EQ(VString("1,5").GetLong8(), 1);
    EXPECT_EQ(VString("1.5").GetLong8(), 15);
    EXPECT_EQ(VString("-3,9").GetLong(), -3);

    VRefPtr<FakeIntlMgr> none = VRefPtr<FakeIntlMgr>::Adopt(new FakeIntlMgr(""));
    StCurrentIntlMgr noSeparator(none.Get());
    EXPECT_EQ(VString("1,5.5").GetLong8(), 155);
}

TEST(VStringNumbers, BooleanReaderAsksTheCurrentManager) {
    VRefPtr<FakeIntlMgr> yes = VRefPtr<FakeIntlMgr>::Adopt(new FakeIntlMgr(".", true));
    {
        StCurrentIntlMgr current(yes.Get());
        EXPECT_TRUE(VString("TRUE").GetBoolean());
        EXPECT_FALSE(VString("").GetBoolean());
    }
    ASSERT_EQ(yes->fCalls.size(), 1u);
    EXPECT_EQ(yes->fCalls[0].text, u"TRUE");
    EXPECT_EQ(yes->fCalls[0].pattern, u"true");
    EXPECT_FALSE(yes->fCalls[0].diacritical);

    // The default manager folds case; digits are not booleans.
    EXPECT_TRUE(VString("true").GetBoolean());
    EXPECT_TRUE(VString("TRUE").GetBoolean());
    EXPECT_FALSE(VString("1").GetBoolean());
    EXPECT_FALSE(VString("truex").GetBoolean());
}

TEST(VStringNumbers, RealReaderFollowsCSyntax) {
    struct Case {
        const char16_t* text;
        double value;
    };
    std::u16string digits = u"1" + std::u16string(300, u'0');
    for (Case c :
         {Case{u"", 0}, Case{u"1.5", 1.5}, Case{u"  -2.5e3xyz", -2500}, Case{u"+.5", 0.5}, Case{u"1e", 1},
          Case{u"abc", 0}, Case{u"0x1p4", 16}, Case{u"-0X10", -16}, Case{u"--1", 0}, Case{u"+-1", 0}, Case{u"1,5", 1},
          Case{u" \t\n42", 42}, Case{u"\u00A042", 0}, Case{u"7\u00E9", 7}, Case{u"inf", INFINITY},
          Case{u"-Infinity", -INFINITY}, Case{digits.c_str(), 1e300}, Case{u"1e-310", 1e-310},
          // Units read eight at a time: one outside ASCII (whose low byte is a digit) stops the reading there.
          Case{u"12345678\u01319", 12345678}, Case{u"1234567890123\u0131", 1234567890123},
          Case{u"1234567\uFF10", 1234567}, Case{u"-0.000000000000000000001", -1e-21},
          Case{u"4.9406564584124654e-324", 4.9406564584124654e-324},
          Case{u"+1.2345678901234567e+300", 1.2345678901234567e300},
          Case{u"-9223372036854775808", -9223372036854775808.0},
          Case{u"0.30000000000000004441", 0.30000000000000004441}, Case{u"   1.5\u2212", 1.5}}) {
        EXPECT_EQ(VString(c.text).GetReal(), c.value) << Bytes(VString(c.text));
    }
    EXPECT_TRUE(std::isnan(VString("nan").GetReal()));
    EXPECT_TRUE(std::signbit(VString("-0").GetReal()));
    EXPECT_TRUE(std::signbit(VString("-0.00000000000000000000").GetReal()));
}

TEST(VStringNumbers, RealReaderRoundTripsEveryDouble) {
    std::mt19937_64 random(5);
    for (int i = 0; i < 20000; ++i) {
        uint64 bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        if (!std::isfinite(value)) continue;
        VString text(CPrintf("%.17g", value).c_str());
        ASSERT_EQ(text.GetReal(), value) << Bytes(text);
    }
}

// The bits from_chars reads from text (which starts with a digit, a point or '-'), for the reader's short path.
uint64_t FromCharsBits(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

uint64_t GetRealBits(const std::string& text) {
    double value = VString(text.c_str()).GetReal();
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

TEST(VStringNumbers, RealReaderShortPathMatchesFromChars) {
    // Whitespace-separated forms.
    std::istringstream texts(
        "9007199254740991 9007199254740992 9007199254740993 -9007199254740993 9007199254740993e-5 9007199254740995 "
        "18014398509481987 123456789012345 1234567890123456 12345678901234567 123456789012345678 "
        "1234567890123456789 9999999999999999999 99999999999999999999 18446744073709551615 1e22 1e23 -1e-22 1e-23 "
        "9007199254740991e22 9007199254740991e-22 9e37 9e38 1.5e37 123456789e30 0.1 0.2 0.3 0.7 1.1 3.14159 -0 "
        "-0.0 -0e5 -.0 0.000 2.2250738585072011e-308 2.2250738585072014e-308 4.9e-324 1e-310 "
        "1.7976931348623157e308 1e300 1e-300 123456789012345678e-300 1e280 1e-299 0.12345678901234567 "
        "-734561.12345678912 8.123456789012345e-13 5e-324 1e 1.5e 1.5e+ 1.5e- 1.5ex 2.5e-x 1.5.3 1.5e+3.5 .5 5. "
        "5.e2 12345678.5 1234567890123456.5 0000000000000000000001 0.0000000000000000000001 1,5 7;8 1E5 1e+05 "
        "1e-05");
    for (std::string text; texts >> text;) {
        EXPECT_EQ(GetRealBits(text), FromCharsBits(text)) << text;
    }
    // Forms from_chars refuses or that follow other units read as before.
    EXPECT_EQ(VString("+1.5").GetReal(), 1.5);
    EXPECT_EQ(VString(".").GetReal(), 0);
    EXPECT_EQ(VString("-.e5").GetReal(), 0);
    EXPECT_EQ(VString(u"12345678\u06619").GetReal(), 12345678);
    EXPECT_EQ(VString(u"1234\u0661").GetReal(), 1234);
    EXPECT_EQ(VString(u"1.5e\u00B2").GetReal(), 1.5);
    EXPECT_EQ(VString(u"1.25\u2212").GetReal(), 1.25);
}

TEST(VStringNumbers, RealReaderShortPathMatchesFromCharsOnRandomTexts) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 200000; ++i) {
        // Significands of 1 to 21 digits, a point anywhere, exponents in and around the short path's range.
        int digits = 1 + int(random() % 21);
        std::string text = random() % 2 == 0 ? "-" : "";
        std::string significand;
        for (int d = 0; d < digits; ++d)
            significand += char('0' + random() % 10);
        size_t point = size_t(random() % size_t(digits + 1));
        if (random() % 3 != 0) significand.insert(point, ".");
        text += significand;
        int range = random() % 4 == 0 ? 330 : 40;
        int exponent = int(random() % uint64_t(2 * range + 1)) - range;
        if (random() % 4 != 0) text += "e" + std::to_string(exponent);
        double expected = 0;
        std::from_chars_result result = std::from_chars(text.data(), text.data() + text.size(), expected);
        if (result.ec != std::errc()) continue; // out of range: read by C, as before
        ASSERT_EQ(GetRealBits(text), FromCharsBits(text)) << text;
    }
}

TEST(VStringNumbers, RealReaderReportsOverflow) {
    struct Case {
        const char* text;
        double value;
        bool overflow;
    };
    for (Case c : {Case{"1e400", INFINITY, true}, Case{"-1e400", -INFINITY, true}, Case{"1e-400", 0, true},
                   Case{"1e-310", 1e-310, false}, Case{"1.5", 1.5, false}, Case{"", 0, false}, Case{"0", 0, false},
                   Case{"inf", INFINITY, false}, Case{"0x1p99999", INFINITY, true}}) {
        bool overflow = !c.overflow;
        EXPECT_EQ(VString(c.text).GetRealCheckOverflow(&overflow), c.value) << c.text;
        EXPECT_EQ(overflow, c.overflow) << c.text;
    }
    EXPECT_EQ(VString("2").GetRealCheckOverflow(nullptr), 2.0);
}

TEST(VStringNumbers, HexReaderTakesEveryHexDigit) {
    EXPECT_EQ(VString("0x1F").GetHexLong(), 0x1F);
    EXPECT_EQ(VString("ff-FF").GetHexLong(), 0xFFFF);
    EXPECT_EQ(VString("zz").GetHexLong(), 0);
    EXPECT_EQ(VString("").GetHexLong(), 0);
    EXPECT_EQ(VString("1FFFFFFFFFFFFFFFF").GetHexLong(), -1); // 17 digits: the top one is shifted out
}

TEST(VStringNumbers, OsTypeReaderPadsAndRefusesLongTexts) {
    struct Case {
        const char16_t* text;
        uint32 code;
    };
    for (Case c : {Case{u"", 0}, Case{u"ab", 0x61622020}, Case{u"abcd", 0x61626364}, Case{u"abcde", 0},
                   Case{u"\u00E9", 0xC3A92020}, Case{u"\u00E9\u00E9", 0xC3A9C3A9}, Case{u"\u00E9\u00E9\u00E9", 0},
                   Case{u"a\u00E9\u00E9", 0}, Case{u"\U0001F600", 0xF09F9880}}) {
        EXPECT_EQ(VString(c.text).GetOsType(), c.code);
    }
}

TEST(VStringNumbers, DateShapes) {
    EXPECT_TRUE(VString("2024-13-99").IsISODate());
    EXPECT_FALSE(VString("2024-1-01").IsISODate());
    EXPECT_FALSE(VString("2024-01-011").IsISODate());
    EXPECT_FALSE(VString("2024/01/01").IsISODate());
    EXPECT_TRUE(VString("!!2024-01-01!!").IsNonAmbigousDate());
    EXPECT_FALSE(VString("!!2024-01-01!?").IsNonAmbigousDate());
    EXPECT_FALSE(VString("2024-01-01").IsNonAmbigousDate());
}

} // namespace
} // namespace vela
