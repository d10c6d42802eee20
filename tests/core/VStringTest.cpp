#include "core/VString.h"

#include "core/VCppMemMgr.h"
#include "core/VErrorContext.h"
#include "files/VPtrStream.h"
#include "support/RecordingRaiser.h"
#include "support/TestProcess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vela {
namespace {

VString Repeat(UniChar c, int32 n) {
    VString text;
    for (int32 i = 0; i < n; ++i)
        text.AppendUniChar(c);
    return text;
}

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

TEST(VStringStorage, CopySharesBufferUntilOneSideChanges) {
    VString original("a text long enough for the heap");
    VString copy(original);
    EXPECT_EQ(original.GetCPointer(), copy.GetCPointer());
    EXPECT_EQ(original.GetSharedBufferRefCount(), 2);

    copy.SetUniChar(1, u'A');
    EXPECT_NE(original.GetCPointer(), copy.GetCPointer());
    EXPECT_EQ(original.GetSharedBufferRefCount(), 1);
    EXPECT_EQ(Units(original), u"a text long enough for the heap");
    EXPECT_EQ(Units(copy), u"A text long enough for the heap");
}

TEST(VStringStorage, WrappedCallerBufferIsCopiedNeverShared) {
    UniChar buffer[16] = u"wrapped";
    {
        VString wrapped(buffer, sizeof(buffer));
        EXPECT_EQ(wrapped.GetCPointer(), buffer);
        EXPECT_EQ(wrapped.GetLength(), 7);
        EXPECT_EQ(wrapped.GetCapacity(), 15);

        VString copy(wrapped);
        EXPECT_NE(copy.GetCPointer(), buffer);
        EXPECT_EQ(Units(copy), u"wrapped");

        wrapped.AppendUniChar(u'!'); // writable in place, within the caller's buffer
        EXPECT_EQ(wrapped.GetCPointer(), buffer);
    }
    // The caller's buffer is still ours to use (a free of it would have been reported).
    EXPECT_EQ(std::u16string(buffer), u"wrapped!");
}

TEST(VStringStorage, WrappingTinyOrUnterminatedBuffersStaysInBounds) {
    UniChar one[1] = {u'x'};
    VString tiny(one, sizeof(one) - 1); // a single byte cannot hold the terminator
    EXPECT_EQ(tiny.GetLength(), 0);
    EXPECT_NE(tiny.GetCPointer(), one);

    UniChar full[4] = {u'a', u'b', u'c', u'd'};
    VString bounded(full, sizeof(full));
    EXPECT_EQ(bounded.GetLength(), 3);
    EXPECT_EQ(bounded.GetCapacity(), 3);
    EXPECT_EQ(full[3], 0);

    VString nullWrap(static_cast<UniChar*>(nullptr), 3, size_t(8));
    EXPECT_TRUE(nullWrap.IsNull());
}

TEST(VStringStorage, GrowthRuleGivesDocumentedCapacities) {
    struct Case {
        int32 oldLength, newLength, blockUnits;
    };
    for (Case c : {Case{0, 5, 8}, Case{0, 6, 16}, Case{100, 200, 248}, Case{2, 10, 16}, Case{0, 0, 8}}) {
        EXPECT_EQ(VString::ComputeProgressiveResize(c.oldLength, c.newLength), c.blockUnits)
            << c.oldLength << " -> " << c.newLength;
    }
    // Near the top the slack is dropped and the capacity (block - 3) stays odd, so the count fits the block.
    EXPECT_EQ(VString::ComputeProgressiveResize(0, 2147483644), 2147483648LL);
    EXPECT_EQ(VString::ComputeProgressiveResize(1, 2147483000), (2147483000LL | 1) + 3);
    EXPECT_EQ(VString::ComputeProgressiveResize(0, 2147483645), 2147483648LL);
    EXPECT_EQ(VString::ComputeProgressiveResize(0, 2147483646), 0);
    EXPECT_EQ(VString::ComputeProgressiveResize(0, INT32_MAX), 0);

    VString five;
    five.FromUniString(u"abcde", 5);
    EXPECT_EQ(five.GetCapacity(), 5);
    VString six;
    six.FromUniString(u"abcdef", 6);
    EXPECT_EQ(six.GetCapacity(), 13);
    VString grown;
    grown.FromString(Repeat(u'x', 100));
    VString copyOfHundred(grown);
    grown.Clear();
    grown.FromUniString(copyOfHundred.GetCPointer(), 100); // from empty: capacity 101
    EXPECT_EQ(grown.GetCapacity(), 101);
    grown.AppendString(copyOfHundred);
    EXPECT_EQ(grown.GetCapacity(), 245);
}

TEST(VStringStorage, GetUniCharOutOfRangeGivesZero) {
    VString text("abc");
    EXPECT_EQ(text.GetUniChar(0), 0);
    EXPECT_EQ(text.GetUniChar(1), u'a');
    EXPECT_EQ(text.GetUniChar(3), u'c');
    EXPECT_EQ(text.GetUniChar(4), 0);
    text.SetNull(true);
    EXPECT_EQ(text.GetLength(), 0);
    EXPECT_EQ(text.GetUniChar(1), 0);
    EXPECT_FALSE(text.SetUniChar(1, u'x'));
}

TEST(VStringStorage, MoveStealsHeapBufferAndLeavesSourceEmpty) {
    VString source("long enough to live on the heap");
    const UniChar* buffer = source.GetCPointer();
    VString target(std::move(source));
    EXPECT_EQ(target.GetCPointer(), buffer);
    EXPECT_EQ(source.GetLength(), 0);      // NOLINT(bugprone-use-after-move): the state is specified
    EXPECT_EQ(source.GetCPointer()[0], 0); // NOLINT(bugprone-use-after-move)

    VString assigned("x");
    assigned = std::move(target);
    EXPECT_EQ(assigned.GetCPointer(), buffer);
    EXPECT_EQ(Units(assigned), u"long enough to live on the heap");
}

TEST(VStringStorage, SwapExchangesTextsWhateverTheirStorage) {
    VStr15 shortText("inline");
    VString longText("this one lives in a heap block");
    shortText.Swap(longText);
    EXPECT_EQ(Units(shortText), u"this one lives in a heap block");
    EXPECT_EQ(Units(longText), u"inline");

    VString a("first heap text........."), b("second heap text........");
    a.Swap(b);
    EXPECT_EQ(Units(a), u"second heap text........");
    EXPECT_EQ(Units(b), u"first heap text.........");
}

// Moves and swaps are noexcept, yet an inline area or a caller's buffer cannot change hands: its units are
// copied. When that copy finds no memory, 107 is reported on the task and the process goes on.
class VStringOutOfMemoryTest : public test::TestProcessFixture {
protected:
    void SetUp() override {
#ifndef VELA_TEST_SEAMS
        GTEST_SKIP() << "needs the allocation seam (VELA_TEST_SEAMS)";
#endif
    }

