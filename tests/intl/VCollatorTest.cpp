#include "intl/VCollator.h"

#include "core/VRefPtr.h"
#include "support/CollatorCalls.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

using std::u16string;

using test::Len;

// A base of its own, so that the collator exists before the calls are bound to it.
struct OwnedCollator {
    VRefPtr<VCollator> fCollator = VRefPtr<VCollator>::Adopt(new VCollator);
};

class VCollatorTest : public ::testing::Test, protected OwnedCollator, protected test::CollatorCalls {
protected:
    VCollatorTest() : CollatorCalls(fCollator.Get()) {}
};

TEST_F(VCollatorTest, EmptyTextsOrderBeforeOthers) {
    struct Case {
        u16string a, b;
        CompareResult expected;
    } cases[] = {{u"", u"", CR_EQUAL}, {u"", u"a", CR_SMALLER}, {u"a", u"", CR_BIGGER}};
    for (const Case& c : cases) {
        for (bool diacritical : {false, true}) {
            EXPECT_EQ(Compare(c.a, c.b, diacritical), c.expected) << int(c.a.size()) << "/" << int(c.b.size());
        }
    }
    EXPECT_TRUE(Equal(u"", u"", true));
    EXPECT_FALSE(Equal(u"", u"a", false));
}

TEST_F(VCollatorTest, CaseCountsOnlyWhenDiacritical) {
    struct Case {
        u16string a, b;
        CompareResult folded, exact;
    } cases[] = {
        {u"ABC", u"abc", CR_EQUAL, CR_SMALLER},
        {u"a", u"B", CR_SMALLER, CR_BIGGER}, // folded "a" < "b"; by units 'a' (0x61) > 'B' (0x42)
        {u"\u03A3\u0391\u03A3", u"\u03C3\u03B1\u03C2", CR_EQUAL, CR_SMALLER}, // final sigma folds to sigma
        {u"\U00010400", u"\U00010428", CR_EQUAL, CR_SMALLER},                 // a pair folds as one code point
        {u"abc", u"abcd", CR_SMALLER, CR_SMALLER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Compare(c.a, c.b, false), c.folded);
        EXPECT_EQ(Compare(c.a, c.b, true), c.exact);
        EXPECT_EQ(Equal(c.a, c.b, false), c.folded == CR_EQUAL);
        EXPECT_EQ(Equal(c.a, c.b, true), c.exact == CR_EQUAL);
    }
}

TEST_F(VCollatorTest, FindReportsPositionAndMatchedLength) {
    struct Case {
        u16string text, pattern;
        bool diacritical;
        int32 position, matched;
    } cases[] = {
        {u"abc", u"", false, 1, 0},
        {u"", u"", false, 0, 0},
        {u"", u"a", false, 0, 0},
        {u"abcbc", u"bc", true, 2, 2},
        {u"abcbc", u"BC", true, 0, 0},
        {u"abcbc", u"BC", false, 2, 2},
        {u"x\U00010400y", u"\U00010428Y", false, 2, 3},
        {u"\U00010400", u"\xDC00", false, 0, 0}, // never inside a pair
        {u"abc", u"abcd", false, 0, 0},
    };
    for (const Case& c : cases) {
        int32 matched = -7;
        EXPECT_EQ(Find(c.text, c.pattern, c.diacritical, &matched), c.position);
        EXPECT_EQ(matched, c.matched);
    }
}

TEST_F(VCollatorTest, ReversedFindGivesTheLastOverlappingHit) {
    u16string text = u"aaaa";
    int32 matched = 0;
    EXPECT_EQ(fCollator->ReversedFindString(text.data(), 4, u"aa", 2, true, &matched), 3);
    EXPECT_EQ(matched, 2);
    EXPECT_EQ(fCollator->ReversedFindString(text.data(), 4, u"b", 1, true, &matched), 0);
    EXPECT_EQ(matched, 0);
}

TEST_F(VCollatorTest, BeginsAndEndsWith) {
    int32 matched = -1;
    EXPECT_TRUE(fCollator->BeginsWithString(u"abc", 3, u"", 0, false, &matched));
    EXPECT_EQ(matched, 0);
    EXPECT_TRUE(fCollator->BeginsWithString(u"abc", 3, u"AB", 2, false, &matched));
    EXPECT_EQ(matched, 2);
    EXPECT_FALSE(fCollator->BeginsWithString(u"abc", 3, u"bc", 2, false, &matched));

    EXPECT_TRUE(fCollator->EndsWithString(u"abcbc", 5, u"bc", 2, true, &matched));
    EXPECT_EQ(matched, 2);
    EXPECT_FALSE(fCollator->EndsWithString(u"abcbd", 5, u"bc", 2, true, &matched));
    EXPECT_EQ(matched, 0);
    EXPECT_TRUE(fCollator->EndsWithString(u"abc", 3, u"", 0, true, &matched));
    EXPECT_EQ(matched, 0);
}

