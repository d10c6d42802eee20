#pragma once

#include <map>
#include <optional>
#include <string>

namespace vela {

// The information keys of the main bundle ("MemoryAllocator", "CFBundleShortVersionString", ...).
// The bundle is the folder that holds Contents/MacOS/<executable>; its Contents/Info.plist is an XML
// property list whose top dict maps keys to string, true/false or integer values. This runs before the
// memory manager exists, so it uses only the C++ runtime and no XML library.
class XPosixBundleInfo {
public:
    // Values are kept as text: strings as written, booleans as "true"/"false", integers as digits.
    using Dictionary = std::map<std::string, std::string>;

    // The running executable's full path, or empty when the system does not tell it.
    static std::string ExecutablePath();
    // The bundle folder of an executable path ("/a/X.app/Contents/MacOS/x" gives "/a/X.app"), or empty.
    static std::string BundlePathOfExecutable(const std::string& executablePath);
    // Reads a property list's top dict; nothing when the file is missing or not a property list.
    static std::optional<Dictionary> ReadInfoPlist(const std::string& plistPath);
    // Parses property-list text.
    static std::optional<Dictionary> ParseInfoPlist(const std::string& text);

    // The main bundle's path ("" when the executable is not inside a bundle) and its keys, read once.
    static const std::string& MainBundlePath();
    // The value of a key of the main bundle; nothing when there is no bundle or no such key.
    static std::optional<std::string> GetMainBundleValue(const std::string& key);
};

} // namespace vela
