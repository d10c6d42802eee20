#pragma once

#include "core/VTypes.h"

#include <atomic>

namespace vela {

// Intrusive atomic reference count. A new object holds its creator's reference (count 1); functions named
// Retain... or Create... hand their caller a reference to release.
class IRefCountable {
public:
    IRefCountable() noexcept = default;
    // A copy is a new object with its own creator's reference.
    IRefCountable(const IRefCountable&) noexcept {}
    IRefCountable& operator=(const IRefCountable&) noexcept { return *this; }
    virtual ~IRefCountable() = default;

    // Adds a reference and answers the new count. The label is for debugging only.
    virtual int32 Retain(const char* label = nullptr) const noexcept;
    // Adds a reference unless the count already reached 0 (the object is going away); answers whether it did.
    // For registries that keep uncounted pointers and hand them out under their lock, so that a lookup racing
    // the last release never revives the object. Bypasses an overridden Retain.
    bool TryRetain() const noexcept;
    // Drops a reference and answers the new count; the last release calls DoOnRefCountZero.
    virtual int32 Release(const char* label = nullptr) const noexcept;
    // Hook for objects that hold references in a cycle: drops them. Never called by the base.
    virtual void ReleaseDependencies() {}

    int32 GetRefCount() const noexcept { return int32(fRefCount.load(std::memory_order_relaxed)); }

protected:
    // Runs once, on the thread that dropped the last reference. The default deletes the object.
    virtual void DoOnRefCountZero();

private:
    mutable std::atomic<uint32> fRefCount{1};
};

// Releases a reference held in a raw pointer and nulls it.
template <class T> inline void ReleaseRefCountable(T** object) noexcept {
    if (*object != nullptr) {
        (*object)->Release();
        *object = nullptr;
    }
}

// Retains and answers object (null stays null).
template <class T> inline T* RetainRefCountable(T* object) noexcept {
    if (object != nullptr) object->Retain();
    return object;
}

} // namespace vela
