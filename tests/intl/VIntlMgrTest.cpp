#include "intl/VIntlMgr.h"

#include "core/VString.h"
#include "intl/VCollator.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace vela {
namespace {

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

VString Repeat(const std::u16string& piece, int count) {
    VString text;
    for (int i = 0; i < count; ++i)
        text.AppendUniChars(piece.data(), int32(piece.size()));
    return text;
}

TEST(VIntlMgr, CurrentIsPerThreadAndFallsBackToTheDefault) {
    VIntlMgr* fallback = VIntlMgr::GetDefault();
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(VIntlMgr::GetCurrent(), fallback);

    VRefPtr<VIntlMgr> mine = VRefPtr<VIntlMgr>::Adopt(new VIntlMgr);
    {
        StCurrentIntlMgr scope(mine.Get());
        EXPECT_EQ(VIntlMgr::GetCurrent(), mine.Get());
        VIntlMgr* seenElsewhere = nullptr;
        std::thread other([&] { seenElsewhere = VIntlMgr::GetCurrent(); });
        other.join();
        EXPECT_EQ(seenElsewhere, fallback);
    }
    EXPECT_EQ(VIntlMgr::GetCurrent(), fallback);
}

TEST(VIntlMgr, ForwardsComparisonsToItsCollator) {
    VRefPtr<VCollator> collator = VRefPtr<VCollator>::Adopt(new VCollator);
    collator->SetWildChar(u'*');
    VRefPtr<VIntlMgr> manager = VRefPtr<VIntlMgr>::Adopt(new VIntlMgr(collator.Get()));
    EXPECT_EQ(manager->GetCollator(), collator.Get());
    EXPECT_EQ(manager->GetWildChar(), u'*');
    EXPECT_EQ(manager->CompareString(u"abc", 3, u"ABD", 3, false), CR_SMALLER);
    EXPECT_TRUE(manager->EqualString(u"abc", 3, u"ABC", 3, false));
    EXPECT_FALSE(manager->EqualString(u"abc", 3, u"ABC", 3, true));
    EXPECT_EQ(manager->CompareString_Like(u"abc", 3, u"a*", 2, false), CR_EQUAL);
    EXPECT_TRUE(manager->EqualString_Like(u"abc", 3, u"*C", 2, false));

    VRefPtr<VIntlMgr> plain = VRefPtr<VIntlMgr>::Adopt(new VIntlMgr);
    EXPECT_EQ(plain->GetWildChar(), VCollator::sDefaultWildChar);
}

TEST(VIntlMgr, DebugConvertStringCopiesOnlyWithinOneSet) {
    const char source[] = "abcdef";
    struct Case {
        int32 sourceBytes;
        int32 room;
        CharSet to;
        bool ok;
        std::string copied; // what the destination holds after
        int32 count;        // ioDestinationBytes after
    } cases[] = {
        {6, 10, VTC_UTF_8, true, "abcdef....", 6},
        {6, 4, VTC_UTF_8, true, "abcd......", 4},
        {-3, 4, VTC_UTF_8, true, "..........", 0},
        {6, 10, VTC_UTF_16, false, "..........", 10}, // another set: nothing copied, the count left
    };
    for (const Case& c : cases) {
        char destination[] = "..........";
        int32 count = c.room;
        EXPECT_EQ(VIntlMgr::DebugConvertString(source, c.sourceBytes, VTC_UTF_8, destination, count, c.to), c.ok);
        EXPECT_EQ(std::string(destination), c.copied);
        EXPECT_EQ(count, c.count);
    }
}

TEST(VIntlMgr, CaseMappingUsesTheRootLocale) {
    struct Case {
        std::u16string text;
        bool upper;
        std::u16string expected;
    } cases[] = {
        {u"stra\u00DFe", true, u"STRASSE"},                                     // grows by one unit
        {u"\u00C0Bi", false, u"\u00E0bi"},    {u"istanbul", true, u"ISTANBUL"}, // no Turkish dotted capital I
        {u"\U00010428", true, u"\U00010400"}, {u"", true, u""},
    };
    const VIntlMgr* manager = VIntlMgr::GetDefault();
    for (const Case& c : cases) {
        VString text(c.text.c_str());
        manager->ToUpperLowerCase(text, false, c.upper);
        EXPECT_EQ(Units(text), c.expected);
    }
}

TEST(VIntlMgr, CaseMappingOfLongTextsEvenWhenTheyMoreThanDouble) {
    const VIntlMgr* manager = VIntlMgr::GetDefault();
    VString sharps = Repeat(u"\u00DF", 600); // beyond the local buffer: twice the length is enough
    manager->ToUpperLowerCase(sharps, false, true);
    EXPECT_EQ(Units(sharps), Units(Repeat(u"SS", 600)));

    // U+0390 upper-cases to three code points: more than a buffer of twice the length holds.
    VString triples = Repeat(u"\u0390", 600);
    manager->ToUpperLowerCase(triples, false, true);
    EXPECT_EQ(Units(triples), Units(Repeat(u"\u0399\u0308\u0301", 600)));

    VString shortTriples = Repeat(u"\u0390", 400); // in the local buffer first, then retried
    manager->ToUpperLowerCase(shortTriples, false, true);
    EXPECT_EQ(shortTriples.GetLength(), 1200);
}

TEST(VIntlMgr, CharacterClasses) {
    const VIntlMgr* manager = VIntlMgr::GetDefault();
    for (UniChar c : {u' ', u'\u00A0', u'\u2003', u'\u3000'})
        EXPECT_TRUE(manager->IsSpace(c)) << int(c);
    for (UniChar c = 1; c <= 0x1F; ++c)
        EXPECT_FALSE(manager->IsSpace(c)) << int(c);
    EXPECT_FALSE(manager->IsSpace(u'a'));

    EXPECT_TRUE(manager->IsDigit(u'7'));
    EXPECT_TRUE(manager->IsDigit(u'\u0663'));
    EXPECT_FALSE(manager->IsDigit(u'x'));
    EXPECT_TRUE(manager->IsAlpha(u'\u00E9'));
    EXPECT_FALSE(manager->IsAlpha(u'1'));

    EXPECT_EQ(Units(manager->GetDecimalSeparator()), u".");
}

} // namespace
} // namespace vela
