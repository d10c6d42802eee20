#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"

#include <atomic>

namespace vela {

// The change counter of an object or array: every set, removal and clearing of its own content moves it on.
class VJSONStamp : public VObject, public IRefCountable {
public:
    uint32 GetStamp() const noexcept { return fStamp.load(std::memory_order_relaxed); }
    void Touch() noexcept { fStamp.fetch_add(1, std::memory_order_relaxed); }

private:
    std::atomic<uint32> fStamp{0};
};

} // namespace vela
