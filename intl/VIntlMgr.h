#pragma once

#include "core/CharSet.h"
#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "intl/platform/XPosixIntlMgr.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace vela {

class IFile;
class IFolder;
class VCollator;
class VCompareOptions;
class VDuration;
class VTime;

// Styles of the system's date and time formatters.
enum EOSFormats : int32 {
    eOS_SHORT_FORMAT = 0,
    eOS_MEDIUM_FORMAT = 1,
    eOS_LONG_FORMAT = 2,
};

// Modes of FindStrings: which hits the text's word boundaries let through.
enum EFindStringMode : int32 {
    eFindContains = 1,
    eFindWholeWord = 3,  // neither end strictly inside a word
    eFindAnyMode = 4,    // every hit, without looking at words
    eFindStartsWord = 5, // not starting strictly inside a word
    eFindEndsWord = 6,   // not ending strictly inside a word
};

// One run of a bidirectional layout: its logical start and length, its visual start and embedding level.
class VBidiRun {
public:
    virtual ~VBidiRun() = default;

    uint32 fLogicalStart = 0;
    uint32 fLength = 0;
    uint32 fVisualStart = 0;
    uint32 fEmbeddingLevel = 0;
};

// Dialect codes: the low 10 bits the primary language, the next 6 the sublanguage (1: the language's default form).
constexpr uint32 DC_ENGLISH_US = 1033;
// Where a dialect is expected, 0 and these two stand for the system's dialect; kNoDialect is also what the tag
// parsers leave on failure.
constexpr uint32 kSystemDialect = 0xFFFFFFFF;
constexpr uint32 kNoDialect = 0xFFFFFFFE;

// A manager cannot be made (its dialect has no row, or its collator cannot be had).
constexpr VError VE_INTL_CANNOT_CREATE_MANAGER = MakeLibraryError(305);

// The text services of one dialect: its collator (every locale-aware comparison), the locale variables and
// date/time patterns, case mapping, character classes, words; and the static dialect catalogue.
// Each task has a current manager; strings' locale-aware operations go through it.
class VIntlMgr : public VObject, public IRefCountable {
public:
    // A manager of dialect 1033 around collator (a reference is taken; null makes the code-unit collator), with
    // empty locale variables ("." as decimal separator): the base of test fakes. Create makes the real ones.
    explicit VIntlMgr(VCollator* collator = nullptr);
    ~VIntlMgr() override;

    // A new manager (one reference to release) for dialect, whose collator follows collatorDialect (0 and
    // kSystemDialect: the system's). An unknown dialect falls back to its primary language, then to 1033;
    // Hungarian and Thai collation fall back to English. When the calling thread's current manager has the
    // same dialects and collator options, a clone of it is made with its wildcard reset. Null only after
    // raising VE_INTL_CANNOT_CREATE_MANAGER.
    static VIntlMgr* Create(uint32 dialect, uint32 collatorDialect = 0, uint8 options = 1);
    // A new manager with the same dialect and locale variables and a clone of the collator.
    VIntlMgr* Clone() const;

    // The manager of the calling thread: the one set with SetCurrent, else the process default (never null).
    static VIntlMgr* GetCurrent() noexcept;
    // Makes manager current on the calling thread (null: back to the process default); answers the previous.
    static VIntlMgr* SetCurrent(VIntlMgr* manager) noexcept;
    // The process default, Create(0, 0, 1), made on first use.
    static VIntlMgr* GetDefault() noexcept;

    uint32 GetDialectCode() const noexcept { return fDialect; }
    // For comparing; the wildcard changes through SetWildChar and Reset below, which keep a task's change to it.
    VCollator* GetCollator() const noexcept { return fCollator.Get(); }
    // The ICU locale identifier the dialect's services use ("en_US"; "" for the root locale).
    const std::string& GetLocaleID() const noexcept { return fPlatform.GetLocaleID(); }

