#pragma once

#include "core/VObject.h"
#include "values/VUUID.h"

#include <map>

namespace vela {

class VValueBag;

// Helps objects load themselves from bags: with regeneration, every identifier read from the bags (attribute
// "uuid") is replaced by a fresh one, the same stored identifier always by the same fresh one.
class VBagLoader : public VObject {
public:
    // The second flag, like the two further ones (true from the start), means what the loading objects make of it.
    VBagLoader(bool regenerateUUIDs, bool second) noexcept : fRegenerateUUIDs(regenerateUUIDs), fSecond(second) {}

    bool IsRegeneratingUUIDs() const noexcept { return fRegenerateUUIDs; }
    bool GetSecondFlag() const noexcept { return fSecond; }
    bool GetThirdFlag() const noexcept { return fThird; }
    void SetThirdFlag(bool flag) noexcept { fThird = flag; }
    bool GetFourthFlag() const noexcept { return fFourth; }
    void SetFourthFlag(bool flag) noexcept { fFourth = flag; }

    // The identifier for the object of bag; true when bag stores one. Without regeneration: the stored one, or a
    // fresh one (false) when there is none. With regeneration: a fresh one, except that a stored identifier met
    // before gives the fresh one it got then.
    bool GetUUID(const VValueBag& bag, VUUID& out);
    // With regeneration, io becomes the fresh identifier given for it (true) or stays (false); without, true.
    bool ResolveUUID(VUUID& io) const;

private:
    bool fRegenerateUUIDs;
    bool fSecond;
    bool fThird = true;
    bool fFourth = true;
    std::map<VUUID, VUUID> fRegenerated;
};

} // namespace vela
