// The VString members that follow the current locale (VIntlMgr) or a collator: comparisons, searches, case,
// white space and the numbers and booleans read from text.

#include "core/VString.h"

#include "core/VStringUnits.h"
#include "intl/VCollator.h"
#include "intl/VIntlMgr.h"
#include "values/VCompareOptions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vela {

using Private::AddPiece;
using Private::CopyUnits;
using Private::IsDigit;
using Private::IsHighSurrogate;

namespace {

// Appends and tells whether all n units arrived (a failed append leaves the string short).
bool AppendAll(VString& s, const UniChar* text, int32 n) {
    if (n <= 0) return true;
    int32 before = s.GetLength();
    s.AppendUniChars(text, n);
    return s.GetLength() == before + n;
}

// A stored form (int32 length, then the units) read in place, or from a copy when its units are not aligned.
class StoredText {
public:
    explicit StoredText(const void* data) {
        std::memcpy(&fLength, data, sizeof(fLength));
        fLength = std::max(fLength, 0); // corrupt stored data reads as empty
        const char* units = static_cast<const char*>(data) + sizeof(int32);
        if (reinterpret_cast<uintptr_t>(units) % alignof(UniChar) == 0) {
            fUnits = reinterpret_cast<const UniChar*>(units);
            return;
        }
        fCopy.FromBlock(units, size_t(fLength) * sizeof(UniChar), VTC_UTF_16);
        fUnits = fCopy.GetCPointer();
        fLength = fCopy.GetLength();
    }
    const UniChar* Units() const noexcept { return fUnits; }
    int32 Length() const noexcept { return fLength; }

private:
    const UniChar* fUnits = nullptr;
    int32 fLength = 0;
    VString fCopy;
};

CompareResult CompareBy(const VIntlMgr* manager, bool like, const UniChar* a, int32 lengthA, const UniChar* b,
                        int32 lengthB, bool diacritical) {
    return like ? manager->CompareString_Like(a, lengthA, b, lengthB, diacritical)
                : manager->CompareString(a, lengthA, b, lengthB, diacritical);
}

bool EqualBy(const VIntlMgr* manager, bool like, const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
             bool diacritical) {
    return like ? manager->EqualString_Like(a, lengthA, b, lengthB, diacritical)
                : manager->EqualString(a, lengthA, b, lengthB, diacritical);
}

const VIntlMgr* ManagerOf(const VCompareOptions& options) noexcept {
    VIntlMgr* manager = options.GetIntlManager();
    return manager != nullptr ? manager : VIntlMgr::GetCurrent();
}

// The comparison of the with-options members: a (cut to b's length with begins-with) against b.
CompareResult CompareWithOptions(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                 const VCompareOptions& options) {
    if (options.IsBeginsWith()) lengthA = std::min(lengthA, lengthB);
    return CompareBy(ManagerOf(options), options.IsLike(), a, lengthA, b, lengthB, options.IsDiacritical());
}

} // namespace

void VString::RemoveWhiteSpaces(bool leading, bool trailing, int32* leadCount, int32* trailCount, VIntlMgr* intlMgr,
                                bool flag) {
    if (leadCount != nullptr) *leadCount = 0;
    if (trailCount != nullptr) *trailCount = 0;
    auto isWhite = [intlMgr, flag](UniChar c) {
        return intlMgr != nullptr ? intlMgr->IsSpace(c, flag) : (c == u' ' || c == u'\t');
    };
    if (leading && fLength > 0) {
        int32 lead = 0;
        while (lead < fLength && isWhite(fString[lead]))
            ++lead;
        if (lead > 0) {
            if (!_MakeWritable(fLength)) return;
            CopyUnits(fString, fString + lead, fLength - lead);
            fLength -= lead;
            _Modified();
        }
        if (leadCount != nullptr) *leadCount = lead;
    }
    if (trailing && fLength > 0) {
        int32 trail = 0;
        while (trail < fLength && isWhite(fString[fLength - 1 - trail]))
            ++trail;
        int32 kept = fLength - trail;
        if (trail > 0 && kept > 0 && IsHighSurrogate(fString[kept - 1])) --kept; // its pair is gone
        int32 before = fLength;
        Truncate(kept);
        if (trailCount != nullptr && fLength < before) *trailCount = trail;
    }
}

