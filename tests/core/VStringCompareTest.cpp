#include "core/VString.h"

#include "support/RecordingIntlMgr.h"
#include "values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::FakeIntlMgrScope;
using test::IntlCall;
using test::RecordingCollator;
using test::RecordingIntlMgr;

// The stored form of text (int32 length, then the units), at an offset that may misalign the units.
std::vector<char> Stored(const std::u16string& text, size_t offset = 0) {
    std::vector<char> bytes(offset + sizeof(int32) + text.size() * sizeof(UniChar));
    int32 length = int32(text.size());
    std::memcpy(bytes.data() + offset, &length, sizeof(length));
    std::memcpy(bytes.data() + offset + sizeof(length), text.data(), text.size() * sizeof(UniChar));
    return bytes;
}

TEST(VStringCompareRaw, CodeUnitComparisons) {
    struct Case {
        std::u16string a, b;
        CompareResult raw, rawCase;
    } cases[] = {
        {u"abc", u"abc", CR_EQUAL, CR_EQUAL},    {u"a", u"A", CR_BIGGER, CR_EQUAL},
        {u"[", u"A", CR_BIGGER, CR_SMALLER}, // "A" is compared as "a" (0x61), after "[" (0x5B)
        {u"ab", u"abc", CR_SMALLER, CR_SMALLER}, {u"abd", u"abc", CR_BIGGER, CR_BIGGER},
        {u"", u"", CR_EQUAL, CR_EQUAL},          {u"\u00E9", u"\u00C9", CR_BIGGER, CR_BIGGER}, // ASCII folding only
    };
    for (const Case& c : cases) {
        VString a(c.a.c_str()), b(c.b.c_str());
        EXPECT_EQ(a.CompareToStringRaw(b), c.raw);
        EXPECT_EQ(a.CompareToStringRawCase(b), c.rawCase);
        EXPECT_EQ(a.EqualToStringRaw(b), c.raw == CR_EQUAL);
    }
}

TEST(VStringCompareRaw, EqualToUSASCIICString) {
    VString text("abc");
    EXPECT_TRUE(text.EqualToUSASCIICString("abc"));
    EXPECT_FALSE(text.EqualToUSASCIICString("ab"));
    EXPECT_FALSE(text.EqualToUSASCIICString("abcd"));
    EXPECT_FALSE(text.EqualToUSASCIICString("ABC"));
    EXPECT_TRUE(VString().EqualToUSASCIICString(""));
    EXPECT_TRUE(VString().EqualToUSASCIICString(nullptr));
    // Bytes count as signed chars: 0xE9 is not U+00E9.
    EXPECT_FALSE(VString(u"\u00E9").EqualToUSASCIICString("\xE9"));
}

TEST(VStringCompareRaw, RawComparisonsIgnoreTheManager) {
    FakeIntlMgrScope fake;
    VString a("abc"), b("ABC");
    EXPECT_FALSE(a.EqualToStringRaw(b));
    EXPECT_EQ(a.CompareToStringRaw(b), CR_BIGGER);
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(fake.Manager().fCalls.empty());
}

TEST(VStringCompare, LocaleAwareMembersAskTheCurrentManager) {
    FakeIntlMgrScope fake;
    RecordingIntlMgr& manager = fake.Manager();
    manager.fCompareResult = CR_SMALLER;
    manager.fEqualResult = false;
    VString text("text"), other("pattern");
    EXPECT_FALSE(text.EqualToString(other, true));
    EXPECT_EQ(text.CompareToString(other), CR_SMALLER);
    EXPECT_FALSE(text.EqualToString_Like(other));
    EXPECT_EQ(text.CompareToString_Like(other, true), CR_SMALLER);
    std::vector<IntlCall> expected = {
        {"EqualString", u"text", u"pattern", true},
        {"CompareString", u"text", u"pattern", false},
        {"EqualString_Like", u"text", u"pattern", false},
        {"CompareString_Like", u"text", u"pattern", true},
    };
    EXPECT_EQ(manager.fCalls, expected);
}

TEST(VStringCompare, DefaultManagerFoldsCaseWhenDiacriticsDoNotCount) {
    VString a("Hello"), b("hELLO");
    EXPECT_TRUE(a.EqualToString(b));
    EXPECT_FALSE(a.EqualToString(b, true));
    EXPECT_EQ(VString("apple").CompareToString(VString("Banana")), CR_SMALLER);
    EXPECT_TRUE(VString("hello world").EqualToString_Like(VString("HELLO@")));
}

TEST(VStringCompare, CompareToUsesTheOtherValuesText) {
    FakeIntlMgrScope fake;
    VString text("mine"), other("theirs");
    EXPECT_EQ(text.CompareTo(other, true), CR_BIGGER);
    std::vector<IntlCall> expected = {{"CompareString", u"mine", u"theirs", true}};
    EXPECT_EQ(fake.Manager().fCalls, expected);
}