    // Runs operation while every allocation of the memory manager fails; answers the last error it reported.
    template <class Operation> static VError WithoutMemory(Operation operation) {
        StErrorContextInstaller errors;
        VCppMemMgr::sFailAllocations.store(true);
        operation();
        VCppMemMgr::sFailAllocations.store(false);
        return errors.GetLastError();
    }
};

TEST_F(VStringOutOfMemoryTest, MovesThatMustCopyReport107) {
    UniChar buffer[16];
    VString wrapper(buffer, sizeof(buffer));
    wrapper.FromCString("caller's");
    EXPECT_EQ(WithoutMemory([&] { VString moved(std::move(wrapper)); }), VE_STRING_ALLOC_FAILED);
    EXPECT_EQ(Units(wrapper), u"caller's"); // NOLINT(bugprone-use-after-move): a failed move leaves it

    VStr<8> inlineText("inline");
    VString target;
    EXPECT_EQ(WithoutMemory([&] { target = std::move(inlineText); }), VE_STRING_ALLOC_FAILED);
    EXPECT_EQ(Units(inlineText), u"inline"); // NOLINT(bugprone-use-after-move)
}

TEST_F(VStringOutOfMemoryTest, SwapsThatMustCopyReport107AndChangeNothing) {
    struct Case {
        const char* first;
        const char* second;
    };
    // A heap block with an inline text, and two inline areas where the shorter must grow.
    for (Case c : {Case{"a text long enough for the heap", "inline"}, Case{"ab", "longer than four"}}) {
        SCOPED_TRACE(c.first);
        VStr<4> a(c.first);
        VStr<16> b(c.second);
        EXPECT_EQ(WithoutMemory([&] { a.Swap(b); }), VE_STRING_ALLOC_FAILED);
        EXPECT_EQ(Units(a), Units(VString(c.first)));
        EXPECT_EQ(Units(b), Units(VString(c.second)));
    }
}

TEST(VStringStorage, FixedCapacityStringsStayInlineUntilTheyOutgrowIt) {
    VStr<4> text("abcd");
    const UniChar* inlineArea = text.GetCPointer();
    EXPECT_EQ(text.GetCapacity(), 4);
    text.AppendUniChar(u'e');
    EXPECT_NE(text.GetCPointer(), inlineArea);
    text.Truncate(2);
    text.EnsureSize(3); // fits the inline area again: the heap block is given back
    EXPECT_EQ(text.GetCPointer(), inlineArea);
    EXPECT_EQ(Units(text), u"ab");

    VString* made = VString::NewString(40);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetInlineCapacity(), 40);
    made->FromUniString(Repeat(u'z', 40).GetCPointer(), 40);
    EXPECT_EQ(made->GetCapacity(), 40);
    delete made;
}

