#pragma once

#include "intl/VCollator.h"
#include "intl/platform/XPosixStringCompare.h"

namespace vela {

class VIntlMgr;

// The collator of every international manager: the dialect's locale-aware comparison and search. With the
// diacritics flag, case and accents count (width does not); without it neither does.
class VCollator_system : public VCollator {
public:
    // A new collator (one reference; options 1, the default wildcard) of dialect, in the locale of manager
    // when given, else in the dialect's own; null when no collation can be had.
    static VCollator_system* Create(uint32 dialect, const VIntlMgr* manager);

    CompareResult CompareString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                bool diacritical) const override;
    bool EqualString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                     bool diacritical) const override;
    int32 FindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                     bool diacritical, int32* matchedLength) const override;
    int32 ReversedFindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                             bool diacritical, int32* matchedLength) const override;
    VCollator* Clone() const override;
    // "icu:" and the version of the rules ("icu:153.112.0.0").
    void GetStringComparisonAlgorithmSignature(VString& out) const override;

private:
    VCollator_system(uint32 dialect, const std::string& localeID);
    VCollator_system(const VCollator_system& other) = default;

    XPosixStringCompare fCompare;
};

} // namespace vela
