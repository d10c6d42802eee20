#include "core/VString.h"

#include "support/RecordingIntlMgr.h"
#include "support/RecordingRaiser.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::FakeIntlMgrScope;
using test::IntlCall;

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

VString Repeat(const std::u16string& piece, int count) {
    VString text;
    for (int i = 0; i < count; ++i)
        text.AppendUniChars(piece.data(), int32(piece.size()));
    return text;
}

std::vector<std::u16string> UnitsOf(const std::vector<VString>& pieces) {
    std::vector<std::u16string> out;
    for (const VString& piece : pieces)
        out.push_back(Units(piece));
    return out;
}

// ---- Editing

TEST(VStringEditing, InsertPlacesBeforeThePositionOrAppends) {
    struct Case {
        int32 pos;
        std::u16string expected;
    } cases[] = {{1, u"xabc"}, {2, u"axbc"}, {4, u"abcx"}, {9, u"abcx"}, {0, u"abc"}, {-3, u"abc"}};
    for (const Case& c : cases) {
        VString unit("abc"), text("abc");
        unit.Insert(u'x', c.pos);
        text.Insert(VString("x"), c.pos);
        EXPECT_EQ(Units(unit), c.expected) << c.pos;
        EXPECT_EQ(Units(text), c.expected) << c.pos;
    }
    VString zero("abc");
    zero.Insert(UniChar(0), 2);
    EXPECT_EQ(Units(zero), u"abc");
}

TEST(VStringEditing, InsertOfItselfReadsTheTextBeforeTheEdit) {
    VString text("abc");
    text.Insert(text, 2);
    EXPECT_EQ(Units(text), u"aabcbc");
}

TEST(VStringEditing, RemoveAndReplaceRanges) {
    struct Case {
        const char* name;
        int32 pos, n;
        std::u16string removed, replaced; // replaced by "XY"
    } cases[] = {
        {"middle", 2, 2, u"adef", u"aXYdef"},
        {"to the end", 2, 5, u"a", u"aXY"},
        {"past the end", 2, 100, u"a", u"aXY"},
        {"n at the int32 limit", 2, INT32_MAX, u"a", u"aXY"},
        {"last unit, n at the limit", 6, INT32_MAX, u"abcde", u"abcdeXY"},
        {"nothing", 3, 0, u"abcdef", u"abcdef"},
        {"pos 0", 0, 1, u"abcdef", u"abcdef"},
        {"pos past the end", 7, 1, u"abcdef", u"abcdef"},
        {"negative n", 2, -1, u"abcdef", u"abcdef"},
    };
    for (const Case& c : cases) {
        VString removed("abcdef"), replaced("abcdef");
        removed.Remove(c.pos, c.n);
        replaced.Replace(VString("XY"), c.pos, c.n);
        EXPECT_EQ(Units(removed), c.removed) << c.name;
        EXPECT_EQ(Units(replaced), c.replaced) << c.name;
    }
}

TEST(VStringEditing, TruncateKeepsPairsAndGivesMemoryBack) {
    VString pair(u"ab\U0001F600c");
    pair.Truncate(3, true);
    EXPECT_EQ(Units(pair), u"ab");
    VString split(u"ab\U0001F600c");
    split.Truncate(3);
    EXPECT_EQ(split.GetLength(), 3);
    VString negative("abc");
    negative.Truncate(-5);
    EXPECT_TRUE(negative.IsEmpty());

    VString big(std::u16string(1000, u'x').c_str()); // filled from empty: a block just above 1000 units
    const UniChar* block = big.GetCPointer();
    big.Truncate(990); // little waste: the block stays
    EXPECT_EQ(big.GetCPointer(), block);
    big.Truncate(100); // most of the block would be wasted
    EXPECT_LE(big.GetCapacity(), 100 + 100 / 8 + 32);
    EXPECT_EQ(Units(big), std::u16string(100, u'x'));
}

TEST(VStringEditing, TruncateOfASharedBufferLeavesTheOtherCopyAlone) {
    VString original("a text that lives in a counted heap block");
    VString copy(original);
    copy.Truncate(6);
    EXPECT_EQ(Units(copy), u"a text");
    EXPECT_EQ(Units(original), u"a text that lives in a counted heap block");
    EXPECT_EQ(original.GetSharedBufferRefCount(), 1);
}