TEST(VStringStorage, AppendingFromOwnBufferSurvivesGrowth) {
    VString text("abcdefgh");
    for (int i = 0; i < 6; ++i)
        text.AppendUniChars(text.GetCPointer(), text.GetLength());
    EXPECT_EQ(text.GetLength(), 8 * 64);
    for (int32 i = 0; i < text.GetLength(); ++i)
        ASSERT_EQ(text.GetUniChar(i + 1), u"abcdefgh"[i % 8]);

    text.FromUniString(text.GetCPointer() + 2, 3);
    EXPECT_EQ(Units(text), u"cde");
}

TEST(VStringStorage, NegativeLengthRaisesAndLeavesTextUnchanged) {
    test::RecordingRaiser raiser;
    VString text("kept");
    text.FromUniString(u"x", -1);
    EXPECT_EQ(Units(text), u"kept");
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_STRING_ALLOC_FAILED});
    EXPECT_FALSE(text.EnsureSize(-5));
}

TEST(VStringStorage, ValidateAcceptsOnlyLengthsWithinCapacity) {
    VString text;
    UniChar* buffer = text.GetCPointerForWrite(10);
    ASSERT_NE(buffer, nullptr);
    std::memcpy(buffer, u"0123456789", 20);
    EXPECT_FALSE(text.Validate(text.GetCapacity() + 1));
    EXPECT_FALSE(text.Validate(-1));
    EXPECT_TRUE(text.Validate(10));
    EXPECT_EQ(Units(text), u"0123456789");
}

TEST(VStringStorage, RetainedBufferOutlivesTheString) {
    int32 length = 0, capacity = 0;
    UniChar* buffer = nullptr;
    {
        VStr15 inlineText("short");
        buffer = inlineText.RetainBuffer(&length, &capacity);
    }
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(std::u16string(buffer), u"short");
    VString sharing;
    sharing.ShareBuffer(buffer, length, capacity);
    VString::ReleaseSharedBuffer(buffer, capacity);
    EXPECT_EQ(Units(sharing), u"short");
    EXPECT_EQ(sharing.GetSharedBufferRefCount(), 1);

    VString empty;
    EXPECT_EQ(empty.RetainBuffer(&length, &capacity), nullptr);
    EXPECT_EQ(length, 0);
}

TEST(VStringStorage, NullAndClear) {
    VString text("something long enough for a block");
    text.SetNull(true);
    EXPECT_TRUE(text.IsNull());
    EXPECT_EQ(text.GetLength(), 0);
    text.AppendCString("x");
    EXPECT_FALSE(text.IsNull());
    text.SetDirty(false);
    text.Clear();
    EXPECT_FALSE(text.IsNull());
    EXPECT_TRUE(text.IsDirty());
    EXPECT_TRUE(text.IsEmpty());

    VString nullText(true);
    VString copyOfNull(nullText);
    EXPECT_TRUE(copyOfNull.IsNull());
    VString assigned("x");
    assigned.FromString(nullText);
    EXPECT_TRUE(assigned.IsNull());
}

TEST(VStringConversion, CStringsAsciiAndUtf8) {
    EXPECT_EQ(Units(VString("plain")), u"plain");
    EXPECT_EQ(Units(VString("caf\xC3\xA9")), u"café");
    EXPECT_EQ(Units(VString("")), u"");
    VString appended("a");
    appended.AppendCString("\xE2\x82\xAC!");
    EXPECT_EQ(Units(appended), u"a€!");
    EXPECT_EQ(Units(VString(L"wide \U0001F600")), u"wide \xF600"); // raw 32-bit units keep the low 16 bits
}

TEST(VStringConversion, BlocksWithAndWithoutMarks) {
    const char utf16[] = "\xFF\xFEh\0i\0";
    VString text;
    EXPECT_EQ(text.FromBlockWithOptionalBOM(utf16, 6, VTC_UTF_8), VTC_UTF_16_LittleEndian);
    EXPECT_EQ(Units(text), u"hi");

    EXPECT_EQ(text.FromBlock("h\0i\0", 4, VTC_UTF_16), 4u);
    EXPECT_EQ(Units(text), u"hi");
    text.AppendBlock("\0!", 2, VTC_UTF_16_BigEndian);
    EXPECT_EQ(Units(text), u"hi!");
}

