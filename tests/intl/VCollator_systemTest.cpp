#include "intl/VCollator_system.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "intl/VIntlMgr.h"
#include "support/CollatorCalls.h"

#include <gtest/gtest.h>
#include <unicode/ucol.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

using std::u16string;

using test::Len;

VRefPtr<VIntlMgr> Manager(uint32 dialect) {
    return VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(dialect, dialect, 1));
}

// A manager of a pinned dialect and its collator: a base of its own, made before the calls are bound to it.
struct PinnedManager {
    VRefPtr<VIntlMgr> fManager = Manager(1033);
    VCollator* fCollator = fManager->GetCollator();
};

class VCollatorSystemTest : public ::testing::Test, protected PinnedManager, protected test::CollatorCalls {
protected:
    VCollatorSystemTest() : CollatorCalls(fCollator) {}
};

TEST_F(VCollatorSystemTest, StrengthsWeighCaseAndAccentsOnlyWhenDiacritical) {
    struct Case {
        u16string a, b;
        bool equalInsensitive, equalSensitive;
    } cases[] = {
        {u"Ecole", u"\u00E9cole", true, false},
        {u"abc", u"ABC", true, false},
        {u"r\u00E9sum\u00E9", u"resume", true, false},
        {u"\uFF41\uFF42\uFF43", u"abc", true, true}, // width never counts
        {u"cafe\u0301", u"caf\u00E9", true, true},   // decomposed and precomposed forms are one text
        {u"co\u00ADop", u"coop", true, true},        // a soft hyphen is ignorable
        {u"stra\u00DFe", u"strasse", true, false},   // a sharp s is a pair of s at the first level only
        {u"a", u"b", false, false},
        {u"", u"\u0001", true, true}, // nothing but an ignorable equals nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Equal(c.a, c.b, false), c.equalInsensitive) << std::string(c.a.begin(), c.a.end());
        EXPECT_EQ(Equal(c.a, c.b, true), c.equalSensitive) << std::string(c.a.begin(), c.a.end());
    }
}

TEST_F(VCollatorSystemTest, OrdersByTheDialectsRules) {
    struct Case {
        uint32 dialect;
        u16string a, b;
        bool diacritical;
        CompareResult expected;
    } cases[] = {
        {1033, u"apple", u"Banana", true, CR_SMALLER}, // letters first, not code units ("B" < "a")
        {1033, u"apple", u"Apple", true, CR_SMALLER},  // then case: lower first
        {1033, u"apple", u"Apple", false, CR_EQUAL},   {1033, u"", u"a", false, CR_SMALLER},
        {1033, u"a", u"", false, CR_BIGGER},           {1033, u"", u"", true, CR_EQUAL},
        {1031, u"\u00F6l", u"zoo", false, CR_SMALLER}, // German: o-umlaut sorts with o
        {1053, u"\u00F6l", u"zoo", false, CR_BIGGER},  // Swedish: after z
        {1034, u"\u00F1u", u"nz", false, CR_BIGGER},   // Spanish: n-tilde is a letter of its own
        {1033, u"\u00F1u", u"nz", false, CR_SMALLER},  // elsewhere an n with an accent
    };
    for (const Case& c : cases) {
        VRefPtr<VIntlMgr> manager = Manager(c.dialect);
        ASSERT_TRUE(manager);
        EXPECT_EQ(manager->CompareString(c.a.data(), Len(c.a), c.b.data(), Len(c.b), c.diacritical), c.expected)
            << c.dialect << " " << std::string(c.a.begin(), c.a.end());
    }
}

TEST_F(VCollatorSystemTest, FindsWithTheCollationsMatchedLengths) {
    struct Case {
        u16string text, pattern;
        bool diacritical;
        int32 position, matched;
    } cases[] = {
        {u"Caf\u00E9 au lait", u"CAFE", false, 1, 4},
        {u"Caf\u00E9 au lait", u"CAFE", true, 0, 0},
        {u"un caf\u00E9", u"caf\u00E9", true, 4, 4},
        {u"un cafe\u0301 noir", u"caf\u00E9", true, 4, 5}, // the decomposed form is five units long
        {u"aXax", u"x", true, 4, 1},                       // the capital is passed over, not matched
        {u"aXax", u"x", false, 2, 1},
        {u"abc", u"", false, 1, 0},
        {u"", u"", false, 0, 0},
        {u"", u"a", false, 0, 0},
        {u"abc", u"d", false, 0, 0},
    };
    for (const Case& c : cases) {
        int32 matched = -1;
        EXPECT_EQ(Find(c.text, c.pattern, c.diacritical, &matched), c.position)
            << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(matched, c.matched) << std::string(c.text.begin(), c.text.end());
    }
}

TEST_F(VCollatorSystemTest, LastHitsBeginsAndEnds) {
    int32 matched = -1;
    EXPECT_EQ(fCollator->ReversedFindString(u"aaaa", 4, u"aa", 2, false, &matched), 3); // overlapping
    EXPECT_EQ(matched, 2);
    EXPECT_EQ(fCollator->ReversedFindString(u"xAxa", 4, u"a", 1, true, &matched), 4);
    EXPECT_EQ(fCollator->ReversedFindString(u"xaxA", 4, u"a", 1, true, &matched), 2);
    EXPECT_EQ(fCollator->ReversedFindString(u"xyz", 3, u"a", 1, false, &matched), 0);
    EXPECT_EQ(matched, 0);

    EXPECT_TRUE(fCollator->EndsWithString(u"abcbc", 5, u"bc", 2, true, &matched));
    EXPECT_EQ(matched, 2);
    EXPECT_TRUE(fCollator->EndsWithString(u"Caf\u00E9", 4, u"FE", 2, false, &matched));
    EXPECT_FALSE(fCollator->EndsWithString(u"abcbcx", 6, u"bc", 2, true, &matched));
    // A tail of the pattern's length decides at once; a tail of another length that collates the same (a
    // decomposed accent) is still found.
    EXPECT_TRUE(fCollator->EndsWithString(u"REPORT.XLF", 10, u".xlf", 4, false, &matched));
    EXPECT_EQ(matched, 4);
    EXPECT_TRUE(fCollator->EndsWithString(u"café", 5, u"é", 1, true, &matched));
    EXPECT_EQ(matched, 2);
    EXPECT_TRUE(fCollator->BeginsWithString(u"\u00C9cole", 5, u"eco", 3, false, &matched));
    EXPECT_EQ(matched, 3);
    EXPECT_FALSE(fCollator->BeginsWithString(u"\u00C9cole", 5, u"eco", 3, true, &matched));
}

