#pragma once

#include "core/VString.h"
#include "core/VTaskMgr.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <string>

namespace vela::test {

inline std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

inline std::u16string TextOf(const VJSONValue& value) {
    VString text;
    value.GetString(text);
    return Units(text);
}

// Counts the objects and arrays made and destroyed on this thread for its lifetime: the live-object oracle of
// the graph tests. LiveObjects() and LiveArrays() answer how many are alive now.
class StLiveCounters {
public:
    StLiveCounters() {
        VJSONObject::sTaskCounter = 0;
        VJSONArray::sTaskCounter = 0;
        VJSONObject::sTaskToMonitor = uint32(VTaskMgr::GetCurrentOwnerID());
        VJSONArray::sTaskToMonitor = uint32(VTaskMgr::GetCurrentOwnerID());
    }
    ~StLiveCounters() {
        VJSONObject::sTaskToMonitor = 0;
        VJSONArray::sTaskToMonitor = 0;
    }
    StLiveCounters(const StLiveCounters&) = delete;
    StLiveCounters& operator=(const StLiveCounters&) = delete;

    static int32 LiveObjects() { return VJSONObject::sTaskCounter.load(); }
    static int32 LiveArrays() { return VJSONArray::sTaskCounter.load(); }
};

} // namespace vela::test
