#pragma once

#include "core/ILogger.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"

#include <array>
#include <atomic>
#include <vector>

namespace vela {

class ILogListener;
class VTask;
class VValueBag;

// The process logger. Records wait in a ring of the last kRingSize kept records until a flush hands them to the
// listeners: every 100 ms on the "Logger" task (made by the first AddLogListener), or on an explicit Flush.
// Logging never waits for output: it takes the ring lock for a few pointer stores. A full ring overwrites its
// oldest record. Created with one reference, not started (nothing is kept before Start), default mask info,
// warning, error and fatal. The owner must not destroy it while other tasks still call it.
class VLogger : public VObject, public ILogger {
public:
    static constexpr int32 kRingSize = 1000;
    // Bits of info, warning, error and fatal.
    static constexpr uint32 kDefaultLevelMask = 0xF0;

    VLogger();
    // Stops the "Logger" task and waits for it to end, however long it takes, then releases the listeners and
    // the records not yet delivered (they are not delivered).
    ~VLogger() override;
    VLogger(const VLogger&) = delete;
    VLogger& operator=(const VLogger&) = delete;

    void Start() override;
    // Kills the "Logger" task and waits for its end at most 3000 ms; neither clears started nor flushes.
    void Stop() override;
    // Flushing on again: the records collected meanwhile are filtered by the mask, in order; nothing is
    // delivered here.
    void EnableFlush() override;
    // Until EnableFlush: records of every level are kept and Flush hands out nothing.
    void DisableFlush() override;
    bool IsStarted() const override;
    // Levels outside 0..31: false. Flushing off: true. Not started: false. Else the level's bit of the mask.
    bool ShouldLog(EMessageLevel level) const override;
    void LogBag(const VValueBag* bag) override;
    // A record with "source" (source, or the process's log source identifier when source is empty or null),
    // "level" (left out for info) and "message".
    void LogMessage(EMessageLevel level, const VString& source, const VString& message) override;
    // Drains the ring and hands the batch to every listener, newest-registered first; batches reach the
    // listeners one at a time and in the order they left the ring.
    void Flush() override;
    bool WithTrace(bool on) override { return WithTag(EML_Trace, on); }
    bool WithDump(bool on) override { return WithTag(EML_Dump, on); }
    bool WithDebug(bool on) override { return WithTag(EML_Debug, on); }
    bool WithWarning(bool on) override { return WithTag(EML_Warning, on); }
    bool WithError(bool on) override { return WithTag(EML_Error, on); }
    bool WithFatal(bool on) override { return WithTag(EML_Fatal, on); }
    bool WithAssert(bool on) override { return WithTag(EML_Assert, on); }
    bool WithInfo(bool on) override { return WithTag(EML_Information, on); }
    // The first call makes the "Logger" task (64,000-byte stack, its own thread), which flushes every 100 ms
    // until it is killed; it is never made twice.
    bool AddLogListener(ILogListener* listener) override;
    bool RemoveLogListener(ILogListener* listener) override;

    // Sets or clears bit of the level mask and answers its previous value; bits outside 0..31 change nothing
    // and answer false.
    bool WithTag(uint32 bit, bool on) noexcept;
    // The level mask (bit n: level n kept).
    uint32 GetLevelMask() const noexcept { return fLevelMask.load(std::memory_order_relaxed); }

    // Drains the ring without filtering or delivering: the records, oldest first, with their references for
    // the caller.
    std::vector<const VValueBag*> Read();
    // Stores bag (retained; not null) without filtering; answers the slot the next record takes.
    int32 AddLogBag(const VValueBag* bag);

private:
    // Stores bag in the next slot, retained, releasing the oldest record when the ring is full. Under fRingLock.
    void _Store(const VValueBag* bag);
    // Moves the ring's records, oldest first, into batch (their references with them). Under fRingLock.
    void _Drain(std::vector<const VValueBag*>& batch);
    // The body of the "Logger" task.
    void _ReadLoop();
    // An empty record with a reference for the caller: a spare one when there is, else a new one.
    VValueBag* _TakeRecord();
    // Releases the batch's references; the records that nobody else holds are emptied and kept as spares (at
    // most kRingSize), so that logging does not allocate a record and its storage for every message (with the
    // writer's record path, a million records into the log file went from about 700 ms to about 300 ms of CPU).
    void _ReleaseBatch(const std::vector<const VValueBag*>& batch);

    std::array<const VValueBag*, kRingSize> fRing{};
    // The slot the next record takes (0..kRingSize).
    int32 fWriteIndex = 0;
    // Set when the ring has been overwritten from slot 0 again since the last drain.
    bool fWrapped = false;
    // Guards fRing, fWriteIndex and fWrapped. Never taken before fListenerLock by the same path.
    VCriticalSection fRingLock;
    // Guards the listeners, the making of the reader task and every delivery.
    VCriticalSection fListenerLock;
    // Read by every logging task without a lock.
    std::atomic<uint32> fLevelMask{kDefaultLevelMask};
    std::atomic<bool> fStarted{false};
    std::atomic<bool> fFlushEnabled{true};
    // Retained, in delivery order.
    std::vector<ILogListener*> fListeners;
    // Guards fSpareRecords. Taken alone.
    VCriticalSection fSpareLock;
    // Empty records made by LogMessage, each with one reference.
    std::vector<VValueBag*> fSpareRecords;
    VRefPtr<VTask> fReaderTask;
};

} // namespace vela
