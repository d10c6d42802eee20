#pragma once

#include "core/VTypes.h"
#include "json/VInlineString.h"

#include <cstring>
#include <utility>

namespace vela {

class VString;

// The name of an object's property. Names of up to kInlineUnits units (most of them) are kept in place: storing
// or dropping one then changes no shared count, which otherwise costs an atomic operation per property each
// time a property is made or freed. Longer names hold one share of a counted string buffer (VInlineString).
class VJSONPropertyName {
public:
    static constexpr int32 kInlineUnits = 6;

    VJSONPropertyName() noexcept { _SetInline(nullptr, 0); }
    // A copy shares a long name's buffer.
    VJSONPropertyName(const VJSONPropertyName& other) noexcept : fStorage(other.fStorage) {
        if (_IsShared()) _AsInlineString().Retain();
    }
    VJSONPropertyName(VJSONPropertyName&& other) noexcept : fStorage(other.fStorage) { other._SetInline(nullptr, 0); }
    VJSONPropertyName& operator=(VJSONPropertyName&& other) noexcept {
        if (this != &other) {
            _Release();
            fStorage = other.fStorage;
            other._SetInline(nullptr, 0);
        }
        return *this;
    }
    VJSONPropertyName& operator=(const VJSONPropertyName&) = delete;
    ~VJSONPropertyName() { _Release(); }

    // The name of text into out: a long text's buffer is shared (a counted copy when it cannot be). False, and
    // out empty, when memory runs out.
    static bool FromString(const VString& text, VJSONPropertyName& out);

    int32 GetLength() const noexcept { return _IsShared() ? fStorage.fShared.fLength : -1 - fStorage.fInline.fMarker; }
    // The units (not zero-terminated when kept in place).
    const UniChar* GetUnits() const noexcept {
        return _IsShared() ? fStorage.fShared.fBuffer : fStorage.fInline.fUnits;
    }
    bool EqualsUnits(const UniChar* units, int32 length) const noexcept {
        return length == GetLength() &&
               (length == 0 || std::memcmp(GetUnits(), units, size_t(length) * sizeof(UniChar)) == 0);
    }
    // out receives the name (sharing a long name's buffer).
    void ToString(VString& out) const;

private:
    // The first field tells the forms apart: a buffer's capacity (0 or more), or -1 - length for units in place.
    struct Shared {
        int32 fCapacity;
        int32 fLength;
        UniChar* fBuffer;
    };
    struct Inline {
        int32 fMarker;
        UniChar fUnits[kInlineUnits];
    };
    union Storage {
        Shared fShared;
        Inline fInline;
    };

    bool _IsShared() const noexcept { return fStorage.fShared.fCapacity >= 0; }
    VInlineString _AsInlineString() const noexcept {
        VInlineString text;
        text.fBuffer = fStorage.fShared.fBuffer;
        text.fLength = fStorage.fShared.fLength;
        text.fCapacity = fStorage.fShared.fCapacity;
        return text;
    }
    void _SetInline(const UniChar* units, int32 length) noexcept {
        fStorage.fInline.fMarker = -1 - length;
        if (length > 0) std::memcpy(fStorage.fInline.fUnits, units, size_t(length) * sizeof(UniChar));
    }
    void _Release() noexcept {
        if (!_IsShared()) return;
        VInlineString text = _AsInlineString();
        text.Release();
        _SetInline(nullptr, 0);
    }

    Storage fStorage;
};

} // namespace vela
