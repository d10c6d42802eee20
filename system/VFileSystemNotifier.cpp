#include "system/VFileSystemNotifier.h"

#include "core/VTask.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "system/platform/XPosixFileSystemNotification.h"

#include <algorithm>

namespace vela {

namespace {

std::atomic<VFileSystemNotifier*> sInstance{nullptr};

} // namespace

VFileSystemNotifier::VChangeData::VChangeData(const VFilePath& folder, EventKind kinds, IEventHandler* handler,
                                              VTask* task)
    : fFolder(folder), fKinds(kinds), fHandler(handler), fTask(task) {
    if (fTask != nullptr) fTask->Retain();
}

VFileSystemNotifier::VChangeData::~VChangeData() {
    if (fTask != nullptr) fTask->Release();
}

VFileSystemNotifier::VChangeMessage::VChangeMessage(VChangeData* data) : fData(data) {
    fData->Retain();
}

VFileSystemNotifier::VChangeMessage::~VChangeMessage() {
    fData->Release();
}

void VFileSystemNotifier::VChangeMessage::DoExecute() {
    fData->_Deliver();
}

VFileSystemNotifier::VFileSystemNotifier() : fPlatform(std::make_unique<XPosixFileSystemNotification>(this)) {
    VFileSystemNotifier* none = nullptr;
    sInstance.compare_exchange_strong(none, this);
}

VFileSystemNotifier::~VFileSystemNotifier() {
    VFileSystemNotifier* self = this;
    sInstance.compare_exchange_strong(self, nullptr);
    std::vector<VChangeData*> watches;
    {
        StLocker<VCriticalSection> locker(fLock);
        watches.swap(fWatches);
    }
    for (VChangeData* data : watches) {
        data->fStopped.store(true, std::memory_order_release);
        data->StopSource();
        data->Release();
    }
}

VFileSystemNotifier* VFileSystemNotifier::Instance() noexcept {
    return sInstance.load(std::memory_order_acquire);
}

VError VFileSystemNotifier::StartWatchingForChanges(const VFolder& folder, EventKind kinds, IEventHandler* handler,
                                                    int latency) {
    // Changes reach a watch only through its task's messages: without a task they would pile up unseen.
    if (VTask::GetCurrent() == nullptr) return VE_FOLDER_CANNOT_WATCH;
    StLocker<VCriticalSection> locker(fLock);
    const VString& path = folder.GetPathRef().GetPath();
    bool watched = std::any_of(fWatches.begin(), fWatches.end(), [&](const VChangeData* data) {
        return data->fHandler == handler && data->fFolder.GetPath() == path;
    });
    if (watched) return VE_FOLDER_CANNOT_WATCH;
    return fPlatform->StartWatchingForChanges(folder, kinds, handler, latency);
}

VError VFileSystemNotifier::StopWatchingForChanges(const VFolder& folder, IEventHandler* handler) {
    VChangeData* found = nullptr;
    {
        StLocker<VCriticalSection> locker(fLock);
        const VString& path = folder.GetPathRef().GetPath();
        auto it = std::find_if(fWatches.begin(), fWatches.end(), [&](const VChangeData* data) {
            return data->fHandler == handler && data->fFolder.GetPath() == path;
        });
        if (it == fWatches.end()) return VE_FOLDER_NOT_FOUND;
        found = *it;
        fWatches.erase(it);
        found->fStopped.store(true, std::memory_order_release);
    }
    // The source may be waiting for the lock to add a change: stop it outside.
    found->StopSource();
    found->Release();
    return VE_OK;
}

void VFileSystemNotifier::PushChangeData(VChangeData* data) {
    StLocker<VCriticalSection> locker(fLock);
    data->Retain();
    fWatches.push_back(data);
}

void VFileSystemNotifier::AddChange(VChangeData* data, const VFilePath& item, EventKind kind) {
    if (!data->Wants(kind) || data->fTask == nullptr) return;
    StLocker<VCriticalSection> locker(data->fPendingLock);
    data->fPending.push_back(Change{item, kind});
}

void VFileSystemNotifier::SignalChange(VChangeData* data) {
    if (data->fTask == nullptr) return;
    auto* message = new VChangeMessage(data);
    message->PostTo(data->fTask);
    message->Release();
}

void VFileSystemNotifier::EventSignaledCallback(VChangeData* data) {
    data->_Deliver();
}

void VFileSystemNotifier::VChangeData::_Deliver() {
    std::vector<Change> pending;
    {
        StLocker<VCriticalSection> locker(fPendingLock);
        pending.swap(fPending);
    }
    // Handlers run outside the lock: one that stops its own watch waits for the change source, which may be
    // waiting for the lock.
    IEventHandler* handler = fHandler;
    if (handler == nullptr || IsStopped()) return;
    std::vector<VFilePath> group;
    EventKind groupKind = eModified;
    for (const Change& change : pending) {
        if (!group.empty() && change.kind != groupKind) {
            handler->HandleFileSystemChanges(group, groupKind);
            group.clear();
        }
        groupKind = change.kind;
        if (group.empty() || group.back().GetPath() != change.item.GetPath()) group.push_back(change.item);
    }
    if (!group.empty()) handler->HandleFileSystemChanges(group, groupKind);
}

} // namespace vela
