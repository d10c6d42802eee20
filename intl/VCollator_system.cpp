#include "intl/VCollator_system.h"

#include "intl/VIntlMgr.h"

namespace vela {

VCollator_system::VCollator_system(uint32 dialect, const std::string& localeID)
    : VCollator(dialect), fCompare(localeID) {}

VCollator_system* VCollator_system::Create(uint32 dialect, const VIntlMgr* manager) {
    std::string localeID;
    if (manager != nullptr) {
        localeID = manager->GetLocaleID();
    } else {
        VString tag;
        VIntlMgr::GetBCP47LanguageCode(dialect, tag);
        localeID = XPosixIntlMgr(tag).GetLocaleID();
    }
    auto* collator = new VCollator_system(dialect, localeID);
    if (!collator->fCompare.IsValid()) {
        collator->Release();
        return nullptr;
    }
    return collator;
}

CompareResult VCollator_system::CompareString(const UniChar* text, int32 textLength, const UniChar* pattern,
                                              int32 patternLength, bool diacritical) const {
    if (textLength <= 0) return patternLength > 0 ? CR_SMALLER : CR_EQUAL;
    if (patternLength <= 0) return CR_BIGGER;
    return fCompare.Compare(text, textLength, pattern, patternLength, diacritical);
}

bool VCollator_system::EqualString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                   bool diacritical) const {
    // No shortcut for empty texts: a text of ignorable characters equals an empty one.
    return fCompare.Compare(text, std::max(textLength, 0), pattern, std::max(patternLength, 0), diacritical) ==
           CR_EQUAL;
}

int32 VCollator_system::FindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                                   bool diacritical, int32* matchedLength) const {
    int32 matched = 0, position = 0;
    if (textLength > 0 && patternLength > 0) {
        position = fCompare.Find(text, textLength, pattern, patternLength, diacritical, false, &matched);
    } else if (textLength > 0) {
        position = 1; // an empty pattern matches at the start, with nothing matched
    }
    if (matchedLength != nullptr) *matchedLength = matched;
    return position;
}

int32 VCollator_system::ReversedFindString(const UniChar* text, int32 textLength, const UniChar* pattern,
                                           int32 patternLength, bool diacritical, int32* matchedLength) const {
    if (textLength <= 0 || patternLength <= 0) {
        return FindString(text, textLength, pattern, patternLength, diacritical, matchedLength);
    }
    // One backward search with overlapping matches finds the hit that repeated forward searches end on.
    int32 matched = 0;
    int32 position = fCompare.Find(text, textLength, pattern, patternLength, diacritical, true, &matched);
    if (matchedLength != nullptr) *matchedLength = matched;
    return position;
}

VCollator* VCollator_system::Clone() const {
    return new VCollator_system(*this);
}

void VCollator_system::GetStringComparisonAlgorithmSignature(VString& out) const {
    out.FromCString("icu:");
    out += fCompare.GetVersion();
}

} // namespace vela
