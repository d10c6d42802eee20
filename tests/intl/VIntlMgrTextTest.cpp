#include "intl/VIntlMgr.h"

#include "core/VString.h"
#include "intl/VCollator.h"
#include "support/StTimeZone.h"
#include "values/VCompareOptions.h"
#include "values/VDuration.h"
#include "values/VTime.h"

#include <gtest/gtest.h>
#include <unicode/udat.h>

#include <latch>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vela {
namespace {

using Ranges = std::vector<std::pair<int32, int32>>;

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

VRefPtr<VIntlMgr> Manager(uint32 dialect) {
    return VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(dialect, dialect, 1));
}

VTime UTCTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second = 0) {
    VTime time;
    time.FromUTCTime(year, month, day, hour, minute, second, 0);
    return time;
}

// What ICU itself writes for the instant (ms since 1970) in the locale, with the styles, in UTC.
std::u16string ICUFormat(const char* locale, UDateFormatStyle date, UDateFormatStyle time, double ms) {
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(time, date, locale, u"UTC", 3, nullptr, 0, &status);
    EXPECT_TRUE(U_SUCCESS(status));
    UChar text[256];
    int32 length = udat_format(format, ms, text, 256, nullptr, &status);
    udat_close(format);
    return U_SUCCESS(status) ? std::u16string(text, size_t(length)) : std::u16string();
}

TEST(VIntlMgrText, CaseMappingGrowsAsMuchAsItNeeds) {
    VRefPtr<VIntlMgr> manager = Manager(1031);
    struct Case {
        std::u16string text;
        int32 repeat;
        std::u16string expected;
    } cases[] = {
        {u"stra\u00DFe", 1, u"STRASSE"},
        {u"\uFB03", 200, u"FFI"},                // a short text whose upper case is three times as long
        {u"\u0390", 100, u"\u0399\u0308\u0301"}, // one code point to three
        {u"\u00DF", 700, u"SS"},                 // beyond the buffer on the stack
    };
    for (const Case& c : cases) {
        VString text, expected;
        for (int32 i = 0; i < c.repeat; ++i) {
            text.AppendUniChars(c.text.data(), int32(c.text.size()));
            expected.AppendUniChars(c.expected.data(), int32(c.expected.size()));
        }
        manager->ToUpperLowerCase(text, false, true);
        EXPECT_EQ(Units(text), Units(expected)) << c.repeat;
    }
    VString lower(u"\u0130STANBUL"); // the root locale: a dotted capital I lowers to i and a combining dot
    manager->ToUpperLowerCase(lower, false, false);
    EXPECT_EQ(Units(lower), u"i\u0307stanbul");
}