TEST(VStringEditing, SubStringKeepsARangeInPlace) {
    struct Case {
        int32 pos, n;
        std::u16string expected;
    } cases[] = {{2, 3, u"bcd"},    {4, 100, u"def"},  {1, 0, u""},
                 {0, 2, u"abcdef"}, {7, 1, u"abcdef"}, {2, -1, u"abcdef"}};
    for (const Case& c : cases) {
        VString text("abcdef");
        text.SubString(c.pos, c.n);
        EXPECT_EQ(Units(text), c.expected) << c.pos << "," << c.n;
    }
}

TEST(VStringEditing, TrimUniChar) {
    struct Case {
        std::u16string text, expected;
    } cases[] = {{u"xxabxx", u"ab"}, {u"xab", u"ab"}, {u"abx", u"ab"}, {u"xxxx", u""}, {u"axb", u"axb"}, {u"", u""}};
    for (const Case& c : cases) {
        VString text(c.text.c_str());
        text.TrimUniChar(u'x');
        EXPECT_EQ(Units(text), c.expected) << Narrow(c.text);
    }
}

TEST(VStringEditing, RemoveWhiteSpacesWithoutManager) {
    struct Case {
        std::u16string text;
        bool leading, trailing;
        std::u16string expected;
        int32 lead, trail;
    } cases[] = {
        {u" \t ab c \t", true, true, u"ab c", 3, 2},
        {u" \t ab c \t", true, false, u"ab c \t", 3, 0},
        {u" \t ab c \t", false, true, u" \t ab c", 0, 2},
        {u"   ", false, true, u"", 0, 3},
        {u"   ", true, true, u"", 3, 0},
        {u"a\xD83D  ", false, true, u"a", 0, 2}, // the broken pair goes with the white run
        {u"\u00A0a", true, true, u"\u00A0a", 0, 0},
        {u"", true, true, u"", 0, 0},
    };
    for (const Case& c : cases) {
        VString text(c.text.c_str());
        int32 lead = -1, trail = -1;
        text.RemoveWhiteSpaces(c.leading, c.trailing, &lead, &trail);
        EXPECT_EQ(Units(text), c.expected) << Narrow(c.text);
        EXPECT_EQ(lead, c.lead) << Narrow(c.text);
        EXPECT_EQ(trail, c.trail) << Narrow(c.text);
    }
    VString noCounts("  a  ");
    noCounts.RemoveWhiteSpaces(true, true, nullptr, nullptr);
    EXPECT_EQ(Units(noCounts), u"a");
}

TEST(VStringEditing, RemoveWhiteSpacesAsksTheGivenManager) {
    FakeIntlMgrScope fake;
    VString text("__a _");
    int32 lead = 0, trail = 0;
    text.RemoveWhiteSpaces(true, true, &lead, &trail, &fake.Manager(), true);
    EXPECT_EQ(Units(text), u"a ");
    EXPECT_EQ(lead, 2);
    EXPECT_EQ(trail, 1);
    ASSERT_FALSE(fake.Manager().fCalls.empty());
    for (const IntlCall& call : fake.Manager().fCalls) {
        EXPECT_EQ(call.op, "IsSpace");
        EXPECT_TRUE(call.diacritical); // the flag is passed on
    }
}

TEST(VStringEditing, CaseGoesThroughTheCurrentManager) {
    VString text("Mixed Case");
    {
        FakeIntlMgrScope fake;
        text.ToUpperCase(true);
        text.ToLowerCase();
        std::vector<IntlCall> expected = {{"ToUpper", u"Mixed Case", u"", false},
                                          {"ToLower", u"Mixed Case", u"", false}};
        EXPECT_EQ(fake.Manager().fCalls, expected);
    }
    text.ToUpperCase();
    EXPECT_EQ(Units(text), u"MIXED CASE");
    text.ToLowerCase();
    EXPECT_EQ(Units(text), u"mixed case");
}

