#include "json/VJSONBlob.h"

#include "core/VMemoryBuffer.h"
#include "json/IJSONFunctionContext.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

namespace vela {

const VString VJSONBlob::key_size("size");

namespace {

std::mutex sBlobClassMutex;

// The number truncated toward zero; NaN gives 0 and values beyond int64 saturate.
int64 TruncateToInt64(double value) noexcept {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<int64>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64>::min();
    return int64(value);
}

size_t ClampOffset(int64 offset, size_t size) noexcept {
    if (offset < 0) return uint64(-(offset + 1)) + 1 >= size ? 0 : size - (uint64(-(offset + 1)) + 1);
    return uint64(offset) < size ? size_t(offset) : size;
}

} // namespace

VJSONBlob* VJSONBlob::_NewCopy(const void* data, size_t length) {
    if (length == 0) return new VJSONBlob;
    std::shared_ptr<uint8[]> buffer(new (std::nothrow) uint8[length]);
    if (!buffer) {
        _ThrowError(VE_MEMORY_FULL);
        return nullptr;
    }
    std::memcpy(buffer.get(), data, length);
    return new VJSONBlob(std::move(buffer), 0, length);
}

VRefPtr<VJSONObject> VJSONBlob::_Wrap(VJSONBlob* blob) {
    if (blob == nullptr) return {};
    auto implementation = VRefPtr<VJSONBlob>::Adopt(blob);
    VRefPtr<VJSONObject> classObject = GetClass();
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject(classObject.Get(), implementation.Get()));
}

VRefPtr<VJSONObject> VJSONBlob::Create(const void* data, size_t length) {
    return _Wrap(_NewCopy(data, length));
}

VRefPtr<VJSONObject> VJSONBlob::CreateSlice(int64 start, int64 end) const {
    size_t size = GetSize();
    size_t begin = ClampOffset(start, size);
    size_t finish = ClampOffset(end, size);
    if (finish <= begin) return _Wrap(new VJSONBlob);
    return _Wrap(new VJSONBlob(fBuffer, fStart + begin, fStart + finish));
}

VJSONBlob* VJSONBlob::CastJSONObject(const VJSONObject* object) noexcept {
    return object != nullptr ? dynamic_cast<VJSONBlob*>(object->GetImplementation()) : nullptr;
}

VJSONBlob* VJSONBlob::GetThis(IJSONFunctionContext* context) noexcept {
    return context != nullptr ? CastJSONObject(context->GetThisObject()) : nullptr;
}

VRefPtr<VJSONObject> VJSONBlob::GetClass() {
    VRefPtr<VJSONClassStore> store = VJSONClassStore::GetProcessStore();
    if (!store) return {};
    // Two tasks meeting the first blob must not both add the class.
    std::lock_guard<std::mutex> lock(sBlobClassMutex);
    if (VRefPtr<VJSONObject> existing = store->GetClassObject("Blob", false)) return existing;
    return store->AddClass("Blob", {{"slice", do_slice, 0}}, nullptr, nullptr, do_instantiate, 0);
}

// ---- Native functions

VJSONObject* VJSONBlob::do_instantiate(VJSONObject*, IJSONFunctionContext* context) {
    size_t count = context != nullptr ? context->GetParamCount() : 0;
    if (count == 0) return Create(nullptr, 0).Forget();
    if (count != 1) {
        _ThrowError(MakeJSONRuntimeError(58));
        return nullptr;
    }
    // A parameter that is no blob makes nothing: an empty blob would pass for a copy.
    VJSONBlobRange range = context->GetBlobParam(1, false);
    if (range.fFound == 0) return nullptr;
    return Create(range.fData, range.fSize).Forget();
}

EJSONStatus VJSONBlob::do_slice(const VJSONObject*, IJSONFunctionContext* context) {
    VJSONBlob* blob = GetThis(context);
    if (blob == nullptr) return EJSONStatus_failed;
    int64 bounds[2] = {0, int64(blob->GetSize())};
    for (int32 index : {1, 2}) {
        VJSONValue param = context->GetParam(index);
        if (param.IsUndefined()) continue;
        // A bound of another kind is refused rather than read as a default.
        bounds[index - 1] = TruncateToInt64(context->GetNumberParam(index));
        if (!param.IsNumber()) return EJSONStatus_failed;
    }
    VRefPtr<VJSONObject> slice = blob->CreateSlice(bounds[0], bounds[1]);
    if (!slice) return EJSONStatus_failed;
    context->SetResult(VJSONValue(slice.Get()), 5);
    return EJSONStatus_done;
}

VJSONBlob* VJSONBlob::CreateIJSONObject(VJSONObject*, uint32, const void* data, size_t length,
                                        VRefPtr<VJSONObject>& classObject, uint64* error) {
    VJSONBlob* blob = _NewCopy(data, length);
    if (blob == nullptr) {
        if (error != nullptr) *error = 100;
        return nullptr;
    }
    classObject = GetClass();
    return blob;
}

// ---- Hooks

EJSONStatus VJSONBlob::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                         VDBLanguageContext*) {
    if (!name.EqualToStringRaw(key_size)) return EJSONStatus_notHandled;
    out = VJSONValue(double(GetSize()));
    return EJSONStatus_done;
}

EJSONStatus VJSONBlob::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) {
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY, &name);
    return EJSONStatus_failed;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyNames(std::vector<VString>& names, uint32) {
    names.push_back(key_size);
    return EJSONStatus_done;
}

EJSONStatus VJSONBlob::IJSON_GetDescription(const VJSONObject*, VString& out) {
    char text[40];
    std::snprintf(text, sizeof text, "%zu bytes", GetSize());
    out.FromCString(text);
    return EJSONStatus_done;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyByIndex(const VJSONObject*, size_t index, VJSONValue& out) {
    if (index >= GetSize()) {
        _ThrowError(VE_JSON_INDEX_PAST_END);
        return EJSONStatus_failed;
    }
    out = VJSONValue(double(GetData()[index]));
    return EJSONStatus_done;
}

EJSONStatus VJSONBlob::IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t* count) {
    if (count != nullptr) *count = GetSize();
    return EJSONStatus_done;
}

EJSONStatus VJSONBlob::IJSON_Clone(const VJSONObject* object, VJSONCloner&, VJSONValue& out, VError*) {
    out.SetObject(const_cast<VJSONObject*>(object)); // immutable: the copy is the blob itself
    return EJSONStatus_done;
}

EJSONStatus VJSONBlob::IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, VError* error) {
    uint64 size = GetSize();
    if (!buffer.AddData(&size, sizeof size) || (size != 0 && !buffer.AddData(GetData(), size_t(size)))) {
        if (error != nullptr) *error = VE_MEMORY_FULL;
        return EJSONStatus_failed;
    }
    return EJSONStatus_done;
}

} // namespace vela
