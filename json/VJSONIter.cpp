#include "json/VJSONIter.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONUser.h"

#include <algorithm>
#include <cstdint>

namespace vela {

VJSONIter::VJSONIter(VJSONObject* object, int32 start, int32 end, bool toEnd) : fSource(object) {
    if (object == nullptr) return;
    if (IJSONObject* implementation = object->GetImplementation(); implementation != nullptr) {
        fDelegate = implementation->IJSON_MakeIterator(object, start, end, toEnd);
        if (fDelegate != nullptr) return;
    }
    for (VJSONPropertyConstOrderedIterator it(object, 0); it.IsValid(); ++it)
        fNames.push_back(it.GetName());
}

VJSONIter::VJSONIter(VJSONArray* array, int32 start, int32 end, bool toEnd) : fSource(array) {
    if (array == nullptr) return;
    // Computed in 64 bits: a count near 2^31 plus a negative bound stays exact.
    int64 count = int64(array->GetCount());
    int64 first = start < 0 ? std::max<int64>(start + count, 0) : start;
    int64 last = end < 0 ? std::max<int64>(end + count, 0) : std::min<int64>(end, count);
    if (toEnd) last = count;
    fCurrent = int32(std::min<int64>(first, INT32_MAX));
    fEnd = int32(std::min<int64>(last, INT32_MAX));
}

VJSONIter::~VJSONIter() {
    ReleaseRefCountable(&fDelegate);
}

bool VJSONIter::NextValue(VJSONValue& out) {
    out.SetUndefined();
    if (const VJSONArray* array = fSource.GetArrayPtr(); array != nullptr) {
        VJSONUser user(array);
        if (fCurrent >= fEnd || !array->GetAt(size_t(fCurrent), out)) return false;
        ++fCurrent;
        return true;
    }
    if (fDelegate != nullptr) return fDelegate->NextValue(out);
    if (fNextName >= fNames.size()) return false;
    out = VJSONValue(fNames[fNextName++]);
    return true;
}

} // namespace vela
