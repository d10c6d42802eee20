#include "json/VJSONBinaryWriter.h"

#include "core/VMemoryBuffer.h"
#include "values/VTime.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONClass.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONPropertyName.h"
#include "json/VJSONText.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace vela {

namespace {

constexpr uint8 kReferenceType = 255;
constexpr uint16 kEndOfObject = 0xFFFF;
constexpr uint16 kExtension = 0xFFFD;
constexpr uint32 kClassSignature = 0x2A2A2A2A; // '****'
constexpr int32 kMaxNameUnits = 0x7FFF;
constexpr int32 kMaxClassNameUnits = 0xFFFF;
constexpr uint32 kNoStep = std::numeric_limits<uint32>::max();

// Appends a property name to a JSON Pointer: "~" as "~0", then "/" as "~1".
void AppendPointerName(const UniChar* units, int32 length, VString& out) {
    out.AppendUniChar(u'/');
    for (int32 i = 0; i < length; ++i) {
        UniChar c = units[i];
        if (c == u'~') {
            out.AppendUniChars(u"~0", 2);
        } else if (c == u'/') {
            out.AppendUniChars(u"~1", 2);
        } else {
            out.AppendUniChar(c);
        }
    }
}

void AppendPointerIndex(uint64 index, VString& out) {
    out.AppendUniChar(u'/');
    out.AppendULong8(index);
}

} // namespace

// The output: fields appended in host order straight into the buffer. A buffer that cannot grow is remembered;
// nothing more is written after it.
class VJSONBinaryWriter::Sink {
public:
    explicit Sink(VMemoryBuffer<1024, 2, 1048576>& buffer) noexcept : fBuffer(buffer) {}

    VMemoryBuffer<1024, 2, 1048576>& Buffer() noexcept { return fBuffer; }
    bool Failed() const noexcept { return fFailed; }

    void Put(const void* data, size_t count) noexcept {
        size_t size = fBuffer.GetDataSize();
        if (fFailed || !_Room(size + count)) {
            fFailed = true;
            return;
        }
        std::memcpy(static_cast<uint8*>(fBuffer.GetDataPtr()) + size, data, count);
        fBuffer.SetDataSizeUnchecked(size + count);
    }
    template <class T> void Put(T field) noexcept { Put(&field, sizeof field); }
    // A type byte and one fixed-size field.
    template <class T> void PutTyped(uint8 type, T field) noexcept {
        uint8 bytes[1 + sizeof(T)];
        bytes[0] = type;
        std::memcpy(bytes + 1, &field, sizeof field);
        Put(bytes, sizeof bytes);
    }
    // A type byte (none when type is 0), a uint32 length, then the units.
    void PutUnits(uint8 type, const UniChar* units, uint32 length) noexcept {
        size_t size = fBuffer.GetDataSize();
        size_t head = type != 0 ? 5 : 4;
        size_t count = head + size_t(length) * sizeof(UniChar);
        if (fFailed || !_Room(size + count)) {
            fFailed = true;
            return;
        }
        uint8* p = static_cast<uint8*>(fBuffer.GetDataPtr()) + size;
        if (type != 0) *p++ = type;
        std::memcpy(p, &length, sizeof length);
        if (length > 0) std::memcpy(p + 4, units, size_t(length) * sizeof(UniChar));
        fBuffer.SetDataSizeUnchecked(size + count);
    }

private:
    // The buffer's own growth adds at most 1 MB at a time, which makes a large output copy itself over and over:
    // doubling keeps the copies linear (a 10 MB document wrote 20% faster).
    bool _Room(size_t needed) noexcept {
        size_t capacity = fBuffer.GetAllocatedSize();
        if (needed <= capacity) return true;
        return (capacity * 2 > needed && fBuffer.EnsureCapacity(capacity * 2)) || fBuffer.EnsureCapacity(needed);
    }

    VMemoryBuffer<1024, 2, 1048576>& fBuffer;
    bool fFailed = false;
};

// Nodes already written, by address: an open-addressing table of (address, step).
class VJSONBinaryWriter::NodeTable {
public:
    // The step slot of address: found already there (true), or added with kNoStep for the caller to fill. The
    // slot stays valid until the next call.
    uint32& FindOrAdd(const void* address, bool& found) {
        if ((fCount + 1) * 2 > fEntries.size()) _Grow();
        size_t slot = _Slot(address);
        for (; fEntries[slot].fAddress != nullptr; slot = (slot + 1) & fMask) {
            if (fEntries[slot].fAddress == address) {
                found = true;
                return fEntries[slot].fStep;
            }
        }
        found = false;
        fEntries[slot] = Entry{address, kNoStep};
        ++fCount;
        return fEntries[slot].fStep;
    }

private:
    struct Entry {
        const void* fAddress = nullptr;
        uint32 fStep = 0;
    };

