#include "system/VProgressIndicator.h"

#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "files/VStream.h"
#include "system/VMetricsManager.h"
#include "system/VProgressManager.h"
#include "system/VRemoteProgressSessionInfo.h"
#include "system/VSystem.h"
#include "values/StBagKey.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"
#include "json/VJSONCloner.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <mutex>

namespace vela {

namespace {

const StBagKeyNoDefault<int32, VLong> kKeySessionCount("SessionCount");
const StBagKeyNoDefault<VString, VString> kKeyTitle("Title");
const StBagKeyNoDefault<bool, VBoolean> kKeyCanInterrupt("CanInterrupt");
const StPackedDictionaryKey kKeyUserInfo("UserInfo");
const StPackedDictionaryKey kKeySessionInfo("SessionInfo");
const StPackedDictionaryKey kKeyUUID("uuid");
const StPackedDictionaryKey kKeyVersion("version");

using StLock = std::lock_guard<VCriticalSection>;

// Whether the calling task is being stopped.
bool CurrentTaskIsStopping() noexcept {
    VTask* task = VTask::GetCurrent();
    return task != nullptr && task->GetState() >= eTaskStateDying;
}

} // namespace

VProgressIndicator::VProgressIndicator() : VProgressIndicator(VUUID(1), 0) {}

VProgressIndicator::VProgressIndicator(const VUUID& uuid, int32 sessionNumber)
    : fUUID(uuid), fSessionNumber(sessionNumber) {
    VProgressManager::RegisterProgress(this);
}

VProgressIndicator::~VProgressIndicator() {
    // Lookups that find this indicator until then refuse it: its count has reached 0.
    VProgressManager::UnregisterProgress(this);
}

// ---- Sessions

void VProgressIndicator::BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt,
                                      IProgressInfoCollector* collector) {
    StLock lock(fLock);
    _BeginSession(max, value, message, canInterrupt, collector);
}

void VProgressIndicator::BeginSession(int64 max, const VString& message) {
    BeginSession(max, 0, message, GetDefaultCanInterrupt(), nullptr);
}

void VProgressIndicator::BeginSession(int64 max, const VString& message, IProgressInfoCollector* collector) {
    BeginSession(max, 0, message, GetDefaultCanInterrupt(), collector);
}

void VProgressIndicator::BeginSession(int64 max, const VString& message, bool canInterrupt,
                                      IProgressInfoCollector* collector) {
    BeginSession(max, 0, message, canInterrupt, collector);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& message) {
    BeginSession(-1, 0, message, GetDefaultCanInterrupt(), nullptr);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& message, bool canInterrupt, IProgressInfoCollector*) {
    BeginSession(-1, 0, message, canInterrupt, nullptr);
}

void VProgressIndicator::_BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt,
                                       IProgressInfoCollector* collector) {
    const int32 count = fSessionCount.load(std::memory_order_relaxed);
    if (count == 0) fOwnerTaskID.store(VTaskMgr::GetCurrentTaskID(), std::memory_order_release);
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
    if (count == 0) {
        ++fSessionNumber;
        if (collector == nullptr) collector = fDefaultCollector;
    } else {
        fOuterLevels.push_back(fCurrent);
    }
    // Each level is a level of its own: new UUID, the creating task, no extra attributes.
    fCurrent = VProgressIndicatorInfo();
    fCurrent.SetMessage(message);
    fCurrent.SetValue(value);
    fCurrent.SetMax(max);
    fCurrent.SetCanInterrupt(canInterrupt);
    fCurrent.SetMetricsFlag(true);
    fCurrent.SetCollector(collector);
    fSessionCount.store(count + 1, std::memory_order_release);
    DoBeginSession(count + 1);
}

void VProgressIndicator::EndSession() {
    StLock lock(fLock);
    if (fRemoteClosed) {
        while (fSessionCount.load(std::memory_order_relaxed) > std::max(fRemoteLevelCount, 0))
            _EndSession();
        fRemoteClosed = false;
    }
    _EndSession();
}

void VProgressIndicator::_EndSession() {
    const int32 count = fSessionCount.load(std::memory_order_relaxed);
    if (count == 0) return;
    _CheckCollectInfo();
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
    // The level that ends is the one reported, not the outer level that becomes current again.
    VProgressIndicatorInfo ended = fCurrent;
    if (fOuterLevels.empty()) {
        fCurrent = VProgressIndicatorInfo();
        fCurrent.SetMetricsFlag(false);
    } else {
        fCurrent = fOuterLevels.back();
        fOuterLevels.pop_back();
    }
    DoEndSession(count);
    fSessionCount.store(count - 1, std::memory_order_release);
    if (count == 1) ++fSessionNumber;
    _DoMetrics(ended);
}

