#include "intl/VCollator.h"

#include "core/VString.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace vela {

namespace {

// Reads a text as UTF-16 units, each code point replaced by its simple case folding when fold is set (a folded
// supplementary code point gives two units). Unpaired surrogates are read as they stand.
class FoldedReader {
public:
    FoldedReader(const UniChar* text, int32 length, bool fold) noexcept
        : fText(text), fEnd(text + std::max(length, 0)), fFold(fold) {}

    bool Next(UniChar& unit) noexcept {
        if (fPending != 0) {
            unit = std::exchange(fPending, UniChar(0));
            return true;
        }
        if (fText == fEnd) return false;
        UChar32 c = *fText++;
        if (!fFold) {
            unit = UniChar(c);
            return true;
        }
        if (U16_IS_LEAD(c) && fText != fEnd && U16_IS_TRAIL(*fText)) c = U16_GET_SUPPLEMENTARY(c, *fText++);
        c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        if (c <= 0xFFFF) {
            unit = UniChar(c);
        } else {
            unit = UniChar(U16_LEAD(c));
            fPending = UniChar(U16_TRAIL(c));
        }
        return true;
    }
    // True between code points: no second unit of a folded pair is waiting.
    bool AtBoundary() const noexcept { return fPending == 0; }
    // Source units read so far, counted from start.
    int32 Consumed(const UniChar* start) const noexcept { return int32(fText - start); }

private:
    const UniChar* fText;
    const UniChar* fEnd;
    bool fFold;
    UniChar fPending = 0;
};

CompareResult CompareUnits(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB) noexcept {
    int32 common = std::min(lengthA, lengthB);
    for (int32 i = 0; i < common; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? CR_SMALLER : CR_BIGGER;
    }
    return lengthA == lengthB ? CR_EQUAL : (lengthA < lengthB ? CR_SMALLER : CR_BIGGER);
}

CompareResult CompareFolded(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB) noexcept {
    FoldedReader readerA(a, lengthA, true), readerB(b, lengthB, true);
    for (;;) {
        UniChar unitA = 0, unitB = 0;
        bool moreA = readerA.Next(unitA), moreB = readerB.Next(unitB);
        if (!moreA || !moreB) return moreA == moreB ? CR_EQUAL : (moreA ? CR_BIGGER : CR_SMALLER);
        if (unitA != unitB) return unitA < unitB ? CR_SMALLER : CR_BIGGER;
    }
}

// Length of the text matched when pattern matches text at its start, case folded; -1 when it does not.
int32 MatchFoldedAt(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength) noexcept {
    FoldedReader readerT(text, textLength, true), readerP(pattern, patternLength, true);
    for (;;) {
        UniChar unitP = 0, unitT = 0;
        if (!readerP.Next(unitP)) return readerT.AtBoundary() ? readerT.Consumed(text) : -1;
        if (!readerT.Next(unitT) || unitT != unitP) return -1;
    }
}

// First case-folded match at a code point boundary: its 0-based index, or -1. Stops at the first match, so
// repeated searches over the rest of a text cost what they scan.
int32 FindFolded(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                 int32* matchedLength) noexcept {
    for (int32 i = 0; i < textLength; ++i) {
        if (i > 0 && U16_IS_TRAIL(text[i]) && U16_IS_LEAD(text[i - 1])) continue;
        int32 matched = MatchFoldedAt(text + i, textLength - i, pattern, patternLength);
        if (matched >= 0) {
            *matchedLength = matched;
            return i;
        }
    }
    return -1;
}

} // namespace

// ---- Primitives

CompareResult VCollator::CompareString(const UniChar* text, int32 textLength, const UniChar* pattern,
                                       int32 patternLength, bool diacritical) const {
    if (textLength <= 0) return patternLength > 0 ? CR_SMALLER : CR_EQUAL;
    if (patternLength <= 0) return CR_BIGGER;
    return diacritical ? CompareUnits(text, textLength, pattern, patternLength)
                       : CompareFolded(text, textLength, pattern, patternLength);
}

bool VCollator::EqualString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                            bool diacritical) const {
    textLength = std::max(textLength, 0);
    patternLength = std::max(patternLength, 0);
    if (diacritical) {
        return textLength == patternLength &&
               (textLength == 0 || std::memcmp(text, pattern, size_t(textLength) * sizeof(UniChar)) == 0);
    }
    return CompareFolded(text, textLength, pattern, patternLength) == CR_EQUAL;
}