void VString::ToUpperCase(bool) {
    VIntlMgr::GetCurrent()->ToUpperLowerCase(*this, false, true);
}

void VString::ToLowerCase(bool) {
    VIntlMgr::GetCurrent()->ToUpperLowerCase(*this, false, false);
}

void VString::Exchange(const VString& pattern, const VString& replacement, int32 pos, int32 n, bool diacritical,
                       VCollator* collator) {
    if (n < 1 || pos < 1 || pos > fLength) return;
    if (collator == nullptr) collator = VIntlMgr::GetCurrent()->GetCollator();
    auto find = [&](int32 from, int32* at, int32* matched) {
        int32 hit = collator->FindString(fString + from, fLength - from, pattern.fString, pattern.fLength, diacritical,
                                         matched);
        if (hit == 0 || *matched < 1) return false;
        *at = from + hit - 1;
        *matched = std::min(*matched, fLength - *at);
        return true;
    };
    int32 at = 0, matched = 0;
    if (!find(pos - 1, &at, &matched)) return;
    // This text is only read until the new one is complete; a failed append leaves it untouched.
    VString result;
    bool complete = AppendAll(result, fString, at) && AppendAll(result, replacement.fString, replacement.fLength);
    int32 read = at + matched;
    for (int32 count = 1; complete && count < n && read < fLength && find(read, &at, &matched); ++count) {
        complete =
            AppendAll(result, fString + read, at - read) && AppendAll(result, replacement.fString, replacement.fLength);
        read = at + matched;
    }
    if (complete && AppendAll(result, fString + read, fLength - read)) Swap(result);
}

int32 VString::Find(const VString& pattern, int32 pos, bool diacritical) const {
    if (pos < 1 || pos > fLength) return 0;
    int32 hit = VIntlMgr::GetCurrent()->GetCollator()->FindString(fString + pos - 1, fLength - pos + 1, pattern.fString,
                                                                  pattern.fLength, diacritical, nullptr);
    return hit != 0 ? hit + pos - 1 : 0;
}

bool VString::BeginsWith(const VString& prefix, bool diacritical) const {
    // A collator match may be a little longer than the prefix (expansions, ignorables), never much longer.
    int32 searched = int32(std::min<int64>(int64(prefix.fLength) + 16, fLength));
    return VIntlMgr::GetCurrent()->GetCollator()->BeginsWithString(fString, searched, prefix.fString, prefix.fLength,
                                                                   diacritical, nullptr);
}

bool VString::EndsWith(const VString& suffix, bool diacritical) const {
    return VIntlMgr::GetCurrent()->GetCollator()->EndsWithString(fString, fLength, suffix.fString, suffix.fLength,
                                                                 diacritical, nullptr);
}

bool VString::GetSubStrings(const VString& separator, std::vector<VString>& pieces, bool keepEmpty, bool trim,
                            bool diacritical) const {
    pieces.clear();
    if (IsNull() || fLength == 0) return false;
    if (separator.IsNull() || separator.fLength == 0) {
        pieces.push_back(*this);
        return false;
    }
    const VCollator* collator = VIntlMgr::GetCurrent()->GetCollator();
    bool found = false;
    int32 start = 0;
    while (start < fLength) {
        int32 matched = 0;
        int32 hit = collator->FindString(fString + start, fLength - start, separator.fString, separator.fLength,
                                         diacritical, &matched);
        if (hit == 0 || matched < 1) break; // a match of nothing would never move on
        int32 at = start + hit - 1;
        AddPiece(pieces, fString, start, at, keepEmpty, trim);
        start = std::min(at + matched, fLength);
        found = true;
    }
    AddPiece(pieces, fString, start, fLength, keepEmpty, trim);
    return found;
}