    // ---- Collation: forwarded to the collator
    virtual CompareResult CompareString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                        bool diacritical) const;
    virtual bool EqualString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB, bool diacritical) const;
    virtual CompareResult CompareString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern,
                                             int32 patternLength, bool diacritical) const;
    virtual bool EqualString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern, int32 patternLength,
                                  bool diacritical) const;
    // The LIKE comparison when options ask for it, else the plain one, with the options' diacritics flag.
    CompareResult CompareString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                const VCompareOptions& options) const;
    UniChar GetWildChar() const noexcept;
    // Sets the wildcard of LIKE comparisons; Reset restores the default one. Tasks share the process's manager
    // until they change it: called on that manager from a task that shares it, both first give the task a
    // clone of its own (VTask::SetCurrentIntlManager) and change the clone, so that no other task sees it.
    void SetWildChar(UniChar c);
    void Reset();
    // Names the collation rules, so that stored orderings can tell when they change.
    void GetStringComparisonAlgorithmSignature(VString& out) const;
    // "AlphaNum": keywords are runs of letters and digits.
    void GetKewordAlgorithmSignature(VString& out) const;
    // Copies min(sourceBytes, ioDestinationBytes) bytes (a negative count is 0) and sets ioDestinationBytes to
    // that count, when both sets are the same; between different sets it converts nothing, leaves
    // ioDestinationBytes alone and answers false.
    static bool DebugConvertString(const void* source, int32 sourceBytes, CharSet sourceSet, void* destination,
                                   int32& ioDestinationBytes, CharSet destinationSet);

    // ---- Case and character classes
    // Replaces text by its upper-case (upper true) or lower-case form in the root locale, however much it grows
    // ("ß" gives "SS", U+FB03 three letters); on failure the text stays.
    virtual void ToUpperLowerCase(VString& text, bool stripDiacritics, bool upper) const;
    // Fixed tables, the same for every dialect: white space is U+0020, U+00A0, U+2000-U+200B and U+3000.
    virtual bool IsSpace(UniChar c, bool = false) const;
    virtual bool IsDigit(UniChar c) const;
    virtual bool IsAlpha(UniChar c) const;
    bool IsPunctuation(UniChar c) const;
    // 0 to 9 for ASCII digits, else -1.
    static int32 CharDigitValue(UniChar c) noexcept;
    // Classifies a Mac Roman byte: kind 0 printable (tab and CR too), 1 identifier character (high letters,
    // digits, letters, "_"), 2 as 1 without digits, 3 ASCII identifier character, 4 as 3 without digits, 5 ASCII
    // digit; any other kind is false.
    static bool IsAMacCharacter(uint8 c, uint8 kind) noexcept;

    // ---- Words
    // The (1-based start, length) of each word of text: runs of letters and digits between separators. With
    // bit 1 clear in options nothing is found (false).
    bool GetWordBoundariesWithOptions(const VString& text, std::vector<std::pair<int32, int32>>& words,
                                      uint32 options) const;
    // Whether word occurs in text as a whole word (a LIKE pattern matched against each word when options ask
    // for LIKE matching and word holds the wildcard).
    bool FindWord(const VString& text, const VString& word, const VCompareOptions& options) const;
    // The (1-based position, matched length) of the hits of pattern in text that mode lets through (all, or
    // the first only).
    void FindStrings(const VString& text, const VString& pattern, EFindStringMode mode, bool diacritical,
                     std::vector<std::pair<int32, int32>>& hits, bool all) const;
    // Test builds only (VELA_TEST_SEAMS): the words FindStrings has looked at, all managers together.
    static std::atomic<int64> sFindStringsWordReads;

    // The (1-based start, length) of the non-empty pieces of the range (1-based start, length) of text between
    // its dots, appended in order; withDots appends each dot as (position, 1) after the piece before it.
    static void SplitWordRangeOnDot(const VString& text, int32 start, int32 length,
                                    std::vector<std::pair<int32, int32>>& pieces, bool withDots);
    // Whether the range (1-based start, length at least 4) is an elision such as "l'arbre": an apostrophe
    // (U+0027 or U+2019) second, then a vowel, "h" or "y" (any case).
    static bool HasApostropheSecondFollowedByVowel(const VString& text, int32 start, int32 length);

    // ---- Bidirectional text: one run in logical order
    // Clears both vectors, then gives one run over the whole text (less a final CR when ignoreTrailingCR) at
    // level baseLevel AND 1, and the single entry 0 in visualToLogical.
    void GetBidiRuns(const UniChar* text, int32 length, std::vector<VBidiRun>& runs,
                     std::vector<int32>& visualToLogical, int32 baseLevel, bool ignoreTrailingCR) const;
    // Leaves text as it is; true only for an empty text or a lone CR, the texts whose visual order is sure.
    bool TextLogicalToVisual(VString& text, int32 baseLevel) const;

    // ---- Locale variables, computed on first use (from any thread) and kept for the manager's life
    virtual const VString& GetDecimalSeparator() const;
    const VString& GetThousandsSeparator() const { return _Variables().thousandsSeparator; }
    const VString& GetDateSeparator() const { return _Variables().dateSeparator; }
    const VString& GetTimeSeparator() const { return _Variables().timeSeparator; }
    const VString& GetCurrencySymbol() const { return _Variables().currencySymbol; }
    const VString& GetAMString() const { return _Variables().amSymbol; }
    const VString& GetPMString() const { return _Variables().pmSymbol; }
    bool UseAmPm() const { return _Variables().usesAmPm; }
    // 0 Mdy, 1 dMy, 2 yMd, 3 Myd, 4 dyM, 5 ydM: the order of the short date's fields.
    uint32 GetDateOrder() const { return _Variables().dateOrder; }
    // The system pattern of the style (short, medium, long; full is 3).
    const VString& GetDatePattern(int32 style) const;
    const VString& GetTimePattern(int32 style) const;

    // ---- Dates and times
    // The date alone (short, medium or full style) or the time of day alone (short, medium or long style) of
    // time, by the dialect's formatter; utc formats UTC, otherwise local time (the offset in force at that
    // instant). Milliseconds are not shown. Another format leaves out untouched.
    virtual void FormatDate(const VTime& time, VString& out, EOSFormats format, bool utc) const;
    virtual void FormatTime(const VTime& time, VString& out, EOSFormats format, bool utc) const;
    // The hours, minutes and seconds of duration as a time of day in the style of FormatTime (days dropped),
    // in GMT whatever the local zone; out is cleared first.
    virtual void FormatDuration(const VDuration& duration, VString& out, EOSFormats format) const;
    // Formats time by a pattern of field letters ("yyyy-MM-dd HH:mm"); monthName, when given, stands for the
    // month's name. Letters outside the known fields and other characters are copied; quotes are not special.
    void FormatDateTimeWithPattern(const VTime& time, const VString& pattern, bool utc, const VString* monthName,
                                   VString& out) const;
    // The custom format named by format; this platform has none, so out is only cleared. VE_OK.
    VError CustomFormatTime(const VTime& time, bool utc, const VString& format, VString& out) const;
    // Month 1 to 12, week day 0 (the first the calendar gives, Sunday) to 6; out out of range is cleared.
    void GetMonthName(int32 month, bool abbreviated, VString& out) const;
    void GetWeekDayName(int32 day, bool abbreviated, VString& out) const;

    // ---- Dialect catalogue
    // 0, kSystemDialect and kNoDialect give the system's dialect (resolved once from the preferred languages,
    // 1033 when none parses); any other code is returned as it is.
    static uint32 ResolveDialectCode(uint32 dialect);
    static bool IsDialectCode(uint32 dialect) noexcept;
    // The columns of the dialect's first row; the strings are cleared first and left empty without a row. The
    // booleans tell whether the result is not empty.
    static const char* GetISO6391LanguageCode(uint32 dialect) noexcept;
    static bool GetISO6391LanguageCode(uint32 dialect, VString& out);
    static bool GetISO6392LanguageCode(uint32 dialect, VString& out);
    static bool GetISOLanguageName(uint32 dialect, VString& out);
    static const char* GetISO3166RegionCode(uint32 dialect) noexcept;
    static bool GetISO3166RegionCode(uint32 dialect, VString& out);
    static bool GetRFC3066BisSubTagRegionCode(uint32 dialect, VString& out);
    // Language "-" region ("en-US", "zh-TW"), or the language alone.
    static bool GetBCP47LanguageCode(uint32 dialect, VString& out);
    // Language, separator, subtag ("en-gb", "zh_Hans"), or the language alone.
    static bool GetRFC3066BisLanguageCodeWithDialectCode(uint32 dialect, VString& out, char separator = '-');
    // Every row's code in table order, duplicates included (appended).
    static void GetAllDialects(std::vector<uint32>& dialects);
    // For every row: (language of the code's first row, code) (appended).
    static void GetDialectsHavingCollator(std::vector<std::pair<VString, uint32>>& dialects);
    static bool IsRightToLeftDialect(uint32 dialect);
    // The script family (0 Latin, 1 Japanese, 2 traditional and 3 simplified Chinese, 4 Korean, ... 16
    // Turkish); 0xFFFFFFFF for another dialect.
    static uint32 DialectCodeToScriptCode(uint32 dialect) noexcept;

    // A language tag ("en-US", "en_US", "zh-Hans", "fr") to a dialect: true with dialect set, else false with
    // kNoDialect. fallbackToLanguage: an unknown subtag gives the language's default form. primaryOnly: a bare
    // language gives its default form rather than its first row's code.
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const VString& tag, uint32& dialect,
                                                         bool fallbackToLanguage = true, bool primaryOnly = false);
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const char* language, const char* subtag, uint32& dialect,
                                                         bool fallbackToLanguage = true, bool primaryOnly = false);
    // An English language name ("french", compared without case) to the default form of its language.
    static bool GetDialectCodeWithISOLanguageName(const VString& name, uint32& dialect);
    // 4 same tag, 3 a is a regional form of b, 2 b a regional form of a, 1 same language and another region,
    // 0 another language, -1 a tag that does not parse.
    static int32 Compare2RFC3066LanguageCodes(const VString& a, const VString& b);

    // The user's first preferred language as a dialect (1033 when none parses), not cached; and all of them,
    // 1033 standing for each one that does not parse.
    static uint32 GetSystemUIDialectCode();
    static void GetSystemUIDialectCodes(std::vector<uint32>& dialects);
    static bool IsSystemUIDialectIdeographic();
    // The names of the localization folders of dialect, in the order they are searched ("en.lproj",
    // "en_US.lproj", "English.lproj").
    static void GetLocalizationFolderNames(uint32 dialect, std::vector<VString>& names);
    // Those of the folders named so that exist in parent (retained), in that order; true when any.
    static bool GetLocalizationFoldersWithDialect(uint32 dialect, const IFolder* parent,
                                                  std::vector<VRefPtr<IFolder>>& folders);
    // The file name in the last of those folders that has it (retained; the last is the most general), null
    // when none has it. *folderFound tells whether any localization folder exists.
    static IFile* RetainLocalizationFile(const IFolder* parent, const VString& name, uint32 dialect,
                                         bool* folderFound = nullptr);

