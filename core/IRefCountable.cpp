#include "core/IRefCountable.h"

namespace vela {

int32 IRefCountable::Retain(const char*) const noexcept {
    return int32(fRefCount.fetch_add(1) + 1);
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
