// The stream forms of the scalar values: each writes its kind's header (VValue::WriteToStream) and its bytes.

#include "files/VStream.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "values/VUUID.h"
#include "values/VValue.h"

namespace vela {

VError VValue::ReadFromStream(VStream* stream, int32) {
    return stream != nullptr ? stream->GetLastError() : VE_OK;
}

VError VValue::WriteToStream(VStream* stream, int32) const {
    return stream != nullptr ? stream->GetLastError() : VE_OK;
}

VError VValue::ReadRawFromStream(VStream* stream, int32 param) {
    return ReadFromStream(stream, param);
}

VError VReal::ReadFromStream(VStream* stream, int32) {
    double value = 0.0;
    if (stream->GetReal(value) != VE_OK) value = 0.0;
    fValue = value;
    return stream->GetLastError();
}

VError VReal::WriteToStream(VStream* stream, int32 param) const {
    if (VValue::WriteToStream(stream, param) != VE_OK) return stream->GetLastError();
    stream->PutReal(fValue);
    return stream->GetLastError();
}

template <class Derived, class T, uint16 Kind>
VError VIntegerScalar<Derived, T, Kind>::ReadFromStream(VStream* stream, int32) {
    if constexpr (sizeof(T) == 8) {
        int64 value = 0;
        if (stream->GetLong8(value) != VE_OK) value = 0;
        fValue = value;
    } else if constexpr (sizeof(T) == 4) {
        int32 value = 0;
        if (stream->GetLong(value) != VE_OK) value = 0;
        fValue = value;
    } else {
        int16 value = 0;
        if (stream->GetWord(value) != VE_OK) value = 0;
        fValue = T(value);
    }
    return stream->GetLastError();
}

template <class Derived, class T, uint16 Kind>
VError VIntegerScalar<Derived, T, Kind>::WriteToStream(VStream* stream, int32 param) const {
    if (VValue::WriteToStream(stream, param) != VE_OK) return stream->GetLastError();
    if constexpr (sizeof(T) == 8)
        stream->PutLong8(fValue);
    else if constexpr (sizeof(T) == 4)
        stream->PutLong(fValue);
    else
        stream->PutWord(int16(fValue));
    return stream->GetLastError();
}

template VError VIntegerScalar<VByte, int8, 2>::ReadFromStream(VStream*, int32);
template VError VIntegerScalar<VByte, int8, 2>::WriteToStream(VStream*, int32) const;
template VError VIntegerScalar<VWord, int16, 3>::ReadFromStream(VStream*, int32);
template VError VIntegerScalar<VWord, int16, 3>::WriteToStream(VStream*, int32) const;
template VError VIntegerScalar<VLong, int32, 4>::ReadFromStream(VStream*, int32);
template VError VIntegerScalar<VLong, int32, 4>::WriteToStream(VStream*, int32) const;
template VError VIntegerScalar<VLong8, int64, 5>::ReadFromStream(VStream*, int32);
template VError VIntegerScalar<VLong8, int64, 5>::WriteToStream(VStream*, int32) const;

VError VBoolean::ReadFromStream(VStream* stream, int32) {
    uint16 word = 0;
    if (stream->GetWord(word) != VE_OK) word = 0;
    fValue = word != 0 ? 1 : 0;
    return stream->GetLastError();
}

VError VBoolean::WriteToStream(VStream* stream, int32 param) const {
    if (VValue::WriteToStream(stream, param) != VE_OK) return stream->GetLastError();
    stream->PutWord(int16(fValue));
    return stream->GetLastError();
}

VError VDuration::ReadFromStream(VStream* stream, int32) {
    int64 value = 0;
    if (stream->GetLong8(value) != VE_OK) value = 0;
    fMilliseconds = value;
    return stream->GetLastError();
}

VError VDuration::WriteToStream(VStream* stream, int32 param) const {
    if (VValue::WriteToStream(stream, param) != VE_OK) return stream->GetLastError();
    stream->PutLong8(fMilliseconds);
    return stream->GetLastError();
}

VError VUUID::ReadFromStream(VStream* stream, int32) {
    uint8 bytes[16];
    if (stream->GetData(bytes, sizeof(bytes)) != VE_OK) {
        Clear();
        return stream->GetLastError();
    }
    _SetBytes(bytes, false);
    return VE_OK;
}

VError VUUID::WriteToStream(VStream* stream, int32 param) const {
    if (VValue::WriteToStream(stream, param) != VE_OK) return stream->GetLastError();
    stream->PutData(fBytes, sizeof(fBytes));
    return stream->GetLastError();
}

VError VTime::ReadFromStream(VStream* stream, int32) {
    uint16 year = 0;
    uint8 month = 0, day = 0;
    uint32 milliseconds = 0;
    if (stream->GetWord(year) != VE_OK || stream->GetByte(month) != VE_OK || stream->GetByte(day) != VE_OK ||
        stream->GetLong(milliseconds) != VE_OK)
        year = month = day = 0, milliseconds = 0;
    _SetFields(year, month, day, milliseconds);
    return stream->GetLastError();
}

VError VTime::WriteToStream(VStream* stream, int32 param) const {
    if (VValue::WriteToStream(stream, param) != VE_OK) return stream->GetLastError();
    stream->PutWord(int16(fYear));
    stream->PutByte(fMonth);
    stream->PutByte(fDay);
    stream->PutLong(int32(fMilliseconds));
    return stream->GetLastError();
}

} // namespace vela