// Canonical forms: precomposed letters split into base and marks and back, marks reordered by class, Hangul
// syllables split into jamo; singletons (the angstrom sign) and compatibility forms (the ligature) follow the
// canonical tables only.
TEST(VStringEditing, DecomposeAndComposeGiveTheCanonicalForms) {
    struct Case {
        std::u16string text, decomposed, composed;
    } cases[] = {
        {u"", u"", u""},
        {u"plain", u"plain", u"plain"},
        {u"caf\u00e9", u"cafe\u0301", u"caf\u00e9"},
        {u"cafe\u0301", u"cafe\u0301", u"caf\u00e9"},
        {u"\u1e69", u"s\u0323\u0307", u"\u1e69"},
        {u"s\u0307\u0323", u"s\u0323\u0307", u"\u1e69"},
        {u"\uac00", u"\u1100\u1161", u"\uac00"},
        {u"\u212b", u"A\u030a", u"\u00c5"},
        {u"\ufb01", u"\ufb01", u"\ufb01"},
        {u"x\U0001d15e", u"x\U0001d157\U0001d165", u"x\U0001d157\U0001d165"},
    };
    for (const Case& c : cases) {
        VString decomposed;
        decomposed.FromUniString(c.text.data(), int32(c.text.size()));
        decomposed.Decompose();
        EXPECT_EQ(Units(decomposed), c.decomposed) << "case " << (&c - cases);
        VString composed;
        composed.FromUniString(c.text.data(), int32(c.text.size()));
        composed.Compose();
        EXPECT_EQ(Units(composed), c.composed) << "case " << (&c - cases);
    }
}

TEST(VStringEditing, ComposeLeavesASharedCopyAlone) {
    VString original(u"cafe\u0301");
    VString copy(original);
    copy.Compose();
    EXPECT_EQ(Units(copy), u"caf\u00e9");
    EXPECT_EQ(Units(original), u"cafe\u0301");
}

TEST(VStringEditing, ExchangeUniChar) {
    struct Case {
        int32 pos, n;
        std::u16string expected;
    } cases[] = {{1, 10, u"bonono"}, {3, 1, u"banona"}, {0, 10, u"banana"}, {2, 0, u"banana"}, {7, 1, u"banana"}};
    for (const Case& c : cases) {
        VString text("banana");
        text.Exchange(u'a', u'o', c.pos, c.n);
        EXPECT_EQ(Units(text), c.expected) << c.pos << "," << c.n;
    }
}

// ---- Swap

TEST(VStringSwap, CallerBufferIsCopiedNeverHandedOver) {
    UniChar buffer[32] = u"caller text";
    VString heap("a heap text long enough for a block");
    const UniChar* block = heap.GetCPointer();
    {
        VString wrapper(buffer, sizeof(buffer));
        wrapper.Swap(heap);
        EXPECT_EQ(Units(wrapper), u"a heap text long enough for a block");
        EXPECT_EQ(wrapper.GetCPointer(), block); // the heap block changed hands
        EXPECT_EQ(Units(heap), u"caller text");
        EXPECT_NE(heap.GetCPointer(), buffer);
    }
    heap.AppendCString("!"); // writes to heap's own storage, not to the caller's buffer
    EXPECT_EQ(std::u16string(buffer), u"caller text");
    EXPECT_EQ(Units(heap), u"caller text!");

    UniChar other[32] = u"second caller";
    VString heap2("another heap text long enough for a block");
    {
        VString wrapper(other, sizeof(other));
        heap2.Swap(wrapper); // the other direction
        EXPECT_NE(heap2.GetCPointer(), other);
        EXPECT_EQ(Units(heap2), u"second caller");
        EXPECT_EQ(Units(wrapper), u"another heap text long enough for a block");
    }
    EXPECT_EQ(Units(heap2), u"second caller");
}

TEST(VStringSwap, CallerBufferAndInlineAreaExchangeTheirUnits) {
    UniChar buffer[16] = u"wrapped";
    VString wrapper(buffer, sizeof(buffer));
    VStr15 inlineText("inline text");
    const UniChar* area = inlineText.GetCPointer();
    wrapper.Swap(inlineText);
    EXPECT_EQ(wrapper.GetCPointer(), buffer);
    EXPECT_EQ(std::u16string(buffer), u"inline text");
    EXPECT_EQ(inlineText.GetCPointer(), area);
    EXPECT_EQ(Units(inlineText), u"wrapped");
}

