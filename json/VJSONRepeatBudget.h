// Internal header: the bound on text repeated for shared nodes, used by the JSON text writers.
#pragma once

#include "core/VString.h"

#include <algorithm>
#include <unordered_set>

namespace vela {

// A graph may hold one node in several places (a binary JSON text shares nodes by reference), and text writes
// every place in full: a chain of arrays each holding the next twice is small in memory and exponential as text.
// The text written again for a node met before may reach kRepeatFactor times the rest of the text, or
// kRepeatFloor units, no more: past that limit a writer fails (107) instead of going on for gigabytes.
class VJSONRepeatBudget {
public:
    static constexpr int64 kRepeatFactor = 64;
    static constexpr int64 kRepeatFloor = int64(1) << 20;

    // On entering node, which holders hold (its reference count), when length units are written: true when it
    // was met before, and its text (up to the matching Leave) is a repeat. Only a node held more than once can
    // be met twice without a repeat around it. Throws only when memory runs out.
    bool Enter(const void* node, int32 holders, int64 length) {
        if (holders <= 1) return false;
        if (fMet.insert(node).second) return false;
        if (fDepth++ == 0) {
            fRepeatStart = length;
            const int64 fresh = length - fRepeated;
            fLimit = length + std::max(kRepeatFloor, kRepeatFactor * fresh) - fRepeated;
        }
        return true;
    }
    // On leaving a node entered with repeat (what Enter answered), when length units are written.
    void Leave(bool repeat, int64 length) noexcept {
        if (!repeat || --fDepth > 0) return;
        fRepeated += length - fRepeatStart;
        fLimit = VString::kMaxLength;
    }
    // The length the text may reach now.
    int64 GetLimit() const noexcept { return fLimit; }

private:
    std::unordered_set<const void*> fMet; // nodes with several holders entered so far
    int64 fRepeated = 0;                  // units written inside repeats
    int64 fRepeatStart = 0;
    int64 fLimit = VString::kMaxLength;
    int32 fDepth = 0; // repeats entered and not left
};

} // namespace vela