void VProgressIndicator::_DoMetrics(VProgressIndicatorInfo& level) {
    // The flag makes a level reported once, whether it ends or the indicator goes away first.
    if (!level.GetMetricsFlag()) return;
    level.SetMetricsFlag(false);
    VMetricsManager& metrics = VMetricsManager::sMetricsSingleton;
    VRefPtr<VJSONObject> record =
        VRefPtr<VJSONObject>::Adopt(metrics.CreateBind(eMetricsKindProgress, level.GetElapsed()));
    if (!record) return;
    VRefPtr<VJSONObject> activity = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    level.GetJSONObject(*activity);
    activity->SetProperty(VString("title"), VJSONValue(fTitle));
    VRefPtr<VValueBag> extraInfo = VRefPtr<VValueBag>::Adopt(level.RetainExtraInfoBag());
    if (extraInfo) {
        VJSONValue extraObject;
        if (extraInfo->GetJSONValue(extraObject) == VE_OK && extraObject.IsObject())
            activity->SetProperty(VString("extraInfo"), extraObject);
    }
    VRefPtr<VJSONObject> collected = VRefPtr<VJSONObject>::Adopt(level.RetainCollectedInfo());
    if (collected) {
        // A copy: the collector may go on changing its object after the level is recorded.
        VJSONCloner cloner;
        VJSONValue copy;
        if (cloner.CloneObject(collected.Get(), copy) == VE_OK) activity->SetProperty(VString("subOperations"), copy);
    }
    metrics.BindDatas(record.Get(), activity.Get());
}

bool VProgressIndicator::Progress(int64 value) {
    return _Progress(value, false, nullptr);
}

bool VProgressIndicator::Increment(int64 delta) {
    return _Progress(delta, true, nullptr);
}

bool VProgressIndicator::Decrement(int64 delta) {
    return _Progress(-delta, true, nullptr);
}

bool VProgressIndicator::SetMessageAndValue(const VString& message, int64 value) {
    return _Progress(value, false, &message);
}

bool VProgressIndicator::SetMessageAndIncrementValue(const VString& message, int64 delta) {
    return _Progress(delta, true, &message);
}

bool VProgressIndicator::_Progress(int64 amount, bool relative, const VString* message) {
    {
        // Readers on other tasks copy the levels under the lock, so the running task changes them under it too.
        StLock lock(fLock);
        if (fSessionCount.load(std::memory_order_relaxed) == 0) return true;
        _CheckCollectInfo();
        if (message != nullptr) fCurrent.SetMessage(*message);
        fCurrent.SetValue(relative ? fCurrent.GetValue() + amount : amount);
        fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
    }
    // Outside the lock: the default yields, and a fiber must not hold the sessions while others run.
    bool goOn = DoProgress();
    if (GetDefaultCanInterrupt() && CurrentTaskIsStopping()) goOn = false;
    return goOn;
}

bool VProgressIndicator::DoProgress() {
    VTaskMgr::Get()->Yield();
    return fUserAbort.load(std::memory_order_acquire) != 1;
}

void VProgressIndicator::DoBeginSession(int32) {}

void VProgressIndicator::DoEndSession(int32) {}

// ---- Current level

void VProgressIndicator::SetCanInterrupt(bool value, bool currentOnly) {
    StLock lock(fLock);
    if (!currentOnly) fDefaultCanInterrupt.store(value, std::memory_order_release);
    if (fSessionCount.load(std::memory_order_relaxed) > 0) {
        fCurrent.SetCanInterrupt(value);
        fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
    }
}

void VProgressIndicator::SetMessage(const VString& message) {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return;
    _CheckCollectInfo();
    fCurrent.SetMessage(message);
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
}

void VProgressIndicator::GetMessage(VString& out) const {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0)
        out.Clear();
    else
        fCurrent.GetMessage(out);
}

void VProgressIndicator::SetMaxValue(int64 max) {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return;
    fCurrent.SetMax(max);
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
}

int64 VProgressIndicator::GetMaxValue() const {
    StLock lock(fLock);
    return fSessionCount.load(std::memory_order_relaxed) == 0 ? 0 : fCurrent.GetMax();
}

void VProgressIndicator::SetAttribute(const VString& name, const VValueSingle& value) {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return;
    fCurrent.SetAttribute(name, value);
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
}

void VProgressIndicator::RemoveAttribute(const VString& name) {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return;
    fCurrent.RemoveAttribute(name);
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
}