TEST(VStringSwap, BothEndNotNullAndDirty) {
    VString null(true);
    VString heap("heap text that needs a block");
    heap.SetDirty(false);
    null.Swap(heap);
    EXPECT_FALSE(null.IsNull());
    EXPECT_FALSE(heap.IsNull());
    EXPECT_TRUE(heap.IsDirty());
    EXPECT_EQ(Units(null), u"heap text that needs a block");
    EXPECT_TRUE(heap.IsEmpty());
}

// ---- ExchangeRawString and Exchange

TEST(VStringExchange, RawReplacementsOfEveryLength) {
    struct Case {
        std::u16string text, pattern, replacement;
        int32 pos, n;
        std::u16string expected;
        int32 count;
    } cases[] = {
        {u"aaaa", u"aa", u"b", 1, 10, u"bb", 2},
        {u"aaaa", u"aa", u"ccc", 1, 10, u"cccccc", 2},
        {u"aaaa", u"aa", u"xy", 1, 10, u"xyxy", 2},
        {u"abcabcabc", u"bc", u"X", 2, 2, u"aXaXabc", 2},
        {u"abcabcabc", u"bc", u"XYZ", 3, 1, u"abcaXYZabc", 1},
        {u"abcabc", u"abc", u"", 1, 5, u"", 2},
        {u"abc", u"x", u"yy", 1, 5, u"abc", 0},
        {u"abc", u"", u"yy", 1, 5, u"abc", 0}, // an empty pattern replaces nothing
        {u"abc", u"b", u"yy", 1, 0, u"abc", 0},
        {u"abc", u"b", u"yy", 0, 5, u"abc", 0},
        {u"abc", u"c", u"yy", 4, 5, u"abc", 0},
    };
    for (const Case& c : cases) {
        VString text(c.text.c_str());
        int32 count = text.ExchangeRawString(VString(c.pattern.c_str()), VString(c.replacement.c_str()), c.pos, c.n);
        EXPECT_EQ(Units(text), c.expected) << Narrow(c.text) << " " << Narrow(c.pattern);
        EXPECT_EQ(count, c.count) << Narrow(c.text) << " " << Narrow(c.pattern);
    }
}

TEST(VStringExchange, RawReplacementMatchesAPlainReference) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        int length = int(random() % 200);
        for (int i = 0; i < length; ++i)
            text.push_back(u'a' + UniChar(random() % 3));
        std::u16string pattern(1 + random() % 3, u'a');
        pattern.back() = u'a' + UniChar(random() % 3);
        std::u16string replacement(random() % 5, u'z');

        std::u16string expected = text;
        int count = 0;
        for (size_t at = expected.find(pattern); at != std::u16string::npos;
             at = expected.find(pattern, at + replacement.size())) {
            expected.replace(at, pattern.size(), replacement);
            ++count;
        }
        VString ours(text.c_str());
        EXPECT_EQ(ours.ExchangeRawString(VString(pattern.c_str()), VString(replacement.c_str())), count);
        EXPECT_EQ(Units(ours), expected);
    }
}

TEST(VStringExchange, RawReplacementBeyondTheLengthLimitChangesNothing) {
    test::RecordingRaiser raiser;
    VString text = Repeat(u"a", 32768);
    VString replacement = Repeat(u"b", 65536);
    // 32768 + 32768 × 65535 = 2^31 units: the limit, which 32-bit arithmetic would wrap past.
    EXPECT_EQ(text.ExchangeRawString(VString("a"), replacement), 0);
    EXPECT_EQ(text.GetLength(), 32768);
    EXPECT_EQ(text.GetUniChar(1), u'a');
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_STRING_ALLOC_FAILED});
}