int32 VCollator::FindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                            bool diacritical, int32* matchedLength) const {
    int32 matched = 0;
    int32 position = 0;
    if (textLength > 0 && patternLength > 0) {
        if (diacritical) {
            position = VString::FindRawString(text, textLength, pattern, patternLength);
            matched = position > 0 ? patternLength : 0;
        } else {
            position = FindFolded(text, textLength, pattern, patternLength, &matched) + 1;
        }
    } else if (textLength > 0) {
        position = 1; // an empty pattern matches at the start, with nothing matched
    }
    if (matchedLength != nullptr) *matchedLength = matched;
    return position;
}

int32 VCollator::ReversedFindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                    bool diacritical, int32* matchedLength) const {
    if (textLength <= 0 || patternLength <= 0) {
        return FindString(text, textLength, pattern, patternLength, diacritical, matchedLength);
    }
    int32 last = 0, lastLength = 0;
    int32 from = 0; // 0-based index where the next search starts
    while (from < textLength) {
        int32 length = 0;
        int32 hit = FindString(text + from, textLength - from, pattern, patternLength, diacritical, &length);
        if (hit == 0) break;
        last = from + hit;
        lastLength = length;
        from = last; // one unit behind the hit's start: hits may overlap
    }
    if (matchedLength != nullptr) *matchedLength = lastLength;
    return last;
}

bool VCollator::BeginsWithString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                 bool diacritical, int32* matchedLength) const {
    if (patternLength <= 0) {
        if (matchedLength != nullptr) *matchedLength = 0;
        return true;
    }
    int32 length = 0;
    bool begins = FindString(text, textLength, pattern, patternLength, diacritical, &length) == 1;
    if (matchedLength != nullptr) *matchedLength = begins ? length : 0;
    return begins;
}

bool VCollator::EndsWithString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                               bool diacritical, int32* matchedLength) const {
    if (matchedLength != nullptr) *matchedLength = 0;
    if (patternLength <= 0) return true;
    // A tail of the pattern's length that compares equal settles it without a search, which is costly to set up
    // (file extensions are tested so).
    if (patternLength <= textLength &&
        EqualString(text + textLength - patternLength, patternLength, pattern, patternLength, diacritical)) {
        if (matchedLength != nullptr) *matchedLength = patternLength;
        return true;
    }
    int32 last = ReversedFindString(text, textLength, pattern, patternLength, diacritical, nullptr);
    if (last == 0) return false;
    int32 tailLength = textLength - (last - 1);
    if (!EqualString(text + last - 1, tailLength, pattern, patternLength, diacritical)) return false;
    if (matchedLength != nullptr) *matchedLength = tailLength;
    return true;
}

VCollator* VCollator::Clone() const {
    return new VCollator(*this);
}

void VCollator::GetStringComparisonAlgorithmSignature(VString& out) const {
    out.FromCString("codeunits");
}

bool VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* pattern,
                                                              int32 patternLength) const noexcept {
    if (patternLength <= 0) return true;
    const UniChar* end = pattern + patternLength;
    const UniChar* wild = std::find(pattern, end, fWildChar);
    if (wild == end) return true;
    if (wild != end - 1) return false;
    auto isKana = [](UniChar c) {
        return (c >= 0x3040 && c <= 0x3094) || (c >= 0x309D && c <= 0x309E) || (c >= 0x30A1 && c <= 0x30FE) ||
               (c >= 0xFF65 && c <= 0xFF9F);
    };
    return std::none_of(pattern, end, isKana);
}

// ---- LIKE comparisons

CompareResult VCollator::CompareString_Like(const UniChar* text, int32 textLength, const UniChar* pattern,
                                            int32 patternLength, bool diacritical) const {
    if ((fOptions & 2) != 0) {
        return _CompareString_Like_IgnoreWildCharInMiddle(text, textLength, pattern, patternLength, diacritical);
    }
    return _CompareString_Like_SupportWildCharInMiddle(text, textLength, pattern, patternLength, diacritical);
}

namespace {

// Units that the quick walk of EqualString_Like passes over in both texts.
bool IsSkippedControl(UniChar c) noexcept {
    return c <= 8 || (c >= 14 && c <= 31) || c == 127;
}

UniChar AsciiUpper(UniChar c) noexcept {
    return c >= u'a' && c <= u'z' ? UniChar(c - (u'a' - u'A')) : c;
}

} // namespace

