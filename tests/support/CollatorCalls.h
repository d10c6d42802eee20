#pragma once

#include "intl/VCollator.h"

#include <string>

namespace vela::test {

inline int32 Len(const std::u16string& s) {
    return int32(s.size());
}

// A collator's operations on whole UTF-16 strings, for tables of cases.
class CollatorCalls {
public:
    explicit CollatorCalls(const VCollator* collator) : fCalled(collator) {}

    CompareResult Compare(const std::u16string& a, const std::u16string& b, bool diacritical) const {
        return fCalled->CompareString(a.data(), Len(a), b.data(), Len(b), diacritical);
    }
    bool Equal(const std::u16string& a, const std::u16string& b, bool diacritical) const {
        return fCalled->EqualString(a.data(), Len(a), b.data(), Len(b), diacritical);
    }
    int32 Find(const std::u16string& text, const std::u16string& pattern, bool diacritical, int32* matched) const {
        return fCalled->FindString(text.data(), Len(text), pattern.data(), Len(pattern), diacritical, matched);
    }
    CompareResult Like(const std::u16string& text, const std::u16string& pattern, bool diacritical = false) const {
        return fCalled->CompareString_Like(text.data(), Len(text), pattern.data(), Len(pattern), diacritical);
    }
    bool EqualLike(const std::u16string& text, const std::u16string& pattern, bool diacritical = false) const {
        return fCalled->EqualString_Like(text.data(), Len(text), pattern.data(), Len(pattern), diacritical);
    }

private:
    const VCollator* fCalled;
};

} // namespace vela::test
