#pragma once

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "intl/VCollator.h"
#include "intl/VIntlMgr.h"

#include <string>
#include <vector>

namespace vela::test {

// One call that reached the fake: the operation, the two texts exactly as passed (so their lengths show) and
// the diacritical flag.
struct IntlCall {
    std::string op;
    std::u16string a;
    std::u16string b;
    bool diacritical = false;

    bool operator==(const IntlCall&) const = default;
};

inline std::u16string Text(const UniChar* units, int32 length) {
    return length > 0 ? std::u16string(units, size_t(length)) : std::u16string();
}

// A collator that records the searches it is asked for (not the ones it makes itself) and answers them as the
// default collator does.
class RecordingCollator : public VCollator {
public:
    mutable std::vector<IntlCall> fCalls;

    int32 FindString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                     bool diacritical, int32* matchedLength) const override {
        StRecord record(*this, "FindString", text, textLength, pattern, patternLength, diacritical);
        return VCollator::FindString(text, textLength, pattern, patternLength, diacritical, matchedLength);
    }
    bool BeginsWithString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                          bool diacritical, int32* matchedLength) const override {
        StRecord record(*this, "BeginsWithString", text, textLength, pattern, patternLength, diacritical);
        return VCollator::BeginsWithString(text, textLength, pattern, patternLength, diacritical, matchedLength);
    }
    bool EndsWithString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength,
                        bool diacritical, int32* matchedLength) const override {
        StRecord record(*this, "EndsWithString", text, textLength, pattern, patternLength, diacritical);
        return VCollator::EndsWithString(text, textLength, pattern, patternLength, diacritical, matchedLength);
    }

private:
    // Records the outermost call only.
    class StRecord {
    public:
        StRecord(const RecordingCollator& owner, const char* op, const UniChar* a, int32 lengthA, const UniChar* b,
                 int32 lengthB, bool diacritical)
            : fOwner(owner) {
            if (fOwner.fDepth++ == 0) fOwner.fCalls.push_back({op, Text(a, lengthA), Text(b, lengthB), diacritical});
        }
        ~StRecord() { --fOwner.fDepth; }

    private:
        const RecordingCollator& fOwner;
    };
    mutable int fDepth = 0;
};

// A manager that records the comparisons, case mappings and white-space questions it is asked and answers
// with fixed results (fCompareResult, fEqualResult; IsSpace: only '_').
class RecordingIntlMgr : public VIntlMgr {
public:
    explicit RecordingIntlMgr(RecordingCollator* collator) : VIntlMgr(collator) {}

    mutable std::vector<IntlCall> fCalls;
    CompareResult fCompareResult = CR_BIGGER;
    bool fEqualResult = true;

    CompareResult CompareString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                                bool diacritical) const override {
        fCalls.push_back({"CompareString", Text(a, lengthA), Text(b, lengthB), diacritical});
        return fCompareResult;
    }
    bool EqualString(const UniChar* a, int32 lengthA, const UniChar* b, int32 lengthB,
                     bool diacritical) const override {
        fCalls.push_back({"EqualString", Text(a, lengthA), Text(b, lengthB), diacritical});
        return fEqualResult;
    }
    CompareResult CompareString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern, int32 patternLength,
                                     bool diacritical) const override {
        fCalls.push_back({"CompareString_Like", Text(a, lengthA), Text(pattern, patternLength), diacritical});
        return fCompareResult;
    }
    bool EqualString_Like(const UniChar* a, int32 lengthA, const UniChar* pattern, int32 patternLength,
                          bool diacritical) const override {
        fCalls.push_back({"EqualString_Like", Text(a, lengthA), Text(pattern, patternLength), diacritical});
        return fEqualResult;
    }
    void ToUpperLowerCase(VString& text, bool, bool upper) const override {
        fCalls.push_back({upper ? "ToUpper" : "ToLower", Text(text.GetCPointer(), text.GetLength()), u"", false});
    }
    bool IsSpace(UniChar c, bool flag) const override {
        fCalls.push_back({"IsSpace", std::u16string(1, c), u"", flag});
        return c == u'_';
    }
};

// A recording manager and collator, current on the calling thread while the fixture lives.
class FakeIntlMgrScope {
public:
    FakeIntlMgrScope()
        : fCollator(VRefPtr<RecordingCollator>::Adopt(new RecordingCollator)),
          fManager(VRefPtr<RecordingIntlMgr>::Adopt(new RecordingIntlMgr(fCollator.Get()))), fScope(fManager.Get()) {}

    RecordingIntlMgr& Manager() const { return *fManager; }
    RecordingCollator& Collator() const { return *fCollator; }

private:
    VRefPtr<RecordingCollator> fCollator;
    VRefPtr<RecordingIntlMgr> fManager;
    StCurrentIntlMgr fScope;
};

} // namespace vela::test
