#include "values/VScalar.h"

#include "core/VString.h"
#include "values/RealToInteger.h"
#include "values/VDuration.h"

#include <cmath>
#include <limits>

namespace vela {

const VValueInfo_scalar<VBoolean, 1, uint8> VBoolean::sInfo;
const VValueInfo_scalar<VByte, 2, int8> VByte::sInfo;
const VValueInfo_scalar<VWord, 3, int16> VWord::sInfo;
const VValueInfo_scalar<VLong, 4, int32> VLong::sInfo;
const VValueInfo_scalar<VLong8, 5, int64> VLong8::sInfo;

// ---- The integer kinds

template <class Derived, class T, uint16 Kind> void VIntegerScalar<Derived, T, Kind>::FromReal(double value) {
    if constexpr (sizeof(T) == 8)
        _Set(RealToLong8(value), false);
    else
        _Set(T(RealToLong(value)), false);
}

template <class Derived, class T, uint16 Kind> void VIntegerScalar<Derived, T, Kind>::FromString(const VString& text) {
    if constexpr (sizeof(T) == 8) {
        SetNull(text.IsNull());
        if (!text.IsNull()) fValue = text.GetLong8();
        fFlags |= kDirtyFlag;
    } else if constexpr (sizeof(T) == 1) {
        _Set(T(text.GetWord()), text.IsNull());
    } else {
        _Set(T(text.GetLong()), text.IsNull());
    }
}

template <class Derived, class T, uint16 Kind>
void VIntegerScalar<Derived, T, Kind>::FromValue(const VValueSingle& value) {
    if constexpr (sizeof(T) == 8)
        _Set(value.GetLong8(), value.IsNull());
    else if constexpr (sizeof(T) == 4)
        _Set(value.GetLong(), value.IsNull());
    else
        _Set(T(value.GetWord()), value.IsNull());
}

template <class Derived, class T, uint16 Kind>
void VIntegerScalar<Derived, T, Kind>::GetValue(VValueSingle& out) const {
    if constexpr (sizeof(T) == 8)
        out.FromLong8(fValue);
    else if constexpr (sizeof(T) == 4)
        out.FromLong(fValue);
    else
        out.FromWord(int16(fValue));
}

template <class Derived, class T, uint16 Kind> void VIntegerScalar<Derived, T, Kind>::GetString(VString& out) const {
    GetValue(out);
}

template <class Derived, class T, uint16 Kind>
void VIntegerScalar<Derived, T, Kind>::GetDuration(VDuration& out) const {
    GetValue(out);
}

template <class Derived, class T, uint16 Kind>
void VIntegerScalar<Derived, T, Kind>::FromDuration(const VDuration& duration) {
    FromValue(duration);
}

template <class Derived, class T, uint16 Kind>
CompareResult VIntegerScalar<Derived, T, Kind>::CompareTo(const VValueSingle& other, bool) const {
    if constexpr (sizeof(T) == 8)
        return _Order(fValue, other.GetLong8());
    else
        return VValueInfo_scalar<VLong, 4, int32>::Order(int32(fValue), other.GetLong());
}

template class VIntegerScalar<VByte, int8, 2>;
template class VIntegerScalar<VWord, int16, 3>;
template class VIntegerScalar<VLong, int32, 4>;
template class VIntegerScalar<VLong8, int64, 5>;

// ---- VBoolean

namespace {

bool EqualsAsciiNoCase(const VString& text, const char* word) noexcept {
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    int32 i = 0;
    for (; i < length && word[i] != 0; ++i) {
        UniChar c = units[i];
        if (c >= u'A' && c <= u'Z') c = UniChar(c - u'A' + u'a');
        if (c != UniChar(word[i])) return false;
    }
    return i == length && word[i] == 0;
}

CompareResult OrderBytes(uint8 a, uint8 b) noexcept {
    return a == b ? CR_EQUAL : (a > b ? CR_BIGGER : CR_SMALLER);
}

} // namespace

VBoolean& VBoolean::operator=(const VBoolean& other) {
    if (this != &other) _Set(other.fValue, other.IsNull());
    return *this;
}

VValue* VBoolean::Clone() const {
    auto* copy = new VBoolean(fValue);
    copy->fFlags = fFlags | kDirtyFlag;
    return copy;
}

void VBoolean::FromString(const VString& text) {
    _Set(text.GetBoolean() ? 1 : 0, text.IsNull());
}

void VBoolean::FromValue(const VValueSingle& value) {
    _Set(value.GetBoolean() ? 1 : 0, value.IsNull());
}

void VBoolean::GetString(VString& out) const {
    out.FromBoolean(fValue);
}

void VBoolean::GetValue(VValueSingle& out) const {
    out.FromBoolean(fValue);
}

void VBoolean::GetDuration(VDuration& out) const {
    GetValue(out);
}

void VBoolean::FromDuration(const VDuration& duration) {
    FromValue(duration);
}

void VBoolean::GetXMLString(VString& out, uint32) const {
    out.FromString(VString(fValue != 0 ? "true" : "false"));
}

bool VBoolean::FromXMLString(const VString& xml) {
    if (EqualsAsciiNoCase(xml, "1") || EqualsAsciiNoCase(xml, "true")) {
        _Set(1, false);
        return true;
    }
    if (EqualsAsciiNoCase(xml, "0") || EqualsAsciiNoCase(xml, "false")) {
        _Set(0, false);
        return true;
    }
    return false;
}

VError VBoolean::GetJSONString(VString& json, uint32) const {
    json.FromCString(fValue != 0 ? "true" : "false");
    return VE_OK;
}

VError VBoolean::FromJSONString(const VString& json, uint32) {
    if (!FromXMLString(json)) _Set(0, false);
    return VE_OK;
}

CompareResult VBoolean::CompareTo(const VValueSingle& other, bool) const {
    uint8 theirs = other.GetBoolean() ? 1 : 0;
    if (fValue == theirs) return CR_EQUAL;
    return fValue == 0 ? CR_SMALLER : CR_BIGGER;
}

CompareResult VBoolean::CompareToSameKind(const VValue* other, bool) const {
    return OrderBytes(fValue, static_cast<const VBoolean*>(other)->fValue);
}
bool VBoolean::EqualToSameKind(const VValue* other, bool) const {
    return fValue == static_cast<const VBoolean*>(other)->fValue;
}
CompareResult VBoolean::CompareToSameKindPtr(const void* data, bool) const {
    return OrderBytes(fValue, *static_cast<const uint8*>(data));
}
bool VBoolean::EqualToSameKindPtr(const void* data, bool) const {
    return fValue == *static_cast<const uint8*>(data);
}

bool VBoolean::FromValueSameKind(const VValue* other) {
    _Set(static_cast<const VBoolean*>(other)->fValue, other->IsNull());
    return true;
}

const void* VBoolean::LoadFromPtr(const void* data, bool) {
    _Set(*static_cast<const uint8*>(data) != 0 ? 1 : 0, false);
    return static_cast<const uint8*>(data) + 1;
}

void* VBoolean::WriteToPtr(void* data, bool, size_t) const {
    *static_cast<uint8*>(data) = fValue != 0 ? 1 : 0;
    return static_cast<uint8*>(data) + 1;
}

} // namespace vela