// ---- Comparison

bool VString::EqualToString(const VString& other, bool diacritical) const {
    return VIntlMgr::GetCurrent()->EqualString(fString, fLength, other.fString, other.fLength, diacritical);
}

CompareResult VString::CompareToString(const VString& other, bool diacritical) const {
    return VIntlMgr::GetCurrent()->CompareString(fString, fLength, other.fString, other.fLength, diacritical);
}

bool VString::EqualToString_Like(const VString& pattern, bool diacritical) const {
    return VIntlMgr::GetCurrent()->EqualString_Like(fString, fLength, pattern.fString, pattern.fLength, diacritical);
}

CompareResult VString::CompareToString_Like(const VString& pattern, bool diacritical) const {
    return VIntlMgr::GetCurrent()->CompareString_Like(fString, fLength, pattern.fString, pattern.fLength, diacritical);
}

CompareResult VString::CompareTo(const VValueSingle& other, bool diacritical) const {
    VStr255 text;
    other.GetString(text);
    return VIntlMgr::GetCurrent()->CompareString(fString, fLength, text.GetCPointer(), text.GetLength(), diacritical);
}

// ---- Same-kind comparisons of the value model

CompareResult VString::CompareToSameKind(const VValue* other, bool diacritical) const {
    const auto* text = static_cast<const VString*>(other);
    return VIntlMgr::GetCurrent()->CompareString(fString, fLength, text->fString, text->fLength, diacritical);
}

CompareResult VString::CompareBeginingToSameKind(const VValue* other, bool diacritical) const {
    const auto* text = static_cast<const VString*>(other);
    return VIntlMgr::GetCurrent()->CompareString(fString, std::min(fLength, text->fLength), text->fString,
                                                 text->fLength, diacritical);
}

bool VString::EqualToSameKind(const VValue* other, bool diacritical) const {
    const auto* text = static_cast<const VString*>(other);
    return VIntlMgr::GetCurrent()->EqualString(fString, fLength, text->fString, text->fLength, diacritical);
}

