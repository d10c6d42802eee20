#pragma once

#include "core/CharSet.h"
#include "core/VObject.h"

#include <vector>

namespace vela {

class VString;
class VToUnicodeConverter;
class VFromUnicodeConverter;

// The process-wide registry of text converters, the character-set table and byte-order-mark helpers.
class VTextConverters : public VObject {
public:
    // The one instance, made on first use (thread-safe) and kept for the process.
    static VTextConverters* Get();

    // A retained converter for the set, never null: an unknown set gives an invalid (void) converter.
    VToUnicodeConverter* RetainToUnicodeConverter(CharSet charSet);
    VFromUnicodeConverter* RetainFromUnicodeConverter(CharSet charSet);
    // The shared UTF-8 converters (not retained).
    VToUnicodeConverter* GetStdLibToUnicodeConverter();
    VFromUnicodeConverter* GetStdLibFromUnicodeConverter();

    // Empties text and decodes the bytes into it.
    bool ConvertToVString(const void* source, size_t sourceBytes, CharSet charSet, VString& text);
    bool ConvertFromVString(const VString& text, int32* unitsConsumed, void* destination, size_t destinationBytes,
                            size_t* bytesProduced, CharSet charSet);

    // Table lookups; the first matching row wins. Names compare without regard to case.
    void GetNameFromCharSet(CharSet charSet, VString& name) const;
    CharSet GetCharSetFromName(const VString& name) const;
    int32 GetMIBEnumFromCharSet(CharSet charSet) const;
    int32 GetMIBEnumFromName(const VString& name) const;
    CharSet GetCharSetFromMIBEnum(int32 mib) const;
    void GetNameFromMIBEnum(int32 mib, VString& name) const;
    void EnumWebCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets) const;
    void EnumCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets) const;

    // Looks for a byte-order mark; *bomLength and *charSet receive what was found (0 and VTC_Unknown if none).
    static bool ParseBOM(const void* bytes, size_t size, size_t* bomLength, CharSet* charSet);
    // The mark of a set and its length (null and 0 for sets without one).
    static const uchar* GetBOMForCharSet(CharSet charSet, size_t* length);
    // True for well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF) that does not end
    // inside a character; n < 1 is true.
    static bool DetectUTF8(const uchar* bytes, int32 n);
    // Guesses the set of unmarked text, storing the guess in *ioCharSet; false when there is none.
    static bool GuessCharsetWithNoBom(const void* bytes, int32 size, CharSet* ioCharSet, bool testUTF8);

private:
    VTextConverters();
    ~VTextConverters() override;

    // The shared stateless converters, one reference each, released by the destructor.
    VToUnicodeConverter* fToNative16;  // UTF-16 in the machine's order
    VToUnicodeConverter* fToSwapped16; // UTF-16 in the opposite order
    VToUnicodeConverter* fToUTF32;     // UCS-4 little-endian
    VToUnicodeConverter* fToUTF32Raw;  // raw 32-bit little-endian
    VToUnicodeConverter* fToUTF8;
    VFromUnicodeConverter* fFromNative16;
    VFromUnicodeConverter* fFromSwapped16;
    VFromUnicodeConverter* fFromUTF32;
    VFromUnicodeConverter* fFromUTF32Raw;
    VFromUnicodeConverter* fFromUTF8;
};

} // namespace vela
