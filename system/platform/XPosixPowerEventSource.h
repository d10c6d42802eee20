#pragma once

// Internal: the default power-event source on Linux.

#include "system/VSleepNotifier.h"

namespace vela {

// No system-bus client library is part of the build, so the login manager's sleep signal cannot be heard:
// this source starts and stays silent.
class XPosixPowerEventSource : public IPowerEventSource {
public:
    VError Start(VSleepNotifier*) override { return VE_OK; }
    void AllowPowerChange(void*) override {}
    void Stop() override {}
};

} // namespace vela