TEST(VIntlMgrText, CharacterClassesFollowFixedTables) {
    const VIntlMgr* manager = VIntlMgr::GetDefault();
    struct Case {
        UniChar c;
        bool alpha, digit, space, punctuation;
    } cases[] = {
        {u'A', true, false, false, false},      {u'\uFF21', true, false, false, false},
        {u'\u4E00', true, false, false, false}, {u'\u4E01', false, false, false, false}, // only the block's ends
        {u'\uD7A3', true, false, false, false}, {u'\u00BD', false, true, false, false},
        {u'\u0661', false, true, false, false}, {u'\u200B', false, false, true, false},
        {u'\u00A0', false, false, true, false}, {u'\u1680', false, false, false, false},
        {u'\t', false, false, false, false},    {u',', false, false, false, true},
        {u'\u3001', false, false, false, true}, {u'$', false, false, false, false},
        {u'\u1F4D', true, false, false, false}, {u'\u1F4E', false, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(manager->IsAlpha(c.c), c.alpha) << std::hex << int(c.c);
        EXPECT_EQ(manager->IsDigit(c.c), c.digit) << std::hex << int(c.c);
        EXPECT_EQ(manager->IsSpace(c.c), c.space) << std::hex << int(c.c);
        EXPECT_EQ(manager->IsPunctuation(c.c), c.punctuation) << std::hex << int(c.c);
    }
    EXPECT_EQ(VIntlMgr::CharDigitValue(u'7'), 7);
    EXPECT_EQ(VIntlMgr::CharDigitValue(u'\u0661'), -1);
}

TEST(VIntlMgrText, WordBoundaries) {
    const VIntlMgr* manager = VIntlMgr::GetDefault();
    struct Case {
        std::u16string text;
        Ranges words;
    } cases[] = {
        {u"ab, c1", {{1, 2}, {5, 2}}},
        {u"", {}},
        {u"  leading and trailing  ", {{3, 7}, {11, 3}, {15, 8}}},
        {u"x.y", {{1, 1}, {3, 1}}},
        {u"caf\u00E9 noir", {{1, 4}, {6, 4}}},
        // A combining mark ends a word (decomposed text, as paths are): the tables hold no marks.
        {u"cafe\u0301 noir", {{1, 4}, {7, 4}}},
        {u"\u4E00\u4E01", {{1, 1}}},
    };
    for (const Case& c : cases) {
        Ranges words{{9, 9}};
        EXPECT_TRUE(manager->GetWordBoundariesWithOptions(VString(c.text.c_str()), words, 1));
        EXPECT_EQ(words, c.words) << std::string(c.text.begin(), c.text.end());
    }
    Ranges words{{9, 9}};
    EXPECT_FALSE(manager->GetWordBoundariesWithOptions(VString(u"ab"), words, 0));
    EXPECT_TRUE(words.empty());
}

TEST(VIntlMgrText, WordHelpers) {
    struct Split {
        std::u16string text;
        int32 start, length;
        bool withDots;
        Ranges pieces;
    } splits[] = {
        {u"a.bc..d", 1, 7, false, {{1, 1}, {3, 2}, {7, 1}}},
        {u"a.bc..d", 1, 7, true, {{1, 1}, {2, 1}, {3, 2}, {5, 1}, {6, 1}, {7, 1}}},
        {u"xx.y.zz", 3, 4, true, {{3, 1}, {4, 1}, {5, 1}, {6, 1}}},
        {u"abc", 2, 50, false, {{2, 2}}}, // a range past the end reads what is there
        {u"", 1, 3, true, {}},
    };
    for (const Split& c : splits) {
        Ranges pieces;
        VIntlMgr::SplitWordRangeOnDot(VString(c.text.c_str()), c.start, c.length, pieces, c.withDots);
        EXPECT_EQ(pieces, c.pieces) << std::string(c.text.begin(), c.text.end());
    }

    struct Elision {
        std::u16string text;
        int32 start, length;
        bool expected;
    } elisions[] = {
        {u"l'arbre", 1, 7, true},  {u"d\u2019Hote", 1, 6, true}, {u"l'rbre", 1, 6, false}, {u"l'a", 1, 3, false},
        {u"xl'homme", 2, 7, true}, {u"lxarbre", 1, 7, false},    {u"l'", 1, 4, false}, // a length past the text finds
                                                                                       // no third character
    };
    for (const Elision& c : elisions) {
        EXPECT_EQ(VIntlMgr::HasApostropheSecondFollowedByVowel(VString(c.text.c_str()), c.start, c.length), c.expected)
            << std::string(c.text.begin(), c.text.end());
    }

    struct MacByte {
        uint8 c, kind;
        bool expected;
    } bytes[] = {{9, 0, true},    {10, 0, false},  {127, 0, false}, {0xE0, 0, true}, {0x85, 1, true},
                 {'7', 1, true},  {'7', 2, false}, {0xAE, 2, true}, {'_', 3, true},  {0x85, 3, false},
                 {'7', 4, false}, {'z', 4, true},  {'5', 5, true},  {'a', 5, false}, {'a', 6, false}};
    for (const MacByte& c : bytes)
        EXPECT_EQ(VIntlMgr::IsAMacCharacter(c.c, c.kind), c.expected) << int(c.c) << " kind " << int(c.kind);
}

TEST(VIntlMgrText, FindWordMatchesWholeWordsOnly) {
    VRefPtr<VIntlMgr> manager = Manager(1033);
    struct Case {
        std::u16string text, word;
        bool like, diacritical, found;
    } cases[] = {
        {u"the cat sat", u"cat", false, false, true},
        {u"concatenate", u"cat", false, false, false},
        {u"acat bcat cat", u"CAT", false, false, true}, // after hits inside words, the whole one
        {u"catcat cat", u"cat", false, false, true},
        {u"la f\u00EAte", u"FETE", false, false, true},
        {u"la f\u00EAte", u"fete", false, true, false},
        {u"the caterpillar", u"cat@", true, false, true},
        {u"the caterpillar", u"@pill", true, false, false},
        {u"the cat@", u"cat@", false, false, true}, // not asked for LIKE: the wildcard is a character
        {u"", u"cat", false, false, false},
        {u"cat", u"", false, false, false},
    };
    for (const Case& c : cases) {
        VCompareOptions options;
        options.SetLike(c.like);
        options.SetDiacritical(c.diacritical);
        EXPECT_EQ(manager->FindWord(VString(c.text.c_str()), VString(c.word.c_str()), options), c.found)
            << std::string(c.text.begin(), c.text.end()) << " / " << std::string(c.word.begin(), c.word.end());
    }
}

TEST(VIntlMgrText, FindStringsKeepsTheHitsTheModeLetsThrough) {
    VRefPtr<VIntlMgr> manager = Manager(1033);
    const VString text(u"cat concat cats Cat");
    struct Case {
        EFindStringMode mode;
        bool all;
        Ranges hits;
    } cases[] = {
        {eFindAnyMode, true, {{1, 3}, {8, 3}, {12, 3}, {17, 3}}},
        {eFindContains, true, {{1, 3}, {8, 3}, {12, 3}, {17, 3}}},
        {eFindWholeWord, true, {{1, 3}, {17, 3}}},
        {eFindStartsWord, true, {{1, 3}, {12, 3}, {17, 3}}},
        {eFindEndsWord, true, {{1, 3}, {8, 3}, {17, 3}}},
        {eFindStartsWord, false, {{1, 3}}},
    };
    for (const Case& c : cases) {
        Ranges hits{{9, 9}};
        manager->FindStrings(text, VString(u"cat"), c.mode, false, hits, c.all);
        EXPECT_EQ(hits, c.hits) << int(c.mode) << " " << c.all;
    }
    Ranges hits{{9, 9}};
    manager->FindStrings(text, VString(u"cat"), eFindAnyMode, true, hits, true); // case counts
    EXPECT_EQ(hits, (Ranges{{1, 3}, {8, 3}, {12, 3}}));
    manager->FindStrings(text, VString(), eFindAnyMode, false, hits, true);
    EXPECT_TRUE(hits.empty());
}

TEST(VIntlMgrText, FindStringsLooksAtEachWordOnce) {
#ifndef VELA_TEST_SEAMS
    GTEST_SKIP() << "needs the word count seam (VELA_TEST_SEAMS)";
#endif
    // One-letter words, each a hit: the work must follow the text, not hits times words.
    constexpr int32 kWords = 3000;
    std::u16string units;
    for (int32 i = 0; i < kWords; ++i)
        units += u"a ";
    const VString text(units.c_str());
    VRefPtr<VIntlMgr> manager = Manager(1033);
    for (EFindStringMode mode : {eFindContains, eFindWholeWord, eFindStartsWord, eFindEndsWord}) {
        SCOPED_TRACE(int(mode));
        Ranges hits;
        const int64 before = VIntlMgr::sFindStringsWordReads.load();
        manager->FindStrings(text, VString(u"a"), mode, false, hits, true);
        const int64 reads = VIntlMgr::sFindStringsWordReads.load() - before;
        EXPECT_EQ(hits.size(), size_t(kWords));
        EXPECT_LE(reads, 2 * kWords);
    }
}

TEST(VIntlMgrText, BidiIsOneRunInLogicalOrder) {
    const VIntlMgr* manager = VIntlMgr::GetDefault();
    struct Case {
        std::u16string text;
        int32 baseLevel;
        bool ignoreTrailingCR;
        uint32 length, level;
    } cases[] = {{u"abc\r", 1, true, 3, 1}, {u"abc\r", 2, false, 4, 0}, {u"\r", 3, true, 0, 1}, {u"", 0, true, 0, 0}};
    for (const Case& c : cases) {
        std::vector<VBidiRun> runs(2);
        std::vector<int32> visual{5, 6};
        manager->GetBidiRuns(c.text.data(), int32(c.text.size()), runs, visual, c.baseLevel, c.ignoreTrailingCR);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].fLogicalStart, 0u);
        EXPECT_EQ(runs[0].fVisualStart, 0u);
        EXPECT_EQ(runs[0].fLength, c.length);
        EXPECT_EQ(runs[0].fEmbeddingLevel, c.level);
        EXPECT_EQ(visual, std::vector<int32>{0});
    }
    VString empty, cr(u"\r"), letter(u"a");
    EXPECT_TRUE(manager->TextLogicalToVisual(empty, 0));
    EXPECT_TRUE(manager->TextLogicalToVisual(cr, 0));
    EXPECT_FALSE(manager->TextLogicalToVisual(letter, 0));
    EXPECT_EQ(Units(letter), u"a");
}