TEST(VStringExchange, RawReplacementWithItselfAsAnArgument) {
    VString text("abc");
    EXPECT_EQ(text.ExchangeRawString(text, VString("xyz!")), 1);
    EXPECT_EQ(Units(text), u"xyz!");
    VString again("ab");
    EXPECT_EQ(again.ExchangeRawString(VString("b"), again), 1);
    EXPECT_EQ(Units(again), u"aab");
}

TEST(VStringExchange, ThroughTheCollatorUsesItsMatchedLengths) {
    VString text("One fish, ONE dish, one wish");
    text.Exchange(VString("one"), VString("1"), 1, 10, false);
    EXPECT_EQ(Units(text), u"1 fish, 1 dish, 1 wish");

    VString limited("aXaxax");
    limited.Exchange(VString("x"), VString("--"), 3, 1, false);
    EXPECT_EQ(Units(limited), u"aXa--ax"); // text before pos stays, one match only

    VString exact("aXax");
    exact.Exchange(VString("x"), VString("y"), 1, 10, true);
    EXPECT_EQ(Units(exact), u"aXay");

    VString untouched("abc");
    untouched.Exchange(VString(""), VString("y"));
    untouched.Exchange(VString("b"), VString("y"), 1, 0);
    EXPECT_EQ(Units(untouched), u"abc");
}

TEST(VStringExchange, ThroughTheCurrentManagersCollator) {
    FakeIntlMgrScope fake;
    VString text("abcb");
    text.Exchange(VString("B"), VString("x"), 2, 5, true);
    EXPECT_EQ(Units(text), u"abcb"); // exact: no match
    std::vector<IntlCall> expected = {{"FindString", u"bcb", u"B", true}};
    EXPECT_EQ(fake.Collator().fCalls, expected);
}

// ---- Reading and searching

TEST(VStringSearch, SubStringsBeforeAndAfter) {
    VString text("abcdef"), out("stale");
    struct Case {
        int32 pos, n;
        std::u16string expected;
    } cases[] = {{2, 3, u"bcd"}, {5, 10, u"ef"}, {2, 0, u""}, {0, 2, u""}, {7, 1, u""}, {2, -1, u""}};
    for (const Case& c : cases) {
        out.FromCString("stale");
        text.GetSubString(c.pos, c.n, out);
        EXPECT_EQ(Units(out), c.expected) << c.pos << "," << c.n;
    }
    text.GetSubString(2, 2, text); // into itself
    EXPECT_EQ(Units(text), u"bc");

    VString word("abcdef");
    EXPECT_EQ(Units(word.Before(3)), u"ab");
    EXPECT_EQ(Units(word.Before(0)), u"");
    EXPECT_EQ(Units(word.Before(9)), u"abcdef");
    EXPECT_EQ(Units(word.After(3)), u"def");
    EXPECT_EQ(Units(word.After(0)), u"abcdef");
    EXPECT_EQ(Units(word.After(6)), u"");
}

TEST(VStringSearch, FindUniChar) {
    VString text("abcabc");
    struct Case {
        UniChar c;
        int32 start;
        bool backwards;
        int32 expected;
    } cases[] = {
        {u'a', 0, false, 1}, {u'a', 2, false, 4}, {u'c', 4, true, 3}, {u'a', 10, true, 0},
        {u'c', 6, true, 6},  {u'x', 1, false, 0}, {u'a', 1, true, 1}, {u'b', -4, true, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text.FindUniChar(c.c, c.start, c.backwards), c.expected) << char(c.c) << c.start;
    }
    EXPECT_EQ(VString("abc").FindUniChar(u'a', 10, true), 0);
    EXPECT_EQ(VString().FindUniChar(u'a'), 0);
    VString longText = Repeat(u"0123456789", 10);
    longText.AppendUniChar(u'#');
    EXPECT_EQ(longText.FindUniChar(u'#'), 101);
}

TEST(VStringSearch, FindRawString) {
    VString text("abcabcd");
    struct Case {
        std::u16string pattern;
        int32 pos, expected;
    } cases[] = {
        {u"abc", 1, 1}, {u"abc", 2, 4}, {u"abcd", 1, 4}, {u"abcd", 5, 0}, {u"x", 1, 0},
        {u"abc", 0, 0}, {u"", 3, 3},    {u"", 8, 8},     {u"", 9, 0},     {u"abcabcdx", 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text.FindRawString(VString(c.pattern.c_str()), c.pos), c.expected) << Narrow(c.pattern) << c.pos;
    }
    EXPECT_EQ(VString::FindRawString(u"abc", 3, u"", 0), 1);
    EXPECT_EQ(VString::FindRawString(u"abc", 3, u"bc", 2), 2);
}

