#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VError.h"
#include "core/VMessage.h"
#include "core/VObject.h"
#include "files/VFilePath.h"

#include <atomic>
#include <memory>
#include <vector>

namespace vela {

class VFolder;
class VTask;
class XPosixFileSystemNotification;

// Watches folders (with everything below them) and tells each watch's handler which items were modified,
// created or deleted. Changes are delivered on the task that started the watch, when it executes its
// messages.
class VFileSystemNotifier : public VObject {
public:
    // A bit set of change kinds.
    enum EventKind : uint32 { eModified = 1, eCreated = 2, eDeleted = 4 };

    class IEventHandler {
    public:
        virtual ~IEventHandler() = default;
        // One batch of items of one kind: folders end with "/".
        virtual void HandleFileSystemChanges(const std::vector<VFilePath>& paths, EventKind kind) = 0;
    };

    struct Change {
        VFilePath item;
        EventKind kind;
    };

    // One watch: created with one reference. The task (may be null) is retained.
    class VChangeData : public VObject, public IRefCountable {
    public:
        VChangeData(const VFilePath& folder, EventKind kinds, IEventHandler* handler, VTask* task);
        ~VChangeData() override;

        const VFilePath& GetFolder() const noexcept { return fFolder; }
        EventKind GetKinds() const noexcept { return fKinds; }
        bool Wants(EventKind kind) const noexcept { return (fKinds & kind) != 0; }
        IEventHandler* GetHandler() const noexcept { return fHandler; }
        VTask* GetTask() const noexcept { return fTask; }
        bool IsStopped() const noexcept { return fStopped.load(std::memory_order_acquire); }

        // Ends the change source; waits for it when it runs elsewhere. Never called under the notifier's lock.
        virtual void StopSource() {}

    private:
        friend class VFileSystemNotifier;

        // Hands the pending changes to the handler unless the watch stopped.
        void _Deliver();

        VFilePath fFolder;
        EventKind fKinds;
        IEventHandler* fHandler;
        VTask* fTask;
        // The watch's own lock, so that a delivery needs nothing of the notifier, which may be gone by then.
        VCriticalSection fPendingLock;
        std::vector<Change> fPending;
        std::atomic<bool> fStopped{false};
    };

    // Delivers a watch's pending changes on the task it is posted to; holds a reference to the data, and
    // nothing of the notifier, which may be deleted before the message runs.
    class VChangeMessage : public VMessage {
    public:
        explicit VChangeMessage(VChangeData* data);
        ~VChangeMessage() override;
        void DoExecute() override;

    private:
        VChangeData* fData;
    };

    VFileSystemNotifier();
    // Stops every watch and releases it.
    ~VFileSystemNotifier() override;

    VFileSystemNotifier(const VFileSystemNotifier&) = delete;
    VFileSystemNotifier& operator=(const VFileSystemNotifier&) = delete;

    // Watches folder for the kinds, reporting to handler (not owned) on the calling task. The same folder and
    // handler twice, or a caller that is no task (nothing could deliver): VE_FOLDER_CANNOT_WATCH. A watch that cannot
    // start returns a non-zero 'POSX' error and is not kept. latency (ms) is how long a batch waits for further
    // changes. Errors are returned, not raised.
    VError StartWatchingForChanges(const VFolder& folder, EventKind kinds, IEventHandler* handler, int latency);
    // Ends the watch of folder and handler; VE_FOLDER_NOT_FOUND when there is none. No change is delivered to
    // the handler afterwards.
    VError StopWatchingForChanges(const VFolder& folder, IEventHandler* handler);

    // Retains and lists a watch.
    void PushChangeData(VChangeData* data);
    // Adds a change to the watch's pending list (none to a watch without a task to deliver it).
    void AddChange(VChangeData* data, const VFilePath& item, EventKind kind);
    // Posts the delivery of the watch's pending changes to its task.
    void SignalChange(VChangeData* data);
    // Hands the pending changes to the handler, consecutive changes of one kind in one batch.
    void EventSignaledCallback(VChangeData* data);

    // The first notifier alive in the process, or null.
    static VFileSystemNotifier* Instance() noexcept;

private:
    std::unique_ptr<XPosixFileSystemNotification> fPlatform;
    VCriticalSection fLock;
    std::vector<VChangeData*> fWatches;
};

constexpr VFileSystemNotifier::EventKind operator|(VFileSystemNotifier::EventKind a,
                                                   VFileSystemNotifier::EventKind b) noexcept {
    return VFileSystemNotifier::EventKind(uint32(a) | uint32(b));
}

} // namespace vela
