#pragma once

#include "core/VDebugMgr.h"
#include "core/VObject.h"
#include "system/VSystem.h"

namespace vela {

// Asks the user, through an alert with Retry, Ignore and Abort (VSystem::DisplayNotification, which waits),
// what to do after a failed assertion or an unfiltered error: Abort breaks, Retry goes on, anything else (Ignore,
// no answer, a withdrawn alert) ignores that assertion or error code from now on. Without a desktop the alert
// goes to the system log and nothing is answered, so each one is shown once.
class VNotificationDebugMessageHandler : public VObject, public IDebugMessageHandler {
public:
    int AssertFailed(VDebugContext& context, const char* message, const char* file, int line) override;
    int ErrorThrown(VDebugContext& context, VErrorBase* error) override;

    // The debug answer for an alert's response.
    static int Translate(ENotificationResponse response) noexcept;
    // Makes a handler the debug manager's (which keeps its own reference).
    static void Install();
};

} // namespace vela
