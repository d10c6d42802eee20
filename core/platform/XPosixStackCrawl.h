#pragma once

#include "core/VTypes.h"

#include <cstdio>

namespace vela {

class VString;

// The return addresses of a thread's stack at one moment, innermost first, printed with symbol names for
// assertion reports, the leak counter and error objects.
class XPosixStackCrawl {
public:
    // The most frames a crawl keeps.
    static constexpr uint32 kMaxFrames = 48;

    XPosixStackCrawl() noexcept = default;
    XPosixStackCrawl(const XPosixStackCrawl&) noexcept = default;
    XPosixStackCrawl& operator=(const XPosixStackCrawl&) noexcept = default;
    virtual ~XPosixStackCrawl() = default;

    // Captures the calling thread's stack: drops the skip innermost frames and keeps at most max of the
    // following ones (max is capped at kMaxFrames); none when the stack is not deeper than skip.
    void LoadFrames(uint32 skip, uint32 max) noexcept;
    // The same rules applied to addresses captured elsewhere (count of them, innermost first).
    void SetFrames(void* const* addresses, int32 count, uint32 skip, uint32 max) noexcept;

    // The number of frames kept (0 after construction).
    int32 GetCount() const noexcept { return fCount; }
    // The frame at index (0-based, innermost first); null out of range.
    void* GetFrame(int32 index) const noexcept { return index >= 0 && index < fCount ? fFrames[index] : nullptr; }

    // Fewer frames order first; equal counts compare the frames in order as unsigned addresses.
    bool operator<(const XPosixStackCrawl& other) const noexcept;

    // One line per frame, "  :: frame N: <symbol line>", N counting down from count - 1 to 0. Nothing when empty.
    void Dump(FILE* file) const;
    // Appends one line per frame: "   {N} 0x<address> - <demangled name>" ("<inline>" without a name).
    void Dump(VString& out) const;

private:
    void* fFrames[kMaxFrames] = {};
    int32 fCount = 0;
};

} // namespace vela