TEST_F(VCollatorSystemTest, LikeWithWildcards) {
    fCollator->SetWildChar(u'*');
    struct Case {
        u16string text, pattern;
        uint8 options;
        bool equal;
    } cases[] = {
        {u"abc", u"a*c", 1, true},        {u"abc", u"*", 1, true},   {u"abc", u"a*", 1, true},
        {u"abc", u"*b*", 1, true},        {u"abc", u"b*", 1, false}, {u"abc", u"*ab", 1, false},
        {u"\u00C9cole", u"e*E", 1, true}, // accents and case do not count without the flag
        {u"abc", u"a*c", 2, false},       {u"abc", u"*bc", 2, true}, {u"abc", u"*B*", 2, true},
    };
    for (const Case& c : cases) {
        fCollator->SetOptions(c.options);
        EXPECT_EQ(Like(c.text, c.pattern) == CR_EQUAL, c.equal)
            << std::string(c.pattern.begin(), c.pattern.end()) << " options " << int(c.options);
        EXPECT_EQ(fCollator->EqualString_Like(c.text.data(), Len(c.text), c.pattern.data(), Len(c.pattern), false),
                  c.equal);
    }
    fCollator->SetOptions(1);
    EXPECT_EQ(Like(u"abc", u"*ab"), CR_SMALLER);
    fManager->Reset();
    EXPECT_EQ(fCollator->GetWildChar(), VCollator::sDefaultWildChar);
}

TEST_F(VCollatorSystemTest, PatternsThatASortedIndexCanServe) {
    fCollator->SetWildChar(u'*');
    struct Case {
        u16string pattern;
        bool compatible;
    } cases[] = {{u"", true},
                 {u"ab", true},
                 {u"ab*", true},
                 {u"a*b", false},
                 {u"*ab", false},
                 {u"\u30AB\u30BF*", false},
                 {u"\u30AB\u30BF", true},
                 {u"\uFF76*", false}};
    for (const Case& c : cases)
        EXPECT_EQ(fCollator->IsPatternCompatibleWithDichotomyAndDiacritics(c.pattern.data(), Len(c.pattern)),
                  c.compatible);
}

TEST_F(VCollatorSystemTest, CloneAndSignature) {
    fCollator->SetWildChar(u'%');
    fCollator->SetOptions(3);
    VRefPtr<VCollator> clone = VRefPtr<VCollator>::Adopt(fCollator->Clone());
    EXPECT_EQ(clone->GetWildChar(), u'%');
    EXPECT_EQ(clone->GetOptions(), 3);
    EXPECT_EQ(clone->GetDialect(), 1033u);
    EXPECT_TRUE(clone->EqualString(u"\u00E9", 1, u"E", 1, false));

    // The signature names ICU's collator version, so that an update of the rules shows.
    UErrorCode status = U_ZERO_ERROR;
    UCollator* reference = ucol_open("en_US", &status);
    ASSERT_TRUE(U_SUCCESS(status));
    UVersionInfo version;
    ucol_getVersion(reference, version);
    ucol_close(reference);
    char text[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(version, text);
    VString signature;
    fManager->GetStringComparisonAlgorithmSignature(signature);
    VString expected("icu:");
    expected += VString(text);
    EXPECT_TRUE(signature.EqualToString(expected, true));
    VString keyword;
    fManager->GetKewordAlgorithmSignature(keyword);
    EXPECT_TRUE(keyword.EqualToString(VString("AlphaNum"), true));
}

TEST_F(VCollatorSystemTest, ConcurrentReadersShareOneCollator) {
    // Comparisons and searches only read the collator: threads of one manager get the answers one thread gets.
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                int32 matched = 0;
                if (Find(u"un cafe\u0301 noir", u"CAF\u00C9", false, &matched) != 4 || matched != 5) ++wrong;
                if (Compare(u"\u00E9cole", u"Ecole", true) != CR_BIGGER) ++wrong;
                if (fCollator->ReversedFindString(u"abab", 4, u"B", 1, false, &matched) != 4) ++wrong;
            }
        });
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(VCollatorSystemTest, StringsOfTheCoreFollowTheCurrentDialect) {
    VRefPtr<VIntlMgr> swedish = Manager(1053);
    StCurrentIntlMgr scope(swedish.Get());
    EXPECT_EQ(VString(u"\u00F6l").CompareToString(VString(u"zoo"), false), CR_BIGGER);
    EXPECT_TRUE(VString(u"\u00C9COLE").EqualToString(VString(u"\u00E9cole"), false));
    EXPECT_EQ(VString(u"un caf\u00E9 noir").Find(VString(u"CAFE")), 4);
    EXPECT_TRUE(VString(u"r\u00E9sum\u00E9").EndsWith(VString(u"ME")));
    EXPECT_FALSE(VString(u"r\u00E9sum\u00E9").EndsWith(VString(u"me"), true));
}

} // namespace
} // namespace vela
