#pragma once

#include "core/VTypes.h"

#include <atomic>
#include <cstring>

namespace vela {

class VString;

// Each string payload built by a JSON value takes the next tag of this counter (relaxed: tags only need to change).
extern std::atomic<uint32> VInlineString_tag;

// A text held as a counted UTF-16 buffer of the string layout: the units, a zero, and an atomic 32-bit share count
// just behind the terminator slot. An empty text has no buffer. The record owns nothing by itself: its holder takes
// and drops shares with Retain and Release, and the holder that drops the last share frees the buffer.
struct VInlineString {
    // The pointer first: the record then takes 16 bytes, which keeps every JSON value small.
    UniChar* fBuffer = nullptr;
    int32 fLength = 0;
    int32 fCapacity = 0;

    bool IsEmpty() const noexcept { return fLength == 0; }
    int32 GetLength() const noexcept { return fLength; }
    // The units, zero-terminated; never null (an empty text answers a static zero).
    const UniChar* GetUnits() const noexcept { return fBuffer != nullptr ? fBuffer : &sZero; }

    // One more share of the buffer (nothing without buffer).
    void Retain() const noexcept;
    // Drops this record's share and empties the record.
    void Release() noexcept;
    // The shares of the buffer (0 without buffer); for tests and diagnostics.
    int32 GetShareCount() const noexcept;

    // True when both hold the same units (raw comparison).
    bool EqualsUnits(const UniChar* units, int32 length) const noexcept {
        if (length != fLength) return false;
        return length == 0 || fBuffer == units || std::memcmp(fBuffer, units, size_t(length) * sizeof(UniChar)) == 0;
    }

    // A record holding one share of text's buffer (a counted copy when text cannot share its own); empty for a
    // null or empty text, and when memory runs out.
    static VInlineString RetainFromString(const VString& text);
    // A record holding the only share of a new buffer with a copy of the length units; empty for no units, and
    // when memory runs out.
    static VInlineString FromUnits(const UniChar* units, int32 length) noexcept;
    // out shares the record's buffer (one more share); an empty record empties out.
    void ToString(VString& out) const;

private:
    static const UniChar sZero;
    std::atomic<int32>* _Count() const noexcept;
};

} // namespace vela
