// The stream form of strings: a negative length and the UTF-16 units, or the older positive-length form.

#include "core/VString.h"

#include "files/VStream.h"
#include "values/VStoredData.h"

#include <algorithm>
#include <climits>

namespace vela {

namespace {

// Units read from a stream per step: a length field never makes us allocate far beyond what was delivered.
constexpr int32 kStreamChunkUnits = 32768;

// Reads up to count units behind the text, growing the buffer as data arrives; answers the units read, or -1
// when no buffer could be had.
int64 ReadUnits(VStream* stream, VString& text, int64 count) {
    int64 read = 0;
    while (read < count && stream->GetLastError() == VE_OK) {
        int32 step = int32(std::min<int64>(count - read, std::max<int64>(kStreamChunkUnits, read)));
        UniChar* buffer = text.GetCPointerForWrite(int32(text.GetLength() + step));
        if (buffer == nullptr) return -1;
        int32 got = step;
        stream->GetWords(buffer + text.GetLength(), &got);
        text.Validate(text.GetLength() + got);
        read += got;
    }
    return read;
}

} // namespace

VError VString::WriteToStream(VStream* stream, int32) const {
    if (stream->PutLong(-fLength) == VE_OK && fLength > 0) stream->PutWords(fString, fLength);
    return stream->GetLastError();
}

VError VString::ReadFromStream(VStream* stream, int32) {
    int32 header = 0;
    if (stream->GetLong(header) != VE_OK) return stream->GetLastError();

    // No string has the length INT32_MIN. A length beyond the data reads what is there (the stream then ends
    // with end of data); the chunked reader never sizes a buffer by the claimed length.
    if (header == INT32_MIN) {
        Clear();
        return SetStreamCorrupted(stream);
    }
    if (header > 0) return _ReadOldStreamForm(stream, header);

    Clear();
    if (header < 0 && ReadUnits(stream, *this, -int64(header)) < 0) Clear();
    return stream->GetLastError();
}

VError VString::_ReadOldStreamForm(VStream* stream, int32 n) {
    int32 kind = 0;
    if (stream->GetLong(kind) != VE_OK) return stream->GetLastError();
    if (kind != 1 && kind != 2) {
        stream->SetPosByOffset(int64(n) + 1);
        return stream->GetLastError();
    }
    Clear();
    int64 read = ReadUnits(stream, *this, n);
    if (read < 0) {
        Clear();
        stream->SetPosByOffset(int64(n) * 2 + 2);
        return stream->GetLastError();
    }
    UniChar terminator = 0;
    int32 one = 1;
    if (stream->GetLastError() == VE_OK) stream->GetWords(&terminator, &one);
    return stream->GetLastError();
}

} // namespace vela
