#include "core/platform/XPosixStackCrawl.h"

#include "core/VString.h"
#include "core/platform/XPosixRuntime.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <execinfo.h>

namespace vela {

namespace {
// Room for the skipped frames on top of the kept ones.
constexpr int kCaptureFrames = 58;
} // namespace

void XPosixStackCrawl::LoadFrames(uint32 skip, uint32 max) noexcept {
    void* addresses[kCaptureFrames];
    int got = backtrace(addresses, kCaptureFrames);
    SetFrames(addresses, got, skip, max);
}

void XPosixStackCrawl::SetFrames(void* const* addresses, int32 count, uint32 skip, uint32 max) noexcept {
    fCount = 0;
    if (addresses == nullptr || count <= 0 || uint64(count) <= skip) return;
    // Callers ask for 8; anything above the array would overrun it.
    uint64 keep = std::min<uint64>({uint64(count) - skip, max, kMaxFrames});
    std::copy_n(addresses + skip, keep, fFrames);
    fCount = int32(keep);
}

bool XPosixStackCrawl::operator<(const XPosixStackCrawl& other) const noexcept {
    if (fCount != other.fCount) return fCount < other.fCount;
    for (int32 i = 0; i < fCount; ++i) {
        auto mine = reinterpret_cast<uintptr_t>(fFrames[i]);
        auto theirs = reinterpret_cast<uintptr_t>(other.fFrames[i]);
        if (mine != theirs) return mine < theirs;
    }
    return false;
}

void XPosixStackCrawl::Dump(FILE* file) const {
    if (fCount == 0 || file == nullptr) return;
    char** symbols = backtrace_symbols(fFrames, fCount);
    for (int32 i = 0; i < fCount; ++i)
        std::fprintf(file, "  :: frame %u: %s\n", unsigned(fCount - 1 - i), symbols != nullptr ? symbols[i] : "?");
    std::free(symbols);
}

void XPosixStackCrawl::Dump(VString& out) const {
    VString address;
    VString name;
    for (int32 i = 0; i < fCount; ++i) {
        out.AppendCString("   {");
        out.AppendLong(fCount - 1 - i);
        out.AppendCString("} ");
        address.FromHexLong(int64(reinterpret_cast<uintptr_t>(fFrames[i])), true);
        out.AppendString(address);
        out.AppendCString(" - ");
        Dl_info info{};
        if (dladdr(fFrames[i], &info) != 0 && info.dli_sname != nullptr && info.dli_sname[0] != 0) {
            XPosixRuntime::DemangleSymbol(info.dli_sname, name);
            out.AppendString(name);
        } else {
            out.AppendCString("<inline>");
        }
        out.AppendUniChar(u'\n');
    }
}

} // namespace vela