TEST(VStringSearch, FindRawStringAgreesWithAPlainSearch) {
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        int length = int(random() % 400);
        for (int i = 0; i < length; ++i)
            text.push_back(u'a' + UniChar(random() % 2));
        std::u16string pattern;
        int patternLength = 1 + int(random() % 12);
        for (int i = 0; i < patternLength; ++i)
            pattern.push_back(u'a' + UniChar(random() % 2));
        size_t expected = text.find(pattern);
        EXPECT_EQ(VString::FindRawString(text.data(), int32(text.size()), pattern.data(), patternLength),
                  expected == std::u16string::npos ? 0 : int32(expected) + 1);
    }
}

TEST(VStringSearch, FindRawStringOfLongPatterns) {
    VString pattern = Repeat(u"ab", 200);
    pattern.AppendUniChar(u'c'); // 401 units: the table goes to the heap
    VString text = Repeat(u"ab", 1000);
    EXPECT_EQ(text.FindRawString(pattern), 0);
    text.AppendString(pattern);
    EXPECT_EQ(text.FindRawString(pattern), 2001);
}

TEST(VStringSearch, RawPrefixAndSuffix) {
    VString text("abcdef");
    EXPECT_TRUE(text.BeginsWithRawString(VString("abc")));
    EXPECT_FALSE(text.BeginsWithRawString(VString("ABC")));
    EXPECT_TRUE(text.BeginsWithRawString(VString()));
    EXPECT_FALSE(text.BeginsWithRawString(VString("abcdefg")));
    EXPECT_TRUE(text.EndsWithRawString(VString("def")));
    EXPECT_FALSE(text.EndsWithRawString(VString("de")));
    EXPECT_TRUE(text.EndsWithRawString(VString()));
    EXPECT_FALSE(text.EndsWithRawString(VString("xabcdef")));
}

