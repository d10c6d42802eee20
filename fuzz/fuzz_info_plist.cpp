// Reads arbitrary text as an Info.plist: never crashes, never reads out of bounds; and a dictionary it accepts,
// written back as a property list of strings (with the five entities), reads back equal.
#include "core/platform/XPosixBundleInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using vela::XPosixBundleInfo;
    std::optional<XPosixBundleInfo::Dictionary> info =
        XPosixBundleInfo::ParseInfoPlist(std::string(reinterpret_cast<const char*>(data), size));
    if (!info) return 0;

    std::string written = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : *info)
        written += "\t<key>" + Escaped(key) + "</key>\n\t<string>" + Escaped(value) + "</string>\n";
    written += "</dict>\n</plist>\n";
    std::optional<XPosixBundleInfo::Dictionary> back = XPosixBundleInfo::ParseInfoPlist(written);
    if (!back || *back != *info) __builtin_trap();
    return 0;
}
