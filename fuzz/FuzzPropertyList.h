// The property-list writer of the fuzz targets that read Info.plist files: a dictionary of strings as the XML a
// bundle would hold, texts escaped with the five predefined entities.
#pragma once

#include "core/platform/XPosixBundleInfo.h"

#include <string>

namespace vela::fuzz {

inline std::string EscapedPropertyListText(const std::string& text) {
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

inline std::string WrittenPropertyList(const XPosixBundleInfo::Dictionary& dictionary) {
    std::string written = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : dictionary)
        written += "\t<key>" + EscapedPropertyListText(key) + "</key>\n\t<string>" + EscapedPropertyListText(value) +
                   "</string>\n";
    return written + "</dict>\n</plist>\n";
}

} // namespace vela::fuzz
