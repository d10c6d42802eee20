#pragma once

// Internal: the default power-event source on Linux.

#include "system/VSleepNotifier.h"

#include <thread>

struct sd_bus;
struct sd_bus_slot;

namespace vela {

// Hears the login manager's PrepareForSleep signal on the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the
// standard socket) and holds a delay lock on sleep, so that a will-sleep is acknowledged only once the handlers
// returned. The messages reach the owner on the source's own thread. Without a system bus the source starts
// all the same, says so once per process in the process log, and stays silent.
class XPosixPowerEventSource : public IPowerEventSource {
public:
    XPosixPowerEventSource() = default;
    ~XPosixPowerEventSource() override;
    XPosixPowerEventSource(const XPosixPowerEventSource&) = delete;
    XPosixPowerEventSource& operator=(const XPosixPowerEventSource&) = delete;

    VError Start(VSleepNotifier* owner) override;
    // Releases the delay lock (the token is not used: there is one lock).
    void AllowPowerChange(void* token) override;
    void Stop() override;

private:
    // The bus's callbacks (they name types of the bus library, which stays out of this header).
    friend struct PowerBusCallbacks;

    // Asks the login manager for a delay lock on sleep; the answer arrives on the source's thread.
    void _RequestDelayLock();
    void _Run();
    void _Close();

    VSleepNotifier* fOwner = nullptr;
    // Used on the source's thread only, once it runs.
    sd_bus* fBus = nullptr;
    sd_bus_slot* fMatch = nullptr;
    sd_bus_slot* fInhibitCall = nullptr;
    int fDelayLock = -1;
    int fStopEvent = -1;
    std::thread fThread;
};

} // namespace vela
