#include "intl/platform/XPosixStringCompare.h"

#include <unicode/ucol.h>
#include <unicode/usearch.h>

#include <cstdio>
#include <memory>

namespace vela {

namespace {

UCollator* OpenCollator(const char* locale, bool diacritical, UErrorCode* status) {
    UCollator* collator = ucol_open(locale, status);
    if (U_FAILURE(*status)) return nullptr;
    ucol_setStrength(collator, diacritical ? UCOL_SECONDARY : UCOL_PRIMARY);
    ucol_setAttribute(collator, UCOL_CASE_LEVEL, diacritical ? UCOL_ON : UCOL_OFF, status);
    // Canonically equivalent texts (precomposed or decomposed) compare equal.
    ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    if (U_FAILURE(*status)) {
        ucol_close(collator);
        return nullptr;
    }
    return collator;
}

struct SearchCloser {
    void operator()(UStringSearch* search) const noexcept { usearch_close(search); }
};

} // namespace

XPosixStringCompare::XPosixStringCompare(const std::string& localeID) : fLocaleID(localeID) {
    _Open();
}

// A copy opens the same rules again: collators are not shared between comparers.
XPosixStringCompare::XPosixStringCompare(const XPosixStringCompare& other) : fLocaleID(other.fLocaleID) {
    _Open();
}

void XPosixStringCompare::_Open() {
    UErrorCode status = U_ZERO_ERROR;
    fSensitive = OpenCollator(fLocaleID.c_str(), true, &status);
    fInsensitive = OpenCollator(fLocaleID.c_str(), false, &status);
    fLocaleOwn = IsValid();
    if (fLocaleOwn) return;
    ucol_close(fSensitive);
    ucol_close(fInsensitive);
    status = U_ZERO_ERROR;
    fSensitive = OpenCollator("", true, &status);
    fInsensitive = OpenCollator("", false, &status);
}

XPosixStringCompare::~XPosixStringCompare() {
    ucol_close(fSensitive);
    ucol_close(fInsensitive);
}

CompareResult XPosixStringCompare::Compare(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                           bool diacritical) const noexcept {
    if (!IsValid()) return CR_EQUAL;
    switch (ucol_strcoll(_Collator(diacritical), a, lengthA, b, lengthB)) {
    case UCOL_LESS:
        return CR_SMALLER;
    case UCOL_GREATER:
        return CR_BIGGER;
    default:
        return CR_EQUAL;
    }
}

int32 XPosixStringCompare::Find(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                bool diacritical, bool last, int32* matchedLength) const noexcept {
    *matchedLength = 0;
    if (!IsValid()) return 0;
    UErrorCode status = U_ZERO_ERROR;
    // The search only reads the collator; it is made for each call, so concurrent searches share nothing.
    std::unique_ptr<UStringSearch, SearchCloser> search(usearch_openFromCollator(
        pattern, patternLength, text, textLength, const_cast<UCollator*>(_Collator(diacritical)), nullptr, &status));
    if (U_FAILURE(status)) return 0;
    // Overlapping hits: a rejected hit must not hide an exact one that starts inside it.
    if (last || diacritical) usearch_setAttribute(search.get(), USEARCH_OVERLAP, USEARCH_ON, &status);
    // The search weighs characters up to the collator's strength but not its case level: a hit of the
    // sensitive search counts only when the comparison (which weighs case) finds it equal to the pattern.
    int32 at = last ? usearch_last(search.get(), &status) : usearch_first(search.get(), &status);
    while (U_SUCCESS(status) && at != USEARCH_DONE) {
        int32 matched = usearch_getMatchedLength(search.get());
        if (!diacritical || Compare(text + at, matched, pattern, patternLength, true) == CR_EQUAL) {
            *matchedLength = matched;
            return at + 1;
        }
        at = last ? usearch_previous(search.get(), &status) : usearch_next(search.get(), &status);
    }
    return 0;
}

VString XPosixStringCompare::GetVersion() const {
    VString version;
    if (!IsValid()) return version;
    UVersionInfo info;
    ucol_getVersion(fSensitive, info);
    char text[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(info, text);
    version.FromCString(text);
    return version;
}

} // namespace vela