    size_t _Slot(const void* address) const noexcept {
        uint64 key = uint64(reinterpret_cast<uintptr_t>(address)) * 0x9E3779B97F4A7C15ull;
        return size_t(key >> 32) & fMask;
    }
    void _Grow() {
        std::vector<Entry> old(std::max<size_t>(64, fEntries.size() * 2));
        old.swap(fEntries);
        fMask = fEntries.size() - 1;
        fCount = 0;
        for (const Entry& entry : old) {
            if (entry.fAddress == nullptr) continue;
            bool found = false;
            FindOrAdd(entry.fAddress, found) = entry.fStep;
        }
    }

    std::vector<Entry> fEntries;
    size_t fMask = 0;
    size_t fCount = 0;
};

// The place where a node was first met: its parent's step and its name or index there.
struct VJSONBinaryWriter::Step {
    uint32 fParent = kNoStep;
    bool fIndexed = false;
    uint64 fIndex = 0;
    VJSONPropertyName fName;
};

// Where a value is being written: a step already made (the root, or a value written in place of an object), or
// the parent's step and the name (stored, or any text) or index under which the value sits.
struct VJSONBinaryWriter::Place {
    uint32 fStep = kNoStep;
    uint32 fParent = kNoStep;
    const VJSONPropertyName* fStored = nullptr;
    const VString* fName = nullptr;
    bool fIndexed = false;
    uint64 fIndex = 0;
};

VJSONBinaryWriter::VJSONBinaryWriter(uint32 flags) : fFlags(flags), fNodes(std::make_unique<NodeTable>()) {
    fSteps.emplace_back(); // the root, "#"
}

VJSONBinaryWriter::~VJSONBinaryWriter() {
    if (!fHolding) return;
    for (const IRefCountable* node : fRecorded)
        node->Release();
}

void VJSONBinaryWriter::BuildPathPointerString(const PathPart* path, VString& out) {
    if (path == nullptr || path->fParent == nullptr) {
        out.FromUniChar(u'#');
        return;
    }
    BuildPathPointerString(path->fParent, out);
    if (path->fName != nullptr) {
        AppendPointerName(path->fName->GetCPointer(), path->fName->GetLength(), out);
    } else {
        AppendPointerIndex(path->fIndex, out);
    }
}

// ---- Entry points

VError VJSONBinaryWriter::StreamValue(const VJSONValue& value, VMemoryBuffer<1024, 2, 1048576>& buffer) {
    Sink sink(buffer);
    Place root;
    root.fStep = 0;
    return _Finish(_StreamValue(value, sink, root), sink);
}

VError VJSONBinaryWriter::StreamObject(const VJSONObject* object, VMemoryBuffer<1024, 2, 1048576>& buffer) {
    Sink sink(buffer);
    return _Finish(_StreamObject(object, sink, 0), sink);
}

VError VJSONBinaryWriter::StreamArray(const VJSONArray* array, VMemoryBuffer<1024, 2, 1048576>& buffer) {
    Sink sink(buffer);
    return _Finish(_StreamArray(array, sink, 0), sink);
}

VError VJSONBinaryWriter::_Finish(VError err, const Sink& sink) {
    if (err != VE_OK || !sink.Failed()) return err;
    _ThrowError(VE_MEMORY_FULL);
    return VE_MEMORY_FULL;
}

// ---- Values

uint32 VJSONBinaryWriter::_StepOf(const Place& place) {
    if (place.fStep != kNoStep) return place.fStep;
    Step step;
    step.fParent = place.fParent;
    if (place.fIndexed) {
        step.fIndexed = true;
        step.fIndex = place.fIndex;
    } else if (place.fStored != nullptr) {
        step.fName = VJSONPropertyName(*place.fStored);
    } else if (place.fName != nullptr && !VJSONPropertyName::FromString(*place.fName, step.fName)) {
        throw std::bad_alloc();
    }
    fSteps.push_back(std::move(step));
    return uint32(fSteps.size() - 1);
}

void VJSONBinaryWriter::_Record(const IRefCountable* node, bool mayChange) {
    fRecorded.push_back(node);
    if (fHolding) {
        node->Retain();
    } else if (mayChange) {
        _HoldRecorded();
    }
}

void VJSONBinaryWriter::_HoldRecorded() {
    // Until a hook runs or another task could reach a node, nothing can free what was recorded; from then on
    // every recorded node is held, so that its address never comes back for a new node, which would then be
    // written as a reference to the first.
    if (fHolding) return;
    fHolding = true;
    for (const IRefCountable* node : fRecorded)
        node->Retain();
}

