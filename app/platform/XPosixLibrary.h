#pragma once

#include <string>

namespace vela {

// The dynamic loader's side of a loadable library: one handle opened with global symbols, closed on Close or at
// destruction.
class XPosixLibrary {
public:
    XPosixLibrary() = default;
    ~XPosixLibrary() { Close(); }
    XPosixLibrary(const XPosixLibrary&) = delete;
    XPosixLibrary& operator=(const XPosixLibrary&) = delete;

    // Opens the module at path (UTF-8), its symbols visible to modules loaded later; false with the loader's
    // text in reason. A handle already open is kept.
    bool Open(const std::string& path, std::string& reason);
    void Close() noexcept;
    bool IsOpen() const noexcept { return fHandle != nullptr; }
    // The address of an exported symbol; null when not open or not exported.
    void* GetSymbol(const char* name) const noexcept;

    // The executable of the bundle folder (a trailing '/' or not): for a framework ("X.framework") the file named
    // after it inside it, otherwise Contents/MacOS/<CFBundleExecutable of Contents/Info.plist>. Empty when the
    // information file or its key is missing.
    static std::string BundleExecutable(const std::string& folder);

private:
    void* fHandle = nullptr;
};

} // namespace vela