// Each same-kind member and the call it must make: this text "abcdef", the other "abc" (a VString or a stored
// form), except for the IsTheBegining rows, where this text "ab" is shorter than the other "abcd".
TEST(VStringCompare, SameKindFamilyPassesTheDocumentedLengths) {
    FakeIntlMgrScope fake;
    const VString longText("abcdef"), shortText("ab");
    const VString other("abc");
    const std::vector<char> stored = Stored(u"abc");
    const std::vector<char> storedLong = Stored(u"abcd");
    const void* data = stored.data();
    const void* dataLong = storedLong.data();
    struct Case {
        const char* member;
        std::function<void()> call;
        IntlCall expected;
    } cases[] = {
        {"CompareToSameKind",
         [&] { longText.CompareToSameKind(&other, true); },
         {"CompareString", u"abcdef", u"abc", true}},
        {"CompareToSameKindPtr",
         [&] { longText.CompareToSameKindPtr(data); },
         {"CompareString", u"abcdef", u"abc", false}},
        {"Swap_CompareToSameKindPtr",
         [&] { longText.Swap_CompareToSameKindPtr(data, true); },
         {"CompareString", u"abc", u"abcdef", true}},
        {"EqualToSameKind", [&] { longText.EqualToSameKind(&other); }, {"EqualString", u"abcdef", u"abc", false}},
        {"EqualToSameKindPtr",
         [&] { longText.EqualToSameKindPtr(data, true); },
         {"EqualString", u"abcdef", u"abc", true}},
        {"CompareBeginingToSameKind",
         [&] { longText.CompareBeginingToSameKind(&other); },
         {"CompareString", u"abc", u"abc", false}},
        {"CompareBeginingToSameKindPtr",
         [&] { longText.CompareBeginingToSameKindPtr(data); },
         {"CompareString", u"abc", u"abc", false}},
        {"IsTheBeginingToSameKindPtr",
         [&] { shortText.IsTheBeginingToSameKindPtr(dataLong); },
         {"CompareString", u"ab", u"ab", false}},
        {"CompareToSameKind_Like",
         [&] { longText.CompareToSameKind_Like(&other); },
         {"CompareString_Like", u"abcdef", u"abc", false}},
        {"CompareToSameKindPtr_Like",
         [&] { longText.CompareToSameKindPtr_Like(data, true); },
         {"CompareString_Like", u"abcdef", u"abc", true}},
        {"Swap_CompareToSameKindPtr_Like",
         [&] { longText.Swap_CompareToSameKindPtr_Like(data); },
         {"CompareString_Like", u"abc", u"abcdef", false}},
        {"EqualToSameKind_Like",
         [&] { longText.EqualToSameKind_Like(&other); },
         {"EqualString_Like", u"abcdef", u"abc", false}},
        {"EqualToSameKindPtr_Like",
         [&] { longText.EqualToSameKindPtr_Like(data); },
         {"EqualString_Like", u"abcdef", u"abc", false}},
        {"Swap_EqualToSameKindPtr_Like",
         [&] { longText.Swap_EqualToSameKindPtr_Like(data, true); },
         {"EqualString_Like", u"abc", u"abcdef", true}},
        {"CompareBeginingToSameKind_Like",
         [&] { longText.CompareBeginingToSameKind_Like(&other); },
         {"CompareString_Like", u"abc", u"abc", false}},
        {"CompareBeginingToSameKindPtr_Like",
         [&] { longText.CompareBeginingToSameKindPtr_Like(data); },
         {"CompareString_Like", u"abc", u"abc", false}},
        {"IsTheBeginingToSameKindPtr_Like",
         [&] { shortText.IsTheBeginingToSameKindPtr_Like(dataLong); },
         {"CompareString_Like", u"ab", u"ab", false}},
    };
    for (const Case& c : cases) {
        fake.Manager().fCalls.clear();
        c.call();
        EXPECT_EQ(fake.Manager().fCalls, std::vector<IntlCall>{c.expected}) << c.member;
    }
}