bool VCollator::EqualString_Like(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                 bool diacritical) const {
    textLength = std::max(textLength, 0);
    patternLength = std::max(patternLength, 0);
    // Plain ASCII is settled here; from the first unit that needs the collator (or the wildcard) on, both
    // remainders go to the LIKE comparison.
    auto needsCollator = [this](UniChar c) { return c == fWildChar || c >= 128 || c == u'`' || c == u'^'; };
    int32 i = 0, j = 0;
    for (;;) {
        while (i < textLength && IsSkippedControl(text[i]))
            ++i;
        while (j < patternLength && IsSkippedControl(pattern[j]))
            ++j;
        bool textEnded = i == textLength, patternEnded = j == patternLength;
        if (textEnded && patternEnded) return true;
        if ((!textEnded && needsCollator(text[i])) || (!patternEnded && needsCollator(pattern[j]))) {
            // With wildcards only at the ends, a wildcard met here is in the middle of the pattern: cutting the
            // walked part off would move it to the front, so the whole texts are compared instead.
            bool atWildcard = (!textEnded && text[i] == fWildChar) || (!patternEnded && pattern[j] == fWildChar);
            if (atWildcard && (fOptions & 2) != 0) i = j = 0;
            break;
        }
        if (textEnded || patternEnded) return false;
        UniChar a = text[i], b = pattern[j];
        if (!diacritical) {
            a = AsciiUpper(a);
            b = AsciiUpper(b);
        }
        if (a != b) return false;
        ++i;
        ++j;
    }
    return CompareString_Like(text + i, textLength - i, pattern + j, patternLength - j, diacritical) == CR_EQUAL;
}

CompareResult VCollator::_CompareString_Like_IgnoreWildCharInMiddle(const UniChar* text, int32 textLength,
                                                                    const UniChar* pattern, int32 patternLength,
                                                                    bool diacritical) const {
    textLength = std::max(textLength, 0);
    patternLength = std::max(patternLength, 0);
    bool starts = patternLength > 0 && pattern[0] == fWildChar;
    bool ends = patternLength > 0 && pattern[patternLength - 1] == fWildChar;
    // Without a match, a pattern shorter than the text orders after it (the comparison has no better answer).
    CompareResult byLength = patternLength < textLength ? CR_BIGGER : CR_SMALLER;

    if (!starts && !ends) return CompareString(text, textLength, pattern, patternLength, diacritical);
    if (starts && ends) {
        if (patternLength <= 2) return CR_EQUAL;
        int32 found = FindString(text, textLength, pattern + 1, patternLength - 2, diacritical, nullptr);
        return found > 0 ? CR_EQUAL : byLength;
    }
    if (ends) {
        if (BeginsWithString(text, textLength, pattern, patternLength - 1, diacritical, nullptr)) return CR_EQUAL;
        return CompareString(text, textLength, pattern, patternLength - 1, diacritical);
    }
    if (EndsWithString(text, textLength, pattern + 1, patternLength - 1, diacritical, nullptr)) return CR_EQUAL;
    return byLength;
}

CompareResult VCollator::_CompareString_Like_SupportWildCharInMiddle(const UniChar* text, int32 textLength,
                                                                     const UniChar* pattern, int32 patternLength,
                                                                     bool diacritical) const {
    textLength = std::max(textLength, 0);
    patternLength = std::max(patternLength, 0);
    if (patternLength == 0) return CompareString(text, textLength, pattern, 0, diacritical);

    int32 at = 0; // 0-based index in text
    int32 j = 0;  // 0-based index in pattern
    auto segmentEnd = [&](int32 from) {
        while (from < patternLength && pattern[from] != fWildChar)
            ++from;
        return from;
    };
    while (j < patternLength) {
        const UniChar* rest = text + at;
        int32 restLength = textLength - at;
        if (pattern[j] == fWildChar) {
            while (j < patternLength && pattern[j] == fWildChar)
                ++j;
            if (j == patternLength) return CR_EQUAL;
            int32 end = segmentEnd(j);
            const UniChar* segment = pattern + j;
            int32 segmentLength = end - j;
            if (end == patternLength) {
                // The last segment must end the text: take its last occurrence.
                int32 last = ReversedFindString(rest, restLength, segment, segmentLength, diacritical, nullptr);
                if (last == 0) return CR_SMALLER;
                return CompareString(rest + last - 1, restLength - (last - 1), segment, segmentLength, diacritical) ==
                               CR_EQUAL
                           ? CR_EQUAL
                           : CR_SMALLER;
            }
            int32 matched = 0;
            int32 found = FindString(rest, restLength, segment, segmentLength, diacritical, &matched);
            if (found == 0) return CR_SMALLER;
            at += found - 1 + matched;
            j = end;
            continue;
        }
        int32 end = segmentEnd(j);
        const UniChar* segment = pattern + j;
        int32 segmentLength = end - j;
        if (end == patternLength) return CompareString(rest, restLength, segment, segmentLength, diacritical);
        int32 matched = 0;
        if (!BeginsWithString(rest, restLength, segment, segmentLength, diacritical, &matched)) {
            return CompareString(rest, restLength, segment, segmentLength, diacritical);
        }
        at += matched;
        j = end;
    }
    return CompareString(text + at, textLength - at, pattern, 0, diacritical);
}

} // namespace vela
