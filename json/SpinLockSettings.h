#pragma once

#include "core/SpinLock.h"
#include "core/VString.h"

#include <optional>

// The spin lock's start-up settings, read from its parameter file: apart from the lock, so that its users do not
// pull in the string and JSON layers.
namespace vela::SpinLock {

// What the parameter file "spinlock.prm" may set; absent members change nothing.
struct Settings {
    // "alwaysSleep", "loopMaxSpinsAndYields" or "maxSpinsThenLoopYields"; other names change nothing.
    std::optional<VString> mode;
    // Truncated to a signed 32-bit count (saturating; NaN is ignored).
    std::optional<double> maxSpins;
    std::optional<bool> yieldAfterCheckEvent;
};

// Applies settings at once. Only for start-up and tests: nothing else may be locking meanwhile.
void Apply(const Settings& settings);

// Start-up configuration, called by the task manager's Init: reads "spinlock.prm" of the process's executable
// folder as Configure(path) does; nothing without a process.
void Configure();
// Only while the task manager counts exactly one task: reads the UTF-8 JSON file at posixPath and applies its
// "mode" when it is a string, "maxSpins" when it is a number and "yieldAfterCheckEvent" when it is true or false.
// An absent file changes nothing silently; text that is no JSON (its errors raised) or whose root is no object
// changes nothing either.
void Configure(const VString& posixPath);

} // namespace vela::SpinLock