TEST(VStringConversion, ToBlockPrefixesAndTerminates) {
    VString text("héllo");
    char bytes[32];
    std::memset(bytes, 0x7F, sizeof(bytes));
    size_t written = text.ToBlock(bytes, sizeof(bytes), VTC_UTF_8, true, true);
    EXPECT_EQ(written, 1u + 6u + 1u);
    EXPECT_EQ(uchar(bytes[0]), 6);
    EXPECT_EQ(std::memcmp(bytes + 1, "h\xC3\xA9llo", 6), 0);
    EXPECT_EQ(bytes[7], 0);

    UniChar units[8];
    written = text.ToBlock(units, sizeof(units), VTC_UTF_16, true, true);
    EXPECT_EQ(written, 2u * 7u);
    EXPECT_EQ(units[0], 5);
    EXPECT_EQ(std::u16string(units + 1), u"héllo");

    EXPECT_EQ(text.ToBlock(bytes, 1, VTC_UTF_8, true, true), 0u); // no room for prefix and terminator
}

TEST(VStringStoredForm, WriteToPtrHonoursTheLimit) {
    VString text("abcdefgh");
    alignas(4) char data[64];
    std::memset(data, 0, sizeof(data));
    char* end = static_cast<char*>(text.WriteToPtr(data, false, 10));
    int32 length;
    std::memcpy(&length, data, 4);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(end, data + 10);

    std::memset(data, 0x55, sizeof(data));
    EXPECT_EQ(text.WriteToPtr(data, false, 3), data); // below 4 bytes nothing is written
    EXPECT_EQ(uchar(data[0]), 0x55);

    EXPECT_EQ(text.GetSpace(0), 20u);
    EXPECT_EQ(text.GetSpace(10), 10u);
    EXPECT_EQ(text.GetSpace(100), 20u);

    text.WriteToPtr(data);
    VString loaded;
    EXPECT_EQ(loaded.LoadFromPtr(data), data + 20);
    EXPECT_EQ(loaded, text);
}

TEST(VStringStoredForm, ByteSwapRoundTripsThroughTheDescriptor) {
    VString text("swap");
    alignas(4) char data[16];
    text.WriteToPtr(data);
    const VValueInfo* info = VValue::ValueInfoFromValueKind(VString::kKind);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->ByteSwapPtr(data, true), data + 12);
    EXPECT_EQ(uchar(data[3]), 4);
    EXPECT_EQ(info->ByteSwapPtr(data, false), data + 12);
    VString back;
    back.LoadFromPtr(data);
    EXPECT_EQ(back, text);
    EXPECT_EQ(info->GetSizeOfValueDataPtr(data), 12u);
}

TEST(VStringDebug, DebugDumpClampsTheSize) {
    VString text("abc");
    char buffer[16];
    int size = 1;
    EXPECT_EQ(text.DebugDump(buffer, size), VTC_UTF_16);
    EXPECT_EQ(size, 0);
    size = 5;
    text.DebugDump(buffer, size);
    EXPECT_EQ(size, 3);
}

TEST(VStringHash, LongStringsHashTheirEnds) {
    VString a("0123456789abcdefg"), b("01234567Xabcdefg");
    ASSERT_EQ(a.GetLength(), 17);
    b.FromCString("01234567X9abcdefg");
    EXPECT_EQ(a.GetHashValue(), b.GetHashValue());
    VString c("0123456789abcdefX");
    EXPECT_NE(a.GetHashValue(), c.GetHashValue());

    VString shortText("ab"); // h = 2; h = 2*257+'a' ...; then shifted by the length
    uint32 h = 2;
    h = h * 257u + 'a';
    h = h * 257u + 'b';
    EXPECT_EQ(shortText.GetHashValue(), (h << 2) + h);
}

// ---- Stream form

std::vector<char> StreamBytes(const std::vector<int32>& longs, const std::u16string& units = {}) {
    std::vector<char> bytes(longs.size() * 4 + units.size() * 2);
    std::memcpy(bytes.data(), longs.data(), longs.size() * 4);
    std::memcpy(bytes.data() + longs.size() * 4, units.data(), units.size() * 2);
    return bytes;
}

