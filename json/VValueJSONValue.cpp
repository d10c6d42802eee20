// The scalar values read from and written to JSON values.

#include "core/VString.h"
#include "values/RealToInteger.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "values/VUUID.h"
#include "values/VValue.h"
#include "json/VJSONValue.h"

#include <cmath>
#include <limits>

namespace vela {

VError VValue::FromJSONValue(const VJSONValue&) {
    _ThrowError(VE_UNIMPLEMENTED);
    return VE_UNIMPLEMENTED;
}

VError VValue::GetJSONValue(VJSONValue& json, uint32) const {
    json.SetUndefined();
    _ThrowError(VE_UNIMPLEMENTED);
    return VE_UNIMPLEMENTED;
}

VError VValueSingle::FromJSONValue(const VJSONValue&) {
    Clear();
    return VE_UNIMPLEMENTED;
}

VError VValueSingle::GetJSONValue(VJSONValue& json, uint32) const {
    json.SetNull();
    return VE_UNIMPLEMENTED;
}

VError VReal::FromJSONValue(const VJSONValue& json) {
    if (json.IsNull())
        SetNull(true);
    else
        _Set(json.GetNumber(), false);
    return VE_OK;
}

VError VReal::GetJSONValue(VJSONValue& json, uint32) const {
    if (IsNull())
        json.SetNull();
    else
        json.SetNumber(fValue);
    return VE_OK;
}

template <class Derived, class T, uint16 Kind>
VError VIntegerScalar<Derived, T, Kind>::FromJSONValue(const VJSONValue& json) {
    double rounded = std::floor(json.GetNumber());
    T value = RealToInteger<T>(rounded);
    // RealToInteger answers the minimum for anything it cannot represent; only a true minimum keeps it.
    if (value == std::numeric_limits<T>::min() && rounded != double(std::numeric_limits<T>::min())) value = 0;
    _Set(value, json.IsNull());
    return VE_OK;
}

template <class Derived, class T, uint16 Kind>
VError VIntegerScalar<Derived, T, Kind>::GetJSONValue(VJSONValue& json, uint32) const {
    if (IsNull())
        json.SetNull();
    else
        json.SetNumber(double(fValue));
    return VE_OK;
}

template VError VIntegerScalar<VByte, int8, 2>::FromJSONValue(const VJSONValue&);
template VError VIntegerScalar<VByte, int8, 2>::GetJSONValue(VJSONValue&, uint32) const;
template VError VIntegerScalar<VWord, int16, 3>::FromJSONValue(const VJSONValue&);
template VError VIntegerScalar<VWord, int16, 3>::GetJSONValue(VJSONValue&, uint32) const;
template VError VIntegerScalar<VLong, int32, 4>::FromJSONValue(const VJSONValue&);
template VError VIntegerScalar<VLong, int32, 4>::GetJSONValue(VJSONValue&, uint32) const;
template VError VIntegerScalar<VLong8, int64, 5>::FromJSONValue(const VJSONValue&);
template VError VIntegerScalar<VLong8, int64, 5>::GetJSONValue(VJSONValue&, uint32) const;

VError VBoolean::FromJSONValue(const VJSONValue& json) {
    _Set(json.GetBool() ? 1 : 0, json.IsNull());
    return VE_OK;
}

VError VBoolean::GetJSONValue(VJSONValue& json, uint32) const {
    if (IsNull())
        json.SetNull();
    else
        json.SetBool(fValue != 0);
    return VE_OK;
}

VError VDuration::GetJSONValue(VJSONValue& json, uint32 options) const {
    if (IsNull()) {
        json.SetNull();
        return VE_OK;
    }
    if ((options & 4) != 0) {
        VString text;
        text.AppendLong8(fMilliseconds / kMsPerHour);
        int64 minutes = fMilliseconds % kMsPerHour / kMsPerMinute;
        int64 seconds = fMilliseconds % kMsPerMinute / kMsPerSecond;
        for (int64 part : {minutes, seconds}) {
            text.AppendUniChar(u':');
            if (part <= 9) text.AppendUniChar(u'0');
            text.AppendLong8(part);
        }
        json.SetString(text);
        return VE_OK;
    }
    json.SetNumber((options & 2) != 0 ? double(fMilliseconds) : double(fMilliseconds) / 1000.0);
    return VE_OK;
}

VError VDuration::FromJSONValue(const VJSONValue& json) {
    if (json.IsNull()) {
        SetNull(true);
        return VE_OK;
    }
    _Set(SaturatingRealToLong8(json.GetNumber() * 1000.0));
    return VE_OK;
}

VError VUUID::GetJSONValue(VJSONValue& json, uint32) const {
    if (IsNull()) {
        json.SetNull();
        return VE_OK;
    }
    VString text;
    GetString(text);
    json.SetString(text);
    return VE_OK;
}

VError VUUID::FromJSONValue(const VJSONValue& json) {
    if (json.IsNull()) {
        Clear();
        return VE_OK;
    }
    VString text;
    json.GetString(text);
    FromString(text);
    return VE_OK;
}

VError VTime::GetJSONValue(VJSONValue& json, uint32 options) const {
    if (IsNull()) {
        json.SetNull();
        return VE_OK;
    }
    if ((options & 1) != 0) {
        json.SetTime(*this);
        return VE_OK;
    }
    VString text;
    GetJSONString(text, 0);
    json.SetString(text);
    return VE_OK;
}

VError VTime::FromJSONValue(const VJSONValue& json) {
    if (json.IsNull()) {
        Clear();
        SetNull(true);
        return VE_OK;
    }
    VString text;
    json.GetString(text);
    FromXMLString(text);
    return VE_OK;
}

} // namespace vela