TEST(VIntlMgrText, PatternFormatting) {
    VRefPtr<VIntlMgr> manager = Manager(1033);
    VString wednesday, march;
    manager->GetWeekDayName(3, false, wednesday);
    ASSERT_GT(wednesday.GetLength(), 0);
    manager->GetMonthName(3, false, march);
    ASSERT_GT(march.GetLength(), 0);
    const VString mars(u"mars");
    struct Case {
        VTime time;
        std::u16string pattern;
        const VString* monthName;
        std::u16string expected;
    } cases[] = {
        {UTCTime(2024, 3, 5, 7, 9), u"yyyy-MM-dd HH:mm", nullptr, u"2024-03-05 07:09"},
        {UTCTime(2024, 3, 5, 7, 9), u"y", nullptr, u"2024"},
        {UTCTime(2024, 3, 5, 7, 9), u"yyyyyy", nullptr, u"002024"},
        {UTCTime(2024, 3, 5, 0, 30), u"h a", nullptr, u"12 AM"},
        {UTCTime(2024, 3, 5, 0, 30), u"k", nullptr, u"24"},
        {UTCTime(2024, 3, 5, 13, 30), u"K:mm a", nullptr, u"1:30 PM"},
        {UTCTime(2024, 3, 5, 7, 0), u"GGGG", nullptr, u"Anno Domini"},
        {UTCTime(2024, 3, 5, 7, 0), u"'at' HH", nullptr, u"'AMt' 07"}, // quotes are copied, "a" is a field
        {UTCTime(2024, 3, 6, 7, 0), u"EEEEE", nullptr, Units(wednesday).substr(0, 1)},
        {UTCTime(2024, 3, 6, 7, 0), u"EEEE", nullptr, Units(wednesday)},
        {UTCTime(2024, 3, 6, 7, 0), u"MMMM", nullptr, Units(march)},
        {UTCTime(2024, 3, 6, 7, 0), u"MMMM d", &mars, u"mars 6"},
        {UTCTime(2024, 3, 6, 7, 0), u"D DDD", nullptr, u"66 066"},
        {UTCTime(2024, 3, 6, 7, 0), u"dddd", nullptr, u"0606"}, // a run longer than the field's is two runs
        {UTCTime(2024, 3, 6, 7, 0), u"[x] zZ", nullptr, u"[x] "},
        {UTCTime(2024, 3, 6, 7, 0), u"", nullptr, u""},
    };
    for (const Case& c : cases) {
        VString out(u"stale");
        manager->FormatDateTimeWithPattern(c.time, VString(c.pattern.c_str()), true, c.monthName, out);
        EXPECT_EQ(Units(out), c.expected) << std::string(c.pattern.begin(), c.pattern.end());
    }
    // No custom formats on this platform: the output is only cleared.
    VString custom(u"stale");
    EXPECT_EQ(manager->CustomFormatTime(cases[0].time, true, VString(u"any"), custom), VE_OK);
    EXPECT_EQ(Units(custom), u"");
    VString name(u"stale");
    manager->GetMonthName(13, false, name);
    EXPECT_EQ(Units(name), u"");
    name = VString(u"stale");
    manager->GetWeekDayName(7, true, name);
    EXPECT_EQ(Units(name), u"");
}

