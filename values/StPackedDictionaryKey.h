#pragma once

#include "core/VTypes.h"

#include <string>

namespace vela {

class VString;

// The name of a packed dictionary entry (a bag attribute or element name): UTF-8 bytes with their hash
// computed once. A key either borrows the caller's bytes (which must outlive it) or owns a NUL-terminated
// copy. Names are compared byte for byte. A stored name holds at most kMaxLength bytes: every constructor
// turns a longer name into the empty name.
class StPackedDictionaryKey {
public:
    static constexpr size_t kMaxLength = 255;

    // Borrows a NUL-terminated UTF-8 name (null: the empty name); usable in constant initialisation.
    constexpr StPackedDictionaryKey(const char* name) noexcept : StPackedDictionaryKey() {
        size_t length = name != nullptr ? std::char_traits<char>::length(name) : 0;
        if (length <= kMaxLength) _Set(name, length);
    }
    // An owned copy of length bytes.
    StPackedDictionaryKey(const char* bytes, size_t length);
    // The text as UTF-8 (an owned copy).
    StPackedDictionaryKey(const VString& name);
    // 32-bit wide text, NUL-terminated, as UTF-8 (an owned copy).
    explicit StPackedDictionaryKey(const wchar_t* name);

    // Keys that borrow length bytes (no copy, no NUL needed): the caller keeps them alive.
    struct Borrowed {};
    // The UTF-8 form of length units of text, written into buffer, which the key borrows: no heap block, for
    // names that are looked up or stored and then forgotten. A name over kMaxLength bytes gives the empty name.
    StPackedDictionaryKey(const UniChar* text, int32 length, char (&buffer)[kMaxLength + 1]) noexcept;
    constexpr StPackedDictionaryKey(const char* bytes, size_t length, Borrowed) noexcept : StPackedDictionaryKey() {
        if (length <= kMaxLength) _Set(bytes, length);
    }
    // The same with the hash already known (it must be GetHashCode of the bytes): stored names keep theirs.
    constexpr StPackedDictionaryKey(const char* bytes, size_t length, uint32 hash, Borrowed) noexcept
        : StPackedDictionaryKey() {
        if (length > kMaxLength || bytes == nullptr) return;
        fKey = bytes;
        fLength = length;
        fHash = hash;
    }

    // A copy owns its own bytes when other owns its bytes, and borrows the same bytes otherwise.
    StPackedDictionaryKey(const StPackedDictionaryKey& other) : StPackedDictionaryKey() { _CopyFrom(other); }
    StPackedDictionaryKey(StPackedDictionaryKey&& other) noexcept;
    StPackedDictionaryKey& operator=(const StPackedDictionaryKey&) = delete;
    constexpr ~StPackedDictionaryKey() { delete[] fOwned; }

    // Makes this key a copy of other (see the copy constructor).
    void _CopyFrom(const StPackedDictionaryKey& other);

    // The name's bytes: GetKeyLength of them, not necessarily NUL-terminated (borrowed keys).
    const char* GetKey() const noexcept { return fKey; }
    size_t GetKeyLength() const noexcept { return fLength; }
    uint32 GetHashCode() const noexcept { return fHash; }
    bool OwnsBuffer() const noexcept { return fOwned != nullptr; }
    // Same bytes.
    bool Equals(const char* bytes, size_t length) const noexcept;
    bool operator==(const StPackedDictionaryKey& other) const noexcept { return Equals(other.fKey, other.fLength); }
    // The name decoded from UTF-8.
    void GetName(VString& out) const;

    // Of length bytes, in 32-bit arithmetic: h = length, then h = h * 257 + byte over every byte (up to 16 bytes)
    // or over the first 8 and the last 8 bytes (longer names). "a" gives 354, the empty name 0.
    static constexpr uint32 GetHashCode(const char* bytes, size_t length) noexcept {
        uint32 hash = uint32(length);
        if (length <= 16) {
            for (size_t i = 0; i < length; ++i)
                hash = hash * 257u + uint8(bytes[i]);
            return hash;
        }
        for (size_t i = 0; i < 8; ++i)
            hash = hash * 257u + uint8(bytes[i]);
        for (size_t i = length - 8; i < length; ++i)
            hash = hash * 257u + uint8(bytes[i]);
        return hash;
    }

    // The UTF-8 form of text cut to the longest run of whole characters that fits in kMaxLength bytes (paths cut
    // their segments so, where a plain name becomes empty).
    static StPackedDictionaryKey CutToMaxLength(const VString& text);

private:
    constexpr StPackedDictionaryKey() noexcept = default;
    constexpr void _Set(const char* bytes, size_t length) noexcept {
        fKey = bytes != nullptr ? bytes : "";
        fLength = bytes != nullptr ? length : 0;
        fHash = GetHashCode(fKey, fLength);
    }
    // Owns a NUL-terminated copy of length bytes.
    void _SetOwned(const char* bytes, size_t length);
    // Converts text to UTF-8; a text too long for kMaxLength bytes is cut (cut) or gives the empty name.
    void _SetFromText(const VString& text, bool cut);
    // Writes the UTF-8 form of length units of text into buffer and answers its bytes, as _SetFromText takes it.
    static size_t _ConvertText(const UniChar* text, int32 length, char (&buffer)[kMaxLength + 1], bool cut) noexcept;

    const char* fKey = "";
    size_t fLength = 0;
    char* fOwned = nullptr; // length + 1 bytes, NUL-terminated; null when the bytes are borrowed
    uint32 fHash = 0;
};

} // namespace vela
