#pragma once

#include "core/VObject.h"
#include "core/VTypes.h"

namespace vela {

// The debug manager's state for one task; only the task's own thread touches it.
class VDebugContext : public VObject {
public:
    // While not 0 the task is in low-level mode: nothing is logged for it.
    bool IsLowLevelMode() const noexcept { return fLowLevelDepth != 0; }
    void StartLowLevelMode() noexcept { ++fLowLevelDepth; }
    // Unbalanced stops are ignored.
    void StopLowLevelMode() noexcept {
        if (fLowLevelDepth > 0) --fLowLevelDepth;
    }
    uint32 GetLowLevelDepth() const noexcept { return fLowLevelDepth; }

    // Set while the debug manager reports on this task, so that a report raised by reporting is dropped.
    bool IsReentered() const noexcept { return fReentered != 0; }
    void SetReentered(bool reentered) noexcept { fReentered = reentered ? 1 : 0; }

private:
    uint32 fLowLevelDepth = 0;
    uint8 fReentered = 0;
};

} // namespace vela