TEST(VIntlMgrText, LocaleVariablesPerDialect) {
    struct Case {
        uint32 dialect;
        std::u16string decimal, dateSeparator, timeSeparator;
        uint32 dateOrder;
        bool usesAmPm;
    } cases[] = {
        {1033, u".", u"/", u":", 0, true},
        {1036, u",", u"/", u":", 1, false},
        {1031, u",", u".", u":", 1, false},
        {1041, u".", u"/", u":", 2, false},
        // Korean times begin with the day period ("a h:mm"): the first character that is no letter is a space.
        {1042, u".", u".", u" ", 2, true},
    };
    for (const Case& c : cases) {
        VRefPtr<VIntlMgr> manager = Manager(c.dialect);
        EXPECT_EQ(Units(manager->GetDecimalSeparator()), c.decimal) << c.dialect;
        EXPECT_EQ(Units(manager->GetDateSeparator()), c.dateSeparator) << c.dialect;
        EXPECT_EQ(Units(manager->GetTimeSeparator()), c.timeSeparator) << c.dialect;
        EXPECT_EQ(manager->GetDateOrder(), c.dateOrder) << c.dialect;
        EXPECT_EQ(manager->UseAmPm(), c.usesAmPm) << c.dialect;
        EXPECT_GT(manager->GetDatePattern(0).GetLength(), 0) << c.dialect;
        EXPECT_GT(manager->GetTimePattern(3).GetLength(), 0) << c.dialect;
        EXPECT_GT(manager->GetCurrencySymbol().GetLength(), 0) << c.dialect;
    }
    VRefPtr<VIntlMgr> english = Manager(1033);
    EXPECT_EQ(Units(english->GetAMString()), u"AM");
    EXPECT_EQ(Units(english->GetCurrencySymbol()), u"$");
    EXPECT_EQ(Units(english->GetThousandsSeparator()), u",");
}