TEST_F(VCollatorTest, LikeWithWildcardsAnywhere) {
    fCollator->SetWildChar(u'*');
    struct Case {
        u16string pattern;
        CompareResult expected;
    } cases[] = {
        {u"a*c", CR_EQUAL}, {u"*", CR_EQUAL},      {u"a*", CR_EQUAL},    {u"*b*", CR_EQUAL},
        {u"**c", CR_EQUAL}, {u"*ab", CR_SMALLER},  {u"*x*", CR_SMALLER}, {u"A*C", CR_EQUAL},
        {u"abc", CR_EQUAL}, {u"abcd", CR_SMALLER}, {u"", CR_BIGGER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Like(u"abc", c.pattern), c.expected) << std::string(c.pattern.begin(), c.pattern.end());
    }
    EXPECT_NE(Like(u"abc", u"b*"), CR_EQUAL);
    EXPECT_NE(Like(u"abc", u"A*C", true), CR_EQUAL);
    // The last segment must end the text, even when it also occurs earlier.
    EXPECT_EQ(Like(u"abcabc", u"*bc"), CR_EQUAL);
    EXPECT_EQ(Like(u"abcabd", u"*bc"), CR_SMALLER);
}

TEST_F(VCollatorTest, LikeWithWildcardsOnlyAtTheEnds) {
    fCollator->SetWildChar(u'*');
    fCollator->SetOptions(2);
    EXPECT_NE(Like(u"abc", u"a*c"), CR_EQUAL); // compared literally
    EXPECT_EQ(Like(u"a*c", u"a*c"), CR_EQUAL);
    struct Case {
        u16string pattern;
        CompareResult expected;
    } cases[] = {
        {u"*bc", CR_EQUAL},   {u"*b*", CR_EQUAL}, {u"*", CR_EQUAL},        {u"**", CR_EQUAL},   {u"ab*", CR_EQUAL},
        {u"*x*", CR_SMALLER}, {u"*x", CR_BIGGER}, {u"*abcdx", CR_SMALLER}, {u"x*", CR_SMALLER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Like(u"abc", c.pattern), c.expected) << std::string(c.pattern.begin(), c.pattern.end());
    }
}

TEST_F(VCollatorTest, DefaultWildcardIsAtSignAndResetRestoresIt) {
    EXPECT_EQ(fCollator->GetWildChar(), u'@');
    EXPECT_EQ(Like(u"abc", u"a@"), CR_EQUAL);
    fCollator->SetWildChar(u'*');
    EXPECT_NE(Like(u"abc", u"a@"), CR_EQUAL);
    fCollator->Reset();
    EXPECT_EQ(Like(u"abc", u"a@"), CR_EQUAL);
}

TEST_F(VCollatorTest, EqualLikeWalksAsciiThenHandsOver) {
    fCollator->SetWildChar(u'*');
    struct Case {
        u16string text, pattern;
        bool diacritical, expected;
    } cases[] = {
        {u"Hello", u"hELLO", false, true},
        {u"Hello", u"hELLO", true, false},
        {u"a\x01"
         u"b\x7F",
         u"ab", false, true}, // control units are passed over in both texts
        {u"abc", u"ab", false, false},
        {u"ab", u"abc", false, false},
        {u"abcdef", u"ABC*", false, true},
        {u"abc\u00E9", u"ABC\u00C9", false, true},
        {u"abc\u00E9", u"ABC\u00C9", true, false},
        {u"x^y", u"x^Y", false, true},
        {u"", u"", false, true},
        {u"", u"*", false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EqualLike(c.text, c.pattern, c.diacritical), c.expected)
            << std::string(c.text.begin(), c.text.end()) << " / " << std::string(c.pattern.begin(), c.pattern.end());
    }
}

TEST_F(VCollatorTest, EqualLikeAgreesWithTheLikeComparison) {
    fCollator->SetWildChar(u'*');
    const u16string texts[] = {u"abc", u"ABC", u"\u00E9t\u00E9", u"a*c", u"", u"abcabc", u"axb"};
    const u16string patterns[] = {u"a*", u"*c", u"*B*", u"\u00C9T\u00C9", u"abc", u"*", u"a*b*c", u"", u"a*b"};
    for (uint8 options : {uint8(1), uint8(2)}) {
        fCollator->SetOptions(options);
        for (const u16string& text : texts) {
            for (const u16string& pattern : patterns) {
                for (bool diacritical : {false, true}) {
                    EXPECT_EQ(EqualLike(text, pattern, diacritical), Like(text, pattern, diacritical) == CR_EQUAL);
                }
            }
        }
    }
}

} // namespace
} // namespace vela
