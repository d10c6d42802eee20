#include "intl/VIntlMgr.h"

#include "core/VString.h"
#include "core/VTask.h"
#include "intl/VCollator.h"
#include "intl/VCollator_system.h"
#include "system/VSystem.h"
#include "values/VCompareOptions.h"
#include "values/VDuration.h"
#include "values/VTime.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace vela {

namespace {

thread_local VIntlMgr* sCurrent = nullptr;

// Texts up to this length are case-mapped in a buffer on the stack (of twice the length).
constexpr int32 kLocalCaseLength = 256;

struct FreeDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

// The dialect itself when the table has it, else its language's default form, else 1033.
uint32 KnownDialect(uint32 dialect) noexcept {
    if (VIntlMgr::IsDialectCode(dialect)) return dialect;
    uint32 primary = (dialect & 1023) | 1024;
    return VIntlMgr::IsDialectCode(primary) ? primary : DC_ENGLISH_US;
}

// Whether tag is language alone or language followed by "-" (ASCII case ignored). No collator is asked: this
// runs while the first manager is being made.
bool TagHasLanguage(const VString& tag, const char* language) noexcept {
    int32 length = int32(std::strlen(language));
    if (tag.GetLength() < length || (tag.GetLength() > length && tag.GetCPointer()[length] != u'-')) return false;
    for (int32 i = 0; i < length; ++i) {
        UniChar c = tag.GetCPointer()[i];
        if (c >= u'A' && c <= u'Z') c = UniChar(c - u'A' + u'a');
        if (c != UniChar(language[i])) return false;
    }
    return true;
}

// The locale of the dialect: the user's own first preferred language when it is the system dialect's language
// (so that a regional form the table lacks still applies), else the dialect's tag.
XPosixIntlMgr PlatformFor(uint32 dialect) {
    VString tag;
    VIntlMgr::GetBCP47LanguageCode(dialect, tag);
    if (dialect == VIntlMgr::ResolveDialectCode(0)) {
        std::vector<VString> preferred = XPosixIntlMgr::GetPreferredLanguages();
        const char* language = VIntlMgr::GetISO6391LanguageCode(dialect);
        if (!preferred.empty() && language != nullptr && *language != '\0' && TagHasLanguage(preferred[0], language)) {
            tag = preferred[0];
        }
    }
    return XPosixIntlMgr(tag);
}

} // namespace

VIntlMgr::VIntlMgr(VCollator* collator) : fCollator(collator) {
    if (!fCollator) fCollator = VRefPtr<VCollator>::Adopt(new VCollator(fDialect));
}

VIntlMgr::VIntlMgr(uint32 dialect, const XPosixIntlMgr& platform)
    : fPlatform(platform), fDialect(dialect), fVariablesFilled(false) {}

VIntlMgr::VIntlMgr(const VIntlMgr& other)
    : VObject(other), IRefCountable(other), fPlatform(other.fPlatform), fDialect(other.fDialect),
      fCollator(VRefPtr<VCollator>::Adopt(other.fCollator->Clone())) {
    // Variables the original has not filled yet the clone fills itself, from the same locale, when asked.
    if (other.fVariablesFilled.load(std::memory_order_acquire)) {
        fVariables = other.fVariables;
    } else {
        fVariablesFilled.store(false, std::memory_order_relaxed);
    }
}

VIntlMgr::~VIntlMgr() = default;

VIntlMgr* VIntlMgr::Create(uint32 dialect, uint32 collatorDialect, uint8 options) {
    dialect = KnownDialect(ResolveDialectCode(dialect));
    collatorDialect = KnownDialect(ResolveDialectCode(collatorDialect));
    // Their rules are not the system's own: English stands in.
    if ((collatorDialect | 16) == 1054) collatorDialect = DC_ENGLISH_US;

    const VIntlMgr* current = sCurrent;
    if (current != nullptr && current->fDialect == dialect && current->fCollator->GetDialect() == collatorDialect &&
        current->fCollator->GetOptions() == options) {
        VIntlMgr* copy = current->Clone();
        copy->Reset();
        return copy;
    }

    VRefPtr<VIntlMgr> manager = VRefPtr<VIntlMgr>::Adopt(new VIntlMgr(dialect, PlatformFor(dialect)));
    VCollator_system* collator =
        VCollator_system::Create(collatorDialect, collatorDialect == dialect ? manager.Get() : nullptr);
    if (collator == nullptr) {
        _ThrowError(VE_INTL_CANNOT_CREATE_MANAGER);
        return nullptr;
    }
    collator->SetOptions(options);
    manager->fCollator = VRefPtr<VCollator>::Adopt(collator);
    return manager.Forget();
}

