// The leaks report file of the memory manager, written through a file stream: the manager sits below files.

#include "core/VCppMemMgr.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/platform/XPosixBundleInfo.h"
#include "files/VFile.h"
#include "files/VFileStream.h"

#include <cstring>
#include <ctime>
#include <memory>

namespace vela {

VFileStream* VLeaksChecker::OpenDumpFile(const char* name) const {
    return OpenDumpFileOfBundle(XPosixBundleInfo::MainBundlePath(), name);
}

VFileStream* VLeaksChecker::OpenDumpFileOfBundle(const std::string& bundlePath, const char* name) const {
    if (bundlePath.empty() || name == nullptr) return nullptr;
    std::string path = bundlePath;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
    path += '.';
    path += name;
    path += ".leaks";

    VString posix;
    posix.FromBlock(path.data(), path.size(), VTC_UTF_8);
    const auto file = VRefPtr<VFile>::Adopt(new VFile(VFilePath(posix, FPS_POSIX)));
    auto stream = std::make_unique<VFileStream>(file.Get(), FO_CREATE_IF_NOT_FOUND | FO_OVERWRITE);
    {
        // A report that cannot be written is no error of the program being checked.
        StErrorContextInstaller quiet(false, true);
        if (stream->OpenWriting() != VE_OK) return nullptr;
    }
    char stamp[200];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const size_t stampLength = std::strftime(stamp, sizeof(stamp), "%A, %B %d, %Y %I:%M:%S %p\n", &local);
    stream->PutData(stamp, stampLength);
    char buffer[64];
    const char* headline = LeaksHeadline(fLeaksCount, buffer, sizeof(buffer));
    stream->PutData(headline, std::strlen(headline));
    return stream.release();
}

} // namespace vela
