#pragma once

#include <string>

namespace vela {

// Bundles as this platform lays them out: "<bundle>/Contents/Info.plist" (a property list in XML) and the
// executable in "<bundle>/Contents/MacOS/".
class XPosixBundle {
public:
    // The string stored under key in the property list at plistPath; false when the file cannot be read or holds
    // no such string. Only the first <string> element after <key>key</key> is read: enough for the flat
    // dictionaries of bundles.
    static bool ReadInfoString(const std::string& plistPath, const std::string& key, std::string& out);
    // The POSIX path of the bundle's executable (bundlePath with or without its final '/'); false when the
    // Info.plist names none.
    static bool GetExecutablePath(const std::string& bundlePath, std::string& out);
};

} // namespace vela
