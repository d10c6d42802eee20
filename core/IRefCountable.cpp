#include "core/IRefCountable.h"

namespace vela {

int32 IRefCountable::Retain(const char*) const noexcept {
    return int32(fRefCount.fetch_add(1) + 1);
}

bool IRefCountable::TryRetain() const noexcept {
    uint32 count = fRefCount.load(std::memory_order_relaxed);
    while (count != 0) {
        if (fRefCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel, std::memory_order_relaxed))
            return true;
    }
    return false;
}

int32 IRefCountable::Release(const char*) const noexcept {
    uint32 previous = fRefCount.fetch_sub(1);
    if (previous == 1) const_cast<IRefCountable*>(this)->DoOnRefCountZero();
    return int32(previous - 1);
}

void IRefCountable::DoOnRefCountZero() {
    delete this;
}

} // namespace vela
