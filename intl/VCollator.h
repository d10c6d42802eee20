#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"

namespace vela {

class VString;

// Compares, searches and pattern-matches UTF-16 text for one dialect. Texts are (units, length); the
// diacritical flag true makes an operation sensitive to case and diacritics. The primitive comparison and
// search are virtual; begins-with, ends-with and the LIKE comparisons are built on them.
// This base answers by code units, folding case (simple Unicode case folding) when diacritics do not count;
// the system collator of the international layer overrides the primitives with the locale's rules.
class VCollator : public VObject, public IRefCountable {
public:
    static constexpr UniChar sDefaultWildChar = u'@';

    explicit VCollator(uint32 dialect = 0) noexcept : fDialect(dialect) {}

    // -1, 0 or 1. An empty text orders before any other; two empty texts are equal.
    virtual CompareResult CompareString(const UniChar* text, int32 textLength, const UniChar* pattern,
                                        int32 patternLength, bool diacritical) const;
    virtual bool EqualString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                             bool diacritical) const;
    // 1-based position of the first match, 0 when none; *matchedLength receives the text units matched.
    // An empty pattern is found at 1 (length 0) in a non-empty text.
    virtual int32 FindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                             bool diacritical, int32* matchedLength) const;
    // The last match (matches may overlap).
    virtual int32 ReversedFindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                     bool diacritical, int32* matchedLength) const;
    virtual bool BeginsWithString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                  bool diacritical, int32* matchedLength) const;
    virtual bool EndsWithString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                bool diacritical, int32* matchedLength) const;

    // LIKE comparisons: the wildcard character in the pattern matches any run of characters.
    CompareResult CompareString_Like(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                     bool diacritical) const;
    bool EqualString_Like(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                          bool diacritical) const;

    // A new collator (one reference) with the same dialect, wildcard and options.
    virtual VCollator* Clone() const;
    // Names the comparison rules, so that stored orderings can tell when they change ("codeunits" here).
    virtual void GetStringComparisonAlgorithmSignature(VString& out) const;
    // Whether a sorted index can serve the LIKE pattern by a range search: no wildcard, or one only at the end
    // of a pattern without Japanese kana.
    bool IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* pattern, int32 patternLength) const noexcept;

    virtual void SetWildChar(UniChar c) noexcept { fWildChar = c; }
    UniChar GetWildChar() const noexcept { return fWildChar; }
    virtual void Reset() noexcept { fWildChar = sDefaultWildChar; }
    // Options bit 2: wildcards only at the ends of a LIKE pattern; clear: anywhere.
    void SetOptions(uint8 options) noexcept { fOptions = options; }
    uint8 GetOptions() const noexcept { return fOptions; }
    uint32 GetDialect() const noexcept { return fDialect; }

protected:
    virtual CompareResult _CompareString_Like_IgnoreWildCharInMiddle(const UniChar* text, int32 textLength,
                                                                     const UniChar* pattern, int32 patternLength,
                                                                     bool diacritical) const;
    virtual CompareResult _CompareString_Like_SupportWildCharInMiddle(const UniChar* text, int32 textLength,
                                                                      const UniChar* pattern, int32 patternLength,
                                                                      bool diacritical) const;

private:
    uint32 fDialect;
    UniChar fWildChar = sDefaultWildChar;
    uint8 fOptions = 1;
};

} // namespace vela
