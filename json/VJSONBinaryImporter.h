#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/VJSONGraph.h"
#include "json/VJSONStamp.h"

#include <memory>

namespace vela {

class VJSONArray;
class VJSONObject;
class VJSONValue;

// Reads the binary form that VJSONBinaryWriter writes back into a value graph. References (byte 255 and a JSON
// Pointer) are resolved against the part of the graph read so far, with the pointer's "~0" and "~1" as the only
// escapes; each becomes one more holder of the node it designates, so shared nodes and cycles come back.
// The data may come from anywhere (the JSON text parser reads it from a Base64 text): whatever it holds, nothing
// is read past its end, no count asks for more than the bytes left, nesting deeper than kJSONTextMaxDepth
// objects and arrays fails with 108, and data that ends early or is malformed (a negative or oversized count, a
// cut number, date or extension block, an unknown type whose length is below 4, a reference that designates no
// object or array read before, a date beyond the year 32767) fails with 200. Errors are raised and answered.
class VJSONBinaryImporter : public VObject {
public:
    // Borrows size bytes from data (which must outlive the importer); every object and array made gets stamp
    // (may be null).
    VJSONBinaryImporter(const void* data, size_t size, VJSONStamp* stamp = nullptr);
    ~VJSONBinaryImporter() override;
    VJSONBinaryImporter(const VJSONBinaryImporter&) = delete;
    VJSONBinaryImporter& operator=(const VJSONBinaryImporter&) = delete;

    // Reads one value and all it holds into out (bytes after it are not examined). Null data gives undefined and
    // 0. On failure out holds what was read (containers partly filled) and the error is answered.
    VError GetValue(VJSONValue& out);

private:
    // What a value read still needs: the contents of its new object or array.
    struct Pending {
        bool fContents = false;
        bool fReference = false; // the value is a node read before
        uint32 fCount = 0;       // the items of a new array
    };

    bool _Has(size_t count) const noexcept { return size_t(fEnd - fPosition) >= count; }
    template <class T> T _Take() noexcept;
    VError _Malformed();
    VError _GetValue(VJSONValue& value, Pending& pending);
    // The contents of a new object, or of a new array of count items.
    VError _GetContents(VJSONObject* object, VJSONArray* array, uint32 count);
    VError _GetArrayContents(VJSONArray* array, uint32 count);
    VError _GetObjectContents(VJSONObject* object);
    VError _GetExtension(VJSONObject* object);
    VError _GetReference(VJSONValue& value);
    VError _GetTime(VJSONValue& value);
    void _SetClass(VJSONObject* object, VJSONObject* classObject);
    void _SetClassFromPayload(VJSONObject* object, const uint8* payload, size_t size);
    // Copies length units at the position into fName (aligned, the data is not) and steps over them.
    void _TakeName(int32 length);

    VRefPtr<VJSONStamp> fStamp;
    const uint8* fStart;
    const uint8* fPosition;
    const uint8* fEnd;
    const VJSONValue* fRoot = nullptr; // while reading: what references are resolved against
    int32 fDepth = 0;
    VStr<255> fName;
    std::unique_ptr<VString[]> fKeys; // recent long names: repeated names share one buffer
    // The nodes read join one graph as they are stored.
    VJSONTreeLinker fLinker;
};

} // namespace vela
