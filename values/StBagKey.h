#pragma once

#include "values/StPackedDictionaryKey.h"
#include "values/VValueBag.h"

#include <type_traits>
#include <utility>

namespace vela {

// How a native type T travels in a value of class V: as the value itself (T is V), as a boolean, or as the
// value's integer datum (integers and enumerations).
template <class T, class V> struct StBagKeyTraits {
    static T ToNative(const V& value) {
        if constexpr (std::is_same_v<T, V>) {
            return value;
        } else if constexpr (std::is_same_v<T, bool>) {
            return value.GetBoolean();
        } else {
            return static_cast<T>(value.Get());
        }
    }
    static V FromNative(const T& native) {
        if constexpr (std::is_same_v<T, V>) {
            return native;
        } else if constexpr (std::is_same_v<T, bool>) {
            return V(uint8(native ? 1 : 0));
        } else {
            return V(static_cast<decltype(std::declval<const V&>().Get())>(native));
        }
    }
};

// A named attribute read and written as a native T carried by a value of class V (StBagKeyNoDefault<int32,
// VLong>, <VString, VString>, <bool, VBoolean>...). The key borrows the name, which must outlive it.
template <class T, class V> class StBagKeyNoDefault : public StPackedDictionaryKey {
public:
    constexpr explicit StBagKeyNoDefault(const char* name) noexcept : StPackedDictionaryKey(name) {}

    // The attribute as T; V's cleared value when absent.
    T Get(const VValueBag& bag) const {
        T out{};
        Get(bag, out);
        return out;
    }
    // out receives the attribute, or V's cleared value when absent (false).
    bool Get(const VValueBag& bag, T& out) const {
        V value;
        bool found = bag.GetAttribute(*this, value);
        if (!found) value.Clear();
        out = StBagKeyTraits<T, V>::ToNative(value);
        return found;
    }
    void Set(VValueBag& bag, const T& value) const { bag.SetAttribute(*this, StBagKeyTraits<T, V>::FromNative(value)); }
};

// The same with a default that answers for a missing attribute.
template <class T, class V> class StBagKeyWithDefault : public StPackedDictionaryKey {
public:
    StBagKeyWithDefault(const char* name, T defaultValue)
        : StPackedDictionaryKey(name), fDefault(std::move(defaultValue)) {}

    // The attribute as T; the default when absent.
    T Get(const VValueBag& bag) const {
        T out = fDefault;
        Get(bag, out);
        return out;
    }
    // out receives the attribute, or the default when absent (false).
    bool Get(const VValueBag& bag, T& out) const {
        V value;
        if (!bag.GetAttribute(*this, value)) {
            out = fDefault;
            return false;
        }
        out = StBagKeyTraits<T, V>::ToNative(value);
        return true;
    }
    void Set(VValueBag& bag, const T& value) const { bag.SetAttribute(*this, StBagKeyTraits<T, V>::FromNative(value)); }
    const T& GetDefault() const noexcept { return fDefault; }

private:
    T fDefault;
};

} // namespace vela
