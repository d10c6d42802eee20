#include "intl/VIntlMgr.h"

#include "core/VString.h"
#include "intl/VCollator.h"
#include "intl/platform/XPosixIntlMgr.h"
#include "system/VSystem.h"
#include "values/VDuration.h"
#include "values/VTime.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

namespace vela {

namespace {

thread_local VIntlMgr* sCurrent = nullptr;

// Texts up to this length are case-mapped in a buffer on the stack.
constexpr int32 kLocalCaseLength = 512;

struct FreeDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

// Maps text into buffer (capacity units) with ICU in the root locale; the length produced, or -1 on failure
// (needed receives the length a larger buffer would take when the buffer was too small).
int32 MapCase(const UniChar* text, int32 length, UniChar* buffer, int32 capacity, bool upper, int32* needed) {
    UErrorCode status = U_ZERO_ERROR;
    int32 produced = upper ? u_strToUpper(buffer, capacity, text, length, "", &status)
                           : u_strToLower(buffer, capacity, text, length, "", &status);
    *needed = status == U_BUFFER_OVERFLOW_ERROR ? produced : 0;
    return U_SUCCESS(status) ? produced : -1; // the terminator is not needed: the length is passed on
}

} // namespace

VIntlMgr::VIntlMgr(VCollator* collator) : fCollator(collator) {
    if (!fCollator) fCollator = VRefPtr<VCollator>::Adopt(new VCollator);
}

VIntlMgr::~VIntlMgr() = default;

VIntlMgr* VIntlMgr::GetCurrent() noexcept {
    return sCurrent != nullptr ? sCurrent : GetDefault();
}

VIntlMgr* VIntlMgr::SetCurrent(VIntlMgr* manager) noexcept {
    return std::exchange(sCurrent, manager);
}

VIntlMgr* VIntlMgr::GetDefault() noexcept {
    // Never destroyed: tasks may still compare strings while the process exits.
    static VIntlMgr* const sDefault = new VIntlMgr;
    return sDefault;
}

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

UniChar VIntlMgr::GetWildChar() const noexcept {
    return fCollator->GetWildChar();
}

void VIntlMgr::ToUpperLowerCase(VString& text, bool, bool upper) const {
    int32 length = text.GetLength();
    if (length == 0) return;
    int32 needed = 0;
    if (length <= kLocalCaseLength) {
        UniChar local[2 * kLocalCaseLength];
        int32 produced = MapCase(text.GetCPointer(), length, local, 2 * kLocalCaseLength, upper, &needed);
        if (produced >= 0) {
            text.FromUniString(local, produced);
            return;
        }
        if (needed == 0) return;
    } else {
        needed = int32(std::min<int64>(int64(length) * 2, VString::kMaxLength - 1));
    }
    // A longer text, or one whose mapped form outgrew the first buffer (a few characters map to three).
    for (int attempt = 0; attempt < 2 && needed > 0; ++attempt) {
        std::unique_ptr<UniChar, FreeDeleter> buffer(
            static_cast<UniChar*>(std::malloc(size_t(needed) * sizeof(UniChar))));
        if (!buffer) {
            _ThrowError(VE_MEMORY_FULL);
            return;
        }
        int32 capacity = needed;
        int32 produced = MapCase(text.GetCPointer(), length, buffer.get(), capacity, upper, &needed);
        if (produced >= 0) {
            text.FromUniString(buffer.get(), produced);
            return;
        }
    }
}

bool VIntlMgr::IsSpace(UniChar c, bool) const {
    return c == u' ' || u_charType(c) == U_SPACE_SEPARATOR;
}

bool VIntlMgr::IsDigit(UniChar c) const {
    return u_isdigit(c);
}

bool VIntlMgr::IsAlpha(UniChar c) const {
    return u_isalpha(c);
}

const VString& VIntlMgr::GetDecimalSeparator() const {
    // A constant wrapped without allocation: no heap block to give back at exit.
    static UniChar sDot[] = u".";
    static const VString sSeparator(sDot, 1, sizeof(sDot));
    return sSeparator;
}

namespace {

// Julian day of 1970-01-01 on VTime's scale.
constexpr int64 kUnixEpochDay = 2440587;

// Formats the instant of time (whole seconds) in UTC or at the local offset in force then.
void FormatTimeWithStyles(const VTime& time, bool utc, int32 dateStyle, int32 timeStyle, VString& out) {
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
    XPosixIntlMgr::FormatInstant(double(seconds) * 1000.0, utc, offset, dateStyle, timeStyle, out);
}

bool IsKnownFormat(EOSFormats format) noexcept {
    return format == eOS_SHORT_FORMAT || format == eOS_MEDIUM_FORMAT || format == eOS_LONG_FORMAT;
}

} // namespace

void VIntlMgr::FormatDate(const VTime& time, VString& out, EOSFormats format, bool utc) const {
    if (!IsKnownFormat(format)) return;
    // The date's styles are short, medium and full.
    FormatTimeWithStyles(time, utc, format == eOS_LONG_FORMAT ? 3 : int32(format), -1, out);
}

void VIntlMgr::FormatTime(const VTime& time, VString& out, EOSFormats format, bool utc) const {
    if (!IsKnownFormat(format)) return;
    FormatTimeWithStyles(time, utc, -1, int32(format), out);
}

void VIntlMgr::FormatDuration(const VDuration& duration, VString& out, EOSFormats format) const {
    out.Clear();
    if (!IsKnownFormat(format)) return;
    int64 withinDay = duration.ConvertToMilliseconds() % VDuration::kMsPerDay;
    double seconds = double(withinDay / 1000);
    XPosixIntlMgr::FormatInstant(seconds * 1000.0, true, 0, -1, int32(format), out);
}

} // namespace vela
