#pragma once

#include "core/VTextConverter.h"

struct UConverter;

namespace vela {

// The ICU converter name that serves a character set (the system default, -2, is UTF-8), or null when
// ICU has none. Mac code pages map to their closest ICU table; Mac CJK sets map to their base standard.
const char* GetICUConverterName(CharSet charSet) noexcept;

// Decodes a legacy character set through an ICU converter. An instance keeps ICU's conversion state (shift
// states, output that did not fit), so it serves one text at a time: successive calls continue the same
// text. A character cut by the end of the source stays unconsumed; when the next call starts with those same
// bytes, the text goes on from there, otherwise the state is reset for a new text. Bytes that cannot be
// decoded become the set's substitution character and make the result false.
class XICUToUnicodeConverter : public VToUnicodeConverter {
public:
    explicit XICUToUnicodeConverter(CharSet charSet);
    ~XICUToUnicodeConverter() override;
    XICUToUnicodeConverter(const XICUToUnicodeConverter&) = delete;
    XICUToUnicodeConverter& operator=(const XICUToUnicodeConverter&) = delete;

    // False when ICU has no converter for the set; such a converter converts nothing.
    bool IsValid() const override { return fConverter != nullptr; }
    // A failure of ICU itself raises VE_TEXT_CONVERSION_FAILED, reports nothing done and answers false.
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override;
    int32 GetCharSize() const override;
    void Reset() override;

private:
    UConverter* fConverter = nullptr;
    bool fSubstituted = false; // set by ICU's callback during a call
    // The bytes of a character cut by the end of the last source, which ICU holds.
    uchar fPending[32];
    int32 fPendingCount = 0;
};

// Encodes UTF-16 into a legacy character set through an ICU converter. Every call treats its source as the
// end of the text (stateful sets get their closing sequence, a final lone surrogate is substituted); when the
// output is full, ICU keeps the bytes of the character it took and hands them out first on the next call.
// Characters the set cannot represent become "?"; only bytes really written are counted. No output room:
// true with nothing done. A null destination counts the bytes of the whole source.
class XICUFromUnicodeConverter : public VFromUnicodeConverter {
public:
    explicit XICUFromUnicodeConverter(CharSet charSet);
    ~XICUFromUnicodeConverter() override;
    XICUFromUnicodeConverter(const XICUFromUnicodeConverter&) = delete;
    XICUFromUnicodeConverter& operator=(const XICUFromUnicodeConverter&) = delete;

    bool IsValid() const override { return fConverter != nullptr; }
    // A failure of ICU itself raises VE_TEXT_CONVERSION_FAILED, reports nothing done and answers false.
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override;
    // The most bytes one character of the set takes.
    int32 GetCharSize() const override;

private:
    bool _Count(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, size_t* bytesProduced);

    UConverter* fConverter = nullptr;
};

// A new converter for a set that the built-in Unicode converters do not serve (legacy code pages and the system
// default, -2), which the caller releases; null when ICU has none for the set.
VToUnicodeConverter* NewICUToUnicodeConverter(CharSet charSet);
VFromUnicodeConverter* NewICUFromUnicodeConverter(CharSet charSet);

} // namespace vela
