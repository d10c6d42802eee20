#include "json/VJSONBinaryImporter.h"

#include "values/VTime.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONClass.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONObject.h"
#include "json/VJSONObjectFactory.h"
#include "json/VJSONPropertyMap.h"
#include "json/VJSONText.h"
#include "json/VJSONValue.h"

#include <cstring>
#include <limits>

namespace vela {

namespace {

constexpr uint8 kReferenceType = 255;
constexpr uint16 kUndefinedObject = 0xFFFE;
constexpr uint16 kEndOfObject = 0xFFFF;
constexpr uint16 kExtension = 0xFFFD;
constexpr uint16 kMarkerBit = 0x8000;
constexpr uint32 kClassSignature = 0x2A2A2A2A; // '****'
constexpr int32 kUndefinedArray = -2;
constexpr int64 kMsPerDay = 86400000;
constexpr int32 kMaxCachedName = 64;
constexpr int32 kNameCacheSize = 256;

// Whether a count of milliseconds is a date the model holds: the zero date, the null time, or a day of the
// years 0 to 32767.
bool IsHeldTime(int64 milliseconds) noexcept {
    static const int64 sFirstDay = VTime::ComputeJulianDay(0, 1, 1);
    static const int64 sLastDay = VTime::ComputeJulianDay(32767, 12, 31);
    if (milliseconds == 0 || milliseconds == -1) return true;
    int64 day = milliseconds >= 0 ? milliseconds / kMsPerDay : -((-(milliseconds + 1)) / kMsPerDay) - 1;
    return day >= sFirstDay && day <= sLastDay;
}

// The next reference token of pointer from position on (after its "/"), unescaped into out; false for a "~" that
// is not followed by "0" or "1".
bool NextToken(const UniChar*& p, const UniChar* end, VString& out) {
    out.Clear();
    for (; p < end && *p != u'/'; ++p) {
        UniChar c = *p;
        if (c == u'~') {
            if (end - p < 2 || (p[1] != u'0' && p[1] != u'1')) return false;
            c = p[1] == u'0' ? u'~' : u'/';
            ++p;
        }
        out.AppendUniChar(c);
    }
    return true;
}

// The index that token spells (decimal digits, no leading zero) when it is below count.
bool IndexOf(const VString& token, size_t count, size_t& index) {
    int32 length = token.GetLength();
    const UniChar* units = token.GetCPointer();
    if (length == 0 || (length > 1 && units[0] == u'0')) return false;
    uint64 value = 0;
    for (int32 i = 0; i < length; ++i) {
        if (units[i] < u'0' || units[i] > u'9') return false;
        value = value * 10 + uint64(units[i] - u'0');
        if (value >= count) return false; // also keeps value from overflowing
    }
    index = size_t(value);
    return true;
}

} // namespace

VJSONBinaryImporter::VJSONBinaryImporter(const void* data, size_t size, VJSONStamp* stamp)
    : fStamp(stamp), fStart(static_cast<const uint8*>(data)), fPosition(fStart),
      fEnd(fStart != nullptr ? fStart + size : nullptr) {}

VJSONBinaryImporter::~VJSONBinaryImporter() = default;

template <class T> T VJSONBinaryImporter::_Take() noexcept {
    T field;
    std::memcpy(&field, fPosition, sizeof field);
    fPosition += sizeof field;
    return field;
}

VError VJSONBinaryImporter::_Malformed() {
    _ThrowError(VE_STREAM_EOF);
    return VE_STREAM_EOF;
}

VError VJSONBinaryImporter::GetValue(VJSONValue& out) {
    if (fStart == nullptr) {
        out.SetUndefined();
        return VE_OK;
    }
    VJSONValue root;
    Pending pending;
    VError err = _GetValue(root, pending); // a reference here has nothing to refer to
    if (err == VE_OK && pending.fContents) {
        fRoot = &root;
        err = _GetContents(root.GetObjectPtr(), root.GetArrayPtr(), pending.fCount);
        fRoot = nullptr;
    }
    out = std::move(root);
    return err;
}

VError VJSONBinaryImporter::_GetValue(VJSONValue& value, Pending& pending) {
    if (!_Has(1)) return _Malformed();
    uint8 type = _Take<uint8>();
    switch (type) {
    case JSON_null:
        value.SetNull();
        return VE_OK;
    case JSON_false:
    case JSON_true:
        value.SetBool(type == JSON_true);
        return VE_OK;
    case JSON_undefined:
        value.SetUndefined();
        return VE_OK;
    case JSON_string: {
        if (!_Has(4)) return _Malformed();
        uint32 length = _Take<uint32>();
        if (length > uint32(std::numeric_limits<int32>::max()) || !_Has(size_t(length) * sizeof(UniChar)))
            return _Malformed();
        value.SetString(reinterpret_cast<const UniChar*>(fPosition), int32(length));
        fPosition += size_t(length) * sizeof(UniChar);
        if (length > 0 && value.GetType() == JSON_string && value.fPayload.fString.fText.GetLength() == 0) {
            _ThrowError(VE_MEMORY_FULL);
            return VE_MEMORY_FULL;
        }
        return VE_OK;
    }
    case JSON_number:
        if (!_Has(sizeof(double))) return _Malformed();
        value.SetNumber(_Take<double>());
        return VE_OK;
    case JSON_object: {
        if (!_Has(2)) return _Malformed();
        uint16 marker;
        std::memcpy(&marker, fPosition, sizeof marker);
        if (marker == kUndefinedObject) {
            fPosition += sizeof marker;
            value.SetUndefined();
            return VE_OK;
        }
        auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
        if (fStamp) object->SetJSONStamp(fStamp.Get());
        value.SetObject(object.Get());
        pending.fContents = true;
        return VE_OK;
    }
    case JSON_array: {
        if (!_Has(4)) return _Malformed();
        int32 count = _Take<int32>();
        if (count == kUndefinedArray) {
            value.SetUndefined();
            return VE_OK;
        }
        // Every item takes at least one byte.
        if (count < 0 || !_Has(size_t(count))) return _Malformed();
        auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
        if (fStamp) array->SetJSONStamp(fStamp.Get());
        value.SetArray(array.Get());
        pending.fContents = true;
        pending.fCount = uint32(count);
        return VE_OK;
    }
    case JSON_time:
        return _GetTime(value);
    case kReferenceType:
        pending.fReference = true;
        return _GetReference(value);
    default: {
        // A kind this reader does not know: its length counts from its own first byte.
        if (!_Has(4)) return _Malformed();
        uint32 length;
        std::memcpy(&length, fPosition, sizeof length);
        if (length < 4 || !_Has(length)) return _Malformed();
        fPosition += length;
        value.SetUndefined();
        return VE_OK;
    }
    }
}

VError VJSONBinaryImporter::_GetTime(VJSONValue& value) {
    if (!_Has(sizeof(int64))) return _Malformed();
    int64 milliseconds = _Take<int64>();
    if (!IsHeldTime(milliseconds)) return _Malformed();
    VTime time;
    time.FromMilliseconds(milliseconds);
    value.SetTime(time);
    return VE_OK;
}

VError VJSONBinaryImporter::_GetReference(VJSONValue& value) {
    if (!_Has(4)) return _Malformed();
    uint32 length = _Take<uint32>();
    if (length > uint32(std::numeric_limits<int32>::max()) || !_Has(size_t(length) * sizeof(UniChar)))
        return _Malformed();
    VString pointer;
    pointer.FromUniString(reinterpret_cast<const UniChar*>(fPosition), int32(length));
    fPosition += size_t(length) * sizeof(UniChar);
    if (fRoot == nullptr || pointer.GetLength() != int32(length) || length == 0 || pointer.GetCPointer()[0] != u'#')
        return _Malformed();
    // The names are compared as they are: no URI decoding, no composition.
    const VJSONValue* current = fRoot;
    const UniChar* p = pointer.GetCPointer() + 1;
    const UniChar* end = pointer.GetCPointer() + pointer.GetLength();
    VString token;
    while (p < end) {
        if (*p++ != u'/' || !NextToken(p, end, token)) return _Malformed();
        if (const VJSONObject* object = current->GetObjectPtr()) {
            int64 index = object->fProperties.Find(token);
            if (index < 0) return _Malformed();
            current = &object->fProperties.At(size_t(index)).fValue;
        } else if (const VJSONArray* array = current->GetArrayPtr()) {
            size_t index = 0;
            if (!IndexOf(token, array->fValues.size(), index)) return _Malformed();
            current = &array->fValues[index];
        } else {
            return _Malformed();
        }
    }
    if (current->GetObjectPtr() == nullptr && current->GetArrayPtr() == nullptr) return _Malformed();
    value = *current;
    return VE_OK;
}

// ---- Contents

VError VJSONBinaryImporter::_GetContents(VJSONObject* object, VJSONArray* array, uint32 count) {
    if (fDepth >= kJSONTextMaxDepth) {
        _ThrowError(VE_JSON_TOO_DEEP);
        return VE_JSON_TOO_DEEP;
    }
    ++fDepth;
    VError err = object != nullptr ? _GetObjectContents(object) : _GetArrayContents(array, count);
    --fDepth;
    return err;
}

VError VJSONBinaryImporter::_GetArrayContents(VJSONArray* array, uint32 count) {
    if (array == nullptr) return _Malformed();
    for (uint32 i = 0; i < count; ++i) {
        VJSONValue item;
        Pending pending;
        VError err = _GetValue(item, pending);
        if (err != VE_OK) return err;
        // Stored before its contents are read, so that references inside them find it; the array holds it from
        // then on.
        VJSONObject* childObject = item.GetObjectPtr();
        VJSONArray* childArray = item.GetArrayPtr();
        if (!array->_AppendNewElement(std::move(item), &fLinker)) return VE_MEMORY_FULL;
        if (pending.fReference) fLinker.MarkMayHoldCycles();
        if (pending.fContents) {
            err = _GetContents(childObject, childArray, pending.fCount);
            if (err != VE_OK) return err;
        }
    }
    return VE_OK;
}

void VJSONBinaryImporter::_TakeName(int32 length) {
    fName.FromUniString(reinterpret_cast<const UniChar*>(fPosition), length);
    fPosition += size_t(length) * sizeof(UniChar);
}

VError VJSONBinaryImporter::_GetObjectContents(VJSONObject* object) {
    if (object == nullptr) return _Malformed();
    for (;;) {
        if (!_Has(2)) return _Malformed();
        uint16 marker = _Take<uint16>();
        if (marker == kEndOfObject) return VE_OK;
        if (marker == kExtension) return _GetExtension(object);
        if ((marker & kMarkerBit) != 0) continue; // a marker this reader does not know
        int32 length = marker;
        if (!_Has(size_t(length) * sizeof(UniChar))) return _Malformed();
        _TakeName(length);
        const UniChar* units = fName.GetCPointer();
        uint32 hash = VJSONPropertyMap::Hash(units, length);
        VJSONPropertyName name;
        const VString* key = &fName;
        if (length > VJSONPropertyName::kInlineUnits && length <= kMaxCachedName) {
            if (fKeys == nullptr) fKeys = std::make_unique<VString[]>(kNameCacheSize);
            VString& cached = fKeys[hash & (kNameCacheSize - 1)];
            if (!cached.EqualToStringRaw(fName)) cached.FromUniString(units, length);
            key = &cached;
        }
        if (!VJSONPropertyName::FromString(*key, name)) {
            _ThrowError(VE_MEMORY_FULL);
            return VE_MEMORY_FULL;
        }
        VJSONValue value;
        Pending pending;
        VError err = _GetValue(value, pending);
        if (err != VE_OK) return err;
        if (value.IsUndefined()) {
            // As assigning undefined does: the name goes.
            if (object->fProperties.Find(units, length, hash) >= 0) object->RemoveOwnProperty(VString(fName));
            continue;
        }
        VJSONObject* childObject = value.GetObjectPtr();
        VJSONArray* childArray = value.GetArrayPtr();
        VJSONPropertyMap::Property property(std::move(name), hash, std::move(value));
        if (!object->_AdoptNewProperty(property, &fLinker)) return VE_MEMORY_FULL;
        if (pending.fReference) fLinker.MarkMayHoldCycles();
        if (pending.fContents) {
            err = _GetContents(childObject, childArray, pending.fCount);
            if (err != VE_OK) return err;
        }
    }
}

VError VJSONBinaryImporter::_GetExtension(VJSONObject* object) {
    if (!_Has(4 + 8)) return _Malformed();
    uint32 signature = _Take<uint32>();
    uint64 size = _Take<uint64>();
    if (size > uint64(fEnd - fPosition)) return _Malformed();
    const uint8* payload = fPosition;
    fPosition += size;
    if (signature == kClassSignature) {
        _SetClassFromPayload(object, payload, size_t(size));
        return VE_OK;
    }
    VRefPtr<VJSONObject> classObject;
    uint64 error = 0;
    IJSONObject* implementation =
        VJSONObjectFactory::Get()->CreateForSignature(object, signature, payload, size_t(size), classObject, &error);
    if (implementation != nullptr) {
        object->_SetImplementation(implementation);
        implementation->Release();
    }
    _SetClass(object, classObject.Get());
    // A creator that failed leaves no empty object to pass for the one written.
    return error != 0 ? VError(error) : VE_OK;
}

void VJSONBinaryImporter::_SetClass(VJSONObject* object, VJSONObject* classObject) {
    VJSONClass* cls = VJSONClass::FromClassObject(classObject);
    if (cls == nullptr) return;
    object->_SetClass(cls);
    object->SetClassLevel(cls->GetDepth());
    // A getter's stamp is the object's change counter, made with the object as construction would.
    if (object->GetJSONStamp() == nullptr && cls->HasGetters())
        object->SetJSONStamp(VRefPtr<VJSONStamp>::Adopt(new VJSONStamp).Get());
}

void VJSONBinaryImporter::_SetClassFromPayload(VJSONObject* object, const uint8* payload, size_t size) {
    // Lenient: a name that does not fit is left empty, and then no class is found.
    auto takeName = [&](size_t& offset, VString& out) {
        if (size - offset < 2) return;
        uint16 length;
        std::memcpy(&length, payload + offset, sizeof length);
        offset += 2;
        if (length == 0 || size - offset < size_t(length) * sizeof(UniChar)) return;
        out.FromUniString(reinterpret_cast<const UniChar*>(payload + offset), length);
        offset += size_t(length) * sizeof(UniChar);
    };
    size_t offset = 0;
    VString storeName, className;
    takeName(offset, storeName);
    takeName(offset, className);
    VRefPtr<VJSONClassStore> store = VJSONClassStore::GetProcessStore();
    if (!store || className.IsEmpty() || !store->GetName().EqualToStringRaw(storeName)) return;
    VRefPtr<VJSONObject> classObject = store->GetClassObject(className, false);
    _SetClass(object, classObject.Get());
}

} // namespace vela
