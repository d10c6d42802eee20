#include "system/VMetricsManager.h"

#include "core/VString.h"
#include "json/VJSONArray.h"
#include "json/VJSONCloner.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <mutex>

namespace vela {

namespace {

using StLock = std::lock_guard<VCriticalSection>;

constexpr uint32 KindFlag(EMetricsKindBit kind) noexcept {
    return uint32(1) << uint32(kind);
}

} // namespace

VMetricsManager VMetricsManager::sMetricsSingleton;

VMetricsManager::~VMetricsManager() = default;

void VMetricsManager::StartSession(uint64 minDurationMs, bool progresses, bool kindFirst, bool kindSecond) {
    uint32 mask = 0;
    if (progresses) mask |= KindFlag(eMetricsKindProgress);
    if (kindFirst) mask |= KindFlag(eMetricsKindFirst);
    if (kindSecond) mask |= KindFlag(eMetricsKindSecond);
    StLock lock(fLock);
    fMinDuration = minDurationMs;
    fKindMask = mask;
}

void VMetricsManager::EndSession() {
    std::vector<VRefPtr<VJSONObject>> dropped;
    {
        StLock lock(fLock);
        fKindMask = 0;
        dropped.swap(fRecords);
    }
    // The records go outside the lock: freeing a graph of objects need not hold up the collectors.
}

bool VMetricsManager::IsProgressesCollected() const {
    StLock lock(fLock);
    return (fKindMask & KindFlag(eMetricsKindProgress)) != 0;
}

VJSONObject* VMetricsManager::CreateBind(EMetricsKindBit kind, uint64 durationMs) const {
    if (uint32(kind) >= 32) return nullptr;
    {
        StLock lock(fLock);
        if ((fKindMask & KindFlag(kind)) == 0 || durationMs < fMinDuration) return nullptr;
    }
    auto* record = new VJSONObject();
    record->SetProperty(VString("activityKind"), VJSONValue(double(KindFlag(kind))));
    record->SetProperty(VString("activityDuration"), VJSONValue(double(durationMs) / 1000.0));
    return record;
}

void VMetricsManager::BindDatas(VJSONObject* record, VJSONObject* data) {
    if (record == nullptr) return;
    record->SetProperty(VString("activityData"), VJSONValue(data));
    StLock lock(fLock);
    fRecords.emplace_back(record);
}

VJSONArray* VMetricsManager::CreateCollection() const {
    auto* collection = new VJSONArray();
    StLock lock(fLock);
    VJSONCloner cloner;
    for (const VRefPtr<VJSONObject>& record : fRecords) {
        VJSONValue copy;
        if (cloner.CloneObject(record.Get(), copy) == VE_OK) collection->Push(std::move(copy));
    }
    return collection;
}

} // namespace vela