VIntlMgr* VIntlMgr::Clone() const {
    return new VIntlMgr(*this);
}

VIntlMgr* VIntlMgr::GetCurrent() noexcept {
    return sCurrent != nullptr ? sCurrent : GetDefault();
}

VIntlMgr* VIntlMgr::SetCurrent(VIntlMgr* manager) noexcept {
    return std::exchange(sCurrent, manager);
}

VIntlMgr* VIntlMgr::GetDefault() noexcept {
    // Never destroyed: tasks may still compare strings while the process exits. Made off any thread's current
    // manager, so that it is never a clone of one.
    static VIntlMgr* const sDefault = [] {
        VIntlMgr* previous = SetCurrent(nullptr);
        VIntlMgr* made = Create(0, 0, 1);
        SetCurrent(previous);
        return made != nullptr ? made : new VIntlMgr;
    }();
    return sDefault;
}

// ---- Collation

CompareResult VIntlMgr::CompareString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                      bool diacritical) const {
    return fCollator->CompareString(a, lengthA, b, lengthB, diacritical);
}

bool VIntlMgr::EqualString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB, bool diacritical) const {
    return fCollator->EqualString(a, lengthA, b, lengthB, diacritical);
}

CompareResult VIntlMgr::CompareString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern, int32 patternLength,
                                           bool diacritical) const {
    return fCollator->CompareString_Like(a, lengthA, pattern, patternLength, diacritical);
}

bool VIntlMgr::EqualString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern, int32 patternLength,
                                bool diacritical) const {
    return fCollator->EqualString_Like(a, lengthA, pattern, patternLength, diacritical);
}

CompareResult VIntlMgr::CompareString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                      const VCompareOptions& options) const {
    return options.IsLike() ? CompareString_Like(a, lengthA, b, lengthB, options.IsDiacritical())
                            : CompareString(a, lengthA, b, lengthB, options.IsDiacritical());
}

UniChar VIntlMgr::GetWildChar() const noexcept {
    return fCollator->GetWildChar();
}

VIntlMgr* VIntlMgr::_ForChange() {
    // Tasks hold the process's manager until they change it: the first change clones it for the task.
    if (this != GetDefault() || VTask::GetCurrent() == nullptr || VTask::GetCurrentIntlManager() != this) return this;
    VRefPtr<VIntlMgr> own = VRefPtr<VIntlMgr>::Adopt(Clone());
    VTask::SetCurrentIntlManager(own.Get());
    return VTask::GetCurrentIntlManager();
}

void VIntlMgr::SetWildChar(UniChar c) {
    _ForChange()->fCollator->SetWildChar(c);
}

void VIntlMgr::Reset() {
    _ForChange()->fCollator->Reset();
}

void VIntlMgr::GetStringComparisonAlgorithmSignature(VString& out) const {
    fCollator->GetStringComparisonAlgorithmSignature(out);
}

void VIntlMgr::GetKewordAlgorithmSignature(VString& out) const {
    out.FromCString("AlphaNum");
}

bool VIntlMgr::DebugConvertString(const void* source, int32 sourceBytes, CharSet sourceSet, void* destination,
                                  int32& ioDestinationBytes, CharSet destinationSet) {
    if (sourceSet != destinationSet) return false;
    const int32 count = std::max(std::min(sourceBytes, ioDestinationBytes), 0);
    if (count > 0) std::memmove(destination, source, size_t(count));
    ioDestinationBytes = count;
    return true;
}

// ---- Case

