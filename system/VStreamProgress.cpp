// The progress members of VStream: streams live in files/, below the progress indicator they report to.
#include "files/VStream.h"

#include "core/VString.h"
#include "system/VProgressIndicator.h"

namespace vela {

void VStream::SetProgressIndicator(VProgressIndicator* indicator) {
    if (indicator == fProgress) return;
    const bool moveSession = fProgressSessionOpen;
    if (moveSession) _EndProgressSession();
    RetainRefCountable(indicator);
    ReleaseRefCountable(&fProgress);
    fProgress = indicator;
    if (moveSession && fProgress != nullptr) _BeginProgressSession();
}

void VStream::_BeginProgressSession() {
    if (fIsReading)
        fProgress->BeginSession(GetSize(), VString("Reading From Stream"));
    else
        fProgress->BeginSession(-1, VString("Writing to Stream"));
    fProgressSessionOpen = true;
}

void VStream::_EndProgressSession() {
    fProgressSessionOpen = false;
    fProgress->EndSession();
}

VError VStream::_ReportProgress() {
    // The position, not the bytes of this one call, so that the indicator's value follows the whole transfer.
    if (!fProgress->Progress(fPosition)) return _SetError(VE_STREAM_USER_ABORTED);
    return fLastError;
}

void VStream::_ReleaseProgress() noexcept {
    // A stream dropped while open must not leave its session on the indicator's stack.
    if (fProgressSessionOpen) _EndProgressSession();
    ReleaseRefCountable(&fProgress);
}

} // namespace vela
