#include "json/VJSONTaskID.h"

#include <atomic>

namespace vela {

uint32 GetCurrentJSONTaskID() noexcept {
    static std::atomic<uint32> sNextID{1};
    thread_local uint32 tID = sNextID.fetch_add(1, std::memory_order_relaxed);
    return tID;
}

} // namespace vela
