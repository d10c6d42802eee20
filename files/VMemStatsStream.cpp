// The memory report written to a stream.

#include "core/VCppMemMgr.h"

#include "core/VString.h"
#include "files/VStream.h"

namespace vela {

void VMemStats::DumpToStream(VStream* stream) const {
    if (stream == nullptr) return;
    VString text;
    _GetStreamReport(text);
    stream->PutText(text);
}

} // namespace vela
