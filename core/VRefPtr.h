#pragma once

#include <utility>

namespace vela {

// Holds one counted reference to a T derived from IRefCountable, or null.
template <class T> class VRefPtr {
public:
    VRefPtr() noexcept = default;
    // Retains object (null allowed).
    explicit VRefPtr(T* object) noexcept : fObject(object) {
        if (fObject != nullptr) fObject->Retain();
    }
    // Takes over the caller's reference without retaining.
    static VRefPtr Adopt(T* object) noexcept {
        VRefPtr ptr;
        ptr.fObject = object;
        return ptr;
    }
    VRefPtr(const VRefPtr& other) noexcept : VRefPtr(other.fObject) {}
    VRefPtr(VRefPtr&& other) noexcept : fObject(std::exchange(other.fObject, nullptr)) {}
    ~VRefPtr() {
        if (fObject != nullptr) fObject->Release();
    }

    VRefPtr& operator=(const VRefPtr& other) noexcept {
        Set(other.fObject);
        return *this;
    }
    VRefPtr& operator=(VRefPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(fObject, std::exchange(other.fObject, nullptr));
            if (old != nullptr) old->Release();
        }
        return *this;
    }
    VRefPtr& operator=(T* object) noexcept {
        Set(object);
        return *this;
    }

    // Retains the new object first, then releases the old one, so self-assignment is safe.
    void Set(T* object) noexcept {
        if (object == fObject) return;
        if (object != nullptr) object->Retain();
        T* old = std::exchange(fObject, object);
        if (old != nullptr) old->Release();
    }
    void Clear() noexcept { Set(nullptr); }
    // Hands the reference to the caller.
    T* Forget() noexcept { return std::exchange(fObject, nullptr); }

    T* Get() const noexcept { return fObject; }
    T* operator->() const noexcept { return fObject; }
    T& operator*() const noexcept { return *fObject; }
    explicit operator bool() const noexcept { return fObject != nullptr; }
    bool operator==(const VRefPtr& other) const noexcept { return fObject == other.fObject; }

private:
    T* fObject = nullptr;
};

} // namespace vela
