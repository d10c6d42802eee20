#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "system/VProgressIndicatorInfo.h"
#include "values/VUUID.h"

#include <atomic>
#include <deque>
#include <vector>

namespace vela {

class VRefCountedSessionInfo;
class VRemoteProgressSessionInfo;
class VStream;
class VValueBag;
class VValueSingle;

// A copy of an indicator's sessions at one moment.
struct VProgressSessionInfo {
    int32 fSessionCount = 0;
    // Outermost first, the current level last; empty without a session.
    std::vector<VProgressIndicatorInfo> fLevels;
    VString fTitle;
    bool fUserAbort = false;
    uint32 fChangeCounter = 0;
};

// Reports the progress of a long operation as a stack of nested sessions: an operation opens a session, and each
// sub-operation opens one inside it. The fraction done spans all levels; an interruption request makes the
// operation's next progress report answer false. Registered with the progress manager (when there is one) from
// construction to destruction, under its UUID.
//
// The sessions belong to the task that runs the operation; other tasks may read them (GetProgressInfo,
// ComputePercentDone) and ask for snapshots, which the running task takes at its next report.
class VProgressIndicator : public VObject, public IRefCountable {
public:
    // A new UUID, session number 0.
    VProgressIndicator();
    VProgressIndicator(const VUUID& uuid, int32 sessionNumber);
    ~VProgressIndicator() override;
    VProgressIndicator(const VProgressIndicator&) = delete;
    VProgressIndicator& operator=(const VProgressIndicator&) = delete;

    const VUUID& GetUUID() const noexcept { return fUUID; }

    // ---- Sessions
    // Opens a session inside the current one (the current level is kept as an outer level), with that maximum
    // (0 or less: undetermined), value and message, started now. Without an open session, the caller becomes
    // the owner, the session number moves on and a null collector is replaced by the default one.
    void BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt,
                      IProgressInfoCollector* collector);
    // Value 0, the default can-interrupt flag and collector.
    void BeginSession(int64 max, const VString& message);
    void BeginSession(int64 max, const VString& message, IProgressInfoCollector* collector);
    void BeginSession(int64 max, const VString& message, bool canInterrupt, IProgressInfoCollector* collector);
    // Maximum -1 (undetermined), value 0, the default can-interrupt flag and collector.
    void BeginUndeterminedSession(const VString& message);
    // Maximum -1, value 0; the collector argument is not taken.
    void BeginUndeterminedSession(const VString& message, bool canInterrupt, IProgressInfoCollector* collector);
    // Closes the current session (the outer level becomes current again); nothing without an open session.
    void EndSession();
    int32 GetSessionCount() const noexcept { return fSessionCount.load(std::memory_order_acquire); }

    // The current value becomes value (plus or minus delta); false asks the operation to stop: DoProgress said
    // so (the default: an interruption was requested), or, while the default can-interrupt flag is set, the
    // calling task is being stopped. True, changing nothing, without an open session.
    bool Progress(int64 value);
    bool Increment(int64 delta = 1);
    bool Decrement(int64 delta = 1);
    bool SetMessageAndValue(const VString& message, int64 value);
    bool SetMessageAndIncrementValue(const VString& message, int64 delta = 1);

    // Requests an interruption: the next progress report answers false. ClearUserAbort withdraws it.
    void UserAbort() noexcept { fUserAbort.store(1, std::memory_order_release); }
    void ClearUserAbort() noexcept { fUserAbort.store(0, std::memory_order_release); }
    bool IsUserAborted() const noexcept { return fUserAbort.load(std::memory_order_acquire) == 1; }

    // Without currentOnly the default flag becomes value; with an open session the current level's flag too.
    void SetCanInterrupt(bool value, bool currentOnly = false);
    bool GetDefaultCanInterrupt() const noexcept { return fDefaultCanInterrupt.load(std::memory_order_acquire); }
    // The current level's message and maximum (nothing, or empty and 0, without an open session).
    void SetMessage(const VString& message);
    void GetMessage(VString& out) const;
    void SetMaxValue(int64 max);
    int64 GetMaxValue() const;
    // The current level's extra attributes (nothing without an open session).
    void SetAttribute(const VString& name, const VValueSingle& value);
    void RemoveAttribute(const VString& name);
    // With an open session, the current level starts again with these values, now, without collector.
    void Reset(const VString& message, int64 max, int64 value);
    // With an open session: the current level's collector into outPrevious (when given), then collector.
    void SetProgressInfoCollector(IProgressInfoCollector* collector, IProgressInfoCollector** outPrevious);
    // Given to the first session of each run when it names none (not owned).
    void SetDefaultProgressInfoCollector(IProgressInfoCollector* collector);

    void SetTitle(const VString& title);
    void GetTitle(VString& out) const;
    int32 GetSessionNumber() const;
    // Bumped by every change of the sessions.
    uint32 GetChangeCounter() const noexcept { return fChangeCounter.load(std::memory_order_acquire); }
    // The task that opened the first session of the current run.
    int32 GetOwnerTaskID() const noexcept { return fOwnerTaskID.load(std::memory_order_acquire); }

