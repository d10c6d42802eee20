// Reads arbitrary text as an Info.plist: never crashes, never reads out of bounds; and a dictionary it accepts,
// written back as a property list of strings (with the five entities), reads back equal.
#include "FuzzPropertyList.h"

#include "core/platform/XPosixBundleInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using vela::XPosixBundleInfo;
    std::optional<XPosixBundleInfo::Dictionary> info =
        XPosixBundleInfo::ParseInfoPlist(std::string(reinterpret_cast<const char*>(data), size));
    if (!info) return 0;

    std::optional<XPosixBundleInfo::Dictionary> back =
        XPosixBundleInfo::ParseInfoPlist(vela::fuzz::WrittenPropertyList(*info));
    if (!back || *back != *info) __builtin_trap();
    return 0;
}