void VIntlMgr::ToUpperLowerCase(VString& text, bool, bool upper) const {
    int32 length = text.GetLength();
    if (length == 0) return;
    bool overflow = false;
    int32 needed = 0;
    if (length < kLocalCaseLength) {
        UniChar local[2 * kLocalCaseLength];
        needed = XPosixIntlMgr::MapCase(text.GetCPointer(), length, local, 2 * kLocalCaseLength, upper, &overflow);
        if (needed < 0) return;
        if (!overflow) {
            text.FromUniString(local, needed);
            return;
        }
    } else {
        needed = int32(std::min<int64>(int64(length) * 2, VString::kMaxLength - 1));
    }
    // A longer text, or one that outgrew the first buffer: a few characters map to three. The mapping reports
    // the length it needs, so the second attempt fits.
    for (int attempt = 0; attempt < 2 && needed > 0; ++attempt) {
        std::unique_ptr<UniChar, FreeDeleter> buffer(
            static_cast<UniChar*>(std::malloc(size_t(needed) * sizeof(UniChar))));
        if (!buffer) {
            _ThrowError(VE_MEMORY_FULL);
            return;
        }
        int32 produced = XPosixIntlMgr::MapCase(text.GetCPointer(), length, buffer.get(), needed, upper, &overflow);
        if (produced < 0) return;
        if (!overflow) {
            text.FromUniString(buffer.get(), produced);
            return;
        }
        needed = produced;
    }
}

// ---- Locale variables

const VIntlMgr::LocaleVariables& VIntlMgr::_Variables() const {
    if (!fVariablesFilled.load(std::memory_order_acquire)) {
        std::call_once(fFillOnce, [this] {
            _FillLocaleVariables(fVariables);
            fVariablesFilled.store(true, std::memory_order_release);
        });
    }
    return fVariables;
}

const VString& VIntlMgr::GetDecimalSeparator() const {
    return _Variables().decimalSeparator;
}

const VString& VIntlMgr::GetDatePattern(int32 style) const {
    return _Variables().datePatterns[std::clamp(style, 0, 3)];
}

const VString& VIntlMgr::GetTimePattern(int32 style) const {
    return _Variables().timePatterns[std::clamp(style, 0, 3)];
}

