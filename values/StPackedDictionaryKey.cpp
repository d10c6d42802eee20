#include "values/StPackedDictionaryKey.h"

#include "core/VString.h"
#include "core/VUnicodeConverters.h"

#include <cstring>
#include <utility>

namespace vela {

StPackedDictionaryKey::StPackedDictionaryKey(const char* bytes, size_t length) {
    if (bytes == nullptr || length > kMaxLength) length = 0;
    _SetOwned(bytes, length);
}

StPackedDictionaryKey::StPackedDictionaryKey(const VString& name) {
    _SetFromText(name, false);
}

StPackedDictionaryKey::StPackedDictionaryKey(const wchar_t* name) {
    _SetFromText(VString(name), false);
}

StPackedDictionaryKey::StPackedDictionaryKey(StPackedDictionaryKey&& other) noexcept
    : fKey(other.fKey), fLength(other.fLength), fOwned(std::exchange(other.fOwned, nullptr)), fHash(other.fHash) {
    other._Set("", 0);
}

void StPackedDictionaryKey::_CopyFrom(const StPackedDictionaryKey& other) {
    if (this == &other) return;
    if (other.fOwned != nullptr) {
        _SetOwned(other.fKey, other.fLength);
        return;
    }
    delete[] std::exchange(fOwned, nullptr);
    fKey = other.fKey;
    fLength = other.fLength;
    fHash = other.fHash;
}

void StPackedDictionaryKey::_SetOwned(const char* bytes, size_t length) {
    // Always length + 1 bytes ending with a NUL: copies never read past what they own.
    char* owned = new char[length + 1];
    if (length > 0) std::memcpy(owned, bytes, length);
    owned[length] = 0;
    delete[] std::exchange(fOwned, owned);
    _Set(owned, length);
}

StPackedDictionaryKey::StPackedDictionaryKey(const UniChar* text, int32 length,
                                             char (&buffer)[kMaxLength + 1]) noexcept {
    const size_t produced = _ConvertText(text, length, buffer, false);
    _Set(buffer, produced);
}

size_t StPackedDictionaryKey::_ConvertText(const UniChar* text, int32 units, char (&buffer)[kMaxLength + 1],
                                           bool cut) noexcept {
    // Names are mostly ASCII: those go byte for byte.
    int32 ascii = 0;
    while (ascii < units && ascii < int32(kMaxLength) && text[ascii] < 0x80) {
        buffer[ascii] = char(text[ascii]);
        ++ascii;
    }
    if (ascii == units) return size_t(units);
    int32 consumed = 0;
    size_t produced = 0;
    VFromUnicodeConverter_UTF8 converter;
    converter.Convert(text, units, &consumed, buffer, kMaxLength, &produced);
    // The converter keeps a final high surrogate for a low half that will never come: it stands alone.
    if (consumed == units - 1 && produced + 3 <= kMaxLength) {
        UniChar last = text[consumed];
        if (last >= 0xD800 && last <= 0xDBFF) {
            buffer[produced++] = char(0xE0 | (last >> 12));
            buffer[produced++] = char(0x80 | ((last >> 6) & 0x3F));
            buffer[produced++] = char(0x80 | (last & 0x3F));
            ++consumed;
        }
    }
    return consumed < units && !cut ? 0 : produced;
}

void StPackedDictionaryKey::_SetFromText(const VString& text, bool cut) {
    char buffer[kMaxLength + 1];
    _SetOwned(buffer, _ConvertText(text.GetCPointer(), text.GetLength(), buffer, cut));
}

StPackedDictionaryKey StPackedDictionaryKey::CutToMaxLength(const VString& text) {
    StPackedDictionaryKey key;
    key._SetFromText(text, true);
    return key;
}

bool StPackedDictionaryKey::Equals(const char* bytes, size_t length) const noexcept {
    return length == fLength && (length == 0 || std::memcmp(bytes, fKey, length) == 0);
}

void StPackedDictionaryKey::GetName(VString& out) const {
    out.Clear();
    if (fLength > 0) out.FromBlock(fKey, fLength, VTC_UTF_8);
}

} // namespace vela
