#pragma once

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VValueBag.h"

namespace vela::test {

using BagRef = VRefPtr<VValueBag>;

inline BagRef NewBag() {
    return BagRef::Adopt(new VValueBag);
}

// count bags, each the only child (named name) of the one before.
inline BagRef Chain(int count, const char* name) {
    BagRef root = NewBag();
    VValueBag* last = root.Get();
    for (int i = 1; i < count; ++i) {
        BagRef child = NewBag();
        last->AddElement(name, child.Get());
        last = child.Get();
    }
    return root;
}

} // namespace vela::test