    // Locks the sessions against other tasks (recursive), to read several things consistently.
    void Lock() const noexcept { fLock.Lock(); }
    void Unlock() const noexcept { fLock.Unlock(); }

    // The fraction done across all levels: 0 without a session; the current value itself when the current
    // level is undetermined; 0 when an outer level is; otherwise each outer level counts its finished
    // sub-operations (outer 2 of 4, inner 50 of 100 gives 0.625). Not clamped.
    float ComputePercentDone() const;

    // ---- Reading the sessions
    void GetProgressInfo(VProgressSessionInfo& out) const;
    // The level with that UUID into out; false when no open level has it.
    bool GetProgressInfo(const VUUID& levelUUID, VProgressIndicatorInfo& out) const;
    // With an open session, the current level takes info's fields (its UUID and task stay).
    void SetProgressInfo(const VProgressIndicatorInfo& info);
    // The last snapshot, with a reference for the caller; null before the first.
    VRefCountedSessionInfo* RetainSessionsInfos() const;
    // With an open session, asks for a new snapshot, taken at the running task's next report.
    void UpdateSessionsInfos() noexcept;
    // ---- Mirroring another process's indicator
    // The record of the sessions for another process: the whole stack when there is no previous record or the
    // count changed since it, else only the current level; the change counter, session number and mirrored
    // version, the interruption request and the default can-interrupt flag.
    void GetProgressInfo(VRemoteProgressSessionInfo& out, const VRemoteProgressSessionInfo* previous) const;
    // Mirrors a record: a stack replaces the levels (marked remote; the other side reports their metrics), a
    // current level updates the current one, an interruption request is taken over. A smaller count without a
    // stack means the other side closed levels: the next EndSession first closes down to that count.
    void UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& info);
    // What another process needs to find this indicator: "uuid" and "version" (the change counter); outKind
    // "VProgressIndicator". The stream form: the UUID, then the version as a 32-bit value.
    void WriteInfoForRemote(VValueBag& bag, VString& outKind) const;
    VError WriteInfoForRemote(VStream& stream) const;

    // "UserInfo", "SessionCount", "Title", "CanInterrupt", then a "SessionInfo" element per open level,
    // outermost first, each with every field.
    virtual void SaveInfoToBag(VValueBag& bag) const;

protected:
    // Hooks: with the sessions locked, after a session opened (count is the new count) and before one closes
    // (count is the count before); unlocked, at each progress report (false asks the operation to stop; the
    // default yields and answers whether an interruption was requested).
    virtual void DoBeginSession(int32 count);
    virtual void DoEndSession(int32 count);
    virtual bool DoProgress();
    // Whether the manager may hand this indicator out.
    virtual bool IsManagerValid() const { return true; }

private:
    friend class VProgressManager;

    // Opens a session; the caller holds the lock.
    void _BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt,
                       IProgressInfoCollector* collector);
    void _EndSession();
    // Sets the current value (to amount, or plus amount when relative) and the message when given.
    bool _Progress(int64 amount, bool relative, const VString* message);
    // Serves a pending snapshot request; the caller holds the lock.
    void _CheckCollectInfo();
    // Hands a level that ended to the metrics collector, once (its metrics flag is cleared).
    void _DoMetrics(VProgressIndicatorInfo& level);
    // For the manager: asks for a snapshot and answers the last one retained (null when none).
    VRefCountedSessionInfo* _RequestAndRetainSnapshot();

    const VUUID fUUID;
    mutable VCriticalSection fLock;
    // Guarded by fLock: the outer levels (outermost first) and the current level.
    std::deque<VProgressIndicatorInfo> fOuterLevels;
    VProgressIndicatorInfo fCurrent;
    std::atomic<int32> fSessionCount{0};
    std::atomic<bool> fDefaultCanInterrupt{true};
    // Guarded by fLock.
    VString fTitle;
    int32 fSessionNumber = 0;
    IProgressInfoCollector* fDefaultCollector = nullptr;
    std::atomic<uint32> fUserAbort{0};
    std::atomic<uint32> fChangeCounter{0};
    std::atomic<int32> fOwnerTaskID{0};
    // Guarded by fLock: levels closed by the other side of a mirror, and its last changes version.
    bool fRemoteClosed = false;
    int32 fRemoteLevelCount = 0;
    uint32 fMasterVersion = 0;

    mutable VCriticalSection fSnapshotLock;
    // Guarded by fSnapshotLock.
    VRefPtr<VRefCountedSessionInfo> fSnapshot;
    // Requests are counted by any task; the running task serves them (fSnapshotServed is guarded by fLock).
    std::atomic<uint32> fSnapshotRequest{0};
    uint32 fSnapshotServed = 0xFFFFFFFF;
};

} // namespace vela
