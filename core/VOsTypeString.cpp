#include "core/VOsTypeString.h"

#include "core/VTextConverter.h"
#include "core/VTextConverters.h"

namespace vela {

VOsTypeString::VOsTypeString(uint32 code) : VString(fArea, 4) {
    const uchar bytes[4] = {uchar(code >> 24), uchar(code >> 16), uchar(code >> 8), uchar(code)};
    // Four UTF-8 bytes never give more than four units: decoded straight into the inline area.
    size_t consumed = 0;
    int32 produced = 0;
    VTextConverters::Get()->GetStdLibToUnicodeConverter()->Convert(bytes, sizeof(bytes), &consumed, fArea, 4,
                                                                   &produced);
    Validate(produced);
}

} // namespace vela
