#pragma once

#include "core/VObject.h"
#include "core/VString.h"
#include "json/IJSONObject.h"
#include "json/VJSONValue.h"

#include <vector>

namespace vela {

class VJSONArray;
class VJSONObject;

// Walks an array's elements or an object's property names. It is itself an object implementation (every hook
// keeps its default), so a JSON object can carry it. Made with a reference count of 1; holds a reference to what
// it walks. An iterator belongs to one task at a time.
class VJSONIter : public VObject, public IJSONObject {
public:
    // The property names of object (own properties in the order they were added, after the names its
    // implementation reports), taken now; start, end and toEnd are not used. When the object's implementation
    // makes an iterator (IJSON_MakeIterator, given start, end and toEnd), the walk is that iterator's.
    VJSONIter(VJSONObject* object, int32 start, int32 end, bool toEnd);
    // The elements of array from index start (0-based) to before index end. With n the size now: a negative start
    // or end counts from the end (start + n, end + n; below 0 they become 0), end is at most n, and toEnd makes it
    // n. A null array gives an empty walk.
    VJSONIter(VJSONArray* array, int32 start, int32 end, bool toEnd);
    ~VJSONIter() override;

    VJSONIter(const VJSONIter&) = delete;
    VJSONIter& operator=(const VJSONIter&) = delete;

    // out: the next element, or the next name as a string, and true; false (out undefined) at the end. An array
    // is read under a use of its storage locker, so the walk stops early when the array shrank below the place
    // reached.
    bool NextValue(VJSONValue& out);

private:
    VJSONValue fSource;
    std::vector<VString> fNames;
    size_t fNextName = 0;
    int32 fEnd = 0;
    int32 fCurrent = 0;
    VJSONIter* fDelegate = nullptr; // one reference
};

} // namespace vela
