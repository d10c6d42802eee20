#include "app/VLogger.h"

#include "core/ILogListener.h"
#include "core/ILoggerBagKeys.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "values/VValueBag.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <typeinfo>

namespace vela {

namespace {

constexpr size_t kReaderStackSize = 64000;
constexpr int32 kReaderPeriodMs = 100;
constexpr int32 kStopWaitMs = 3000;

void ReleaseAll(const std::vector<const VValueBag*>& bags) noexcept {
    for (const VValueBag* bag : bags)
        bag->Release();
}

// The records LogMessage makes: only these go back to the spare records, never a bag a caller made (which may
// be of another class, or be kept by its maker).
class VLogRecordBag final : public VValueBag {};

// A record is kept for reuse only while its packed values stay small: one huge message must not hold its block
// in the spares for the life of the logger.
constexpr size_t kMaxSpareRecordUnits = 512;

} // namespace

VLogger::VLogger() = default;

VLogger::~VLogger() {
    // The reader task calls into this object until it is dead: nothing it uses may go before. Waiting on the
    // reader's own task would never end (only a listener releasing the logger could bring it there).
    if (fReaderTask && fReaderTask->GetState() != eTaskStateNotStarted) {
        fReaderTask->Kill();
        if (VTask::GetCurrent() != fReaderTask.Get()) {
            while (!fReaderTask->WaitForDeath(kStopWaitMs)) {
            }
        }
    }
    std::vector<ILogListener*> listeners;
    {
        std::lock_guard<VCriticalSection> guard(fListenerLock);
        listeners.swap(fListeners);
    }
    for (ILogListener* listener : listeners)
        listener->Release();
    std::vector<const VValueBag*> discarded;
    {
        std::lock_guard<VCriticalSection> guard(fRingLock);
        _Drain(discarded);
    }
    ReleaseAll(discarded);
    for (VValueBag* spare : fSpareRecords)
        spare->Release();
}

void VLogger::Start() {
    fStarted.store(true, std::memory_order_relaxed);
}

void VLogger::Stop() {
    VRefPtr<VTask> reader;
    {
        std::lock_guard<VCriticalSection> guard(fListenerLock);
        reader = fReaderTask;
    }
    // A task that never ran (no task manager) would never be dead.
    if (!reader || reader->GetState() == eTaskStateNotStarted) return;
    reader->Kill();
    reader->WaitForDeath(kStopWaitMs);
}

bool VLogger::IsStarted() const {
    return fStarted.load(std::memory_order_relaxed);
}

void VLogger::DisableFlush() {
    fFlushEnabled.store(false, std::memory_order_relaxed);
}

void VLogger::EnableFlush() {
    std::vector<const VValueBag*> collected;
    // Switched on inside the ring lock: a flush that sees it on drains only after the collected records were
    // filtered again.
    std::lock_guard<VCriticalSection> guard(fRingLock);
    fFlushEnabled.store(true, std::memory_order_relaxed);
    _Drain(collected);
    for (const VValueBag* bag : collected) {
        if (ShouldLog(ILoggerBagKeys::level.Get(*bag))) _Store(bag);
        bag->Release();
    }
}

bool VLogger::ShouldLog(EMessageLevel level) const {
    if (!IsValidMessageLevel(level)) return false;
    if (!fFlushEnabled.load(std::memory_order_relaxed)) return true;
    if (!fStarted.load(std::memory_order_relaxed)) return false;
    return (fLevelMask.load(std::memory_order_relaxed) & (uint32(1) << uint32(level))) != 0;
}

bool VLogger::WithTag(uint32 bit, bool on) noexcept {
    if (!IsValidMessageLevel(int32(bit))) return false;
    const uint32 flag = uint32(1) << bit;
    const uint32 previous = on ? fLevelMask.fetch_or(flag, std::memory_order_relaxed)
                               : fLevelMask.fetch_and(~flag, std::memory_order_relaxed);
    return (previous & flag) != 0;
}

void VLogger::LogBag(const VValueBag* bag) {
    if (bag == nullptr || !ShouldLog(ILoggerBagKeys::level.Get(*bag))) return;
    std::lock_guard<VCriticalSection> guard(fRingLock);
    _Store(bag);
}

void VLogger::LogMessage(EMessageLevel level, const VString& source, const VString& message) {
    if (!ShouldLog(level)) return;
    auto bag = VRefPtr<VValueBag>::Adopt(_TakeRecord());
    // The texts go straight into the empty record, under names it cannot hold yet: the keys' typed setters
    // would copy them first, and the bag's setter would look for each name.
    if (!source.IsNull() && !source.IsEmpty()) {
        bag->AppendNewAttribute(ILoggerBagKeys::source, source);
    } else {
        VString identifier;
        GetLogSourceIdentifier(identifier);
        bag->AppendNewAttribute(ILoggerBagKeys::source, identifier);
    }
    if (level != ILoggerBagKeys::level.GetDefault()) ILoggerBagKeys::level.Set(*bag, level);
    bag->AppendNewAttribute(ILoggerBagKeys::message, message);
    // Through LogBag, which a logger may override to see every record.
    LogBag(bag.Get());
}

VValueBag* VLogger::_TakeRecord() {
    {
        std::lock_guard<VCriticalSection> guard(fSpareLock);
        if (!fSpareRecords.empty()) {
            VValueBag* spare = fSpareRecords.back();
            fSpareRecords.pop_back();
            return spare;
        }
    }
    return new VLogRecordBag;
}

void VLogger::_ReleaseBatch(const std::vector<const VValueBag*>& batch) {
    std::vector<VValueBag*> spares;
    for (const VValueBag* bag : batch) {
        // A count of 1 is the batch's own reference: no listener kept the record, and nobody else may hold it
        // without a reference. Retaining reads the count in order with the releases of those who held it, so
        // that what they did with the record comes before it is emptied here.
        const bool sole = bag->Retain() == 2;
        bag->Release();
        if (sole && typeid(*bag) == typeid(VLogRecordBag) &&
            bag->GetAttributes().GetPackedUnits() <= kMaxSpareRecordUnits) {
            auto* spare = const_cast<VValueBag*>(bag);
            spare->Destroy();
            spares.push_back(spare);
        } else {
            bag->Release();
        }
    }
    if (spares.empty()) return;
    size_t kept = 0;
    {
        std::lock_guard<VCriticalSection> guard(fSpareLock);
        kept = std::min(spares.size(), size_t(kRingSize) - std::min(fSpareRecords.size(), size_t(kRingSize)));
        fSpareRecords.insert(fSpareRecords.end(), spares.begin(), spares.begin() + ptrdiff_t(kept));
    }
    for (size_t i = kept; i < spares.size(); ++i)
        spares[i]->Release();
}

void VLogger::Flush() {
    if (!fFlushEnabled.load(std::memory_order_relaxed)) return;
    {
        // The "Logger" task mostly finds nothing: it then leaves the listener lock to the tasks that deliver.
        std::lock_guard<VCriticalSection> ringGuard(fRingLock);
        if (fWriteIndex == 0 && !fWrapped) return;
    }
    std::vector<const VValueBag*> batch;
    {
        // Draining inside the listener lock keeps batches in ring order when several tasks flush at once; the
        // ring lock is released before any listener runs.
        std::lock_guard<VCriticalSection> listenerGuard(fListenerLock);
        {
            std::lock_guard<VCriticalSection> ringGuard(fRingLock);
            _Drain(batch);
        }
        if (batch.empty()) return;
        for (ILogListener* listener : fListeners)
            listener->Put(batch);
    }
    // Listeners that keep a record retained it: the batch's references can go outside the lock.
    _ReleaseBatch(batch);
}

bool VLogger::AddLogListener(ILogListener* listener) {
    if (listener == nullptr) return false;
    std::lock_guard<VCriticalSection> guard(fListenerLock);
    if (!fReaderTask) {
        fReaderTask = VRefPtr<VTask>::Adopt(new VTask(kReaderStackSize, eTaskStylePreemptive, [this] { _ReadLoop(); }));
        fReaderTask->SetName(VString("Logger"));
        // Without the task manager there is no thread: records then go out on explicit flushes only.
        fReaderTask->Run();
    }
    if (std::find(fListeners.begin(), fListeners.end(), listener) != fListeners.end()) return false;
    fListeners.insert(fListeners.begin(), listener);
    listener->Retain();
    return true;
}

bool VLogger::RemoveLogListener(ILogListener* listener) {
    Flush();
    if (listener == nullptr) return false;
    {
        std::lock_guard<VCriticalSection> guard(fListenerLock);
        auto it = std::find(fListeners.begin(), fListeners.end(), listener);
        if (it == fListeners.end()) return false;
        fListeners.erase(it);
    }
    listener->Release();
    return true;
}

std::vector<const VValueBag*> VLogger::Read() {
    std::vector<const VValueBag*> records;
    std::lock_guard<VCriticalSection> guard(fRingLock);
    _Drain(records);
    return records;
}

int32 VLogger::AddLogBag(const VValueBag* bag) {
    std::lock_guard<VCriticalSection> guard(fRingLock);
    if (bag != nullptr) _Store(bag);
    return fWriteIndex;
}

void VLogger::_Store(const VValueBag* bag) {
    if (fWriteIndex >= kRingSize) {
        fWrapped = true;
        fWriteIndex = 0;
    }
    const VValueBag*& slot = fRing[size_t(fWriteIndex)];
    if (slot != nullptr) slot->Release();
    bag->Retain();
    slot = bag;
    ++fWriteIndex;
}

void VLogger::_Drain(std::vector<const VValueBag*>& batch) {
    const auto written = fRing.begin() + fWriteIndex;
    const auto used = fWrapped ? fRing.end() : written;
    batch.reserve(batch.size() + size_t(used - fRing.begin()));
    if (fWrapped) batch.insert(batch.end(), written, fRing.end());
    batch.insert(batch.end(), fRing.begin(), written);
    std::fill(fRing.begin(), used, nullptr);
    fWrapped = false;
    fWriteIndex = 0;
}

void VLogger::_ReadLoop() {
    // Waiting to flush is no work: the process may count as idle meanwhile.
    VTask::ReleaseCurrentActivityToken();
    VTask* self = VTask::GetCurrent();
    while (self != nullptr && !self->IsDying()) {
        Flush();
        VTask::Sleep(kReaderPeriodMs);
    }
}

} // namespace vela
