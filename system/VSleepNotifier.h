#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VString.h"

#include <memory>
#include <set>

namespace vela {

class ILogger;
class IPowerEventSource;

// The notifier cannot register with the system's power events.
constexpr VError VE_SLEEP_NOTIFIER_FAILED = MakeLibraryError(1150);

// Relays the system's sleep and wake-up to registered handlers and to the log, on the thread the source delivers
// on (the default source's own thread on Linux).
class VSleepNotifier : public VObject {
public:
    class ISleepHandler : public IRefCountable {
    public:
        virtual void OnSystemWillSleep() = 0;
        virtual void OnSystemDidWake() = 0;
        virtual VString GetHandlerName() = 0;
    };

    // The messages a power-event source delivers; token is handed back when acknowledging.
    enum EPowerMessage { ePowerCanSleep, ePowerWillSleep, ePowerHasPoweredOn };

    // source null: the platform's default source.
    explicit VSleepNotifier(std::unique_ptr<IPowerEventSource> source = nullptr);
    // Releases every handler and stops the source.
    ~VSleepNotifier() override;

    VSleepNotifier(const VSleepNotifier&) = delete;
    VSleepNotifier& operator=(const VSleepNotifier&) = delete;

    // Starts the source. Without one: raises and returns VE_INVALID_PARAMETER; a source that fails: its error
    // raised again and returned. 0 on success.
    VError Init();

    // null: VE_INVALID_PARAMETER, not raised. A handler registered twice is kept (and retained) once.
    VError RegisterSleepHandler(ISleepHandler* handler);
    // null: VE_INVALID_PARAMETER, not raised. A handler not registered: 0, nothing changes.
    VError UnregisterSleepHandler(ISleepHandler* handler);
    VError UnregisterSleepHandlers();

    // The log that records sleep and wake-up (retained); null: none.
    void SetLogger(ILogger* logger);

    // Called by the source: a will-sleep is acknowledged after the handlers returned, a query whether the
    // system may sleep at once (sleep is never refused).
    void HandlePowerMessage(EPowerMessage message, void* token);
    void HaveSleepNotification();
    void HaveWakeupNotification();

    // The first notifier alive in the process, or null.
    static VSleepNotifier* Instance() noexcept;

private:
    void _Notify(bool sleeping);

    std::unique_ptr<IPowerEventSource> fSource;
    // Guards the handlers and the logger.
    VCriticalSection fLock;
    std::set<ISleepHandler*> fHandlers;
    ILogger* fLogger = nullptr;
};

// Where power events come from: the system's, or a test's.
class IPowerEventSource {
public:
    virtual ~IPowerEventSource() = default;
    // Starts delivering to owner's HandlePowerMessage; 0 or an error (not raised).
    virtual VError Start(VSleepNotifier* owner) = 0;
    // Lets the pending power change of token go on.
    virtual void AllowPowerChange(void* token) = 0;
    // Stops delivering; no call reaches the owner afterwards.
    virtual void Stop() = 0;
};

} // namespace vela