CompareResult VString::CompareToSameKindPtr(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString(fString, fLength, stored.Units(), stored.Length(), diacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString(stored.Units(), stored.Length(), fString, fLength, diacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString(fString, std::min(fLength, stored.Length()), stored.Units(),
                                                 stored.Length(), diacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString(fString, fLength, stored.Units(), std::min(stored.Length(), fLength),
                                                 diacritical);
}

bool VString::EqualToSameKindPtr(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->EqualString(fString, fLength, stored.Units(), stored.Length(), diacritical);
}

CompareResult VString::CompareToSameKind_Like(const VValue* other, bool diacritical) const {
    const auto* text = static_cast<const VString*>(other);
    return VIntlMgr::GetCurrent()->CompareString_Like(fString, fLength, text->fString, text->fLength, diacritical);
}

CompareResult VString::CompareBeginingToSameKind_Like(const VValue* other, bool diacritical) const {
    const auto* text = static_cast<const VString*>(other);
    return VIntlMgr::GetCurrent()->CompareString_Like(fString, std::min(fLength, text->fLength), text->fString,
                                                      text->fLength, diacritical);
}

bool VString::EqualToSameKind_Like(const VValue* other, bool diacritical) const {
    const auto* text = static_cast<const VString*>(other);
    return VIntlMgr::GetCurrent()->EqualString_Like(fString, fLength, text->fString, text->fLength, diacritical);
}

CompareResult VString::CompareToSameKindPtr_Like(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString_Like(fString, fLength, stored.Units(), stored.Length(), diacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr_Like(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString_Like(stored.Units(), stored.Length(), fString, fLength, diacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr_Like(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString_Like(fString, std::min(fLength, stored.Length()), stored.Units(),
                                                      stored.Length(), diacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr_Like(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->CompareString_Like(fString, fLength, stored.Units(),
                                                      std::min(stored.Length(), fLength), diacritical);
}

bool VString::EqualToSameKindPtr_Like(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->EqualString_Like(fString, fLength, stored.Units(), stored.Length(), diacritical);
}

bool VString::Swap_EqualToSameKindPtr_Like(const void* data, bool diacritical) const {
    StoredText stored(data);
    return VIntlMgr::GetCurrent()->EqualString_Like(stored.Units(), stored.Length(), fString, fLength, diacritical);
}

CompareResult VString::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const {
    const auto* text = static_cast<const VString*>(other);
    return CompareWithOptions(fString, fLength, text->fString, text->fLength, options);
}

bool VString::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const {
    const auto* text = static_cast<const VString*>(other);
    return EqualBy(ManagerOf(options), options.IsLike(), fString, fLength, text->fString, text->fLength,
                   options.IsDiacritical());
}

CompareResult VString::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const {
    StoredText stored(data);
    return CompareWithOptions(fString, fLength, stored.Units(), stored.Length(), options);
}

bool VString::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const {
    StoredText stored(data);
    return EqualBy(ManagerOf(options), options.IsLike(), fString, fLength, stored.Units(), stored.Length(),
                   options.IsDiacritical());
}

CompareResult VString::Swap_CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const {
    StoredText stored(data);
    return CompareWithOptions(stored.Units(), stored.Length(), fString, fLength, options);
}

// ---- Stored forms compared by the kind descriptor

CompareResult VString_info::CompareTwoPtrToData(const void* a, const void* b, bool diacritical) const {
    StoredText textA(a), textB(b);
    return CompareBy(VIntlMgr::GetCurrent(), false, textA.Units(), textA.Length(), textB.Units(), textB.Length(),
                     diacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical) const {
    StoredText textA(a), textB(b);
    return CompareBy(VIntlMgr::GetCurrent(), false, textA.Units(), std::min(textA.Length(), textB.Length()),
                     textB.Units(), textB.Length(), diacritical);
}

CompareResult VString_info::CompareTwoPtrToData_Like(const void* a, const void* b, bool diacritical) const {
    StoredText textA(a), textB(b);
    return CompareBy(VIntlMgr::GetCurrent(), true, textA.Units(), textA.Length(), textB.Units(), textB.Length(),
                     diacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining_Like(const void* a, const void* b, bool diacritical) const {
    StoredText textA(a), textB(b);
    return CompareBy(VIntlMgr::GetCurrent(), true, textA.Units(), std::min(textA.Length(), textB.Length()),
                     textB.Units(), textB.Length(), diacritical);
}

CompareResult VString_info::CompareTwoPtrToDataWithOptions(const void* a, const void* b,
                                                           const VCompareOptions& options) const {
    StoredText textA(a), textB(b);
    return CompareWithOptions(textA.Units(), textA.Length(), textB.Units(), textB.Length(), options);
}

// ---- Numbers and booleans read from text

int64 VString::GetLong8() const {
    if (fLength == 0) return 0;
    const VString& separator = VIntlMgr::GetCurrent()->GetDecimalSeparator();
    // No unit is 0x10000: without a separator the scan never stops early.
    uint32 stop = separator.GetLength() > 0 ? uint32(separator.GetCPointer()[0]) : 0x10000u;
    uint64 value = 0;
    bool negative = false;
    for (int32 i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        if (IsDigit(c)) {
            value = value * 10 + uint64(c - u'0');
        } else if (c == u'-') {
            if (value == 0) negative = true;
        } else if (uint32(c) == stop) {
            break;
        }
    }
    return negative ? int64(0 - value) : int64(value);
}

bool VString::GetBoolean() const {
    static constexpr UniChar kTrue[] = u"true";
    if (fLength == 0) return false;
    return VIntlMgr::GetCurrent()->EqualString(fString, fLength, kTrue, 4, false);
}

} // namespace vela
