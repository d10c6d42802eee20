#include "values/VBagLoader.h"

#include "values/StBagKey.h"
#include "values/VValueBag.h"

namespace vela {

namespace {
// The default is a null identifier (VUUID::sNullUUID, which may not be built yet while this one is).
const StBagKeyWithDefault<VUUID, VUUID> kUUIDKey("uuid", VUUID());
} // namespace

bool VBagLoader::GetUUID(const VValueBag& bag, VUUID& out) {
    VUUID stored;
    if (!kUUIDKey.Get(bag, stored)) {
        out.Clear();
        out.Regenerate();
        return false;
    }
    if (!fRegenerateUUIDs) {
        out = stored;
        return true;
    }
    if (stored.IsNull()) {
        out.Regenerate();
        return true;
    }
    auto found = fRegenerated.find(stored);
    if (found != fRegenerated.end()) {
        out = found->second;
        return true;
    }
    out.Regenerate();
    fRegenerated.emplace(stored, out);
    return true;
}

bool VBagLoader::ResolveUUID(VUUID& io) const {
    if (!fRegenerateUUIDs) return true;
    auto found = fRegenerated.find(io);
    if (found == fRegenerated.end()) return false;
    io = found->second;
    return true;
}

} // namespace vela
