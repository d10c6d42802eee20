#pragma once

#include "core/VString.h"

#include <vector>

namespace vela {

// The stand-in for the system's choice among a bundle's localizations.
class XPosixLocalizations {
public:
    // The names of the main bundle's localization folders ("fr" of Contents/Resources/fr.lproj), in name order;
    // none without a main bundle.
    static std::vector<VString> GetMainBundleLocalizations();
    // The localization the user's preferred languages (most preferred first) choose: for the first preferred
    // language that any localization serves, the localization that serves it best (same tag, then a regional
    // form either way, then the same language); none serving any, the first localization. Empty for none.
    static VString PreferredLocalization(const std::vector<VString>& localizations,
                                         const std::vector<VString>& preferred);
};

} // namespace vela