TEST(VStringCompare, WithOptionsMembersUseTheOptionsManagerAndFlags) {
    FakeIntlMgrScope current;
    VRefPtr<RecordingCollator> collator = VRefPtr<RecordingCollator>::Adopt(new RecordingCollator);
    VRefPtr<RecordingIntlMgr> optionsManager =
        VRefPtr<RecordingIntlMgr>::Adopt(new RecordingIntlMgr(collator.Get())); // not current

    const VString text("abcdef"), other("abc");
    const std::vector<char> stored = Stored(u"abc");
    struct Case {
        const char* name;
        bool like, beginsWith, diacritical;
        std::function<void(const VCompareOptions&)> call;
        IntlCall expected;
    } cases[] = {
        {"compare",
         false,
         false,
         true,
         [&](auto& o) { text.CompareToSameKindWithOptions(&other, o); },
         {"CompareString", u"abcdef", u"abc", true}},
        {"compare like",
         true,
         false,
         false,
         [&](auto& o) { text.CompareToSameKindWithOptions(&other, o); },
         {"CompareString_Like", u"abcdef", u"abc", false}},
        {"compare begins-with",
         false,
         true,
         false,
         [&](auto& o) { text.CompareToSameKindPtrWithOptions(stored.data(), o); },
         {"CompareString", u"abc", u"abc", false}},
        {"swap",
         false,
         false,
         false,
         [&](auto& o) { text.Swap_CompareToSameKindPtrWithOptions(stored.data(), o); },
         {"CompareString", u"abc", u"abcdef", false}},
        {"swap like begins-with",
         true,
         true,
         true,
         [&](auto& o) { text.Swap_CompareToSameKindPtrWithOptions(stored.data(), o); },
         {"CompareString_Like", u"abc", u"abcdef", true}},
        {"equal",
         false,
         true,
         false,
         [&](auto& o) { text.EqualToSameKindWithOptions(&other, o); },
         {"EqualString", u"abcdef", u"abc", false}},
        {"equal like",
         true,
         false,
         true,
         [&](auto& o) { text.EqualToSameKindPtrWithOptions(stored.data(), o); },
         {"EqualString_Like", u"abcdef", u"abc", true}},
    };
    for (const Case& c : cases) {
        VCompareOptions options;
        options.SetIntlManager(optionsManager.Get());
        options.SetLike(c.like);
        options.SetBeginsWith(c.beginsWith);
        options.SetDiacritical(c.diacritical);
        optionsManager->fCalls.clear();
        c.call(options);
        EXPECT_EQ(optionsManager->fCalls, std::vector<IntlCall>{c.expected}) << c.name;
    }
    EXPECT_TRUE(current.Manager().fCalls.empty());

    VCompareOptions withoutManager; // falls back to the current manager
    text.CompareToSameKindWithOptions(&other, withoutManager);
    EXPECT_EQ(current.Manager().fCalls.size(), 1u);
}

TEST(VStringCompare, DescriptorComparesStoredForms) {
    FakeIntlMgrScope fake;
    const VValueInfo* info = VString().GetValueInfo();
    const std::vector<char> a = Stored(u"abcdef"), b = Stored(u"abc");
    info->CompareTwoPtrToData(a.data(), b.data(), true);
    info->CompareTwoPtrToDataBegining(a.data(), b.data());
    info->CompareTwoPtrToData_Like(a.data(), b.data());
    info->CompareTwoPtrToDataBegining_Like(a.data(), b.data(), true);
    VCompareOptions options;
    options.SetLike(true);
    info->CompareTwoPtrToDataWithOptions(a.data(), b.data(), options);
    std::vector<IntlCall> expected = {
        {"CompareString", u"abcdef", u"abc", true},       {"CompareString", u"abc", u"abc", false},
        {"CompareString_Like", u"abcdef", u"abc", false}, {"CompareString_Like", u"abc", u"abc", true},
        {"CompareString_Like", u"abcdef", u"abc", false},
    };
    EXPECT_EQ(fake.Manager().fCalls, expected);
}

TEST(VStringCompare, StoredFormsNeedNoAlignment) {
    const std::vector<char> odd = Stored(u"ABC", 1);
    VString text("abc");
    EXPECT_TRUE(text.EqualToSameKindPtr(odd.data() + 1));
    EXPECT_FALSE(text.EqualToSameKindPtr(odd.data() + 1, true));
    EXPECT_EQ(text.CompareToSameKindPtr(odd.data() + 1), CR_EQUAL);
}

TEST(VStringCompare, DefaultManagerOrdersStoredFormsByTheDialect) {
    const VValueInfo* info = VString().GetValueInfo();
    const std::vector<char> lower = Stored(u"apple"), upper = Stored(u"BANANA"), empty = Stored(u"");
    EXPECT_EQ(info->CompareTwoPtrToData(lower.data(), upper.data()), CR_SMALLER);
    // Letters before case: not the order of the code units ("B" < "a").
    EXPECT_EQ(info->CompareTwoPtrToData(lower.data(), upper.data(), true), CR_SMALLER);
    EXPECT_EQ(info->CompareTwoPtrToData(lower.data(), Stored(u"APPLE").data()), CR_EQUAL);
    EXPECT_NE(info->CompareTwoPtrToData(lower.data(), Stored(u"APPLE").data(), true), CR_EQUAL);
    EXPECT_EQ(info->CompareTwoPtrToData(empty.data(), lower.data()), CR_SMALLER);
    EXPECT_EQ(info->CompareTwoPtrToDataBegining(Stored(u"APPLES").data(), lower.data()), CR_EQUAL);
}

} // namespace
} // namespace vela