VError VJSONBinaryWriter::_StreamValue(const VJSONValue& value, Sink& sink, const Place& place) {
    switch (value.GetType()) {
    case JSON_null:
    case JSON_false:
    case JSON_true:
    case JSON_undefined:
        sink.Put(uint8(value.GetType()));
        return VE_OK;
    case JSON_string: {
        const VInlineString& text = value.fPayload.fString.fText; // a payload never changes in place
        sink.PutUnits(JSON_string, text.GetUnits(), uint32(text.GetLength()));
        return VE_OK;
    }
    case JSON_number:
        sink.PutTyped(JSON_number, value.GetNumber());
        return VE_OK;
    case JSON_time: {
        VTime time;
        value.GetTime(time);
        sink.PutTyped(JSON_time, time.GetMilliseconds());
        return VE_OK;
    }
    case JSON_object:
    case JSON_array:
        break;
    default:
        return VE_OK;
    }
    VJSONObject* object = value.GetObjectPtr();
    VJSONArray* array = value.GetArrayPtr();
    const void* address = object != nullptr ? static_cast<const void*>(object) : array;
    if (address == nullptr) {
        sink.Put(uint8(JSON_null));
        return VE_OK;
    }
    uint32 step = 0;
    try {
        bool found = false;
        uint32& slot = fNodes->FindOrAdd(address, found);
        if (found) {
            _StreamReference(slot, sink);
            return VE_OK;
        }
        step = slot = _StepOf(place);
        if (object != nullptr) {
            _Record(object,
                    object->fImplementation != nullptr || object->fLocker != nullptr || object->IsSharedGraph());
        } else {
            _Record(array, array->fLocker != nullptr || array->IsSharedGraph());
        }
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
    return object != nullptr ? _StreamObject(object, sink, step) : _StreamArray(array, sink, step);
}

void VJSONBinaryWriter::_StreamReference(uint32 step, Sink& sink) {
    std::vector<uint32> chain;
    for (uint32 s = step; s != 0 && s != kNoStep; s = fSteps[s].fParent)
        chain.push_back(s);
    VString pointer("#");
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Step& part = fSteps[*it];
        if (part.fIndexed) {
            AppendPointerIndex(part.fIndex, pointer);
        } else {
            AppendPointerName(part.fName.GetUnits(), part.fName.GetLength(), pointer);
        }
    }
    sink.PutUnits(kReferenceType, pointer.GetCPointer(), uint32(pointer.GetLength()));
}

// ---- Arrays

VError VJSONBinaryWriter::_StreamArray(const VJSONArray* array, Sink& sink, uint32 step) {
    if (array == nullptr) {
        sink.Put(uint8(JSON_null));
        return VE_OK;
    }
    if (fDepth >= kJSONTextMaxDepth) {
        _ThrowError(VE_JSON_TOO_DEEP);
        return VE_JSON_TOO_DEEP;
    }
    // A shared array is written from a copy of its items taken under its lock, so that the count written is the
    // count of items that follow.
    std::vector<VJSONValue> copies;
    bool inPlace = array->fLocker == nullptr;
    if (!inPlace) array->GetValues(copies);
    size_t count = inPlace ? array->fValues.size() : copies.size();
    if (count > size_t(std::numeric_limits<int32>::max())) {
        _ThrowError(VE_JSON_NO_BINARY_FORM);
        return VE_JSON_NO_BINARY_FORM;
    }
    sink.PutTyped(JSON_array, uint32(count));
    ++fDepth;
    VError err = VE_OK;
    Place place;
    place.fParent = step;
    place.fIndexed = true;
    for (size_t i = 0; i < count && err == VE_OK; ++i) {
        place.fIndex = i;
        if (!inPlace) {
            err = _StreamValue(copies[i], sink, place);
        } else if (i >= array->fValues.size()) {
            // A hook emptied the array under the walk: what is missing is written undefined.
            sink.Put(uint8(JSON_undefined));
        } else {
            // An object with an implementation, which writing calls, is held for the time it is written.
            const VJSONValue& item = array->fValues[i];
            VJSONObject* object = item.GetObjectPtr();
            err = object != nullptr && object->fImplementation != nullptr ? _StreamValue(VJSONValue(item), sink, place)
                                                                          : _StreamValue(item, sink, place);
        }
    }
    --fDepth;
    return err;
}

// ---- Objects

