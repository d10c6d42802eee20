#include "app/platform/XPosixLocalizations.h"

#include "core/platform/XPosixBundleInfo.h"
#include "intl/VIntlMgr.h"

#include <algorithm>
#include <dirent.h>
#include <string>

namespace vela {

std::vector<VString> XPosixLocalizations::GetMainBundleLocalizations() {
    std::vector<VString> names;
    const std::string& bundle = XPosixBundleInfo::MainBundlePath();
    if (bundle.empty()) return names;
    DIR* resources = opendir((bundle + "/Contents/Resources").c_str());
    if (resources == nullptr) return names;
    std::vector<std::string> found;
    const std::string extension = ".lproj";
    while (const dirent* entry = readdir(resources)) {
        const std::string name = entry->d_name;
        if (name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
            found.push_back(name.substr(0, name.size() - extension.size()));
    }
    closedir(resources);
    std::sort(found.begin(), found.end());
    for (const std::string& name : found)
        names.emplace_back(name.data(), name.size(), VTC_UTF_8);
    return names;
}

VString XPosixLocalizations::PreferredLocalization(const std::vector<VString>& localizations,
                                                   const std::vector<VString>& preferred) {
    if (localizations.empty()) return VString();
    for (const VString& language : preferred) {
        int32 bestScore = 0;
        const VString* best = nullptr;
        for (const VString& localization : localizations) {
            // 4 same tag, 3 and 2 a regional form either way, 1 same language.
            const int32 score = VIntlMgr::Compare2RFC3066LanguageCodes(language, localization);
            if (score > bestScore) {
                bestScore = score;
                best = &localization;
            }
        }
        if (best != nullptr) return *best;
    }
    return localizations.front();
}

} // namespace vela