namespace {

bool IsAsciiLetter(UniChar c) noexcept {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Walks a date pattern's letters outside quoted text; visit(c) for each of them; the first character that is
// not an ASCII letter becomes separator.
template <class Visit> void ScanPattern(const VString& pattern, VString& separator, Visit&& visit) {
    const UniChar* units = pattern.GetCPointer();
    int32 length = pattern.GetLength();
    bool separatorFound = false;
    for (int32 i = 0; i < length; ++i) {
        UniChar c = units[i];
        if (c == u'\'' || c == u'"') {
            while (++i < length && units[i] != c) {
            }
            continue;
        }
        if (IsAsciiLetter(c)) {
            visit(c);
        } else if (!separatorFound) {
            separator = VString(c);
            separatorFound = true;
        }
    }
}

uint32 DateOrderOf(const std::u16string& order) noexcept {
    if (order == u"dMy") return 1;
    if (order == u"yMd") return 2;
    if (order == u"Myd") return 3;
    if (order == u"dyM") return 4;
    if (order == u"ydM") return 5;
    return 0;
}

} // namespace

void VIntlMgr::_FillLocaleVariables(LocaleVariables& v) const {
    if (fPlatform.GetNumberSymbols(v.decimalSeparator, v.thousandsSeparator, v.currencySymbol)) {
        // The generic currency sign stands for a currency the locale does not name.
        if (v.currencySymbol.GetLength() == 1 && v.currencySymbol.GetUniChar(1) == 0x00A4) {
            v.currencySymbol = VString(UniChar(0x20AC));
        }
    }
    fPlatform.GetAmPmSymbols(v.amSymbol, v.pmSymbol);
    VString shortTime;
    if (fPlatform.GetDateTimePattern(-1, 0, shortTime)) {
        ScanPattern(shortTime, v.timeSeparator, [&](UniChar c) {
            if (c == u'a') v.usesAmPm = true;
        });
    }
    VString shortDate;
    if (fPlatform.GetDateTimePattern(0, -1, shortDate)) {
        std::u16string order;
        ScanPattern(shortDate, v.dateSeparator, [&](UniChar c) {
            if ((c == u'M' || c == u'd' || c == u'y') && order.find(c) == std::u16string::npos) order.push_back(c);
        });
        v.dateOrder = DateOrderOf(order);
    }
    for (int32 style = 0; style < 4; ++style) {
        fPlatform.GetDateTimePattern(-1, style, v.timePatterns[style]);
        fPlatform.GetDateTimePattern(style, -1, v.datePatterns[style]);
    }
    fPlatform.GetCalendarNames(v.calendar);
}

// ---- Dates and times

namespace {

// Julian day of 1970-01-01 on VTime's scale.
constexpr int64 kUnixEpochDay = 2440587;

// Formats the instant of time (whole seconds) in UTC or at the local offset in force then.
void FormatTimeWithStyles(const XPosixIntlMgr& platform, const VTime& time, bool utc, int32 dateStyle, int32 timeStyle,
                          VString& out) {
    int16 parts[7];
    time.GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    int64 seconds = (VTime::ComputeJulianDay(parts[0], parts[1], parts[2]) - kUnixEpochDay) * 86400 +
                    int64(parts[3]) * 3600 + parts[4] * 60 + parts[5];
    int32 offset = 0;
    if (!utc) {
        int16 local[7] = {parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]};
        VSystem::UTCToLocalTime(local);
        int64 localSeconds = (VTime::ComputeJulianDay(local[0], local[1], local[2]) - kUnixEpochDay) * 86400 +
                             int64(local[3]) * 3600 + local[4] * 60 + local[5];
        offset = int32(localSeconds - seconds);
    }
    platform.FormatInstant(double(seconds) * 1000.0, utc, offset, dateStyle, timeStyle, out);
}

bool IsKnownFormat(EOSFormats format) noexcept {
    return format == eOS_SHORT_FORMAT || format == eOS_MEDIUM_FORMAT || format == eOS_LONG_FORMAT;
}

} // namespace

void VIntlMgr::FormatDate(const VTime& time, VString& out, EOSFormats format, bool utc) const {
    if (!IsKnownFormat(format)) return;
    // The date's styles are short, medium and full.
    FormatTimeWithStyles(fPlatform, time, utc, format == eOS_LONG_FORMAT ? 3 : int32(format), -1, out);
}

void VIntlMgr::FormatTime(const VTime& time, VString& out, EOSFormats format, bool utc) const {
    if (!IsKnownFormat(format)) return;
    FormatTimeWithStyles(fPlatform, time, utc, -1, int32(format), out);
}

void VIntlMgr::FormatDuration(const VDuration& duration, VString& out, EOSFormats format) const {
    out.Clear();
    if (!IsKnownFormat(format)) return;
    // In GMT: a duration is no instant, so no zone's offset may shift its hours.
    int64 withinDay = duration.ConvertToMilliseconds() % VDuration::kMsPerDay;
    double seconds = double(withinDay / 1000);
    fPlatform.FormatInstant(seconds * 1000.0, true, 0, -1, int32(format), out);
}

namespace {

// Sets out to names[index]; leaves it alone when the locale gave no such name.
void CopyName(const std::vector<VString>& names, int32 index, VString& out) {
    if (size_t(index) < names.size()) out = names[size_t(index)];
}

} // namespace

void VIntlMgr::GetMonthName(int32 month, bool abbreviated, VString& out) const {
    if (month < 1 || month > 12) {
        out.Clear();
        return;
    }
    const XPosixIntlMgr::CalendarNames& names = _Variables().calendar;
    CopyName(abbreviated ? names.shortMonths : names.months, month - 1, out);
}

void VIntlMgr::GetWeekDayName(int32 day, bool abbreviated, VString& out) const {
    if (day < 0 || day > 6) {
        out.Clear();
        return;
    }
    const XPosixIntlMgr::CalendarNames& names = _Variables().calendar;
    CopyName(abbreviated ? names.shortWeekDays : names.weekDays, day, out);
}

} // namespace vela