protected:
    VIntlMgr(uint32 dialect, const XPosixIntlMgr& platform);
    VIntlMgr(const VIntlMgr& other);

private:
    // The manager a change of this one goes to: this, or the calling task's new clone of the shared one.
    VIntlMgr* _ForChange();

    struct LocaleVariables {
        VString amSymbol, pmSymbol;
        bool usesAmPm = false;
        VString decimalSeparator{u"."};
        VString thousandsSeparator, dateSeparator, timeSeparator, currencySymbol;
        VString datePatterns[4], timePatterns[4];
        uint32 dateOrder = 0;
        XPosixIntlMgr::CalendarNames calendar;
    };

    // The locale variables, filled by the first call of a manager that Create made: opening the ICU formatters
    // they come from is most of the cost of making a manager, and a tool that quits at once never needs them.
    const LocaleVariables& _Variables() const;
    void _FillLocaleVariables(LocaleVariables& v) const;

    XPosixIntlMgr fPlatform;
    uint32 fDialect = DC_ENGLISH_US;
    VRefPtr<VCollator> fCollator;
    // Published once: after construction fVariables is written only inside fFillOnce, before fVariablesFilled
    // goes (one way) to true; readers that see it true read fVariables without a lock.
    mutable std::once_flag fFillOnce;
    mutable std::atomic<bool> fVariablesFilled{true};
    mutable LocaleVariables fVariables;
};

// Makes a manager current on the calling thread for the life of the scope (tests, tasks).
class StCurrentIntlMgr {
public:
    explicit StCurrentIntlMgr(VIntlMgr* manager) noexcept : fPrevious(VIntlMgr::SetCurrent(manager)) {}
    ~StCurrentIntlMgr() { VIntlMgr::SetCurrent(fPrevious); }
    StCurrentIntlMgr(const StCurrentIntlMgr&) = delete;
    StCurrentIntlMgr& operator=(const StCurrentIntlMgr&) = delete;

private:
    VIntlMgr* fPrevious;
};

} // namespace vela
