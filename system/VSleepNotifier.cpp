#include "system/VSleepNotifier.h"

#include "core/IFiberScheduler.h"
#include "core/ILogger.h"
#include "core/VTaskMgr.h"
#include "system/platform/XPosixPowerEventSource.h"

#include <atomic>
#include <vector>

namespace vela {

namespace {

std::atomic<VSleepNotifier*> sInstance{nullptr};

} // namespace

VSleepNotifier::VSleepNotifier(std::unique_ptr<IPowerEventSource> source)
    : fSource(source ? std::move(source) : std::make_unique<XPosixPowerEventSource>()) {
    VSleepNotifier* none = nullptr;
    sInstance.compare_exchange_strong(none, this);
}

VSleepNotifier::~VSleepNotifier() {
    VSleepNotifier* self = this;
    sInstance.compare_exchange_strong(self, nullptr);
    if (fSource) fSource->Stop();
    UnregisterSleepHandlers();
    SetLogger(nullptr);
}

VSleepNotifier* VSleepNotifier::Instance() noexcept {
    return sInstance.load(std::memory_order_acquire);
}

VError VSleepNotifier::Init() {
    if (!fSource) {
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    VError error = fSource->Start(this);
    if (error != VE_OK) _ThrowError(error);
    return error;
}

VError VSleepNotifier::RegisterSleepHandler(ISleepHandler* handler) {
    if (handler == nullptr) return VE_INVALID_PARAMETER;
    StLocker<VCriticalSection> locker(fLock);
    if (fHandlers.insert(handler).second) handler->Retain();
    return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandler(ISleepHandler* handler) {
    if (handler == nullptr) return VE_INVALID_PARAMETER;
    StLocker<VCriticalSection> locker(fLock);
    if (fHandlers.erase(handler) != 0) handler->Release();
    return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandlers() {
    std::set<ISleepHandler*> handlers;
    {
        StLocker<VCriticalSection> locker(fLock);
        handlers.swap(fHandlers);
    }
    for (ISleepHandler* handler : handlers)
        handler->Release();
    return VE_OK;
}

void VSleepNotifier::SetLogger(ILogger* logger) {
    if (logger != nullptr) logger->Retain();
    ILogger* old = nullptr;
    {
        StLocker<VCriticalSection> locker(fLock);
        old = fLogger;
        fLogger = logger;
    }
    if (old != nullptr) old->Release();
}

void VSleepNotifier::HandlePowerMessage(EPowerMessage message, void* token) {
    switch (message) {
    case ePowerWillSleep:
        HaveSleepNotification();
        fSource->AllowPowerChange(token);
        break;
    case ePowerCanSleep:
        fSource->AllowPowerChange(token);
        break;
    case ePowerHasPoweredOn:
        HaveWakeupNotification();
        break;
    }
}

void VSleepNotifier::HaveSleepNotification() {
    _Notify(true);
}

void VSleepNotifier::HaveWakeupNotification() {
    _Notify(false);
}

void VSleepNotifier::_Notify(bool sleeping) {
    ILogger* logger = nullptr;
    std::vector<ISleepHandler*> handlers;
    {
        // Handlers run on a retained copy, outside the lock: one may register or unregister handlers.
        StLocker<VCriticalSection> locker(fLock);
        logger = fLogger;
        if (logger != nullptr) logger->Retain();
        handlers.assign(fHandlers.begin(), fHandlers.end());
        for (ISleepHandler* handler : handlers)
            handler->Retain();
    }
    if (logger != nullptr) {
        logger->LogMessage(EML_Information, VString("sleepNotifications"),
                           VString(sleeping ? "System is going to sleep" : "System woke up from sleep"));
        logger->Release();
    }
    IFiberScheduler* scheduler = VTaskMgr::Get()->RetainFiberScheduler();
    if (scheduler != nullptr) scheduler->SetSystemCallCFRunloop(sleeping);
    for (ISleepHandler* handler : handlers) {
        if (sleeping)
            handler->OnSystemWillSleep();
        else
            handler->OnSystemDidWake();
        handler->Release();
    }
    if (scheduler != nullptr) scheduler->Release();
}

} // namespace vela
