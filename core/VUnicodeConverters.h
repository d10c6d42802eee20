#pragma once

#include "core/VTextConverter.h"

namespace vela {

// The built-in converters between UTF-16 and the Unicode byte forms. They hold no state between calls, so
// one instance may serve every task at once. "Swap" means that the external byte order is the opposite of
// the machine's.

// UTF-16 in the machine's order: whole units are copied.
class VToUnicodeConverter_Null : public VToUnicodeConverter {
public:
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override;
    // Appends the whole units of source; an odd last byte stays unconsumed.
    bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& text) override;
};

class VFromUnicodeConverter_Null : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override;
    int32 GetCharSize() const override { return 2; }
};

// UTF-16 in the opposite order: whole units are copied with their two bytes exchanged.
class VToUnicodeConverter_Swap : public VToUnicodeConverter {
public:
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override;
    bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& text) override;
};

class VFromUnicodeConverter_Swap : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override;
    int32 GetCharSize() const override { return 2; }
};

// UCS-4: one 32-bit code point per character; surrogate pairs are joined and split. A surrogate value in
// the source, or a value above U+10FFFF, makes the result false (the first stops, the second is skipped).
class VToUnicodeConverter_UTF32 : public VToUnicodeConverter {
public:
    explicit VToUnicodeConverter_UTF32(bool swap) noexcept : fSwap(swap) {}
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override;

private:
    const bool fSwap;
};

// Stops with false at a lone surrogate (including a high one at the end) and when the output is full.
class VFromUnicodeConverter_UTF32 : public VFromUnicodeConverter {
public:
    explicit VFromUnicodeConverter_UTF32(bool swap) noexcept : fSwap(swap) {}
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override;
    int32 GetCharSize() const override { return 4; }

private:
    const bool fSwap;
};

// Raw 32-bit units, one per UTF-16 unit, without surrogate logic (the form of 32-bit wide literals):
// decoding keeps the low 16 bits of each unit, encoding zero-extends.
class VToUnicodeConverter_UTF32_Raw : public VToUnicodeConverter {
public:
    explicit VToUnicodeConverter_UTF32_Raw(bool swap) noexcept : fSwap(swap) {}
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override;

private:
    const bool fSwap;
};

class VFromUnicodeConverter_UTF32_Raw : public VFromUnicodeConverter {
public:
    explicit VFromUnicodeConverter_UTF32_Raw(bool swap) noexcept : fSwap(swap) {}
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override;
    int32 GetCharSize() const override { return 4; }

private:
    const bool fSwap;
};

// UTF-8, decoded leniently: trailing bytes are not checked ("C3 41" gives U+0081 and swallows the 'A'),
// overlong forms and encoded surrogates are accepted, a stray continuation byte 0x80-0xBF gives U+0080-U+00BF.
// Decoded text must therefore never be used for security checks; validate with VTextConverters::DetectUTF8
// first. Values above U+10FFFF become "?" and make the result false. A sequence cut by the end of the source,
// or whose units do not fit, stays unconsumed.
class VToUnicodeConverter_UTF8 : public VToUnicodeConverter {
public:
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override;
};

// A high surrogate followed by a low one gives one 4-byte sequence; any other surrogate is encoded alone
// (3 bytes) and the unit after it is left for the next character, the last unit alike: every text survives
// a round trip through UTF-8. A sequence that does not fit stops the conversion; a null destination only counts the
// bytes (within destinationBytes). Always true.
class VFromUnicodeConverter_UTF8 : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override;
    // A unit takes at most 3 bytes (a surrogate pair takes 4 for two units).
    int32 GetCharSize() const override { return 3; }
};

// No character set: invalid, converts nothing and answers false.
class VToUnicodeConverter_Void : public VToUnicodeConverter {
public:
    bool IsValid() const override { return false; }
    bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                 int32 destinationUnits, int32* unitsProduced) override;
    int32 GetCharSize() const override { return 1; }
};

class VFromUnicodeConverter_Void : public VFromUnicodeConverter {
public:
    bool IsValid() const override { return false; }
    bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                 size_t destinationBytes, size_t* bytesProduced) override;
    int32 GetCharSize() const override { return 2; }
};

} // namespace vela
