#pragma once

#include "core/IRefCountable.h"

#include <vector>

namespace vela {

class VValueBag;

// Receives the process logger's records in batches, one batch at a time, on the task that flushes (the
// "Logger" task, or a caller of Flush).
class ILogListener : public IRefCountable {
public:
    // One batch, oldest first. The bags are borrowed for the call: retain those kept beyond it.
    virtual void Put(const std::vector<const VValueBag*>& bags) = 0;
};

} // namespace vela
