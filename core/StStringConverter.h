#pragma once

#include "core/CharSet.h"
#include "core/VObject.h"

#include <string>

namespace vela {

class VString;
class VFromUnicodeConverter;

// Scoped conversion of UTF-16 text into bytes of one character set, for C interfaces. Short results live in a
// 512-byte area of the object itself; longer ones in a heap block the object owns. The bytes are valid until
// the next conversion or the object's end.
class StStringConverterBase : public VObject {
public:
    static constexpr size_t kInlineSize = 512;
    // The most terminator bytes a conversion writes behind the result.
    static constexpr size_t kMaxTerminatorBytes = 4;

    // Retains the converter of charSet; mode is the line-end form applied before converting.
    StStringConverterBase(CharSet charSet, ECarriageReturnMode mode);
    // Copies the converted bytes (into a heap block of the same capacity when the source had one).
    StStringConverterBase(const StStringConverterBase& other);
    // Takes over the source's heap block (the source is left empty on its own area) or copies its bytes.
    StStringConverterBase(StStringConverterBase&& other) noexcept;
    StStringConverterBase& operator=(const StStringConverterBase&) = delete;
    StStringConverterBase& operator=(StStringConverterBase&&) = delete;
    ~StStringConverterBase() override;

    // True when the last conversion encoded every unit without fault.
    bool IsOK() const noexcept { return fOK; }
    // Bytes of the result, without the terminator.
    size_t GetSize() const noexcept { return fSize; }
    const void* GetData() const noexcept { return fData; }

    // Encodes length units (no line-end conversion) and writes terminatorBytes (at most 4) zero bytes behind
    // them. A failure (no converter for the set, no memory, a unit the set cannot take at the end) leaves an
    // empty, terminated result and answers false.
    bool _ConvertString(const UniChar* text, int32 length, size_t terminatorBytes);

protected:
    char* fData;
    size_t fSize = 0;
    ECarriageReturnMode fMode;
    bool fOK = false;
    size_t fCapacity = kInlineSize;
    void* fHeapBlock = nullptr;
    VFromUnicodeConverter* fConverter = nullptr;
    char fInline[kInlineSize];

    // Writes terminatorBytes zero bytes behind the result.
    void _Terminate(size_t terminatorBytes) noexcept;

private:
    void _CopyBytesFrom(const StStringConverterBase& other) noexcept;
};

template <class Char> class StStringConverter;

// Zero-terminated bytes of a string in a chosen character set: StStringConverter<char> bytes(text, VTC_UTF_8);
// then bytes.GetCPointer().
template <> class StStringConverter<char> : public StStringConverterBase {
public:
    // Converts text at once; mode eCRM_NATIVE keeps its line ends.
    StStringConverter(const VString& text, CharSet charSet, ECarriageReturnMode mode = eCRM_NATIVE);
    StStringConverter(const StStringConverter&) = default;
    StStringConverter(StStringConverter&&) noexcept = default;

    // Converts another text (line ends first in the mode's form); answers the bytes, always zero-terminated.
    const char* ConvertString(const VString& text);
    const char* GetCPointer() const noexcept { return fData; }
};

// The UTF-8 form of the text.
std::string to_string(const VString& text);

} // namespace vela
