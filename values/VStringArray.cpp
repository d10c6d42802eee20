// VString members that fill string arrays.

#include "core/VString.h"

#include "values/VArrayString.h"

namespace vela {

bool VString::GetSubStrings(UniChar separator, VArrayString& pieces, bool keepEmpty, bool trim) const {
    std::vector<VString> found;
    bool separated = GetSubStrings(separator, found, keepEmpty, trim);
    pieces.Destroy();
    for (const VString& piece : found)
        pieces.AppendString(piece);
    return separated;
}

} // namespace vela
