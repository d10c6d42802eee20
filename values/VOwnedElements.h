#pragma once

#include "core/VTypes.h"

#include <utility>

namespace vela::owned_elements {

// Storage-level handling shared by the arrays whose elements are owned objects or null.

template <class T> void Delete(T** elements, int32 count, int32 start, int32 n) {
    if (start < 0 || n < 1 || int64(start) + n > count) return;
    for (int32 i = start; i < start + n; ++i) {
        delete elements[i];
        elements[i] = nullptr;
    }
}

template <class T> void Swap(uint8* data, int32 i, int32 j) {
    auto** elements = reinterpret_cast<T**>(data);
    std::swap(elements[i], elements[j]);
}

// Null before non-null, two nulls equal, else order(a, b).
template <class T, class Order> CompareResult Compare(uint8* data, int32 i, int32 j, Order order) {
    auto** elements = reinterpret_cast<T**>(data);
    const T* a = elements[i];
    const T* b = elements[j];
    if (a == nullptr || b == nullptr) return a == b ? CR_EQUAL : (a == nullptr ? CR_SMALLER : CR_BIGGER);
    return order(*a, *b);
}

// Replaces every element shared with a source after a byte copy by copy(element); false when one could not be
// made (it is then left null).
template <class T, class Copy> bool Duplicate(T** elements, int32 count, Copy copy) {
    bool complete = true;
    for (int32 i = 0; i < count; ++i) {
        T*& element = elements[i];
        if (element == nullptr) continue;
        element = copy(*element);
        complete = complete && element != nullptr;
    }
    return complete;
}

} // namespace vela::owned_elements