TEST(VStringSearch, CollatorSearchesGetTheDocumentedTexts) {
    FakeIntlMgrScope fake;
    VString text("xxabcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(text.Find(VString("ab"), 2, true), 3);
    EXPECT_EQ(text.Find(VString("ab"), 0), 0);
    EXPECT_TRUE(text.BeginsWith(VString("xx")));
    EXPECT_TRUE(text.EndsWith(VString("YZ"), false));
    std::vector<IntlCall> expected = {
        {"FindString", u"xabcdefghijklmnopqrstuvwxyz", u"ab", true},
        {"BeginsWithString", u"xxabcdefghijklmnop", u"xx", false}, // |prefix| + 16 units
        {"EndsWithString", u"xxabcdefghijklmnopqrstuvwxyz", u"YZ", false},
    };
    EXPECT_EQ(fake.Collator().fCalls, expected);
}

TEST(VStringSearch, SplitAtACharacter) {
    struct Case {
        std::u16string text;
        bool keepEmpty, trim;
        std::vector<std::u16string> expected;
        bool found;
    } cases[] = {
        {u"a,,b,", true, false, {u"a", u"", u"b", u""}, true},
        {u"a,,b,", false, false, {u"a", u"b"}, true},
        {u"", true, false, {u""}, false},
        {u"", false, false, {}, false},
        {u"abc", false, false, {u"abc"}, false},
        {u" a , ,b ", true, true, {u"a", u"", u"b"}, true},
        {u" a , ,b ", false, true, {u"a", u"b"}, true},
        {u",", true, false, {u"", u""}, true},
    };
    for (const Case& c : cases) {
        std::vector<VString> pieces{VString("stale")};
        EXPECT_EQ(VString(c.text.c_str()).GetSubStrings(u',', pieces, c.keepEmpty, c.trim), c.found) << Narrow(c.text);
        EXPECT_EQ(UnitsOf(pieces), c.expected) << Narrow(c.text);
    }
}

TEST(VStringSearch, SplitAtAText) {
    struct Case {
        std::u16string text, separator;
        bool keepEmpty;
        std::vector<std::u16string> expected;
        bool found;
    } cases[] = {
        {u"a--b----c", u"--", true, {u"a", u"b", u"", u"c"}, true},
        {u"a--b----c", u"--", false, {u"a", u"b", u"c"}, true},
        {u"aXbxc", u"x", false, {u"a", u"b", u"c"}, true}, // the collator folds case
        {u"abc", u"", true, {u"abc"}, false},
        {u"", u",", true, {}, false},
        {u"abc", u"x", true, {u"abc"}, false},
    };
    for (const Case& c : cases) {
        std::vector<VString> pieces;
        EXPECT_EQ(VString(c.text.c_str()).GetSubStrings(VString(c.separator.c_str()), pieces, c.keepEmpty, false),
                  c.found)
            << Narrow(c.text);
        EXPECT_EQ(UnitsOf(pieces), c.expected) << Narrow(c.text);
    }
}

TEST(VStringSearch, Join) {
    VString text("stale");
    EXPECT_TRUE(text.Join({}, u','));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_TRUE(text.Join({VString("a"), VString(""), VString("bc")}, u','));
    EXPECT_EQ(Units(text), u"a,,bc");
    EXPECT_TRUE(text.Join({VString("a"), VString("b")}, VString(" - ")));
    EXPECT_EQ(Units(text), u"a - b");
    EXPECT_TRUE(text.Join({text, VString("c"), text}, text)); // this text among the inputs
    EXPECT_EQ(Units(text), u"a - ba - bca - ba - b");
}

TEST(VStringSearch, JoinBeyondTheLengthLimitFails) {
    test::RecordingRaiser raiser;
    VString piece = Repeat(u"x", 1 << 20);
    std::vector<VString> pieces(2048, piece); // the copies share one block: 2^31 units in total
    VString text("kept");
    EXPECT_FALSE(text.Join(pieces, VString()));
    EXPECT_EQ(Units(text), u"kept");
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_STRING_ALLOC_FAILED});
}

TEST(VStringSearch, SimilarToString) {
    EXPECT_FLOAT_EQ(VString("abc").SimilarToString(VString("ab")), 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(VString("ab").SimilarToString(VString("abc")), 1.0f);
    EXPECT_FLOAT_EQ(VString("kitten").SimilarToString(VString("sitting")), 4.0f / 6.0f);
    EXPECT_FLOAT_EQ(VString("").SimilarToString(VString("abc")), 0.0f);
    EXPECT_FLOAT_EQ(VString("abc").SimilarToString(VString("")), 0.0f);
}

TEST(VStringSearch, IsStringValid) {
    VString text("abc");
    EXPECT_TRUE(text.IsStringValid());
    UniChar buffer[8] = u"abc";
    VString wrapper(buffer, 3, sizeof(buffer));
    buffer[3] = u'!'; // the caller overwrote the terminator
    EXPECT_FALSE(wrapper.IsStringValid());
    EXPECT_TRUE(VString().IsStringValid());
}

// ---- Appending (moved here with the editing members)

TEST(VStringAppend, AppendsAndOperators) {
    VString text("ab");
    text.AppendUniChar(u'c').AppendUniCString(u"de").AppendCString("fg").AppendString(VString("h"));
    text += VString("i");
    text += u'j';
    EXPECT_EQ(Units(text), u"abcdefghij");
    text.AppendCString("\xC3\xA9"); // UTF-8 as a whole
    EXPECT_EQ(Units(text), u"abcdefghij\u00E9");
    text.AppendUniChars(text.GetCPointer(), 3); // from its own buffer
    EXPECT_EQ(Units(text), u"abcdefghij\u00E9abc");

    VString left("left "), right("right");
    EXPECT_EQ(Units(left + right), u"left right");
    EXPECT_TRUE(VString("abc") == VString("abc"));
    EXPECT_FALSE(VString("abc") == VString("ABC")); // raw, whatever the manager
}

} // namespace
} // namespace vela
