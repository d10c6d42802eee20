#include "values/VUUID.h"

#include "core/VString.h"
#include "files/VPtrStream.h"
#include "values/VCompareOptions.h"
#include "values/VScalar.h"
#include "values/platform/XPosixUUID.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vela {
namespace {

std::u16string Text(const VString& s) {
    return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

std::u16string TextOf(const VUUID& id) {
    VString out;
    id.GetString(out);
    return Text(out);
}

std::vector<uint8> Bytes(const VUUID& id) {
    return std::vector<uint8>(id.GetBytes(), id.GetBytes() + 16);
}

std::vector<uint8> Counting() {
    std::vector<uint8> bytes(16);
    for (int i = 0; i < 16; ++i)
        bytes[size_t(i)] = uint8(i * 0x11);
    return bytes;
}

VUUIDBuffer BufferOf(const std::vector<uint8>& bytes) {
    VUUIDBuffer buffer;
    std::memcpy(buffer.fBytes, bytes.data(), 16);
    return buffer;
}

// Installs a random source for the test's lifetime.
class StRandomSource {
public:
    explicit StRandomSource(XPosixUUID::RandomSource source) : fPrevious(XPosixUUID::SetRandomSource(source)) {}
    ~StRandomSource() { XPosixUUID::SetRandomSource(fPrevious); }
    StRandomSource(const StRandomSource&) = delete;
    StRandomSource& operator=(const StRandomSource&) = delete;

private:
    XPosixUUID::RandomSource fPrevious;
};

ssize_t FailingSource(void*, size_t, unsigned int) {
    errno = EIO;
    return -1;
}

int sInterruptions = 0;
// Interrupted twice, then delivers its bytes one at a time (0xAB each), as a short read would.
ssize_t InterruptedSource(void* buffer, size_t count, unsigned int) {
    if (sInterruptions < 2) {
        ++sInterruptions;
        errno = EINTR;
        return -1;
    }
    if (count == 0) return 0;
    static_cast<uint8*>(buffer)[0] = 0xAB;
    return 1;
}

// ---- Construction and text

TEST(VUUID, StartsNullWithZeroBytes) {
    VUUID id;
    EXPECT_TRUE(id.IsNull());
    EXPECT_EQ(Bytes(id), std::vector<uint8>(16, 0));
    EXPECT_EQ(TextOf(id), u"00000000000000000000000000000000");
    EXPECT_TRUE(VUUID(static_cast<unsigned char>(0)).IsNull());
    EXPECT_TRUE(VUUID::sNullUUID.IsNull());
}

TEST(VUUID, ReadsDigitsSkippingOtherCharacters) {
    VUUID id(VString("{00112233-4455-6677-8899-aabbccddeeff}"));
    EXPECT_EQ(Bytes(id), Counting());
    EXPECT_FALSE(id.IsNull());
    EXPECT_EQ(TextOf(id), u"00112233445566778899AABBCCDDEEFF");

    VUUID longer(VString("00112233445566778899AABBCCDDEEFF0123")); // digits beyond 32 are ignored
    EXPECT_EQ(Bytes(longer), Counting());
}

TEST(VUUID, OtherTextBecomesSpacePaddedBytes) {
    VUUID id(VString("abc"));
    std::vector<uint8> expected(16, ' ');
    expected[0] = 'a';
    expected[1] = 'b';
    expected[2] = 'c';
    EXPECT_EQ(Bytes(id), expected);
    EXPECT_FALSE(id.IsNull());

    VUUID accented(VString(u"\u00E9t\u00E9 and a long tail"));
    std::vector<uint8> utf8 = {0xC3, 0xA9, 't', 0xC3, 0xA9, ' ', 'a', 'n', 'd', ' ', 'a', ' ', 'l', 'o', 'n', 'g'};
    EXPECT_EQ(Bytes(accented), utf8);

    VUUID ansi;
    ansi.BuildFromAnsiString(VString("00112233445566778899AABBCCDDEEFF"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ansi.GetBytes()), 16), "0011223344556677");
}

TEST(VUUID, ZeroDigitsAreNotNullButZeroBytesAre) {
    VUUID fromText(VString("00000000000000000000000000000000"));
    EXPECT_FALSE(fromText.IsNull());
    VUUID fromBuffer(BufferOf(std::vector<uint8>(16, 0)));
    EXPECT_TRUE(fromBuffer.IsNull());
    EXPECT_TRUE(fromText == fromBuffer); // the null flag takes no part in comparisons
}

TEST(VUUID, CStringForms) {
    VUUID hex("00112233445566778899aabbccddeeff");
    EXPECT_EQ(Bytes(hex), Counting());
    VUUID withNonDigits("zz112233445566778899AABBCCDDEEFF"); // a non-digit counts as 0
    EXPECT_EQ(Bytes(withNonDigits), Counting());
    VUUID raw("AB");
    std::vector<uint8> expected(16, 0);
    expected[0] = 'A';
    expected[1] = 'B';
    EXPECT_EQ(Bytes(raw), expected);
    EXPECT_FALSE(raw.IsNull());

    raw.FromBuffer("this text is neither 16 nor 32 long");
    EXPECT_EQ(Bytes(raw), expected); // unchanged
    raw.FromBuffer("");
    EXPECT_TRUE(raw.IsNull());
    raw.FromBuffer(static_cast<const char*>(nullptr));
    EXPECT_TRUE(raw.IsNull());
}

TEST(VUUID, IsUUIDString) {
    struct Case {
        const char* text;
        bool acceptNull;
        bool expected;
    };
    const Case cases[] = {
        {"00112233445566778899AABBCCDDEEFF", false, true},
        {"00112233445566778899aabbccddeeff", false, false}, // lower case refused
        {"00000000000000000000000000000000", false, false},
        {"00000000000000000000000000000000", true, true},
        {"00112233445566778899AABBCCDDEEF", true, false},
        {"00112233-4455-6677-8899-AABBCCDDEEFF", true, false},
        {"0011223344556677889GAABBCCDDEEFF", true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VUUID::IsUUIDString(VString(c.text), c.acceptNull), c.expected) << c.text;
}

// ---- Generation

TEST(VUUID, GeneratedIdentifiersAreFreshVersionFourAndDistinct) {
    std::set<std::vector<uint8>> seen;
    for (int i = 0; i < 200; ++i) {
        VUUID id(static_cast<unsigned char>(1));
        ASSERT_FALSE(id.IsNull());
        EXPECT_EQ(id.GetBytes()[6] >> 4, 4);
        EXPECT_EQ(id.GetBytes()[8] & 0xC0, 0x80);
        EXPECT_TRUE(seen.insert(Bytes(id)).second);
    }
}

TEST(VUUID, AFailingGeneratorLeavesTheValueNull) {
    StRandomSource failing(&FailingSource);
    VUUID fresh(static_cast<unsigned char>(1));
    EXPECT_TRUE(fresh.IsNull());
    EXPECT_EQ(Bytes(fresh), std::vector<uint8>(16, 0));

    VUUID previous(VString("00112233445566778899AABBCCDDEEFF"));
    EXPECT_FALSE(previous.Regenerate());
    EXPECT_TRUE(previous.IsNull()); // never the old identifier passing for a new one
    EXPECT_EQ(Bytes(previous), std::vector<uint8>(16, 0));
    VUUIDBuffer untouched = BufferOf(Counting());
    EXPECT_FALSE(XPosixUUID::Generate(&untouched));
    EXPECT_EQ(std::vector<uint8>(untouched.fBytes, untouched.fBytes + 16), Counting());
}

TEST(VUUID, InterruptedAndPartialReadsAreRetried) {
    sInterruptions = 0;
    StRandomSource interrupted(&InterruptedSource);
    VUUID id;
    EXPECT_TRUE(id.Regenerate());
    EXPECT_EQ(sInterruptions, 2);
    EXPECT_EQ(TextOf(id), u"ABABABABABAB4BABABABABABABABABAB");
}

// ---- Comparison

TEST(VUUID, OrdersByUnsignedBytes) {
    std::vector<uint8> low(16, 0xFF), high(16, 0);
    low[0] = 0x01;
    high[0] = 0x80;
    VUUID a(BufferOf(low)), b(BufferOf(high));
    EXPECT_EQ(a.CompareToSameKind(&b), CR_SMALLER);
    EXPECT_EQ(b.CompareToSameKind(&a), CR_BIGGER);
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_TRUE(a != b);
    EXPECT_EQ(a.CompareToSameKindPtr(high.data()), CR_SMALLER);
    EXPECT_TRUE(b.EqualToSameKindPtrWithOptions(high.data(), VCompareOptions()));
    EXPECT_EQ(a.CompareTo(b), CR_SMALLER);
    EXPECT_EQ(a.CompareTo(VString("x")), CR_UNRELEVANT);
    EXPECT_EQ(VUUID::sInfo.CompareTwoPtrToData(high.data(), low.data()), CR_BIGGER);
}

// ---- Conversions

TEST(VUUID, ConvertsThroughTextAndCopiesTheNullFlag) {
    VUUID id(BufferOf(Counting()));
    VString text;
    id.GetValue(text);
    EXPECT_EQ(Text(text), u"00112233445566778899AABBCCDDEEFF");
    std::unique_ptr<VValueSingle> converted(id.ConvertTo(VString::kKind));
    EXPECT_EQ(Text(*static_cast<VString*>(converted.get())), u"00112233445566778899AABBCCDDEEFF");

    VUUID back;
    back.FromValue(text);
    EXPECT_TRUE(back == id);
    EXPECT_FALSE(back.IsNull());

    VUUID copy;
    copy.FromValue(VUUID::sNullUUID);
    EXPECT_TRUE(copy.IsNull());
    VUUID fromLong;
    fromLong.FromValue(VLong(3)); // kinds without identifiers clear the target
    EXPECT_TRUE(fromLong.IsNull());

    std::unique_ptr<VValue> clone(id.Clone());
    EXPECT_TRUE(*static_cast<VUUID*>(clone.get()) == id);
    std::unique_ptr<VValue> nullClone(VUUID(VString("00000000000000000000000000000000")).Clone());
    EXPECT_TRUE(nullClone->IsNull()); // null when all bytes are zero
}

TEST(VUUID, CachedTextFollowsTheValue) {
    VUUID id(BufferOf(Counting()));
    EXPECT_EQ(id.GetCachedConvertedString(false), nullptr);
    VString* cached = id.GetCachedConvertedString(true);
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(Text(*cached), u"00112233445566778899AABBCCDDEEFF");
    id.FromString(VString("ffeeddccbbaa99887766554433221100"));
    EXPECT_EQ(Text(*cached), u"FFEEDDCCBBAA99887766554433221100");
    id.SetNull(true);
    EXPECT_TRUE(cached->IsNull());
    EXPECT_EQ(Bytes(id), std::vector<uint8>(16, 0));
    EXPECT_EQ(id.GetCachedConvertedString(false), cached);
}

// ---- Stored and stream forms

TEST(VUUID, StoredFormIsTheSixteenBytes) {
    uint8 buffer[17] = {};
    VUUID id(BufferOf(Counting()));
    EXPECT_EQ(id.WriteToPtr(buffer + 1), buffer + 17);
    VUUID back;
    EXPECT_EQ(back.LoadFromPtr(buffer + 1), buffer + 17);
    EXPECT_TRUE(back == id);
    EXPECT_FALSE(back.IsNull());
    std::memset(buffer, 0, sizeof(buffer));
    back.LoadFromPtr(buffer);
    EXPECT_TRUE(back.IsNull());

    std::unique_ptr<VValue> loaded(VUUID::sInfo.LoadFromPtr(Counting().data()));
    EXPECT_EQ(Bytes(*static_cast<VUUID*>(loaded.get())), Counting());
    std::vector<uint8> data = Counting();
    EXPECT_EQ(VUUID::sInfo.ByteSwapPtr(data.data(), true), data.data() + 16);
    EXPECT_EQ(data, Counting()); // never swapped
    EXPECT_EQ(VValue::ValueInfoFromValueKind(13), &VUUID::sInfo);
    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(13));
    EXPECT_TRUE(generated->IsNull());
}

TEST(VUUID, StreamFormIsNeverSwappedAndReadsNotNull) {
    for (bool swap : {false, true}) {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(VUUID(BufferOf(Counting())).WriteToStream(&stream), VE_OK);
        EXPECT_EQ(VUUID().WriteToStream(&stream), VE_OK);
        stream.CloseWriting();
        const auto* bytes = static_cast<const uint8*>(stream.GetDataPtr());
        ASSERT_EQ(stream.GetDataSize(), 32u);
        EXPECT_EQ(std::vector<uint8>(bytes, bytes + 16), Counting());

        ASSERT_EQ(stream.OpenReading(), VE_OK);
        VUUID first, second;
        EXPECT_EQ(first.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(second.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(Bytes(first), Counting());
        EXPECT_FALSE(second.IsNull()); // zero bytes from a stream are not null
    }
}

TEST(VUUID, ShortStreamLeavesTheValueNull) {
    const uint8 bytes[10] = {1, 2, 3};
    VConstPtrStream stream(bytes, sizeof(bytes));
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VUUID id(BufferOf(Counting()));
    EXPECT_EQ(id.ReadFromStream(&stream), VE_STREAM_EOF);
    EXPECT_TRUE(id.IsNull());
    EXPECT_EQ(Bytes(id), std::vector<uint8>(16, 0));
}

// ---- JSON

TEST(VUUID, JSONForms) {
    VUUID id(BufferOf(Counting()));
    VString json;
    EXPECT_EQ(id.GetJSONString(json, 1), VE_OK); // option 1: surrounded with double quotes
    EXPECT_EQ(Text(json), u"\"00112233445566778899AABBCCDDEEFF\"");

    VJSONValue value;
    EXPECT_EQ(id.GetJSONValue(value), VE_OK);
    ASSERT_TRUE(value.IsString());
    VString text;
    value.GetString(text);
    EXPECT_EQ(Text(text), u"00112233445566778899AABBCCDDEEFF");
    VUUID().GetJSONValue(value);
    EXPECT_TRUE(value.IsNull());

    VUUID back;
    EXPECT_EQ(back.FromJSONValue(VJSONValue(VString("00112233-4455-6677-8899-AABBCCDDEEFF"))), VE_OK);
    EXPECT_EQ(Bytes(back), Counting());
    back.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(back.IsNull());
}

} // namespace
} // namespace vela
