#include "values/VUUID.h"

#include "core/VString.h"
#include "values/platform/XPosixUUID.h"

#include <cstring>

namespace vela {

const VUUID_info VUUID::sInfo;
const VUUID VUUID::sNullUUID;

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of a hexadecimal digit of either case, or -1.
int HexValue(uint32 c) noexcept {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

CompareResult OrderBytes(const void* a, const void* b) noexcept {
    int order = std::memcmp(a, b, 16);
    return order == 0 ? CR_EQUAL : (order > 0 ? CR_BIGGER : CR_SMALLER);
}

} // namespace

VUUID::VUUID() noexcept {
    fFlags = kNullFlag | kDirtyFlag;
}

VUUID::VUUID(unsigned char generate) : VUUID() {
    if (generate != 0) Regenerate();
}

VUUID::VUUID(const VUUIDBuffer& buffer) : VUUID() {
    FromBuffer(buffer);
}

VUUID::VUUID(const VString& text) : VUUID() {
    FromString(text);
}

VUUID::VUUID(const char* text) : VUUID() {
    FromBuffer(text);
}

VUUID::VUUID(const VUUID& other) : VValueSingleWithoutOptions(other) {
    std::memcpy(fBytes, other.fBytes, sizeof(fBytes));
}

VUUID& VUUID::operator=(const VUUID& other) {
    if (this != &other) FromVUUID(other);
    return *this;
}

VUUID::~VUUID() = default;

const VValueInfo* VUUID::GetValueInfo() const {
    return &sInfo;
}

bool VUUID::_IsZero() const noexcept {
    for (uint8 byte : fBytes)
        if (byte != 0) return false;
    return true;
}

void VUUID::_SetBytes(const uint8* bytes, bool nullWhenZero) {
    std::memmove(fBytes, bytes, sizeof(fBytes));
    SetNull(nullWhenZero && _IsZero());
    fFlags |= kDirtyFlag;
    _RefreshCache();
}

void VUUID::_RefreshCache() {
    if (fCachedText == nullptr) return;
    GetString(*fCachedText);
    fCachedText->SetNull(IsNull());
}

void VUUID::DoNullChanged() {
    if (IsNull()) std::memset(fBytes, 0, sizeof(fBytes));
    _RefreshCache();
}

void VUUID::FromBuffer(const VUUIDBuffer& buffer) {
    _SetBytes(buffer.fBytes, true);
}

void VUUID::FromBuffer(const char* text) {
    size_t length = text != nullptr ? std::strlen(text) : 0;
    uint8 bytes[16] = {};
    if (length == size_t(kTextLength)) {
        for (size_t i = 0; i < sizeof(bytes); ++i) {
            int high = HexValue(uchar(text[2 * i]));
            int low = HexValue(uchar(text[2 * i + 1]));
            bytes[i] = uint8(((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low));
        }
    } else if (length <= sizeof(bytes)) {
        if (length > 0) std::memcpy(bytes, text, length);
    } else {
        std::memcpy(bytes, fBytes, sizeof(bytes));
    }
    _SetBytes(bytes, true);
}

void VUUID::ToBuffer(VUUIDBuffer& buffer) const noexcept {
    std::memcpy(buffer.fBytes, fBytes, sizeof(fBytes));
}

bool VUUID::Regenerate() {
    VUUIDBuffer buffer;
    if (XPosixUUID::Generate(&buffer)) {
        _SetBytes(buffer.fBytes, false);
        return true;
    }
    Clear();
    return false;
}

void VUUID::FromString(const VString& text) {
    uint8 bytes[16] = {};
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    int32 digits = 0;
    for (int32 i = 0; i < length && digits < kTextLength; ++i) {
        int value = HexValue(units[i]);
        if (value < 0) continue;
        bytes[digits / 2] = uint8(bytes[digits / 2] | (digits % 2 == 0 ? value << 4 : value));
        ++digits;
    }
    if (digits == kTextLength)
        _SetBytes(bytes, false);
    else
        BuildFromAnsiString(text);
}

void VUUID::BuildFromAnsiString(const VString& text) {
    uint8 bytes[16];
    std::memset(bytes, ' ', sizeof(bytes));
    text.ToBlock(bytes, sizeof(bytes), VTC_UTF_8, false, false);
    _SetBytes(bytes, false);
}

void VUUID::GetString(VString& out) const {
    UniChar* units = out.GetCPointerForWrite(kTextLength);
    if (units == nullptr) return; // the string raised its own error and kept its text
    for (size_t i = 0; i < sizeof(fBytes); ++i) {
        units[2 * i] = UniChar(kHexDigits[fBytes[i] >> 4]);
        units[2 * i + 1] = UniChar(kHexDigits[fBytes[i] & 0x0F]);
    }
    out.Validate(kTextLength);
}

bool VUUID::IsUUIDString(const VString& text, bool acceptNull) {
    if (text.GetLength() != kTextLength) return false;
    bool allZero = true;
    const UniChar* units = text.GetCPointer();
    for (int32 i = 0; i < kTextLength; ++i) {
        UniChar c = units[i];
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
        if (c != u'0') allZero = false;
    }
    return acceptNull || !allZero;
}

VString* VUUID::GetCachedConvertedString(bool create) {
    if (fCachedText == nullptr && create) {
        fCachedText = std::make_unique<VString>();
        _RefreshCache();
    }
    return fCachedText.get();
}

bool VUUID::operator==(const VUUID& other) const noexcept {
    return std::memcmp(fBytes, other.fBytes, sizeof(fBytes)) == 0;
}

bool VUUID::operator<(const VUUID& other) const noexcept {
    return std::memcmp(fBytes, other.fBytes, sizeof(fBytes)) < 0;
}

void VUUID::Clear() {
    std::memset(fBytes, 0, sizeof(fBytes));
    SetNull(true);
    fFlags |= kDirtyFlag;
    _RefreshCache();
}

VValue* VUUID::Clone() const {
    VUUIDBuffer buffer;
    ToBuffer(buffer);
    return new VUUID(buffer);
}

void VUUID::GetVUUID(VUUID& out) const {
    out.FromVUUID(*this);
}

void VUUID::GetValue(VValueSingle& out) const {
    out.FromVUUID(*this);
}

void VUUID::FromVUUID(const VUUID& other) {
    std::memmove(fBytes, other.fBytes, sizeof(fBytes));
    SetNull(other.IsNull());
    fFlags |= kDirtyFlag;
    _RefreshCache();
}

void VUUID::FromValue(const VValueSingle& value) {
    value.GetVUUID(*this);
}

bool VUUID::FromValueSameKind(const VValue* other) {
    FromVUUID(*static_cast<const VUUID*>(other));
    return true;
}

CompareResult VUUID::CompareTo(const VValueSingle& other, bool) const {
    if (other.GetValueKind() != kKind) return CR_UNRELEVANT;
    return CompareToSameKind(&other);
}
CompareResult VUUID::CompareToSameKind(const VValue* other, bool) const {
    return OrderBytes(fBytes, static_cast<const VUUID*>(other)->fBytes);
}
bool VUUID::EqualToSameKind(const VValue* other, bool) const {
    return *this == *static_cast<const VUUID*>(other);
}
CompareResult VUUID::CompareToSameKindPtr(const void* data, bool) const {
    return OrderBytes(fBytes, data);
}
bool VUUID::EqualToSameKindPtr(const void* data, bool) const {
    return std::memcmp(fBytes, data, sizeof(fBytes)) == 0;
}

const void* VUUID::LoadFromPtr(const void* data, bool) {
    _SetBytes(static_cast<const uint8*>(data), true);
    return static_cast<const uint8*>(data) + sizeof(fBytes);
}

void* VUUID::WriteToPtr(void* data, bool, size_t) const {
    std::memcpy(data, fBytes, sizeof(fBytes));
    return static_cast<uint8*>(data) + sizeof(fBytes);
}

VError VUUID::GetJSONString(VString& json, uint32 options) const {
    VString text;
    GetString(text);
    return text.GetJSONString(json, options);
}

// ---- Descriptor

CompareResult VUUID_info::CompareTwoPtrToData(const void* a, const void* b, bool) const {
    return OrderBytes(a, b);
}
CompareResult VUUID_info::CompareTwoPtrToDataBegining(const void* a, const void* b, bool) const {
    return OrderBytes(a, b);
}
CompareResult VUUID_info::CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions&) const {
    return OrderBytes(a, b);
}

} // namespace vela
