#pragma once

#include "core/VString.h"
#include "core/VTypes.h"

#include <string>

struct UCollator;

namespace vela {

// Locale-aware comparison and search of UTF-16 text by ICU. Sensitive to case and diacritics: secondary
// strength with the case level on (width does not count); insensitive: primary strength. Both collators are
// only read once made, so one comparer serves concurrent readers.
class XPosixStringCompare {
public:
    // The collation of an ICU locale ("" the root); the root's when the locale's cannot be had.
    explicit XPosixStringCompare(const std::string& localeID);
    XPosixStringCompare(const XPosixStringCompare& other);
    XPosixStringCompare& operator=(const XPosixStringCompare&) = delete;
    ~XPosixStringCompare();

    // False when not even the root collation could be opened: then texts compare equal and are not found.
    bool IsValid() const noexcept { return fSensitive != nullptr && fInsensitive != nullptr; }
    // Whether the locale's own collation was opened (false: the root's stands in).
    bool IsLocaleOwn() const noexcept { return fLocaleOwn; }

    CompareResult Compare(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                          bool diacritical) const noexcept;
    // 1-based position of the first (or, last true, the last, overlapping) match of pattern in text, 0 when
    // none; *matchedLength the text units matched. Both texts are not empty.
    int32 Find(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength, bool diacritical,
               bool last, int32* matchedLength) const noexcept;
    // The rules' version, as ICU reports it ("153.112.0.0").
    VString GetVersion() const;

private:
    const UCollator* _Collator(bool diacritical) const noexcept { return diacritical ? fSensitive : fInsensitive; }
    void _Open();

    std::string fLocaleID;
    UCollator* fSensitive = nullptr;
    UCollator* fInsensitive = nullptr;
    bool fLocaleOwn = false;
};

} // namespace vela
