// Dotted property paths and the stamps reached through them.

#include "core/VString.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"

namespace vela {

namespace {

// Arrays are not grown past this many elements by a path: a larger index is refused rather than tried.
constexpr int32 kMaxPathIndex = 1 << 24;

bool IsSpace(UniChar c) noexcept {
    return c == u' ';
}

// The pieces of units between separators, each trimmed of spaces at both ends; empty pieces kept.
std::vector<VString> SplitTrimmed(const UniChar* units, int32 length, UniChar separator) {
    std::vector<VString> pieces;
    int32 start = 0;
    for (int32 i = 0; i <= length; ++i) {
        if (i < length && units[i] != separator) continue;
        int32 first = start;
        int32 last = i;
        while (first < last && IsSpace(units[first]))
            ++first;
        while (last > first && IsSpace(units[last - 1]))
            --last;
        VString piece;
        piece.FromUniString(units + first, last - first);
        pieces.push_back(std::move(piece));
        start = i + 1;
    }
    return pieces;
}

bool IsAllDigits(const VString& text) noexcept {
    const UniChar* units = text.GetCPointer();
    for (int32 i = 0; i < text.GetLength(); ++i) {
        if (units[i] < u'0' || units[i] > u'9') return false;
    }
    return true;
}

VError FailPath(VError error, const VString& offending, std::vector<VString>& parts) {
    parts.push_back(offending);
    _ThrowError(error);
    return error;
}

bool IsLengthPart(const VString& part) {
    static const VString sLength("length");
    return part.EqualToString(sLength, false);
}

} // namespace

VError VJSONObject::ExtractPath(const VString& path, std::vector<VString>& parts) {
    parts.clear();
    for (VString& piece : SplitTrimmed(path.GetCPointer(), path.GetLength(), u'.')) {
        if (piece.FindUniChar(u'[') == 0) {
            if (piece.IsEmpty()) return FailPath(VE_JSON_PATH_EMPTY_PART, piece, parts);
            parts.push_back(std::move(piece));
            continue;
        }
        std::vector<VString> subPieces = SplitTrimmed(piece.GetCPointer(), piece.GetLength(), u'[');
        if (subPieces[0].IsEmpty()) return FailPath(VE_JSON_PATH_EMPTY_PART, subPieces[0], parts);
        parts.push_back(subPieces[0]);
        for (size_t i = 1; i < subPieces.size(); ++i) {
            const VString& sub = subPieces[i];
            if (sub.IsEmpty()) return FailPath(VE_JSON_PATH_EMPTY_PART, sub, parts);
            if (sub.GetUniChar(sub.GetLength()) != u']') return FailPath(VE_JSON_PATH_MISSING_BRACKET, sub, parts);
            VString index;
            index.FromUniString(sub.GetCPointer(), sub.GetLength() - 1);
            if (index.IsEmpty()) return FailPath(VE_JSON_PATH_EMPTY_PART, index, parts);
            parts.push_back(std::move(index));
        }
    }
    return VE_OK;
}

bool VJSONObject::isvalidnumber(const VString& text) noexcept {
    return IsAllDigits(text);
}

namespace {

// The value reached from object through the first count parts (names on objects, indexes or "length" on
// arrays); undefined when the walk leaves objects and arrays.
VJSONValue WalkParts(const VJSONObject* object, const std::vector<VString>& parts, size_t count,
                     VDBLanguageContext* context) {
    VJSONValue current(const_cast<VJSONObject*>(object));
    for (size_t i = 0; i < count; ++i) {
        const VString& part = parts[i];
        if (const VJSONObject* inner = current.GetObjectPtr(); inner != nullptr) {
            current = inner->GetProperty(part, context);
        } else if (const VJSONArray* array = current.GetArrayPtr(); array != nullptr) {
            if (IsLengthPart(part)) {
                current = VJSONValue(double(array->GetCount()));
            } else {
                int32 index = part.GetLong();
                current = index >= 0 ? array->GetAt(size_t(index)) : VJSONValue(JSON_undefined);
            }
        } else {
            return VJSONValue(JSON_undefined);
        }
    }
    return current;
}

// A new container for the part that follows: an array for an index, an object for a name.
VJSONValue NewContainerFor(const VString& nextPart) {
    return VJSONValue(!nextPart.IsEmpty() && IsAllDigits(nextPart) ? JSON_array : JSON_object);
}

} // namespace

VJSONValue VJSONObject::GetPropertyWithPath(const VString& path, VDBLanguageContext* context) const {
    std::vector<VString> parts;
    if (ExtractPath(path, parts) != VE_OK) return VJSONValue(JSON_undefined);
    return WalkParts(this, parts, parts.size(), context);
}

bool VJSONObject::SetPropertyWithPath(const VString& path, const VJSONValue& value, VDBLanguageContext* context) {
    std::vector<VString> parts;
    if (ExtractPath(path, parts) != VE_OK) return false;
    VJSONValue current(this);
    for (size_t i = 0; i < parts.size(); ++i) {
        const VString& part = parts[i];
        bool last = i + 1 == parts.size();
        if (VJSONObject* object = current.GetObjectPtr(); object != nullptr) {
            if (last) return object->SetProperty(part, value, context);
            VJSONValue next = object->GetProperty(part, context);
            if (next.IsUndefined() || next.IsNull()) {
                next = NewContainerFor(parts[i + 1]);
                if (!object->SetProperty(part, next, context)) return false;
            }
            current = std::move(next);
            continue;
        }
        if (VJSONArray* array = current.GetArrayPtr(); array != nullptr) {
            int32 index = part.GetLong();
            if (index < 0) return false; // a negative index neither grows the array nor stores into it
            if (size_t(index) >= array->GetCount()) {
                if (index >= kMaxPathIndex) {
                    _ThrowError(VE_MEMORY_FULL);
                    return false;
                }
                if (!array->Resize(size_t(index) + 1, JSON_null)) return false;
            }
            if (last) return array->SetAt(size_t(index), value);
            VJSONValue next = array->GetAt(size_t(index));
            if (next.IsUndefined() || next.IsNull()) {
                next = NewContainerFor(parts[i + 1]);
                if (!array->SetAt(size_t(index), next)) return false;
            }
            current = std::move(next);
            continue;
        }
        if (part.IsEmpty() || IsAllDigits(part)) {
            _ThrowError(VE_JSON_PATH_INDEX_IN_SCALAR);
        } else {
            _ThrowError(VE_JSON_PATH_NAME_IN_SCALAR, &part);
        }
        return false;
    }
    return true;
}

bool VJSONObject::SetPropertiesWithPaths(const std::vector<std::pair<VString, VJSONValue>>& properties) {
    for (const auto& [path, value] : properties) {
        if (!SetPropertyWithPath(path, value)) return false;
    }
    return true;
}

uint32 VJSONObject::GetPropertyStampWithPath(const VString& path) const {
    std::vector<VString> parts;
    if (ExtractPath(path, parts) != VE_OK) return 0;
    if (parts.size() == 1) return GetPropertyStamp(parts[0]);
    VJSONValue container = WalkParts(this, parts, parts.size() - 1, nullptr);
    const VString& last = parts.back();
    if (const VJSONObject* object = container.GetObjectPtr(); object != nullptr) return object->GetPropertyStamp(last);
    if (const VJSONArray* array = container.GetArrayPtr(); array != nullptr) {
        if (last.EqualToUSASCIICString("length")) return uint32(array->GetCount());
        int32 index = last.GetLong();
        return index >= 0 ? array->GetStampAt(size_t(index)) : 0;
    }
    return 0;
}

void VJSONObject::TouchPropertyStampWithPath(const VString& path) {
    std::vector<VString> parts;
    if (ExtractPath(path, parts) != VE_OK) return;
    if (parts.size() == 1) {
        TouchPropertyStamp(parts[0]);
        return;
    }
    VJSONValue container = WalkParts(this, parts, parts.size() - 1, nullptr);
    const VString& last = parts.back();
    if (VJSONObject* object = container.GetObjectPtr(); object != nullptr) {
        object->TouchPropertyStamp(last);
    } else if (VJSONArray* array = container.GetArrayPtr(); array != nullptr) {
        if (last.EqualToUSASCIICString("length")) return;
        int32 index = last.GetLong();
        if (index >= 0) array->TouchStampAt(size_t(index));
    }
}

} // namespace vela
