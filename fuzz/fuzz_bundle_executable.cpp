// Arbitrary bytes as the Info.plist of a bundle, read by the updater's bundle reader: never crashes, never reads out
// of bounds. An executable it finds lies in the bundle's Contents/MacOS folder under a plain name. Each string of a
// dictionary the property-list parser accepts, written back as a property list of strings (with the five
// entities), is read back the same by the bundle reader for every key that needs no escaping.
#include "FuzzPropertyList.h"
#include "FuzzScratch.h"

#include "core/platform/XPosixBundleInfo.h"
#include "updater/platform/XPosixBundle.h"

#include <cstdint>
#include <string>

namespace {

using vela::XPosixBundle;
using vela::XPosixBundleInfo;
using vela::fuzz::EscapedPropertyListText;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bundle = vela::fuzz::ScratchFolder() + "/Fuzzed.app";
    vela::fuzz::WriteScratchFile("Fuzzed.app/Contents/Info.plist", data, size);
    std::string executable;
    if (XPosixBundle::GetExecutablePath(bundle + "/", executable)) {
        const std::string folder = bundle + "/Contents/MacOS/";
        if (executable.compare(0, folder.size(), folder) != 0) __builtin_trap();
        const std::string name = executable.substr(folder.size());
        if (name.empty() || name.find('/') != std::string::npos) __builtin_trap();
    }

    std::optional<XPosixBundleInfo::Dictionary> info =
        XPosixBundleInfo::ParseInfoPlist(std::string(reinterpret_cast<const char*>(data), size));
    if (!info) return 0;
    const std::string written = vela::fuzz::WrittenPropertyList(*info);
    const std::string path = vela::fuzz::WriteScratchFile("Written.plist", written.data(), written.size());
    for (const auto& [key, value] : *info) {
        if (EscapedPropertyListText(key) != key) continue;
        std::string read;
        if (!XPosixBundle::ReadInfoString(path, key, read) || read != value) __builtin_trap();
    }
    return 0;
}
