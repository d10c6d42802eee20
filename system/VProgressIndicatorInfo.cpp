#include "system/VProgressIndicatorInfo.h"

#include "core/VTaskMgr.h"
#include "system/VSystem.h"
#include "values/StBagKey.h"
#include "values/VBagArray.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "values/VValueBag.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

namespace vela {

namespace {

const StBagKeyNoDefault<uint32, VLong> kKeyUpdateFlags("fUpdateFlags");
const StBagKeyNoDefault<VString, VString> kKeyMessage("fMessage");
const StBagKeyNoDefault<int64, VLong8> kKeyValue("fValue");
const StBagKeyNoDefault<int64, VLong8> kKeyMax("fMax");
const StBagKeyNoDefault<int64, VLong8> kKeyStartTime("fStartTime");
const StBagKeyNoDefault<bool, VBoolean> kKeyCanInterrupt("fCanInterrupt");
const StBagKeyNoDefault<uint32, VLong> kKeyExtraInfoVersion("fExtraInfoBagVersion");
const StPackedDictionaryKey kKeyExtraInfo("ExtraInfo");

// field takes the attribute only when the bag has it.
template <class Key, class T> void ReadIfPresent(const Key& key, const VValueBag& bag, T& field) {
    T value{};
    if (key.Get(bag, value)) field = value;
}

} // namespace

VProgressIndicatorInfo::VProgressIndicatorInfo()
    : fTaskID(uint32(VTaskMgr::GetCurrentTaskID())), fUUID(1), fStartTime(VSystem::GetCurrentTimeMs64()) {}

VProgressIndicatorInfo::VProgressIndicatorInfo(const VProgressIndicatorInfo& other) = default;

VProgressIndicatorInfo& VProgressIndicatorInfo::operator=(const VProgressIndicatorInfo& other) = default;

VProgressIndicatorInfo::~VProgressIndicatorInfo() = default;

void VProgressIndicatorInfo::Reset() {
    fUUID.Regenerate();
    fValue = 0;
    fMax = 0;
    fMessage.Clear();
    fStartTime = VSystem::GetCurrentTimeMs64();
    fMetrics = true;
    fExtraInfo.Clear();
    ++fExtraInfoVersion;
}

uint64 VProgressIndicatorInfo::GetElapsed() const noexcept {
    uint64 now = VSystem::GetCurrentTimeMs64();
    return now > fStartTime ? now - fStartTime : 0;
}

VJSONObject* VProgressIndicatorInfo::RetainCollectedInfo() const noexcept {
    return RetainRefCountable(fCollectedInfo.Get());
}

void VProgressIndicatorInfo::SetCollectedInfo(VJSONObject* info) noexcept {
    fCollectedInfo = info;
}

VValueBag& VProgressIndicatorInfo::_WritableExtraInfo() {
    if (!fExtraInfo)
        fExtraInfo = VRefPtr<VValueBag>::Adopt(new VValueBag());
    else if (fExtraInfo->GetRefCount() > 1)
        fExtraInfo = VRefPtr<VValueBag>::Adopt(new VValueBag(*fExtraInfo));
    return *fExtraInfo;
}

void VProgressIndicatorInfo::SetAttribute(const VString& name, const VValueSingle& value) {
    _WritableExtraInfo().SetAttribute(StPackedDictionaryKey(name), value);
    ++fExtraInfoVersion;
}

void VProgressIndicatorInfo::RemoveAttribute(const VString& name) {
    if (!fExtraInfo) return;
    _WritableExtraInfo().RemoveAttribute(StPackedDictionaryKey(name));
    ++fExtraInfoVersion;
}

VValueBag* VProgressIndicatorInfo::RetainExtraInfoBag() const noexcept {
    return RetainRefCountable(fExtraInfo.Get());
}

void VProgressIndicatorInfo::SaveToBag(VValueBag& bag, VString& outKind, const VProgressIndicatorInfo* previous) const {
    uint32 flags = 0;
    if (previous == nullptr || !fMessage.EqualToStringRaw(previous->fMessage)) {
        kKeyMessage.Set(bag, fMessage);
        flags |= kMessage;
    }
    if (previous == nullptr || fValue != previous->fValue) {
        kKeyValue.Set(bag, fValue);
        flags |= kValue;
    }
    if (previous == nullptr || fMax != previous->fMax) {
        kKeyMax.Set(bag, fMax);
        flags |= kMax;
    }
    if (previous == nullptr || fStartTime != previous->fStartTime) {
        kKeyStartTime.Set(bag, int64(fStartTime));
        flags |= kStartTime;
    }
    if (previous == nullptr || fCanInterrupt != previous->fCanInterrupt) {
        kKeyCanInterrupt.Set(bag, fCanInterrupt);
        flags |= kCanInterrupt;
    }
    bool versionChanged = previous == nullptr || fExtraInfoVersion != previous->fExtraInfoVersion;
    if (versionChanged) {
        kKeyExtraInfoVersion.Set(bag, fExtraInfoVersion);
        flags |= kExtraInfoVersion;
    }
    if (versionChanged && fExtraInfo) {
        VRefPtr<VValueBag> copy = VRefPtr<VValueBag>::Adopt(new VValueBag(*fExtraInfo));
        bag.ReplaceElement(kKeyExtraInfo, copy.Get());
        flags |= kExtraInfo;
    }
    kKeyUpdateFlags.Set(bag, flags);
    outKind = VString("VProgressIndicatorInfo");
}

uint32 VProgressIndicatorInfo::GetUpdateFlags(const VValueBag& bag) {
    uint32 flags = kAll;
    kKeyUpdateFlags.Get(bag, flags);
    return flags;
}

void VProgressIndicatorInfo::LoadFromBag(const VValueBag& bag) {
    const uint32 flags = GetUpdateFlags(bag);
    if ((flags & kMessage) != 0) ReadIfPresent(kKeyMessage, bag, fMessage);
    if ((flags & kValue) != 0) ReadIfPresent(kKeyValue, bag, fValue);
    if ((flags & kMax) != 0) ReadIfPresent(kKeyMax, bag, fMax);
    int64 start = 0;
    if ((flags & kStartTime) != 0 && kKeyStartTime.Get(bag, start)) fStartTime = uint64(start);
    if ((flags & kCanInterrupt) != 0) ReadIfPresent(kKeyCanInterrupt, bag, fCanInterrupt);
    if ((flags & kExtraInfoVersion) != 0) ReadIfPresent(kKeyExtraInfoVersion, bag, fExtraInfoVersion);
    if ((flags & kExtraInfo) != 0) {
        VBagArray* extra = bag.GetElements(kKeyExtraInfo);
        VValueBag* first = extra != nullptr ? extra->GetNth(1) : nullptr;
        if (first != nullptr)
            fExtraInfo = VRefPtr<VValueBag>::Adopt(new VValueBag(*first));
        else
            fExtraInfo.Clear();
    }
}

void VProgressIndicatorInfo::UpdateFromRemoteInfo(const VProgressIndicatorInfo& other, uint32 flags) {
    if ((flags & kMessage) != 0) fMessage = other.fMessage;
    if ((flags & kValue) != 0) fValue = other.fValue;
    if ((flags & kMax) != 0) fMax = other.fMax;
    if ((flags & kStartTime) != 0) fStartTime = other.fStartTime;
    if ((flags & kCanInterrupt) != 0) fCanInterrupt = other.fCanInterrupt;
    if ((flags & kExtraInfoVersion) != 0) fExtraInfoVersion = other.fExtraInfoVersion;
    if ((flags & kExtraInfo) != 0) fExtraInfo = other.fExtraInfo;
}

void VProgressIndicatorInfo::GetJSONObject(VJSONObject& object) const {
    object.Clear();
    const uint64 elapsed = GetElapsed();
    VTime started;
    VTime::Now(started);
    started.AddMilliseconds(-int64(elapsed));
    VString startText;
    started.GetRfc3339String(startText, 0);
    VString uuidText;
    fUUID.GetString(uuidText);
    VJSONValue interruptible;
    interruptible.SetBool(fCanInterrupt);
    VJSONValue remote;
    remote.SetBool(fRemote);
    object.SetProperty(VString("message"), VJSONValue(fMessage));
    object.SetProperty(VString("maxValue"), VJSONValue(double(fMax)));
    object.SetProperty(VString("currentValue"), VJSONValue(double(fValue)));
    object.SetProperty(VString("interruptible"), interruptible);
    object.SetProperty(VString("remote"), remote);
    object.SetProperty(VString("uuid"), VJSONValue(uuidText));
    object.SetProperty(VString("taskId"), VJSONValue(double(fTaskID)));
    object.SetProperty(VString("startTime"), VJSONValue(startText));
    object.SetProperty(VString("duration"), VJSONValue(double(elapsed)));
}

} // namespace vela
