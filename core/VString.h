#pragma once

#include "core/CharSet.h"
#include "values/VValue.h"
#include "values/VValueInfo.h"

#include <atomic>

namespace vela {

class VStream;
template <size_t Granularity, size_t Divisor, size_t Cap> class VMemoryBuffer;

// The one text type: mutable UTF-16, a value of kind 10. Positions seen by callers are 1-based.
// Storage has three tiers: an inline area inside the object, counted heap buffers shared between copies
// until one of them changes (copy-on-write), and wrapped caller buffers or constants that are never freed.
class VString : public VValueSingle {
public:
    static constexpr uint16 kKind = 10;
    // Flag bits of the value byte that belong to the string.
    static constexpr uint8 kForeignBuffer = 0x10; // never released by the string
    static constexpr uint8 kPrivateBuffer = 0x40; // no reference count, never shared
    static constexpr int32 kMaxLength = 0x7FFFFFFF;

    static const VString sEmpty;

    VString() noexcept;
    explicit VString(bool null) noexcept;
    explicit VString(UniChar c);
    VString(const UniChar* text);
    explicit VString(const wchar_t* text);
    VString(const char* text);
    VString(const void* bytes, size_t size, CharSet charSet);
    // Wraps a caller's zero-terminated buffer of byteSize bytes without copying; never frees it. The length
    // is counted up to the zero, within the buffer. byteSize SIZE_MAX means "as long as the text".
    VString(UniChar* buffer, size_t byteSize) noexcept;
    // Wraps a caller's buffer holding length units (a null buffer gives a null, empty string).
    VString(UniChar* buffer, int32 length, size_t byteSize) noexcept;
    VString(const VString& other);
    VString(VString&& other) noexcept;
    ~VString() override;

    VString& operator=(const VString& other) {
        FromString(other);
        return *this;
    }
    VString& operator=(VString&& other) noexcept;

    // A new string object (owned by the caller, released with delete) whose inline area holds n units.
    static VString* NewString(int32 n);

    // ---- Access
    int32 GetLength() const noexcept { return fLength; }
    bool IsEmpty() const noexcept { return fLength == 0; }
    int32 GetCapacity() const noexcept { return fMaxLength; }
    int32 GetInlineCapacity() const noexcept { return fInlineMaxLength; }
    // The units, zero-terminated; valid until the string changes.
    const UniChar* GetCPointer() const noexcept { return fString; }
    // The buffer made writable for n units (content kept); null when it cannot be had. Call Validate after.
    UniChar* GetCPointerForWrite(int32 n);
    // After writing units directly into the buffer: length n (0..capacity), terminator, not null, dirty.
    bool Validate(int32 n) noexcept;
    // Makes the buffer writable for n units, keeping the text (the length is left to the caller).
    bool EnsureSize(int32 n, bool keepContent = true) { return _ReallocBuffer(n, keepContent); }
    // 1-based; 0 or false out of range or on a null string.
    UniChar GetUniChar(int32 position) const noexcept;
    bool SetUniChar(int32 position, UniChar c);
    // True when the buffer is a counted heap buffer that copies may share.
    bool IsSharedBuffer() const noexcept;
    // The count of a shared buffer (0 for any other buffer); for tests and diagnostics.
    int32 GetSharedBufferRefCount() const noexcept;

    // ---- Assignment
    void FromString(const VString& other) override;
    void FromUniString(const UniChar* text, int32 n);
    void FromUniCString(const UniChar* text);
    // A one-unit text; 0 clears the string.
    void FromUniChar(UniChar c);
    void FromCString(const char* text);
    // Decodes size bytes of charSet (UTF-16 copies size / 2 units); answers the bytes consumed.
    size_t FromBlock(const void* bytes, size_t size, CharSet charSet);
    // Skips and honours a byte-order mark, or guesses the character set of unmarked text; answers the set used.
    CharSet FromBlockWithOptionalBOM(const void* bytes, size_t size, CharSet charSet);
    size_t AppendBlock(const void* bytes, size_t size, CharSet charSet);
    void Swap(VString& other) noexcept;

    // ---- Appending
    VString& AppendUniChar(UniChar c);
    VString& AppendUniChars(const UniChar* text, int32 n);
    VString& AppendUniCString(const UniChar* text);
    VString& AppendString(const VString& other);
    // ASCII bytes one by one; with any byte above 0x7F the whole text is decoded as UTF-8.
    VString& AppendCString(const char* text);
    VString& operator+=(const VString& other) { return AppendString(other); }
    VString& operator+=(UniChar c) { return AppendUniChar(c); }
    // Shortens to n units (negative: 0).
    void Truncate(int32 n);

    // ---- Encoding
    // Encodes into dest (size bytes); answers the bytes produced. The prefix is the count (16-bit units for
    // UTF-16, a byte otherwise; 0 when it does not fit) and the zero terminator one unit of the set.
    size_t ToBlock(void* dest, size_t size, CharSet charSet, bool zeroTerminated, bool lengthPrefixed) const;
    // Resets the buffer's used size and fills it with the text in charSet; false without converter.
    bool ToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, CharSet charSet) const;

