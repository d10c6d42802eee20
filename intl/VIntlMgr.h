#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"

namespace vela {

class VCollator;
class VDuration;
class VString;
class VTime;

// Styles of the system's date and time formatters.
enum EOSFormats : int32 {
    eOS_SHORT_FORMAT = 0,
    eOS_MEDIUM_FORMAT = 1,
    eOS_LONG_FORMAT = 2,
};

// The text services of one dialect: collation, case mapping, character classes and number conventions.
// Each task has a current manager; strings' locale-aware operations go through it.
// This base holds the defaults the library uses where no dialect is set up (code-unit collation with case
// folding, the root locale's case mapping, "." as decimal separator, "@" as wildcard); the international
// layer specialises it, and tests replace it with fakes.
class VIntlMgr : public VObject, public IRefCountable {
public:
    // Takes a reference to collator; null makes the default collator.
    explicit VIntlMgr(VCollator* collator = nullptr);
    ~VIntlMgr() override;

    // The manager of the calling thread: the one set with SetCurrent, else the process default (never null).
    static VIntlMgr* GetCurrent() noexcept;
    // Makes manager current on the calling thread (null: back to the process default); answers the previous.
    static VIntlMgr* SetCurrent(VIntlMgr* manager) noexcept;
    // The process default, made on first use.
    static VIntlMgr* GetDefault() noexcept;

    VCollator* GetCollator() const noexcept { return fCollator.Get(); }

    // Forward to the collator.
    virtual CompareResult CompareString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                        bool diacritical) const;
    virtual bool EqualString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                             bool diacritical) const;
    virtual CompareResult CompareString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern,
                                             int32 patternLength, bool diacritical) const;
    virtual bool EqualString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern, int32 patternLength,
                                  bool diacritical) const;
    UniChar GetWildChar() const noexcept;

    // Replaces text by its upper-case (upper true) or lower-case form; on failure the text stays.
    virtual void ToUpperLowerCase(VString& text, bool stripDiacritics, bool upper) const;
    // Character classes: white space (U+0020 among it, control characters not), digits, letters.
    virtual bool IsSpace(UniChar c, bool = false) const;
    virtual bool IsDigit(UniChar c) const;
    virtual bool IsAlpha(UniChar c) const;
    // The decimal separator of the dialect's numbers.
    virtual const VString& GetDecimalSeparator() const;

    // The date alone (short, medium or full style) or the time of day alone (short, medium or long style) of
    // time, by the system's formatter for the default locale; utc formats UTC, otherwise local time (the offset
    // in force at that instant). Milliseconds are not shown. Another format leaves out untouched.
    virtual void FormatDate(const VTime& time, VString& out, EOSFormats format, bool utc) const;
    virtual void FormatTime(const VTime& time, VString& out, EOSFormats format, bool utc) const;
    // The hours, minutes and seconds of duration as a time of day in the style of FormatTime (days dropped);
    // out is cleared first.
    virtual void FormatDuration(const VDuration& duration, VString& out, EOSFormats format) const;

private:
    VRefPtr<VCollator> fCollator;
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
