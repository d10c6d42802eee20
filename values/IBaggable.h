#pragma once

#include "core/VError.h"

namespace vela {

class VBagLoader;
class VString;
class VValueBag;

// An object that saves itself into a bag and restores itself from one.
class IBaggable {
public:
    virtual ~IBaggable() = default;

    // Restores from bag with the help of loader (may be null); the default calls LoadFromBag.
    virtual VError LoadFromBagWithLoader(const VValueBag& bag, VBagLoader* loader, void* context = nullptr);
    // Restores from bag; the default does nothing and answers VE_OK.
    virtual VError LoadFromBag(const VValueBag& bag);
    // Fills ioBag and names the element it belongs under in outKind; VE_OK on success.
    virtual VError SaveToBag(VValueBag& ioBag, VString& outKind) const = 0;
};

} // namespace vela