TEST(VIntlMgrText, DatesAndTimesInTheDialectsStyles) {
    const VTime time = UTCTime(2024, 3, 5, 17, 9, 30);
    const double ms = 1709658570000.0;
    struct Case {
        uint32 dialect;
        const char* locale;
    } cases[] = {{1033, "en_US"}, {1036, "fr_FR"}, {1041, "ja_JP"}, {1042, "ko"}};
    for (const Case& c : cases) {
        VRefPtr<VIntlMgr> manager = Manager(c.dialect);
        VString out;
        manager->FormatDate(time, out, eOS_SHORT_FORMAT, true);
        EXPECT_EQ(Units(out), ICUFormat(c.locale, UDAT_SHORT, UDAT_NONE, ms)) << c.locale;
        manager->FormatDate(time, out, eOS_LONG_FORMAT, true); // the long date is the full style
        EXPECT_EQ(Units(out), ICUFormat(c.locale, UDAT_FULL, UDAT_NONE, ms)) << c.locale;
        manager->FormatTime(time, out, eOS_MEDIUM_FORMAT, true);
        EXPECT_EQ(Units(out), ICUFormat(c.locale, UDAT_NONE, UDAT_MEDIUM, ms)) << c.locale;
        VString untouched(u"kept");
        manager->FormatTime(time, untouched, EOSFormats(9), true);
        EXPECT_EQ(Units(untouched), u"kept");
    }
}

TEST(VIntlMgrText, DurationsAreFormattedInGMTWhateverTheLocalZone) {
    VRefPtr<VIntlMgr> manager = Manager(1033);
    test::StTimeZone paris("Europe/Paris");
    VString duration, reference;
    manager->FormatDuration(VDuration(3600 * 1000 + 2 * 60 * 1000), duration, eOS_SHORT_FORMAT);
    manager->FormatTime(UTCTime(1970, 1, 1, 1, 2), reference, eOS_SHORT_FORMAT, true);
    EXPECT_EQ(Units(duration), Units(reference)); // 1:02, not 2:02
    EXPECT_EQ(Units(duration), ICUFormat("en_US", UDAT_NONE, UDAT_SHORT, 3720000.0));
}

