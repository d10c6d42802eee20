#pragma once

#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/IJSONObject.h"

#include <memory>

namespace vela {

class IJSONFunctionContext;
class VJSONObject;

// An immutable byte sequence: the implementation of a JSON object of the class "Blob". A blob is a window on a
// shared buffer, so slices share the bytes of the blob they come from. Its "size" is a property, its bytes are
// read by index, and "slice(start, end)" is its one function.
class VJSONBlob : public VObject, public IJSONObject {
public:
    static const VString key_size;                         // "size"
    static constexpr uint32 kBinarySignature = 0x4A426C62; // 'JBlb'

    // A new blob object holding a copy of length bytes (a reference). 'vela' 100 and null when memory runs out.
    static VRefPtr<VJSONObject> Create(const void* data, size_t length);
    // A new blob object over this blob's bytes from start to end (negative ones count from the end, both clamped
    // to the size); empty when end is not after start.
    VRefPtr<VJSONObject> CreateSlice(int64 start, int64 end) const;
    // The blob behind an object (the call's this object), or null; borrowed.
    static VJSONBlob* CastJSONObject(const VJSONObject* object) noexcept;
    static VJSONBlob* GetThis(IJSONFunctionContext* context) noexcept;
    // The class object of "Blob" in the process store, made on first use (a reference); null without store.
    static VRefPtr<VJSONObject> GetClass();

    size_t GetSize() const noexcept { return fEnd - fStart; }
    // The first byte of the blob, or null when it is empty.
    const uint8* GetData() const noexcept { return fBuffer ? fBuffer.get() + fStart : nullptr; }

    // The class's instantiator: no parameter, an empty blob; one blob parameter, a copy of it; otherwise 'ZoRT'
    // 58 (54 for a parameter that is no blob) and null.
    static VJSONObject* do_instantiate(VJSONObject* classObject, IJSONFunctionContext* context);
    // "slice(start, end)": numbers truncated toward zero (NaN gives 0, out of range saturates).
    static EJSONStatus do_slice(const VJSONObject* self, IJSONFunctionContext* context);
    // Makes a blob from the payload of its binary form; *error (when given) receives 100 on memory shortage.
    static VJSONBlob* CreateIJSONObject(VJSONObject* object, uint32 signature, const void* data, size_t length,
                                        VRefPtr<VJSONObject>& classObject, uint64* error);

    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override;
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names, uint32 flags) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& out) override;
    EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject*, size_t index, VJSONValue& out) override;
    EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t* count) override;
    EJSONStatus IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*) override;
    uint32 IJSON_GetBinarySignature() override { return kBinarySignature; }
    // The size as a uint64 in host order, then the bytes.
    EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, VError* error) override;
    bool IJSON_IsEmpty(const VJSONObject*) override { return false; }

private:
    VJSONBlob() noexcept = default;
    VJSONBlob(std::shared_ptr<uint8[]> buffer, size_t start, size_t end) noexcept
        : fBuffer(std::move(buffer)), fStart(start), fEnd(end) {}
    // A copy of length bytes in a new buffer; null (with 'vela' 100 raised) when memory runs out.
    static VJSONBlob* _NewCopy(const void* data, size_t length);
    static VRefPtr<VJSONObject> _Wrap(VJSONBlob* blob);

    std::shared_ptr<uint8[]> fBuffer; // null for an empty blob
    size_t fStart = 0;
    size_t fEnd = 0;
};

} // namespace vela
