#include "app/platform/XPosixLibrary.h"

#include "core/platform/XPosixBundleInfo.h"

#include <dlfcn.h>

namespace vela {

bool XPosixLibrary::Open(const std::string& path, std::string& reason) {
    if (fHandle != nullptr) return true;
    fHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (fHandle == nullptr) {
        const char* text = dlerror();
        reason = text != nullptr ? text : "";
    }
    return fHandle != nullptr;
}

void XPosixLibrary::Close() noexcept {
    if (fHandle == nullptr) return;
    dlclose(fHandle);
    fHandle = nullptr;
}

void* XPosixLibrary::GetSymbol(const char* name) const noexcept {
    return fHandle != nullptr && name != nullptr ? dlsym(fHandle, name) : nullptr;
}

std::string XPosixLibrary::BundleExecutable(const std::string& folder) {
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string name = base.substr(base.rfind('/') + 1);
    const std::string frameworkExtension = ".framework";
    if (name.size() > frameworkExtension.size() &&
        name.compare(name.size() - frameworkExtension.size(), frameworkExtension.size(), frameworkExtension) == 0)
        return base + "/" + name.substr(0, name.size() - frameworkExtension.size());
    auto info = XPosixBundleInfo::ReadInfoPlist(base + "/Contents/Info.plist");
    if (!info) return std::string();
    auto executable = info->find("CFBundleExecutable");
    // A name with a slash would lead out of the bundle.
    if (executable == info->end() || executable->second.empty() || executable->second.find('/') != std::string::npos)
        return std::string();
    return base + "/Contents/MacOS/" + executable->second;
}

} // namespace vela