VError VJSONBinaryWriter::_StreamObject(const VJSONObject* object, Sink& sink, uint32 step) {
    if (object == nullptr) {
        sink.Put(uint8(JSON_null));
        return VE_OK;
    }
    IJSONObject* implementation = object->fImplementation;
    if (implementation != nullptr) {
        _HoldRecorded(); // the hooks may change the graph
        VJSONValue replacement(const_cast<VJSONObject*>(object));
        implementation->IJSON_GetValueToWriteToBuffer(replacement);
        if (replacement.GetObjectPtr() != object) {
            Place same;
            same.fStep = step;
            return _StreamValue(replacement, sink, same);
        }
    }
    if (fDepth >= kJSONTextMaxDepth) {
        _ThrowError(VE_JSON_TOO_DEEP);
        return VE_JSON_TOO_DEEP;
    }
    sink.Put(uint8(JSON_object));
    uint32 signature = implementation != nullptr ? implementation->IJSON_GetBinarySignature() : 0;
    ++fDepth;
    VError err = _StreamMembers(object, implementation, signature != 0, sink, step);
    --fDepth;
    if (err != VE_OK) return err;
    return _StreamTrailer(object, implementation, signature, sink);
}

VError VJSONBinaryWriter::_StreamName(const UniChar* units, int32 length, Sink& sink) {
    // Longer names would read back as the markers that end an object.
    if (length > kMaxNameUnits) {
        _ThrowError(VE_JSON_NO_BINARY_FORM);
        return VE_JSON_NO_BINARY_FORM;
    }
    sink.Put(uint16(length));
    sink.Put(units, size_t(length) * sizeof(UniChar));
    return VE_OK;
}

VError VJSONBinaryWriter::_StreamMembers(const VJSONObject* object, IJSONObject* implementation, bool hasSignature,
                                         Sink& sink, uint32 step) {
    Place place;
    place.fParent = step;
    VError err = VE_OK;
    if (implementation == nullptr && object->fLocker == nullptr) {
        // A plain object is read in place, as its ordered iterator would read it.
        for (size_t i = 0; i < object->fProperties.GetCount() && err == VE_OK; ++i) {
            const VJSONPropertyMap::Property& property = object->fProperties.At(i);
            err = _StreamName(property.fName.GetUnits(), property.fName.GetLength(), sink);
            if (err != VE_OK) break;
            place.fStored = &property.fName;
            VJSONObject* child = property.fValue.GetObjectPtr();
            err = child != nullptr && child->fImplementation != nullptr
                      ? _StreamValue(VJSONValue(property.fValue), sink, place)
                      : _StreamValue(property.fValue, sink, place);
        }
        return err;
    }
    // The implementation's names are written only for an object without binary form of its own; the class's
    // getters never are.
    _HoldRecorded();
    for (VJSONPropertyConstOrderedIterator it(object, hasSignature ? 1 : 0); it.IsValid() && err == VE_OK; ++it) {
        const VString& name = it.GetName();
        err = _StreamName(name.GetCPointer(), name.GetLength(), sink);
        if (err != VE_OK) break;
        place.fName = &name;
        err = _StreamValue(it.GetValue(), sink, place);
    }
    return err;
}

VError VJSONBinaryWriter::_StreamTrailer(const VJSONObject* object, IJSONObject* implementation, uint32 signature,
                                         Sink& sink) {
    if (signature != 0) {
        sink.Put(kExtension);
        sink.Put(signature);
        VError error = VE_OK;
        switch (implementation->IJSON_WriteToBuffer(sink.Buffer(), &error)) {
        case EJSONStatus_done:
            return VE_OK;
        case EJSONStatus_notHandled:
            sink.Put(uint64(0));
            return VE_OK;
        default:
            return error != VE_OK ? error : VE_JSON_NO_BINARY_FORM;
        }
    }
    VJSONClass* cls = object->GetClass();
    if (implementation != nullptr || object->IsGenericObject() || cls == nullptr) {
        sink.Put(kEndOfObject);
        return VE_OK;
    }
    const VString& store = cls->GetStoreName();
    const VString& name = cls->GetName();
    if (store.GetLength() > kMaxClassNameUnits || name.GetLength() > kMaxClassNameUnits) {
        _ThrowError(VE_JSON_NO_BINARY_FORM);
        return VE_JSON_NO_BINARY_FORM;
    }
    sink.Put(kExtension);
    sink.Put(kClassSignature);
    sink.Put(uint64(2 * (store.GetLength() + name.GetLength()) + 4));
    sink.Put(uint16(store.GetLength()));
    sink.Put(store.GetCPointer(), size_t(store.GetLength()) * sizeof(UniChar));
    sink.Put(uint16(name.GetLength()));
    sink.Put(name.GetCPointer(), size_t(name.GetLength()) * sizeof(UniChar));
    return VE_OK;
}

} // namespace vela
