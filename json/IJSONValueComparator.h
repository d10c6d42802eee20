#pragma once

namespace vela {

class VJSONValue;

// The order of VJSONArray::Sort: true when a must come before b. Any answers are safe: an inconsistent comparator
// only gives an odd order.
class IJSONValueComparator {
public:
    virtual ~IJSONValueComparator() = default;
    virtual bool operator()(const VJSONValue& a, const VJSONValue& b) = 0;
};

} // namespace vela
