#include "core/VTextConverter.h"

#include "core/VCppMemMgr.h"
#include "core/VMemoryBuffer.h"
#include "core/VString.h"
#include "core/VUnicodeConverters.h"
#include "support/RecordingRaiser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vela {
namespace {

using Buffer = VMemoryBuffer<1024, 2, 1048576>;

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::string Bytes(const Buffer& buffer) {
    return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
}

// Decodes each byte into three units "<b>": more units than bytes, so the string must grow on the way.
class TripleDecoder : public VToUnicodeConverter {
public:
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override {
        size_t n = std::min(sourceBytes, size_t(destinationUnits) / 3);
        for (size_t i = 0; i < n; ++i) {
            destination[3 * i] = u'<';
            destination[3 * i + 1] = UniChar(static_cast<const uchar*>(source)[i]);
            destination[3 * i + 2] = u'>';
        }
        *bytesConsumed = n;
        *unitsProduced = int32(3 * n);
        return true;
    }
};

// Encodes each unit into `width` bytes but sizes for one; like converters that keep what did not fit, it
// consumes the unit anyway and hands the rest out first on the next call.
class HoldingEncoder : public VFromUnicodeConverter {
public:
    explicit HoldingEncoder(size_t width) : fWidth(width) {}
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override {
        auto* out = static_cast<char*>(destination);
        size_t n = 0;
        int32 i = 0;
        while (n < destinationBytes) {
            if (fHeld.empty()) {
                if (i >= sourceUnits) break;
                fHeld.assign(fWidth, char(source[i++]));
            }
            out[n++] = fHeld.back();
            fHeld.pop_back();
        }
        *unitsConsumed = i;
        *bytesProduced = n;
        ++fCalls;
        return true;
    }
    int32 GetCharSize() const override { return 1; }
    int32 fCalls = 0;

private:
    size_t fWidth;
    std::string fHeld;
};

// Converts nothing at all: the loops must give up rather than spin.
class RefusingEncoder : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar*, int32, int32* unitsConsumed, void*, size_t, size_t* bytesProduced) override {
        *unitsConsumed = 0;
        *bytesProduced = 0;
        ++fCalls;
        return false;
    }
    int32 GetCharSize() const override { return 1; }
    int32 fCalls = 0;
};

// ---- ConvertString

TEST(VToUnicodeConverterConvertString, ContinuesAcrossASplitMultiByteSequence) {
    VToUnicodeConverter_UTF8 converter;
    VString text;
    size_t consumed = 0;
    EXPECT_TRUE(converter.ConvertString("h\xC3", 2, &consumed, text));
    EXPECT_EQ(consumed, 1u);
    EXPECT_EQ(Units(text), u"h");

    EXPECT_TRUE(converter.ConvertString("\xC3\xA9llo \xF0\x9F", 8, &consumed, text));
    EXPECT_EQ(consumed, 6u);
    EXPECT_EQ(Units(text), u"h\u00E9llo ");

    EXPECT_TRUE(converter.ConvertString("\xF0\x9F\x98\x80", 4, &consumed, text));
    EXPECT_EQ(consumed, 4u);
    EXPECT_EQ(Units(text), u"h\u00E9llo \U0001F600");
}

TEST(VToUnicodeConverterConvertString, GrowsWhenTheUnitsOutnumberTheBytes) {
    TripleDecoder converter;
    VString text("start:");
    std::string bytes(500, 'q');
    size_t consumed = 0;
    EXPECT_TRUE(converter.ConvertString(bytes.data(), bytes.size(), &consumed, text));
    EXPECT_EQ(consumed, bytes.size());
    ASSERT_EQ(text.GetLength(), 6 + 1500);
    EXPECT_EQ(Units(text).substr(0, 9), u"start:<q>");
    EXPECT_EQ(Units(text).substr(1503), u"<q>");
}

TEST(VToUnicodeConverterConvertString, ReportsSubstitutionsAndSharesNoBuffer) {
    VToUnicodeConverter_UTF8 converter;
    VString original("a shared text that lives on the heap");
    VString copy(original);
    size_t consumed = 0;
    EXPECT_FALSE(converter.ConvertString("\xF4\x90\x80\x80!", 5, &consumed, copy));
    EXPECT_EQ(consumed, 5u);
    EXPECT_EQ(Units(copy), u"a shared text that lives on the heap?!");
    EXPECT_EQ(Units(original), u"a shared text that lives on the heap");
}

TEST(VToUnicodeConverterConvertString, EmptySourceLeavesTheText) {
    VToUnicodeConverter_UTF8 converter;
    VString text("keep");
    size_t consumed = 7;
    EXPECT_TRUE(converter.ConvertString(nullptr, 0, &consumed, text));
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(Units(text), u"keep");
    EXPECT_TRUE(converter.ConvertString("\xE2", 1, nullptr, text));
    EXPECT_EQ(Units(text), u"keep");
}

// ---- ConvertToBuffer and ConvertRealloc

