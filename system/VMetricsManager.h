#pragma once

#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"

#include <vector>

namespace vela {

class VJSONArray;
class VJSONObject;

// The kinds of activity a collection session may record, as bit positions of its kind mask.
enum EMetricsKindBit : uint32 {
    eMetricsKindFirst = 0,
    eMetricsKindSecond = 1,
    // Progress sessions that ended (or whose indicator went away while they ran).
    eMetricsKindProgress = 2,
};

// Collects timing records of finished activities while a collection session is on. A record is a JSON object:
// "activityKind" (1 shifted left by the kind bit), "activityDuration" (seconds) and "activityData" (the
// activity's own object). Every member may be called from any task.
class VMetricsManager : public VObject {
public:
    // The process's collector: no session until StartSession.
    static VMetricsManager sMetricsSingleton;

    VMetricsManager() = default;
    ~VMetricsManager() override;
    VMetricsManager(const VMetricsManager&) = delete;
    VMetricsManager& operator=(const VMetricsManager&) = delete;

    // Collects from now on the activities of the kinds chosen that last at least minDurationMs.
    void StartSession(uint64 minDurationMs, bool progresses, bool kindFirst, bool kindSecond);
    // Stops collecting and drops the records.
    void EndSession();
    // Whether progress sessions are collected.
    bool IsProgressesCollected() const;

    // A new record (a reference for the caller) for an activity of that kind and duration; null when the kind is
    // not collected or the activity was shorter than the minimum.
    VJSONObject* CreateBind(EMetricsKindBit kind, uint64 durationMs) const;
    // Gives record its "activityData" and keeps it (a reference of its own). A null record is ignored.
    void BindDatas(VJSONObject* record, VJSONObject* data);

    // A new array (a reference for the caller) of deep copies of the records, in the order they were kept.
    VJSONArray* CreateCollection() const;

private:
    mutable VCriticalSection fLock;
    std::vector<VRefPtr<VJSONObject>> fRecords;
    uint64 fMinDuration = 0;
    // One bit per collected EMetricsKindBit; 0 when no session is on.
    uint32 fKindMask = 0;
};

} // namespace vela
