#include "values/IBaggable.h"

namespace vela {

VError IBaggable::LoadFromBagWithLoader(const VValueBag& bag, VBagLoader*, void*) {
    return LoadFromBag(bag);
}

VError IBaggable::LoadFromBag(const VValueBag&) {
    return VE_OK;
}

} // namespace vela