    // ---- Counted buffers shared with other owners
    // A counted buffer holding the text (+1 count), which the caller releases with ReleaseSharedBuffer; null
    // and 0, 0 for an empty or null string or when memory runs out.
    UniChar* RetainBuffer(int32* length, int32* capacity) const;
    // Drops one count of a counted buffer of this layout, freeing it at zero.
    static void ReleaseSharedBuffer(UniChar* buffer, int32 capacity) noexcept;
    // Makes this string share a counted buffer (+1 count); a null buffer empties it.
    void ShareBuffer(UniChar* buffer, int32 length, int32 capacity);

    // ---- Value kind 10
    const VValueInfo* GetValueInfo() const override;
    void Clear() override;
    VValue* Clone() const override { return new VString(*this); }
    CharSet DebugDump(char* buffer, int& length) const override;
    void GetString(VString& out) const override { out.FromString(*this); }
    void GetValue(VValueSingle& out) const override { out.FromString(*this); }
    void FromValue(const VValueSingle& value) override;
    bool FromValueSameKind(const VValue* other) override;
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    // Stored form: int32 length in machine order, then the units, no terminator.
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, size_t limit = 0) const override;
    size_t GetSpace(size_t limit = 0) const override;

    // Stream form: int32 minus the length, then the units in the stream's order; empty is a single 0.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    // An over-estimate for reserving room: 2 × length + 10 (4 when empty).
    size_t GetSizeInStream() const noexcept { return fLength > 0 ? size_t(fLength) * 2 + 10 : 4; }

    // 32-bit hash of the length and up to 16 units (first and last 8 of longer strings).
    uint32 GetHashValue() const noexcept;

    // Units up to the zero; 0 for null.
    static int32 UniCStringLength(const UniChar* text) noexcept;
    // Size in units of a new heap block for a string holding old units that must hold n; 0 when too large.
    static int64 ComputeProgressiveResize(int32 oldLength, int32 newLength) noexcept;

protected:
    // For strings with a larger inline area: area holds inlineCapacity + 1 units and lives as long as the object.
    VString(UniChar* area, int32 inlineCapacity) noexcept;

    void DoNullChanged() override;

    // Gives the string a writable buffer of its own for n units; keep copies min(length, n) units. False (and
    // library error 107 raised) when no buffer can be had; the text is then unchanged.
    bool _ReallocBuffer(int32 n, bool keep);
    // True when the buffer may be written in place for n units.
    bool _IsWritableFor(int32 n) const noexcept;
    // Empties the text, back on the inline area, without touching the null and dirty flags.
    void _Clear() noexcept;
    // Ends a modification: terminator at length, not null, dirty.
    void _Modified() noexcept;
    bool _MakeWritable(int32 n) { return _IsWritableFor(n) || _ReallocBuffer(n, true); }

private:
    bool _IsInline() const noexcept { return fString == fInline; }
    void _ReleaseBuffer() noexcept;
    std::atomic<int32>* _Count() const noexcept { return CountOf(fString, fMaxLength); }
    static std::atomic<int32>* CountOf(UniChar* buffer, int32 capacity) noexcept;
    void _ResetToInline() noexcept;
    void _CopyFrom(const UniChar* text, int32 n);
    void _StealFrom(VString& other) noexcept;
    VError _ReadOldStreamForm(VStream* stream, int32 n);

    UniChar* fString;
    int32 fLength = 0;
    int32 fMaxLength;
    int32 fInlineMaxLength;
    UniChar* fInline;
    UniChar fTerminator = 0; // the inline area of a plain string
};

// A string with an inline area of N units: texts up to N units need no heap block.
template <int32 N> class VStr : public VString {
public:
    VStr() noexcept : VString(fArea, N) {}
    VStr(const VString& other) : VStr() { FromString(other); }
    VStr(const VStr& other) : VStr() { FromString(other); }
    VStr(const char* text) : VStr() { FromCString(text); }
    VStr(const UniChar* text) : VStr() { FromUniCString(text); }
    VStr& operator=(const VString& other) {
        FromString(other);
        return *this;
    }
    VStr& operator=(const VStr& other) {
        FromString(other);
        return *this;
    }

private:
    UniChar fArea[N + 1];
};

using VStr4 = VStr<4>;
using VStr15 = VStr<15>;
using VStr31 = VStr<31>;
using VStr63 = VStr<63>;
using VStr255 = VStr<255>;

// Descriptor of kind 10.
class VString_info : public VValueInfo {
public:
    VString_info() : VValueInfo(VString::kKind, VString::kKind) {}
    VValue* Generate() const override { return new VString; }
    VValue* LoadFromPtr(const void* data, bool swap = false) const override;
    // Swaps the length and every unit of a stored form; nativeOrder tells whether the length is readable as is.
    void* ByteSwapPtr(void* data, bool nativeOrder) const override;
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool diacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical = false) const override;
    size_t GetSizeOfValueDataPtr(const void* data) const override;
    size_t GetAvgSpace() const override { return 64; }
};

bool operator==(const VString& a, const VString& b) noexcept;
inline bool operator!=(const VString& a, const VString& b) noexcept {
    return !(a == b);
}
VString operator+(const VString& a, const VString& b);

} // namespace vela