// The locale variables of a manager, as one text, so that two managers' can be compared at once.
std::u16string VariablesOf(const VIntlMgr& manager) {
    std::u16string all;
    auto add = [&all](const VString& text) {
        all += Units(text);
        all += u'|';
    };
    add(manager.GetDecimalSeparator());
    add(manager.GetThousandsSeparator());
    add(manager.GetDateSeparator());
    add(manager.GetTimeSeparator());
    add(manager.GetCurrencySymbol());
    add(manager.GetAMString());
    add(manager.GetPMString());
    all += manager.UseAmPm() ? u"ampm|" : u"24h|";
    all += char16_t(u'0' + manager.GetDateOrder());
    for (int32 style = 0; style < 4; ++style) {
        add(manager.GetDatePattern(style));
        add(manager.GetTimePattern(style));
    }
    for (int32 month = 1; month <= 12; ++month) {
        VString name, shortName;
        manager.GetMonthName(month, false, name);
        manager.GetMonthName(month, true, shortName);
        add(name);
        add(shortName);
    }
    for (int32 day = 0; day < 7; ++day) {
        VString name;
        manager.GetWeekDayName(day, false, name);
        add(name);
    }
    return all;
}

// The locale variables are filled on their first use: threads that use a new manager for the first time
// together, and clones made before and during that first use, all see what a manager used on one thread sees.
TEST(VIntlMgrConcurrency, FirstUseFromSeveralThreadsSeesOneSetOfVariables) {
    const std::u16string expected = VariablesOf(*Manager(1036));
    ASSERT_NE(expected.find(u"janvier"), std::u16string::npos);
    for (int round = 0; round < 3; ++round) {
        VRefPtr<VIntlMgr> manager = Manager(1036);
        VRefPtr<VIntlMgr> cloneBefore = VRefPtr<VIntlMgr>::Adopt(manager->Clone());
        constexpr int kThreads = 4;
        std::latch start(kThreads + 1);
        std::vector<std::u16string> seen(kThreads);
        std::vector<std::thread> readers;
        for (int t = 0; t < kThreads; ++t) {
            readers.emplace_back([&, t] {
                start.arrive_and_wait();
                seen[size_t(t)] = VariablesOf(*manager);
            });
        }
        start.arrive_and_wait();
        VRefPtr<VIntlMgr> cloneDuring = VRefPtr<VIntlMgr>::Adopt(manager->Clone());
        for (std::thread& reader : readers)
            reader.join();
        for (const std::u16string& variables : seen)
            EXPECT_EQ(variables, expected);
        EXPECT_EQ(VariablesOf(*cloneBefore), expected);
        EXPECT_EQ(VariablesOf(*cloneDuring), expected);
        VRefPtr<VIntlMgr> cloneAfter = VRefPtr<VIntlMgr>::Adopt(manager->Clone());
        EXPECT_EQ(VariablesOf(*cloneAfter), expected);
    }
}

TEST(VIntlMgrText, ManagersNotMadeByCreateKeepEmptyVariables) {
    // The base of test fakes has no locale behind it: "." and nothing else, in clones too.
    VIntlMgr fake;
    VRefPtr<VIntlMgr> clone = VRefPtr<VIntlMgr>::Adopt(fake.Clone());
    for (const VIntlMgr* manager : {static_cast<const VIntlMgr*>(&fake), static_cast<const VIntlMgr*>(clone.Get())}) {
        EXPECT_EQ(Units(manager->GetDecimalSeparator()), u".");
        EXPECT_EQ(Units(manager->GetDatePattern(0)), u"");
        VString name(u"stale");
        manager->GetMonthName(1, false, name);
        EXPECT_EQ(Units(name), u"stale"); // no names: left alone
    }
}

} // namespace
} // namespace vela