TEST(VStringStreamForm, WritesNegatedLengthThenUnits) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    VString("abc").WriteToStream(&stream);
    VString().WriteToStream(&stream);
    stream.CloseWriting();
    EXPECT_EQ(stream.GetDataSize(), 4u + 6u + 4u);
    std::vector<char> expected = StreamBytes({-3}, u"abc");
    std::vector<char> zero = StreamBytes({0});
    expected.insert(expected.end(), zero.begin(), zero.end());
    EXPECT_EQ(std::memcmp(stream.GetDataPtr(), expected.data(), expected.size()), 0);

    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString first("old"), second("old");
    EXPECT_EQ(first.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(second.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(Units(first), u"abc");
    EXPECT_TRUE(second.IsEmpty());
    EXPECT_FALSE(second.IsNull());
}

TEST(VStringStreamForm, SwappedStreamsSwapLengthAndUnits) {
    VPtrStream stream;
    stream.SetBigEndian();
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    VString("ab").WriteToStream(&stream);
    stream.CloseWriting();
    const auto* bytes = static_cast<const uchar*>(stream.GetDataPtr());
    EXPECT_EQ(bytes[3], 0xFE); // -2 big-endian: FF FF FF FE
    EXPECT_EQ(bytes[4], 0);
    EXPECT_EQ(bytes[5], 'a');

    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString back;
    EXPECT_EQ(back.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(Units(back), u"ab");
}

TEST(VStringStreamForm, ReadsTheOlderForms) {
    struct Case {
        std::vector<char> bytes;
        std::u16string expected;
        int64 endPosition;
    };
    std::vector<Case> cases = {
        {StreamBytes({3, 1}, std::u16string(u"abc\0", 4)), u"abc", 16},
        {StreamBytes({3, 2}, std::u16string(u"xyz\0", 4)), u"xyz", 16},
        {StreamBytes({3, 5}, u"abcdef"), u"unchanged", 12}, // other kinds skip n + 1 bytes
    };
    for (const Case& c : cases) {
        VConstPtrStream stream(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        VString text("unchanged");
        EXPECT_EQ(text.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(Units(text), c.expected);
        EXPECT_EQ(stream.GetPos(), c.endPosition);
    }
}

TEST(VStringStreamForm, LengthsBeyondTheDataReadOnlyWhatIsThere) {
    // Current form claiming a huge text but holding two units; old form claiming five.
    for (const std::vector<char>& bytes : {StreamBytes({-0x7FFFFFF0}, u"hi"), StreamBytes({5, 1}, u"hi")}) {
        VConstPtrStream stream(bytes.data(), bytes.size());
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        VString text("previous");
        EXPECT_EQ(text.ReadFromStream(&stream), VE_STREAM_EOF);
        EXPECT_EQ(Units(text), u"hi");
        EXPECT_LT(text.GetCapacity(), 100000); // no block sized by the claimed length
    }
}

TEST(VStringStreamForm, MinimumLengthIsCorruptData) {
    std::vector<char> bytes = StreamBytes({INT32_MIN}, u"abc");
    VConstPtrStream stream(bytes.data(), bytes.size());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VString text("previous");
    EXPECT_EQ(text.ReadFromStream(&stream), VE_STREAM_CORRUPTED);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(stream.GetPos(), 4);
}

// ---- hash_VString

TEST(VStringHash, EqualTextsHashAlikeWhateverTheirStorage) {
    const hash_VString hash;
    VString heap("a text long enough to need a heap block of its own");
    VStr255 inlined(heap);
    VString shared(heap);
    EXPECT_EQ(hash(heap), hash(inlined));
    EXPECT_EQ(hash(heap), hash(shared));
    EXPECT_TRUE(hash(heap, inlined));
    EXPECT_EQ(hash(VString()), hash(VString(true)));
}

// Texts of one length that differ only in their middle units (which a hash of the ends alone would not see)
// and texts that differ by a case or a canonical form: all different keys.
TEST(VStringHash, EveryUnitCountsAndEqualityIsExact) {
    const hash_VString hash;
    std::unordered_set<size_t> seen;
    for (int i = 0; i < 2000; ++i) {
        VString text("prefix--");
        text.AppendLong(100000 + i);
        text.AppendCString("--suffix");
        seen.insert(hash(text));
    }
    EXPECT_EQ(seen.size(), 2000u);

    std::unordered_map<VString, int, hash_VString, hash_VString> map;
    map[VString("abc")] = 1;
    map[VString("ABC")] = 2;
    map[VString(u"caf\u00e9")] = 3;
    map[VString(u"cafe\u0301")] = 4;
    map[VString("")] = 5;
    EXPECT_EQ(map.size(), 5u);
    EXPECT_EQ(map[VString("abc")], 1);
    EXPECT_EQ(map[VString(u"cafe\u0301")], 4);
    EXPECT_FALSE(hash(VString("abc"), VString("ab")));
}

} // namespace
} // namespace vela