TEST(VFromUnicodeConverterWhole, AppendsBehindTheUsedBytesWithExtraRoom) {
    VFromUnicodeConverter_UTF8 converter;
    Buffer buffer;
    ASSERT_TRUE(buffer.AddData("ab", 2));
    std::u16string text = u"\u00E9t\u00E9 \U0001F600";
    EXPECT_TRUE(converter.ConvertToBuffer(text.data(), int32(text.size()), buffer, 7));
    EXPECT_EQ(Bytes(buffer), "ab\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_GE(buffer.GetAllocatedSize(), buffer.GetDataSize() + 7);
}

TEST(VFromUnicodeConverterWhole, LargeTextNeedsSeveralRounds) {
    // 3 bytes per unit while the converter sizes for 1: the rest is converted round after round.
    HoldingEncoder converter(3);
    std::u16string text(5000, u'k');
    Buffer buffer;
    EXPECT_TRUE(converter.ConvertToBuffer(text.data(), int32(text.size()), buffer, 0));
    EXPECT_EQ(Bytes(buffer), std::string(15000, 'k'));
}

TEST(VFromUnicodeConverterWhole, BytesHeldBackAtTheEndAreCollected) {
    // The last unit is consumed while most of its bytes wait inside the converter.
    HoldingEncoder converter(40);
    std::u16string text = u"ab";
    Buffer buffer;
    EXPECT_TRUE(converter.ConvertToBuffer(text.data(), int32(text.size()), buffer, 0));
    EXPECT_EQ(Bytes(buffer), std::string(40, 'a') + std::string(40, 'b'));

    HoldingEncoder again(40);
    void* block = nullptr;
    size_t size = 0;
    EXPECT_TRUE(again.ConvertRealloc(text.data(), int32(text.size()), block, size, 1));
    EXPECT_EQ(std::string(static_cast<char*>(block), size), std::string(40, 'a') + std::string(40, 'b'));
    VMemory::DisposePtr(block);
}

TEST(VFromUnicodeConverterWhole, StopsWhenNothingCanBeConverted) {
    RefusingEncoder refusing;
    std::u16string text = u"abc";
    Buffer buffer;
    EXPECT_FALSE(refusing.ConvertToBuffer(text.data(), int32(text.size()), buffer, 0));
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    EXPECT_LE(refusing.fCalls, 2);

    void* block = nullptr;
    size_t size = 0;
    EXPECT_FALSE(refusing.ConvertRealloc(text.data(), int32(text.size()), block, size, 0));
    EXPECT_EQ(size, 0u);
    VMemory::DisposePtr(block);
}

TEST(VFromUnicodeConverterWhole, TrailingLoneHighSurrogateIsWrittenLikeOneInside) {
    VFromUnicodeConverter_UTF8 utf8;
    std::u16string text = u"ok\u00E9\xD800";
    Buffer buffer;
    EXPECT_TRUE(utf8.ConvertToBuffer(text.data(), int32(text.size()), buffer, 0));
    EXPECT_EQ(Bytes(buffer), "ok\xC3\xA9\xED\xA0\x80");

    void* block = nullptr;
    size_t size = 0;
    EXPECT_TRUE(utf8.ConvertRealloc(text.data(), int32(text.size()), block, size, 1));
    EXPECT_EQ(std::string(static_cast<char*>(block), size), "ok\xC3\xA9\xED\xA0\x80");
    VMemory::DisposePtr(block);

    // A lone high surrogate inside the text is encoded on its own and nothing after it is lost.
    std::u16string inside = u"\xD800"
                            u"after";
    Buffer whole;
    EXPECT_TRUE(utf8.ConvertToBuffer(inside.data(), int32(inside.size()), whole, 0));
    EXPECT_EQ(Bytes(whole), "\xED\xA0\x80"
                            "after");
}

TEST(VFromUnicodeConverterWhole, LoneSurrogateInUCS4EndsWithoutLooping) {
    VFromUnicodeConverter_UTF32 ucs4(false);
    for (const std::u16string& text : {std::u16string(u"A\xD800"),
                                       std::u16string(u"A\xDC00"
                                                      u"B"),
                                       std::u16string(u"A\xD800"
                                                      u"B")}) {
        Buffer buffer;
        EXPECT_FALSE(ucs4.ConvertToBuffer(text.data(), int32(text.size()), buffer, 0));
        EXPECT_EQ(Bytes(buffer), std::string("A\0\0\0", 4));
    }
}

TEST(VFromUnicodeConverterWhole, ReallocKeepsTheUsedBytesAndLeavesExtraRoom) {
    VFromUnicodeConverter_UTF8 converter;
    void* block = VMemory::NewPtr(4, FourCCTag("test"));
    std::memcpy(block, "pre:", 4);
    size_t size = 4;
    std::u16string text = u"\u20AC5";
    EXPECT_TRUE(converter.ConvertRealloc(text.data(), int32(text.size()), block, size, 1));
    ASSERT_EQ(size, 8u);
    EXPECT_EQ(std::string(static_cast<char*>(block), size), "pre:\xE2\x82\xAC"
                                                            "5");
    EXPECT_GE(VMemory::GetPtrSize(block), size + 1);
    static_cast<char*>(block)[size] = 0; // the extra byte is there for a terminator
    VMemory::DisposePtr(block);

    // An empty text still gets its extra room.
    void* empty = nullptr;
    size_t emptySize = 0;
    EXPECT_TRUE(converter.ConvertRealloc(nullptr, 0, empty, emptySize, 1));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(emptySize, 0u);
    VMemory::DisposePtr(empty);
}

TEST(VFromUnicodeConverterWhole, ImpossibleSizesRaiseMemFailure) {
    test::RecordingRaiser raiser;
    VFromUnicodeConverter_UTF8 converter;
    std::u16string text = u"abc";
    Buffer buffer;
    EXPECT_FALSE(converter.ConvertToBuffer(text.data(), int32(text.size()), buffer, SIZE_MAX));
    ASSERT_EQ(raiser.Codes(), std::vector<VError>{VE_TEXT_CONVERSION_FAILED});
    ASSERT_EQ(raiser.All()[0].params.size(), 1u);
    EXPECT_EQ(raiser.All()[0].params[0].second, u"mem failure");

    void* block = nullptr;
    size_t size = 0;
    EXPECT_FALSE(converter.ConvertRealloc(text.data(), int32(text.size()), block, size, SIZE_MAX - 2));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(raiser.Codes().size(), 2u);
}

} // namespace
} // namespace vela
