#include "core/StStringConverter.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace vela {
namespace {

bool InsideObject(const void* object, size_t size, const void* p) {
    const auto* begin = static_cast<const char*>(object);
    const auto* at = static_cast<const char*>(p);
    return at >= begin && at < begin + size;
}

std::string Bytes(const StStringConverter<char>& converter) {
    return std::string(converter.GetCPointer(), converter.GetSize());
}

TEST(StStringConverterTest, ShortResultsStayInTheObject) {
    StStringConverter<char> converter(VString(u"h\u00E9llo"), VTC_UTF_8);
    EXPECT_TRUE(converter.IsOK());
    EXPECT_EQ(Bytes(converter), "h\xC3\xA9llo");
    EXPECT_EQ(converter.GetCPointer()[converter.GetSize()], 0);
    EXPECT_TRUE(InsideObject(&converter, sizeof(converter), converter.GetCPointer()));
}

TEST(StStringConverterTest, ResultsBeyondTheInlineAreaMoveToTheHeapAndStayTerminated) {
    struct Case {
        size_t bytes;
        bool inlineArea;
    };
    // 511 bytes and the zero fill the 512-byte area exactly.
    for (Case c : {Case{511, true}, Case{512, false}, Case{600, false}, Case{100000, false}}) {
        std::string text(c.bytes, 'x');
        StStringConverter<char> converter(VString(text.c_str()), VTC_UTF_8);
        EXPECT_TRUE(converter.IsOK());
        EXPECT_EQ(converter.GetSize(), c.bytes);
        EXPECT_EQ(Bytes(converter), text);
        EXPECT_EQ(converter.GetCPointer()[c.bytes], 0);
        EXPECT_EQ(InsideObject(&converter, sizeof(converter), converter.GetCPointer()), c.inlineArea) << c.bytes;
    }
}

TEST(StStringConverterTest, MultiByteCharactersCrossingTheInlineLimit) {
    // 300 characters of two bytes each: the inline pass stops short and the heap pass takes them all.
    std::u16string units(300, u'\u00E9');
    VString text;
    text.FromUniString(units.data(), int32(units.size()));
    StStringConverter<char> converter(text, VTC_UTF_8);
    EXPECT_TRUE(converter.IsOK());
    ASSERT_EQ(converter.GetSize(), 600u);
    EXPECT_EQ(std::memcmp(converter.GetCPointer() + 598, "\xC3\xA9", 3), 0); // with the zero
}

TEST(StStringConverterTest, LineEndModeIsAppliedBeforeConverting) {
    VString text("a\nb\r\nc\r");
    EXPECT_EQ(Bytes(StStringConverter<char>(text, VTC_UTF_8, eCRM_CRLF)), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(Bytes(StStringConverter<char>(text, VTC_UTF_8, eCRM_LF)), "a\nb\nc\n");
    EXPECT_EQ(Bytes(StStringConverter<char>(text, VTC_UTF_8, eCRM_NATIVE)), "a\nb\r\nc\r");
    EXPECT_EQ(std::string(text.GetCPointer(), text.GetCPointer() + text.GetLength()), "a\nb\r\nc\r");
}

TEST(StStringConverterTest, FailuresLeaveAnEmptyTerminatedResult) {
    StStringConverter<char> unknown(VString("text"), CharSet(9999));
    EXPECT_FALSE(unknown.IsOK());
    EXPECT_EQ(unknown.GetSize(), 0u);
    EXPECT_EQ(unknown.GetCPointer()[0], 0);

#ifdef VELA_TEST_SEAMS
    // A text beyond the inline area without the memory for it.
    const VString longText(std::string(2000, 'x').c_str());
    StStringConverter<char> cut(VString("short"), VTC_UTF_8);
    VCppMemMgr::sFailAllocations = true;
    cut.ConvertString(longText);
    VCppMemMgr::sFailAllocations = false;
    EXPECT_FALSE(cut.IsOK());
    EXPECT_EQ(cut.GetSize(), 0u);
    EXPECT_EQ(cut.GetCPointer()[0], 0);

    // The next conversion works again.
    EXPECT_STREQ(cut.ConvertString(VString("again")), "again");
    EXPECT_TRUE(cut.IsOK());
#endif
}

TEST(StStringConverterTest, EveryStringSurvivesAUTF8RoundTrip) {
    // A lone surrogate takes three bytes wherever it stands, the end included.
    struct Case {
        std::u16string units;
        std::string bytes;
    } cases[] = {
        {u"abc\xD800", "abc\xED\xA0\x80"},
        {u"\xD800", "\xED\xA0\x80"},
        {u"\xDBFF", "\xED\xAF\xBF"},
        {u"a\xD800z", "a\xED\xA0\x80z"},
        {u"\xDC00", "\xED\xB0\x80"},
        {u"\U0001F600\xD83D", "\xF0\x9F\x98\x80\xED\xA0\xBD"},
        {std::u16string(300, u'e') + u"\xD800", std::string(300, 'e') + "\xED\xA0\x80"}, // beyond to_string's area
    };
    for (const Case& c : cases) {
        VString text;
        text.FromUniString(c.units.data(), int32(c.units.size()));
        StStringConverter<char> converter(text, VTC_UTF_8);
        EXPECT_TRUE(converter.IsOK());
        EXPECT_EQ(Bytes(converter), c.bytes);
        EXPECT_EQ(to_string(text), c.bytes);
        const VString back(c.bytes.data(), c.bytes.size(), VTC_UTF_8);
        EXPECT_EQ(std::u16string(back.GetCPointer(), size_t(back.GetLength())), c.units);
    }
}

TEST(StStringConverterTest, ConvertingAgainReusesTheObject) {
    StStringConverter<char> converter(VString(std::string(2000, 'a').c_str()), VTC_UTF_8);
    EXPECT_STREQ(converter.ConvertString(VString("short")), "short");
    EXPECT_EQ(converter.GetSize(), 5u);
    std::string longer(5000, 'b');
    EXPECT_EQ(std::string(converter.ConvertString(VString(longer.c_str()))), longer);
    EXPECT_STREQ(converter.ConvertString(VString()), "");
}

TEST(StStringConverterTest, CopiesOwnTheirBytes) {
    for (size_t size : {size_t(10), size_t(1000)}) {
        std::string text(size, 'q');
        StStringConverter<char> source(VString(text.c_str()), VTC_UTF_8);
        StStringConverter<char> copy(source);
        EXPECT_NE(copy.GetCPointer(), source.GetCPointer());
        EXPECT_EQ(Bytes(copy), text);
        EXPECT_EQ(copy.GetCPointer()[size], 0);
        EXPECT_TRUE(copy.IsOK());
        EXPECT_EQ(InsideObject(&copy, sizeof(copy), copy.GetCPointer()), size < 512);
        // The copy converts on its own, with the same set and mode.
        EXPECT_STREQ(copy.ConvertString(VString(u"\u00E9")), "\xC3\xA9");
        EXPECT_EQ(Bytes(source), text);
    }
}

TEST(StStringConverterTest, MovesTakeTheHeapBlockOrCopyTheInlineBytes) {
    std::string text(1000, 'm');
    StStringConverter<char> source(VString(text.c_str()), VTC_UTF_8);
    const char* block = source.GetCPointer();
    StStringConverter<char> moved(std::move(source));
    EXPECT_EQ(moved.GetCPointer(), block);
    EXPECT_EQ(Bytes(moved), text);
    EXPECT_EQ(source.GetSize(), 0u);
    EXPECT_STREQ(source.GetCPointer(), "");
    EXPECT_TRUE(InsideObject(&source, sizeof(source), source.GetCPointer()));

    StStringConverter<char> small(VString("small"), VTC_UTF_8);
    StStringConverter<char> movedSmall(std::move(small));
    EXPECT_STREQ(movedSmall.GetCPointer(), "small");
    EXPECT_TRUE(InsideObject(&movedSmall, sizeof(movedSmall), movedSmall.GetCPointer()));
}

TEST(StStringConverterTest, BaseWritesTheAskedTerminator) {
    StStringConverter<char> converter(VString(), VTC_UTF_16);
    const UniChar text[] = u"ab";
    EXPECT_TRUE(converter._ConvertString(text, 2, 2));
    ASSERT_EQ(converter.GetSize(), 4u);
    EXPECT_EQ(std::memcmp(converter.GetData(), "a\0b\0\0\0", 6), 0);

    std::u16string longText(400, u'w'); // 800 bytes: the heap block keeps room for the two zeros
    EXPECT_TRUE(converter._ConvertString(longText.data(), int32(longText.size()), 2));
    ASSERT_EQ(converter.GetSize(), 800u);
    EXPECT_EQ(std::memcmp(static_cast<const char*>(converter.GetData()) + 798, "w\0\0\0", 4), 0);
}

} // namespace
} // namespace vela
