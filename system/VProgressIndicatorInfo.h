#pragma once

#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VUUID.h"

namespace vela {

class VJSONObject;
class VProgressIndicator;
class VValueBag;
class VValueSingle;

// Supplies the details of a running operation when a snapshot of its progress is taken.
class IProgressInfoCollector {
public:
    virtual ~IProgressInfoCollector() = default;
    // The level's details (a JSON object) with a reference for the caller, or null; first is true for the
    // outermost level of the snapshot only. Runs on the task that reports the progress.
    virtual VJSONObject* RetainProgressInfo(VProgressIndicator* indicator, bool first) = 0;
};

// One level of a progress indicator's session stack: a message, a value out of a maximum (0 or less:
// undetermined), when it began, and its extra attributes. Levels are copied freely: the extra-info bag and the
// collected details are shared between copies and never changed in place once shared.
class VProgressIndicatorInfo : public VObject {
public:
    // Update flags of a level's delta bag (SaveToBag, UpdateFromRemoteInfo).
    enum : uint32 {
        kMessage = 1,
        kValue = 2,
        kMax = 4,
        kStartTime = 8,
        kCanInterrupt = 16,
        kExtraInfoVersion = 32,
        kExtraInfo = 64,
        kAll = 127,
    };

    // A new level (new UUID, started now) of the calling task.
    VProgressIndicatorInfo();
    VProgressIndicatorInfo(const VProgressIndicatorInfo& other);
    VProgressIndicatorInfo& operator=(const VProgressIndicatorInfo& other);
    ~VProgressIndicatorInfo() override;

    // Starts the level afresh: new UUID, value and max 0, empty message, started now, to be reported to the
    // metrics, no extra attributes (the version moves on).
    void Reset();

    // ---- Fields
    uint32 GetTaskID() const noexcept { return fTaskID; }
    const VUUID& GetUUID() const noexcept { return fUUID; }
    void GetMessage(VString& out) const { out = fMessage; }
    const VString& GetMessage() const noexcept { return fMessage; }
    void SetMessage(const VString& message) { fMessage = message; }
    int64 GetValue() const noexcept { return fValue; }
    void SetValue(int64 value) noexcept { fValue = value; }
    int64 GetMax() const noexcept { return fMax; }
    void SetMax(int64 max) noexcept { fMax = max; }
    // Milliseconds of the monotonic clock (VSystem::GetCurrentTimeMs64) when the level began.
    uint64 GetStartTime() const noexcept { return fStartTime; }
    void SetStartTime(uint64 ms) noexcept { fStartTime = ms; }
    // Milliseconds since the level began.
    uint64 GetElapsed() const noexcept;
    bool GetCanInterrupt() const noexcept { return fCanInterrupt; }
    void SetCanInterrupt(bool canInterrupt) noexcept { fCanInterrupt = canInterrupt; }
    // Set on a level that was begun and has not been reported to the metrics yet.
    bool GetMetricsFlag() const noexcept { return fMetrics; }
    void SetMetricsFlag(bool metrics) noexcept { fMetrics = metrics; }
    // Set on levels that mirror another process's session.
    bool IsRemote() const noexcept { return fRemote; }
    void SetRemote(bool remote) noexcept { fRemote = remote; }
    IProgressInfoCollector* GetCollector() const noexcept { return fCollector; }
    void SetCollector(IProgressInfoCollector* collector) noexcept { fCollector = collector; }
    // The details the collector gave at the last snapshot, retained; null when none.
    VJSONObject* RetainCollectedInfo() const noexcept;
    // Keeps a reference to info (null drops the details).
    void SetCollectedInfo(VJSONObject* info) noexcept;

    // ---- Extra attributes (each change moves the version on)
    void SetAttribute(const VString& name, const VValueSingle& value);
    void RemoveAttribute(const VString& name);
    // The extra-info bag retained, or null when the level has none.
    VValueBag* RetainExtraInfoBag() const noexcept;
    uint32 GetExtraInfoVersion() const noexcept { return fExtraInfoVersion; }

    // ---- Bags and JSON
    // Writes the fields that differ from previous (all of them without previous) and their flags under
    // "fUpdateFlags"; outKind becomes "VProgressIndicatorInfo".
    void SaveToBag(VValueBag& bag, VString& outKind, const VProgressIndicatorInfo* previous = nullptr) const;
    // Reads the fields the bag's flags name (every field present when it has none).
    void LoadFromBag(const VValueBag& bag);
    // The flags of a level's bag: kAll when it has none.
    static uint32 GetUpdateFlags(const VValueBag& bag);
    // Copies the fields that flags name from other.
    void UpdateFromRemoteInfo(const VProgressIndicatorInfo& other, uint32 flags);
    // Clears object, then sets "message", "maxValue", "currentValue", "interruptible", "remote", "uuid",
    // "taskId", "startTime" (the local time it began, RFC 3339) and "duration" (milliseconds since then).
    void GetJSONObject(VJSONObject& object) const;

private:
    // The extra-info bag, copied first when another level shares it, made when missing.
    VValueBag& _WritableExtraInfo();

    uint32 fTaskID = 0;
    VUUID fUUID;
    VString fMessage;
    int64 fValue = 0;
    int64 fMax = 0;
    uint64 fStartTime = 0;
    bool fMetrics = true;
    bool fCanInterrupt = false;
    bool fRemote = false;
    VRefPtr<VValueBag> fExtraInfo;
    uint32 fExtraInfoVersion = 0;
    IProgressInfoCollector* fCollector = nullptr;
    VRefPtr<VJSONObject> fCollectedInfo;
};

} // namespace vela
