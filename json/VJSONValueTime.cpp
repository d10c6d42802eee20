// The members of VJSONValue that exchange dates with VTime and with the value kinds.
#include "json/VJSONValue.h"

#include "core/VString.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "json/IJSONObject.h"
#include "json/VJSONObject.h"

namespace vela {

VJSONValue::VJSONValue(const VTime& time) noexcept : fType(JSON_null), fStamp(NextStamp()) {
    SetTime(time);
}

void VJSONValue::SetTime(const VTime& time) noexcept {
    if (time.IsNull()) {
        SetNull();
        return;
    }
    int16 year, month, day, hour, minute, second, ms;
    time.GetUTCTime(year, month, day, hour, minute, second, ms);
    SetDate(year, month, day);
}

void VJSONValue::GetTime(VTime& out) const {
    if (fType == JSON_time) {
        int16 year, month, day;
        GetDate(&year, &month, &day);
        out.FromUTCTime(year, month, day, 0, 0, 0, 0);
        return;
    }
    if (fType == JSON_string) {
        VString text;
        fPayload.fString.fText.ToString(text);
        out.FromString(text);
        return;
    }
    out.Clear();
    out.SetNull(true);
}

VValue* VJSONValue::CreateVValue(bool withMarkers) const {
    switch (fType) {
    case JSON_false:
    case JSON_true:
        return new VBoolean(fType == JSON_true ? 1 : 0);
    case JSON_string: {
        auto* text = new VString;
        fPayload.fString.fText.ToString(*text);
        return text;
    }
    case JSON_number:
        return new VReal(fPayload.fNumber);
    case JSON_time: {
        auto* time = new VTime;
        GetTime(*time);
        return time;
    }
    case JSON_object:
    case JSON_array: {
        if (IJSONObject* implementation = fType == JSON_object ? fPayload.fObject->GetImplementation() : nullptr) {
            if (VValueSingle* value = implementation->IJSON_CreateVValue()) return value;
        }
        auto* marker = new VString;
        if (withMarkers) {
            const UniChar units[4] = {1, 2, 3, UniChar(fType == JSON_object ? 1 : 2)};
            marker->FromUniString(units, 4);
        } else {
            marker->SetNull(true);
        }
        return marker;
    }
    default: {
        auto* text = new VString;
        text->SetNull(true);
        return text;
    }
    }
}

} // namespace vela