void VProgressIndicator::Reset(const VString& message, int64 max, int64 value) {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return;
    fCurrent.Reset();
    fCurrent.SetMessage(message);
    fCurrent.SetMax(max);
    fCurrent.SetValue(value);
    fCurrent.SetCollector(nullptr);
    fCurrent.SetCollectedInfo(nullptr);
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
}

void VProgressIndicator::SetProgressInfoCollector(IProgressInfoCollector* collector,
                                                  IProgressInfoCollector** outPrevious) {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return;
    if (outPrevious != nullptr) *outPrevious = fCurrent.GetCollector();
    fCurrent.SetCollector(collector);
}

void VProgressIndicator::SetDefaultProgressInfoCollector(IProgressInfoCollector* collector) {
    StLock lock(fLock);
    fDefaultCollector = collector;
}

void VProgressIndicator::SetTitle(const VString& title) {
    StLock lock(fLock);
    fTitle = title;
}

void VProgressIndicator::GetTitle(VString& out) const {
    StLock lock(fLock);
    out = fTitle;
}

int32 VProgressIndicator::GetSessionNumber() const {
    StLock lock(fLock);
    return fSessionNumber;
}

float VProgressIndicator::ComputePercentDone() const {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return 0;
    if (fCurrent.GetMax() <= 0) return float(fCurrent.GetValue());
    double scale = 1;
    double done = 0;
    for (const VProgressIndicatorInfo& outer : fOuterLevels) {
        if (outer.GetMax() <= 0) return 0;
        scale *= double(outer.GetMax());
        done += double(outer.GetValue()) / scale;
    }
    return float(done + double(fCurrent.GetValue()) / (double(fCurrent.GetMax()) * scale));
}

// ---- Reading the sessions

void VProgressIndicator::GetProgressInfo(VProgressSessionInfo& out) const {
    StLock lock(fLock);
    out.fSessionCount = fSessionCount.load(std::memory_order_relaxed);
    out.fLevels.clear();
    if (out.fSessionCount > 0) {
        out.fLevels.assign(fOuterLevels.begin(), fOuterLevels.end());
        out.fLevels.push_back(fCurrent);
    }
    out.fTitle = fTitle;
    out.fUserAbort = IsUserAborted();
    out.fChangeCounter = GetChangeCounter();
}

bool VProgressIndicator::GetProgressInfo(const VUUID& levelUUID, VProgressIndicatorInfo& out) const {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return false;
    if (fCurrent.GetUUID() == levelUUID) {
        out = fCurrent;
        return true;
    }
    for (const VProgressIndicatorInfo& outer : fOuterLevels) {
        if (outer.GetUUID() != levelUUID) continue;
        out = outer;
        return true;
    }
    return false;
}

void VProgressIndicator::SetProgressInfo(const VProgressIndicatorInfo& info) {
    StLock lock(fLock);
    if (fSessionCount.load(std::memory_order_relaxed) == 0) return;
    fCurrent.UpdateFromRemoteInfo(info, VProgressIndicatorInfo::kAll);
    fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
}

VRefCountedSessionInfo* VProgressIndicator::RetainSessionsInfos() const {
    StLock lock(fSnapshotLock);
    return RetainRefCountable(fSnapshot.Get());
}

void VProgressIndicator::UpdateSessionsInfos() noexcept {
    if (GetSessionCount() > 0) fSnapshotRequest.fetch_add(1, std::memory_order_acq_rel);
}

VRefCountedSessionInfo* VProgressIndicator::_RequestAndRetainSnapshot() {
    fSnapshotRequest.fetch_add(1, std::memory_order_acq_rel);
    return RetainSessionsInfos();
}

void VProgressIndicator::_CheckCollectInfo() {
    const uint32 request = fSnapshotRequest.load(std::memory_order_acquire);
    if (request == fSnapshotServed || fSessionCount.load(std::memory_order_relaxed) == 0) return;
    std::vector<VProgressIndicatorInfo> levels;
    levels.reserve(fOuterLevels.size() + 1);
    bool first = true;
    auto collect = [&](VProgressIndicatorInfo& level) {
        if (IProgressInfoCollector* collector = level.GetCollector()) {
            VJSONObject* info = collector->RetainProgressInfo(this, first);
            level.SetCollectedInfo(info);
            ReleaseRefCountable(&info);
        }
        first = false;
        levels.push_back(level);
    };
    for (VProgressIndicatorInfo& outer : fOuterLevels)
        collect(outer);
    collect(fCurrent);
    auto snapshot = VRefPtr<VRefCountedSessionInfo>::Adopt(new VRefCountedSessionInfo(std::move(levels)));
    {
        StLock snapshotLock(fSnapshotLock);
        fSnapshot = std::move(snapshot);
    }
    fSnapshotServed = request;
}

