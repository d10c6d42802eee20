#pragma once

#include "core/VTypes.h"

#include <functional>

namespace vela {

// Stands in for the platform's main run loop: work and repeating timers run on the main task, as messages of its
// queue, whenever it executes its messages (and only then). A timer's tick is a delayed message: it falls due in
// the idle processing of a message loop.
class VMainRunLoop {
public:
    VMainRunLoop() = delete;

    // Queues work for the main task; false without a main task.
    static bool Perform(std::function<void()> work);
    // Calls tick on the main task every intervalMs (ms, at the queue's granularity of 1/60 s) until it answers
    // false; false without a main task.
    static bool AddTimer(int32 intervalMs, std::function<bool()> tick);
};

} // namespace vela
