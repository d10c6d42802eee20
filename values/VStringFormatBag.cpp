// VString::Format over the attributes of a value bag.
#include "core/VString.h"

#include "values/StPackedDictionaryKey.h"
#include "values/VValueBag.h"

namespace vela {

namespace {
bool _HasSpace(const UniChar* units, int32 count) noexcept {
    for (int32 i = 0; i < count; ++i)
        if (units[i] == u' ') return true;
    return false;
}
} // namespace

void VString::Format(const VValueBag* bag, bool removeMissing) {
    if (bag == nullptr || bag->GetAttributesCount() == 0 || GetLength() < 2) return;
    VStr31 value;
    int32 pos = 1; // where the scan goes on
    while (pos <= GetLength()) {
        const int32 open = FindUniChar(u'{', pos);
        if (open == 0) return;
        const int32 length = GetLength();
        // "{{" escapes a brace, except when its second brace is the last character.
        if (open + 1 < length && GetUniChar(open + 1) == u'{') {
            pos = open + 2;
            continue;
        }
        const int32 close = FindUniChar(u'}', open + 1);
        if (close == 0) return;
        if (close + 1 < length && GetUniChar(close + 1) == u'}') {
            pos = close + 2;
            continue;
        }
        const int32 keyLength = close - open - 1;
        if (keyLength == 0 || _HasSpace(GetCPointer() + open, keyLength)) {
            pos = open + 1;
            continue;
        }
        VString name;
        GetSubString(open + 1, keyLength, name);
        value.Clear(); // a stored kind without descriptor leaves it as it is
        if (bag->GetAttribute(StPackedDictionaryKey(name), value)) {
            if (value.IsEmpty()) {
                Remove(open, keyLength + 2);
            } else {
                Replace(value, open, keyLength + 2);
            }
            pos = open + value.GetLength();
        } else if (removeMissing) {
            Remove(open, keyLength + 2);
            pos = open;
        } else {
            pos = open + 1;
        }
    }
}

} // namespace vela
