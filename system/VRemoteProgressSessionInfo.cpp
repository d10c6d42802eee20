#include "system/VRemoteProgressSessionInfo.h"

#include "core/VString.h"
#include "values/StBagKey.h"
#include "values/VBagArray.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"

namespace vela {

namespace {

const StBagKeyNoDefault<uint32, VLong> kKeyFlags("fFlags");
const StBagKeyNoDefault<int32, VLong> kKeySessionCount("fSessionCount");
const StBagKeyNoDefault<uint32, VLong> kKeyChangesVersion("fChangesVersion");
const StBagKeyNoDefault<uint32, VLong> kKeySessionVersion("fSessionVersion");
const StBagKeyNoDefault<uint32, VLong> kKeyMasterSessionVersion("fMasterSessionVersion");
const StBagKeyNoDefault<bool, VBoolean> kKeyUserAbort("fUserAbort");
const StBagKeyNoDefault<bool, VBoolean> kKeyCanInterrupt("fCanInterrupt");
const StPackedDictionaryKey kKeyCurrent("fCurrent");
const StPackedDictionaryKey kKeySessionStack("fSessionStack");

VRefPtr<VValueBag> LevelBag(const VProgressIndicatorInfo& level, const VProgressIndicatorInfo* previous) {
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    VString kind;
    level.SaveToBag(*bag, kind, previous);
    return bag;
}

} // namespace

void VRemoteProgressSessionInfo::Reset() {
    fSessionCount = 0;
    fLevels.clear();
    fChangesVersion = 0;
    fMasterSessionVersion = 0;
    fSessionVersion = 0;
    fFlags = 0;
    fCurrentUpdateFlags = VProgressIndicatorInfo::kAll;
}

void VRemoteProgressSessionInfo::FromProgressInfo(const VProgressIndicatorInfo* current,
                                                  const std::deque<VProgressIndicatorInfo>* stack, int32 count,
                                                  uint32 changesVersion, uint32 sessionVersion, uint32 masterVersion) {
    fSessionCount = count;
    fChangesVersion = changesVersion;
    fSessionVersion = sessionVersion;
    fMasterSessionVersion = masterVersion;
    fFlags |= kSessionCount | kChangesVersion | kSessionVersion | kMasterSessionVersion;
    fFlags &= ~uint32(kCurrent | kSessionStack);
    fCurrentUpdateFlags = VProgressIndicatorInfo::kAll;
    fLevels.clear();
    if (stack != nullptr) {
        fLevels = *stack;
        if (current != nullptr) fLevels.push_back(*current);
        fFlags |= kSessionStack;
    } else if (current != nullptr && count >= 1) {
        fLevels.push_back(*current);
        fFlags |= kCurrent;
    }
}

void VRemoteProgressSessionInfo::SetUserAbort(bool userAbort) noexcept {
    fUserAbort = userAbort;
    fFlags |= kUserAbort;
}

void VRemoteProgressSessionInfo::SetCanInterrupt(bool canInterrupt) noexcept {
    fCanInterrupt = canInterrupt;
    fFlags |= kCanInterrupt;
}

void VRemoteProgressSessionInfo::SaveToBag(VValueBag& bag, VString& outKind,
                                           const VRemoteProgressSessionInfo* previous) const {
    uint32 written = 0;
    auto changed = [&](uint32 flag, bool differs) { return (fFlags & flag) != 0 && (previous == nullptr || differs); };
    if (changed(kSessionCount, previous != nullptr && fSessionCount != previous->fSessionCount)) {
        kKeySessionCount.Set(bag, fSessionCount);
        written |= kSessionCount;
    }
    if (changed(kChangesVersion, previous != nullptr && fChangesVersion != previous->fChangesVersion)) {
        kKeyChangesVersion.Set(bag, fChangesVersion);
        written |= kChangesVersion;
    }
    if (changed(kSessionVersion, previous != nullptr && fSessionVersion != previous->fSessionVersion)) {
        kKeySessionVersion.Set(bag, fSessionVersion);
        written |= kSessionVersion;
    }
    if (changed(kMasterSessionVersion,
                previous != nullptr && fMasterSessionVersion != previous->fMasterSessionVersion)) {
        kKeyMasterSessionVersion.Set(bag, fMasterSessionVersion);
        written |= kMasterSessionVersion;
    }
    if (changed(kUserAbort, previous != nullptr && fUserAbort != previous->fUserAbort)) {
        kKeyUserAbort.Set(bag, fUserAbort);
        written |= kUserAbort;
    }
    if (changed(kCanInterrupt, previous != nullptr && fCanInterrupt != previous->fCanInterrupt)) {
        kKeyCanInterrupt.Set(bag, fCanInterrupt);
        written |= kCanInterrupt;
    }
    if ((fFlags & kSessionStack) != 0) {
        for (const VProgressIndicatorInfo& level : fLevels)
            bag.AddElement(kKeySessionStack, LevelBag(level, nullptr).Get());
        written |= kSessionStack;
    } else if ((fFlags & kCurrent) != 0 && !fLevels.empty()) {
        const bool delta =
            previous != nullptr && previous->fSessionCount == fSessionCount && !previous->fLevels.empty();
        bag.AddElement(kKeyCurrent, LevelBag(fLevels.back(), delta ? &previous->fLevels.back() : nullptr).Get());
        written |= kCurrent;
    }
    kKeyFlags.Set(bag, written);
    outKind = VString("DistantSessionInfo");
}

void VRemoteProgressSessionInfo::LoadFromBag(const VValueBag& bag) {
    uint32 flags = 0;
    kKeyFlags.Get(bag, flags);
    if ((flags & kSessionCount) != 0) kKeySessionCount.Get(bag, fSessionCount);
    if ((flags & kChangesVersion) != 0) kKeyChangesVersion.Get(bag, fChangesVersion);
    if ((flags & kSessionVersion) != 0) kKeySessionVersion.Get(bag, fSessionVersion);
    if ((flags & kMasterSessionVersion) != 0) kKeyMasterSessionVersion.Get(bag, fMasterSessionVersion);
    if ((flags & kUserAbort) != 0) kKeyUserAbort.Get(bag, fUserAbort);
    if ((flags & kCanInterrupt) != 0) kKeyCanInterrupt.Get(bag, fCanInterrupt);
    if ((flags & kSessionStack) != 0) {
        fCurrentUpdateFlags = VProgressIndicatorInfo::kAll;
        fLevels.clear();
        if (VBagArray* levels = bag.GetElements(kKeySessionStack)) {
            for (int32 n = 1; n <= levels->GetCount(); ++n) {
                fLevels.emplace_back();
                fLevels.back().LoadFromBag(*levels->GetNth(n));
            }
        }
    } else if ((flags & kCurrent) != 0) {
        VBagArray* current = bag.GetElements(kKeyCurrent);
        if (current != nullptr && current->GetCount() >= 1) {
            if (fLevels.empty()) fLevels.emplace_back();
            fLevels.back().LoadFromBag(*current->GetNth(1));
            fCurrentUpdateFlags = VProgressIndicatorInfo::GetUpdateFlags(*current->GetNth(1));
        }
    }
    fFlags = flags;
}

} // namespace vela
