#pragma once

#include "core/VString.h"

namespace vela {

// A string holding a four-character code on an inline area of 4 units.
class VOsTypeString : public VString {
public:
    // The four bytes of code, most significant first, decoded as UTF-8.
    explicit VOsTypeString(uint32 code);
    VOsTypeString(const VOsTypeString& other) : VString(fArea, 4) { FromString(other); }
    VOsTypeString& operator=(const VOsTypeString& other) {
        FromString(other);
        return *this;
    }

private:
    UniChar fArea[5];
};

} // namespace vela