void VProgressIndicator::GetProgressInfo(VRemoteProgressSessionInfo& out,
                                         const VRemoteProgressSessionInfo* previous) const {
    StLock lock(fLock);
    const int32 count = fSessionCount.load(std::memory_order_relaxed);
    const bool wholeStack = previous == nullptr || previous->GetSessionCount() != count;
    out.FromProgressInfo(count > 0 ? &fCurrent : nullptr, wholeStack && count > 0 ? &fOuterLevels : nullptr, count,
                         GetChangeCounter(), uint32(fSessionNumber), fMasterVersion);
    out.SetUserAbort(IsUserAborted());
    out.SetCanInterrupt(GetDefaultCanInterrupt());
}

void VProgressIndicator::UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& info) {
    StLock lock(fLock);
    const uint32 flags = info.GetFlags();
    if ((flags & VRemoteProgressSessionInfo::kUserAbort) != 0) fUserAbort.store(info.GetUserAbort() ? 1 : 0);
    if ((flags & VRemoteProgressSessionInfo::kCanInterrupt) != 0) fDefaultCanInterrupt.store(info.GetCanInterrupt());
    if ((flags & VRemoteProgressSessionInfo::kChangesVersion) != 0) fMasterVersion = info.GetChangesVersion();
    const std::deque<VProgressIndicatorInfo>& levels = info.GetLevels();
    if ((flags & VRemoteProgressSessionInfo::kSessionStack) != 0) {
        fOuterLevels.clear();
        fCurrent = VProgressIndicatorInfo();
        for (const VProgressIndicatorInfo& level : levels) {
            if (&level != &levels.back()) fOuterLevels.push_back(level);
        }
        if (!levels.empty()) fCurrent = levels.back();
        // The other side reports its own levels to the metrics.
        for (VProgressIndicatorInfo& level : fOuterLevels) {
            level.SetRemote(true);
            level.SetMetricsFlag(false);
        }
        fCurrent.SetRemote(true);
        fCurrent.SetMetricsFlag(false);
        fSessionCount.store(int32(levels.size()), std::memory_order_release);
        fRemoteClosed = false;
        fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    const int32 count = fSessionCount.load(std::memory_order_relaxed);
    if ((flags & VRemoteProgressSessionInfo::kCurrent) != 0 && count > 0 && !levels.empty()) {
        // A delta read onto a fresh record leaves the fields it does not hold at their defaults: copy only its own.
        fCurrent.UpdateFromRemoteInfo(levels.back(), info.GetCurrentUpdateFlags());
        fCurrent.SetRemote(true);
        fChangeCounter.fetch_add(1, std::memory_order_acq_rel);
    }
    if ((flags & VRemoteProgressSessionInfo::kSessionCount) != 0 && info.GetSessionCount() < count) {
        fRemoteClosed = true;
        fRemoteLevelCount = info.GetSessionCount();
    }
}

void VProgressIndicator::WriteInfoForRemote(VValueBag& bag, VString& outKind) const {
    bag.SetVUUID(kKeyUUID, fUUID);
    bag.SetLong(kKeyVersion, int32(GetChangeCounter()));
    outKind = VString("VProgressIndicator");
}

VError VProgressIndicator::WriteInfoForRemote(VStream& stream) const {
    if (VError error = fUUID.WriteToStream(&stream); error != VE_OK) return error;
    return stream.PutLong(int32(GetChangeCounter()));
}

void VProgressIndicator::SaveInfoToBag(VValueBag& bag) const {
    StLock lock(fLock);
    auto userInfo = VRefPtr<VValueBag>::Adopt(new VValueBag());
    bag.AddElement(kKeyUserInfo, userInfo.Get());
    const int32 count = fSessionCount.load(std::memory_order_relaxed);
    kKeySessionCount.Set(bag, count);
    kKeyTitle.Set(bag, fTitle);
    kKeyCanInterrupt.Set(bag, GetDefaultCanInterrupt());
    if (count == 0) return;
    VString kind;
    auto addLevel = [&](const VProgressIndicatorInfo& level) {
        auto levelBag = VRefPtr<VValueBag>::Adopt(new VValueBag());
        level.SaveToBag(*levelBag, kind, nullptr);
        bag.AddElement(kKeySessionInfo, levelBag.Get());
    };
    for (const VProgressIndicatorInfo& outer : fOuterLevels)
        addLevel(outer);
    addLevel(fCurrent);
}

} // namespace vela
